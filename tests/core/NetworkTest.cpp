#include "TestContext.h"
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
#include <fstream>
#include <functional>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
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
    for (const auto end = std::chrono::steady_clock::now() + limit; !p(); std::this_thread::sleep_for(2ms))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

// Brings `name` up in the calling thread's network namespace, first giving
// it `address` when there is one (an alias such as "lo:1").
bool interfaceUp(const char* name, const char* address = nullptr)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq r {};
    std::snprintf(r.ifr_name, sizeof r.ifr_name, "%s", name);
    sockaddr_in sin { AF_INET, 0, {}, {} };
    bool ok = !address || inet_pton(AF_INET, address, &sin.sin_addr) == 1;
    std::memcpy(&r.ifr_addr, &sin, sizeof sin);
    ok = ok && (!address || ioctl(fd, SIOCSIFADDR, &r) == 0) && ioctl(fd, SIOCGIFFLAGS, &r) == 0;
    r.ifr_flags = static_cast<short>(r.ifr_flags | IFF_UP);
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &r) == 0;
    close(fd);
    return ok;
}

// Runs `body` on a thread inside a new network namespace of its own, so
// that nothing it sends leaves it; threads it starts stay inside. Returns
// why the namespace could not be made, or nothing once `body` has run.
std::string inPrivateNetwork(bool loopbackUp, const std::function<void()>& body)
{
    std::string why;
    std::thread([&] {
        if (unshare(CLONE_NEWNET) != 0 || (loopbackUp && !interfaceUp("lo")))
            why = std::string("no private network namespace: ") + std::strerror(errno);
        else
            body();
    }).join();
    return why;
}

class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "raw sockets need root";
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(TestRun().threadData, 0, sizeof TestRun().threadData);
        for (auto& a : TestRun().threadActive)
            relaxedStore(a, 0);
        TestRun().testsRunning = 0;
        testconfig.duty_cycle[kSlot] = 100;
        testconfig.network_timeout_ms = 2000;
        testconfig.network_error_option = 1;
        testconfig.network_bad_packet_ratio = 2.0f;
        setAddress(0, "127.0.0.1");
        testconfig.logging_enabled = testconfig.log_detail_level = testconfig.trace_header_written = 1;
        testconfig.trace_level = 4;
        g_fpActivityLog = std::fopen(dir.file("trace.log").c_str(), "w");
        gLogger = new CLogger("dummyStr");
        for (int code : { 203, 34, 37, 38, 41, 97, 98, 124 }) {
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
        std::memset(e_classification, 0, sizeof e_classification);
        std::memset(e_strings, 0, sizeof e_strings);
    }
    static void setAddress(int unit, const char* address)
    {
        std::snprintf(testconfig.network_address[unit], sizeof testconfig.network_address[unit], "%s", address);
    }
    std::string trace() { return ReadFile(dir.file("trace.log")); }
    static const _resultinfo& result(int unit = 0) { return resultfile.results[kSlot + unit]; }
    static unsigned errors() { return relaxedLoad(resultfile.results[kSlot].errors); }

    // Starts a unit through its thread entry, as a run does.
    static pthread_t startUnit(int unit)
    {
        TestRun().threadData[kSlot + unit].test_id = kSlot + unit;
        TestRun().threadData[kSlot + unit].instance = unit;
        TestRun().threadData[kSlot + unit].context = &TestContext();
        pthread_t t {};
        EXPECT_EQ(pthread_create(&t, nullptr, TestContext().entryFor(*EngineFor(kSlot + unit)),
                      &TestRun().threadData[kSlot + unit]),
            0);
        return t;
    }
    static void stop(int unit, pthread_t thread)
    {
        TestRun().setSlotActive(kSlot + unit, false);
        pthread_join(thread, nullptr);
    }

    TempDir dir;
};

void reseal(unsigned char* icmp)
{
    icmp[2] = icmp[3] = 0;
    const unsigned short sum = Net::checksum(icmp, Net::kPacketSize);
    std::memcpy(icmp + 2, &sum, 2);
}

// The echo reply the kernel would hand `engine` for its next request, sent
// `ageMs` ago, behind a 20-byte IP header.
std::vector<unsigned char> replyFor(Net& engine, int ageMs)
{
    std::vector<unsigned char> d(20 + Net::kPacketSize);
    d[0] = 0x45;
    unsigned char* icmp = d.data() + 20;
    engine.fill_icmp_data(icmp, Net::kPacketSize);
    engine.stamp_request(icmp);
    std::uint32_t t[2];
    std::memcpy(t, icmp + 12, 8);
    const std::uint32_t back = static_cast<std::uint32_t>(ageMs) * 1000u;
    t[0] -= t[1] < back, t[1] = t[1] < back ? t[1] + 1000000u - back : t[1] - back;
    std::memcpy(icmp + 12, t, 8);
    icmp[0] = 0;
    reseal(icmp);
    return d;
}

TEST_F(NetworkTest, RequestLayoutChecksumAndReplyChecks)
{
    // RFC 1071's example in memory order, an odd last byte (the low-order
    // one), and a carry that needs a second fold.
    const unsigned char rfc[] = { 0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7 }, odd[] = { 0x12, 0x34, 0x56 },
                        carry[] = { 0xff, 0xff, 0xff, 0xff, 0x01, 0x00 };
    for (auto [data, size, expected] : { std::tuple { rfc, 8, 0x0d22 }, { odd, 3, 0xcb97 }, { carry, 6, 0xfffe } })
        EXPECT_EQ(Net::checksum(data, size), expected) << size;

    Net engine(TestContext(), 0, kSlot);
    EXPECT_EQ(engine.identifier(), static_cast<std::uint32_t>(gettid()));
    unsigned char p[Net::kPacketSize];
    std::memset(p, 0xAA, sizeof p);
    engine.fill_icmp_data(p, Net::kPacketSize);
    for (std::uint16_t n = 0; n < 2; ++n) {
        const std::time_t before = std::time(nullptr);
        engine.stamp_request(p);
        std::uint32_t id, sec;
        std::uint16_t counter;
        std::memcpy(&id, p + 4, 4), std::memcpy(&counter, p + 8, 2), std::memcpy(&sec, p + 12, 4);
        EXPECT_EQ(std::tuple(p[0], p[1], id, counter, p[10], p[11]), std::tuple(8, 0, engine.identifier(), n, 0, 0));
        // time() reads the coarse clock, which can lag gettimeofday by a tick.
        EXPECT_TRUE(sec >= before && sec <= std::time(nullptr) + 1) << sec;
        EXPECT_EQ(Net::checksum(p, Net::kPacketSize), 0) << "a valid checksum sums to zero";
    }
    for (int k = 0; k < 64; ++k)
        ASSERT_EQ(p[20 + k], 3 * k % 256) << k;

    // decode_resp on datagrams as the socket hands them over.
    const std::tuple<const char*, std::function<void(std::vector<unsigned char>&, int&)>, int> cases[] = {
        { "good", [](auto&, int&) {}, 0 },
        { "IP options", [](auto& d, int& n) { d.insert(d.begin() + 1, 4, 0), d[0] = 0x46, n += 4; }, 0 },
        { "own request looped back", [](auto& d, int&) { d[20] = 8; }, -1 },
        { "another thread's reply", [](auto& d, int&) { d[24] ^= 1; }, -1 },
        { "bad checksum", [](auto& d, int&) { d[22] ^= 1; }, 97 },
        { "bad data", [](auto& d, int&) { d[100] ^= 1, reseal(d.data() + 20); }, 98 },
        { "shorter than its headers", [](auto&, int& n) { n = 27; }, 41 },
        { "reply cut short", [](auto&, int& n) { n = 60; }, 41 },
    };
    for (const auto& [what, spoil, verdict] : cases) {
        auto d = replyFor(engine, 1);
        int n = static_cast<int>(d.size());
        spoil(d, n);
        EXPECT_EQ(engine.decode_resp(d.data(), n, nullptr, 0), verdict) << what;
    }

    // Delays of good replies only: the last, the largest and their average.
    Net fresh(TestContext(), 1, kSlot + 1);
    for (int age : { 4, 8, 50 }) {
        auto d = replyFor(fresh, age);
        d[22] ^= age == 50; // a bad reply has no delay
        EXPECT_EQ(fresh.decode_resp(d.data(), static_cast<int>(d.size()), nullptr, 1), age == 50 ? 97 : 0);
    }
    EXPECT_NEAR(Net::last_delay[1], 8.0f, 2.0f);
    EXPECT_NEAR(Net::max_delay[1], 8.0f, 2.0f);
    EXPECT_NEAR(Net::average_delay[1], 6.0f, 2.0f);

    // Socket time-outs, and the ratio rule's fewest requests.
    for (auto [ms, sec, usec] : { std::tuple { 2500, 2, 500000 }, { 999, 0, 999000 }, { 0, 0, 1000 } }) {
        const timeval tv = Net::SocketTimeout(ms);
        EXPECT_EQ(std::pair(tv.tv_sec, tv.tv_usec), std::pair(long { sec }, long { usec })) << ms;
    }
    for (auto [ratio, fewest] : { std::pair { 2.0f, 50u }, { 3.0f, 33u }, { 99.0f, 1u }, { 0.0f, 1u } })
        EXPECT_EQ(Net::RatioMinimum(ratio), fewest) << ratio;
}

// Replies each unit accepted, and those among them without its identifier.
std::atomic<std::uint64_t> gAccepted[2], gStrangers[2];

int recordingHook(Net& engine, unsigned char* d, int* length, sockaddr_in* from, int unit)
{
    const int verdict = engine.decode_resp(d, *length, from, unit);
    std::uint32_t id;
    std::memcpy(&id, d + (d[0] & 0x0F) * 4 + 4, 4);
    gAccepted[unit] += verdict == 0;
    gStrangers[unit] += verdict == 0 && id != engine.identifier();
    return verdict;
}

TEST_F(NetworkTest, TwoUnitsOnLoopbackCountOnlyTheirOwnReplies)
{
    setAddress(1, "localhost"); // from /etc/hosts
    gAccepted[0] = gAccepted[1] = gStrangers[0] = gStrangers[1] = 0;
    Net::SetReplyHook(recordingHook);
    const pthread_t a = startUnit(0), b = startUnit(1);
    const bool busy = waitFor([] { return Net::packets_sent[0] >= 300 && Net::packets_sent[1] >= 300; });
    stop(0, a), stop(1, b);
    ASSERT_TRUE(busy) << trace();

    const std::string text = trace();
    for (int u = 0; u < 2; ++u) {
        SCOPED_TRACE(u);
        const std::uint64_t sent = Net::packets_sent[u];
        // One exchange at a time, each ending in its own reply.
        EXPECT_EQ(std::tuple(Net::packets_rec[u].load(), gAccepted[u].load(), gStrangers[u].load()),
            std::tuple(sent, sent, 0ul));
        EXPECT_EQ(std::tuple(result(u).cycles, result(u).op_count, Net::bytes_sent[u].load(), result(u).errors),
            std::tuple(static_cast<std::uint32_t>(sent / 100), 84 * sent, 84 * sent, 0u));
        const float last = Net::last_delay[u], most = Net::max_delay[u], mean = Net::average_delay[u];
        EXPECT_TRUE(last >= 0 && mean > 0 && mean <= most && last <= most && most < 2000) << last << " " << mean;
        const std::string name = u ? "Network: localhost, " : "Network: 127.0.0.1, ";
        EXPECT_EQ(count(text, name + "Send packet(Sample 1 of 100)."), static_cast<int>((sent + 99) / 100));
    }
    EXPECT_EQ(
        std::pair(count(text, ", Network, Starting test"), count(text, ", Network, Stopping test")), std::pair(2, 2));
}

// Spoils the replies to chosen requests (numbered from 1): 'd' data, 'c'
// checksum, 's' cut short; stops after `stopAt`; notes the error count seen
// at each request.
struct BadReplies {
    std::vector<std::pair<std::uint64_t, char>> spoil;
    std::uint64_t stopAt;
    std::vector<std::uint32_t> errorsAt;
} * gBad;

int spoilingHook(Net& engine, unsigned char* d, int* length, sockaddr_in* from, int unit)
{
    const std::uint64_t n = Net::packets_sent[unit];
    gBad->errorsAt.resize(n + 1);
    gBad->errorsAt[n] = relaxedLoad(resultfile.results[kSlot + unit].errors);
    unsigned char* icmp = d + (d[0] & 0x0F) * 4;
    for (auto [at, how] : gBad->spoil) {
        if (at == n && how == 's')
            *length = static_cast<int>(icmp - d) + 4;
        if (at == n && how == 'c')
            icmp[2] ^= 0x10;
        if (at == n && how == 'd')
            icmp[40] ^= 0x10, reseal(icmp); // found by the data check, not the checksum
    }
    if (n >= gBad->stopAt)
        TestRun().setSlotActive(kSlot + unit, false);
    return engine.decode_resp(d, *length, from, unit);
}

TEST_F(NetworkTest, BadRepliesAreErrorsOrCountTowardsTheRatio)
{
    Net::SetReplyHook(spoilingHook);
    testconfig.network_error_option = 0; // each bad exchange is an error with its own code
    BadReplies every { { { 3, 'd' }, { 6, 'c' }, { 9, 's' } }, 12, {} };
    gBad = &every;
    Net(TestContext(), 0, kSlot).test_entry(0);
    EXPECT_EQ(std::tuple(result().errors, result().last_error, resultfile.classes[kSlot].serious,
                  Net::packets_sent[0].load(), Net::packets_rec[0].load()),
        std::tuple(3u, 41u, 3u, 12ul, 9ul));
    const int* seen = resultfile.error_occurrences;
    EXPECT_EQ(std::tuple(seen[98], seen[97], seen[41], seen[124]), std::tuple(1, 1, 1, 0));

    // At 2 %: nothing before 50 requests; at 50 or more, 2 % bad raises 124
    // and both counters start again.
    std::memset(&resultfile, 0, sizeof resultfile);
    testconfig.network_error_option = 1;
    BadReplies ratio { { { 10, 'd' }, { 50, 'd' }, { 120, 'c' }, { 150, 'd' }, { 160, 'd' } }, 170, {} };
    gBad = &ratio;
    Net(TestContext(), 0, kSlot).test_entry(0);
    EXPECT_EQ(std::tuple(result().errors, result().last_error, seen[98]), std::tuple(2u, 124u, 0));
    std::vector<std::uint64_t> raisedAt;
    for (std::size_t n = 2; n < ratio.errorsAt.size(); ++n)
        if (ratio.errorsAt[n] != ratio.errorsAt[n - 1])
            raisedAt.push_back(n - 1);
    EXPECT_EQ(raisedAt, (std::vector<std::uint64_t> { 50, 150 })) << "1/10: too few; 2/50; 1/70: below; 2/100";
    EXPECT_EQ(std::tuple(Net::PktsSinceErr[0].load(), Net::BadPktsSinceErr[0].load(), Net::packets_rec[0].load()),
        std::tuple(20ul, 1ul, 165ul));
}

TEST_F(NetworkTest, UnknownHostIsReportedAtEverySetUpTry)
{
    // The resolver's name servers become addresses of a private namespace,
    // where one server answers every query with "no such name".
    setAddress(0, "nxdomain.kvx.invalid");
    std::string skip;
    const std::string why = inPrivateNetwork(true, [&] {
        std::ifstream conf("/etc/resolv.conf");
        int alias = 0;
        for (std::string key, address; conf >> key;)
            if (key == "nameserver" && conf >> address && address.rfind("127.", 0) != 0
                && !interfaceUp(("lo:" + std::to_string(++alias)).c_str(), address.c_str()))
                skip = "name server " + address + " cannot be made local";
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in any { AF_INET, htons(53), {}, {} };
        if (!skip.empty() || bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
            skip += " (no local name server)";
            close(fd);
            return;
        }
        std::atomic<bool> done { false };
        std::thread server([&] {
            for (pollfd p { fd, POLLIN, 0 }; !done;) {
                unsigned char q[512];
                sockaddr_in from {};
                socklen_t len = sizeof from;
                const ssize_t n = poll(&p, 1, 20) == 1 ? recvfrom(fd, q, sizeof q, 0, (sockaddr*)&from, &len) : 0;
                if (n > 12) // the query back as a response: recursion available, NXDOMAIN
                    q[2] |= 0x80, q[3] = 0x83, sendto(fd, q, static_cast<std::size_t>(n), 0, (sockaddr*)&from, len);
            }
        });
        const pthread_t t = startUnit(0);
        EXPECT_TRUE(waitFor([] { return errors() >= 3; }));
        stop(0, t);
        done = true;
        server.join();
        close(fd);
    });
    if (!why.empty() || !skip.empty())
        GTEST_SKIP() << why << skip;
    const std::string text = trace();
    EXPECT_EQ(std::pair(result().last_error, Net::packets_sent[0].load()), std::pair(34u, 0ul));
    EXPECT_GE(count(text, "Network: nxdomain.kvx.invalid, The specified host is unknown"), 3);
    EXPECT_EQ(count(text, "Create a socket(Sample 1 of 100)."), 1) << "tries 0, 100, 200 ...";
}

TEST_F(NetworkTest, WithoutSuperuserRightsOneErrorAndNoPackets)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    if (child == 0) {
        // No threads in here: a timer signal stops the test after about
        // fifteen idle steps.
        if (seteuid(65534) != 0)
            _exit(3);
        std::signal(SIGALRM, [](int) { TestRun().setSlotActive(kSlot, false); });
        itimerval in300ms { {}, { 0, 300000 } };
        setitimer(ITIMER_REAL, &in300ms, nullptr);
        Net(TestContext(), 0, kSlot).test_entry(0);
        const std::uint64_t seen[] = { result().errors, result().last_error, Net::packets_sent[0], result().op_count,
            static_cast<std::uint64_t>(resultfile.error_occurrences[203]) };
        _exit(write(fds[1], seen, sizeof seen) == sizeof seen ? 0 : 4);
    }
    std::uint64_t seen[5] = {};
    close(fds[1]);
    const ssize_t got = read(fds[0], seen, sizeof seen);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == sizeof seen) << status;
    EXPECT_EQ(std::vector<std::uint64_t>(seen, seen + 5), (std::vector<std::uint64_t> { 1, 203, 0, 0, 1 }));
    const std::string text = trace();
    EXPECT_EQ(std::tuple(count(text, "Network error 203"), count(text, "Create a socket"), count(text, "Stopping")),
        std::tuple(1, 0, 1));
}

TEST_F(NetworkTest, NoReplyOrNoRouteIsAnError)
{
    // Hosts that keep silent: a namespace whose kernel ignores echo requests.
    auto silent = [](const std::function<void()>& body) {
        return inPrivateNetwork(true, [&] {
            std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << "1\n";
            body();
        });
    };
    testconfig.network_timeout_ms = 200;
    testconfig.network_error_option = 0;
    std::string why = silent([] {
        const pthread_t t = startUnit(0);
        EXPECT_TRUE(waitFor([] { return errors() >= 2; }));
        stop(0, t);
    });
    if (!why.empty())
        GTEST_SKIP() << why;
    const std::string said = "Maximum timeout allowed = 200, actual timeout = ", text = trace();
    const auto at = text.find(said);
    ASSERT_NE(at, std::string::npos) << text;
    const int waited = std::atoi(text.c_str() + at + said.size());
    EXPECT_TRUE(waited >= 199 && waited < 1000) << waited;
    EXPECT_EQ(std::tuple(result().last_error, resultfile.error_occurrences[37], Net::packets_rec[0].load()),
        std::tuple(37u, static_cast<int>(result().errors), 0ul));

    // Signals to the thread while it waits are no reply: the wait goes on
    // for the rest of the time-out.
    std::memset(&resultfile, 0, sizeof resultfile);
    testconfig.network_timeout_ms = 1000;
    struct sigaction ignored {
    }, old {};
    ignored.sa_handler = [](int) {};
    ASSERT_EQ(sigaction(SIGUSR1, &ignored, &old), 0);
    const std::size_t traced = trace().size();
    why = silent([] {
        Net::packets_sent[0] = 0; // the engine clears it only once it runs
        const pthread_t t = startUnit(0);
        EXPECT_TRUE(waitFor([] { return Net::packets_sent[0] >= 1; }));
        for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(10ms))
            pthread_kill(t, SIGUSR1);
        EXPECT_TRUE(waitFor([] { return errors() >= 1; }));
        stop(0, t);
    });
    sigaction(SIGUSR1, &old, nullptr);
    const std::string signalled = trace().substr(traced), full = "Maximum timeout allowed = 1000, actual timeout = ";
    const auto first = signalled.find(full);
    ASSERT_NE(first, std::string::npos) << signalled;
    EXPECT_GE(std::atoi(signalled.c_str() + first + full.size()), 1000) << "a signal ended the wait early";
    EXPECT_EQ(result().last_error, 37u);

    // A stop during a long wait is seen within the run controller's
    // one-second limit, and the unfinished exchange is no error.
    std::memset(&resultfile, 0, sizeof resultfile);
    testconfig.network_timeout_ms = 30000;
    std::chrono::steady_clock::duration stopTook {};
    why = silent([&] {
        Net::packets_sent[0] = 0; // the engine clears it only once it runs
        const pthread_t t = startUnit(0);
        EXPECT_TRUE(waitFor([] { return Net::packets_sent[0] >= 1; }));
        std::this_thread::sleep_for(50ms);
        const auto t0 = std::chrono::steady_clock::now();
        TestRun().setSlotActive(kSlot, false);
        EXPECT_TRUE(waitFor([] { return relaxedLoad(TestRun().threadData[kSlot].running) == 0; }, 5s));
        stopTook = std::chrono::steady_clock::now() - t0;
        pthread_join(t, nullptr);
    });
    EXPECT_LT(stopTook, 1s);
    EXPECT_EQ(std::pair(result().errors, Net::packets_sent[0].load()), std::pair(0u, 1ul));

    // Loopback down: nothing can be sent. Failed sends count towards the
    // ratio (here 50 %, from the second request on) like lost replies.
    std::memset(&resultfile, 0, sizeof resultfile);
    testconfig.network_error_option = 1;
    testconfig.network_bad_packet_ratio = 50.0f;
    why = inPrivateNetwork(false, [] {
        const pthread_t t = startUnit(0);
        EXPECT_TRUE(waitFor([] { return errors() >= 1; }));
        stop(0, t);
    });
    EXPECT_EQ(std::tuple(result().last_error, Net::packets_sent[0].load(), result().op_count),
        std::tuple(124u, 0ul, std::uint64_t { 0 }));
    EXPECT_GE(count(trace(), "Network is unreachable"), 2);
}

} // namespace
