// What the run, the windows and the reports know of a test engine: one
// descriptor per engine, defined beside its code, and one list of them
// (EngineList.cpp). Slot ranges are known to the list and nowhere else.
#pragma once

#include <memory>
#include <span>
#include <string>

class CTest_Base;
class LiveStatus;
class RunContext;

// A POSIX thread start routine taking the slot's TestThreadRecord.
using ThreadEntry = void* (*)(void*);

// Creates the engine of `slot` for unit `instance`. Test thread.
using EngineFactory = std::unique_ptr<CTest_Base> (*)(const RunContext& ctx, int instance, int slot);

// The kind of live window a slot shows during a run; the GUI maps each
// kind to its window class.
enum class LiveWindowKind {
    None,
    Memory,
    Maths,
    Disk,
    Network,
    CdDvd,
    ParallelPort,
    SerialPort,
    Graphics2D,
    Graphics3D
};

struct EngineInfo {
    // The slots' display name, as the user, the event log and the reports
    // see it.
    const char* name;
    // Slots firstSlot .. firstSlot + units - 1, one unit each.
    int firstSlot;
    int units;
    // The slot whose switch turns the whole group on (1) or off; -1 when
    // the units are switched one by one.
    int switchSlot;
    // How long a stop waits for a unit's thread before abandoning it.
    int stopLimitMs;
    // What a unit is called in texts ("disk", "host", "port").
    const char* unitName;
    // The unit's part of the display name (": alias"); null: none.
    std::string (*unitText)(const RunContext& ctx, int unit);
    // The instructions added to the pre-run warning for the selected
    // units; null: none.
    std::string (*preRunNote)(const RunContext& ctx);
    LiveWindowKind window;
    // The results table's icon (a Qt resource path); null: none.
    const char* icon;
    // The thread entry the run starts for each unit; null when the front
    // end supplies it (engines that need the GUI libraries).
    ThreadEntry entry;
    // The unit's live values, owned by the run; null: none.
    std::unique_ptr<LiveStatus> (*makeLive)();
    // Every error code the engine raises.
    std::span<const int> errorCodes;
    // How many threads the run starts for a unit (unit n + thread i runs
    // as instance n + i); null: one.
    int (*threads)(const RunContext& ctx) = nullptr;
    // The unit's line in the debug trace when a run starts ("Disk #0:
    // Cyclic\n"); null: none.
    std::string (*traceText)(const RunContext& ctx, int unit) = nullptr;
    // The engine's name on a command line ("maths", "disk").
    const char* commandName = nullptr;
    // Why this process may not run the engine (a privilege it lacks), or
    // null when it may.
    const char* (*missingPrivilege)() = nullptr;

    bool has(int slot) const { return slot >= firstSlot && slot < firstSlot + units; }
    int unitOf(int slot) const { return slot - firstSlot; }
    int slotOf(int unit) const { return firstSlot + unit; }
};

// Every engine, in slot order. Any thread.
std::span<const EngineInfo* const> Engines();
// The engine that owns `slot`, or null.
const EngineInfo* EngineFor(int slot);
// The slot the hardware health monitor counts on (no engine's).
int HealthSlot();
// The display name of a slot, engine or not. Any thread.
const char* SlotName(int slot);
// The results table's icon of a slot; null: none.
const char* SlotIcon(int slot);
// Whether the result summary may list `slot`, selected and of no engine:
// not past the last test slot, a USB plug only up to `usbPlugCount`.
bool SummaryListsPlainSlot(int slot, int usbPlugCount);
