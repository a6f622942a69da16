#include "TestSlots.h"

#include "AtomicField.h"
#include "CTest_CDROM.h"
#include "CTest_Disk.h"
#include "CTest_Math.h"
#include "CTest_ParallelPort.h"
#include "CTest_SerialPort.h"
#include "CTest_Network.h"
#include "CTest_Memory.h"
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

const char* const test_names[kNumNamedSlots] = {
    "Start Marker", // 0
    "CPU - Maths", // 1
    "CPU - MMX / SSE", // 2
    "Memory (RAM)", // 3
    "2D Graphics", // 4
    "3D Graphics", // 5
    // 6-25
    "Disk", "Disk", "Disk", "Disk", "Disk", "Disk", "Disk", "Disk", "Disk", "Disk", "Disk", "Disk", "Disk", "Disk",
    "Disk", "Disk", "Disk", "Disk", "Disk", "Disk",
    "Disk end marker", // 26
    "Floppy Disk", // 27
    // 28-31
    "Network", "Network", "Network", "Network",
    "Network end marker", // 32
    // 33-52
    "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD",
    "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD", "CD/DVD",
    "CD End Marker", // 53
    "Sound", // 54
    "Sound future", // 55
    "Printer", // 56
    // 57-69
    "Test", "Test", "Test", "Test", "Test", "Test", "Test", "Test", "Test", "Test", "Test", "Test", "Test",
    "Parallel Port", // 70
    "Parallel Port 2", // 71
    "Keyboard", // 72
    "Mouse", // 73
    "Tape", // 74
    "USB Plug 1", // 75
    "USB Plug 2", // 76
    "USB Plug 3", // 77
    "USB Plug 4", // 78
    "USB Plug 5", // 79
    "USB Plug 6", // 80
    "USB Plug 7", // 81
    "USB Plug 8", // 82
    "USB Plug 9", // 83
    "USB Plug 10", // 84
    "USB End Marker", // 85
    "Video Playback", // 86
    "Plugin", // 87
    // 88-89
    "Dummy", "Dummy",
    // 90-153
    "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port",
    "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port",
    "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port",
    "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port",
    "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port",
    "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port",
    "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port",
    "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port",
    "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port", "Serial Port",
    "Serial Port",
    "Serial end marker", // 154
    "Advanced Net", // 155
    "Advanced Net end marker", // 156
    "Marker End", // 157
};

ThreadEntry ChildProc[kNumNamedSlots] = {};

namespace {

void setEntries(int first, int last, ThreadEntry entry)
{
    for (int slot = first; slot <= last; ++slot)
        ChildProc[slot] = entry;
}

// Every core test engine has one line here: its thread entry at its slots.
// Adding an engine touches its CTest_<Name>.{h,cpp} pair, this table,
// src/core/CMakeLists.txt and its test file under tests/core. Engines that
// need the GUI libraries register themselves from the program at start-up.
[[maybe_unused]] const bool kEntriesSet = [] {
    setEntries(kSlotMaths, kSlotMaths, Test_Thread_Math);
    setEntries(kSlotCdFirst, kSlotCdFirst + kNumCdDrives - 1, Test_Thread_CDROM);
    setEntries(kSlotParallel, kSlotParallel, Test_Thread_ParallelPort);
    setEntries(kSlotSerialFirst, kSlotSerialFirst + kNumSerialPorts - 1, Test_Thread_SerialPort);
    setEntries(kSlotNetworkFirst, kSlotNetworkFirst + kNumNetworkAddresses - 1, Test_Thread_Network);
    setEntries(kSlotMemory, kSlotMemory, Test_Thread_Mem);
    setEntries(kSlotDiskFirst, kSlotDiskFirst + kNumDisks - 1, Test_Thread_Disk);
    return true;
}();

struct Group {
    int first, last, switchSlot;
};
constexpr Group kGroups[] = { { 6, 25, 26 }, { 28, 31, 32 }, { 33, 52, 53 }, { 90, 153, 154 } };

} // namespace

bool SlotGroup(int slot, int* firstSlot, int* switchSlot)
{
    for (const Group& g : kGroups) {
        if (slot >= g.first && slot <= g.last) {
            if (firstSlot)
                *firstSlot = g.first;
            if (switchSlot)
                *switchSlot = g.switchSlot;
            return true;
        }
    }
    return false;
}

bool performTest(int slot)
{
    if (slot < 0 || slot >= kNumSlots)
        return false;
    if (relaxedLoad(testconfig.test_enabled[slot]) == 0)
        return false;
    for (const Group& g : kGroups)
        if (slot == g.switchSlot)
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
