#include "TestSlots.h"

#include "AtomicField.h"
#include "ResultRecord.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

int thread_active[kNumSlots];
TestThreadRecord gThreadData[kNumSlots];
TestModuleRecord gTestModules[kNumSlots];
std::atomic<int> tests_running { 0 };
int stop_all_tests = 1;

ThreadEntry ChildProc[kNumNamedSlots] = {};

namespace {

void setEntries(int first, int last, ThreadEntry entry)
{
    for (int slot = first; slot <= last; ++slot)
        ChildProc[slot] = entry;
}

// Each engine's thread entry at its slots; the program adds the graphics
// tests' entries at start-up.
[[maybe_unused]] const bool kEntriesSet = [] {
    for (const EngineInfo* engine : Engines())
        if (engine->entry)
            setEntries(engine->firstSlot, engine->firstSlot + engine->units - 1, engine->entry);
    return true;
}();

bool isSwitchSlot(int slot)
{
    for (const EngineInfo* engine : Engines())
        if (engine->switchSlot == slot)
            return true;
    return false;
}

} // namespace

bool SlotGroup(int slot, int* firstSlot, int* switchSlot)
{
    const EngineInfo* engine = EngineFor(slot);
    if (!engine || engine->switchSlot < 0)
        return false;
    if (firstSlot)
        *firstSlot = engine->firstSlot;
    if (switchSlot)
        *switchSlot = engine->switchSlot;
    return true;
}

bool performTest(int slot)
{
    if (slot < 0 || slot >= kNumSlots)
        return false;
    if (relaxedLoad(testconfig.test_enabled[slot]) == 0)
        return false;
    if (isSwitchSlot(slot))
        return false;
    int switchSlot = 0;
    if (SlotGroup(slot, nullptr, &switchSlot))
        return relaxedLoad(testconfig.test_enabled[switchSlot]) == 1;
    return true;
}

bool SlotActive(int slot)
{
    return relaxedLoad(thread_active[slot]) == 1;
}

void SetSlotActive(int slot, bool active)
{
    relaxedStore(thread_active[slot], active ? 1 : 0);
}

void SetSlotLaunching(int slot)
{
    relaxedStore(thread_active[slot], kSlotLaunching);
}

bool ClaimSlotActive(int slot)
{
    std::atomic_ref<int> flag(thread_active[slot]);
    int value = flag.load(std::memory_order_relaxed);
    while (value == kSlotLaunching)
        if (flag.compare_exchange_weak(value, 1, std::memory_order_relaxed))
            return true;
    return value == 1;
}

namespace {

// Entries and exits of the test threads, per slot. `current` counts the
// alive threads of the slot's generation, `older` those of earlier ones.
struct SlotLives {
    std::mutex mutex;
    std::condition_variable left;
    std::atomic<unsigned> generation[kNumSlots] {};
    int current[kNumSlots] {};
    int older[kNumSlots] {};
};

SlotLives& lives()
{
    // Never destroyed: an abandoned thread may leave after exit begins.
    static SlotLives* const l = new SlotLives;
    return *l;
}

} // namespace

unsigned SlotGeneration(int slot)
{
    return lives().generation[slot].load(std::memory_order_relaxed);
}

void NewRunGeneration()
{
    SlotLives& l = lives();
    std::lock_guard lock(l.mutex);
    for (int slot = 0; slot < kNumSlots; ++slot) {
        l.generation[slot].fetch_add(1, std::memory_order_relaxed);
        l.older[slot] += l.current[slot];
        l.current[slot] = 0;
        TestThreadRecord& rec = gThreadData[slot];
        relaxedStore(rec.running, 0);
        relaxedStore(rec.test_id, 0);
        relaxedStore(rec.instance, 0);
        relaxedStore(rec.launchedByRun, 0);
        relaxedStore(rec.generation, 0u);
        relaxedStore(rec.ownedByThread, 0);
    }
}

bool EnterSlot(int slot, unsigned generation)
{
    SlotLives& l = lives();
    std::lock_guard lock(l.mutex);
    if (generation != l.generation[slot].load(std::memory_order_relaxed)) {
        ++l.older[slot];
        return false;
    }
    ++l.current[slot];
    relaxedAdd(gThreadData[slot].running, 1);
    return true;
}

void LeaveSlot(int slot, unsigned generation)
{
    SlotLives& l = lives();
    {
        std::lock_guard lock(l.mutex);
        if (generation == l.generation[slot].load(std::memory_order_relaxed)) {
            --l.current[slot];
            SetSlotActive(slot, false);
            // The thread's last word: the stop polls this with acquire.
            releaseAdd(gThreadData[slot].running, -1);
        } else {
            --l.older[slot];
        }
    }
    l.left.notify_all();
}

bool WaitForOlderThreads(int slot, unsigned generation)
{
    SlotLives& l = lives();
    std::unique_lock lock(l.mutex);
    for (;;) {
        if (generation != l.generation[slot].load(std::memory_order_relaxed) || relaxedLoad(thread_active[slot]) == 0)
            return false;
        if (l.older[slot] == 0)
            return true;
        // A stop only clears the flag and signals nothing: look again soon.
        l.left.wait_for(lock, std::chrono::milliseconds(100));
    }
}

int SlotThreadsAlive(int slot)
{
    SlotLives& l = lives();
    std::lock_guard lock(l.mutex);
    return l.current[slot] + l.older[slot];
}

bool KVXComplete(std::time_t now)
{
    const float minutes = relaxedLoad(testconfig.auto_stop_time);
    bool timeRule = false;
    if (minutes != 0.0f) {
        const double elapsed = static_cast<double>(now - relaxedLoad(resultfile.run_start_time));
        timeRule = elapsed >= static_cast<double>(minutes) * 60.0;
    }
    const std::uint32_t cycles = static_cast<std::uint32_t>(relaxedLoad(testconfig.auto_stop_cycles));
    if (cycles == 0)
        return timeRule;

    // Every slot whose test is still running must have done the cycles. A
    // slot counts once however many threads it has, and slots without a
    // running test (no engine, or one that ended by itself) are passed over:
    // they would otherwise keep the run from ever completing. With nothing
    // running at all the rule is met.
    int running = 0;
    int done = 0;
    for (int slot = 0; slot < kNumNamedSlots - 1; ++slot) {
        if (!performTest(slot) || !SlotActive(slot))
            continue;
        ++running;
        if (relaxedLoad(resultfile.results[slot].cycles) >= cycles)
            ++done;
    }
    const bool cycleRule = done == running;
    return timeRule || cycleRule;
}

bool KVXComplete()
{
    return KVXComplete(std::time(nullptr));
}
