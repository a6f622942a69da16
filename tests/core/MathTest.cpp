#include "CTest_Math.h"
#include "EngineFixture.h"
#include "ProcessRun.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <limits>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Work in pieces of any size is paced to the duty cycle: the pauses come to
// work x (100 - duty) / duty, none at 100 (where the clock is not even
// read); an oversleep is taken off the next pause, and the engine's own
// rests count as pause.
TEST(DutyPacer, PausesAreSizedByTheWorksMeasuredTime)
{
    for (int duty : { 1, 25, 50, 75, 100 }) {
        for (double piece : { 0.05, 3.0, 700.0 }) {
            for (int oversleep : { 0, 4 }) {
                double now = 0, paused = 0, work = 0;
                int reads = 0;
                DutyPacer pacer(duty, [&] { return ++reads, now; });
                reads = 0;
                for (int i = 0; work < 30000; ++i) {
                    now += piece;
                    work += piece;
                    auto sleep = [&](int ms) { now += ms + oversleep, paused += ms + oversleep; };
                    // Now and then a pause of the engine's own, well within what is owed.
                    if (piece > 100 && i % 5 == 4)
                        pacer.rest(40, sleep);
                    else
                        pacer.pace(sleep);
                }
                SCOPED_TRACE(std::to_string(duty) + "% pieces of " + std::to_string(piece) + " ms, oversleep "
                    + std::to_string(oversleep));
                const double owed = work * (100 - duty) / duty;
                if (duty == 100) {
                    EXPECT_EQ(reads, 0);
                    continue;
                }
                EXPECT_NEAR(paused, owed, DutyPacer::kQuantumMs + piece * (100 - duty) / duty + owed * 0.002);
            }
        }
    }
    // A start wait or an allocation before restart() is owed nothing.
    double now = 0;
    DutyPacer pacer(50, [&] { return now; });
    now += 5000;
    pacer.restart();
    now += 60;
    EXPECT_EQ(pacer.pace([&](int ms) { now += ms; }), 60);

    // The design's pauses after each operation run, on top of the pacing.
    std::vector<int> pauses;
    for (int duty : { 70, 71, 90, 91 })
        for (int op = 0; op < kNumMathOps; ++op)
            pauses.push_back(MathPauseAfter(op, duty));
    EXPECT_EQ(pauses,
        (std::vector<int> { 30, 30, 30, 0, 30, 30, 30, 0, 0, 29, 29, 0, 0, 29, 29, 0, 0, 0, 10, 0, 0, 0, 10, 0, 0, 0, 0,
            0, 0, 0, 0, 0 }));
}

TEST(MathOperands, PositiveOperands)
{
    const auto ints = SetUpRandomIntArray();
    EXPECT_TRUE(std::all_of(ints.get(), ints.get() + kMathArrayLen, [](int v) { return v >= 1 && v <= RAND_MAX; }));
    // Each float is r1 * 1000 + r2 + r3 / 10000 of three successive values.
    std::srand(11);
    const auto floats = SetUpRandomflArray();
    std::srand(11);
    for (int i = 0; i < kMathArrayLen; ++i) {
        const double r1 = std::rand(), r2 = std::rand(), e = r1 * 1000.0 + r2 + std::rand() / 10000.0;
        ASSERT_NEAR(floats[i], e, std::max(1.0, e * 1e-6)) << i; // single precision
    }
}

// 20 ms runs on fixed operands, some poisoned; stops once every thread built `stopAt` of `stopOp`.
class MathRun : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        testconfig.duty_cycle[kSlotMaths] = 100;
        process = std::make_unique<ProcessRun>(), s = std::make_unique<Script>();
        setRunMs(20);
    }
    void reset() { TearDown(), SetUp(); }
    void setRunMs(int ms)
    {
        process->ctx.setSettings(MathSettings { ms, 0, [this](int t, MathOp op, void* v, int) { hook(t, op, v); } });
    }
    void hook(int thread, MathOp op, void* operands)
    {
        auto* ints = static_cast<std::int32_t*>(operands);
        auto* floats = static_cast<float*>(operands);
        op < kMathFloatAdd ? (ints[0] = 7, ints[1] = 3) : (floats[0] = 1.5f, floats[1] = 2.25f);
        if (s->poisonOps & (1u << op))
            floats[0] = s->poison;
        thread_local const Script* arrived = nullptr;
        if (++s->builds[thread & 63][op] < s->stopAt || op != s->stopOp || arrived == s.get())
            return;
        arrived = s.get();
        if (++s->arrived == s->threads) {
            s->runningAtStop = relaxedLoad(process->run.threadData[kSlotMaths].running),
            s->testsAtStop = process->run.testsRunning.load();
            process->run.setSlotActive(kSlotMaths, false);
        }
        for (int i = 0; i < 10000 && process->run.slotActive(kSlotMaths); ++i)
            std::this_thread::sleep_for(1ms);
        EXPECT_FALSE(process->run.slotActive(kSlotMaths))
            << "only " << s->arrived << " of " << s->threads << " reached the stop";
    }
    MathLive& live() { return process->run.live<MathLive>(kSlotMaths); }

    struct Script {
        unsigned poisonOps = 0;
        float poison = 0.0f;
        MathOp stopOp = kMathFloatDiv;
        int stopAt = INT_MAX, threads = 1;
        std::atomic<int> arrived { 0 }, runningAtStop { 0 }, testsAtStop { 0 };
        std::atomic<int> builds[64][kNumMathOps] {};
    };
    std::unique_ptr<ProcessRun> process;
    std::unique_ptr<Script> s;
};

TEST_F(MathRun, StopEndsEvenAnEndlessRunWhichStillCounts)
{
    setRunMs(INT_MAX);
    process->run.setSlotActive(kSlotMaths, true);
    CTest_Math engine(process->ctx, kSlotMaths);
    std::thread stopper([this] {
        while (s->builds[5][kMathFloatDiv] == 0)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);
        process->run.setSlotActive(kSlotMaths, false);
    });
    EXPECT_EQ(engine.test_math_fl_division(5), 1);
    stopper.join();
    const std::uint64_t n = live().mtrTestResults[5][kMathFloatDiv];
    EXPECT_TRUE(n > 0 && n % 10 == 0) << "ten operations per pair, " << n;
    EXPECT_EQ(
        std::pair(resultfile.results[kSlotMaths].op_count, live().TotalOperations(kMathFloatDiv)), std::pair(n, n));
    CTest_Math second(process->ctx, kSlotMaths); // another thread's, while this one is alive
    EXPECT_EQ(live().TotalOperations(kMathFloatDiv), n) << "a later engine of the run keeps the counts";
}

TEST_F(MathRun, ThreadsSwitchesAndBadFloatResults)
{
    // `direct`: threads on records 3 and 6; `cutAt`: the third cycle stops before this op.
    const struct {
        int integer, fl;
        unsigned poisonOps = 0;
        float poison = 0;
        int code = 0, threads = 1;
        bool direct = false;
        int cutAt = -1;
    } cases[] = { { 1, 1, 0, 0, 0, 2 }, { 1, 1, 0, 0, 0, 2, true }, { 1, 0 }, { 0, 0 },
        { 0, 1, 1u << kMathFloatAdd, kNaN, kMathErrorAddSub }, { 0, 1, 1u << kMathFloatSub, kNaN, kMathErrorAddSub },
        { 0, 1, 1u << kMathFloatMul, kNaN, kMathErrorMul }, { 0, 1, 1u << kMathFloatDiv, kNaN, kMathErrorDiv },
        { 0, 1, 0xF0u, kNaN, kMathErrorDiv }, { 0, 1, 1u << kMathFloatSub, kInf, 1 },
        { 0, 1, 1u << kMathFloatAdd, kInf, 0 }, { 0, 1, 1u << kMathFloatAdd, kNaN, 1, 1, false, kMathFloatMul },
        { 1, 1, 1u << kMathFloatSub, kNaN, 1, 1, false, kMathFloatDiv } };
    for (const auto& c : cases) {
        reset();
        SCOPED_TRACE(::testing::Message() << c.integer << c.fl << " poison " << c.poisonOps << "/" << c.poison << " "
                                          << c.threads << (c.direct ? " direct" : ""));
        testconfig.maths_integer = c.integer;
        testconfig.maths_float = c.fl;
        s->poisonOps = c.poisonOps, s->poison = c.poison, s->threads = c.threads;
        s->stopOp = c.cutAt >= 0 ? static_cast<MathOp>(c.cutAt) : c.integer ? kMathIntAdd : kMathFloatAdd;
        s->stopAt = 3; // two whole cycles per thread, and the start of a third
        const bool on = c.integer || c.fl;
        std::vector<pthread_t> handles(static_cast<std::size_t>(c.threads));
        TestThreadRecord records[2]
            = { { 0, kSlotMaths, 3, 0, 0, 0, 0, &process->ctx }, { 0, kSlotMaths, 6, 0, 0, 0, 0, &process->ctx } };
        ASSERT_EQ(c.direct ? c.threads : StartMathThreads(process->ctx, c.threads, handles.data()), c.threads);
        for (int i = 0; c.direct && i < c.threads; ++i)
            ASSERT_EQ(pthread_create(&handles[static_cast<std::size_t>(i)], nullptr, Test_Thread_Math, &records[i]), 0);
        // The event log turns the text's newline into a blank.
        const std::string said = std::string(", CPU - Maths, Math Integer Test: ") + (c.integer ? "ON" : "OFF")
            + ", Math Float Test: " + (c.fl ? "ON" : "OFF") + ". \n";
        for (int i = 0; i < 5000 && !on && trace().find(said) == std::string::npos; ++i)
            std::this_thread::sleep_for(1ms);
        if (!on)
            process->run.setSlotActive(kSlotMaths, false);
        for (pthread_t t : handles)
            pthread_join(t, nullptr);

        const _resultinfo& r = resultfile.results[kSlotMaths];
        // One report for each whole cycle, and one for a cycle cut short.
        const unsigned n = c.code ? (c.cutAt >= 0 ? 3u : 2u) : 0u;
        EXPECT_EQ(std::tuple(r.cycles, r.errors, r.last_error, resultfile.classes[kSlotMaths].critical,
                      gLogger->GetNumberLines()),
            std::tuple(on ? 2u * static_cast<unsigned>(c.threads) : 0u, n, static_cast<unsigned>(c.code), n,
                static_cast<int>(n)));
        const char* line = gLogger->GetLine(-1, nullptr, nullptr);
        const std::string logged = c.code ? std::string(", Maths, ") + e_strings[c.code] + "\n" : "";
        EXPECT_NE(std::string(line ? line : "").find(logged), std::string::npos);
        // Running counts at the stop and after it, both on the slot's record.
        EXPECT_EQ(std::tuple(s->runningAtStop.load(), s->testsAtStop.load(),
                      relaxedLoad(process->run.threadData[kSlotMaths].running), process->run.testsRunning.load()),
            std::tuple(on ? c.threads : 0, on ? c.threads : 0, 0, 0));
        std::uint64_t total = 0;
        for (int op = 0; op < kNumMathOps; ++op)
            total += live().TotalOperations(op);
        EXPECT_EQ(total, r.op_count) << "an increment was lost";
        for (int row = 0; row < CTest_Math::kMaxThreads; ++row)
            for (int op = 0; op < kNumMathOps; ++op)
                ASSERT_EQ(live().mtrTestResults[row][op].load() > 0,
                    (c.direct ? row == 3 || row == 6 : row < c.threads) && (op < kMathFloatAdd ? c.integer : c.fl))
                    << row << ", " << op;
        const std::string text = trace();
        EXPECT_TRUE(text.find(said) != std::string::npos && text.find("Stopping test") != std::string::npos) << text;
        EXPECT_TRUE(!c.code || text.rfind(", Maths, CPU float") < text.find("Stopping test"))
            << "reported before the end";
    }
}

} // namespace
