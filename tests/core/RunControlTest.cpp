#include "TestContext.h"
#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigFile.h"
#include "CTest_Math.h"
#include "ErrorClassification.h"
#include "NullEngine.h"
#include "ProcessRun.h"
#include "ResultRecord.h"
#include "Results.h"
#include "RunControl.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct RecordingObserver : RunObserver {
    bool gl = true;
    std::vector<int> windows, started, deleted;
    std::vector<std::pair<std::string, int>> closing;
    int stopTimes = 0;
    bool openGLAvailable() override { return gl; }
    void createWindow(int slot) override { windows.push_back(slot); }
    void testStarted(int slot, bool) override { started.push_back(slot); }
    void processEvents() override { }
    void closingProgress(const std::string& text, int percent) override { closing.emplace_back(text, percent); }
    void stopTimeSet() override { ++stopTimes; }
    void deleteWindow(int slot) override { deleted.push_back(slot); }
};

// Runs of the test's own: the maths, memory, network and 3D slots run the null
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
            for (int slot : { kSlotMaths, kSlotMemory, kSlotNetworkFirst, kSlot3D })
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
    static bool waitFor(const std::function<bool()>& done, int ms = 5000)
    {
        for (int i = 0; i < ms / 2 && !done(); ++i)
            std::this_thread::sleep_for(2ms);
        return done();
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
    EXPECT_TRUE(waitFor([&] { return relaxedLoad(run.threadData[kSlotMaths].running) == 3; }));
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
        6000);
    ASSERT_EQ(run.threadsAlive(kSlotMemory), 1) << "the old thread has ended";
    EXPECT_TRUE(run.slotActive(kSlotMemory)) << "the old thread's exit must not stop the new one";
    EXPECT_EQ(relaxedLoad(run.threadData[kSlotMemory].running), 1);
    EXPECT_EQ(relaxedLoad(resultfile.results[kSlotMemory].errors), 0u) << "the old run's find is not the new run's";
    const auto counted = cycles(kSlotMemory);
    ASSERT_GE(counted, 3u);
    EXPECT_TRUE(waitFor([&] { return cycles(kSlotMemory) > counted; })) << "still counting";
    EXPECT_EQ(gNullScript.watchMostAlive.load(), 1) << "the new engine waited for the old one to let go";

    StopRun(ctx, observer, false, 2);
    EXPECT_FALSE(AnyTestThreadAlive(run));
    for (int slot : { kSlotMemory, kSlotNetworkFirst }) {
        EXPECT_EQ(relaxedLoad(run.threadData[slot].running), 0) << slot;
        EXPECT_GT(resultfile.accum_results[slot].cycles, 0u) << slot;
    }
    EXPECT_EQ(run.testsRunning.load(), 0);
}

TEST_F(RunControl, NoOpenGLRecordsItsErrorAndStartsNo3D)
{
    testconfig.test_enabled[kSlot3D] = 1;
    observer.gl = false;
    e_classification[206] = kSevWarning;
    std::strcpy(e_strings[206], "OpenGL not available");
    EXPECT_EQ(StartRun(ctx, observer), 1);
    EXPECT_TRUE(observer.started.empty());
    const _resultinfo& r = resultfile.results[kSlot3D];
    EXPECT_EQ(std::tuple(r.errors, r.last_error, resultfile.classes[kSlot3D].warning), std::tuple(1u, 206u, 1u));
    EXPECT_NE(std::string(gLogger->GetLine(-2, nullptr, nullptr)).find(", 3D Graphics, OpenGL not available"),
        std::string::npos);
    StopRun(ctx, observer, true, 1);
    e_classification[206] = 0;
    e_strings[206][0] = '\0';
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

class Warning : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        std::memset(gMultimediaStructPtr, 0, sizeof gMultimediaStructPtr);
    }
    static std::string tail(const std::string& text) { return text.substr(text.find("information).\n") + 14); }
    void serial(std::initializer_list<int> ports)
    {
        testconfig.test_enabled[kSlotSerialGroup] = 1;
        for (int p : ports) {
            testconfig.test_enabled[kSlotSerialFirst + p] = 1;
            testconfig.serial_port_mode[p] = 1;
        }
    }
};

TEST_F(Warning, OpensWithTheBackupWarning)
{
    EXPECT_EQ(PreRunWarningText(TestContext()),
        "Warning: You are about to start a series of tests that is designed\nto test the reliability of your "
        "computer hardware. To avoid data\nloss due to unreliabe hardware, please ensure you have adequate\n"
        "backups of your data before running these tests.\n(see the Online Help for more information).\n");
}

TEST_F(Warning, SerialPortsFormOneSentence)
{
    serial({ 0, 1, 3 });
    EXPECT_EQ(tail(PreRunWarningText(TestContext())),
        "\n* Please check there is a serial loop back plug in the COM ports ttyS0, ttyS1 and ttyS3\n");
    SetUp();
    serial({ 2 });
    EXPECT_EQ(tail(PreRunWarningText(TestContext())),
        "\n* Please check there is a serial loop back plug in the COM port ttyS2\n");
    SetUp();
    serial({ 0, 1, 2, 3, 4, 5 });
    EXPECT_EQ(tail(PreRunWarningText(TestContext())),
        "\n* Please check there is a serial loop back plug in the COM ports ttyS0, "
        "ttyS1, ttyS2, ttyS3,\nttyS4 and ttyS5\n");
    SetUp();
    serial({ 0, 1, 2, 3, 4 });
    EXPECT_EQ(tail(PreRunWarningText(TestContext())),
        "\n* Please check there is a serial loop back plug in the COM ports ttyS0, ttyS1, ttyS2, ttyS3,\nand ttyS4\n");
    SetUp();
    serial({ 7 });
    testconfig.serial_port_mode[7] = 2; // detect only: no plug needed
    EXPECT_EQ(tail(PreRunWarningText(TestContext())), "");
}

TEST_F(Warning, DrivesPlugsAndDiscs)
{
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
    EXPECT_EQ(tail(PreRunWarningText(TestContext())),
        "\n* Please ensure a blank formatted floppy disk is in the floppy drive\n"
        "\n* Please ensure that a Veltrane Test CD/DVD is in CD/DVD Drive /media/cdrom:\n"
        "\n* Please ensure a Music CD is in CD Drive /media/cdrom1:\n"
        "\n* Please check there is a parallel loop back plug in the parallel port lp2\n");
    testconfig.parallel_test_mode = 1;
    testconfig.test_enabled[kSlotCdGroup] = 0;
    std::strcpy(gFileSystemStructPtr[0].name, "/dev/sda1");
    EXPECT_EQ(tail(PreRunWarningText(TestContext())), "");
}

} // namespace
