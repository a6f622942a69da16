// The parallel port test (slot 70): detects the port by writing a pattern
// to its data register and reading it back, then either repeats that with
// random bytes every 2 s (detect only) or writes random 5-bit values to the
// data lines and reads them back on the status lines of a loop-back plug,
// passes of up to 1000 values.
//
// Typical usage:
//   1. The run controller starts Test_Thread_ParallelPort on gThreadData[70]
//      (instance = parallel_port_number).
//   2. test_entry(port) marks the slot active and runs th_test_parallelport:
//      start wait, "Starting test", I/O permission and lp_init, detection
//      (every 10 s until found), then detect-only iterations or loop-back
//      passes until the slot is stopped; then lp_restore, permission dropped,
//      "Stopping test".
//   3. When the permission is refused no register is touched at all: the
//      port counts as not detected, reported every 10 s like an absent one.
//
// Threadsafety: one thread. Its ParallelLive is written by it (and cleared
// by the constructor) and read by the GUI thread at any time.
#pragma once

#include "RunContext.h"

#include "CTest_Base.h"
#include "LiveStatus.h"
#include "LiveTime.h"
#include "ParallelPort.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

constexpr int kNumParallelPorts = 3;

// Every error the parallel port test raises.
enum ParallelError : int {
    kParallelErrorLoopback = 61,
    kParallelErrorNotDetected = 64,
    kParallelErrorNotRoot = 203,
};
inline constexpr int kParallelErrorCodes[]
    = { kParallelErrorLoopback, kParallelErrorNotDetected, kParallelErrorNotRoot };

// The port's live values, written by its engine, read by its window; the
// counts by port index (CTest_ParallelPort::ParallelPortIndex).
struct ParallelLive : LiveStatus {
    std::atomic<std::uint64_t> bytes_sent[kNumParallelPorts] {};
    std::atomic<std::uint64_t> bytes_received[kNumParallelPorts] {};
    std::atomic<std::uint64_t> dis_bytes_sent[kNumParallelPorts] {};
    std::atomic<std::uint64_t> dis_bytes_received[kNumParallelPorts] {};
    std::atomic<int> io_port { 0 };
    std::atomic<int> PortDetect { 0 };
    std::atomic<int> bt_delay_parport { 0 };
    std::atomic<int> error_parport { 0 };
    std::atomic<int> lasterror_parport { 0 };
};

// What a run may change of the parallel port test.
struct ParallelSettings {
    // Every wait of the engine asks this first and sleeps what it returns
    // instead; empty: real waits.
    std::function<int(int requestedMs)> wait;
};

class CTest_ParallelPort : public CTest_Base {
public:
    static constexpr int kLogTest = 6; // "Parallel" in the event log
    static constexpr int kLoopsPerPass = 1000;
    static constexpr std::uint64_t kBytesPerCycle = 150000;
    static constexpr int kStartWaitMs = 2000;
    static constexpr int kDetectRetryMs = 10000;
    static constexpr int kDetectOnlyWaitMs = 2000;
    static constexpr int kErrorWaitMs = 2000;
    static constexpr int kIdleStepMs = 10000;

    // Base address of port `port`: 0x278 for 1, 0x3BC for 2, 0x378 for 0
    // and any other value. Any thread.
    static unsigned BaseAddress(int port);
    // Index of the live values for `port`: the port itself for 0..2, else 0
    // (the port whose base it uses). Any thread.
    static int ParallelPortIndex(int port);

    // Clears the live values; the registers come from the context's
    // platform. Test thread.
    CTest_ParallelPort(const RunContext& ctx, int port, int slot);
    ~CTest_ParallelPort() override;

    void test_entry(int port) override;
    void th_test_parallelport(int port);

    // Asks for access to the three registers at each of the three bases;
    // a refusal is printed and traced. Returns 0 or the errno of the
    // refusal for the tested port's base.
    int enable_pp_IO();
    // Drops what enable_pp_IO was granted.
    void disable_pp_IO();
    // Saves data and control, turns the port's interrupt off, sets io_port.
    void lp_init(int port);
    // Writes the saved data and control back (after lp_init only).
    void lp_restore();
    // One detection: data lines to output, 0xAA written and read back.
    // True when it came back; otherwise error 64 is pending.
    bool detectOnce();
    // One detect-only iteration with a random byte.
    void detectOnlyOnce();
    // One loop-back pass of up to kLoopsPerPass values, then the cycle
    // count, the pause and the report of a pass's error.
    void loopbackPass();

    int pendingError() const { return m_live.error_parport.load(std::memory_order_relaxed) ? m_errorCode : 0; }
    const char* devicePath() const { return m_devicePath; }
    const char* displayName() const { return m_displayName; }

private:
    int hooked(int ms) const;
    void pause(int ms);
    void setError(int code);
    void reportPending();
    void reportNow(int code);
    std::uint8_t readStatus(int sent, int attempt, int loop, int& received);

    int m_index;
    ParallelLive& m_live;
    char m_devicePath[64];
    char m_displayName[100];
    std::unique_ptr<ParallelPortIO> m_io;
    unsigned m_base = 0;
    bool m_granted[kNumParallelPorts] = {};
    bool m_initialised = false;
    std::uint8_t m_savedData = 0;
    std::uint8_t m_savedControl = 0;
    int m_errorCode = 0;
    int m_delayMs = 0;
    // The last loop-back values that matched, for the mismatch lines.
    int m_lastSent = 0, m_lastReceived = 0, m_lastRaw = 0;
};

// Thread entry of slot 70 (ChildProc).
void* Test_Thread_ParallelPort(void* arg);
