// Starting, checking and stopping a run. The GUI keeps the timers and the
// windows and calls these from its thread; the controller talks to the test
// threads only through thread_active, the running counts and the results.
//
// Typical usage (GUI thread):
//   PreRunWarningText() -> box; StartRun(observer) -> start the timers;
//   every 3 s CheckRun(); on Stop, completion or error StopRun(observer, ...).
#pragma once

#include <string>

class Run;
class RunContext;

// What the controller asks of the GUI while it starts and stops a run.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    // The display can run OpenGL (the 3D test needs it).
    virtual bool openGLAvailable() = 0;
    // Creates, places and shows the slot's live window (if it has one).
    virtual void createWindow(int slot) = 0;
    // A test thread of `slot` started; `first` for the first of the run.
    virtual void testStarted(int slot, bool first) = 0;
    // Lets the GUI handle pending window events while the controller waits.
    virtual void processEvents() = 0;
    // Stop progress: the closing text of a slot and the percentage done.
    virtual void closingProgress(const std::string& text, int percent) = 0;
    // The first slot was told to stop: the run's stop time is set.
    virtual void stopTimeSet() = 0;
    // The slot's live window is no longer needed.
    virtual void deleteWindow(int slot) = 0;
};

// The warning shown before a run, with an instruction for each selected
// test that needs something from the user (discs, plugs).
std::string PreRunWarningText(const RunContext& ctx);

// The display name of a slot: its name, plus its engine's unit text (": "
// and the disk or drive alias, network address, "ttyS%d", "lp%d").
std::string SlotDisplayName(const RunContext& ctx, int slot);
// The same over the process records, for callers without a context.

// Launches the run: clears the current results, loads or clears the
// accumulated ones, starts the threads of each selected slot of every
// engine (EngineInfo::threads). Returns the number of selected slots (the
// table's rows).
int StartRun(const RunContext& ctx, RunObserver& observer);

// How long the stop waits for a slot's thread before abandoning it, in ms.
int StopWaitLimitMs(int slot);

// Ends the run: asks every slot to stop in slot order and waits for each
// within its engine's stop limit, deletes the windows, logs, accumulates
// and writes the summaries. `automatic` for the completion and error stops.
void StopRun(const RunContext& ctx, RunObserver& observer, bool automatic, int numTestsConfigured);

// The slot counts in the run: selected, or the health monitor's while it
// watches (or watched the last run).
bool SlotTakesPart(const RunContext& ctx, int slot);

// The errors counted so far by the selected slots (current plus
// accumulated during a run, accumulated only when idle).
int TotalErrors(const RunContext& ctx);

// True when any test thread of `run`, abandoned or not, is still inside its
// entry.
bool AnyTestThreadAlive(const Run& run);

// Clears current and accumulated results and deletes the accumulated file
// in ctx's program directory.
void ClearAllResults(const RunContext& ctx);
