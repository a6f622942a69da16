// The numbered test slots: the records a run keeps per slot (owned by the
// Run) and which slots take part in a run.
#pragma once

#include "ConfigRecord.h"

#include "EngineInfo.h"

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
    // a slot with several threads counts each of them.
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

// True when `slot` takes part in a run of `config`: selected, not a group's
// end marker, and for a group member the group switch is exactly 1. Any
// thread.
bool performTest(const _testconfig& config, int slot);

// The group a unit slot belongs to: its first slot and its switch slot, or
// false when `slot` is not a group member.
bool SlotGroup(int slot, int* firstSlot, int* switchSlot);

// True when the run has reached its automatic stop at time `now`. GUI thread.
bool KVXComplete(const RunContext& ctx, std::time_t now);
bool KVXComplete(const RunContext& ctx);
