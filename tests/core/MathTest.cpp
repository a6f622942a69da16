#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Math.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(MathThrottle, ParametersAt2000MHz)
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
        EXPECT_EQ(t.numLoops, c.loops) << "duty " << c.duty;
        EXPECT_EQ(t.sleepMs, c.sleepMs) << "duty " << c.duty;
        EXPECT_EQ(t.delayMs, 100 - c.duty) << "duty " << c.duty;
    }
}

TEST(MathThrottle, UnknownOrAbsurdClock)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float mhz : { 0.0f, -5.0f, 0.5f, nan, std::numeric_limits<float>::infinity() }) {
        EXPECT_EQ(MathThrottleFor(100, mhz).numLoops, 6000000) << mhz << " MHz counts as 1000";
        EXPECT_EQ(MathThrottleFor(50, mhz).sleepMs, 78) << mhz;
    }
    EXPECT_EQ(MathThrottleFor(100, 1e9f).numLoops, INT_MAX) << "saturates, never wraps negative";
    EXPECT_EQ(MathThrottleFor(0, 2000.0f).numLoops, 800000) << "duty 0 is duty 1";
}

TEST(MathThrottle, PauseBetweenRuns)
{
    struct {
        int duty, add, sub, mul;
    } cases[] = { { 1, 99, 99, 99 }, { 70, 30, 30, 30 }, { 71, 0, 29, 29 }, { 80, 0, 20, 20 }, { 81, 0, 0, 19 },
        { 90, 0, 0, 10 }, { 91, 0, 0, 0 }, { 100, 0, 0, 0 } };
    for (auto c : cases) {
        for (int type : { 0, 4 }) {
            EXPECT_EQ(MathPauseAfter(type + 0, c.duty), c.add) << c.duty;
            EXPECT_EQ(MathPauseAfter(type + 1, c.duty), c.sub) << c.duty;
            EXPECT_EQ(MathPauseAfter(type + 2, c.duty), c.mul) << c.duty;
            EXPECT_EQ(MathPauseAfter(type + 3, c.duty), 0) << "never after division, duty " << c.duty;
        }
    }
}

TEST(MathOperands, PositiveRandValuesSoNoDivisorIsZero)
{
    const auto ints = SetUpRandomIntArray();
    ASSERT_TRUE(ints);
    for (int i = 0; i < kMathArrayLen; ++i)
        ASSERT_TRUE(ints[i] >= 1 && ints[i] <= RAND_MAX) << i << ": " << ints[i];

    // Each float is r1 * 1000 + r2 + r3 / 10000 of three successive values.
    std::srand(11);
    std::vector<double> expected;
    for (int i = 0; i < kMathArrayLen; ++i) {
        const double r1 = std::rand(), r2 = std::rand(), r3 = std::rand();
        expected.push_back(r1 * 1000.0 + r2 + r3 / 10000.0);
    }
    std::srand(11);
    const auto floats = SetUpRandomflArray();
    ASSERT_TRUE(floats);
    for (int i = 0; i < kMathArrayLen; ++i) {
        const double e = expected[static_cast<std::size_t>(i)];
        ASSERT_GT(floats[i], 0.0f) << i;
        ASSERT_NEAR(floats[i], e, std::max(1.0, e * 1e-6)) << i; // single precision
    }
}

TEST(MathOperands, PointsStayInsideTheWindow)
{
    struct {
        int margin, width, height;
    } cases[] = { { 0, 800, 600 }, { 64, 800, 600 }, { 64, 1280, 1024 } };
    for (auto c : cases) {
        const auto a = SetUpRandomPtsArray(c.margin, c.width, c.height);
        ASSERT_TRUE(a);
        int maxX = 0, minY = INT_MAX, maxY = 0;
        for (int i = 0; i < kPointArrayLen / 2 - 2; ++i) {
            const int x = a[2 * i], y = a[2 * i + 1];
            ASSERT_GE(x, 0);
            ASSERT_LT(x, c.width - c.margin);
            ASSERT_GE(y, 20);
            ASSERT_LT(y, c.height - c.margin);
            maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
        // 9,998 points reach close to every edge.
        EXPECT_GT(maxX, c.width - c.margin - 10) << c.margin;
        EXPECT_LT(minY, 30) << c.margin;
        EXPECT_GT(maxY, c.height - c.margin - 10) << c.margin;
        for (int i = kPointArrayLen - 4; i < kPointArrayLen; ++i)
            EXPECT_EQ(a[i], 0) << "the last two pairs stay (0, 0)";
    }
    const auto tiny = SetUpRandomPtsArray(64, 50, 40);
    ASSERT_TRUE(tiny);
    EXPECT_EQ(tiny[0], 0);
    EXPECT_EQ(tiny[1], 20);
}

// What the operand hook does: poison or set operands, and stop the slot
// once every thread has built its `stopAt`-th array for `stopOp`.
struct MathScript {
    unsigned poisonOps = 0; // bit per MathOp: operand 0 becomes `poison`
    float poison = 0.0f;
    bool fixedOperands = false; // operands 0 and 1 become 7, 3 or 1.5, 2.25
    MathOp stopOp = kMathFloatDiv;
    int stopAt = 0;
    int threads = 1;
    std::atomic<int> arrived { 0 };
    std::atomic<int> builds[64][kNumMathOps] {};
    std::atomic<int> runningAtStop { 0 }, testsRunningAtStop { 0 };
};
MathScript* gScript = nullptr;

void scriptHook(int thread, MathOp op, void* operands, int)
{
    MathScript& s = *gScript;
    if (s.poisonOps & (1u << op))
        static_cast<float*>(operands)[0] = s.poison;
    if (s.fixedOperands && op < kMathFloatAdd)
        static_cast<std::int32_t*>(operands)[0] = 7, static_cast<std::int32_t*>(operands)[1] = 3;
    else if (s.fixedOperands)
        static_cast<float*>(operands)[0] = 1.5f, static_cast<float*>(operands)[1] = 2.25f;
    thread_local bool arrived = false;
    if (++s.builds[thread & 63][op] < s.stopAt || op != s.stopOp || s.stopAt == 0 || arrived)
        return;
    arrived = true;
    if (++s.arrived == s.threads) {
        s.runningAtStop = relaxedLoad(gThreadData[kSlotMaths].running);
        s.testsRunningAtStop = tests_running.load();
        SetSlotActive(kSlotMaths, false);
    }
    // A thread that never arrives fails the test instead of hanging it.
    for (int i = 0; i < 10000 && SlotActive(kSlotMaths); ++i)
        std::this_thread::sleep_for(1ms);
    if (SlotActive(kSlotMaths)) {
        ADD_FAILURE() << "only " << s.arrived << " of " << s.threads << " threads reached the stop";
        SetSlotActive(kSlotMaths, false);
    }
}

class MathRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(gThreadData, 0, sizeof gThreadData);
        relaxedStore(thread_active[kSlotMaths], 0);
        tests_running = 0;
        error_maths = 0;
        testconfig.duty_cycle[kSlotMaths] = 100;
        testconfig.maths_integer = testconfig.maths_float = 1;
        testconfig.logging_enabled = 1;
        testconfig.log_detail_level = 1;
        testconfig.trace_level = 4;
        testconfig.trace_header_written = 1;
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
    // A fresh start for the next case of a table.
    void reset()
    {
        TearDown();
        SetUp();
    }
    std::string trace() { return ReadFile(dir.file("trace.log")); }
    // Runs `count` threads through StartMathThreads until the script stops them.
    void runThreads(int count)
    {
        script->threads = count;
        std::vector<pthread_t> handles(static_cast<std::size_t>(count));
        ASSERT_EQ(StartMathThreads(count, handles.data()), count);
        for (pthread_t t : handles)
            pthread_join(t, nullptr);
    }
    static std::uint64_t rowSum(int row)
    {
        std::uint64_t sum = 0;
        for (auto& c : CTest_Math::mtrTestResults[row])
            sum += c.load();
        return sum;
    }
    TempDir dir;
    std::unique_ptr<MathScript> script;
};

TEST_F(MathRun, SampleLinesCountsAndRowOfEachRun)
{
    using Run = int (CTest_Math::*)(int);
    const struct {
        MathOp op;
        Run run;
        const char* line;
    } cases[] = {
        { kMathIntAdd, &CTest_Math::test_math_addition, "Adding values 7 & 3" },
        { kMathIntSub, &CTest_Math::test_math_subtraction, "Subtracting values 7 & 3" },
        { kMathIntMul, &CTest_Math::test_math_multiplication, "Multiplying values 7 & 3" },
        { kMathIntDiv, &CTest_Math::test_math_division, "Dividing values 7 & 3" },
        { kMathFloatAdd, &CTest_Math::test_math_fl_addition, "Adding float values 1.500000 & 2.250000" },
        { kMathFloatSub, &CTest_Math::test_math_fl_subtraction, "Subtracting float values 1.500000 & 2.250000" },
        { kMathFloatMul, &CTest_Math::test_math_fl_multiplication, "Multiplying float values 1.500000 & 2.250000" },
        { kMathFloatDiv, &CTest_Math::test_math_fl_division, "Dividing float values 1.500000 & 2.250000" },
    };
    script->fixedOperands = true;
    SetSlotActive(kSlotMaths, true);
    CTest_Math engine(kSlotMaths);
    for (const auto& c : cases) {
        const std::uint64_t before = resultfile.results[kSlotMaths].op_count;
        ASSERT_EQ((engine.*c.run)(5), 1);
        const std::uint64_t counted = CTest_Math::mtrTestResults[5][c.op].load();
        EXPECT_GT(counted, 0u) << c.line;
        EXPECT_EQ(counted % 10, 0u) << "ten operations per pair";
        EXPECT_EQ(resultfile.results[kSlotMaths].op_count - before, counted) << c.line;
        EXPECT_EQ(rowSum(5), resultfile.results[kSlotMaths].op_count) << "row 5 only, column " << c.op;
        // Every sample shows operands 0 and 1, numbered from 0.
        const std::string text = trace();
        const std::string head = std::string(", CPU - Maths, ") + c.line + " (sample set: ";
        int samples = 0;
        for (auto at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
            EXPECT_EQ(text.substr(at + head.size(), std::to_string(samples).size() + 15),
                std::to_string(samples) + " of 1000000). \n");
            ++samples;
        }
        EXPECT_GE(samples, 1) << c.line << "\n" << text;
    }
    EXPECT_EQ(error_maths.load(), 0);
}

TEST_F(MathRun, StopRequestEndsALongRunAndItStillCounts)
{
    CTest_Math::SetTimingForTests(INT_MAX, 0);
    SetSlotActive(kSlotMaths, true);
    std::thread stopper([this] {
        while (script->builds[0][kMathFloatDiv] == 0)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);
        SetSlotActive(kSlotMaths, false);
    });
    CTest_Math engine(kSlotMaths);
    engine.test_math_fl_division(0); // would never end without the stop
    stopper.join();
    EXPECT_GT(resultfile.results[kSlotMaths].op_count, 0u);
}

TEST_F(MathRun, TwoThreadsFillRowsZeroAndOneAndCountExactly)
{
    script->stopAt = 3; // two whole cycles per thread
    runThreads(2);
    EXPECT_EQ(script->runningAtStop.load(), 2);
    EXPECT_EQ(script->testsRunningAtStop.load(), 2);
    EXPECT_EQ(resultfile.results[kSlotMaths].cycles, 4u);
    std::uint64_t total = 0;
    for (int row = 0; row < CTest_Math::kMaxThreads; ++row) {
        total += rowSum(row);
        if (row >= 2) {
            ASSERT_EQ(rowSum(row), 0u) << "row " << row;
        }
    }
    for (int row : { 0, 1 })
        for (int op = 0; op < kNumMathOps; ++op)
            EXPECT_GT(CTest_Math::mtrTestResults[row][op].load(), 0u) << row << ", " << op;
    EXPECT_EQ(total, resultfile.results[kSlotMaths].op_count) << "an increment was lost";
    EXPECT_EQ(resultfile.results[kSlotMaths].errors, 0u);
    EXPECT_EQ(relaxedLoad(gThreadData[kSlotMaths].running), 0);
    EXPECT_EQ(tests_running.load(), 0);
}

TEST_F(MathRun, ThreadNumberComesFromEachThreadsOwnRecord)
{
    script->stopAt = 2;
    script->threads = 2;
    TestThreadRecord records[2] = { { 0, kSlotMaths, 3, 0 }, { 0, kSlotMaths, 6, 0 } };
    pthread_t threads[2];
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(pthread_create(&threads[i], nullptr, Test_Thread_Math, &records[i]), 0);
    for (pthread_t t : threads)
        pthread_join(t, nullptr);
    EXPECT_EQ(script->runningAtStop.load(), 2) << "counted on slot 1's record";
    for (int row = 0; row < 8; ++row)
        EXPECT_EQ(rowSum(row) > 0, row == 3 || row == 6) << "row " << row;
    EXPECT_EQ(records[0].running, 0);
    EXPECT_EQ(relaxedLoad(gThreadData[kSlotMaths].running), 0);
}

TEST_F(MathRun, BadFloatResultRaisesTheRunsCodeOncePerCycle)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        unsigned ops;
        float poison;
        int code; // 0: no error
    } cases[] = {
        { 1u << kMathFloatAdd, nan, 1 }, { 1u << kMathFloatSub, nan, 1 }, { 1u << kMathFloatMul, nan, 4 },
        { 1u << kMathFloatDiv, nan, 3 }, { 0xF0u, nan, 3 }, // the last bad result of the cycle
        { 1u << kMathFloatSub, inf, 1 }, // inf - inf in the derived value
        { 1u << kMathFloatAdd, inf, 0 }, // an infinite sum is a number
    };
    for (const auto& c : cases) {
        reset();
        testconfig.maths_integer = 0;
        script->poisonOps = c.ops;
        script->poison = c.poison;
        script->stopAt = 3; // two whole cycles
        runThreads(1);
        const _resultinfo& r = resultfile.results[kSlotMaths];
        EXPECT_EQ(r.cycles, 2u);
        EXPECT_EQ(r.errors, c.code ? 2u : 0u) << "case " << c.ops << "/" << c.poison;
        EXPECT_EQ(r.last_error, static_cast<unsigned>(c.code));
        EXPECT_EQ(resultfile.classes[kSlotMaths].serious, c.code ? 2u : 0u);
        EXPECT_EQ(gLogger->GetNumberLines(), c.code ? 2 : 0);
        if (c.code) {
            const char* line = gLogger->GetLine(-1, nullptr, nullptr);
            ASSERT_NE(line, nullptr);
            EXPECT_NE(
                std::string(line).find(", Maths, Maths error " + std::to_string(c.code) + "\n"), std::string::npos)
                << line;
        }
        EXPECT_EQ(CTest_Math::mtrTestResults[0][kMathIntAdd].load(), 0u) << "integer runs are off";
    }
}

TEST_F(MathRun, SwitchesChooseTheRuns)
{
    const struct {
        int integer, fl;
        MathOp last;
    } cases[] = { { 1, 0, kMathIntDiv }, { 0, 1, kMathFloatDiv } };
    for (const auto& c : cases) {
        reset();
        testconfig.maths_integer = c.integer;
        testconfig.maths_float = c.fl;
        script->stopOp = c.last;
        script->stopAt = 2;
        runThreads(1);
        EXPECT_EQ(resultfile.results[kSlotMaths].cycles, 1u);
        for (int op = 0; op < kNumMathOps; ++op)
            EXPECT_EQ(CTest_Math::mtrTestResults[0][op].load() > 0, (op < kMathFloatAdd ? c.integer : c.fl) != 0)
                << "op " << op;
        // The event log turns the text's newline into a blank.
        const std::string on = c.integer ? "Math Integer Test: ON, Math Float Test: OFF. \n"
                                         : "Math Integer Test: OFF, Math Float Test: ON. \n";
        EXPECT_NE(trace().find(", CPU - Maths, " + on), std::string::npos);
    }
}

TEST_F(MathRun, BothSwitchesOffIdlesUntilStopped)
{
    testconfig.maths_integer = testconfig.maths_float = 0;
    pthread_t t;
    ASSERT_EQ(StartMathThreads(1, &t), 1);
    const std::string off = ", CPU - Maths, Math Integer Test: OFF, Math Float Test: OFF. \n";
    for (int i = 0; i < 5000 && trace().find(off) == std::string::npos; ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_NE(trace().find(off), std::string::npos);
    SetSlotActive(kSlotMaths, false);
    pthread_join(t, nullptr);
    EXPECT_EQ(resultfile.results[kSlotMaths].cycles, 0u);
    EXPECT_EQ(resultfile.results[kSlotMaths].op_count, 0u);
    EXPECT_NE(trace().find("Stopping test"), std::string::npos);
}

} // namespace
