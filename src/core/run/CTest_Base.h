// Base of every test engine, and the thread entry that runs one.
//
// Typical usage (one engine instance per test thread and run):
//   1. The GUI thread starts the slot's thread entry (ctx.entryFor) on a
//      TestThreadRecord (StartTestThreads); the entry calls RunTestThread.
//   2. RunTestThread, on the test thread, creates the engine and calls its
//      test_entry(instance).
//   3. test_entry calls BeginTest(), then loops while Active(): one cycle of
//      work, Pause() for the duty-cycle delay between operations, CountCycle()
//      after each completed cycle, RecordError() for each error found; then
//      EndTest(). RunFrame() does exactly this around a cycle function.
//   4. The GUI thread asks for a stop only by clearing the run's
//      threadActive[slot] and then polls threadData[slot].running until it
//      falls.
//   5. RunTestThread destroys the engine and hands the slot back, unless a
//      later Start has moved the slot to a new generation (Run.h):
//      an abandoned thread then leaves the new run alone.
//
// Threadsafety: an engine is used by its own thread only. The counters it
// updates are shared with the GUI thread through atomic accesses.
#pragma once

#include "DutyPacer.h"
#include "Run.h"
#include "RunContext.h"
#include "TestSlots.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

// The body of every thread entry: marks the record running, creates the
// engine with `make`, runs its test_entry, destroys it, and hands the slot
// back (testsRunning, threadActive, running) in the record's context's run.
// `entryName` names the entry in the debug trace. Test thread.
void* RunTestThread(TestThreadRecord* record, const char* entryName, EngineFactory make);

// Starts `count` threads of `slot`'s thread entry in ctx's run, thread n
// as unit `instance + n`, each on its own record, with the slot marked
// launching unless it is already active. Their handles go to `handles`
// (the caller joins them) or the threads are detached. Returns how many
// started. GUI thread.
int StartTestThreads(const RunContext& ctx, int slot, int instance, int count, pthread_t* handles = nullptr);

class CTest_Base {
public:
    // Sleep slice lengths, in milliseconds.
    static constexpr int kSliceDefault = 100;
    static constexpr int kSliceCdDvd = 200;
    static constexpr int kSliceGraphics = 10;

    CTest_Base(const RunContext& ctx, int testID, int waitSlice);
    virtual ~CTest_Base();
    CTest_Base(const CTest_Base&) = delete;
    CTest_Base& operator=(const CTest_Base&) = delete;

    // The test itself; returns when the test ends. Test thread.
    virtual void test_entry(int instance) = 0;

    // Sleeps up to `ms` in slices, ending early when the slot is asked to
    // stop. Test thread.
    void WaitMsecs(int ms);
    // Sleeps `ms` unconditionally. Any thread.
    static void Sleep(int ms);

    // True while the slot should keep running. Read fresh on every call.
    bool Active() const { return m_ctx.run.slotActive(m_testID) && Current(); }
    // False once a later run has taken the slot: the engine then ends and
    // touches nothing of that run.
    bool Current() const { return m_generation == kAnyGeneration || m_generation == m_ctx.run.generation(m_testID); }

    int testID() const { return m_testID; }
    // The slot generation the engine belongs to.
    unsigned slotGeneration() const
    {
        return m_generation == kAnyGeneration ? m_ctx.run.generation(m_testID) : m_generation;
    }
    const RunContext& context() const { return m_ctx; }
    const char* testName() const { return m_testName; }

    // The delay between operations for duty cycle `duty` (clamped to
    // 1..100): 50000 / duty - 500 ms.
    static int DutyDelayMs(int duty);

protected:
    // The common start of a test: counts it as running, marks the slot
    // active, traces, waits `startWaitMs` once, logs "Starting test" and
    // takes the start time.
    void BeginTest(int startWaitMs);
    // Counts the test as running and marks the slot active only (for tests
    // whose own start differs).
    void MarkRunning();
    // Logs "Starting test" and takes the start time.
    void LogStart();
    // Logs "Stopping test" and takes the stop time.
    void EndTest();

    // The duty cycle's pause `pacer` owes now, if any, slept to the
    // millisecond (not in whole slices) and ended early by a stop.
    void Pace(DutyPacer& pacer);

    // Sleeps the duty-cycle delay of `slot`'s configured duty cycle.
    void Pause(int dutySlot) { WaitMsecs(DutyDelayMs(SlotDutyCycle(testconfig, dutySlot))); }

    // One formatted event-log line under `name` at `level` (see AddLine).
    void LogLine(int level, const char* name, const char* fmt, ...) __attribute__((format(printf, 4, 5)));

    void CountCycle() { AddSlotCycle(); }
    void CountOperations(std::uint64_t n);
    // Counts, classifies and logs an error under the event log's test index.
    void RecordError(int code, int logTest);

    // Runs BeginTest, then `cycle` while the slot is active (counting each
    // cycle for which it returns true), then EndTest.
    template <class Cycle> void RunFrame(int startWaitMs, Cycle&& cycle)
    {
        BeginTest(startWaitMs);
        while (Active()) {
            if (cycle() && Active())
                CountCycle();
        }
        EndTest();
    }

    const RunContext& m_ctx;
    std::condition_variable m_wait;
    std::mutex m_waitMutex;
    int m_waitSlice;
    int m_testID;
    char m_testName[256];

private:
    friend void* RunTestThread(TestThreadRecord*, const char*, EngineFactory);
    void AddSlotCycle();
    // Set once the test counted itself in testsRunning.
    bool m_counted = false;
    // The run launched the thread: MarkRunning claims the slot instead of
    // setting it, so an early stop is kept.
    bool m_launchedByRun = false;
    // The slot generation the thread runs in; engines made outside a thread
    // entry follow whatever run there is.
    static constexpr unsigned kAnyGeneration = ~0u;
    unsigned m_generation = kAnyGeneration;
};

// The process-wide wait that is never signalled: a plain timed sleep.
void WaitOnGlobal(int ms);
