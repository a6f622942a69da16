#include "CTest_Base.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "Results.h"
#include "Startup.h"

#include <chrono>
#include <cstring>

namespace {
std::mutex g_waitMutex;
std::condition_variable g_wait;

// Waits out `ms` on a condition nobody signals. A spurious wake-up must not
// shorten the sleep, so the wait runs to its deadline.
void sleepOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (cv.wait_until(lock, deadline) != std::cv_status::timeout) {
    }
}

} // namespace

void WaitOnGlobal(int ms)
{
    if (ms <= 0)
        return;
    std::unique_lock lock(g_waitMutex);
    sleepOn(g_wait, lock, ms);
}

CTest_Base::CTest_Base(int testID, int waitSlice)
    : m_waitSlice(waitSlice > 0 ? waitSlice : kSliceDefault)
    , m_testID(testID)
    , m_testName {}
{
    if (testID >= 0 && testID < kNumNamedSlots)
        std::snprintf(m_testName, sizeof m_testName, "%s", test_names[testID]);
}

CTest_Base::~CTest_Base()
{
    DPrintf("Destructing %s\n", m_testName);
}

void CTest_Base::WaitMsecs(int ms)
{
    if (ms <= 0)
        return;
    std::unique_lock lock(m_waitMutex);
    do {
        // Never signalled: each wait is one slice of sleep.
        sleepOn(m_wait, lock, m_waitSlice);
        ms -= m_waitSlice;
    } while (Active() && ms > 0);
}

void CTest_Base::Sleep(int ms)
{
    if (ms <= 0)
        return;
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock lock(m);
    sleepOn(cv, lock, ms);
}

int CTest_Base::DutyDelayMs(int duty)
{
    return 50000 / ClampDutyCycle(duty) - 500;
}

void CTest_Base::MarkRunning()
{
    if (!m_counted)
        ++tests_running;
    m_counted = true;
    SetSlotActive(m_testID, true);
}

void CTest_Base::LogStart()
{
    if (gLogger)
        gLogger->AddLine("Starting test\n", -1, 0, test_names[m_testID], 3);
    gettimeofday(&gTestModules[m_testID].start_time, nullptr);
}

void CTest_Base::BeginTest(int startWaitMs)
{
    MarkRunning();
    DPrintf("%s, %s[%d]: %s starts\n", KVX_WHERE, m_testName);
    WaitOnGlobal(startWaitMs);
    LogStart();
}

void CTest_Base::EndTest()
{
    if (gLogger)
        gLogger->AddLine("Stopping test\n", -1, 0, test_names[m_testID], 3);
    gettimeofday(&gTestModules[m_testID].stop_time, nullptr);
}

void CTest_Base::AddSlotCycle()
{
    AddCycle(m_testID);
}

void CTest_Base::CountOperations(std::uint64_t n)
{
    AddOperations(m_testID, n);
}

void CTest_Base::RecordError(int code, int logTest)
{
    ::RecordError(m_testID, code, logTest);
}

void* RunTestThread(TestThreadRecord* record, const char* entryName, EngineFactory make)
{
    const int slot = record->test_id;
    const int instance = record->instance;
    relaxedAdd(record->running, 1);
    bool counted = false;
    {
        std::unique_ptr<CTest_Base> engine = make(instance, slot);
        if (engine) {
            engine->test_entry(instance);
            counted = engine->m_counted;
        }
    }
    // A test that ended before counting itself must not be taken off.
    if (counted)
        --tests_running;
    DPrintf("%s before pthread_exit\n", entryName);
    SetSlotActive(slot, false);
    releaseAdd(record->running, -1);
    return nullptr;
}
