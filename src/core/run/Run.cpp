#include "Run.h"

#include "AtomicField.h"
#include "EngineInfo.h"

#include <chrono>

Run::Run()
{
    for (const EngineInfo* engine : Engines())
        if (engine->makeLive)
            for (int unit = 0; unit < engine->units; ++unit)
                m_live[engine->slotOf(unit)] = engine->makeLive();
}

bool Run::slotActive(int slot) const
{
    return relaxedLoad(threadActive[slot]) == 1;
}

void Run::setSlotActive(int slot, bool active)
{
    relaxedStore(threadActive[slot], active ? 1 : 0);
}

void Run::setSlotLaunching(int slot)
{
    relaxedStore(threadActive[slot], kSlotLaunching);
}

bool Run::claimSlotActive(int slot)
{
    std::atomic_ref<int> flag(threadActive[slot]);
    int value = flag.load(std::memory_order_relaxed);
    while (value == kSlotLaunching)
        if (flag.compare_exchange_weak(value, 1, std::memory_order_relaxed))
            return true;
    return value == 1;
}

unsigned Run::generation(int slot) const
{
    return m_generation[slot].load(std::memory_order_relaxed);
}

void Run::newGeneration()
{
    std::lock_guard lock(m_mutex);
    for (int slot = 0; slot < kNumSlots; ++slot) {
        m_generation[slot].fetch_add(1, std::memory_order_relaxed);
        m_older[slot] += m_current[slot];
        m_current[slot] = 0;
        TestThreadRecord& rec = threadData[slot];
        relaxedStore(rec.running, 0);
        relaxedStore(rec.test_id, 0);
        relaxedStore(rec.instance, 0);
        relaxedStore(rec.launchedByRun, 0);
        relaxedStore(rec.generation, 0u);
        relaxedStore(rec.ownedByThread, 0);
    }
}

bool Run::enterSlot(int slot, unsigned generation)
{
    std::lock_guard lock(m_mutex);
    if (generation != m_generation[slot].load(std::memory_order_relaxed)) {
        ++m_older[slot];
        return false;
    }
    ++m_current[slot];
    relaxedAdd(threadData[slot].running, 1);
    return true;
}

void Run::leaveSlot(int slot, unsigned generation)
{
    {
        std::lock_guard lock(m_mutex);
        if (generation == m_generation[slot].load(std::memory_order_relaxed)) {
            --m_current[slot];
            setSlotActive(slot, false);
            // The thread's last word: the stop polls this with acquire.
            releaseAdd(threadData[slot].running, -1);
        } else {
            --m_older[slot];
        }
        // Under the lock, as in releaseSlot.
        m_left.notify_all();
    }
}

bool Run::waitForOlderThreads(int slot, unsigned generation)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (generation != m_generation[slot].load(std::memory_order_relaxed) || relaxedLoad(threadActive[slot]) == 0)
            return false;
        if (m_older[slot] == 0)
            return true;
        // A stop only clears the flag and signals nothing: look again soon.
        m_left.wait_for(lock, std::chrono::milliseconds(100));
    }
}

int Run::threadsAlive(int slot) const
{
    std::lock_guard lock(m_mutex);
    return m_current[slot] + m_older[slot];
}

void Run::holdSlot(int slot, unsigned generation)
{
    std::lock_guard lock(m_mutex);
    ++(generation == m_generation[slot].load(std::memory_order_relaxed) ? m_current : m_older)[slot];
}

void Run::releaseSlot(int slot, unsigned generation)
{
    // Signalled under the lock: once a waiter sees the slot free it may
    // free the run, and this thread must touch nothing of it by then.
    std::lock_guard lock(m_mutex);
    --(generation == m_generation[slot].load(std::memory_order_relaxed) ? m_current : m_older)[slot];
    m_left.notify_all();
}
