#include "RunControl.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Base.h"
#include "CTest_Math.h"
#include "DebugTrace.h"
#include "ErrorClassification.h"
#include "MessageBox.h"
#include "ProcessRun.h"
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

std::string PreRunWarningText(const RunContext& ctx)
{
    std::string text
        = "Warning: You are about to start a series of tests that is designed\nto test the reliability of your "
          "computer hardware. To avoid data\nloss due to unreliabe hardware, please ensure you have adequate\nbackups "
          "of your data before running these tests.\n(see the Online Help for more information).\n";
    for (const EngineInfo* engine : Engines()) {
        if (!engine->preRunNote)
            continue;
        for (int unit = 0; unit < engine->units; ++unit) {
            if (performTest(engine->slotOf(unit))) {
                text += engine->preRunNote(ctx);
                break;
            }
        }
    }
    return text;
}

std::string SlotDisplayName(const RunContext& ctx, int slot)
{
    std::string name = SlotName(slot);
    if (const EngineInfo* engine = EngineFor(slot); engine && engine->unitText)
        name += engine->unitText(ctx, engine->unitOf(slot));
    return name;
}

// For the stop, which has no context yet: a context over the same process
// records.
std::string SlotDisplayName(int slot)
{
    static ProcessRun process;
    return SlotDisplayName(process.ctx, slot);
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
        DPrintf("Test Configured[%d]: %s\n", slot, SlotName(slot));
        if (const EngineInfo* engine = EngineFor(slot); engine && engine->traceText)
            DPrintf("%s", engine->traceText(ctx, engine->unitOf(slot)).c_str());
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
    const EngineInfo* engine = EngineFor(slot);
    return engine ? engine->stopLimitMs : 1000;
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
