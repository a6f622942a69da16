// The numbered test slots and the per-slot state shared by the GUI thread
// and the test threads.
#pragma once

#include "ConfigRecord.h"

#include "EngineInfo.h"

#include <atomic>
#include <ctime>
#include <pthread.h>
#include <sys/time.h>

constexpr int kNumNamedSlots = 158;

class RunContext;

struct TestThreadRecord {
    pthread_t thread;
    int test_id;
    int instance;
    // Threads inside the slot's thread entry: 1 for a single-thread test;
    // the maths slot counts each of its threads.
    int running;
    // 1 when the run started the thread with the slot marked launching, so
    // a stop that comes before the thread is up is not undone by it.
    int launchedByRun;
    // The slot's generation the run launched the thread in.
    unsigned generation;
    // 1 when the record is the thread's own copy, freed by the thread.
    int ownedByThread;
    // What the thread's engine is given; set by whoever starts the thread.
    const RunContext* context;
};

struct TestModuleRecord {
    timeval start_time;
    timeval stop_time;
};

// 1 while the slot's test should keep running. Read and written through
// relaxedLoad/relaxedStore (AtomicField.h) only.
extern int thread_active[kNumSlots];
extern TestThreadRecord gThreadData[kNumSlots];
extern TestModuleRecord gTestModules[kNumSlots];

// Test threads inside their test; changed by several threads at once.
extern std::atomic<int> tests_running;
// 1 while no run is active or a stop is in progress. GUI thread only.
extern int stop_all_tests;

// Thread entries by slot; null where the slot has no test of its own.
extern ThreadEntry ChildProc[kNumNamedSlots];

// True when `slot` takes part in a run: selected, not a group's end marker,
// and for a group member the group switch is exactly 1. Any thread.
bool performTest(int slot);

// The group a unit slot belongs to: its first slot and its switch slot, or
// false when `slot` is not a group member.
bool SlotGroup(int slot, int* firstSlot, int* switchSlot);

// True when the run has reached its automatic stop at time `now`. GUI thread.
bool KVXComplete(std::time_t now);
bool KVXComplete();

// Slot state helpers; any thread.
bool SlotActive(int slot);
void SetSlotActive(int slot, bool active);

// thread_active while a launched thread is not yet up: not active, not
// stopped either.
constexpr int kSlotLaunching = 2;
void SetSlotLaunching(int slot);
// A launched thread takes its slot from launching to active; false when a
// stop (0) came first, which then stands. Test thread.
bool ClaimSlotActive(int slot);

// Generations: every Start moves each slot to a new generation, and a
// thread belongs to the generation it was launched in. A thread abandoned
// at a stop that ends during a later run is of an older generation: it is
// not active, counts nothing, and hands back nothing of the new run.
//
// The slot's current generation. Any thread.
unsigned SlotGeneration(int slot);
// Moves every slot to a new generation and zeroes the thread records, so
// the threads still alive from earlier runs are older. GUI thread, at Start.
void NewRunGeneration();
// A test thread enters its slot in `generation`: counted in `running` when
// that is the slot's current generation. False for an older one.
bool EnterSlot(int slot, unsigned generation);
// The thread leaves: `running` falls and the slot is handed back, both only
// when `generation` is still current.
void LeaveSlot(int slot, unsigned generation);
// Waits while a thread of an older generation is still alive on the slot
// (its files, memory or device are not yet released), as long as the slot
// is not stopped. True when the slot is free. Test thread.
bool WaitForOlderThreads(int slot, unsigned generation);
// Threads of any generation alive on the slot.
int SlotThreadsAlive(int slot);
