#include "CTest_SerialPort.h"

#include "Run.h"

#include "EngineInfo.h"

#include "AtomicField.h"
#include "LiveUnits.h"
#include "CLogger.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "MessageBox.h"
#include "ErrorClassification.h"
#include "Startup.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

const int SerialPortSpeeds[kNumSerialSpeeds] = {
    kB110,
    kB300,
    kB600,
    kB1200,
    kB2400,
    kB4800,
    kB9600,
    kB19200,
    kB38400,
    kB57600,
    kB115200,
    kSweepTo115200,
    kB230400,
    kSweepTo230400,
    -1,
};

extern const EngineInfo kSerialPortEngine;

namespace {

constexpr const char* kSource = "src/CTest_SerialPort";
constexpr const char* kFn = "th_test_serialport";
constexpr int kDefaultSpeedIndex = 6;
constexpr int kSweepStartIndex = 1; // 300 bits/s; 110 is only ever a fixed speed
constexpr int kMinTimeoutMs = 100;
constexpr int kMaxTimeoutMs = 30000;
constexpr int kDumpLine = 25;
constexpr auto kRelaxed = std::memory_order_relaxed;

// Engines alive; the first of a run clears every port's live values.
LiveUnits g_liveUnits;

bool isMarker(int code)
{
    return code == kSweepTo115200 || code == kSweepTo230400;
}

} // namespace

void SerialLive::clear(int speed)
{
    bytes_sent.store(0, kRelaxed);
    bytes_received.store(0, kRelaxed);
    dis_bytes_sent.store(0, kRelaxed);
    dis_bytes_received.store(0, kRelaxed);
    update_start_time.clear();
    PortStatusOK.store(0, kRelaxed);
    iComSpeed.store(speed, kRelaxed);
}

int BaudSpeed(int code)
{
    switch (code) {
    case kB110:
        return 110;
    case kB300:
        return 300;
    case kB600:
        return 600;
    case kB1200:
        return 1200;
    case kB2400:
        return 2400;
    case kB4800:
        return 4800;
    case kB9600:
        return 9600;
    case kB19200:
        return 19200;
    case kB38400:
        return 38400;
    case kB57600:
        return 57600;
    case kB115200:
        return 115200;
    case kB230400:
        return 230400;
    default:
        return 0;
    }
}

CTest_SerialPort::CTest_SerialPort(const RunContext& ctx, int port, int slot)
    : CTest_Base(ctx, slot, kSliceDefault)
    , m_port(std::clamp(port, 0, kNumSerialPorts - 1))
    , m_live(ctx.run.live<SerialLive>(slot))
    , m_devicePath {}
    , m_displayName {}
    , m_line(ctx.platform.serialLine())
    , m_send {}
    , m_recv {}
{
    std::snprintf(m_devicePath, sizeof m_devicePath, "%s", ctx.platform.serialDevice(m_port).c_str());
    const char* slotName = (slot >= 0 && slot < kNumNamedSlots) ? SlotName(slot) : "Serial Port";
    std::snprintf(m_displayName, sizeof m_displayName, "%s: ttyS%d", slotName, port);
    std::snprintf(m_testName, sizeof m_testName, "%s", m_displayName);

    m_mode = relaxedLoad(testconfig.serial_port_mode[m_port]);
    int index = relaxedLoad(testconfig.serial_baud_index);
    // A file may hold any index; the end mark and beyond are no setting.
    if (index < 0 || index >= kNumSerialSpeeds - 1)
        index = kDefaultSpeedIndex;
    m_settingIndex = index;
    const bool sweep = isMarker(SerialPortSpeeds[index]);
    m_markerIndex = (sweep && m_mode == 1) ? index : 0;
    m_speedIndex = (m_mode == 1 && !sweep) ? index : kSweepStartIndex;
    const int configured = BaudSpeed(SerialPortSpeeds[sweep ? kSweepStartIndex : index]);
    m_timeoutMs = std::clamp(static_cast<int>(relaxedLoad(testconfig.serial_timeout_ms)), kMinTimeoutMs, kMaxTimeoutMs);
    m_handshake = relaxedLoad(testconfig.serial_disable_rts) == 0;
    m_delayMs = DutyDelayMs(SlotDutyCycle(testconfig, slot));

    g_liveUnits.enter(m_port, kSerialPortEngine.units,
        [&ctx, configured](int p) { ctx.run.live<SerialLive>(kSerialPortEngine.slotOf(p)).clear(configured); });
}

CTest_SerialPort::~CTest_SerialPort()
{
    closePort();
    g_liveUnits.leave();
}

int CTest_SerialPort::hooked(int ms) const
{
    const auto& hook = m_ctx.settings<SerialSettings>().wait;
    return hook ? hook(ms) : ms;
}

void CTest_SerialPort::pause(int ms)
{
    WaitMsecs(hooked(ms));
}

void CTest_SerialPort::setError(int code)
{
    m_error = true;
    m_errorCode = code;
}

void CTest_SerialPort::reportPending()
{
    if (!m_error)
        return;
    m_error = false;
    m_live.PortStatusOK.store(0, kRelaxed);
    RecordError(m_errorCode, kLogTest);
}

void CTest_SerialPort::reportNow(int code)
{
    setError(code);
    reportPending();
}

void CTest_SerialPort::idle()
{
    while (Active())
        pause(kIdleStepMs);
}

void CTest_SerialPort::test_entry(int port)
{
    MarkRunning();
    th_test_serialport(port);
}

void CTest_SerialPort::th_test_serialport(int /*port*/)
{
    DPrintf("%s, %s[%d]: %s starts on %s\n", KVX_WHERE, m_displayName, m_devicePath);
    WaitOnGlobal(hooked(kStartWaitMs));

    const char* lines = m_handshake ? "RTS/CTS and DTR/DSR" : "No RTS/CTS and DTR/DSR";
    const int index = m_settingIndex;
    if (isMarker(SerialPortSpeeds[index]))
        LogLine(3, m_displayName, "Starting test (baud cycling to %d, %s)\n", BaudSpeed(SerialPortSpeeds[index - 1]),
            lines);
    else
        LogLine(3, m_displayName, "Starting test (fixed baud %d, %s)\n", BaudSpeed(SerialPortSpeeds[index]), lines);

    gettimeofday(&m_ctx.run.modules[m_testID].start_time, nullptr);
    m_live.update_start_time.storeNow();
    m_live.iComSpeed.store(BaudSpeed(SerialPortSpeeds[m_speedIndex]), kRelaxed);

    if (m_mode != 1 && m_mode != 2) {
        // Selected without a test mode: nothing to open or count.
        LogLine(3, m_displayName, "%s[%d]: Port \"%s\" has no test mode (%d)", kFn, __LINE__, m_devicePath, m_mode);
        idle();
    } else if (::geteuid() != 0 && ::faccessat(AT_FDCWD, m_devicePath, R_OK | W_OK, AT_EACCESS) != 0
        && errno == EACCES) {
        // Root, or a user the device lets in (the dialout group).
        reportNow(kSerialErrorNotRoot);
        idle();
    } else if (openPort() != 0) {
        idle();
    } else {
        if (m_mode == 1 && Active())
            probe();
        while (Active()) {
            if (m_mode == 2)
                detectOnce();
            else
                runPass();
            pause(m_delayMs);
            if (m_error) {
                reportPending();
                pause(kLongErrorWaitMs);
            }
        }
    }

    closePort();
    if (gLogger)
        gLogger->AddLine("Stopping test\n", -1, 0, m_displayName, 3);
    gettimeofday(&m_ctx.run.modules[m_testID].stop_time, nullptr);
}

int CTest_SerialPort::applyWorking(int level)
{
    const int wanted = m_work.inputSpeed();
    // The change waits for the output to leave; with RTS/CTS and CTS never
    // raised it never would. What is still queued is of no use at the new
    // settings anyway.
    m_line->flush();
    int e = m_line->setAttributes(m_work, SerialApply::AfterFlush);
    if (e) {
        LogLine(level, m_displayName, "%s[%d]: tcsetattr: strerror(%d) = *%s*", kFn, __LINE__, e, std::strerror(e));
        return kSerialErrorSetup;
    }
    SerialAttributes check;
    e = m_line->getAttributes(check);
    if (e) {
        LogLine(level, m_displayName, "%s[%d]: tcgetattr: strerror(%d) = *%s*", kFn, __LINE__, e, std::strerror(e));
        return kSerialErrorSetup;
    }
    if (check.inputSpeed() != wanted) {
        LogLine(
            level, m_displayName, "%s[%d]: Input speed (%d baud) could not be set", kFn, __LINE__, BaudSpeed(wanted));
        return kSerialErrorSetup;
    }
    if (check.outputSpeed() != wanted) {
        LogLine(
            level, m_displayName, "%s[%d]: Output speed (%d baud) could not be set", kFn, __LINE__, BaudSpeed(wanted));
        return kSerialErrorSetup;
    }
    return 0;
}

int CTest_SerialPort::openPort()
{
    int e = m_line->open(m_devicePath);
    if (e) {
        const int code = e == EACCES ? kSerialErrorAccess : (e == ENOENT ? kSerialErrorNoDevice : kSerialErrorOpen);
        LogLine(3, m_displayName, "%s-%s[%d]: strerror(%d) = *%s*", kSource, kFn, __LINE__, e, std::strerror(e));
        LogLine(3, m_displayName, "%s", e_strings[code]);
        LogLine(3, m_displayName, "%s Speed: %dbaud, fd:%d, Total: %llu, ErrorCode: %d", m_devicePath, speed(),
            m_line->fd(), static_cast<unsigned long long>(m_live.bytes_sent.load(kRelaxed)), e);
        reportNow(code);
        return code;
    }
    m_opened = true;

    e = m_line->getAttributes(m_saved);
    if (e) {
        LogLine(3, m_displayName, "%s[%d]: tcgetattr: strerror(%d) = *%s*", kFn, __LINE__, e, std::strerror(e));
        reportNow(kSerialErrorNoDevice);
        return kSerialErrorNoDevice;
    }
    m_work = m_saved;
    m_work.makeRaw(m_handshake);
    m_work.setTiming(0, m_timeoutMs / 100);
    m_work.setSpeed(SerialPortSpeeds[m_speedIndex]);
    if (applyWorking(3) != 0) {
        reportNow(kSerialErrorSetup);
        return kSerialErrorSetup;
    }
    LogLine(3, m_displayName, "%s[%d]: Attributes for \"%s\" (PortNum: %d) set and without errors.\n", kFn, __LINE__,
        m_devicePath, m_port);
    LogLine(3, m_displayName, "%s[%d]: Setup for \"%s\" (PortNum: %d) complete and good.\n", kFn, __LINE__,
        m_devicePath, m_port);
    m_configured = true;

    pause(kSettleMs);
    e = m_line->flush();
    if (e) {
        LogLine(4, m_displayName, "%s[%d]: tcflush: strerror(%d) = *%s*", kFn, __LINE__, e, std::strerror(e));
        setError(kSerialErrorFlush);
    }
    return 0;
}

CTest_SerialPort::WaitResult CTest_SerialPort::waitLine(SerialReady what, int& err)
{
    // Sliced, so that a stop is seen within a slice however long the
    // configured timeout.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);
    for (;;) {
        if (!Active())
            return WaitResult::Stopped;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            err = ETIMEDOUT;
            return WaitResult::TimedOut;
        }
        const int r = m_line->waitReady(what, static_cast<int>(std::min<long long>(left, m_waitSlice)));
        if (r > 0)
            return WaitResult::Ready;
        if (r < 0) {
            err = -r;
            return WaitResult::Failed;
        }
    }
}

long CTest_SerialPort::writeBlock(const std::uint8_t* buf, int n, int& err, bool& stopped)
{
    stopped = false;
    err = 0;
    const WaitResult w = waitLine(SerialReady::Write, err);
    if (w == WaitResult::Stopped)
        stopped = true;
    if (w != WaitResult::Ready)
        return 0;
    return m_line->write(buf, static_cast<std::size_t>(n), err);
}

long CTest_SerialPort::readBlock(std::uint8_t* buf, int n, int& err, bool& stopped)
{
    // One block may arrive in pieces (a slow line, or VMIN 0 after a failed
    // probe); it is complete when all of it came within the timeout.
    stopped = false;
    err = 0;
    long got = 0;
    while (got < n) {
        const WaitResult w = waitLine(SerialReady::Read, err);
        if (w == WaitResult::Stopped)
            stopped = true;
        if (w != WaitResult::Ready)
            break;
        const long r = m_line->read(buf + got, static_cast<std::size_t>(n - got), err);
        if (r <= 0)
            break;
        got += r;
    }
    return got;
}

int CTest_SerialPort::probe()
{
    std::uint8_t sent = 0xAA;
    std::uint8_t got = 0;
    int err = 0;
    bool stopped = false;
    const long w = writeBlock(&sent, 1, err, stopped);
    if (stopped)
        return 0;
    if (w != 1) {
        LogLine(3, m_displayName, "%s[%d]: write: strerror(%d) = *%s*", kFn, __LINE__, err, std::strerror(err));
        LogLine(3, m_displayName, "%s Speed: %dbaud, BlockSize: %d, test_bytessent: %d, fd:%x Total: %llu, errno: %d",
            m_devicePath, speed(), 1, static_cast<int>(w), static_cast<unsigned>(m_line->fd()),
            static_cast<unsigned long long>(m_live.bytes_sent.load(kRelaxed)), err);
        setError(kSerialErrorWrite);
    } else {
        // One byte's time on the line before looking for it.
        const int bytesPerSecond = speed() / 8;
        pause(bytesPerSecond > 0 ? 1000 / bytesPerSecond : 0);
        const long r = readBlock(&got, 1, err, stopped);
        if (stopped)
            return 0;
        if (r != 1) {
            LogLine(3, m_displayName, "%s[%d]: read: strerror(%d) = *%s*", kFn, __LINE__, err, std::strerror(err));
            LogLine(3, m_displayName, "%s[%d]: Is your loopback plug present???", kFn, __LINE__);
            LogLine(3, m_displayName,
                "%s Speed: %dbaud, BlockSize: %d, test_bytessent: %d, fd:%x Total: %llu, errno: %d", m_devicePath,
                speed(), 1, 1, static_cast<unsigned>(m_line->fd()),
                static_cast<unsigned long long>(m_live.bytes_sent.load(kRelaxed)), err);
            setError(kSerialErrorRead);
        } else if (got != sent) {
            LogLine(3, m_displayName, "%s[%d]: test_reccode = %x, test_transcode = %x", kFn, __LINE__, got, sent);
            setError(kSerialErrorCompare);
        } else {
            // From now on a read waits for a whole block.
            m_work.setTiming(kBlockSize, m_timeoutMs / 100);
            const int e = m_line->setAttributes(m_work, SerialApply::AfterFlush);
            if (e) {
                LogLine(3, m_displayName, "%s[%d]: tcsetattr: strerror(%d) = *%s*", kFn, __LINE__, e, std::strerror(e));
                setError(kSerialErrorSetup);
            }
        }
    }
    if (!m_error)
        return 0;
    const int code = m_errorCode;
    reportPending();
    pause(kLongErrorWaitMs);
    return code;
}

void CTest_SerialPort::dump(const char* which, const std::uint8_t* buf, int n, int loop, int block)
{
    LogLine(4, m_displayName, "Dumping %s buffer[Loop: %d]:", which, loop);
    for (int first = 0; first + kDumpLine <= n; first += kDumpLine) {
        if (!Active())
            return;
        char line[CLogger::kLineSize];
        int len = std::snprintf(line, sizeof line, "[Block: %d][%d-%d]: ", block, first, first + kDumpLine - 1);
        for (int k = first; k < first + kDumpLine; ++k)
            len += std::snprintf(line + len, sizeof line - static_cast<std::size_t>(len), "%2X ", buf[k]);
        if (first + kDumpLine == kBlockSize)
            std::snprintf(line + len, sizeof line - static_cast<std::size_t>(len), "\n");
        LogLine(4, m_displayName, "%s", line);
    }
}

bool CTest_SerialPort::readAndVerify(int loop, int loops)
{
    const bool sample = loop == 0 || loop == loops / 2 || loop == loops - 1;
    for (int block = 0; block < kBlocks; ++block) {
        int err = 0;
        bool stopped = false;
        const long got = readBlock(m_recv, kBlockSize, err, stopped);
        if (stopped)
            return false;
        if (got != kBlockSize) {
            const auto total = static_cast<unsigned long long>(m_live.bytes_received.load(kRelaxed));
            LogLine(4, m_displayName, "%s[%d]: Number of bytes read = %d", kFn, __LINE__, static_cast<int>(got));
            LogLine(4, m_displayName, "%s[%d]: read: strerror(%d) = *%s*", kFn, __LINE__, err, std::strerror(err));
            LogLine(3, m_displayName,
                "%s Speed: %dbaud, BlockSize: %d BlockNum: %d, Transfered: %d, fd:%x Total: %llu, ErrorCode: %d",
                m_devicePath, speed(), kBlockSize, block, static_cast<int>(got), static_cast<unsigned>(m_line->fd()),
                total, err);
            dump("send", m_send, kBlockSize, loop, block);
            setError(kSerialErrorRead);
            return true;
        }
        const std::uint64_t received = m_live.bytes_received.fetch_add(kBlockSize, kRelaxed) + kBlockSize;
        m_live.dis_bytes_received.store(received, kRelaxed);
        CountOperations(kBlockSize);
        if (!Active())
            return false;

        // Sample loops show every block; any loop shows a block whose very
        // first byte came back wrong.
        const bool firstEqual = m_recv[0] == m_send[0];
        if (!firstEqual || sample) {
            dump("send", m_send, kBlockSize, loop, block);
            dump("receive", m_recv, static_cast<int>(got), loop, block);
        }
        if (std::memcmp(m_recv, m_send, kBlockSize) != 0) {
            const int k = static_cast<int>(std::mismatch(m_send, m_send + kBlockSize, m_recv).first - m_send);
            LogLine(4, m_displayName,
                "%s Speed: %dbaud, BlockSize: %d, BlockNum: %d, Transfered: %d, fd: %x, Total: %llu, ErrorCode: %u",
                m_devicePath, speed(), kBlockSize, block, kBlockSize, static_cast<unsigned>(m_line->fd()),
                static_cast<unsigned long long>(received), static_cast<unsigned>(err));
            LogLine(4, m_displayName, "Error at byte %d of %d (0x%2x trans., 0x%2x rec'd)\n", k, kBlockSize, m_send[k],
                m_recv[k]);
            setError(kSerialErrorCompare);
            return true;
        }
    }
    return true;
}

int CTest_SerialPort::checkHandshake(int loop)
{
    struct Step {
        int mask;
        bool on;
        int code;
    };
    static constexpr Step kSteps[]
        = { { kModemRts, false, kSerialErrorRtsLow }, { kModemRts, true, kSerialErrorRtsHigh },
              { kModemDtr, false, kSerialErrorDtrLow }, { kModemDtr, true, kSerialErrorDtrHigh } };
    int bits = 0;
    int e = m_line->getModemLines(bits);
    int code = e ? kSerialErrorModemLines : 0;
    for (const Step& s : kSteps) {
        if (code)
            break;
        bits = s.on ? (bits | s.mask) : (bits & ~s.mask);
        if ((e = m_line->setModemLines(bits)) != 0) {
            code = kSerialErrorModemLines;
            break;
        }
        const timespec settle { 0, 1000 };
        nanosleep(&settle, nullptr);
        if ((e = m_line->getModemLines(bits)) != 0) {
            code = kSerialErrorModemLines;
            break;
        }
        // The output line itself as the driver reports it, not CTS or DSR.
        if (((bits & s.mask) != 0) != s.on)
            code = s.code;
    }
    if (code == 0) {
        if (loop % 100 == 0)
            LogLine(4, m_displayName, "RTS/DTR passed (Sample 1 of 100)\n");
        return 0;
    }
    if (code == kSerialErrorModemLines)
        LogLine(4, m_displayName, "%s[%d]: RTS/DTR: strerror(%d): *%s*", kFn, __LINE__, e, std::strerror(e));
    else
        LogLine(4, m_displayName, "%s[%d]: RTS/DTR: Error Code: %d, Error String: *%s*", kFn, __LINE__, code,
            e_strings[code]);
    reportNow(code);
    pause(kErrorWaitMs);
    return code;
}

void CTest_SerialPort::detectOnce()
{
    CountOperations(1);
    m_live.PortStatusOK.store(1, kRelaxed);
    CountCycle();
    pause(kDetectWaitMs);
}

void CTest_SerialPort::runPass()
{
    if (!Active())
        return;
    const int sp = speed();
    const int loops = sp / 100;
    LogLine(4, m_displayName, "%s[%d]: Number of loops = %d/%d = %d\n", kFn, __LINE__, sp, 100, loops);
    if (const int e = m_line->flush()) {
        LogLine(4, m_displayName, "%s[%d]: tcflush: strerror(%d) = *%s*", kFn, __LINE__, e, std::strerror(e));
        setError(kSerialErrorFlush);
    }

    for (int i = 0; i < loops && Active() && !m_error; ++i) {
        for (std::uint8_t& b : m_send)
            b = static_cast<std::uint8_t>(std::rand() % 255);
        if (i % 100 == 0)
            LogLine(4, m_displayName, "Send 3 blocks of %d random bytes. (Sample 1 of 100)\n", kBlockSize);
        for (int block = 0; block < kBlocks && !m_error; ++block) {
            int err = 0;
            bool stopped = false;
            const long w = writeBlock(m_send, kBlockSize, err, stopped);
            if (stopped)
                return;
            if (w == kBlockSize) {
                const std::uint64_t sent = m_live.bytes_sent.fetch_add(kBlockSize, kRelaxed) + kBlockSize;
                m_live.dis_bytes_sent.store(sent, kRelaxed);
                CountOperations(kBlockSize);
                continue;
            }
            LogLine(4, m_displayName, "%s[%d]: write: strerror(%d) = *%s*", kFn, __LINE__, err, std::strerror(err));
            LogLine(3, m_displayName,
                "%s Speed: %dbaud, BlockSize: %d, Transfered: %d, fd:%x Total: %llu, ErrorCode: %d", m_devicePath, sp,
                kBlockSize, static_cast<int>(w), static_cast<unsigned>(m_line->fd()),
                static_cast<unsigned long long>(m_live.bytes_sent.load(kRelaxed)), err);
            setError(kSerialErrorWrite);
        }
        pause(m_delayMs);
        if (i % 100 == 0)
            LogLine(4, m_displayName, "Read and verify 3 blocks of %d random bytes. (Sample 1 of 100)\n", kBlockSize);
        if (!m_error && !readAndVerify(i, loops))
            return;

        bool failed = false;
        if (m_error) {
            reportPending();
            pause(kErrorWaitMs);
            failed = true;
        }
        if (m_handshake && Active() && checkHandshake(i) != 0)
            failed = true;
        if (failed)
            break;
    }
    if (!Active())
        return; // an abandoned pass is no cycle

    if (m_markerIndex == 0) {
        CountCycle();
        return;
    }
    int next = m_speedIndex + 1;
    if (next == m_markerIndex || next >= kNumSerialSpeeds - 1) {
        next = kSweepStartIndex;
        CountCycle();
    } else if (isMarker(SerialPortSpeeds[next])) {
        ++next; // the smaller sweep's marker inside the larger sweep
    }
    m_speedIndex = next;
    m_live.iComSpeed.store(BaudSpeed(SerialPortSpeeds[next]), kRelaxed);
    if (changeSpeed() == 0)
        LogLine(4, m_displayName, "%s[%d]: Cycling baud speed to %d bits/sec", kFn, __LINE__, speed());
}

int CTest_SerialPort::changeSpeed()
{
    const int e = m_line->getAttributes(m_work);
    if (e) {
        LogLine(4, m_displayName, "%s[%d]: tcgetattr: strerror(%d) = *%s*", kFn, __LINE__, e, std::strerror(e));
        setError(kSerialErrorSetup);
        return kSerialErrorSetup;
    }
    m_work.setSpeed(SerialPortSpeeds[m_speedIndex]);
    if (applyWorking(4) != 0) {
        setError(kSerialErrorSetup);
        return kSerialErrorSetup;
    }
    return 0;
}

void CTest_SerialPort::closePort()
{
    if (m_configured) {
        m_configured = false;
        m_line->flush();
        if (const int e = m_line->setAttributes(m_saved, SerialApply::Now))
            LogLine(3, m_displayName, "%s[%d]: tcsetattr: strerror(%d) = *%s*", kFn, __LINE__, e, std::strerror(e));
    }
    if (m_opened) {
        m_opened = false;
        LogLine(3, m_displayName, "%s[%d]: Closing \"%s\"", kFn, __LINE__, m_devicePath);
        m_line->close();
    }
}

void* Test_Thread_SerialPort(void* arg)
{
    return RunTestThread(static_cast<TestThreadRecord*>(arg), "Test_Thread_SerialPort",
        [](const RunContext& ctx, int port, int slot) -> std::unique_ptr<CTest_Base> {
            return std::make_unique<CTest_SerialPort>(ctx, port, slot);
        });
}

extern const EngineInfo kSerialPortEngine;

namespace {

std::string serialUnitText(const RunContext&, int unit)
{
    return Format(": ttyS%d", unit);
}

bool isIn(int k, std::initializer_list<int> list)
{
    return std::find(list.begin(), list.end(), k) != list.end();
}

// The k-th of n ports in loop-back mode, in the sentence's layout as it has
// always been: a line break after every tenth name from the fourth on.
std::string serialSentencePart(int port, int k, int n)
{
    if (n == 1)
        return Format("\n* Please check there is a serial loop back plug in the COM port ttyS%d\n", port);
    if (k == 1)
        return Format("\n* Please check there is a serial loop back plug in the COM ports ttyS%d", port);
    if (k == n)
        return isIn(k, { 5, 15, 25, 35, 45, 55 }) ? Format("and ttyS%d\n", port) : Format(" and ttyS%d\n", port);
    if (isIn(k, { 4, 14, 24, 34, 44, 54 }))
        return Format(", ttyS%d,\n", port);
    if (isIn(k, { 5, 15, 25, 35, 45, 55 }))
        return Format("ttyS%d", port);
    return Format(", ttyS%d", port);
}

// One sentence naming every selected port in loop-back mode.
std::string serialPreRunNote(const RunContext& ctx)
{
    auto loopBack = [&ctx](int unit) {
        return performTest(ctx.config, kSerialPortEngine.slotOf(unit))
            && relaxedLoad(ctx.config.serial_port_mode[unit]) == 1;
    };
    int total = 0;
    for (int unit = 0; unit < kSerialPortEngine.units; ++unit)
        total += loopBack(unit) ? 1 : 0;
    std::string text;
    int seen = 0;
    for (int unit = 0; unit < kSerialPortEngine.units; ++unit)
        if (loopBack(unit))
            text += serialSentencePart(unit, ++seen, total);
    return text;
}

} // namespace

extern const EngineInfo kSerialPortEngine = {
    .name = "Serial Port",
    .firstSlot = kSlotSerialFirst,
    .units = kNumSerialPorts,
    .switchSlot = kSlotSerialGroup,
    .stopLimitMs = 20000,
    .unitName = "port",
    .unitText = serialUnitText,
    .preRunNote = serialPreRunNote,
    .window = LiveWindowKind::SerialPort,
    .icon = ":/icons/serial.png",
    .entry = Test_Thread_SerialPort,
    .makeLive = []() -> std::unique_ptr<LiveStatus> { return std::make_unique<SerialLive>(); },
    .errorCodes = kSerialErrorCodes,
    .commandName = "serial",
};
