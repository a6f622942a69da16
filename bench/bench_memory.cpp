// bench_memory [rounds]: locks 1 GiB through the memory test at duty cycle
// 100 and, in the same run, times the test's write pass against a plain
// memset of the same chunks and its verify pass against a plain memcmp of
// the same chunks (each chunk's two halves, so the same bytes are read
// once), the plain phases taken just before and just after each pass;
// then, with each chunk's release slowed to what 32 GiB would take, starts
// the test `rounds` times as a run does, times each stop request until the
// thread has ended, and checks that each next Start waits for the release
// before it writes.
//
// bench_memory --passes engine|plain N: locks 1 GiB the same way and runs N
// write + verify passes with the test's loops or with plain memset/memcmp,
// for timing whole processes from outside.
#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Memory.h"
#include "BenchRun.h"
#include "ConfigRecord.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TestSlots.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sys/mman.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSlot = kSlotMemory;
constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;
constexpr double kMinRatio = 90.0;
constexpr double kMaxStopMs = 1000.0;

std::atomic<int> g_sink { 0 };

double since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

long lockedKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmLck:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

void setUp(ProcessRun& process)
{
    std::memset(&testconfig, 0, sizeof testconfig);
    std::memset(&resultfile, 0, sizeof resultfile);
    testconfig.duty_cycle[kSlot] = 100;
    gLogger = new CLogger("bench"); // logging off, as a run without a log file
    MemorySettings settings;
    settings.maxTestRam = kGiB;
    settings.startWaitMs = settings.afterAllocationMs = settings.afterMismatchMs = settings.afterErrorMs = 0;
    process.ctx.setSettings(settings);
}

MemoryLive& live(ProcessRun& process)
{
    return process.run.live<MemoryLive>(kSlot);
}

bool allocate(ProcessRun& process, CTest_Mem& engine)
{
    process.run.setSlotActive(kSlot, true);
    if (!engine.AllocateChunks() || live(process).testRam != kGiB) {
        std::fprintf(stderr, "could not lock 1 GiB (test buffer %llu bytes)\n",
            static_cast<unsigned long long>(live(process).testRam.load()));
        return false;
    }
    return true;
}

// One phase over every chunk: the test's loop (mode 1 or 2) or the plain call.
double enginePhase(CTest_Mem& e, int mode)
{
    const auto t0 = Clock::now();
    for (int i = 0; i < e.numChunks(); ++i)
        if (e.TestStdMem(e.chunkAddress(i), e.chunkSize(i), static_cast<unsigned long long>(i), kGiB, mode) != 0)
            std::fprintf(stderr, "unexpected verify error\n");
    return since(t0);
}

double plainPhase(CTest_Mem& e, int mode)
{
    const auto t0 = Clock::now();
    int diff = 0;
    for (int i = 0; i < e.numChunks(); ++i) {
        unsigned char* p = e.chunkAddress(i);
        const std::size_t n = e.chunkSize(i);
        if (mode == 1)
            std::memset(p, 0xAA, n);
        else
            diff |= std::memcmp(p, p + n / 2, n / 2);
    }
    g_sink += diff;
    return since(t0);
}

int passes(const char* kind, int n)
{
    ProcessRun& process = benchProcess();
    setUp(process);
    CTest_Mem engine(process.ctx, kSlot);
    if (!allocate(process, engine))
        return 2;
    live(process).bufferPattern = 1;
    const bool plain = std::strcmp(kind, "plain") == 0;
    const auto t0 = Clock::now();
    for (int i = 0; i < n; ++i)
        for (int mode : { 1, 2 })
            plain ? plainPhase(engine, mode) : enginePhase(engine, mode);
    std::printf("%s: %d write + verify passes over 1 GiB in %.3f s\n", kind, n, since(t0));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (geteuid() != 0) {
        std::fprintf(stderr, "%s: locking 1 GiB needs root\n", argv[0]);
        return 2;
    }
    if (argc == 4 && std::strcmp(argv[1], "--passes") == 0)
        return passes(argv[2], std::max(1, std::atoi(argv[3])));
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    if (rounds < 1 || argc > 2) {
        std::fprintf(stderr, "usage: %s [rounds >= 1] | --passes engine|plain N\n", argv[0]);
        return 2;
    }
    ProcessRun& process = benchProcess();
    setUp(process);

    bool ok = true;
    {
        CTest_Mem engine(process.ctx, kSlot);
        if (!allocate(process, engine))
            return 2;
        // Per pattern kind: the fill of a constant (memset) and the sequence
        // (a copy of the pattern block). Each write + verify of the test sits
        // between two plain memset + memcmp phases and is set against their
        // mean: this VM's memory speed drifts by a fifth within a minute.
        std::vector<double> w[2], v[2], wr[2], vr[2], ms, mc;
        const auto plain = [&] { ms.push_back(plainPhase(engine, 1)), mc.push_back(plainPhase(engine, 2)); };
        plain();
        for (int r = 0; r < rounds; ++r) {
            for (int kind = 0; kind < 2; ++kind) {
                live(process).bufferPattern = kind == 0 ? 1 : 0;
                w[kind].push_back(enginePhase(engine, 1));
                v[kind].push_back(enginePhase(engine, 2));
                plain();
                const std::size_t n = ms.size();
                wr[kind].push_back((ms[n - 2] + ms[n - 1]) / 2 / w[kind].back() * 100.0);
                vr[kind].push_back((mc[n - 2] + mc[n - 1]) / 2 / v[kind].back() * 100.0);
            }
        }
        const double gib = 1.0;
        std::printf("1 GiB locked in %d chunks, duty cycle 100, %d rounds (speeds: medians; %%: median of each pass "
                    "against the plain phases either side)\n",
            engine.numChunks(), rounds);
        std::printf("  plain memset                %6.2f GiB/s\n", gib / median(ms));
        std::printf("  plain memcmp (halves)       %6.2f GiB/s\n", gib / median(mc));
        const char* names[2] = { "0xAA", "sequence" };
        for (int kind = 0; kind < 2; ++kind) {
            const double wm = median(wr[kind]), vm = median(vr[kind]);
            std::printf(
                "  write  %-9s            %6.2f GiB/s  %5.1f %% of memset\n", names[kind], gib / median(w[kind]), wm);
            std::printf(
                "  verify %-9s            %6.2f GiB/s  %5.1f %% of memcmp\n", names[kind], gib / median(v[kind]), vm);
            ok = ok && wm >= kMinRatio && vm >= kMinRatio;
        }
    }
    benchProcess().run.setSlotActive(kSlot, false);

    // The release of a gigabyte locked in 4 KiB pages (no huge pages: the
    // slow case), timed, sets how long each chunk's release takes below: as
    // long as 32 GiB would.
    double releasePerGiB = 0;
    {
        void* p = mmap(nullptr, kGiB, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED || madvise(p, kGiB, MADV_NOHUGEPAGE) != 0 || mlock(p, kGiB) != 0)
            return 2;
        std::memset(p, 1, kGiB);
        const auto t0 = Clock::now();
        munlock(p, kGiB);
        munmap(p, kGiB);
        releasePerGiB = since(t0);
    }
    const double simulatedS = releasePerGiB * 32.0;
    MemorySettings slow = process.ctx.settings<MemorySettings>();
    const int chunks = static_cast<int>((kGiB + slow.chunkSize - 1) / slow.chunkSize);
    const auto perChunk = std::chrono::duration<double>(std::max(0.0, simulatedS - releasePerGiB) / chunks);
    static std::atomic<int> releasedChunks { 0 };
    slow.releaseHook = [perChunk](std::uint64_t) {
        std::this_thread::sleep_for(perChunk);
        ++releasedChunks;
    };
    process.ctx.setSettings(slow);
    std::printf("  release of 1 GiB in 4 KiB pages: %.1f ms; simulated 32 GiB: each of the %d chunks' release also "
                "sleeps %.0f ms\n",
        releasePerGiB * 1000.0, chunks, perChunk.count() * 1000.0);

    // Stop latency as the run sees it: Start (a new generation, a launched
    // thread), a stop at a random moment of the passes, until the thread has
    // ended; the release of the simulated buffer goes on behind it, and the
    // next Start must wait for it before it locks.
    Run& run = process.run;
    std::mt19937 rng(7);
    std::vector<double> stops;
    const long lockedBefore = lockedKiB();
    for (int r = 0; r < rounds; ++r) {
        run.newGeneration();
        live(process).status = 0; // the previous thread's values
        live(process).opcountWrite = 0;
        const auto started = Clock::now();
        pthread_t t {};
        if (StartTestThreads(process.ctx, kSlot, 0, 1, &t) != 1)
            return 2;
        while (live(process).status.load() == 0 || live(process).opcountWrite.load() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double toFirstWrite = since(started) * 1000.0;
        // Every chunk of the earlier rounds was back before this round wrote.
        const bool waited = releasedChunks.load() >= chunks * r;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 400)(rng)));
        const int phase = live(process).status;
        const auto t0 = Clock::now();
        run.setSlotActive(kSlot, false);
        while (acquireLoad(run.threadData[kSlot].running) != 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const double ms = since(t0) * 1000.0;
        pthread_join(t, nullptr);
        stops.push_back(ms);
        std::printf("  start %d: first write %5.0f ms after the Start%s; stop while %-9s -> thread ended in %6.1f ms\n",
            r + 1, toFirstWrite, waited ? "" : " (BEFORE the last release ended)", CTest_Mem::status_text[phase], ms);
        ok = ok && waited;
    }
    while (run.threadsAlive(kSlot) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double worst = *std::max_element(stops.begin(), stops.end());
    std::printf(
        "  stop to end: median %.1f ms, worst %.1f ms (limit %.0f ms); locked after the last release: %ld KiB\n",
        median(stops), worst, kMaxStopMs, lockedKiB() - lockedBefore);
    ok = ok && worst <= kMaxStopMs && lockedKiB() == lockedBefore;
    delete gLogger;
    gLogger = nullptr;
    return ok ? 0 : 1;
}
