// A test engine that does no I/O: it counts cycles and operations, and can
// be told to fail, to stop by itself after some cycles, or to sleep long
// inside its delay, so the thread protocol is tested fast and exactly.
#pragma once

#include "CTest_Base.h"

#include <atomic>
#include <chrono>
#include <memory>

struct NullEngineScript {
    int startWaitMs = 0;
    int cyclesToRun = -1; // stop by itself after this many (-1: until asked)
    int opsPerCycle = 1;
    int errorCode = 0; // recorded once per cycle when not 0
    int delayMs = 0; // WaitMsecs between cycles
    std::atomic<int> hangMs { 0 }; // a sleep that ignores the stop request
    int hangSlot = -1; // the slot that hangs; -1: every slot
    int beforeUpMs = 0; // the thread's sleep before its engine exists
    std::atomic<int> lateErrorCode { 0 }; // recorded after the hang: a find of the last pass
    std::atomic<long> lastWaitMs { -1 };
    // Engines alive at once on watchSlot, now and at most.
    int watchSlot = -1;
    std::atomic<int> watchAlive { 0 }, watchMostAlive { 0 };
};

extern NullEngineScript gNullScript;

// The null engine as a test build lists it: one unit on a slot no real
// engine uses.
extern const EngineInfo kNullEngine;

class NullEngine : public CTest_Base {
public:
    NullEngine(const RunContext& ctx, int slot, int slice)
        : CTest_Base(ctx, slot, slice)
    {
        if (slot == gNullScript.watchSlot) {
            const int now = ++gNullScript.watchAlive;
            int most = gNullScript.watchMostAlive.load();
            while (now > most && !gNullScript.watchMostAlive.compare_exchange_weak(most, now)) { }
        }
    }
    ~NullEngine() override
    {
        if (testID() == gNullScript.watchSlot)
            --gNullScript.watchAlive;
    }
    void test_entry(int /*instance*/) override
    {
        if (gNullScript.cyclesToRun >= 0) {
            // A fixed amount of work, then the test ends by itself.
            BeginTest(gNullScript.startWaitMs);
            for (int i = 0; i < gNullScript.cyclesToRun; ++i)
                oneCycle(), CountCycle();
            EndTest();
            return;
        }
        RunFrame(gNullScript.startWaitMs, [this] { return oneCycle(); });
    }

private:
    bool oneCycle()
    {
        CountOperations(static_cast<std::uint64_t>(gNullScript.opsPerCycle));
        if (gNullScript.errorCode)
            RecordError(gNullScript.errorCode, 8);
        if (gNullScript.hangMs && (gNullScript.hangSlot < 0 || gNullScript.hangSlot == testID())) {
            CTest_Base::Sleep(gNullScript.hangMs);
            if (gNullScript.lateErrorCode)
                RecordError(gNullScript.lateErrorCode, 8);
        }
        if (gNullScript.delayMs) {
            const auto t0 = std::chrono::steady_clock::now();
            WaitMsecs(gNullScript.delayMs);
            gNullScript.lastWaitMs
                = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        }
        return true;
    }
};

inline void* Test_Thread_Null(void* arg)
{
    CTest_Base::Sleep(gNullScript.beforeUpMs);
    return RunTestThread(static_cast<TestThreadRecord*>(arg), "Test_Thread_Null",
        [](const RunContext& ctx, int, int slot) -> std::unique_ptr<CTest_Base> {
            return std::make_unique<NullEngine>(ctx, slot, CTest_Base::kSliceDefault);
        });
}
