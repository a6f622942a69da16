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
// Threadsafety: a unit's thread writes only the unit's element of the
// class-wide arrays below (a constructor may clear them all, see there);
// the GUI thread reads them at any time. Every element is atomic, and
// update_start_time is read and written field by field through
// AtomicField.h. Each unit's socket sees only its own echo replies: the
// kernel filters the others out, and decode_resp ignores any that pass.
#pragma once

#include "RunContext.h"

#include "CTest_Base.h"

#include <atomic>
#include <cstdint>
#include <netinet/in.h>
#include <sys/time.h>

// Waits of the network test, in milliseconds. Tests shorten them.
struct NetworkTiming {
    int startWaitMs = 2000; // once, before the test starts
    int setUpPauseMs = 1000; // before every set-up try, and after the good one
    int retryPauseMs = 10000; // after a failed set-up try has been reported
    int idleStepMs = 10000; // steps of the idle wait without superuser rights
    int errorPauseMs = 2000; // after a reported exchange error
    int drainMs = 1000; // the wait for a stray datagram after a bad exchange
};

class CTest_Network : public CTest_Base {
public:
    static constexpr int kUnits = kNumNetworkAddresses;
    // The ICMP message sent: 20 header bytes and 64 data bytes.
    static constexpr int kPacketSize = 84;
    static constexpr int kBufferSize = 1024;
    // "Network" among the event log's test names.
    static constexpr int kLogTestNetwork = 12;

    // Live values per unit for the network window.
    static std::atomic<std::uint64_t> packets_sent[kUnits]; // echo requests sent
    static std::atomic<std::uint64_t> packets_rec[kUnits]; // good echo replies
    static std::atomic<std::uint64_t> bytes_sent[kUnits];
    static std::atomic<std::uint64_t> PktsSinceErr[kUnits]; // requests since the last ratio error
    static std::atomic<std::uint64_t> BadPktsSinceErr[kUnits]; // bad exchanges since then
    static std::atomic<float> last_delay[kUnits]; // ms, of the last good reply
    static std::atomic<float> max_delay[kUnits]; // ms
    static std::atomic<float> average_delay[kUnits]; // ms, over the good replies
    // When the unit's test started; fields through relaxedLoad/relaxedStore.
    static timeval update_start_time[kUnits];
    // The ICMP message size in use.
    static std::atomic<int> datasize;

    // Unit `unit` (0..3; out of range, the unit of slot `testID`) on slot
    // `testID`. Clears the unit's live values, and those of all four when no
    // other network engine is alive (clearing a running unit's counters
    // would lose them). Names the engine "Network: <address>".
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
    // Makes `packet` (datasize bytes, filled by fill_icmp_data) the next
    // request: the time of day at offset 12, the request counter at offset
    // 8 (then counts it), and the checksum at offset 2.
    void stamp_request(unsigned char* packet);
    // The Internet checksum (RFC 1071) of `size` bytes, as stored in the
    // packet: 16-bit words in memory order, an odd last byte on its own.
    static unsigned short checksum(const void* data, int size);
    // Checks one received datagram (IP header included): -1 when it is not
    // an echo reply carrying this engine's identifier, 0 for a good reply
    // (after updating the unit's delays), or the error code: 41 too short,
    // 97 bad checksum, 98 bad data.
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
    // The unit's start time, read whole enough for a display. Any thread.
    static timeval UpdateStartTime(int unit);

    // Test-only: the waits of engines created from now on. Call with no
    // network engine alive.
    static void SetTimingForTests(const NetworkTiming& timing);
    // Test-only: when set, the exchange loop passes every received datagram
    // to `hook` instead of decode_resp; the hook may change the datagram and
    // its length (at most kBufferSize) and returns decode_resp's verdict.
    // Null removes it. The program never sets one.
    using ReplyHook = int (*)(CTest_Network& engine, unsigned char* buffer, int* length, sockaddr_in* from, int unit);
    static void SetReplyHook(ReplyHook hook);

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
    void handleBadExchange(int unit, int code);
    void sample(const char* text);

    int m_unit;
    std::uint32_t m_ident;
    std::uint16_t m_counter = 0;
    std::uint64_t m_goodReplies = 0;
    int m_socket = -1;
    int m_timeoutMs = 2000;
    sockaddr_in m_dest {};
    std::unique_ptr<unsigned char[]> m_sendBuf;
    std::unique_ptr<unsigned char[]> m_recvBuf;
    char m_address[201] {};
    NetworkTiming m_timing;
};

// Thread entry of slots 28..31 (ChildProc): `arg` is the slot's
// TestThreadRecord, its instance the unit.
void* Test_Thread_Network(void* arg);
