#include "AtomicField.h"
#include "TestContext.h"
#include "CLogger.h"
#include "ErrorClassification.h"
#include "NullEngine.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Startup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

using namespace std::chrono_literals;

class ThreadProtocol : public ::testing::Test {
protected:
    static constexpr int kSlot = kSlotMemory;

    void SetUp() override
    {
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(gThreadData, 0, sizeof gThreadData);
        for (auto& a : thread_active)
            relaxedStore(a, 0);
        tests_running = 0;
        gNullScript.startWaitMs = 0;
        gNullScript.cyclesToRun = -1;
        gNullScript.opsPerCycle = 1;
        gNullScript.errorCode = 0;
        gNullScript.delayMs = 0;
        gNullScript.lastWaitMs = -1;
        gLogger = new CLogger("dummyStr");
    }
    void TearDown() override
    {
        delete gLogger;
        gLogger = nullptr;
    }

    void start(int slot, int count = 1)
    {
        gThreadData[slot].test_id = slot;
        gThreadData[slot].context = &TestContext();
        for (int i = 0; i < count; ++i) {
            pthread_t t;
            ASSERT_EQ(pthread_create(&t, nullptr, Test_Thread_Null, &gThreadData[slot]), 0);
            threads.push_back(t);
        }
    }
    // The GUI's side of a stop: clear the flag, poll `running`.
    bool stopAndWait(int slot, std::chrono::milliseconds limit = 5s)
    {
        SetSlotActive(slot, false);
        return waitFor([&] { return relaxedLoad(gThreadData[slot].running) == 0; }, limit);
    }
    template <class Pred> static bool waitFor(Pred p, std::chrono::milliseconds limit = 5s)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!p()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }
    void joinAll()
    {
        for (pthread_t t : threads)
            pthread_join(t, nullptr);
        threads.clear();
    }
    std::vector<pthread_t> threads;
};

TEST_F(ThreadProtocol, EngineRunsCountsAndStopsOnRequest)
{
    start(kSlot);
    ASSERT_TRUE(waitFor([] { return relaxedLoad(resultfile.results[kSlot].cycles) >= 3; }));
    EXPECT_EQ(relaxedLoad(gThreadData[kSlot].running), 1);
    EXPECT_EQ(tests_running.load(), 1);
    EXPECT_TRUE(SlotActive(kSlot));

    ASSERT_TRUE(stopAndWait(kSlot));
    joinAll();
    EXPECT_EQ(tests_running.load(), 0);
    EXPECT_FALSE(SlotActive(kSlot));
    const auto cycles = resultfile.results[kSlot].cycles;
    // The cycle in hand when the stop came did its work but is not counted.
    const auto ops = resultfile.results[kSlot].op_count;
    EXPECT_TRUE(ops == cycles || ops == cycles + 1ull) << ops << " operations, " << cycles << " cycles";
    EXPECT_GT(gTestModules[kSlot].stop_time.tv_sec, 0);

    // The event log saw both ends of the test, at the activity level.
    EXPECT_EQ(gLogger->GetNumberLines(), 0) << "start and stop lines are level 3, not ring lines";
}

TEST_F(ThreadProtocol, LongDelayEndsSoonAfterTheStopRequest)
{
    gNullScript.delayMs = 5000;
    start(kSlot);
    ASSERT_TRUE(waitFor([] { return relaxedLoad(resultfile.results[kSlot].op_count) >= 1; }));
    std::this_thread::sleep_for(200ms);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(stopAndWait(kSlot, 3s)) << "WaitMsecs(5000) did not see the stop";
    joinAll();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_GE(gNullScript.lastWaitMs.load(), 200);
    EXPECT_LT(gNullScript.lastWaitMs.load(), 3000);
    EXPECT_EQ(resultfile.results[kSlot].cycles, 0u) << "an interrupted cycle is not counted";
}

TEST_F(ThreadProtocol, FourThreadsOnOneSlotCountExactly)
{
    constexpr int kCycles = 20000;
    e_classification[17] = kSevCritical;
    std::strcpy(e_strings[17], "Disk verify error");
    gNullScript.cyclesToRun = kCycles;
    gNullScript.opsPerCycle = 3;
    gNullScript.errorCode = 17;
    start(kSlotMaths, 4);
    joinAll();
    EXPECT_EQ(resultfile.results[kSlotMaths].cycles, 4u * kCycles);
    EXPECT_EQ(resultfile.results[kSlotMaths].op_count, 4ull * 3 * kCycles);
    EXPECT_EQ(resultfile.results[kSlotMaths].errors, 4u * kCycles);
    EXPECT_EQ(resultfile.classes[kSlotMaths].critical, 4u * kCycles);
    EXPECT_EQ(resultfile.error_occurrences[17], 4 * kCycles);
    EXPECT_EQ(relaxedLoad(gThreadData[kSlotMaths].running), 0);
    EXPECT_EQ(tests_running.load(), 0);
    e_classification[17] = 0;
    e_strings[17][0] = '\0';
}

TEST_F(ThreadProtocol, RunningCountsEveryThreadOfASharedSlot)
{
    start(kSlotMaths, 4);
    ASSERT_TRUE(waitFor([] { return tests_running.load() == 4; }));
    EXPECT_EQ(relaxedLoad(gThreadData[kSlotMaths].running), 4);
    ASSERT_TRUE(stopAndWait(kSlotMaths));
    joinAll();
    EXPECT_EQ(tests_running.load(), 0);
}

TEST_F(ThreadProtocol, TestThatEndsByItselfHandsTheSlotBack)
{
    gNullScript.cyclesToRun = 5;
    start(kSlot);
    joinAll();
    EXPECT_EQ(resultfile.results[kSlot].cycles, 5u);
    EXPECT_FALSE(SlotActive(kSlot));
    EXPECT_EQ(relaxedLoad(gThreadData[kSlot].running), 0);
    EXPECT_EQ(tests_running.load(), 0);
}

TEST(ThreadWaits, SliceArithmetic)
{
    // A request of 250 ms with a 100 ms slice sleeps three whole slices.
    relaxedStore(thread_active[kSlotMemory], 1);
    gNullScript.delayMs = 0;
    NullEngine e(TestContext(), kSlotMemory, 100);
    auto t0 = std::chrono::steady_clock::now();
    e.WaitMsecs(250);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 290ms);
    t0 = std::chrono::steady_clock::now();
    e.WaitMsecs(0);
    e.WaitMsecs(-5);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 50ms);
    // With the slot stopped a wait still sleeps its first slice, no more.
    relaxedStore(thread_active[kSlotMemory], 0);
    t0 = std::chrono::steady_clock::now();
    e.WaitMsecs(10000);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

TEST(ThreadWaits, DutyCycleDelay)
{
    struct {
        int duty, ms;
    } cases[] = { { 100, 0 }, { 50, 500 }, { 10, 4500 }, { 1, 49500 }, { 0, 49500 }, { -3, 49500 }, { 200, 0 },
        { 33, 1015 } };
    for (auto c : cases)
        EXPECT_EQ(CTest_Base::DutyDelayMs(c.duty), c.ms) << c.duty;
}

} // namespace
