#include "CTest_Base.h"

#include <cstdarg>
#include <cstdio>

#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "Results.h"
#include "Startup.h"

#include <cerrno>
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
    while (cv.wait_until(lock, deadline) != std::cv_status::timeout) { }
}

} // namespace

void WaitOnGlobal(int ms)
{
    if (ms <= 0)
        return;
    std::unique_lock lock(g_waitMutex);
    sleepOn(g_wait, lock, ms);
}

CTest_Base::CTest_Base(const RunContext& ctx, int testID, int waitSlice)
    : m_ctx(ctx)
    , m_waitSlice(waitSlice > 0 ? waitSlice : kSliceDefault)
    , m_testID(testID)
    , m_testName {}
{
    if (testID >= 0 && testID < kNumNamedSlots)
        std::snprintf(m_testName, sizeof m_testName, "%s", SlotName(testID));
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

void CTest_Base::Pace(DutyPacer& pacer)
{
    pacer.pace([this](int ms) {
        std::unique_lock lock(m_waitMutex);
        while (ms > 0 && Active()) {
            const int piece = std::min(ms, m_waitSlice);
            sleepOn(m_wait, lock, piece);
            ms -= piece;
        }
    });
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
    // The slot's flag belongs to a later run now.
    if (!Current())
        return;
    if (!m_counted)
        ++m_ctx.run.testsRunning;
    m_counted = true;
    if (m_launchedByRun)
        m_ctx.run.claimSlotActive(m_testID);
    else
        m_ctx.run.setSlotActive(m_testID, true);
}

void CTest_Base::LogStart()
{
    if (m_ctx.log && Current())
        m_ctx.log->AddLine("Starting test\n", -1, 0, SlotName(m_testID), 3);
    gettimeofday(&m_ctx.run.modules[m_testID].start_time, nullptr);
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
    if (m_ctx.log && Current())
        m_ctx.log->AddLine("Stopping test\n", -1, 0, SlotName(m_testID), 3);
    gettimeofday(&m_ctx.run.modules[m_testID].stop_time, nullptr);
}

void CTest_Base::LogLine(int level, const char* name, const char* fmt, ...)
{
    if (!m_ctx.log || !Current())
        return;
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    m_ctx.log->AddLine(line, -1, 0, name, level);
}

void CTest_Base::AddSlotCycle()
{
    if (Current())
        AddCycle(m_ctx.results, m_testID);
}

void CTest_Base::CountOperations(std::uint64_t n)
{
    if (Current())
        AddOperations(m_ctx.results, m_testID, n);
}

void CTest_Base::RecordError(int code, int logTest)
{
    if (Current())
        ::RecordError(m_ctx, m_testID, code, logTest);
}

void* RunTestThread(TestThreadRecord* record, const char* entryName, EngineFactory make)
{
    // Copy the fields at once: the starter may still be writing the
    // record's thread handle, and a shared record may be reused after this.
    const int slot = relaxedLoad(record->test_id);
    const int instance = relaxedLoad(record->instance);
    const bool launchedByRun = relaxedLoad(record->launchedByRun) != 0;
    const RunContext* ctx = record->context;
    if (!ctx) {
        DPrintf("%s, %s[%d]: %s started without a run\n", KVX_WHERE, entryName);
        if (relaxedLoad(record->ownedByThread))
            delete record;
        return nullptr;
    }
    Run& run = ctx->run;
    // A thread started outside a run (tests, tools) belongs to whatever
    // generation the slot is in.
    const unsigned generation = launchedByRun ? relaxedLoad(record->generation) : run.generation(slot);
    if (relaxedLoad(record->ownedByThread))
        delete record;
    record = nullptr;

    bool counted = false;
    // A thread launched after its run was replaced starts nothing.
    if (run.enterSlot(slot, generation)) {
        // Files, locked memory and devices of the slot may still be held by
        // a thread an earlier stop abandoned: start when it has let go.
        const bool free = !launchedByRun || run.waitForOlderThreads(slot, generation);
        if (!free)
            DPrintf("%s, %s[%d]: %s stopped while an earlier thread of slot %d was still alive\n", KVX_WHERE, entryName,
                slot);
        std::unique_ptr<CTest_Base> engine = free ? make(*ctx, instance, slot) : nullptr;
        if (engine) {
            engine->m_launchedByRun = launchedByRun;
            engine->m_generation = generation;
            engine->test_entry(instance);
            counted = engine->m_counted;
        }
    }
    // A test that ended before counting itself must not be taken off.
    if (counted)
        --run.testsRunning;
    DPrintf("%s before pthread_exit\n", entryName);
    run.leaveSlot(slot, generation);
    return nullptr;
}

int StartTestThreads(const RunContext& ctx, int slot, int instance, int count, pthread_t* handles)
{
    const EngineInfo* engine = EngineFor(slot);
    const ThreadEntry entry = engine ? ctx.entryFor(*engine) : nullptr;
    if (!entry)
        return 0;
    Run& run = ctx.run;
    relaxedStore(run.threadData[slot].test_id, slot);
    relaxedStore(run.threadData[slot].instance, instance);
    relaxedStore(run.threadData[slot].launchedByRun, 1);
    relaxedStore(run.threadData[slot].generation, run.generation(slot));
    // Unless already running, the slot waits for its first thread: a stop
    // in between is kept.
    if (!run.slotActive(slot))
        run.setSlotLaunching(slot);
    int started = 0;
    for (int n = 0; n < count; ++n) {
        // Each thread's own copy, freed by the thread: the slot's record is
        // zeroed by the next Start, which may come before an unlucky thread
        // is first scheduled.
        auto* rec = new TestThreadRecord {};
        rec->test_id = slot;
        rec->instance = instance + n;
        rec->launchedByRun = 1;
        rec->generation = run.generation(slot);
        rec->ownedByThread = 1;
        rec->context = &ctx;
        pthread_t thread;
        const int rc = pthread_create(&thread, nullptr, entry, rec);
        if (rc != 0) {
            delete rec;
            errno = rc;
            std::perror("pthread_create() failure.");
            continue;
        }
        if (handles)
            handles[started] = thread;
        else
            pthread_detach(thread); // nobody joins a test thread
        run.threadData[slot].thread = thread;
        ++started;
    }
    if (started == 0 && relaxedLoad(run.threadActive[slot]) == Run::kSlotLaunching)
        run.setSlotActive(slot, false);
    return started;
}
