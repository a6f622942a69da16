// Per-slot thread bookkeeping shared by the GUI thread and the test threads.
#pragma once

#include "ConfigRecord.h"

#include <atomic>
#include <pthread.h>
#include <sys/time.h>

struct TestThreadRecord {
    pthread_t thread;
    int test_id;
    int instance;
    int running;
};

struct TestModuleRecord {
    timeval start_time;
    timeval stop_time;
};

extern int thread_active[kNumSlots];
extern TestThreadRecord gThreadData[kNumSlots];
extern TestModuleRecord gTestModules[kNumSlots];

// Test threads inside their test; changed by several threads at once.
extern std::atomic<int> tests_running;
// 1 while no run is active or a stop is in progress. GUI thread only.
extern int stop_all_tests;
