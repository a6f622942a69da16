#include "AtomicField.h"
#include "CLogger.h"
#include "ErrorClassification.h"
#include "NullEngine.h"
#include "ProcessRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace {

using namespace std::chrono_literals;

template <class Pred> bool waitFor(Pred p, std::chrono::milliseconds limit = 5s)
{
    for (const auto end = std::chrono::steady_clock::now() + limit; !p(); std::this_thread::sleep_for(2ms))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

// Null engine threads started on a run of the test's own, as a tool starts
// them: on the slot's record, outside a run's generations.
class ThreadProtocol : public ::testing::Test {
protected:
    static constexpr int kSlot = kSlotMemory;
    ProcessRun p;
    ::Run& run = p.run;
    std::vector<pthread_t> threads;

    void SetUp() override
    {
        std::memset(&resultfile, 0, sizeof resultfile);
        ResetNullScript();
        gLogger = new CLogger("dummyStr");
    }
    void TearDown() override { delete gLogger, gLogger = nullptr; }
    void start(int slot, int count = 1)
    {
        run.threadData[slot].test_id = slot;
        run.threadData[slot].context = &p.ctx;
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(pthread_create(&threads.emplace_back(), nullptr, Test_Thread_Null, &run.threadData[slot]), 0);
    }
    // The GUI's side of a stop: clear the flag, poll `running`; then join.
    bool stop(int slot, std::chrono::milliseconds limit = 5s)
    {
        run.setSlotActive(slot, false);
        const bool stopped = waitFor([&] { return acquireLoad(run.threadData[slot].running) == 0; }, limit);
        join();
        return stopped;
    }
    void join()
    {
        for (pthread_t t : std::exchange(threads, {}))
            pthread_join(t, nullptr);
    }
    auto counts(int slot) { return std::tuple(relaxedLoad(run.threadData[slot].running), run.testsRunning.load()); }
};

TEST_F(ThreadProtocol, EngineRunsCountsAndStopsOnRequest)
{
    start(kSlot);
    ASSERT_TRUE(waitFor([] { return relaxedLoad(resultfile.results[kSlot].cycles) >= 3; }));
    EXPECT_EQ(counts(kSlot), std::tuple(1, 1));
    EXPECT_TRUE(run.slotActive(kSlot));
    ASSERT_TRUE(stop(kSlot));
    EXPECT_EQ(counts(kSlot), std::tuple(0, 0));
    EXPECT_FALSE(run.slotActive(kSlot));
    // The cycle in hand when the stop came did its work but is not counted.
    const auto cycles = resultfile.results[kSlot].cycles;
    const auto ops = resultfile.results[kSlot].op_count;
    EXPECT_TRUE(ops == cycles || ops == cycles + 1ull) << ops << " operations, " << cycles << " cycles";
    EXPECT_GT(run.modules[kSlot].stop_time.tv_sec, 0);
    EXPECT_EQ(gLogger->GetNumberLines(), 0) << "start and stop lines are level 3, not ring lines";
}

TEST_F(ThreadProtocol, LongDelayEndsSoonAfterTheStopRequest)
{
    gNullScript.delayMs = 5000;
    start(kSlot);
    ASSERT_TRUE(waitFor([] { return relaxedLoad(resultfile.results[kSlot].op_count) >= 1; }));
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(stop(kSlot, 3s)) << "WaitMsecs(5000) did not see the stop";
    EXPECT_GE(gNullScript.lastWaitMs.load(), 200);
    EXPECT_LT(gNullScript.lastWaitMs.load(), 3000);
    EXPECT_EQ(resultfile.results[kSlot].cycles, 0u) << "an interrupted cycle is not counted";
}

TEST_F(ThreadProtocol, FourThreadsOnOneSlotCountEachThreadAndEveryIncrement)
{
    start(kSlotMaths, 4);
    ASSERT_TRUE(waitFor([&] { return run.testsRunning.load() == 4; }));
    EXPECT_EQ(counts(kSlotMaths), std::tuple(4, 4));
    ASSERT_TRUE(stop(kSlotMaths));
    EXPECT_EQ(counts(kSlotMaths), std::tuple(0, 0));

    // Tests that end by themselves hand the slot back too.
    std::memset(&resultfile, 0, sizeof resultfile);
    constexpr unsigned kCycles = 20000;
    e_classification[17] = kSevCritical;
    std::strcpy(e_strings[17], "Disk verify error");
    gNullScript.cyclesToRun = kCycles;
    gNullScript.opsPerCycle = 3;
    gNullScript.errorCode = 17;
    start(kSlotMaths, 4);
    join();
    e_classification[17] = 0, e_strings[17][0] = '\0';
    const _resultinfo& r = resultfile.results[kSlotMaths];
    EXPECT_EQ(std::tuple(r.cycles, r.op_count, r.errors, resultfile.classes[kSlotMaths].critical,
                  resultfile.error_occurrences[17]),
        std::tuple(4 * kCycles, 4ull * 3 * kCycles, 4 * kCycles, 4 * kCycles, 4 * static_cast<int>(kCycles)));
    EXPECT_EQ(counts(kSlotMaths), std::tuple(0, 0));
}

TEST_F(ThreadProtocol, WaitsSleepWholeSlices)
{
    struct Idle : CTest_Base {
        using CTest_Base::CTest_Base;
        void test_entry(int) override { }
    } e(p.ctx, kSlot, 100);
    // A request of 250 ms with a 100 ms slice sleeps three whole slices.
    run.setSlotActive(kSlot, true);
    auto t0 = std::chrono::steady_clock::now();
    e.WaitMsecs(250);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 290ms);
    t0 = std::chrono::steady_clock::now();
    e.WaitMsecs(0), e.WaitMsecs(-5);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 50ms);
}

TEST(ThreadWaits, DutyCycleDelay)
{
    const std::pair<int, int> cases[] = { { 100, 0 }, { 50, 500 }, { 10, 4500 }, { 1, 49500 }, { 0, 49500 },
        { -3, 49500 }, { 200, 0 }, { 33, 1015 } };
    for (auto [duty, ms] : cases)
        EXPECT_EQ(CTest_Base::DutyDelayMs(duty), ms) << duty;
}

} // namespace
