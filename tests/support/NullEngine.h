// A test engine that does no I/O: it counts cycles and operations, and can
// be told to fail, to stop by itself after some cycles, or to sleep long
// inside its delay, so the thread protocol is tested fast and exactly.
#pragma once

#include "CTest_Base.h"

#include <atomic>

struct NullEngineScript {
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
// Back to the defaults. No null engine thread may be running.
void ResetNullScript();

// The null engine as a test build lists it: one unit on a slot no real
// engine uses.
extern const EngineInfo kNullEngine;

// Makes a NullEngine (CTest_Base) for the slot and runs it.
void* Test_Thread_Null(void* arg);
