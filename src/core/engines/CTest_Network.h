// The network test (slots 28..31): ICMP echo requests ("ping") to one
// configured host per unit, one request in flight at a time; each reply is
// checked, its round-trip delay measured, and packets, bytes and bad
// exchanges counted. Raw ICMP sockets need superuser rights.
//
// Typical usage:
//   1. The run controller (GUI thread) starts Test_Thread_Network on
//      gThreadData[28 + n] with instance n for every address n that takes
//      part. Each thread creates its own CTest_Network(n, 28 + n).
//   2. test_entry(n) marks the slot active and runs th_test_network(n):
//      start wait, the superuser check (error 203 and idle without it),
//      set-up of the socket and destination (retried every 11 s while it
//      fails), then send / receive / check exchanges until the slot is
//      stopped, with the duty-cycle pause of slot 28 between them.
//   3. The controller stops unit n by clearing thread_active[28 + n]; the
//      unit sees it within one 100 ms slice, even while it waits for a
//      reply, and abandons the exchange in hand.
//
// Threadsafety: a unit's thread writes only its own slot's NetworkLive; the
// GUI thread reads it at any time. Every value is atomic. Each unit's socket
// sees only its own echo replies: the kernel filters the others out, and
// decode_resp ignores any that pass.
#pragma once

#include "RunContext.h"

#include "CTest_Base.h"
#include "LiveStatus.h"
#include "LiveTime.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <netinet/in.h>
#include <sys/time.h>

class CTest_Network;
struct NetworkLive;

// The error codes the network test raises.
enum NetworkError : int {
    kNetworkErrorSocket = 31, // no raw socket
    kNetworkErrorLinger = 33,
    kNetworkErrorResolve = 34, // the host name cannot be resolved
    kNetworkErrorBuffers = 35,
    kNetworkErrorTimeout = 37, // no reply in time
    kNetworkErrorSend = 38,
    kNetworkErrorReceive = 39,
    kNetworkErrorShort = 41, // a reply too short
    kNetworkErrorChecksum = 97,
    kNetworkErrorData = 98,
    kNetworkErrorRatio = 124, // the bad packet ratio was reached
    kNetworkErrorNotRoot = 203, // no right to raw sockets
};
inline constexpr int kNetworkErrorCodes[] = { kNetworkErrorSocket, kNetworkErrorLinger, kNetworkErrorResolve,
    kNetworkErrorBuffers, kNetworkErrorTimeout, kNetworkErrorSend, kNetworkErrorReceive, kNetworkErrorShort,
    kNetworkErrorChecksum, kNetworkErrorData, kNetworkErrorRatio, kNetworkErrorNotRoot };

// The network test's own settings: its waits in milliseconds, which tests
// shorten, and a hook for tests.
struct NetworkSettings {
    int startWaitMs = 2000; // once, before the test starts
    int setUpPauseMs = 1000; // before every set-up try, and after the good one
    int retryPauseMs = 10000; // after a failed set-up try has been reported
    int idleStepMs = 10000; // steps of the idle wait without superuser rights
    int errorPauseMs = 2000; // after a reported exchange error
    int drainMs = 1000; // the wait for a stray datagram after a bad exchange
    // When set, the exchange loop passes every received datagram to the hook
    // instead of decode_resp; it may change the datagram and its length (at
    // most kBufferSize) and returns decode_resp's verdict. The program never
    // sets one.
    using ReplyHook
        = std::function<int(CTest_Network& engine, unsigned char* buffer, int* length, sockaddr_in* from, int unit)>;
    ReplyHook replyHook;
};

class CTest_Network : public CTest_Base {
public:
    static constexpr int kUnits = kNumNetworkAddresses;
    // The ICMP message sent: 20 header bytes and 64 data bytes.
    static constexpr int kPacketSize = 84;
    static constexpr int kBufferSize = 1024;
    // "Network" among the event log's test names.
    static constexpr int kLogTestNetwork = 12;

    // Unit `unit` (0..3; out of range, the unit of slot `testID`) on slot
    // `testID`. Clears the slot's live values. Names the engine
    // "Network: <address>".
    CTest_Network(const RunContext& ctx, int unit, int testID);
    ~CTest_Network() override;

    // Counts the test as running, marks the slot active and runs
    // th_test_network. Test thread.
    void test_entry(int unit) override;
    // The whole test of unit `unit`, until the slot is stopped.
    void th_test_network(int unit);

    // Writes the constant part of a request of `size` bytes: type 8, code
    // 0, a zero checksum, this engine's identifier, a zero counter and time,
    // and data byte k (from offset 20) = 3 * k mod 256.
    void fill_icmp_data(unsigned char* packet, int size) const;
    // Makes `packet` (the live datasize bytes, filled by fill_icmp_data)
    // the next request: the time of day at offset 12, the request counter
    // at offset 8 (then counts it), and the checksum at offset 2.
    void stamp_request(unsigned char* packet);
    // The Internet checksum (RFC 1071) of `size` bytes, as stored in the
    // packet: 16-bit words in memory order, an odd last byte on its own.
    static unsigned short checksum(const void* data, int size);
    // Checks one received datagram (IP header included): -1 when it is not
    // an echo reply carrying this engine's identifier, 0 for a good reply
    // (after updating the slot's delays), or the error code:
    // kNetworkErrorShort, kNetworkErrorChecksum or kNetworkErrorData.
    int decode_resp(unsigned char* buffer, int length, sockaddr_in* from, int unit);

    // The identifier in this engine's requests: the id of the thread that
    // set it up.
    std::uint32_t identifier() const { return m_ident; }
    // The socket time-out for a time-out of `ms` (at least 1 ms).
    static timeval SocketTimeout(int ms);
    // The fewest requests since the last ratio error before a bad packet
    // ratio of `ratio` percent counts: trunc(100 / ratio); 1 when the ratio
    // is not positive.
    static std::uint64_t RatioMinimum(float ratio);
    // The slot's live values.
    NetworkLive& live() const { return m_live; }

private:
    bool setUp();
    int attemptSetUp();
    int resolve(const char* address);
    void closeSocket();
    void exchangeLoop(int unit);
    int receiveReply(int unit, unsigned& pass);
    // Waits until the socket has a datagram, `limitMs` after `since` have
    // passed (true for both) or the slot is stopped (false).
    bool waitReadable(const timeval& since, int limitMs);
    void drain();
    void handleBadExchange(int code);
    void sample(const char* text);

    int m_unit;
    NetworkLive& m_live;
    const NetworkSettings m_settings;
    std::uint32_t m_ident;
    std::uint16_t m_counter = 0;
    std::uint64_t m_goodReplies = 0;
    int m_socket = -1;
    int m_timeoutMs = 2000;
    sockaddr_in m_dest {};
    std::unique_ptr<unsigned char[]> m_sendBuf;
    std::unique_ptr<unsigned char[]> m_recvBuf;
    char m_address[201] {};
};

// The live values of one network unit, for its window. Written by the
// unit's test thread, read by the GUI thread.
struct NetworkLive : LiveStatus {
    std::atomic<std::uint64_t> packets_sent { 0 }; // echo requests sent
    std::atomic<std::uint64_t> packets_rec { 0 }; // good echo replies
    std::atomic<std::uint64_t> bytes_sent { 0 };
    std::atomic<std::uint64_t> PktsSinceErr { 0 }; // requests since the last ratio error
    std::atomic<std::uint64_t> BadPktsSinceErr { 0 }; // bad exchanges since then
    std::atomic<float> last_delay { 0 }; // ms, of the last good reply
    std::atomic<float> max_delay { 0 }; // ms
    std::atomic<float> average_delay { 0 }; // ms, over the good replies
    // When the unit's test started.
    LiveTimeval update_start_time;
    // The ICMP message size in use.
    std::atomic<int> datasize { CTest_Network::kPacketSize };

    // Back to the values of a unit not yet started (the message size
    // stays). Any thread.
    void clear();
};

// Thread entry of slots 28..31 (ChildProc): `arg` is the slot's
// TestThreadRecord, its instance the unit.
void* Test_Thread_Network(void* arg);
