#include "RunControl.h"

#include "CTest_CDROM.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Base.h"
#include "DebugTrace.h"
#include "ErrorClassification.h"
#include "MessageBox.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "Run.h"
#include "RunContext.h"
#include "TestSlots.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

extern const EngineInfo kParallelPortEngine;

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

// The process's configuration, for the texts built before a run.
bool performTest(int slot)
{
    return performTest(testconfig, slot);
}

// The parallel port test runs on the configured port, not on a unit.
int unitInstance(const RunContext& ctx, const EngineInfo& engine, int slot)
{
    if (&engine == &kParallelPortEngine)
        return relaxedLoad(ctx.config.parallel_port_number);
    return engine.unitOf(slot);
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
    ctx.run.newGeneration();
    LoadAccumulatedResults(dirname);
    ClearCurrentResults();
    ctx.run.stopAllTests = 0;

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
    for (const EngineInfo* engine : Engines()) {
        if (!ctx.entryFor(*engine))
            continue;
        for (int slot = engine->firstSlot; slot < engine->firstSlot + engine->units; ++slot) {
            if (!performTest(ctx.config, slot))
                continue;
            // The 3D test needs its window before it can count; the GUI
            // records 206.
            if (engine->window == LiveWindowKind::Graphics3D && !observer.openGLAvailable()) {
                RecordError(ctx, slot, 206, 13);
                continue;
            }
            observer.createWindow(slot);
            const int threads = engine->threads ? engine->threads(ctx) : 1;
            if (StartTestThreads(ctx, slot, unitInstance(ctx, *engine, slot), threads) == 0)
                continue;
            observer.processEvents();
            if (first)
                relaxedStore(ctx.results.run_start_time, static_cast<std::int32_t>(std::time(nullptr)));
            observer.testStarted(slot, first);
            first = false;
        }
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

void StopRun(const RunContext& ctx, RunObserver& observer, bool automatic, int numTestsConfigured)
{
    ctx.run.stopAllTests = 1;
    int handled = 0;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (!performTest(ctx.config, slot))
            continue;
        ++handled;
        ctx.run.setSlotActive(slot, false);
        const int percent
            = numTestsConfigured > 0 ? static_cast<int>(std::lround(100.0 * handled / numTestsConfigured)) : 100;
        observer.closingProgress("Closing " + SlotDisplayName(slot), percent);
        const EngineInfo* engine = EngineFor(slot);
        int limit = engine ? engine->stopLimitMs : 1000;
        while (acquireLoad(ctx.run.threadData[slot].running) > 0) {
            CTest_Base::Sleep(500);
            limit -= 500;
            observer.processEvents();
            if (limit < 0) {
                DPrintf("%s, %s[%d]: %s did not stop in time; left running\n", KVX_WHERE, SlotName(slot));
                break;
            }
        }
        if (handled == 1) {
            relaxedStore(ctx.results.run_stop_time, static_cast<std::int32_t>(std::time(nullptr)));
            observer.stopTimeSet();
        }
    }
    if (automatic)
        VDPrintf("%s, %s[%d]: Test stopped automatically\n", KVX_WHERE);
    else
        VDPrintf("%s, %s[%d]: Test stopped by user\n", KVX_WHERE);
    for (int slot = 0; slot < kNumSlots; ++slot)
        if (performTest(ctx.config, slot))
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

int TotalErrors(const RunContext& ctx)
{
    int total = 0;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (!performTest(ctx.config, slot))
            continue;
        total += static_cast<int>(relaxedLoad(ctx.results.accum_results[slot].errors));
        if (ctx.run.stopAllTests == 0)
            total += static_cast<int>(relaxedLoad(ctx.results.results[slot].errors));
    }
    return total;
}

bool AnyTestThreadAlive(const Run& run)
{
    if (run.testsRunning.load() > 0)
        return true;
    for (int slot = 0; slot < kNumSlots; ++slot)
        if (run.threadsAlive(slot) > 0)
            return true;
    return false;
}

void ClearAllResults(const RunContext& ctx)
{
    Clear_Results_Buffer();
    Clear_Error_Summary();
    const std::string path = ctx.programDir + "/.accum_result.cfg";
    ::unlink(path.c_str());
}
