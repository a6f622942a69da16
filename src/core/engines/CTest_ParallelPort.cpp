#include "CTest_ParallelPort.h"

#include "Run.h"

#include "EngineInfo.h"

#include "Privileges.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "MessageBox.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "Startup.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr const char* kFn = "th_test_parallelport";
constexpr unsigned kBases[kNumParallelPorts] = { 0x378, 0x278, 0x3BC };
constexpr unsigned kStatus = 1;
constexpr unsigned kControl = 2;
constexpr std::uint8_t kIrqEnable = 0x10;
constexpr std::uint8_t kDirection = 0x20; // set: data lines are inputs
constexpr std::uint8_t kDetectPattern = 0xAA;
constexpr auto kRelaxed = std::memory_order_relaxed;

} // namespace

unsigned CTest_ParallelPort::BaseAddress(int port)
{
    return kBases[ParallelPortIndex(port)];
}

int CTest_ParallelPort::ParallelPortIndex(int port)
{
    return (port == 1 || port == 2) ? port : 0;
}

CTest_ParallelPort::CTest_ParallelPort(const RunContext& ctx, int port, int slot)
    : CTest_Base(ctx, slot, kSliceDefault)
    , m_index(ParallelPortIndex(port))
    , m_live(ctx.run.live<ParallelLive>(slot))
    , m_devicePath {}
    , m_displayName {}
    , m_io(ctx.platform.parallelPort())
{
    std::snprintf(m_devicePath, sizeof m_devicePath, "/dev/lp%d", port);
    const char* slotName = (slot >= 0 && slot < kNumNamedSlots) ? SlotName(slot) : "Parallel Port";
    std::snprintf(m_displayName, sizeof m_displayName, "%s: lp%d", slotName, port);
    std::snprintf(m_testName, sizeof m_testName, "%s", m_displayName);
    for (int p = 0; p < kNumParallelPorts; ++p) {
        m_live.bytes_sent[p].store(0, kRelaxed);
        m_live.bytes_received[p].store(0, kRelaxed);
        m_live.dis_bytes_sent[p].store(0, kRelaxed);
        m_live.dis_bytes_received[p].store(0, kRelaxed);
    }
    m_live.io_port.store(0, kRelaxed);
    m_live.PortDetect.store(0, kRelaxed);
}

CTest_ParallelPort::~CTest_ParallelPort() = default;

int CTest_ParallelPort::hooked(int ms) const
{
    const auto& hook = m_ctx.settings<ParallelSettings>().wait;
    return hook ? hook(ms) : ms;
}

void CTest_ParallelPort::pause(int ms)
{
    WaitMsecs(hooked(ms));
}

void CTest_ParallelPort::setError(int code)
{
    m_errorCode = code;
    m_live.lasterror_parport.store(code, kRelaxed);
    m_live.error_parport.store(1, kRelaxed);
}

void CTest_ParallelPort::reportPending()
{
    if (m_live.error_parport.load(kRelaxed) == 0)
        return;
    m_live.error_parport.store(0, kRelaxed);
    RecordError(m_errorCode, kLogTest);
}

void CTest_ParallelPort::reportNow(int code)
{
    setError(code);
    reportPending();
}

int CTest_ParallelPort::enable_pp_IO()
{
    int refused = 0;
    for (int n = 0; n < kNumParallelPorts; ++n) {
        const int e = m_io->permission(kBases[n], 3, true);
        m_granted[n] = e == 0;
        if (e == 0)
            continue;
        std::fprintf(stderr, "Failed ioperm on lp%d: %s\n", n, std::strerror(e));
        DPrintf("%s, %s[%d]: ioperm(0x%x, 3) for lp%d refused: strerror(%d) = *%s*\n", KVX_WHERE, kBases[n], n, e,
            std::strerror(e));
        if (n == m_index)
            refused = e;
    }
    return refused;
}

void CTest_ParallelPort::disable_pp_IO()
{
    for (int n = 0; n < kNumParallelPorts; ++n) {
        if (m_granted[n])
            m_io->permission(kBases[n], 3, false);
        m_granted[n] = false;
    }
}

void CTest_ParallelPort::lp_init(int port)
{
    m_base = BaseAddress(port);
    m_savedData = m_io->in(m_base);
    m_savedControl = m_io->in(m_base + kControl);
    m_io->out(static_cast<std::uint8_t>(m_savedControl & ~kIrqEnable), m_base + kControl);
    m_initialised = true;
    m_live.io_port.store(static_cast<int>(m_base), kRelaxed);
}

void CTest_ParallelPort::lp_restore()
{
    if (!m_initialised)
        return;
    m_io->out(m_savedData, m_base);
    m_io->out(m_savedControl, m_base + kControl);
}

bool CTest_ParallelPort::detectOnce()
{
    const std::uint8_t control = m_io->in(m_base + kControl);
    m_io->out(static_cast<std::uint8_t>(control & ~kDirection), m_base + kControl);
    m_io->out(kDetectPattern, m_base);
    if (m_io->in(m_base) == kDetectPattern) {
        m_live.PortDetect.store(1, kRelaxed);
        return true;
    }
    setError(kParallelErrorNotDetected);
    LogLine(3, m_displayName, "%s", e_strings[kParallelErrorNotDetected]);
    return false;
}

void CTest_ParallelPort::detectOnlyOnce()
{
    const auto sent = static_cast<std::uint8_t>(std::rand() % 255);
    m_io->out(sent, m_base);
    m_live.dis_bytes_sent[m_index].fetch_add(1, kRelaxed);
    const std::uint8_t back = m_io->in(m_base);
    if (back != sent) {
        reportNow(kParallelErrorNotDetected);
        LogLine(3, m_displayName, "Port detect details, Sent: %d, Rec: %d, Cycle: %u", sent, back,
            relaxedLoad(resultfile.results[m_testID].cycles));
    }
    m_live.PortDetect.store(back == sent ? 1 : 0, kRelaxed);
    CountCycle();
    CountOperations(1);
    m_live.dis_bytes_received[m_index].fetch_add(1, kRelaxed);
    pause(kDetectOnlyWaitMs);
}

std::uint8_t CTest_ParallelPort::readStatus(int sent, int attempt, int loop, int& received)
{
    const std::uint8_t raw = m_io->in(m_base + kStatus);
    const std::uint64_t n = m_live.bytes_received[m_index].fetch_add(1, kRelaxed) + 1;
    m_live.dis_bytes_received[m_index].store(n, kRelaxed);
    CountOperations(1);
    // S3..S7 carry D0..D4; the hardware inverts BUSY (S7).
    received = (raw ^ 0x80) >> 3;
    if (loop % 100 == 0)
        LogLine(
            4, m_displayName, "Sent: %d, Rec: %d, Att: %d, RawByte: %d, Loop:%d", sent, received, attempt, raw, loop);
    return raw;
}

void CTest_ParallelPort::loopbackPass()
{
    for (int i = 0; i < kLoopsPerPass && Active(); ++i) {
        const int sent = std::rand() % 32;
        m_io->out(static_cast<std::uint8_t>(sent), m_base);
        if (i % 100 == 0)
            LogLine(4, m_displayName, "Sent: %d, Loop: %d", sent, i);
        const std::uint64_t n = m_live.bytes_sent[m_index].fetch_add(1, kRelaxed) + 1;
        m_live.dis_bytes_sent[m_index].store(n, kRelaxed);
        CountOperations(1);

        int received = 0;
        int raw = readStatus(sent, 1, i, received);
        if (received != sent) {
            LogLine(3, m_displayName, "Sent: %d, Rec: %d, Att: %d, RawByte: %d, Loop:%d", sent, received, 1, raw, i);
            LogLine(
                3, m_displayName, "(Last byte sent: %d, Rec: %d, RawByte: %d)", m_lastSent, m_lastReceived, m_lastRaw);
            // A second look before calling the plug faulty.
            raw = readStatus(sent, 2, i, received);
            if (received != sent) {
                setError(kParallelErrorLoopback);
                LogLine(3, m_displayName, "%s", e_strings[kParallelErrorLoopback]);
                LogLine(
                    3, m_displayName, "Sent: %d, Rec: %d, Att: %d, RawByte: %d, Loop:%d", sent, received, 2, raw, i);
                break;
            }
        }
        m_lastSent = sent;
        m_lastReceived = received;
        m_lastRaw = raw;
    }

    relaxedStore(resultfile.results[m_testID].cycles,
        static_cast<std::uint32_t>(m_live.bytes_sent[m_index].load(kRelaxed) / kBytesPerCycle));
    pause(m_delayMs);
    if (Active() && m_live.error_parport.load(kRelaxed)) {
        reportPending();
        pause(kErrorWaitMs);
    }
}

void CTest_ParallelPort::test_entry(int port)
{
    MarkRunning();
    th_test_parallelport(port);
}

void CTest_ParallelPort::th_test_parallelport(int port)
{
    DPrintf("%s, %s[%d]: %s starts\n", KVX_WHERE, m_displayName);
    WaitOnGlobal(hooked(kStartWaitMs));
    m_live.error_parport.store(0, kRelaxed);
    LogStart();
    m_delayMs = DutyDelayMs(SlotDutyCycle(testconfig, m_testID));
    m_live.bt_delay_parport.store(m_delayMs, kRelaxed);
    m_live.PortDetect.store(0, kRelaxed);

    if (!HavePrivilege(Privilege::PortIo)) {
        reportNow(kParallelErrorNotRoot);
        while (Active())
            pause(kIdleStepMs);
        EndTest();
        return;
    }

    // Without permission the first register access would kill the whole
    // process, so a refused port is never touched: it stays undetected.
    const int refused = enable_pp_IO();
    if (refused == 0)
        lp_init(port);

    bool detected = false;
    while (Active() && !detected) {
        if (m_live.error_parport.load(kRelaxed)) {
            LogLine(3, m_displayName, "%s[%d]: Cannot detect port /dev/lp%d", kFn, __LINE__, port);
            reportPending();
            pause(kDetectRetryMs);
            if (!Active())
                break;
        }
        if (refused) {
            setError(kParallelErrorNotDetected);
            LogLine(3, m_displayName, "%s", e_strings[kParallelErrorNotDetected]);
            continue;
        }
        detected = detectOnce();
    }

    const bool errorPending = m_live.error_parport.load(kRelaxed) != 0;
    if (relaxedLoad(testconfig.parallel_test_mode) == 1) {
        while (detected && !errorPending && Active())
            detectOnlyOnce();
    } else {
        while (detected && !errorPending && Active())
            loopbackPass();
    }

    // A stop right after a failed pass or detection must not drop its error.
    reportPending();
    lp_restore();
    disable_pp_IO();
    EndTest();
}

void* Test_Thread_ParallelPort(void* arg)
{
    return RunTestThread(static_cast<TestThreadRecord*>(arg), "Test_Thread_ParallelPort",
        [](const RunContext& ctx, int port, int slot) -> std::unique_ptr<CTest_Base> {
            return std::make_unique<CTest_ParallelPort>(ctx, port, slot);
        });
}

extern const EngineInfo kParallelPortEngine;

namespace {

std::string parallelUnitText(const RunContext& ctx, int)
{
    return Format(": lp%d", relaxedLoad(ctx.config.parallel_port_number));
}

// The loop-back mode needs its plug; called only when the port is selected.
std::string parallelPreRunNote(const RunContext& ctx)
{
    if (relaxedLoad(ctx.config.parallel_test_mode) != 0)
        return {};
    return Format("\n* Please check there is a parallel loop back plug in the parallel port lp%d\n",
        relaxedLoad(ctx.config.parallel_port_number));
}

} // namespace

extern const EngineInfo kParallelPortEngine = {
    .name = "Parallel Port",
    .firstSlot = kSlotParallel,
    .units = 1,
    .switchSlot = -1,
    .stopLimitMs = 1000,
    .unitName = "port",
    .unitText = parallelUnitText,
    .preRunNote = parallelPreRunNote,
    .window = LiveWindowKind::ParallelPort,
    .icon = ":/icons/parallel.png",
    .entry = Test_Thread_ParallelPort,
    .makeLive = []() -> std::unique_ptr<LiveStatus> { return std::make_unique<ParallelLive>(); },
    .errorCodes = kParallelErrorCodes,
    .commandName = "parallel",
    .missingPrivilege = [] { return HavePrivilege(Privilege::PortIo) ? nullptr : "needs root or CAP_SYS_RAWIO"; },
};
