// The numbered test slots and the per-slot state shared by the GUI thread
// and the test threads.
#pragma once

#include "ConfigRecord.h"

#include <atomic>
#include <ctime>
#include <pthread.h>
#include <sys/time.h>

constexpr int kNumNamedSlots = 158;

// Display names of slots 0..157, as the user, the event log and the reports
// see them.
extern const char* const test_names[kNumNamedSlots];

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

// A POSIX thread start routine taking the slot's TestThreadRecord.
using ThreadEntry = void* (*)(void*);
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
