// The list of engines, and the names of the numbered slots.
//
// Adding an engine touches:
//   1. its file pair, CTest_<Name>.{h,cpp} under src/core/engines, which
//      defines the engine, its live status and its EngineInfo descriptor;
//   2. one line in kEngines below (in slot order);
//   3. src/core/CMakeLists.txt;
//   4. its test file under tests/core.
// Nothing else: slot names, the pre-run warning, stop limits, the results
// table, the reports and the live windows all read this list.
#include "EngineInfo.h"
#include "ConfigRecord.h"
#include "TestSlots.h"

extern const EngineInfo kMathEngine, kMemoryEngine, kGraphics2DEngine, kGraphics3DEngine, kDiskEngine, kNetworkEngine,
    kCdDvdEngine, kParallelPortEngine, kSerialPortEngine;
#ifdef KVX_TEST_ENGINES
extern const EngineInfo kNullEngine;
#endif

namespace {

const EngineInfo* const kEngines[] = {
    &kMathEngine,
    &kMemoryEngine,
    &kGraphics2DEngine,
    &kGraphics3DEngine,
    &kDiskEngine,
    &kNetworkEngine,
    &kCdDvdEngine,
#ifdef KVX_TEST_ENGINES
    &kNullEngine,
#endif
    &kParallelPortEngine,
    &kSerialPortEngine,
};

// Slots of no engine keep the names the records and reports have always
// used for them.
const char* const kSlotNames[kNumNamedSlots] = {
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
    // 57-69; 58 counts the hardware health monitor's errors
    "Test", "Hardware health", "Test", "Test", "Test", "Test", "Test", "Test", "Test", "Test", "Test", "Test", "Test",
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

// Slots of no engine that share a neighbour's icon.
struct SharedIcon {
    int slot;
    const EngineInfo* owner;
};
const SharedIcon kSharedIcons[] = { { 2, &kMathEngine }, { 71, &kParallelPortEngine }, { 155, &kNetworkEngine } };

constexpr int kLastSummarySlot = 156;
constexpr int kHealthSlot = 58;
constexpr int kUsbPlugFirst = 75;
constexpr int kUsbPlugLast = 84;

} // namespace

int HealthSlot()
{
    return kHealthSlot;
}

std::span<const EngineInfo* const> Engines()
{
    return kEngines;
}

const EngineInfo* EngineFor(int slot)
{
    for (const EngineInfo* engine : kEngines)
        if (engine->has(slot))
            return engine;
    return nullptr;
}

const char* SlotName(int slot)
{
    if (const EngineInfo* engine = EngineFor(slot))
        return engine->name;
    return slot >= 0 && slot < kNumNamedSlots ? kSlotNames[slot] : "";
}

const char* SlotIcon(int slot)
{
    if (const EngineInfo* engine = EngineFor(slot))
        return engine->icon;
    for (const SharedIcon& shared : kSharedIcons)
        if (shared.slot == slot)
            return shared.owner->icon;
    return nullptr;
}

bool SummaryListsPlainSlot(int slot, int usbPlugCount)
{
    if (slot < 0 || slot > kLastSummarySlot)
        return false;
    return slot < kUsbPlugFirst || slot > kUsbPlugLast || slot - kUsbPlugFirst < usbPlugCount;
}
