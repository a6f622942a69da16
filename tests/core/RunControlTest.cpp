#include "TestContext.h"
#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigFile.h"
#include "ErrorClassification.h"
#include "NullEngine.h"
#include "ResultRecord.h"
#include "Results.h"
#include "RunControl.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
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

class RunControl : public ::testing::Test {
protected:
    TempDir dir;
    RecordingSink sink;
    RecordingObserver observer;

    void SetUp() override
    {
        std::snprintf(dirname, sizeof dirname, "%s", dir.path().c_str());
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(gThreadData, 0, sizeof gThreadData);
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        std::memset(gMultimediaStructPtr, 0, sizeof gMultimediaStructPtr);
        for (auto& a : thread_active)
            relaxedStore(a, 0);
        tests_running = 0;
        stop_all_tests = 1;
        testconfig.log_detail_level = 1;
        gNullScript.cyclesToRun = -1;
        gNullScript.hangMs = 0;
        gNullScript.delayMs = 0;
        gNullScript.startWaitMs = 0;
        gNullScript.beforeUpMs = 0;
        gNullScript.errorCode = 0;
        gLogger = new CLogger("dummyStr");
        saved[0] = ChildProc[kSlotMemory];
        saved[1] = ChildProc[kSlotNetworkFirst];
        ChildProc[kSlotMemory] = Test_Thread_Null;
        ChildProc[kSlotNetworkFirst] = Test_Thread_Null;
    }
    void TearDown() override
    {
        // Let any thread left behind by a test finish before the next starts.
        for (int i = 0; i < 400 && AnyTestThreadAlive(); ++i)
            std::this_thread::sleep_for(10ms);
        ChildProc[kSlotMemory] = saved[0];
        ChildProc[kSlotNetworkFirst] = saved[1];
        delete gLogger;
        gLogger = nullptr;
    }
    ThreadEntry saved[2];
};

TEST_F(RunControl, NothingSelectedStartsNothing)
{
    EXPECT_EQ(StartRun(TestContext(), observer), 0);
    EXPECT_EQ(stop_all_tests, 0);
    EXPECT_EQ(resultfile.run_start_time, 0);
    EXPECT_TRUE(observer.started.empty());
    StopRun(observer, true, 0);
    EXPECT_EQ(stop_all_tests, 1);
    EXPECT_EQ(observer.stopTimes, 0);
}

TEST_F(RunControl, RunStartsCountsAndStopsInSlotOrder)
{
    testconfig.test_enabled[kSlotMemory] = 1;
    testconfig.test_enabled[kSlotNetworkFirst] = 1;
    testconfig.test_enabled[kSlotNetworkGroup] = 1;
    testconfig.test_enabled[2] = 1; // selected, no engine
    std::strcpy(testconfig.network_address[0], "127.0.0.1");
    resultfile.results[kSlotMemory].cycles = 99; // the previous run's
    resultfile.accum_results[kSlotMemory].cycles = 50;

    EXPECT_EQ(StartRun(TestContext(), observer), 3);
    EXPECT_EQ(observer.started, (std::vector<int> { kSlotMemory, kSlotNetworkFirst }));
    EXPECT_EQ(observer.windows, observer.started);
    EXPECT_GT(resultfile.run_start_time, 0);
    EXPECT_EQ(gThreadData[kSlotNetworkFirst].instance, 0);
    EXPECT_EQ(resultfile.accum_results[kSlotMemory].cycles, 0u) << "not the accumulate mode";
    // Both threads may be scheduled late on a loaded machine: wait for each.
    for (int i = 0; i < 2500
         && (relaxedLoad(resultfile.results[kSlotNetworkFirst].cycles) < 3
             || relaxedLoad(resultfile.results[kSlotMemory].cycles) < 1);
         ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_GE(relaxedLoad(resultfile.results[kSlotMemory].cycles), 1u);
    ASSERT_LT(relaxedLoad(resultfile.results[kSlotMemory].cycles), 99u * 1000000) << "current results start from zero";

    StopRun(observer, false, 3);
    EXPECT_FALSE(AnyTestThreadAlive());
    ASSERT_EQ(observer.closing.size(), 3u);
    EXPECT_EQ(observer.closing[0], std::make_pair(std::string("Closing CPU - MMX / SSE"), 33));
    EXPECT_EQ(observer.closing[1], std::make_pair(std::string("Closing Memory (RAM)"), 67));
    EXPECT_EQ(observer.closing[2], std::make_pair(std::string("Closing Network: 127.0.0.1"), 100));
    EXPECT_EQ(observer.stopTimes, 1);
    EXPECT_GE(resultfile.run_stop_time, resultfile.run_start_time);
    EXPECT_EQ(resultfile.accum_results[kSlotMemory].cycles, resultfile.results[kSlotMemory].cycles)
        << "the stopped run is added into the accumulated results";
    int test = 0;
    EXPECT_NE(std::string(gLogger->GetLine(-1, &test, nullptr)).find("Test run stopped"), std::string::npos);
}

TEST_F(RunControl, StopBeforeTheThreadIsUpIsKept)
{
    testconfig.test_enabled[kSlotMemory] = 1;
    gNullScript.beforeUpMs = 300;
    ASSERT_EQ(StartRun(TestContext(), observer), 1);
    EXPECT_FALSE(SlotActive(kSlotMemory)) << "launching is not running yet";
    SetSlotActive(kSlotMemory, false); // the stop's request
    std::this_thread::sleep_for(900ms);
    EXPECT_FALSE(SlotActive(kSlotMemory)) << "the late thread must not undo the stop";
    EXPECT_FALSE(AnyTestThreadAlive());
    EXPECT_EQ(relaxedLoad(resultfile.results[kSlotMemory].cycles), 0u);
    StopRun(observer, false, 1);
}

TEST_F(RunControl, AbandonedThreadLeavesTheNextRunAlone)
{
    testconfig.test_enabled[kSlotMemory] = 1;
    testconfig.test_enabled[kSlotNetworkFirst] = 1;
    testconfig.test_enabled[kSlotNetworkGroup] = 1;
    std::strcpy(testconfig.network_address[0], "127.0.0.1");
    gNullScript.hangMs = 4000;
    gNullScript.lateErrorCode = 17;
    gNullScript.hangSlot = kSlotMemory;
    gNullScript.watchSlot = kSlotMemory;
    gNullScript.watchMostAlive = 0;
    ASSERT_EQ(StartRun(TestContext(), observer), 2);
    // Wait until the memory slot's first cycle is under way, inside its long sleep.
    for (int i = 0; i < 2500 && relaxedLoad<std::uint64_t>(resultfile.results[kSlotMemory].op_count) == 0; ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_EQ(relaxedLoad<std::uint64_t>(resultfile.results[kSlotMemory].op_count), 1u);
    const auto t0 = std::chrono::steady_clock::now();
    StopRun(observer, true, 2);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3500ms) << "the stop gave up after the memory test's limit";
    EXPECT_TRUE(AnyTestThreadAlive()) << "the thread is left to finish by itself";
    EXPECT_EQ(observer.deleted, (std::vector<int> { kSlotMemory, kSlotNetworkFirst }));
    EXPECT_EQ(stop_all_tests, 1);

    // Start again at once. The old thread wakes during this run, finds an
    // error in its last pass and ends: none of that may reach the new run.
    gNullScript.hangMs = 0;
    ASSERT_EQ(StartRun(TestContext(), observer), 2);
    for (int i = 0; i < 3000
         && (SlotThreadsAlive(kSlotMemory) > 1 || relaxedLoad(resultfile.results[kSlotMemory].cycles) < 3
             || relaxedLoad(resultfile.results[kSlotNetworkFirst].cycles) < 3);
         ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_EQ(SlotThreadsAlive(kSlotMemory), 1) << "the old thread has ended";
    EXPECT_TRUE(SlotActive(kSlotMemory)) << "the old thread's exit must not stop the new one";
    EXPECT_EQ(relaxedLoad(gThreadData[kSlotMemory].running), 1);
    EXPECT_EQ(relaxedLoad(resultfile.results[kSlotMemory].errors), 0u) << "the old run's find is not the new run's";
    const auto cycles = relaxedLoad(resultfile.results[kSlotMemory].cycles);
    ASSERT_GE(cycles, 3u);
    for (int i = 0; i < 1000 && relaxedLoad(resultfile.results[kSlotMemory].cycles) == cycles; ++i)
        std::this_thread::sleep_for(2ms);
    EXPECT_GT(relaxedLoad(resultfile.results[kSlotMemory].cycles), cycles) << "still counting";
    EXPECT_EQ(gNullScript.watchMostAlive.load(), 1) << "the new engine waited for the old one to let go";

    StopRun(observer, false, 2);
    EXPECT_FALSE(AnyTestThreadAlive());
    for (int slot : { kSlotMemory, kSlotNetworkFirst }) {
        EXPECT_EQ(relaxedLoad(gThreadData[slot].running), 0) << slot;
        EXPECT_GT(resultfile.accum_results[slot].cycles, 0u) << slot;
    }
    EXPECT_EQ(tests_running.load(), 0);
    gNullScript.lateErrorCode = 0;
    gNullScript.watchSlot = -1;
    gNullScript.hangSlot = -1;
}

TEST_F(RunControl, NoOpenGLRecordsItsErrorAndStartsNo3D)
{
    testconfig.test_enabled[kSlot3D] = 1;
    const ThreadEntry saved3d = ChildProc[kSlot3D];
    ChildProc[kSlot3D] = Test_Thread_Null;
    observer.gl = false;
    e_classification[206] = kSevWarning;
    std::strcpy(e_strings[206], "OpenGL not available");
    EXPECT_EQ(StartRun(TestContext(), observer), 1);
    EXPECT_TRUE(observer.started.empty());
    EXPECT_EQ(resultfile.results[kSlot3D].errors, 1u);
    EXPECT_EQ(resultfile.results[kSlot3D].last_error, 206u);
    EXPECT_EQ(resultfile.classes[kSlot3D].warning, 1u);
    EXPECT_NE(std::string(gLogger->GetLine(-2, nullptr, nullptr)).find(", 3D Graphics, OpenGL not available"),
        std::string::npos);
    StopRun(observer, true, 1);
    ChildProc[kSlot3D] = saved3d;
    e_classification[206] = 0;
    e_strings[206][0] = '\0';
}

TEST_F(RunControl, AccumulateModeLoadsTheSavedResultsAtStart)
{
    testconfig.pretest_log_mode = 1;
    resultfile.accum_results[kSlotMemory].cycles = 40;
    ASSERT_EQ(BinaryDataSave(dir.file(".accum_result.cfg").c_str(), &resultfile, sizeof resultfile, 1), 0);
    resultfile.accum_results[kSlotMemory].cycles = 0;
    StartRun(TestContext(), observer);
    EXPECT_EQ(resultfile.accum_results[kSlotMemory].cycles, 40u);
    StopRun(observer, false, 0);
}

TEST_F(RunControl, ClearAllResultsDeletesTheAccumulatedFile)
{
    WriteFile(dir.file(".accum_result.cfg"), "x");
    resultfile.accum_results[1].cycles = 4;
    resultfile.error_occurrences[3] = 2;
    ClearAllResults(dirname);
    EXPECT_FALSE(FileExists(dir.file(".accum_result.cfg")));
    EXPECT_EQ(resultfile.accum_results[1].cycles, 0u);
    EXPECT_EQ(resultfile.error_occurrences[3], 0);
}

TEST_F(RunControl, TotalErrorsCountsCurrentOnlyDuringARun)
{
    testconfig.test_enabled[kSlotMemory] = 1;
    resultfile.results[kSlotMemory].errors = 2;
    resultfile.accum_results[kSlotMemory].errors = 5;
    resultfile.results[kSlotMaths].errors = 7; // not selected
    EXPECT_EQ(TotalErrors(), 5);
    stop_all_tests = 0;
    EXPECT_EQ(TotalErrors(), 7);
    stop_all_tests = 1;
}

TEST(StopLimits, PerTest)
{
    struct {
        int slot, ms;
    } cases[] = { { kSlotMaths, 1000 }, { kSlotMemory, 1000 }, { kSlot2D, 3000 }, { kSlot3D, 20000 }, { 6, 60000 },
        { 25, 60000 }, { kSlotNetworkFirst, 1000 }, { 33, 20000 }, { kSlotParallel, 1000 }, { 90, 20000 },
        { 153, 20000 } };
    for (auto c : cases)
        EXPECT_EQ(StopWaitLimitMs(c.slot), c.ms) << c.slot;
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
