#include "AtomicField.h"
#include "TestContext.h"
#include "CLogger.h"
#include "CTest_Math.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(MathThrottle, ParametersAt2000MHzUnknownClocksAndPauses)
{
    struct {
        int duty, loops, sleepMs;
    } cases[] = { // The worked examples, then both edges of every band.
        { 50, 2400000, 156 }, { 93, 3600000, 8 }, { 96, 8000000, 14 }, { 100, 12000000, 0 }, { 5, 800000, 348 },
        { 99, 12000000, 3 }, { 98, 8000000, 7 }, { 95, 3600000, 6 }, { 92, 3440000, 9 }, { 91, 3440000, 10 },
        { 90, 3440000, 23 }, { 86, 3440000, 32 }, { 85, 3200000, 34 }, { 81, 3200000, 44 }, { 80, 2400000, 46 },
        { 76, 2400000, 55 }, { 75, 2400000, 66 }, { 61, 2400000, 103 }, { 60, 2400000, 114 }, { 51, 2400000, 140 },
        { 36, 2400000, 200 }, { 35, 2400000, 216 }, { 31, 2400000, 229 }, { 30, 1600000, 233 }, { 13, 1600000, 289 },
        { 12, 1600000, 305 }, { 11, 1600000, 308 }, { 10, 800000, 311 }, { 6, 800000, 325 }, { 1, 800000, 362 }
    };
    for (auto c : cases) {
        const MathThrottle t = MathThrottleFor(c.duty, 2000.0f);
        EXPECT_EQ(std::tuple(t.numLoops, t.sleepMs, t.delayMs), std::tuple(c.loops, c.sleepMs, 100 - c.duty)) << c.duty;
    }
    for (float mhz : { 0.0f, -5.0f, 0.5f, kNaN, kInf }) // counts as 1000 MHz
        EXPECT_EQ(
            std::pair(MathThrottleFor(100, mhz).numLoops, MathThrottleFor(50, mhz).sleepMs), std::pair(6000000, 78));
    EXPECT_EQ(MathThrottleFor(100, 1e9f).numLoops, INT_MAX) << "saturates, never wraps negative";
    EXPECT_EQ(MathThrottleFor(0, 2000.0f).numLoops, 800000) << "duty 0 is duty 1";

    // The pause after add, sub, mul of either type; never after division.
    struct {
        int duty, add, sub, mul;
    } pauses[] = { { 1, 99, 99, 99 }, { 70, 30, 30, 30 }, { 71, 0, 29, 29 }, { 80, 0, 20, 20 }, { 81, 0, 0, 19 },
        { 90, 0, 0, 10 }, { 91, 0, 0, 0 }, { 100, 0, 0, 0 } };
    for (auto c : pauses)
        for (int op = 0; op < kNumMathOps; ++op)
            EXPECT_EQ(MathPauseAfter(op, c.duty), (std::array { c.add, c.sub, c.mul, 0 }[op % 4]))
                << c.duty << "/" << op;
}

TEST(MathOperands, PositiveOperandsAndPointsInsideTheWindow)
{
    const auto ints = SetUpRandomIntArray();
    for (int i = 0; i < kMathArrayLen; ++i)
        ASSERT_TRUE(ints[i] >= 1 && ints[i] <= RAND_MAX) << i << ": " << ints[i];
    // Each float is r1 * 1000 + r2 + r3 / 10000 of three successive values.
    std::srand(11);
    const auto floats = SetUpRandomflArray();
    std::srand(11);
    for (int i = 0; i < kMathArrayLen; ++i) {
        const double r1 = std::rand(), r2 = std::rand(), e = r1 * 1000.0 + r2 + std::rand() / 10000.0;
        ASSERT_NEAR(floats[i], e, std::max(1.0, e * 1e-6)) << i; // single precision
    }

    for (auto [margin, width, height] : { std::tuple { 0, 800, 600 }, { 64, 800, 600 }, { 64, 1280, 1024 } }) {
        const auto a = SetUpRandomPtsArray(margin, width, height);
        int maxX = 0, minY = INT_MAX, maxY = 0;
        for (int i = 0; i < kPointArrayLen / 2 - 2; ++i) {
            const int x = a[2 * i], y = a[2 * i + 1];
            ASSERT_TRUE(x >= 0 && x < width - margin && y >= 20 && y < height - margin) << x << ", " << y;
            maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
        // 9,998 points reach close to every edge; the last two pairs stay (0, 0).
        EXPECT_TRUE(maxX > width - margin - 10 && minY < 30 && maxY > height - margin - 10) << margin;
        EXPECT_EQ(std::vector<int>(a.get() + kPointArrayLen - 4, a.get() + kPointArrayLen), std::vector<int>(4, 0));
    }
    const auto tiny = SetUpRandomPtsArray(64, 50, 40);
    EXPECT_EQ(std::pair(tiny[0], tiny[1]), std::pair(0, 20));
}

// The operand hook: poisons or sets operands, and stops the slot once every
// thread has built its `stopAt`-th array for `stopOp`.
struct MathScript {
    unsigned poisonOps = 0; // bit per MathOp: operand 0 becomes `poison`
    float poison = 0.0f;
    bool fixedOperands = false; // operands 0 and 1 become 7, 3 or 1.5, 2.25
    MathOp stopOp = kMathFloatDiv;
    int stopAt = 0, threads = 1;
    std::atomic<int> arrived { 0 }, runningAtStop { 0 }, testsRunningAtStop { 0 };
    std::atomic<int> builds[64][kNumMathOps] {};
} * gScript;

void scriptHook(int thread, MathOp op, void* operands, int)
{
    MathScript& s = *gScript;
    auto* ints = static_cast<std::int32_t*>(operands);
    auto* floats = static_cast<float*>(operands);
    if (s.poisonOps & (1u << op))
        floats[0] = s.poison;
    if (s.fixedOperands)
        op < kMathFloatAdd ? (ints[0] = 7, ints[1] = 3) : (floats[0] = 1.5f, floats[1] = 2.25f);
    thread_local bool arrived = false;
    if (++s.builds[thread & 63][op] < s.stopAt || op != s.stopOp || s.stopAt == 0 || arrived)
        return;
    arrived = true;
    if (++s.arrived == s.threads) {
        s.runningAtStop = relaxedLoad(TestRun().threadData[kSlotMaths].running);
        s.testsRunningAtStop = TestRun().testsRunning.load();
        TestRun().setSlotActive(kSlotMaths, false);
    }
    for (int i = 0; i < 10000 && TestRun().slotActive(kSlotMaths); ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(TestRun().slotActive(kSlotMaths))
        << "only " << s.arrived << " of " << s.threads << " threads reached the stop";
    TestRun().setSlotActive(kSlotMaths, false);
}

class MathRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(TestRun().threadData, 0, sizeof TestRun().threadData);
        relaxedStore(TestRun().threadActive[kSlotMaths], 0);
        TestRun().testsRunning = error_maths = 0;
        testconfig.duty_cycle[kSlotMaths] = 100;
        testconfig.maths_integer = testconfig.maths_float = 1;
        testconfig.logging_enabled = testconfig.log_detail_level = testconfig.trace_header_written = 1;
        testconfig.trace_level = 4;
        g_fpActivityLog = std::fopen(dir.file("trace.log").c_str(), "w");
        gLogger = new CLogger("dummyStr");
        for (int code : { 1, 3, 4 }) {
            e_classification[code] = kSevSerious;
            std::snprintf(e_strings[code], kErrorTextSize, "Maths error %d", code);
        }
        CTest_Math::SetTimingForTests(20, 0);
        script = std::make_unique<MathScript>();
        gScript = script.get();
        CTest_Math::SetOperandHook(scriptHook);
    }
    void TearDown() override
    {
        CTest_Math::SetOperandHook(nullptr);
        CTest_Math::SetTimingForTests(-1, -1);
        delete gLogger; // closes the trace
        gLogger = nullptr;
        for (int code : { 1, 3, 4 })
            e_classification[code] = 0, e_strings[code][0] = '\0';
    }
    void reset() { TearDown(), SetUp(); }
    std::string trace() { return ReadFile(dir.file("trace.log")); }
    TempDir dir;
    std::unique_ptr<MathScript> script;
};

TEST_F(MathRun, SampleLinesCountsAndRowOfEachRun)
{
    using Run = int (CTest_Math::*)(int);
    const Run runs[kNumMathOps] = { &CTest_Math::test_math_addition, &CTest_Math::test_math_subtraction,
        &CTest_Math::test_math_multiplication, &CTest_Math::test_math_division, &CTest_Math::test_math_fl_addition,
        &CTest_Math::test_math_fl_subtraction, &CTest_Math::test_math_fl_multiplication,
        &CTest_Math::test_math_fl_division };
    const char* verbs[] = { "Adding", "Subtracting", "Multiplying", "Dividing" };
    script->fixedOperands = true;
    TestRun().setSlotActive(kSlotMaths, true);
    CTest_Math engine(TestContext(), kSlotMaths);
    for (int op = 0; op < kNumMathOps; ++op) {
        const std::uint64_t before = resultfile.results[kSlotMaths].op_count;
        ASSERT_EQ((engine.*runs[op])(5), 1);
        const std::uint64_t counted = CTest_Math::mtrTestResults[5][op].load();
        EXPECT_TRUE(counted > 0 && counted % 10 == 0) << op << ": ten operations per pair, " << counted;
        EXPECT_EQ(resultfile.results[kSlotMaths].op_count - before, counted) << op;
        EXPECT_EQ(CTest_Math::TotalOperations(op), counted) << "row 5 only, column " << op;
        // Every sample shows operands 0 and 1, numbered from 0.
        const std::string text = trace();
        const std::string head = std::string(", CPU - Maths, ") + verbs[op % 4]
            + (op < kMathFloatAdd ? " values 7 & 3" : " float values 1.500000 & 2.250000") + " (sample set: ";
        int samples = 0;
        for (auto at = text.find(head); at != std::string::npos; at = text.find(head, at + 1), ++samples)
            EXPECT_EQ(text.substr(at + head.size(), std::to_string(samples).size() + 15),
                std::to_string(samples) + " of 1000000). \n");
        EXPECT_GE(samples, 1) << head << "\n" << text;
    }
    EXPECT_EQ(error_maths.load(), 0);

    // A stop request ends even an endless run, which still counts.
    CTest_Math::SetTimingForTests(INT_MAX, 0);
    std::thread stopper([this] {
        while (script->builds[0][kMathFloatDiv] == 0)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);
        TestRun().setSlotActive(kSlotMaths, false);
    });
    const std::uint64_t before = resultfile.results[kSlotMaths].op_count;
    engine.test_math_fl_division(0);
    stopper.join();
    EXPECT_GT(resultfile.results[kSlotMaths].op_count, before);
}

TEST_F(MathRun, ThreadsSwitchesAndBadFloatResults)
{
    const struct {
        int integer, fl;
        unsigned poisonOps = 0; // operand 0 of these runs becomes `poison`
        float poison = 0;
        int code = 0; // 0: no error
        int threads = 1;
        bool direct = false; // started on records numbered 3 and 6, not by StartMathThreads
        int cutAt = -1; // the third cycle stops before this run; -1: before its first
    } cases[] = {
        { 1, 1, 0, 0, 0, 2 },
        { 1, 1, 0, 0, 0, 2, true },
        { 1, 0 },
        { 0, 1 },
        { 0, 0 }, // both off: idles until stopped
        { 0, 1, 1u << kMathFloatAdd, kNaN, 1 },
        { 0, 1, 1u << kMathFloatSub, kNaN, 1 },
        { 0, 1, 1u << kMathFloatMul, kNaN, 4 },
        { 0, 1, 1u << kMathFloatDiv, kNaN, 3 },
        { 0, 1, 0xF0u, kNaN, 3 }, // the last bad result of the cycle
        { 0, 1, 1u << kMathFloatSub, kInf, 1 }, // inf - inf in the derived value
        { 0, 1, 1u << kMathFloatAdd, kInf, 0 }, // an infinite sum is a number
        // A stop in the middle of a cycle still reports what its runs found.
        { 0, 1, 1u << kMathFloatAdd, kNaN, 1, 1, false, kMathFloatMul },
        { 1, 1, 1u << kMathFloatSub, kNaN, 1, 1, false, kMathFloatDiv },
    };
    for (const auto& c : cases) {
        reset();
        SCOPED_TRACE(::testing::Message() << c.integer << c.fl << " poison " << c.poisonOps << "/" << c.poison << " "
                                          << c.threads << (c.direct ? " direct" : ""));
        testconfig.maths_integer = c.integer;
        testconfig.maths_float = c.fl;
        script->poisonOps = c.poisonOps;
        script->poison = c.poison;
        script->stopOp = c.cutAt >= 0 ? static_cast<MathOp>(c.cutAt) : c.integer ? kMathIntAdd : kMathFloatAdd;
        script->stopAt = 3; // two whole cycles per thread, and the start of a third
        script->threads = c.threads;
        const bool on = c.integer || c.fl;
        std::vector<pthread_t> handles(static_cast<std::size_t>(c.threads));
        TestThreadRecord records[2]
            = { { 0, kSlotMaths, 3, 0, 0, 0, 0, &TestContext() }, { 0, kSlotMaths, 6, 0, 0, 0, 0, &TestContext() } };
        ASSERT_EQ(c.direct ? c.threads : StartMathThreads(TestContext(), c.threads, handles.data()), c.threads);
        for (int i = 0; c.direct && i < c.threads; ++i)
            ASSERT_EQ(pthread_create(&handles[static_cast<std::size_t>(i)], nullptr, Test_Thread_Math, &records[i]), 0);
        // The event log turns the text's newline into a blank.
        const std::string said = std::string(", CPU - Maths, Math Integer Test: ") + (c.integer ? "ON" : "OFF")
            + ", Math Float Test: " + (c.fl ? "ON" : "OFF") + ". \n";
        for (int i = 0; i < 5000 && !on && trace().find(said) == std::string::npos; ++i)
            std::this_thread::sleep_for(1ms);
        if (!on)
            TestRun().setSlotActive(kSlotMaths, false);
        for (pthread_t t : handles)
            pthread_join(t, nullptr);

        const _resultinfo& r = resultfile.results[kSlotMaths];
        // One report for each whole cycle, and one for a cycle cut short.
        const unsigned n = c.code ? (c.cutAt >= 0 ? 3u : 2u) : 0u;
        EXPECT_EQ(std::tuple(r.cycles, r.errors, r.last_error, resultfile.classes[kSlotMaths].serious,
                      gLogger->GetNumberLines()),
            std::tuple(on ? 2u * static_cast<unsigned>(c.threads) : 0u, n, static_cast<unsigned>(c.code), n,
                static_cast<int>(n)));
        const char* line = gLogger->GetLine(-1, nullptr, nullptr);
        const std::string logged = c.code ? ", Maths, Maths error " + std::to_string(c.code) + "\n" : "";
        EXPECT_NE(std::string(line ? line : "").find(logged), std::string::npos);
        // Running counts at the stop and after it, both on the slot's record.
        EXPECT_EQ(std::tuple(script->runningAtStop.load(), script->testsRunningAtStop.load(),
                      relaxedLoad(TestRun().threadData[kSlotMaths].running), TestRun().testsRunning.load()),
            std::tuple(on ? c.threads : 0, on ? c.threads : 0, 0, 0));
        std::uint64_t total = 0;
        for (int op = 0; op < kNumMathOps; ++op)
            total += CTest_Math::TotalOperations(op);
        EXPECT_EQ(total, r.op_count) << "an increment was lost";
        for (int row = 0; row < CTest_Math::kMaxThreads; ++row)
            for (int op = 0; op < kNumMathOps; ++op)
                ASSERT_EQ(CTest_Math::mtrTestResults[row][op].load() > 0,
                    (c.direct ? row == 3 || row == 6 : row < c.threads) && (op < kMathFloatAdd ? c.integer : c.fl))
                    << row << ", " << op;
        const std::string text = trace();
        EXPECT_TRUE(text.find(said) != std::string::npos && text.find("Stopping test") != std::string::npos) << text;
        if (c.code) {
            EXPECT_LT(text.rfind("Maths error"), text.find("Stopping test")) << "reported before the thread ends";
        }
    }
}

} // namespace
