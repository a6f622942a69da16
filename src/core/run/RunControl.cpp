#include "RunControl.h"

#include "CTest_CDROM.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Base.h"
#include "CTest_Math.h"
#include "DebugTrace.h"
#include "ErrorClassification.h"
#include "MessageBox.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TestSlots.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

const char* const kDiskModeNames[] = { "Cyclic", "Sequential", "High Low", "Binary 1", "Binary 2", "Zeros", "Ones",
    "Random", "Random seeking", "Butterfly" };

bool isIn(int k, std::initializer_list<int> list)
{
    for (int v : list)
        if (v == k)
            return true;
    return false;
}

std::string serialSentencePart(int port, int k, int n)
{
    if (n == 1)
        return Format("\n* Please check there is a serial loop back plug in the COM port ttyS%d\n", port);
    if (k == 1)
        return Format("\n* Please check there is a serial loop back plug in the COM ports ttyS%d", port);
    if (k == n)
        return isIn(k, { 5, 15, 25, 35, 45, 55 }) ? Format("and ttyS%d\n", port) : Format(" and ttyS%d\n", port);
    if (isIn(k, { 4, 14, 24, 34, 44, 54 }))
        return Format(", ttyS%d,\n", port);
    if (isIn(k, { 5, 15, 25, 35, 45, 55 }))
        return Format("ttyS%d", port);
    return Format(", ttyS%d", port);
}

void recordNoOpenGL()
{
    RecordError(kSlot3D, 206, 13);
}

// The 3D test needs its window before it can count; the GUI records 206.
bool startThreads(const RunContext& ctx, int slot)
{
    TestThreadRecord& rec = gThreadData[slot];
    rec.test_id = slot;
    int first = 0;
    if (SlotGroup(slot, &first, nullptr))
        rec.instance = slot - first;
    else if (slot == kSlotParallel)
        rec.instance = relaxedLoad(testconfig.parallel_port_number);
    else
        rec.instance = 0;
    if (slot == kSlotMaths) {
        // One thread per processor the machine has, however many.
        int cpus = resultfile.cpu_info.cpu_count;
        if (cpus <= 0)
            cpus = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
        return StartMathThreads(ctx, cpus > 0 ? cpus : 1) > 0;
    }
    rec.launchedByRun = 1;
    rec.generation = SlotGeneration(slot);
    SetSlotLaunching(slot);
    // The thread reads its own copy: the slot's record is zeroed by the next
    // Start, which may come before an unlucky thread is first scheduled.
    auto* arg = new TestThreadRecord(rec);
    arg->ownedByThread = 1;
    arg->context = &ctx;
    pthread_t thread;
    const int rc = pthread_create(&thread, nullptr, ChildProc[slot], arg);
    if (rc != 0) {
        delete arg;
        SetSlotActive(slot, false);
        errno = rc;
        std::perror("pthread_create() failure.");
        return false;
    }
    rec.thread = thread;
    // Nobody joins a test thread; detached, its resources go when it ends.
    pthread_detach(thread);
    return true;
}

} // namespace

std::string PreRunWarningText()
{
    std::string text
        = "Warning: You are about to start a series of tests that is designed\nto test the reliability of your "
          "computer hardware. To avoid data\nloss due to unreliabe hardware, please ensure you have adequate\nbackups "
          "of your data before running these tests.\n(see the Online Help for more information).\n";
    int serialTotal = 0;
    for (int slot = kSlotSerialFirst; slot < kSlotSerialFirst + kNumSerialPorts; ++slot)
        if (performTest(slot) && relaxedLoad(testconfig.serial_port_mode[slot - kSlotSerialFirst]) == 1)
            ++serialTotal;
    int serialSeen = 0;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (!performTest(slot))
            continue;
        if (slot >= kSlotDiskFirst && slot < kSlotDiskFirst + kNumDisks) {
            const char* device = gFileSystemStructPtr[slot - kSlotDiskFirst].name;
            if (std::strstr(device, "cdrom"))
                text += "\n* Please ensure a blank formatted disc is in the cdrom\n";
            else if (std::strstr(device, "floppy"))
                text += "\n* Please ensure a blank formatted floppy disk is in the floppy drive\n";
        } else if (slot >= kSlotCdFirst && slot < kSlotCdFirst + kNumCdDrives) {
            const int drive = slot - kSlotCdFirst;
            const char* mount = gMultimediaStructPtr[drive].mount_point;
            switch (relaxedLoad(testconfig.cd_test_mode[drive])) {
            case 1:
                text += Format("\n* Please ensure a Music CD is in CD Drive %s:\n", mount);
                break;
            case 2:
                text += Format("\n* Please ensure a full Data CD/DVD is in CD/DVD Drive %s:\n", mount);
                break;
            case 3:
                text += Format("\n* Please ensure that a Veltrane Test CD/DVD is in CD/DVD Drive %s:\n", mount);
                break;
            case 5:
                text += Format("\n* Please ensure that a writeable CD is in CD-RW Drive %s:\n", mount);
                break;
            default:
                break;
            }
        } else if (slot == kSlotParallel && relaxedLoad(testconfig.parallel_test_mode) == 0) {
            text += Format("\n* Please check there is a parallel loop back plug in the parallel port lp%d\n",
                relaxedLoad(testconfig.parallel_port_number));
        } else if (slot >= kSlotSerialFirst && slot < kSlotSerialFirst + kNumSerialPorts
            && relaxedLoad(testconfig.serial_port_mode[slot - kSlotSerialFirst]) == 1) {
            text += serialSentencePart(slot - kSlotSerialFirst, ++serialSeen, serialTotal);
        }
    }
    return text;
}

std::string SlotDisplayName(int slot)
{
    std::string name = (slot >= 0 && slot < kNumNamedSlots) ? SlotName(slot) : "";
    if (slot >= kSlotDiskFirst && slot < kSlotDiskFirst + kNumDisks)
        name += std::string(": ") + gFileSystemStructPtr[slot - kSlotDiskFirst].alias;
    else if (slot >= kSlotNetworkFirst && slot < kSlotNetworkFirst + kNumNetworkAddresses)
        name += std::string(": ") + testconfig.network_address[slot - kSlotNetworkFirst];
    else if (slot >= kSlotCdFirst && slot < kSlotCdFirst + kNumCdDrives)
        name += std::string(": ") + gMultimediaStructPtr[slot - kSlotCdFirst].alias;
    else if (slot >= kSlotSerialFirst && slot < kSlotSerialFirst + kNumSerialPorts)
        name += Format(": ttyS%d", slot - kSlotSerialFirst);
    else if (slot == kSlotParallel)
        name += Format(": lp%d", relaxedLoad(testconfig.parallel_port_number));
    return name;
}

int StartRun(const RunContext& ctx, RunObserver& observer)
{
    VDPrintf("%s, %s[%d]: Test started, testconfig.auto_stop_time = %f, testconfig.auto_stop_cycles = %d\n", KVX_WHERE,
        static_cast<double>(relaxedLoad(testconfig.auto_stop_time)), relaxedLoad(testconfig.auto_stop_cycles));
    NewRunGeneration();
    LoadAccumulatedResults(dirname);
    ClearCurrentResults();
    stop_all_tests = 0;

    int configured = 0;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (!performTest(slot))
            continue;
        DPrintf("Test Configured[%d]: %s\n", slot, slot < kNumNamedSlots ? SlotName(slot) : "");
        if (slot >= kSlotDiskFirst && slot < kSlotDiskFirst + kNumDisks) {
            const int mode = relaxedLoad(testconfig.disk_test_mode[slot - kSlotDiskFirst]);
            DPrintf("Disk #%d: %s\n", slot - kSlotDiskFirst, mode >= 0 && mode < 10 ? kDiskModeNames[mode] : "?");
        } else if (slot >= kSlotCdFirst && slot < kSlotCdFirst + kNumCdDrives) {
            const int mode = relaxedLoad(testconfig.cd_test_mode[slot - kSlotCdFirst]);
            DPrintf("CD/DVD #%d: %s\n", slot - kSlotCdFirst,
                mode >= 0 && mode < CTest_CDROM::kNumModes ? CTest_CDROM::PatternText[mode] : "?");
        }
        ++configured;
    }

    bool first = true;
    for (int slot = 0; slot < kNumNamedSlots; ++slot) {
        if (!performTest(slot) || !ChildProc[slot])
            continue;
        if (slot == kSlot3D && !observer.openGLAvailable()) {
            recordNoOpenGL();
            continue;
        }
        observer.createWindow(slot);
        if (!startThreads(ctx, slot))
            continue;
        observer.processEvents();
        if (first)
            relaxedStore(resultfile.run_start_time, static_cast<std::int32_t>(std::time(nullptr)));
        observer.testStarted(slot, first);
        first = false;
    }
    if (gLogger)
        gLogger->AddLine("Completed started test run", 0, 0, nullptr, 1);
    return configured;
}

int StopWaitLimitMs(int slot)
{
    if (slot == kSlotMemory)
        return 1000;
    if (slot >= kSlotDiskFirst && slot < kSlotDiskFirst + kNumDisks)
        return 60000;
    if (slot == kSlot2D)
        return 3000;
    if (slot == kSlot3D)
        return 20000;
    if (slot >= kSlotCdFirst && slot < kSlotCdFirst + kNumCdDrives)
        return 20000;
    if (slot >= kSlotSerialFirst && slot < kSlotSerialFirst + kNumSerialPorts)
        return 20000;
    return 1000;
}

void StopRun(RunObserver& observer, bool automatic, int numTestsConfigured)
{
    stop_all_tests = 1;
    int handled = 0;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (!performTest(slot))
            continue;
        ++handled;
        SetSlotActive(slot, false);
        const int percent
            = numTestsConfigured > 0 ? static_cast<int>(std::lround(100.0 * handled / numTestsConfigured)) : 100;
        observer.closingProgress("Closing " + SlotDisplayName(slot), percent);
        int limit = StopWaitLimitMs(slot);
        while (acquireLoad(gThreadData[slot].running) > 0) {
            CTest_Base::Sleep(500);
            limit -= 500;
            observer.processEvents();
            if (limit < 0) {
                DPrintf("%s, %s[%d]: %s did not stop in time; left running\n", KVX_WHERE, SlotName(slot));
                break;
            }
        }
        if (handled == 1) {
            relaxedStore(resultfile.run_stop_time, static_cast<std::int32_t>(std::time(nullptr)));
            observer.stopTimeSet();
        }
    }
    if (automatic)
        VDPrintf("%s, %s[%d]: Test stopped automatically\n", KVX_WHERE);
    else
        VDPrintf("%s, %s[%d]: Test stopped by user\n", KVX_WHERE);
    for (int slot = 0; slot < kNumSlots; ++slot)
        if (performTest(slot))
            observer.deleteWindow(slot);

    if (gLogger) {
        gLogger->AddLine("Test run stopped", 0, 0, nullptr, 1);
        gLogger->SaveLogs();
        if (relaxedLoad(testconfig.logging_enabled)) {
            gLogger->saveresultsummary();
            gLogger->saveerrorsummary(false, false, -1);
            gLogger->flushtologfile();
        }
    }
}

int TotalErrors()
{
    int total = 0;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (!performTest(slot))
            continue;
        total += static_cast<int>(relaxedLoad(resultfile.accum_results[slot].errors));
        if (stop_all_tests == 0)
            total += static_cast<int>(relaxedLoad(resultfile.results[slot].errors));
    }
    return total;
}

bool AnyTestThreadAlive()
{
    if (tests_running.load() > 0)
        return true;
    for (int slot = 0; slot < kNumSlots; ++slot)
        if (SlotThreadsAlive(slot) > 0)
            return true;
    return false;
}

void ClearAllResults(const char* dir)
{
    Clear_Results_Buffer();
    Clear_Error_Summary();
    const std::string path = std::string(dir) + "/.accum_result.cfg";
    ::unlink(path.c_str());
}
