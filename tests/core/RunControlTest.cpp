#include "TestContext.h"
#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Math.h"
#include "ErrorClassification.h"
#include "NullEngine.h"
#include "ProcessRun.h"
#include "ResultRecord.h"
#include "RunControl.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TempDir.h"
#include "TestSlots.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

template <class Pred> bool waitFor(Pred p, std::chrono::milliseconds limit = 5s)
{
    for (const auto end = std::chrono::steady_clock::now() + limit; !p(); std::this_thread::sleep_for(2ms))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

struct RecordingObserver : RunObserver {
    std::vector<int> windows, started, deleted;
    std::vector<std::pair<std::string, int>> closing;
    int stopTimes = 0;
    bool openGLAvailable() override { return true; }
    void createWindow(int slot) override { windows.push_back(slot); }
    void testStarted(int slot, bool) override { started.push_back(slot); }
    void processEvents() override { }
    void closingProgress(const std::string& text, int percent) override { closing.emplace_back(text, percent); }
    void stopTimeSet() override { ++stopTimes; }
    void deleteWindow(int slot) override { deleted.push_back(slot); }
};

// Runs of the test's own: the maths, memory and network slots run the null
// engine. The run is never freed, as the program's: a thread a stop
// abandons may outlive a test.
class RunControl : public ::testing::Test {
protected:
    TempDir dir;
    RecordingSink sink;
    RecordingObserver observer;
    RunContext& ctx = context();
    ::Run& run = ctx.run;

    static RunContext& context()
    {
        static ProcessRun* const p = [] {
            auto* made = new ProcessRun;
            for (int slot : { kSlotMaths, kSlotMemory, kSlotNetworkFirst })
                made->ctx.setEntry(*EngineFor(slot), Test_Thread_Null);
            return made;
        }();
        return p->ctx;
    }
    void SetUp() override
    {
        std::snprintf(dirname, sizeof dirname, "%s", dir.path().c_str());
        ctx.programDir = dir.path();
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        std::memset(gMultimediaStructPtr, 0, sizeof gMultimediaStructPtr);
        testconfig.log_detail_level = 1;
        ResetNullScript();
        gLogger = new CLogger("dummyStr");
    }
    void TearDown() override
    {
        // Let any thread left behind by a test finish before the next starts.
        for (int i = 0; i < 600 && AnyTestThreadAlive(run); ++i)
            std::this_thread::sleep_for(10ms);
        delete gLogger;
        gLogger = nullptr;
    }
    void selectMemoryAndNetwork()
    {
        for (int slot : { kSlotMemory, kSlotNetworkFirst, kSlotNetworkGroup })
            testconfig.test_enabled[slot] = 1;
        std::strcpy(testconfig.network_address[0], "127.0.0.1");
    }
    static std::uint32_t cycles(int slot) { return relaxedLoad(resultfile.results[slot].cycles); }
    static std::uint64_t ops(int slot) { return relaxedLoad<std::uint64_t>(resultfile.results[slot].op_count); }
};

TEST_F(RunControl, RunStartsCountsAndStopsInSlotOrder)
{
    EXPECT_EQ(StartRun(ctx, observer), 0) << "nothing selected starts nothing";
    EXPECT_EQ(std::tuple(run.stopAllTests, resultfile.run_start_time, observer.started.size()), std::tuple(0, 0, 0u));
    StopRun(ctx, observer, true, 0);
    EXPECT_EQ(std::tuple(run.stopAllTests, observer.stopTimes), std::tuple(1, 0));

    selectMemoryAndNetwork();
    testconfig.test_enabled[2] = 1; // selected, no engine
    resultfile.results[kSlotMemory].cycles = 99; // the previous run's
    resultfile.accum_results[kSlotMemory].cycles = 50;
    EXPECT_EQ(StartRun(ctx, observer), 3);
    EXPECT_EQ(observer.started, (std::vector<int> { kSlotMemory, kSlotNetworkFirst }));
    EXPECT_EQ(observer.windows, observer.started);
    EXPECT_GT(resultfile.run_start_time, 0);
    EXPECT_EQ(resultfile.accum_results[kSlotMemory].cycles, 0u) << "not the accumulate mode";
    ASSERT_TRUE(waitFor([] { return cycles(kSlotNetworkFirst) >= 3 && cycles(kSlotMemory) >= 1; }));
    ASSERT_LT(cycles(kSlotMemory), 99u * 1000000) << "current results start from zero";

    StopRun(ctx, observer, false, 3);
    EXPECT_FALSE(AnyTestThreadAlive(run));
    EXPECT_EQ(observer.closing,
        (std::vector<std::pair<std::string, int>> { { "Closing CPU - MMX / SSE", 33 }, { "Closing Memory (RAM)", 67 },
            { "Closing Network: 127.0.0.1", 100 } }));
    EXPECT_EQ(observer.stopTimes, 1);
    EXPECT_GE(resultfile.run_stop_time, resultfile.run_start_time);
    EXPECT_EQ(resultfile.accum_results[kSlotMemory].cycles, resultfile.results[kSlotMemory].cycles)
        << "the stopped run is added into the accumulated results";
    EXPECT_NE(std::string(gLogger->GetLine(-1, nullptr, nullptr)).find("Test run stopped"), std::string::npos);
}

TEST_F(RunControl, MathsSlotStartsAThreadPerProcessorUpToTheCap)
{
    testconfig.test_enabled[kSlotMaths] = 1;
    resultfile.cpu_info.cpu_count = 3;
    ASSERT_EQ(StartRun(ctx, observer), 1);
    // Each thread counts itself, on its slot and in the run.
    EXPECT_TRUE(
        waitFor([&] { return relaxedLoad(run.threadData[kSlotMaths].running) == 3 && run.testsRunning.load() == 3; }));
    StopRun(ctx, observer, false, 1);
    EXPECT_FALSE(AnyTestThreadAlive(run));
    resultfile.cpu_info.cpu_count = CTest_Math::kMaxThreads + 5;
    EXPECT_EQ(EngineFor(kSlotMaths)->threads(ctx), CTest_Math::kMaxThreads);
}

TEST_F(RunControl, StopBeforeTheThreadIsUpIsKept)
{
    testconfig.test_enabled[kSlotMemory] = 1;
    gNullScript.beforeUpMs = 300;
    ASSERT_EQ(StartRun(ctx, observer), 1);
    EXPECT_FALSE(run.slotActive(kSlotMemory)) << "launching is not running yet";
    run.setSlotActive(kSlotMemory, false); // the stop's request
    std::this_thread::sleep_for(900ms);
    EXPECT_FALSE(run.slotActive(kSlotMemory)) << "the late thread must not undo the stop";
    EXPECT_FALSE(AnyTestThreadAlive(run));
    EXPECT_EQ(cycles(kSlotMemory), 0u);
    StopRun(ctx, observer, false, 1);
}

// The null engine's own slot, thread entry and stop limit: a stop waits for
// a test that ends, and gives up on one that hangs after about the limit.
TEST_F(RunControl, NullEngineRunsWhenSelectedAndStopsWithinItsLimit)
{
    const int slot = kNullEngine.firstSlot;
    testconfig.test_enabled[slot] = 1;
    for (int hangMs : { 0, 2 * kNullEngine.stopLimitMs }) {
        SCOPED_TRACE(hangMs);
        gNullScript.hangMs = hangMs;
        observer.started.clear();
        ASSERT_EQ(StartRun(ctx, observer), 1);
        EXPECT_EQ(observer.started, std::vector<int> { slot });
        ASSERT_TRUE(waitFor([&] { return ops(slot) >= 2 || (hangMs && ops(slot) == 1); }));
        const auto t0 = std::chrono::steady_clock::now();
        StopRun(ctx, observer, false, 1);
        const auto took = std::chrono::steady_clock::now() - t0;
        EXPECT_EQ(AnyTestThreadAlive(run), hangMs != 0);
        EXPECT_GE(took, std::chrono::milliseconds(hangMs ? kNullEngine.stopLimitMs : 0));
        EXPECT_LT(took, std::chrono::milliseconds(kNullEngine.stopLimitMs + 900));
        ASSERT_TRUE(waitFor([&] { return !AnyTestThreadAlive(run); }));
    }
}

TEST_F(RunControl, AbandonedThreadLeavesTheNextRunAlone)
{
    selectMemoryAndNetwork();
    gNullScript.hangMs = 4000;
    gNullScript.lateErrorCode = 17;
    gNullScript.hangSlot = gNullScript.watchSlot = kSlotMemory;
    ASSERT_EQ(StartRun(ctx, observer), 2);
    // The memory slot's first cycle is under way, inside its long sleep.
    ASSERT_TRUE(waitFor([] { return ops(kSlotMemory) != 0; }));
    ASSERT_EQ(ops(kSlotMemory), 1u);
    const auto t0 = std::chrono::steady_clock::now();
    StopRun(ctx, observer, true, 2);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3500ms) << "the stop gave up after the memory test's limit";
    EXPECT_TRUE(AnyTestThreadAlive(run)) << "the thread is left to finish by itself";
    EXPECT_EQ(observer.deleted, (std::vector<int> { kSlotMemory, kSlotNetworkFirst }));

    // Start again at once. The old thread wakes during this run, finds an
    // error in its last pass and ends: none of that may reach the new run.
    gNullScript.hangMs = 0;
    ASSERT_EQ(StartRun(ctx, observer), 2);
    waitFor(
        [&] {
            return run.threadsAlive(kSlotMemory) == 1 && cycles(kSlotMemory) >= 3 && cycles(kSlotNetworkFirst) >= 3;
        },
        6s);
    ASSERT_EQ(run.threadsAlive(kSlotMemory), 1) << "the old thread has ended";
    EXPECT_TRUE(run.slotActive(kSlotMemory)) << "the old thread's exit must not stop the new one";
    EXPECT_EQ(relaxedLoad(run.threadData[kSlotMemory].running), 1);
    EXPECT_EQ(relaxedLoad(resultfile.results[kSlotMemory].errors), 0u) << "the old run's find is not the new run's";
    const auto counted = cycles(kSlotMemory);
    EXPECT_TRUE(waitFor([&] { return cycles(kSlotMemory) > counted; })) << "still counting";
    EXPECT_EQ(gNullScript.watchMostAlive.load(), 1) << "the new engine waited for the old one to let go";
    StopRun(ctx, observer, false, 2);
    EXPECT_FALSE(AnyTestThreadAlive(run));
    EXPECT_EQ(run.testsRunning.load(), 0);
}

TEST_F(RunControl, AccumulateModeLoadsTheSavedResultsAtStart)
{
    testconfig.pretest_log_mode = 1;
    resultfile.accum_results[kSlotMemory].cycles = 40;
    ASSERT_EQ(BinaryDataSave(dir.file(".accum_result.cfg").c_str(), &resultfile, sizeof resultfile, 1), 0);
    resultfile.accum_results[kSlotMemory].cycles = 0;
    StartRun(ctx, observer);
    EXPECT_EQ(resultfile.accum_results[kSlotMemory].cycles, 40u);
    StopRun(ctx, observer, false, 0);
}

// What the main window's verdict counts: accumulated errors, plus the
// current run's while it runs; unselected slots never.
TEST_F(RunControl, TotalErrorsCountsCurrentOnlyDuringARun)
{
    testconfig.test_enabled[kSlotMemory] = 1;
    resultfile.results[kSlotMemory].errors = 2;
    resultfile.accum_results[kSlotMemory].errors = 5;
    resultfile.results[kSlotMaths].errors = 7; // not selected
    EXPECT_EQ(TotalErrors(ctx), 5);
    run.stopAllTests = 0;
    EXPECT_EQ(TotalErrors(ctx), 7);
    run.stopAllTests = 1;
}

// The run fixture's settings, with nothing selected.
using Warning = RunControl;

std::string warningTail()
{
    const std::string text = PreRunWarningText(TestContext());
    return text.substr(text.find("information).\n") + 14);
}

void selectSerial(const std::vector<int>& ports)
{
    std::memset(&testconfig, 0, sizeof testconfig);
    testconfig.test_enabled[kSlotSerialGroup] = 1;
    for (int p : ports) {
        testconfig.test_enabled[kSlotSerialFirst + p] = 1;
        testconfig.serial_port_mode[p] = 1;
    }
}

// The notes after the warning for serial ports in loop-back mode (one
// sentence), then drives, plugs and discs, then the warning alone.
TEST_F(Warning, NotesForWhatTheSelectedTestsNeed)
{
    std::string text;
    for (const std::vector<int>& ports :
        std::vector<std::vector<int>> { { 0, 1, 3 }, { 2 }, { 0, 1, 2, 3, 4, 5 }, { 0, 1, 2, 3, 4 }, { 7 } }) {
        selectSerial(ports);
        testconfig.serial_port_mode[7] = 2; // detect only: no plug needed
        text += "== serial ports";
        for (int port : ports)
            text += " " + std::to_string(port);
        text += "\n" + warningTail();
    }
    testconfig.test_enabled[kSlotCdGroup] = 1;
    testconfig.test_enabled[kSlotCdFirst] = 1;
    testconfig.cd_test_mode[0] = 3;
    std::strcpy(gMultimediaStructPtr[0].mount_point, "/media/cdrom");
    testconfig.test_enabled[kSlotCdFirst + 1] = 1;
    testconfig.cd_test_mode[1] = 1;
    std::strcpy(gMultimediaStructPtr[1].mount_point, "/media/cdrom1");
    testconfig.test_enabled[kSlotParallel] = 1;
    testconfig.parallel_port_number = 2;
    testconfig.test_enabled[kSlotDiskGroup] = 1;
    testconfig.test_enabled[kSlotDiskFirst] = 1;
    std::strcpy(gFileSystemStructPtr[0].name, "/dev/floppy0");
    text += "== drives, plugs and discs\n" + warningTail();
    testconfig.parallel_test_mode = 1;
    testconfig.test_enabled[kSlotCdGroup] = 0;
    std::strcpy(gFileSystemStructPtr[0].name, "/dev/sda1");
    text += "== nothing to prepare\n" + PreRunWarningText(TestContext());
    EXPECT_EQ(GoldenFile(KVX_SOURCE_DIR "/tests/data/prerun_warnings.txt", text), text);
}

// Null engine threads started as a tool does: outside a run's generations.
class ThreadProtocol : public RunControl {
protected:
    static constexpr int kSlot = kSlotMemory;
    ProcessRun p;
    ::Run& run = p.run;
    std::vector<pthread_t> threads;

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
};

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
    EXPECT_EQ(gLogger->GetNumberLines(), 0) << "start and stop lines are level 3, not ring lines";
}

// Tests that end by themselves hand the slot back too.
TEST_F(ThreadProtocol, FourThreadsOnOneSlotCountEveryIncrement)
{
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
    EXPECT_EQ(std::tuple(relaxedLoad(run.threadData[kSlotMaths].running), run.testsRunning.load()), std::tuple(0, 0));
}

TEST(ThreadWaits, DutyCycleDelay)
{
    const std::pair<int, int> cases[] = { { 100, 0 }, { 50, 500 }, { 10, 4500 }, { 1, 49500 }, { 0, 49500 },
        { -3, 49500 }, { 200, 0 }, { 33, 1015 } };
    for (auto [duty, ms] : cases)
        EXPECT_EQ(CTest_Base::DutyDelayMs(duty), ms) << duty;
}

TEST(SlotSelection, GroupMembersNeedTheSwitchExactlyOnePlainSlotsAnyValue)
{
    _testconfig config {};
    const std::pair<int, int> groups[]
        = { { 6, 26 }, { 25, 26 }, { 28, 32 }, { 33, 53 }, { 52, 53 }, { 90, 154 }, { 153, 154 } };
    for (auto [member, groupSwitch] : groups) {
        config.test_enabled[member] = 1;
        for (int value : { 0, 2, 255 }) {
            config.test_enabled[groupSwitch] = static_cast<std::uint8_t>(value);
            EXPECT_FALSE(performTest(config, member)) << member << " switch " << value;
        }
        config.test_enabled[groupSwitch] = 1;
        EXPECT_TRUE(performTest(config, member)) << member;
        EXPECT_FALSE(performTest(config, groupSwitch)) << "an end marker never runs";
        config.test_enabled[member] = 0;
        EXPECT_FALSE(performTest(config, member));
    }
    config.test_enabled[2] = 1;
    EXPECT_TRUE(performTest(config, 2) && !EngineFor(2)) << "selected without an engine still passes";
    config.test_enabled[kSlotParallel] = 3;
    EXPECT_TRUE(performTest(config, kSlotParallel)) << "any non-zero value selects a plain slot";
    EXPECT_FALSE(performTest(config, -1) || performTest(config, kNumSlots));
}

// The automatic stop, over a run of the test's own started at 1000.
class Completion : public ::testing::Test {
protected:
    ProcessRun p;
    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        resultfile.run_start_time = 1000;
    }
    void running(int slot, std::uint32_t cycles)
    {
        testconfig.test_enabled[slot] = 1;
        p.run.setSlotActive(slot, true);
        resultfile.results[slot].cycles = cycles;
    }
    bool complete(std::time_t now) { return KVXComplete(p.ctx, now); }
};

TEST_F(Completion, TimeRuleAtItsMinutesAndNoLimitsNever)
{
    running(kSlotMaths, 1000000);
    EXPECT_FALSE(complete(1000 + 10 * 365 * 86400));
    testconfig.auto_stop_time = 0.5f;
    EXPECT_EQ(std::tuple(complete(1029), complete(1030), complete(5000)), std::tuple(false, true, true));
}

TEST_F(Completion, CycleRuleNeedsEveryRunningSlot)
{
    testconfig.auto_stop_cycles = 10;
    running(kSlotMaths, 12);
    running(kSlotMemory, 9);
    EXPECT_FALSE(complete(1001));
    resultfile.results[kSlotMemory].cycles = 10;
    EXPECT_TRUE(complete(1001));
    // Selected but without an engine, and a test that ended by itself: passed over.
    testconfig.test_enabled[2] = testconfig.test_enabled[kSlot2D] = 1;
    resultfile.results[kSlot2D].cycles = 1;
    EXPECT_TRUE(complete(1001));
    // The time rule alone still completes a run whose cycles lag.
    resultfile.results[kSlotMemory].cycles = 2;
    testconfig.auto_stop_time = 1.0f;
    EXPECT_EQ(std::pair(complete(1059), complete(1060)), std::pair(false, true));
}

TEST_F(Completion, NothingSelectedCompletesAtTheFirstCheckWhenALimitIsSet)
{
    resultfile.run_start_time = 0; // no test ever started
    EXPECT_FALSE(complete(1001));
    testconfig.auto_stop_cycles = 10;
    EXPECT_TRUE(complete(1001));
    testconfig.auto_stop_cycles = 0;
    testconfig.auto_stop_time = 15.0f;
    EXPECT_TRUE(complete(1001)) << "elapsed time counts from 0";
}

} // namespace
