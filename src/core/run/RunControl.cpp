#include "RunControl.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Base.h"
#include "DebugTrace.h"
#include "ErrorClassification.h"
#include "MessageBox.h"
#include "ProcessRun.h"
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

// The parallel port test runs on the configured port, not on a unit.
int unitInstance(const RunContext& ctx, const EngineInfo& engine, int slot)
{
    if (&engine == &kParallelPortEngine)
        return relaxedLoad(ctx.config.parallel_port_number);
    return engine.unitOf(slot);
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
            if (performTest(ctx.config, engine->slotOf(unit))) {
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

int StartRun(const RunContext& ctx, RunObserver& observer)
{
    VDPrintf("%s, %s[%d]: Test started, testconfig.auto_stop_time = %f, testconfig.auto_stop_cycles = %d\n", KVX_WHERE,
        static_cast<double>(relaxedLoad(ctx.config.auto_stop_time)), relaxedLoad(ctx.config.auto_stop_cycles));
    ctx.run.newGeneration();
    LoadAccumulatedResults(ctx.programDir.c_str());
    ClearCurrentResults();
    ctx.run.stopAllTests = 0;
    ctx.run.health.start(ctx);

    int configured = 0;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (!performTest(ctx.config, slot))
            continue;
        DPrintf("Test Configured[%d]: %s\n", slot, SlotName(slot));
        if (const EngineInfo* engine = EngineFor(slot); engine && engine->traceText)
            DPrintf("%s", engine->traceText(ctx, engine->unitOf(slot)).c_str());
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
    if (ctx.log)
        ctx.log->AddLine("Completed started test run", 0, 0, nullptr, 1);
    return configured;
}

int StopWaitLimitMs(int slot)
{
    const EngineInfo* engine = EngineFor(slot);
    return engine ? engine->stopLimitMs : 1000;
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
        observer.closingProgress("Closing " + SlotDisplayName(ctx, slot), percent);
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
    // Hardware errors the stop itself brings out still count.
    ctx.run.health.stop();
    if (automatic)
        VDPrintf("%s, %s[%d]: Test stopped automatically\n", KVX_WHERE);
    else
        VDPrintf("%s, %s[%d]: Test stopped by user\n", KVX_WHERE);
    for (int slot = 0; slot < kNumSlots; ++slot)
        if (performTest(ctx.config, slot))
            observer.deleteWindow(slot);

    if (ctx.log) {
        ctx.log->AddLine("Test run stopped", 0, 0, nullptr, 1);
        ctx.log->SaveLogs();
        if (relaxedLoad(ctx.config.logging_enabled)) {
            ctx.log->saveresultsummary();
            ctx.log->saveerrorsummary(false, false, -1);
            ctx.log->flushtologfile();
        }
    }
}

bool SlotTakesPart(const RunContext& ctx, int slot)
{
    return performTest(ctx.config, slot) || (slot == HealthSlot() && ctx.run.health.monitored());
}

int TotalErrors(const RunContext& ctx)
{
    int total = 0;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (!SlotTakesPart(ctx, slot))
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
