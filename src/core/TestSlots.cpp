#include "TestSlots.h"

int thread_active[kNumSlots];
TestThreadRecord gThreadData[kNumSlots];
TestModuleRecord gTestModules[kNumSlots];
std::atomic<int> tests_running {0};
int stop_all_tests = 1;
