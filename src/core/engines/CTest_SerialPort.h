// The serial port test (slots 90..153, port n in slot 90 + n): opens the
// port's device, makes the line raw at the chosen speed, checks the line with
// one probe byte and then sends random 100-byte blocks three times a loop
// through a loop-back plug, reading each back and comparing it; optionally
// drives RTS and DTR and reads them back; holds one speed or sweeps the speed
// table. A port in detect-only mode is only opened and configured.
//
// Typical usage:
//   1. The run controller starts Test_Thread_SerialPort on gThreadData[slot]
//      (instance = port number).
//   2. test_entry(port) marks the slot active and runs th_test_serialport:
//      start wait, start line, open and configure (openPort), probe, then
//      passes (runPass) or detect-only iterations (detectOnce) until the
//      slot is stopped; then closePort and "Stopping test".
//   3. A stop is seen before every block written or read, during every wait
//      for the line (polled in 100 ms slices up to the configured timeout,
//      so a missing echo never holds the thread) and at every pause.
//
// Threadsafety: an engine is used by its own thread. A port's SerialLive is
// written by the port's own thread (and cleared by constructors) and read by
// the GUI thread at any time.
#pragma once

#include "RunContext.h"

#include "CTest_Base.h"
#include "LiveStatus.h"
#include "LiveTime.h"
#include "SerialLine.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// Every error the serial port test raises.
enum SerialError : int {
    kSerialErrorAccess = 50,
    kSerialErrorNoDevice = 51, // missing, or no tty
    kSerialErrorOpen = 52,
    kSerialErrorFlush = 53,
    kSerialErrorSetup = 54,
    kSerialErrorCompare = 55,
    kSerialErrorWrite = 57,
    kSerialErrorRead = 58,
    kSerialErrorRtsLow = 130,
    kSerialErrorRtsHigh = 131,
    kSerialErrorDtrLow = 132,
    kSerialErrorDtrHigh = 133,
    kSerialErrorModemLines = 202,
    kSerialErrorNotRoot = 203,
};
inline constexpr int kSerialErrorCodes[] = { kSerialErrorAccess, kSerialErrorNoDevice, kSerialErrorOpen,
    kSerialErrorFlush, kSerialErrorSetup, kSerialErrorCompare, kSerialErrorWrite, kSerialErrorRead, kSerialErrorRtsLow,
    kSerialErrorRtsHigh, kSerialErrorDtrLow, kSerialErrorDtrHigh, kSerialErrorModemLines, kSerialErrorNotRoot };

// One port's live values, written by its engine, read by its window.
struct SerialLive : LiveStatus {
    std::atomic<std::uint64_t> bytes_sent { 0 };
    std::atomic<std::uint64_t> bytes_received { 0 };
    std::atomic<std::uint64_t> dis_bytes_sent { 0 };
    std::atomic<std::uint64_t> dis_bytes_received { 0 };
    // When the port's test started.
    LiveTimeval update_start_time;
    std::atomic<int> iComSpeed { 0 };
    std::atomic<int> PortStatusOK { 0 };

    // The values of a port not yet started at `speed` bits/s.
    void clear(int speed);
};

// What a run may change of the serial port test.
struct SerialSettings {
    // Every wait of the engine asks this first and sleeps what it returns
    // instead; empty: real waits.
    std::function<int(int requestedMs)> wait;
};

constexpr int kNumSerialSpeeds = 15;
// Termios speed codes by serial_baud_index, with the two sweep markers and
// the end mark -1.
extern const int SerialPortSpeeds[kNumSerialSpeeds];
constexpr int kSweepTo115200 = 115299;
constexpr int kSweepTo230400 = 256999;

// Bits per second of a speed code; 0 for anything else. Any thread.
int BaudSpeed(int code);

class CTest_SerialPort : public CTest_Base {
public:
    static constexpr int kBlockSize = 100;
    static constexpr int kBlocks = 3;
    static constexpr int kLogTest = 5; // "Serial" in the event log
    static constexpr int kStartWaitMs = 2000;
    static constexpr int kSettleMs = 1000;
    static constexpr int kDetectWaitMs = 2000;
    static constexpr int kErrorWaitMs = 3000;
    static constexpr int kLongErrorWaitMs = 10000; // after a probe error or a pass's pending error
    static constexpr int kIdleStepMs = 10000;

    // Reads the port's settings; the line and the device path come from the
    // context's platform. The first engine alive clears the live values of
    // all ports and sets every speed to the configured one; a later one only
    // its own port's, so that ports already counting keep their figures.
    // Test thread.
    CTest_SerialPort(const RunContext& ctx, int port, int slot);
    ~CTest_SerialPort() override;

    void test_entry(int port) override;
    void th_test_serialport(int port);

    // Opens the device, keeps its attributes, makes the line raw at the
    // current speed, verifies it, settles and flushes. Reports a failure
    // itself and returns its code, or 0.
    int openPort();
    // Sends the probe byte and reads it back; on success switches reads to
    // whole blocks. On failure reports it and waits. Returns the code or 0.
    int probe();
    // One pass at the current speed, then the cycle count and the next
    // speed of a sweep. Does nothing when the slot is not active.
    void runPass();
    // One detect-only iteration.
    void detectOnce();
    // Drives RTS and DTR off and on and reads each back; loop `loop` of the
    // pass decides the sample line. Reports a failure and waits; returns its
    // code or 0.
    int checkHandshake(int loop);
    // Flushes and restores the saved attributes when configured; closes.
    void closePort();

    // The error waiting to be reported, or 0.
    int pendingError() const { return m_error ? m_errorCode : 0; }
    int speedIndex() const { return m_speedIndex; }
    const char* devicePath() const { return m_devicePath; }
    const char* displayName() const { return m_displayName; }

private:
    enum class WaitResult { Ready, TimedOut, Stopped, Failed };
    int hooked(int ms) const;
    void pause(int ms);
    void setError(int code);
    void reportPending();
    void reportNow(int code);
    void idle();
    int applyWorking(int level);
    int changeSpeed();
    WaitResult waitLine(SerialReady what, int& err);
    long writeBlock(const std::uint8_t* buf, int n, int& err, bool& stopped);
    long readBlock(std::uint8_t* buf, int n, int& err, bool& stopped);
    void dump(const char* which, const std::uint8_t* buf, int n, int loop, int block);
    bool readAndVerify(int loop, int loops);
    int speed() const { return m_live.iComSpeed.load(std::memory_order_relaxed); }

    int m_port;
    SerialLive& m_live;
    char m_devicePath[64];
    char m_displayName[100];
    std::unique_ptr<SerialLine> m_line;
    SerialAttributes m_saved;
    SerialAttributes m_work;
    bool m_opened = false;
    bool m_configured = false;

    int m_mode;
    int m_settingIndex; // serial_baud_index, made valid
    int m_speedIndex;
    int m_markerIndex; // the sweep's marker entry, or 0 for a fixed speed
    int m_timeoutMs;
    bool m_handshake;
    int m_delayMs;

    bool m_error = false;
    int m_errorCode = 0;
    std::uint8_t m_send[kBlockSize];
    std::uint8_t m_recv[kBlockSize];
};

// Thread entry of slots 90..153 (ChildProc).
void* Test_Thread_SerialPort(void* arg);
