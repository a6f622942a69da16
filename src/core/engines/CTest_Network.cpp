#include "CTest_Network.h"

#include "DutyPacer.h"

#include "EngineInfo.h"

#include "Privileges.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "MessageBox.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Run.h"
#include "Startup.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <netdb.h>
#include <new>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

extern const EngineInfo kNetworkEngine;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

constexpr unsigned char kEchoRequest = 8;
constexpr unsigned char kEchoReply = 0;
constexpr int kDataOffset = 20;
// Passes between two sample lines.
constexpr unsigned kSampleEvery = 100;

// receiveReply: the slot was stopped while waiting.
constexpr int kStopped = -2;

int validUnit(int unit, int testID)
{
    if (unit >= 0 && unit < CTest_Network::kUnits)
        return unit;
    return kNetworkEngine.has(testID) ? kNetworkEngine.unitOf(testID) : 0;
}

std::uint32_t load32(const unsigned char* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store32(unsigned char* p, std::uint32_t v)
{
    std::memcpy(p, &v, sizeof v);
}

// The kernel keeps everything but our own echo replies from the socket: the
// ICMP type filter drops other types before they are queued, and a socket
// filter drops replies carrying another identifier, so units (and any other
// ping on the machine) never wake each other. Both are only a saving:
// decode_resp still checks every datagram, so a kernel that refuses them
// costs speed, not correctness.
void installFilters(int fd, std::uint32_t ident)
{
    icmp_filter types {};
    types.data = ~(1u << kEchoReply);
    if (setsockopt(fd, SOL_RAW, ICMP_FILTER, &types, sizeof types) != 0)
        DPrintf("%s, %s[%d]: ICMP type filter refused: %s\n", KVX_WHERE, std::strerror(errno));

    // Classic BPF loads words in network order: the identifier as the
    // wire carries it.
    unsigned char b[4];
    store32(b, ident);
    const std::uint32_t wire = static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16
        | static_cast<std::uint32_t>(b[2]) << 8 | b[3];
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0), // X = IP header length
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0), // ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kEchoReply, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_IND, 4), // identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, wire, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog prog { static_cast<unsigned short>(sizeof code / sizeof code[0]), code };
    if (setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog) != 0)
        DPrintf("%s, %s[%d]: identifier filter refused: %s\n", KVX_WHERE, std::strerror(errno));
}

const char* resolverText(int rc)
{
    switch (rc) {
    case EAI_NONAME:
        return "The specified host is unknown";
    case EAI_FAIL:
        return "A non-recoverable name server error occurred.";
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return "The requested name is valid but does not have an IP address.";
    default:
        return "A temporary error occurred on an authoritative name server. Try again later. ";
    }
}

} // namespace

void NetworkLive::clear()
{
    packets_sent.store(0, kRelaxed);
    packets_rec.store(0, kRelaxed);
    bytes_sent.store(0, kRelaxed);
    PktsSinceErr.store(0, kRelaxed);
    BadPktsSinceErr.store(0, kRelaxed);
    last_delay.store(0.0f, kRelaxed);
    max_delay.store(0.0f, kRelaxed);
    average_delay.store(0.0f, kRelaxed);
    update_start_time.clear();
}

CTest_Network::CTest_Network(const RunContext& ctx, int unit, int testID)
    : CTest_Base(ctx, testID, kSliceDefault)
    , m_unit(validUnit(unit, testID))
    , m_live(ctx.run.live<NetworkLive>(testID))
    , m_settings(ctx.settings<NetworkSettings>())
    , m_ident(static_cast<std::uint32_t>(gettid()))
{
    m_live.clear();
    // The record is shared with the GUI thread; a loaded file need not end
    // the address with a NUL.
    const char* configured = testconfig.network_address[m_unit];
    for (std::size_t i = 0; i + 1 < sizeof m_address && i < sizeof testconfig.network_address[0]; ++i) {
        m_address[i] = relaxedLoad(configured[i]);
        if (!m_address[i])
            break;
    }
    std::snprintf(m_testName, sizeof m_testName, "%s: %s", kNetworkEngine.name, m_address);
}

CTest_Network::~CTest_Network()
{
    closeSocket();
}

timeval CTest_Network::SocketTimeout(int ms)
{
    // A zero time-out would block a receive for good, and the test with it.
    ms = std::max(ms, 1);
    timeval tv {};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

std::uint64_t CTest_Network::RatioMinimum(float ratio)
{
    if (!(ratio > 0.0f))
        return 1;
    const double t = std::trunc(100.0 / static_cast<double>(ratio));
    return t >= 1e18 ? static_cast<std::uint64_t>(1e18) : static_cast<std::uint64_t>(t);
}

unsigned short CTest_Network::checksum(const void* data, int size)
{
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint64_t sum = 0;
    int i = 0;
    for (; i + 1 < size; i += 2) {
        std::uint16_t w;
        std::memcpy(&w, p + i, sizeof w);
        sum += w;
    }
    if (i < size)
        sum += p[i];
    while (sum >> 16)
        sum = (sum >> 16) + (sum & 0xFFFF);
    return static_cast<unsigned short>(~sum & 0xFFFF);
}

void CTest_Network::fill_icmp_data(unsigned char* packet, int size) const
{
    if (size < kDataOffset)
        return;
    std::memset(packet, 0, kDataOffset);
    packet[0] = kEchoRequest;
    packet[1] = 0;
    store32(packet + 4, m_ident);
    for (int k = 0; k < size - kDataOffset; ++k)
        packet[kDataOffset + k] = static_cast<unsigned char>(3 * k);
}

void CTest_Network::stamp_request(unsigned char* packet)
{
    const int size = m_live.datasize.load(kRelaxed);
    packet[2] = packet[3] = 0;
    timeval now {};
    gettimeofday(&now, nullptr);
    store32(packet + 12, static_cast<std::uint32_t>(now.tv_sec));
    store32(packet + 16, static_cast<std::uint32_t>(now.tv_usec));
    std::memcpy(packet + 8, &m_counter, sizeof m_counter);
    ++m_counter;
    const unsigned short sum = checksum(packet, size);
    std::memcpy(packet + 2, &sum, sizeof sum);
}

int CTest_Network::decode_resp(unsigned char* buffer, int length, sockaddr_in* /*from*/, int /*unit*/)
{
    if (length < 1)
        return kNetworkErrorShort;
    const int headerLen = (buffer[0] & 0x0F) * 4;
    if (length < headerLen + 8)
        return kNetworkErrorShort;
    unsigned char* icmp = buffer + headerLen;
    if (icmp[0] != kEchoReply || load32(icmp + 4) != m_ident)
        return -1;

    // A reply of ours cut short would be checked against whatever the
    // buffer held before: it is too short, not corrupt.
    const int size = m_live.datasize.load(kRelaxed);
    if (length < headerLen + size)
        return kNetworkErrorShort;
    unsigned short received;
    std::memcpy(&received, icmp + 2, sizeof received);
    icmp[2] = icmp[3] = 0;
    if (checksum(icmp, size) != received)
        return kNetworkErrorChecksum;
    for (int k = 0; k < size - kDataOffset; ++k)
        if (icmp[kDataOffset + k] != static_cast<unsigned char>(3 * k))
            return kNetworkErrorData;

    timeval now {};
    gettimeofday(&now, nullptr);
    const auto sentSec = static_cast<std::int32_t>(load32(icmp + 12));
    const auto sentUsec = static_cast<std::int32_t>(load32(icmp + 16));
    const auto dSec
        = static_cast<std::int32_t>(static_cast<std::uint32_t>(now.tv_sec) - static_cast<std::uint32_t>(sentSec));
    const float delay = static_cast<float>(static_cast<std::int32_t>(now.tv_usec) - sentUsec) / 1000.0f
        + static_cast<float>(dSec) * 1000.0f;

    if (delay > m_live.max_delay.load(kRelaxed))
        m_live.max_delay.store(delay, kRelaxed);
    // The average over the replies that came back: lost ones have no delay.
    ++m_goodReplies;
    const float previous = m_live.average_delay.load(kRelaxed);
    const auto n = static_cast<float>(m_goodReplies);
    m_live.average_delay.store(((n - 1.0f) * previous + delay) / n, kRelaxed);
    m_live.last_delay.store(delay, kRelaxed);
    return 0;
}

void CTest_Network::sample(const char* text)
{
    if (gLogger)
        gLogger->AddLine(text, -1, 0, m_testName, 4);
}

void CTest_Network::test_entry(int unit)
{
    MarkRunning();
    th_test_network(validUnit(unit, m_testID));
}

void CTest_Network::th_test_network(int unit)
{
    m_unit = unit;
    DPrintf("%s, %s[%d]: %s starts, unit %d\n", KVX_WHERE, m_testName, unit);
    WaitOnGlobal(m_settings.startWaitMs);
    LogStart();
    timeval started {};
    gettimeofday(&started, nullptr);
    m_live.update_start_time.store(started);
    m_timeoutMs = std::max(relaxedLoad(testconfig.network_timeout_ms), 1);

    if (!HavePrivilege(Privilege::RawNetwork)) {
        RecordError(kNetworkErrorNotRoot, kLogTestNetwork);
        while (Active())
            WaitMsecs(m_settings.idleStepMs);
        EndTest();
        return;
    }

    if (setUp())
        exchangeLoop(unit);
    closeSocket();
    m_sendBuf.reset();
    m_recvBuf.reset();
    EndTest();
}

void CTest_Network::closeSocket()
{
    if (m_socket < 0)
        return;
    shutdown(m_socket, SHUT_RDWR);
    close(m_socket);
    m_socket = -1;
}

bool CTest_Network::setUp()
{
    int pending = 0;
    for (int attempt = 0;; ++attempt) {
        WaitMsecs(m_settings.setUpPauseMs);
        closeSocket();
        // A failure found just before a stop is still reported.
        if (pending) {
            RecordError(pending, kLogTestNetwork);
            pending = 0;
            if (Active())
                WaitMsecs(m_settings.retryPauseMs);
        }
        if (!Active())
            return false;
        if (attempt % 100 == 0)
            sample("Create a socket(Sample 1 of 100).\n");
        pending = attemptSetUp();
        if (pending == 0) {
            WaitMsecs(m_settings.setUpPauseMs);
            return Active();
        }
    }
}

int CTest_Network::attemptSetUp()
{
    // The identifier is the id of the thread that sends.
    m_ident = static_cast<std::uint32_t>(gettid());
    m_socket = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (m_socket < 0) {
        LogLine(3, m_testName, "%s", std::strerror(errno));
        return kNetworkErrorSocket;
    }
    const linger off { 0, 0 };
    if (setsockopt(m_socket, SOL_SOCKET, SO_LINGER, &off, sizeof off) != 0) {
        LogLine(3, m_testName, "%s", std::strerror(errno));
        return kNetworkErrorLinger;
    }
    const timeval tv = SocketTimeout(m_timeoutMs);
    setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    installFilters(m_socket, m_ident);

    if (const int rc = resolve(m_address); rc != 0)
        return rc;

    m_live.datasize.store(kPacketSize, kRelaxed);
    m_sendBuf.reset(new (std::nothrow) unsigned char[kBufferSize]());
    m_recvBuf.reset(new (std::nothrow) unsigned char[kBufferSize]());
    if (!m_sendBuf || !m_recvBuf)
        return kNetworkErrorBuffers;
    fill_icmp_data(m_sendBuf.get(), kPacketSize);
    return 0;
}

int CTest_Network::resolve(const char* address)
{
    m_dest = {};
    m_dest.sin_family = AF_INET;
    if (inet_aton(address, &m_dest.sin_addr) != 0)
        return 0;
    addrinfo hints {};
    hints.ai_family = AF_INET; // the socket speaks IPv4 only
    hints.ai_socktype = SOCK_RAW;
    hints.ai_protocol = IPPROTO_ICMP;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(address, nullptr, &hints, &found);
    if (rc != 0 || !found) {
        LogLine(3, m_testName, "%s", resolverText(rc));
        return kNetworkErrorResolve;
    }
    std::memcpy(&m_dest, found->ai_addr, std::min<std::size_t>(sizeof m_dest, found->ai_addrlen));
    m_dest.sin_family = static_cast<sa_family_t>(found->ai_family);
    freeaddrinfo(found);
    return 0;
}

void CTest_Network::exchangeLoop(int unit)
{
    // Exchanges are the work; the pauses are sized by their time.
    DutyPacer pacer(SlotDutyCycle(testconfig, kNetworkEngine.firstSlot));
    const int size = m_live.datasize.load(kRelaxed);
    unsigned pass = 0; // receive passes, for the sample lines
    _resultinfo& result = resultfile.results[m_testID];

    while (Active()) {
        stamp_request(m_sendBuf.get());
        if (pass % kSampleEvery == 0)
            sample("Send packet(Sample 1 of 100).\n");
        int error = 0;
        const ssize_t sent = sendto(m_socket, m_sendBuf.get(), static_cast<std::size_t>(size), 0,
            reinterpret_cast<const sockaddr*>(&m_dest), sizeof m_dest);
        if (sent < 0) {
            LogLine(3, m_testName, "%s[%d]: %s", __func__, __LINE__, std::strerror(errno));
            error = kNetworkErrorSend;
        } else {
            m_live.bytes_sent.fetch_add(static_cast<std::uint64_t>(sent), kRelaxed);
            CountOperations(static_cast<std::uint64_t>(sent));
            m_live.packets_sent.fetch_add(1, kRelaxed);
        }
        // A request that could not be sent still counts towards the ratio:
        // otherwise a dead interface (every send failing) never reaches it.
        m_live.PktsSinceErr.fetch_add(1, kRelaxed);

        if (!error)
            error = receiveReply(unit, pass);
        relaxedStore(result.cycles, static_cast<std::uint32_t>(m_live.packets_sent.load(kRelaxed) / 100));
        if (error == kStopped)
            break; // the exchange in hand is abandoned, not failed
        if (error)
            handleBadExchange(error);
        Pace(pacer);
    }
}

bool CTest_Network::waitReadable(const timeval& since, int limitMs)
{
    for (;;) {
        timeval now {};
        gettimeofday(&now, nullptr);
        const long left = limitMs - ((now.tv_sec - since.tv_sec) * 1000L + (now.tv_usec - since.tv_usec) / 1000L);
        if (left <= 0)
            return true; // the receive that follows reports the time-out
        pollfd p { m_socket, POLLIN, 0 };
        const int ready = poll(&p, 1, static_cast<int>(std::min<long>(left, m_waitSlice)));
        // A signal is no datagram: wait on for what is left of the time.
        if (ready != 0 && !(ready < 0 && errno == EINTR))
            return true;
        if (!Active())
            return false;
    }
}

int CTest_Network::receiveReply(int unit, unsigned& pass)
{
    timeval t0 {};
    gettimeofday(&t0, nullptr);
    const auto& hook = m_settings.replyHook;
    for (;;) {
        if (pass++ % kSampleEvery == 0)
            sample("Receive packet(Sample 1 of 100).\n");
        sockaddr_in from {};
        socklen_t fromLen = sizeof from;
        // On a fast link the reply is there already. Otherwise wait for it
        // in slices, so that a stop is seen while a host keeps silent.
        ssize_t got = recvfrom(
            m_socket, m_recvBuf.get(), kBufferSize, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitReadable(t0, m_timeoutMs))
                return kStopped;
            got = recvfrom(
                m_socket, m_recvBuf.get(), kBufferSize, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
        }
        const int err = errno;
        if (got < 0 && err == EINTR)
            continue;
        int error = 0;
        if (got == 0) {
            LogLine(3, m_testName, "Peer has performed orderly shutdown (see rcvfrom man pages).");
            error = kNetworkErrorReceive;
        } else if (got < 0 && err != EAGAIN && err != EWOULDBLOCK) {
            LogLine(3, m_testName, "%s[%d]: %s", __func__, __LINE__, std::strerror(err));
            error = kNetworkErrorReceive;
        }
        timeval now {};
        gettimeofday(&now, nullptr);
        const long elapsed = (now.tv_sec - t0.tv_sec) * 1000L + (now.tv_usec - t0.tv_usec) / 1000L;
        if (elapsed > m_timeoutMs || (got < 0 && (err == EAGAIN || err == EWOULDBLOCK))) {
            LogLine(3, m_testName, "%s[%d]: Maximum timeout allowed = %d, actual timeout = %d", __func__, __LINE__,
                m_timeoutMs, static_cast<int>(elapsed));
            error = kNetworkErrorTimeout;
        }
        if (error)
            return error;

        int length = static_cast<int>(got);
        const int verdict = hook ? hook(*this, m_recvBuf.get(), &length, &from, unit)
                                 : decode_resp(m_recvBuf.get(), length, &from, unit);
        if (verdict < 0)
            continue;
        if (verdict > 0)
            return verdict;
        m_live.packets_rec.fetch_add(1, kRelaxed);
        return 0;
    }
}

void CTest_Network::drain()
{
    // A late reply to this exchange must not pass for the next one's.
    timeval now {};
    gettimeofday(&now, nullptr);
    if (waitReadable(now, m_settings.drainMs))
        recv(m_socket, m_recvBuf.get(), kBufferSize, MSG_DONTWAIT);
}

void CTest_Network::handleBadExchange(int code)
{
    drain();
    m_live.BadPktsSinceErr.fetch_add(1, kRelaxed);
    // Any option other than the ratio reports every bad exchange: an
    // unknown value must not hide errors.
    if (relaxedLoad(testconfig.network_error_option) != 1) {
        RecordError(code, kLogTestNetwork);
        WaitMsecs(m_settings.errorPauseMs);
        return;
    }
    const float ratio = relaxedLoad(testconfig.network_bad_packet_ratio);
    const std::uint64_t requests = m_live.PktsSinceErr.load(kRelaxed);
    const std::uint64_t bad = m_live.BadPktsSinceErr.load(kRelaxed);
    const bool reached = !(ratio > 0.0f) || static_cast<double>(bad) * 100.0 / static_cast<double>(requests) >= ratio;
    if (requests > 0 && requests >= RatioMinimum(ratio) && reached) {
        RecordError(kNetworkErrorRatio, kLogTestNetwork);
        m_live.PktsSinceErr.store(0, kRelaxed);
        m_live.BadPktsSinceErr.store(0, kRelaxed);
    }
}

void* Test_Thread_Network(void* arg)
{
    return RunTestThread(static_cast<TestThreadRecord*>(arg), "Test_Thread_Network",
        [](const RunContext& ctx, int instance, int slot) -> std::unique_ptr<CTest_Base> {
            return std::make_unique<CTest_Network>(ctx, instance, slot);
        });
}

extern const EngineInfo kNetworkEngine;

namespace {

std::string networkUnitText(const RunContext& ctx, int unit)
{
    const char* address = ctx.config.network_address[unit];
    return ": " + std::string(address, ::strnlen(address, sizeof ctx.config.network_address[unit]));
}

} // namespace

extern const EngineInfo kNetworkEngine = {
    .name = "Network",
    .firstSlot = kSlotNetworkFirst,
    .units = kNumNetworkAddresses,
    .switchSlot = kSlotNetworkGroup,
    .stopLimitMs = 1000,
    .unitName = "host",
    .unitText = networkUnitText,
    .preRunNote = nullptr,
    .window = LiveWindowKind::Network,
    .icon = ":/icons/network.png",
    .entry = Test_Thread_Network,
    .makeLive = [] { return std::unique_ptr<LiveStatus>(std::make_unique<NetworkLive>()); },
    .errorCodes = kNetworkErrorCodes,
    .commandName = "network",
    .missingPrivilege = [] { return HavePrivilege(Privilege::RawNetwork) ? nullptr : "needs root or CAP_NET_RAW"; },
};
