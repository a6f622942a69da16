#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Network.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Net = CTest_Network;
constexpr int kSlot = kSlotNetworkFirst;

int count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

template <class Pred> bool waitFor(Pred p, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!p()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Brings interface `name` (an alias like "lo:1" with `address`) up in the
// calling thread's network namespace.
bool interfaceUp(const char* name, const char* address = nullptr)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq r {};
    std::snprintf(r.ifr_name, sizeof r.ifr_name, "%s", name);
    bool ok = true;
    if (address) {
        sockaddr_in sin {};
        sin.sin_family = AF_INET;
        inet_pton(AF_INET, address, &sin.sin_addr);
        std::memcpy(&r.ifr_addr, &sin, sizeof sin);
        ok = ioctl(fd, SIOCSIFADDR, &r) == 0;
    }
    ok = ok && ioctl(fd, SIOCGIFFLAGS, &r) == 0;
    r.ifr_flags = static_cast<short>(r.ifr_flags | IFF_UP);
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &r) == 0;
    close(fd);
    return ok;
}

// Runs `body` on a thread of its own inside a new network namespace (so
// nothing it sends can leave the machine or meet other traffic); threads
// it starts stay inside. Returns why the namespace could not be made, or
// an empty string after `body` has run.
std::string inPrivateNetwork(bool loopbackUp, const std::function<void()>& body)
{
    std::string why;
    std::thread t([&] {
        if (unshare(CLONE_NEWNET) != 0)
            why = std::string("no network namespace: ") + std::strerror(errno);
        else if (loopbackUp && !interfaceUp("lo"))
            why = std::string("loopback stays down: ") + std::strerror(errno);
        else
            body();
    });
    t.join();
    return why;
}

class NetworkTest : public ::testing::Test {
protected:
    static constexpr int kCodes[] = { 203, 31, 34, 37, 38, 39, 41, 97, 98, 124 };

    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(gThreadData, 0, sizeof gThreadData);
        for (auto& a : thread_active)
            relaxedStore(a, 0);
        tests_running = 0;
        testconfig.duty_cycle[kSlot] = 100;
        testconfig.network_timeout_ms = 2000;
        testconfig.network_error_option = 1;
        testconfig.network_bad_packet_ratio = 2.0f;
        setAddress(0, "127.0.0.1");
        testconfig.logging_enabled = testconfig.log_detail_level = testconfig.trace_header_written = 1;
        testconfig.trace_level = 4;
        g_fpActivityLog = std::fopen(dir.file("trace.log").c_str(), "w");
        gLogger = new CLogger("dummyStr");
        for (int code : kCodes) {
            e_classification[code] = kSevSerious;
            std::snprintf(e_strings[code], kErrorTextSize, "Network error %d", code);
        }
        NetworkTiming fast;
        fast.startWaitMs = 0;
        fast.setUpPauseMs = fast.retryPauseMs = fast.idleStepMs = fast.errorPauseMs = fast.drainMs = 20;
        Net::SetTimingForTests(fast);
    }
    void TearDown() override
    {
        Net::SetReplyHook(nullptr);
        Net::SetTimingForTests(NetworkTiming {});
        delete gLogger; // closes the trace
        gLogger = nullptr;
        for (int code : kCodes)
            e_classification[code] = 0, e_strings[code][0] = '\0';
    }
    static void setAddress(int unit, const char* address)
    {
        std::snprintf(testconfig.network_address[unit], sizeof testconfig.network_address[unit], "%s", address);
    }
    std::string trace() { return ReadFile(dir.file("trace.log")); }
    static const _resultinfo& result(int unit = 0) { return resultfile.results[kSlot + unit]; }

    // Starts unit `unit` through its thread entry, as a run does.
    static pthread_t startUnit(int unit)
    {
        gThreadData[kSlot + unit].test_id = kSlot + unit;
        gThreadData[kSlot + unit].instance = unit;
        pthread_t t {};
        EXPECT_EQ(pthread_create(&t, nullptr, ChildProc[kSlot + unit], &gThreadData[kSlot + unit]), 0);
        return t;
    }
    static void stop(int unit, pthread_t thread)
    {
        SetSlotActive(kSlot + unit, false);
        pthread_join(thread, nullptr);
    }
    static bool root() { return geteuid() == 0; }

    TempDir dir;
};

// Puts the right checksum into an ICMP message.
void reseal(unsigned char* icmp)
{
    icmp[2] = icmp[3] = 0;
    const unsigned short sum = Net::checksum(icmp, Net::kPacketSize);
    std::memcpy(icmp + 2, &sum, 2);
}

// An echo reply as the kernel would deliver it to `engine`: an IP header of
// `headerLen` bytes, then the engine's request turned into a reply, sent
// `ageMs` ago.
std::vector<unsigned char> replyFor(Net& engine, int ageMs, int headerLen = 20)
{
    std::vector<unsigned char> d(static_cast<std::size_t>(headerLen + Net::kPacketSize));
    d[0] = static_cast<unsigned char>(0x40 | headerLen / 4);
    unsigned char* icmp = d.data() + headerLen;
    engine.fill_icmp_data(icmp, Net::kPacketSize);
    engine.stamp_request(icmp);
    timeval tv {};
    gettimeofday(&tv, nullptr);
    long usec = tv.tv_usec - ageMs * 1000L, sec = tv.tv_sec;
    for (; usec < 0; usec += 1000000)
        --sec;
    const auto s = static_cast<std::uint32_t>(sec), u = static_cast<std::uint32_t>(usec);
    std::memcpy(icmp + 12, &s, 4);
    std::memcpy(icmp + 16, &u, 4);
    icmp[0] = 0;
    reseal(icmp);
    return d;
}

TEST_F(NetworkTest, RequestLayoutChecksumAndReplyChecks)
{
    // RFC 1071's example (stored in memory order), an odd last byte that
    // counts as the low-order byte, and a carry that needs a second fold.
    const unsigned char rfc[] = { 0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7 };
    const unsigned char odd[] = { 0x12, 0x34, 0x56 };
    const unsigned char carry[] = { 0xff, 0xff, 0xff, 0xff, 0x01, 0x00 };
    for (auto [data, size, expected] : { std::tuple { rfc, 8, 0x0d22 }, { odd, 3, 0xcb97 }, { carry, 6, 0xfffe } })
        EXPECT_EQ(Net::checksum(data, size), expected) << size;

    Net engine(0, kSlot);
    EXPECT_EQ(engine.identifier(), static_cast<std::uint32_t>(gettid()));
    unsigned char p[Net::kPacketSize];
    std::memset(p, 0xAA, sizeof p);
    engine.fill_icmp_data(p, Net::kPacketSize);
    for (std::uint16_t n = 0; n < 2; ++n) {
        timeval before {}, after {};
        gettimeofday(&before, nullptr);
        engine.stamp_request(p);
        gettimeofday(&after, nullptr);
        std::uint32_t id, sec, usec;
        std::uint16_t counter;
        std::memcpy(&id, p + 4, 4), std::memcpy(&counter, p + 8, 2), std::memcpy(&sec, p + 12, 4);
        std::memcpy(&usec, p + 16, 4);
        EXPECT_EQ(std::tuple(p[0], p[1], id, counter, p[10], p[11]), std::tuple(8, 0, engine.identifier(), n, 0, 0));
        const double t = sec + usec / 1e6;
        EXPECT_TRUE(t >= before.tv_sec + before.tv_usec / 1e6 - 1e-6 && t <= after.tv_sec + after.tv_usec / 1e6 + 1e-6);
        EXPECT_EQ(Net::checksum(p, Net::kPacketSize), 0) << "a valid checksum sums to zero";
    }
    for (int k = 0; k < 64; ++k)
        ASSERT_EQ(p[20 + k], 3 * k % 256) << k;

    // decode_resp on datagrams as the socket hands them over.
    struct Case {
        const char* what;
        std::function<void(std::vector<unsigned char>&, int&)> spoil;
        int verdict;
    };
    const Case cases[] = {
        { "good", [](auto&, int&) {}, 0 },
        { "header with options", [](auto& d, int& n) { d.insert(d.begin() + 1, 4, 0), d[0] = 0x46, n += 4; }, 0 },
        { "own request looped back", [](auto& d, int&) { d[20] = 8; }, -1 },
        { "another thread's reply", [](auto& d, int&) { d[24] ^= 1; }, -1 },
        { "bad checksum", [](auto& d, int&) { d[22] ^= 1; }, 97 },
        { "bad data", [](auto& d, int&) { d[100] ^= 1, reseal(d.data() + 20); }, 98 }, // checksum still valid
        { "shorter than its headers", [](auto&, int& n) { n = 27; }, 41 },
        { "empty", [](auto&, int& n) { n = 0; }, 41 },
        { "reply cut short", [](auto&, int& n) { n = 60; }, 41 },
    };
    for (const Case& c : cases) {
        auto d = replyFor(engine, 1);
        int n = static_cast<int>(d.size());
        c.spoil(d, n);
        EXPECT_EQ(engine.decode_resp(d.data(), n, nullptr, 0), c.verdict) << c.what;
    }

    // Delays of good replies only: the last, the largest and their average.
    Net fresh(1, kSlot + 1);
    for (int age : { 4, 8 }) {
        auto d = replyFor(fresh, age);
        ASSERT_EQ(fresh.decode_resp(d.data(), static_cast<int>(d.size()), nullptr, 1), 0);
    }
    auto bad = replyFor(fresh, 50);
    bad[22] ^= 1;
    EXPECT_EQ(fresh.decode_resp(bad.data(), static_cast<int>(bad.size()), nullptr, 1), 97);
    EXPECT_NEAR(Net::last_delay[1], 8.0f, 2.0f);
    EXPECT_NEAR(Net::max_delay[1], 8.0f, 2.0f);
    EXPECT_NEAR(Net::average_delay[1], 6.0f, 2.0f);

    // Socket time-outs and the ratio rule's minimum request count.
    for (auto [ms, sec, usec] :
        { std::tuple { 2500, 2, 500000 }, { 2000, 2, 0 }, { 999, 0, 999000 }, { 0, 0, 1000 } }) {
        const timeval tv = Net::SocketTimeout(ms);
        EXPECT_EQ(std::pair(tv.tv_sec, tv.tv_usec), std::pair(long { sec }, long { usec })) << ms;
    }
    for (auto [ratio, minimum] : { std::pair { 2.0f, 50 }, { 1.0f, 100 }, { 3.0f, 33 }, { 99.0f, 1 }, { 0.0f, 1 } })
        EXPECT_EQ(Net::RatioMinimum(ratio), static_cast<std::uint64_t>(minimum)) << ratio;
}

// What the reply hook saw, per unit.
struct HookLog {
    std::mutex m;
    std::set<std::uint32_t> accepted[Net::kUnits]; // identifiers of accepted replies
    int strangers[Net::kUnits] = {}; // accepted replies not carrying the unit's identifier
    std::uint64_t acceptedCount[Net::kUnits] = {};
} * gHookLog;

int recordingHook(Net& engine, unsigned char* d, int* length, sockaddr_in* from, int unit)
{
    const int verdict = engine.decode_resp(d, *length, from, unit);
    if (verdict == 0) {
        std::uint32_t id;
        std::memcpy(&id, d + (d[0] & 0x0F) * 4 + 4, 4);
        std::lock_guard lock(gHookLog->m);
        gHookLog->accepted[unit].insert(id);
        gHookLog->strangers[unit] += id != engine.identifier();
        ++gHookLog->acceptedCount[unit];
    }
    return verdict;
}

TEST_F(NetworkTest, TwoUnitsOnLoopbackCountOnlyTheirOwnReplies)
{
    if (!root())
        GTEST_SKIP() << "raw sockets need root";
    setAddress(1, "localhost"); // resolved from /etc/hosts
    HookLog log;
    gHookLog = &log;
    Net::SetReplyHook(recordingHook);
    timeval started {};
    gettimeofday(&started, nullptr);
    const pthread_t a = startUnit(0), b = startUnit(1);
    const bool busy = waitFor([] { return Net::packets_sent[0] >= 300 && Net::packets_sent[1] >= 300; });
    stop(0, a);
    stop(1, b);
    ASSERT_TRUE(busy) << Net::packets_sent[0] << ", " << Net::packets_sent[1] << "\n" << trace();

    const std::string text = trace();
    for (int u = 0; u < 2; ++u) {
        SCOPED_TRACE(u);
        const std::uint64_t sent = Net::packets_sent[u];
        // One exchange at a time, each ending in its own reply.
        EXPECT_EQ(
            std::tuple(Net::packets_rec[u].load(), log.acceptedCount[u], log.strangers[u], log.accepted[u].size()),
            std::tuple(sent, sent, 0, std::size_t { 1 }));
        EXPECT_EQ(std::tuple(result(u).cycles, result(u).op_count, Net::bytes_sent[u].load(), result(u).errors),
            std::tuple(static_cast<std::uint32_t>(sent / 100), 84 * sent, 84 * sent, 0u));
        EXPECT_EQ(std::pair(Net::PktsSinceErr[u].load(), Net::BadPktsSinceErr[u].load()), std::pair(sent, 0ul));
        const float last = Net::last_delay[u], most = Net::max_delay[u], mean = Net::average_delay[u];
        EXPECT_TRUE(last >= 0 && mean > 0 && mean <= most && last <= most && most < 2000)
            << last << " " << mean << " " << most;
        const timeval s = Net::UpdateStartTime(u);
        EXPECT_GE(s.tv_sec, started.tv_sec);
        const std::string name = u ? "Network: localhost, " : "Network: 127.0.0.1, ";
        EXPECT_EQ(count(text, name + "Send packet(Sample 1 of 100)."), static_cast<int>((sent + 99) / 100));
        EXPECT_EQ(count(text, name + "Create a socket(Sample 1 of 100)."), 1);
    }
    EXPECT_NE(*log.accepted[0].begin(), *log.accepted[1].begin());
    EXPECT_EQ(count(text, ", Network, Starting test"), 2);
    EXPECT_EQ(count(text, ", Network, Stopping test"), 2);
    EXPECT_EQ(tests_running.load(), 0);
}

// Spoils the replies of chosen exchanges (numbered from 1) and stops the
// unit after `stopAt`; notes the error count seen at each exchange.
struct BadReplyScript {
    std::vector<std::pair<std::uint64_t, char>> spoil; // exchange, 'd' data, 'c' checksum, 's' short
    std::uint64_t stopAt = 0;
    std::vector<std::uint32_t> errorsAt;
} * gBadScript;

int spoilingHook(Net& engine, unsigned char* d, int* length, sockaddr_in* from, int unit)
{
    BadReplyScript& s = *gBadScript;
    const std::uint64_t n = Net::packets_sent[unit];
    s.errorsAt.resize(n + 1);
    s.errorsAt[n] = relaxedLoad(resultfile.results[kSlot + unit].errors);
    unsigned char* icmp = d + (d[0] & 0x0F) * 4;
    for (auto [at, how] : s.spoil) {
        if (at != n)
            continue;
        if (how == 's')
            *length = static_cast<int>(icmp - d) + 4;
        icmp[how == 'c' ? 2 : 40] ^= 0x10;
        if (how == 'd')
            reseal(icmp); // the data check, not the checksum, must find it
    }
    if (n >= s.stopAt)
        SetSlotActive(kSlot + unit, false);
    return engine.decode_resp(d, *length, from, unit);
}

TEST_F(NetworkTest, BadRepliesAreErrorsOrCountTowardsTheRatio)
{
    if (!root())
        GTEST_SKIP() << "raw sockets need root";
    Net::SetReplyHook(spoilingHook);

    // Option 0: each bad exchange is reported with its own code.
    testconfig.network_error_option = 0;
    BadReplyScript every { { { 3, 'd' }, { 6, 'c' }, { 9, 's' } }, 12, {} };
    gBadScript = &every;
    {
        Net engine(0, kSlot);
        engine.test_entry(0);
    }
    EXPECT_EQ(
        std::tuple(result().errors, result().last_error, resultfile.classes[kSlot].serious), std::tuple(3u, 41u, 3u));
    EXPECT_EQ(std::tuple(resultfile.error_occurrences[98], resultfile.error_occurrences[97],
                  resultfile.error_occurrences[41], resultfile.error_occurrences[124]),
        std::tuple(1, 1, 1, 0));
    EXPECT_EQ(std::pair(Net::packets_sent[0].load(), Net::packets_rec[0].load()), std::pair(12ul, 9ul));

    // Option 1 at 2 %: nothing before 50 requests; at 50 or more, 2 % bad
    // raises 124 and both counters start again.
    std::memset(&resultfile, 0, sizeof resultfile);
    testconfig.network_error_option = 1;
    BadReplyScript ratio { { { 10, 'd' }, { 50, 'd' }, { 120, 'c' }, { 150, 'd' }, { 160, 'd' } }, 170, {} };
    gBadScript = &ratio;
    {
        Net engine(0, kSlot);
        engine.test_entry(0);
    }
    EXPECT_EQ(
        std::tuple(result().errors, result().last_error, resultfile.error_occurrences[98]), std::tuple(2u, 124u, 0));
    std::vector<std::uint64_t> raisedAfter;
    for (std::size_t n = 2; n < ratio.errorsAt.size(); ++n)
        if (ratio.errorsAt[n] != ratio.errorsAt[n - 1])
            raisedAfter.push_back(n - 1);
    EXPECT_EQ(raisedAfter, (std::vector<std::uint64_t> { 50, 150 })) << "1/10 too few requests, 2/50 = 4 %, "
                                                                        "1/70 below, 2/100 = 2 % exactly";
    EXPECT_EQ(std::tuple(Net::PktsSinceErr[0].load(), Net::BadPktsSinceErr[0].load(), Net::packets_rec[0].load()),
        std::tuple(20ul, 1ul, 165ul));
}

// Answers every DNS query in its namespace: "nxdomain.*" with NXDOMAIN,
// "servfail.*" SERVFAIL, anything else NOERROR and no address.
class FakeNameServer {
public:
    FakeNameServer()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sin {};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(53);
        m_ok = bind(m_fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
        if (m_ok)
            m_thread = std::thread([this] { serve(); });
    }
    ~FakeNameServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        close(m_fd);
    }
    bool ok() const { return m_ok; }

private:
    void serve()
    {
        while (!m_stop) {
            pollfd p { m_fd, POLLIN, 0 };
            if (poll(&p, 1, 20) != 1)
                continue;
            unsigned char q[512];
            sockaddr_in from {};
            socklen_t len = sizeof from;
            const ssize_t n = recvfrom(m_fd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&from), &len);
            std::size_t end = 12;
            while (n > 12 && end < static_cast<std::size_t>(n) && q[end] != 0)
                end += q[end] + 1u;
            end += 5; // the root label, type and class
            if (n < 13 || end > static_cast<std::size_t>(n))
                continue;
            const std::string label(reinterpret_cast<char*>(q + 13), q[12]);
            const int rcode = label == "nxdomain" ? 3 : label == "servfail" ? 2 : 0;
            q[2] = static_cast<unsigned char>(0x80 | (q[2] & 0x79)); // a response, same opcode and RD
            q[3] = static_cast<unsigned char>(0x80 | rcode);
            std::memset(q + 6, 0, 6); // no answer, authority or additional records
            sendto(m_fd, q, end, 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
    int m_fd;
    bool m_ok;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

// The resolver's name servers (from /etc/resolv.conf) as local addresses of
// the calling thread's namespace, so its queries stay inside. False when
// one of them is not IPv4.
bool nameServersHere()
{
    std::ifstream conf("/etc/resolv.conf");
    std::string line;
    int alias = 0;
    while (std::getline(conf, line)) {
        std::istringstream words(line);
        std::string key, address;
        words >> key >> address;
        if (key != "nameserver")
            continue;
        in_addr a {};
        if (inet_pton(AF_INET, address.c_str(), &a) != 1)
            return false;
        if ((ntohl(a.s_addr) >> 24) == 127)
            continue;
        const std::string name = "lo:" + std::to_string(++alias);
        if (!interfaceUp(name.c_str(), address.c_str()))
            return false;
    }
    return true;
}

TEST_F(NetworkTest, NamesThatDoNotResolveAreReportedAndRetried)
{
    if (!root())
        GTEST_SKIP() << "raw sockets need root";
    struct {
        const char* host;
        const char* text;
    } cases[] = {
        { "nxdomain.kvx.invalid", "The specified host is unknown" },
        { "servfail.kvx.invalid", "A temporary error occurred on an authoritative name server. Try again later." },
        { "nodata.kvx.invalid", "The requested name is valid but does not have an IP address." },
    };
    bool first = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        std::memset(&resultfile, 0, sizeof resultfile);
        setAddress(0, c.host);
        const int reports = first ? 3 : 1; // the first one shows the retries
        bool servers = true;
        const std::string why = inPrivateNetwork(true, [&] {
            if (!(servers = nameServersHere()))
                return;
            FakeNameServer server;
            ASSERT_TRUE(server.ok()) << std::strerror(errno);
            const pthread_t t = startUnit(0);
            EXPECT_TRUE(waitFor([&] { return relaxedLoad(result().errors) >= static_cast<unsigned>(reports); }));
            stop(0, t);
        });
        if (!why.empty() || !servers)
            GTEST_SKIP() << (servers ? why : "a name server that is not IPv4");
        const std::string text = trace();
        EXPECT_EQ(std::pair(result().last_error, Net::packets_sent[0].load()), std::pair(34u, 0ul));
        EXPECT_GE(count(text, std::string("Network: ") + c.host + ", " + c.text), reports);
        if (first) { // tries 0 and 100 and so on
            EXPECT_EQ(count(text, "Network: nxdomain.kvx.invalid, Create a socket(Sample 1 of 100)."), 1);
        }
        first = false;
    }
}

TEST_F(NetworkTest, WithoutSuperuserRightsOneErrorAndNoPackets)
{
    if (!root())
        GTEST_SKIP() << "needs root to drop it";
    struct Seen {
        std::uint32_t errors, lastError;
        std::uint64_t sent, opCount;
        int occurrences;
    } seen {};
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // No threads here: a timer signal asks the test to stop.
        close(fds[0]);
        if (seteuid(65534) != 0)
            _exit(3);
        std::signal(SIGALRM, [](int) { SetSlotActive(kSlot, false); });
        itimerval in300ms {};
        in300ms.it_value.tv_usec = 300000;
        setitimer(ITIMER_REAL, &in300ms, nullptr);
        {
            Net engine(0, kSlot);
            engine.test_entry(0);
        }
        const _resultinfo& r = resultfile.results[kSlot];
        const Seen s { r.errors, r.last_error, Net::packets_sent[0], r.op_count, resultfile.error_occurrences[203] };
        _exit(write(fds[1], &s, sizeof s) == sizeof s ? 0 : 4);
    }
    close(fds[1]);
    const ssize_t got = read(fds[0], &seen, sizeof seen);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == sizeof seen) << status;
    // About fifteen idle steps in the 300 ms, still one error.
    EXPECT_EQ(std::tuple(seen.errors, seen.lastError, seen.sent, seen.opCount, seen.occurrences),
        std::tuple(1u, 203u, 0ul, 0ul, 1));
    const std::string text = trace();
    EXPECT_EQ(count(text, "Network error 203"), 1);
    EXPECT_EQ(count(text, "Create a socket"), 0);
    EXPECT_EQ(count(text, "Stopping test"), 1);
}

TEST_F(NetworkTest, NoReplyOrNoRouteIsAnError)
{
    if (!root())
        GTEST_SKIP() << "raw sockets need root";
    // A namespace whose kernel ignores echo requests: every request times out.
    testconfig.network_timeout_ms = 200;
    testconfig.network_error_option = 0;
    std::string why = inPrivateNetwork(true, [&] {
        std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << "1\n";
        const pthread_t t = startUnit(0);
        EXPECT_TRUE(waitFor([] { return relaxedLoad(resultfile.results[kSlot].errors) >= 2; }));
        stop(0, t);
    });
    if (!why.empty())
        GTEST_SKIP() << why;
    std::string text = trace();
    EXPECT_EQ(std::tuple(result().last_error, resultfile.error_occurrences[37], Net::packets_rec[0].load()),
        std::tuple(37u, static_cast<int>(result().errors), 0ul));
    const std::string said = "Maximum timeout allowed = 200, actual timeout = ";
    const auto at = text.find(said);
    ASSERT_NE(at, std::string::npos) << text;
    const int waited = std::atoi(text.c_str() + at + said.size());
    EXPECT_TRUE(waited >= 199 && waited < 1000) << waited;
    EXPECT_GE(Net::packets_sent[0].load(), 2u);

    // A stop while the unit waits out a long time-out ends the wait within
    // the run controller's one-second limit, and the unfinished exchange is
    // no error.
    std::memset(&resultfile, 0, sizeof resultfile);
    testconfig.network_timeout_ms = 30000;
    std::chrono::milliseconds stopTook {};
    why = inPrivateNetwork(true, [&] {
        std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << "1\n";
        Net::packets_sent[0] = 0; // the engine clears it only once it runs
        const pthread_t t = startUnit(0);
        EXPECT_TRUE(waitFor([] { return Net::packets_sent[0] >= 1; }));
        std::this_thread::sleep_for(50ms);
        const auto t0 = std::chrono::steady_clock::now();
        SetSlotActive(kSlot, false);
        EXPECT_TRUE(waitFor([] { return relaxedLoad(gThreadData[kSlot].running) == 0; }, 5s));
        stopTook = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
        pthread_join(t, nullptr);
    });
    ASSERT_TRUE(why.empty()) << why;
    EXPECT_LT(stopTook.count(), 1000);
    EXPECT_EQ(std::pair(result().errors, Net::packets_sent[0].load()), std::pair(0u, 1ul));

    // Loopback down: nothing can be sent. Failed sends count towards the
    // ratio (here 50 %, from the second request on) like lost replies.
    std::memset(&resultfile, 0, sizeof resultfile);
    testconfig.network_error_option = 1;
    testconfig.network_bad_packet_ratio = 50.0f;
    why = inPrivateNetwork(false, [&] {
        const pthread_t t = startUnit(0);
        EXPECT_TRUE(waitFor([] { return relaxedLoad(resultfile.results[kSlot].errors) >= 1; }));
        stop(0, t);
    });
    ASSERT_TRUE(why.empty()) << why;
    text = trace();
    EXPECT_EQ(std::tuple(result().last_error, Net::packets_sent[0].load(), result().op_count),
        std::tuple(124u, 0ul, std::uint64_t { 0 }));
    EXPECT_GE(count(text, "Network is unreachable"), 2);
}

} // namespace
