// bench_network [requests] [--engine-only]: runs the network test at duty
// cycle 100 against 127.0.0.1 until it has sent `requests` echo requests
// (default 50000), then `ping -f -c <requests> 127.0.0.1`, and prints the
// echo exchanges per second of both. With --engine-only it runs the test
// alone (no start wait or set-up pauses) and exits, for timing the whole
// process from outside. Needs root.
#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Network.h"
#include "BenchRun.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TestSlots.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSlot = kSlotNetworkFirst;

double since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Runs the test until `requests` are sent; returns the exchanges per second
// from the first request to the last, or -1.
double runTest(ProcessRun& process, std::uint64_t requests)
{
    const NetworkLive& live = process.run.live<NetworkLive>(kSlot);
    const auto sent = [&live] { return live.packets_sent.load(std::memory_order_relaxed); };
    process.run.threadData[kSlot].test_id = kSlot;
    process.run.threadData[kSlot].instance = 0;
    process.run.threadData[kSlot].context = &process.ctx;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, Test_Thread_Network, &process.run.threadData[kSlot]) != 0)
        return -1;
    const auto limit = Clock::now() + std::chrono::seconds(30);
    while (sent() == 0 && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    const std::uint64_t first = sent();
    const auto t0 = Clock::now();
    while (sent() < requests && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    const std::uint64_t last = sent();
    const double seconds = since(t0);
    process.run.setSlotActive(kSlot, false);
    pthread_join(thread, nullptr);
    if (last < requests || relaxedLoad(resultfile.results[kSlot].errors) != 0)
        return -1;
    return static_cast<double>(last - first) / seconds;
}

// Runs ping's flood mode for `requests` and returns its exchanges per
// second over its wall time (start-up included), or -1; `summary` gets
// ping's own statistics line.
double runPing(std::uint64_t requests, std::string& summary)
{
    char out[] = "/tmp/bench_network.XXXXXX";
    const int fd = mkstemp(out);
    if (fd < 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, 1);
    const std::string count = std::to_string(requests);
    char* argv[] = { const_cast<char*>("ping"), const_cast<char*>("-f"), const_cast<char*>("-c"),
        const_cast<char*>(count.c_str()), const_cast<char*>("127.0.0.1"), nullptr };
    pid_t pid;
    const auto t0 = Clock::now();
    const int rc = posix_spawnp(&pid, "ping", &actions, nullptr, argv, environ);
    int status = 0;
    if (rc == 0)
        waitpid(pid, &status, 0);
    const double seconds = since(t0);
    posix_spawn_file_actions_destroy(&actions);

    std::string text;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<std::size_t>(n));
    close(fd);
    unlink(out);
    const auto at = text.find("packets transmitted");
    if (at != std::string::npos) {
        const auto begin = text.rfind('\n', at);
        summary = text.substr(begin == std::string::npos ? 0 : begin + 1, text.find('\n', at) - begin - 1);
    }
    if (rc != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return static_cast<double>(requests) / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    long requests = 50000;
    bool engineOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--engine-only") == 0)
            engineOnly = true;
        else
            requests = std::atol(argv[i]);
    }
    if (requests < 100) {
        std::fprintf(stderr, "usage: %s [requests >= 100] [--engine-only]\n", argv[0]);
        return 2;
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "%s: raw ICMP sockets need root\n", argv[0]);
        return 2;
    }

    // The engine's trace lines would mix with the figures.
    g_fh_debug = std::fopen("/dev/null", "w");
    testconfig.duty_cycle[kSlot] = 100;
    testconfig.network_timeout_ms = 2000;
    testconfig.network_error_option = 1;
    testconfig.network_bad_packet_ratio = 2.0f;
    std::snprintf(testconfig.network_address[0], sizeof testconfig.network_address[0], "127.0.0.1");
    // A logger with logging off: the sample lines cost what they cost in
    // the program.
    gLogger = new CLogger("bench");
    // The rate is taken from the first request on; the waits before it only
    // lengthen the run.
    ProcessRun& process = benchProcess();
    NetworkSettings quick;
    quick.startWaitMs = quick.setUpPauseMs = 0;
    process.ctx.setSettings(quick);

    const double test = runTest(process, static_cast<std::uint64_t>(requests));
    if (test < 0) {
        std::fprintf(stderr, "the network test did not complete %ld exchanges without error\n", requests);
        return 1;
    }
    if (engineOnly)
        return 0;
    std::string summary;
    const double ping = runPing(static_cast<std::uint64_t>(requests), summary);
    std::printf("echo exchanges per second against 127.0.0.1, %ld requests each\n", requests);
    std::printf("%-44s %12.0f\n", "network test, duty cycle 100", test);
    if (ping < 0) {
        std::printf("ping -f -c %ld 127.0.0.1 failed (is iputils-ping installed?)\n", requests);
        return 1;
    }
    std::printf("%-44s %12.0f\n", ("ping -f -c " + std::to_string(requests) + " 127.0.0.1").c_str(), ping);
    std::printf("%-44s %12.2f\n", "ratio (test / ping)", test / ping);
    std::printf("(ping: %s)\n", summary.c_str());
    delete gLogger;
    gLogger = nullptr;
    return test >= ping ? 0 : 1;
}
