// Real raw ICMP on 127.0.0.1 and in private network namespaces (root).
#include "CTest_Network.h"
#include "EngineFixture.h"
#include "ProcessRun.h"
#include "ScopedEuid.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <sched.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Net = CTest_Network;
constexpr int kSlot = kSlotNetworkFirst;

// Runs `body` on a thread in a new network namespace; returns why not.
std::string inPrivateNetwork(bool loopbackUp, const std::function<void()>& body)
{
    std::string why;
    std::thread([&] {
        if (unshare(CLONE_NEWNET) != 0 || (loopbackUp && std::system("ip link set lo up") != 0))
            why = std::string("no private network namespace: ") + std::strerror(errno);
        else
            body();
    }).join();
    return why;
}

class NetworkTest : public EngineFixture {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "raw sockets need root";
        EngineFixture::SetUp();
        testconfig.duty_cycle[kSlot] = 100;
        testconfig.network_timeout_ms = 2000;
        testconfig.network_error_option = 1;
        testconfig.network_bad_packet_ratio = 2.0f;
        setAddress(0, "127.0.0.1");
        settings.startWaitMs = 0;
        settings.setUpPauseMs = settings.retryPauseMs = settings.idleStepMs = settings.errorPauseMs = settings.drainMs
            = 20;
        process.ctx.setSettings(settings);
    }
    static void setAddress(int unit, const char* address)
    {
        std::snprintf(testconfig.network_address[unit], sizeof testconfig.network_address[unit], "%s", address);
    }
    NetworkLive& live(int unit = 0) { return process.run.live<NetworkLive>(kSlot + unit); }
    static const _resultinfo& result(int unit = 0) { return resultfile.results[kSlot + unit]; }
    static unsigned errors() { return relaxedLoad(resultfile.results[kSlot].errors); }

    // Runs `units`' thread entries until `done(first thread)` holds (or 10 s); returns whether it held.
    template <class Done> bool runUntil(Done done, std::initializer_list<int> units = { 0 })
    {
        std::vector<pthread_t> threads;
        for (int unit : units) {
            process.run.threadData[kSlot + unit] = { 0, kSlot + unit, unit, 0, 0, 0, 0, &process.ctx };
            EXPECT_EQ(pthread_create(&threads.emplace_back(), nullptr, process.ctx.entryFor(*EngineFor(kSlot + unit)),
                          &process.run.threadData[kSlot + unit]),
                0);
        }
        bool held = false;
        for (const auto end = std::chrono::steady_clock::now() + 10s;
             !(held = done(threads[0])) && std::chrono::steady_clock::now() < end;)
            std::this_thread::sleep_for(2ms);
        for (std::size_t i = 0; i < threads.size(); ++i)
            process.run.setSlotActive(kSlot + units.begin()[i], false), pthread_join(threads[i], nullptr);
        return held;
    }

    ProcessRun process;
    NetworkSettings settings;
};

void reseal(unsigned char* icmp)
{
    icmp[2] = icmp[3] = 0;
    const unsigned short sum = Net::checksum(icmp, Net::kPacketSize);
    std::memcpy(icmp + 2, &sum, 2);
}

// The echo reply to `engine`'s next request, sent `ageMs` ago, with IP header.
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
    // RFC 1071's example, an odd last byte, a carry needing a second fold.
    const unsigned char rfc[] = { 0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7 }, odd[] = { 0x12, 0x34, 0x56 },
                        carry[] = { 0xff, 0xff, 0xff, 0xff, 0x01, 0x00 };
    for (auto [data, size, expected] : { std::tuple { rfc, 8, 0x0d22 }, { odd, 3, 0xcb97 }, { carry, 6, 0xfffe } })
        EXPECT_EQ(Net::checksum(data, size), expected) << size;

    Net engine(process.ctx, 0, kSlot);
    EXPECT_EQ(engine.identifier(), static_cast<std::uint32_t>(gettid()));
    unsigned char p[Net::kPacketSize];
    std::memset(p, 0xAA, sizeof p);
    engine.fill_icmp_data(p, Net::kPacketSize);
    for (std::uint16_t n = 0; n < 2; ++n) {
        engine.stamp_request(p); // the time goes where replyFor() ages it
        std::uint32_t id;
        std::uint16_t counter;
        std::memcpy(&id, p + 4, 4), std::memcpy(&counter, p + 8, 2);
        EXPECT_EQ(std::tuple(p[0], p[1], id, counter, p[10], p[11]), std::tuple(8, 0, engine.identifier(), n, 0, 0));
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
}

// Unit 0's replies spoiled on chosen requests; from 50 requests on, 2 % bad raises 124 and resets counts.
TEST_F(NetworkTest, TwoUnitsOnLoopbackCountOnlyTheirOwnReplies)
{
    setAddress(1, "localhost"); // from /etc/hosts
    std::atomic<std::uint64_t> accepted[2] {}, strangers[2] {};
    std::vector<std::uint64_t> raisedAt;
    settings.replyHook = [&](Net& engine, unsigned char* d, int* length, sockaddr_in* from, int unit) {
        const std::uint64_t n = engine.live().packets_sent;
        unsigned char* icmp = d + (d[0] & 0x0F) * 4;
        if (unit == 0) {
            if (errors() > raisedAt.size())
                raisedAt.push_back(n - 1);
            const char how = n == 10 || n == 150 || n == 160 ? 'd' : n == 50 ? 'c' : n == 120 ? 's' : 0;
            if (how == 's')
                *length = static_cast<int>(icmp - d) + 4;
            if (how == 'c')
                icmp[2] ^= 0x10;
            if (how == 'd')
                icmp[40] ^= 0x10, reseal(icmp); // found by the data check, not the checksum
            if (n >= 170)
                process.run.setSlotActive(kSlot, false);
        }
        std::uint32_t id;
        std::memcpy(&id, icmp + 4, 4);
        const int verdict = engine.decode_resp(d, *length, from, unit);
        accepted[unit] += verdict == 0;
        strangers[unit] += verdict == 0 && id != engine.identifier();
        return verdict;
    };
    process.ctx.setSettings(settings);
    ASSERT_TRUE(
        runUntil([&](pthread_t) { return !process.run.slotActive(kSlot) && live(1).packets_sent >= 300; }, { 0, 1 }))
        << trace();

    const std::string text = trace();
    for (int u = 0; u < 2; ++u) {
        SCOPED_TRACE(u);
        const NetworkLive& l = live(u);
        const std::uint64_t sent = l.packets_sent, good = u ? sent : sent - 5;
        // One exchange at a time, each ending in its own reply.
        EXPECT_EQ(
            std::tuple(l.packets_rec.load(), accepted[u].load(), strangers[u].load()), std::tuple(good, good, 0ul));
        EXPECT_EQ(std::tuple(result(u).cycles, result(u).op_count, l.bytes_sent.load()),
            std::tuple(static_cast<std::uint32_t>(sent / 100), 84 * sent, 84 * sent));
        const float last = l.last_delay, most = l.max_delay, mean = l.average_delay;
        EXPECT_TRUE(last >= 0 && mean > 0 && mean <= most && last <= most && most < 2000) << last << " " << mean;
        EXPECT_GT(l.update_start_time.load().tv_sec, 0);
    }
    EXPECT_EQ(
        std::pair(count(text, ", Network, Starting test"), count(text, ", Network, Stopping test")), std::pair(2, 2));
    EXPECT_EQ(std::tuple(result(0).errors, result(0).last_error, result(1).errors, live(0).packets_sent.load()),
        std::tuple(2u, 124u, 0u, 170ul));
    EXPECT_EQ(raisedAt, (std::vector<std::uint64_t> { 50, 150 })) << "1/10: too few; 2/50; 1/70: below; 2/100";
    EXPECT_EQ(std::pair(live().PktsSinceErr.load(), live().BadPktsSinceErr.load()), std::pair(20ul, 1ul));
}

TEST_F(NetworkTest, WithoutSuperuserRightsOneErrorAndNoPackets)
{
    std::thread stopper([this] { std::this_thread::sleep_for(300ms), process.run.setSlotActive(kSlot, false); });
    {
        ScopedEuid nobody(65534);
        EXPECT_TRUE(nobody.ok());
        Net(process.ctx, 0, kSlot).test_entry(0); // idles in 20 ms steps until stopped
    }
    stopper.join();
    EXPECT_EQ(std::tuple(result().errors, result().last_error, live().packets_sent.load(), result().op_count,
                  resultfile.error_occurrences[203]),
        std::tuple(1u, 203u, 0ul, std::uint64_t { 0 }, 1));
    const std::string text = trace();
    EXPECT_EQ(std::tuple(count(text, std::string(", ") + e_strings[203]), count(text, "Create a socket"),
                  count(text, "Stopping")),
        std::tuple(1, 0, 1));
}

TEST_F(NetworkTest, NoReplyNoRouteOrUnknownHostIsAnError)
{
    // A silent host: the whole time-out despite signals; a stop in the wait ends it, no error.
    testconfig.network_timeout_ms = 2000;
    testconfig.network_error_option = 0;
    struct sigaction ignored {
    }, old {};
    ignored.sa_handler = [](int) {};
    ASSERT_EQ(sigaction(SIGUSR1, &ignored, &old), 0);
    std::chrono::steady_clock::time_point stopAt;
    std::chrono::steady_clock::duration stopTook {};
    const std::string why = inPrivateNetwork(true, [&] {
        std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << "1\n";
        EXPECT_TRUE(runUntil([&](pthread_t t) {
            if (pthread_kill(t, SIGUSR1) != 0 || errors() < 1 || live().packets_sent < 2)
                return false;
            std::this_thread::sleep_for(100ms); // into the second request's wait
            stopAt = std::chrono::steady_clock::now();
            return true;
        }));
        stopTook = std::chrono::steady_clock::now() - stopAt;
    });
    sigaction(SIGUSR1, &old, nullptr);
    if (!why.empty())
        GTEST_SKIP() << why;
    const std::string said = "Maximum timeout allowed = 2000, actual timeout = ", text = trace();
    const auto at = text.find(said);
    ASSERT_NE(at, std::string::npos) << text;
    const int waited = std::atoi(text.c_str() + at + said.size());
    EXPECT_TRUE(waited >= 1999 && waited < 3000) << waited;
    EXPECT_LT(stopTook, 1s);
    EXPECT_EQ(std::tuple(result().errors, result().last_error, resultfile.error_occurrences[37],
                  live().packets_sent.load(), live().packets_rec.load()),
        std::tuple(1u, 37u, 1, 2ul, 0ul));
    EXPECT_EQ(resultfile.classes[kSlot].warning, 1u);

    // Loopback down: an unknown host at every set-up try; then failed sends count as lost replies.

    std::memset(&resultfile, 0, sizeof resultfile);
    testconfig.network_error_option = 1;
    testconfig.network_bad_packet_ratio = 50.0f;
    const std::size_t from = trace().size();
    inPrivateNetwork(false, [&] {
        setAddress(0, "no..such.host"); // refused by the resolver without a query
        EXPECT_TRUE(runUntil([](pthread_t) { return errors() >= 3; }));
        EXPECT_EQ(std::pair(result().last_error, live().packets_sent.load()), std::pair(34u, 0ul));
        std::memset(&resultfile, 0, sizeof resultfile);
        setAddress(0, "127.0.0.1");
        EXPECT_TRUE(runUntil([](pthread_t) { return errors() >= 1; }));
    });
    EXPECT_EQ(std::tuple(result().last_error, live().packets_sent.load(), result().op_count),
        std::tuple(124u, 0ul, std::uint64_t { 0 }));
    const std::string lines = trace(from);
    EXPECT_GE(count(lines, "Network: no..such.host, The specified host is unknown"), 3);

    EXPECT_GE(count(lines, "Network is unreachable"), 2);
}

} // namespace
