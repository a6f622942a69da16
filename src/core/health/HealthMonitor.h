// Hardware health during a run: the hottest reading of each temperature
// sensor chip (libsensors), the memory controllers' ECC counts (EDAC in
// sysfs) and the kernel's own reports of hardware errors (/dev/kmsg, lines
// logged after the run started). One thread samples the sensors and the
// counters every interval and reads the kernel log as lines arrive.
//
// What it finds becomes events of the run: errors are counted on the
// health slot (HealthSlot()), so the results, the reports and the verdict
// see them like any test's; warnings (corrected ECC errors) are logged and
// reported but do not fail the run. A source that is absent is reported
// once as not available and the run goes on.
//
// Typical usage: StartRun calls start(ctx), StopRun calls stop(); the
// front ends read report() for their status display.
#pragma once

#include "HealthSettings.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class RunContext;

// The slot the health monitor counts its errors on.
int HealthSlot();

// Error codes of the health monitor.
enum HealthError : int {
    kHealthThermalLimit = 210,
    kHealthEccCorrected = 211,
    kHealthEccUncorrected = 212,
    kHealthKernelMachineCheck = 213,
    kHealthKernelEdac = 214,
    kHealthKernelPcie = 215,
    kHealthKernelIo = 216,
    kHealthKernelWarning = 217,
};
inline constexpr int kHealthErrorCodes[] = { kHealthThermalLimit, kHealthEccCorrected, kHealthEccUncorrected,
    kHealthKernelMachineCheck, kHealthKernelEdac, kHealthKernelPcie, kHealthKernelIo, kHealthKernelWarning };

// One source's state: watched (switched on), available (found and
// readable), and why not when it is not ("no sensor chips found").
struct HealthSource {
    bool watched = false;
    bool available = false;
    std::string note;
};

struct ChipTemperature {
    std::string chip; // "coretemp-isa-0000"
    double start = 0; // hottest reading of the chip at the first sample
    double current = 0;
    double peak = 0;
    std::time_t peakTime = 0;
};

struct HealthEvent {
    std::time_t time = 0;
    int code = 0;
    bool fails = false; // counted as an error of the run
    std::string text;
};

// A snapshot of what the monitor knows.
struct HealthReport {
    bool monitored = false; // the monitor ran in this run
    HealthSource temperatures, ecc, kernelLog;
    std::vector<ChipTemperature> chips;
    int thermalLimit = 0;
    std::uint64_t correctedErrors = 0; // ECC counts risen since the start
    std::uint64_t uncorrectedErrors = 0;
    std::vector<HealthEvent> events; // the first kMaxEvents
    std::uint64_t eventCount = 0; // all of them
    int failures = 0; // events that fail the run
    bool thermalStop = false;
    static constexpr std::size_t kMaxEvents = 100;

    // The chip with the hottest current reading, or null.
    const ChipTemperature* hottest() const;
};

// Whether a /dev/kmsg record (or a bare line) reports a hardware error:
// its code, and whether it fails the run (corrected errors only warn).
bool KernelLineEvent(std::string_view record, int& code, bool& fails);

// "hh:mm:ss" of `t` in local time, as the health texts give times.
std::string ClockText(std::time_t t);

// One line for a status display: "Hottest 52.0 C coretemp-isa-0000 (peak
// 61.0 C)  ECC 0 corrected, 0 uncorrected  Kernel 0 hardware errors", with
// "not available" for an absent source. Empty when not monitored.
std::string HealthStatusText(const HealthReport& report);

class HealthMonitor {
public:
    HealthMonitor();
    ~HealthMonitor();
    HealthMonitor(const HealthMonitor&) = delete;
    HealthMonitor& operator=(const HealthMonitor&) = delete;

    // Starts watching for a run of `ctx` when its HealthSettings say so:
    // takes the first readings, logs them (or "not available" once per
    // absent source) and starts the thread. A report of an earlier run is
    // dropped. GUI thread, at Start, before the tests start.
    void start(const RunContext& ctx);
    // Takes a last sample, logs each chip's peak, ends the thread. Nothing
    // when not started. GUI thread, at Stop.
    void stop();

    HealthReport report() const;
    // The last started run was watched (kept after the stop, for the
    // reports). Any thread.
    bool monitored() const { return m_monitored.load(); }
    // A reading passed the thermal limit: the run should stop. Any thread.
    bool stopRequested() const { return m_stopRequested.load(); }

private:
    struct State;
    void loop();
    void sample();
    void readKernelLog();
    void raise(int code, bool fails, const std::string& text);
    // Ends the thread and closes the sources, logging nothing.
    void shutDown();

    std::unique_ptr<State> m_state;
    mutable std::mutex m_mutex; // guards the report
    HealthReport m_report;
    std::atomic<bool> m_stopRequested { false };
    std::atomic<bool> m_monitored { false };
    std::thread m_thread;
    int m_wakeFd = -1;
};
