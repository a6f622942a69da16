// One run's shared state: each slot's live status (written by the slot's
// engine, read by its window) and the thread states the run controller and
// the test threads share. The program keeps one Run for its whole life, so
// a thread abandoned at a stop still writes into memory that exists; a test
// makes its own and waits for its threads before it goes.
#pragma once

#include "ConfigRecord.h"
#include "HealthMonitor.h"
#include "LiveStatus.h"
#include "TestSlots.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

class Run {
public:
    // Makes the live status of every engine slot. Any thread, before the
    // run's threads start.
    Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // The live status of `slot` as its engine's type. Engines write it
    // (their own thread); windows read it.
    template <class L> L& live(int slot) const
    {
        L* status = slot >= 0 && slot < kNumSlots ? dynamic_cast<L*>(m_live[slot].get()) : nullptr;
        if (!status) {
            // A slot asked for with another engine's type: a bug of ours.
            std::fprintf(stderr, "Run::live: slot %d has no such live status\n", slot);
            std::abort();
        }
        return *status;
    }

    // 1 while the slot's test should keep running. Read and written through
    // relaxedLoad/relaxedStore (AtomicField.h) or the members below only.
    int threadActive[kNumSlots] {};
    // Each slot's thread record; `running` counts the threads inside it.
    TestThreadRecord threadData[kNumSlots] {};
    TestModuleRecord modules[kNumSlots] {};
    // Test threads inside their test; changed by several threads at once.
    std::atomic<int> testsRunning { 0 };
    // 1 while no run is active or a stop is in progress. GUI thread only.
    int stopAllTests = 1;
    // Temperatures, ECC counts and the kernel's hardware errors during the
    // run; started and stopped with it.
    HealthMonitor health;

    // Slot state; any thread.
    bool slotActive(int slot) const;
    void setSlotActive(int slot, bool active);
    // threadActive while a launched thread is not yet up: not active, not
    // stopped either.
    static constexpr int kSlotLaunching = 2;
    void setSlotLaunching(int slot);
    // A launched thread takes its slot from launching to active; false when
    // a stop (0) came first, which then stands. Test thread.
    bool claimSlotActive(int slot);

    // Generations: every Start moves each slot to a new generation, and a
    // thread belongs to the generation it was launched in. A thread
    // abandoned at a stop that ends during a later run is of an older
    // generation: it is not active, counts nothing, and hands back nothing
    // of the new run.
    //
    // The slot's current generation. Any thread.
    unsigned generation(int slot) const;
    // Moves every slot to a new generation and zeroes the thread records,
    // so the threads still alive from earlier runs are older. GUI thread,
    // at Start.
    void newGeneration();
    // A test thread enters its slot in `generation`: counted in `running`
    // when that is the slot's current generation. False for an older one.
    bool enterSlot(int slot, unsigned generation);
    // The thread leaves: `running` falls and the slot is handed back, both
    // only when `generation` is still current.
    void leaveSlot(int slot, unsigned generation);
    // Waits while a thread of an older generation is still alive on the
    // slot (its files, memory or device are not yet released), as long as
    // the slot is not stopped. True when the slot is free. Test thread.
    bool waitForOlderThreads(int slot, unsigned generation);
    // Threads of any generation alive on the slot.
    int threadsAlive(int slot) const;
    // Something of the slot outlives its thread (locked memory still being
    // released): alive in `generation` like a thread of it, without
    // `running`, so a stop need not wait for it but the next Start does.
    void holdSlot(int slot, unsigned generation);
    void releaseSlot(int slot, unsigned generation);

private:
    std::unique_ptr<LiveStatus> m_live[kNumSlots];
    // Entries and exits of the test threads, per slot. `m_current` counts
    // the alive threads of the slot's generation, `m_older` those of
    // earlier ones.
    mutable std::mutex m_mutex;
    std::condition_variable m_left;
    std::atomic<unsigned> m_generation[kNumSlots] {};
    int m_current[kNumSlots] {};
    int m_older[kNumSlots] {};
};
