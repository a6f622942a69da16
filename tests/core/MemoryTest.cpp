#include "CTest_Memory.h"
#include "EngineInfo.h"
#include "DesktopDriver.h"
#include "EngineFixture.h"
#include "ProcessRun.h"

#include <algorithm>
#include <fstream>
#include <linux/capability.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace {

using std::to_string;
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kTotal = 2516582; // 1 MiB + 1 MiB + 419,430: no multiple of either checkpoint distance
constexpr int kSlot = kSlotMemory;
const auto hex = [](const void* p) { return ::testing::PrintToString(p); }; // as %p prints it

// Locked memory of this process, from the kernel's own accounting.
long lockedKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmLck:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Sanitizer runtimes turn mlock into a no-op, leaving nothing to count.
bool mlockTakesEffect()
{
    static char page[8192];
    const long before = lockedKiB();
    const bool grew = mlock(page, sizeof page) == 0 && lockedKiB() > before;
    munlock(page, sizeof page);
    return grew;
}

TEST(MemorySizing, FractionTableLimitAndChunks)
{
    // Each side of every band's edge: the percent and the size (single precision, truncated).
    std::string table;
    for (std::uint64_t mib : { 256, 300, 512, 1024, 2048, 4096, 65536 })
        for (std::uint64_t free : { mib * kMiB - 1, mib * kMiB }) {
            const float f = CTest_Mem::FractionFor(free);
            table += to_string(free) + " " + to_string(static_cast<int>(f * 100.0f + 0.5f)) + "% "
                + to_string(CTest_Mem::TestRamFor(free, f)) + "\n";
        }
    EXPECT_EQ(GoldenFile(KVX_SOURCE_DIR "/tests/data/memory_fraction.txt", table), table);
    std::uint64_t s[CTest_Mem::kMaxChunks];
    bool cut = true;
    constexpr std::uint64_t kChunk = CTest_Mem::SIZE_PER_CHUNK;
    EXPECT_EQ(std::tuple(CTest_Mem::PlanChunks(220200960, kChunk, s, &cut), s[0], s[1], cut),
        std::tuple(2, kChunk, std::uint64_t { 85983232 }, false));
    EXPECT_EQ(std::pair(CTest_Mem::PlanChunks(0, kChunk, s, &cut), s[0]), std::pair(1, std::uint64_t { 0 }));
    EXPECT_EQ(CTest_Mem::PlanChunks(2 * kChunk, kChunk, s, &cut), 2) << "no empty chunk after an exact fit";
    // The 32 GiB limit is exactly 256 whole chunks; a byte more is cut off.
    ProcessRun process;
    CTest_Mem engine(process.ctx, kSlot);
    const std::uint64_t limit = process.run.live<MemoryLive>(kSlot).maxTestRamSize;
    ASSERT_EQ(limit, 34359738368ull);
    EXPECT_EQ(std::tuple(CTest_Mem::PlanChunks(limit, kChunk, s, &cut), s[255], cut), std::tuple(256, kChunk, false));
    EXPECT_EQ(std::pair(CTest_Mem::PlanChunks(limit + 1, kChunk, s, &cut), cut), std::pair(256, true));
    for (const char* bad : { (const char*)nullptr, "", "0", "-5", "12x", "1e3", "99999999999999999999", "40000" })
        EXPECT_EQ(CTest_Mem::LimitFromEnvironment(limit, bad), limit) << bad;
    EXPECT_EQ(CTest_Mem::LimitFromEnvironment(limit, "64"), 64ull << 20);
}

// Real locked memory, kTotal in 1 MiB chunks; sysinfo reports `status` call by call.
class MemoryRun : public EngineFixture {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "locking memory needs root";
        EngineFixture::SetUp();
        testconfig.duty_cycle[kSlot] = 100;
        testconfig.trace_level = 3;
        settings.maxTestRam = kTotal;
        settings.chunkSize = kMiB;
        settings.startWaitMs = settings.afterAllocationMs = settings.afterMismatchMs = settings.afterErrorMs = 0;
        settings.memoryStatus = [this](struct sysinfo* si) {
            const auto [free, high] = status[std::min(statusCalls++, status.size() - 1)];
            *si = {};
            si->mem_unit = 4096; // in pages, as some kernels count
            si->freeram = free / 4096;
            si->freehigh = high / 4096;
            return 0;
        };
        apply();
    }
    void TearDown() override
    {
        if (!IsSkipped())
            EngineFixture::TearDown();
    }
    MemoryLive& live() { return process.run.live<MemoryLive>(kSlot); }
    void apply() { process.ctx.setSettings(settings); }
    std::string logged(int code) { return std::string(", RAM, ") + e_strings[code] + "\n"; }

    // Test_Thread_Mem as the run controller starts it; `waitEvent`: until
    // an error or a cycle, and a little longer.
    pthread_t startThread(bool waitEvent)
    {
        process.run.threadData[kSlot].test_id = kSlot;
        process.run.threadData[kSlot].context = &process.ctx;
        pthread_t t {};
        EXPECT_EQ(pthread_create(&t, nullptr, Test_Thread_Mem, &process.run.threadData[kSlot]), 0);
        if (waitEvent) {
            const _resultinfo& r = resultfile.results[kSlot];
            EXPECT_TRUE(WaitUntil([&] { return relaxedLoad(r.errors) + relaxedLoad(r.cycles) > 0; }, 5));
            CTest_Base::Sleep(200);
        }
        return t;
    }
    // The controller's side of a stop: clear the flag, wait for `running`.
    bool stopAndWait(pthread_t t)
    {
        process.run.setSlotActive(kSlot, false);
        const bool ended = WaitUntil([this] { return relaxedLoad(process.run.threadData[kSlot].running) == 0; }, 3);
        if (ended)
            pthread_join(t, nullptr);
        return ended;
    }
    static unsigned char expected(int pattern, std::uint32_t cycle, std::uint64_t j)
    {
        return pattern == 0 ? static_cast<unsigned char>(cycle + j) : "\0\xAA\x55\0\xFF"[pattern];
    }
    static bool holds(const CTest_Mem& e, int pattern, std::uint32_t cycle)
    {
        for (int i = 0; i < e.numChunks(); ++i)
            for (std::uint64_t j = 0; j < e.chunkSize(i); ++j)
                if (e.chunkAddress(i)[j] != expected(pattern, cycle, j))
                    return false;
        return true;
    }

    ProcessRun process;
    MemorySettings settings;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> status { { 65536 * kMiB, 0 } };
    std::size_t statusCalls = 0;
};

// Patterns 0-4 in turn; a byte flipped after the write fails that verify with error 30.
TEST_F(MemoryRun, EachPassWritesAndVerifiesTheNextPatternAndReportsAFlippedByte)
{
    const struct {
        int pass, chunk;
        std::uint64_t offset;
        const char* values; // read and expected, as signed bytes
    } flips[] = {
        { 5, 1, 204805, "Read: 55 Expected 54" }, // pattern 0 in cycle 305, past a checkpoint
        { 6, 2, 419429, "Read: -85 Expected -86" }, // pattern 1, the buffer's last byte
        { 7, 0, 700000, "Read: 84 Expected 85" }, // pattern 2, in the second half of a chunk
        { 9, 0, 0, "Read: -2 Expected -1" }, // pattern 4, the first byte
    };
    process.run.setSlotActive(kSlot, true);
    CTest_Mem engine(process.ctx, kSlot);
    unsigned char* flip = nullptr;
    int progressAfterWrite[2] = { -1, -1 }; // of chunks 0 and 1, in percent of the whole buffer
    settings.chunkHook = [&](int mode, std::uint64_t chunkIndex, unsigned char*, std::uint64_t) {
        if (mode == 1 && chunkIndex < 2)
            progressAfterWrite[chunkIndex] = live().progress;
        if (mode == 1 && flip && static_cast<int>(chunkIndex) == engine.numChunks() - 1)
            *flip ^= 0x01, flip = nullptr;
    };
    apply();
    ASSERT_TRUE(engine.AllocateChunks());
    ASSERT_EQ(std::tuple(engine.numChunks(), live().testRam.load(), engine.chunkSize(2)),
        std::tuple(3, kTotal, std::uint64_t { 419430 }));
    relaxedStore(resultfile.results[kSlot].cycles, 300u);
    std::uint32_t errors = 0;
    for (int pass = 0; pass < 11; ++pass) {
        SCOPED_TRACE(pass);
        const int pattern = live().bufferPattern;
        const std::uint32_t cycle = relaxedLoad(resultfile.results[kSlot].cycles);
        ASSERT_EQ(pattern, pass % 5);
        const auto* f = std::find_if(std::begin(flips), std::end(flips), [&](auto& f) { return f.pass == pass; });
        const bool flipped = f != std::end(flips);
        flip = flipped ? engine.chunkAddress(f->chunk) + f->offset : nullptr;
        testconfig.trace_level = pass == 1 ? 4 : 3; // sample lines only at level 4
        const std::size_t before = trace().size();
        const std::uint64_t ops = resultfile.results[kSlot].op_count;
        const std::uint64_t written = live().opcountWrite, read = live().opcountRead;
        ASSERT_EQ(engine.RunPass(), flipped ? 30 : 0);
        const std::uint64_t verified = flipped ? f->chunk * kMiB + f->offset : kTotal; // up to the bad byte
        EXPECT_EQ(std::tuple(live().opcountWrite - written, live().opcountRead - read,
                      resultfile.results[kSlot].op_count - ops, resultfile.results[kSlot].cycles),
            std::tuple(kTotal, verified, kTotal + verified, cycle + 1));
        EXPECT_EQ(std::tuple(resultfile.results[kSlot].errors, resultfile.classes[kSlot].critical, live().error.load(),
                      live().status.load(), progressAfterWrite[0], progressAfterWrite[1]),
            std::tuple(errors += flipped, errors, 0, 2, 41, 83));
        const std::string lines = trace(before);
        // One sample line at each 204,800-byte checkpoint: 6 + 6 + 3.
        EXPECT_EQ(std::pair(count(lines, "Write non-sequential byte aa to memory at "),
                      count(lines, ", Read: aa, Expected: aa")),
            pass == 1 ? std::pair(15, 15) : std::pair(0, 0));
        if (flipped) {
            EXPECT_EQ(std::pair(resultfile.results[kSlot].last_error, live().lastError.load()), std::pair(30u, 30));
            EXPECT_EQ(count(lines, "Verify Buffer Pattern: "), f->chunk + 1) << "the later chunks not at all";
            // Logged without a test name.
            const std::string bad = ", Virtual Offset: " + hex(flip ? flip : engine.chunkAddress(f->chunk) + f->offset);
            EXPECT_EQ(std::pair(count(lines, bad + " " + f->values + "\n"), count(lines, logged(kMemoryErrorVerify))),
                std::pair(1, 1));
            continue;
        }
        EXPECT_EQ(live().progress.load(), 100);
        EXPECT_TRUE(holds(engine, pattern, cycle));
        for (int i = 0; i < 3; ++i) {
            const std::string where = std::string(CTest_Mem::PatternText[pattern]) + ", Start Address: "
                + hex(engine.chunkAddress(i)) + ", Size: " + to_string(engine.chunkSize(i)) + " \n";
            EXPECT_EQ(
                count(lines, "Write Buffer Pattern: " + where) + count(lines, "Verify Buffer Pattern: " + where), 2);
        }
    }
    EXPECT_EQ(engine.chunkAddress(0)[0], 54) << "pattern 0 in cycle 310";
}

// Each chunk's release takes 400 ms, as tens of GiB would: the stop still ends within the
// memory test's 1000 ms, and the next Start locks nothing before every chunk is back.
TEST_F(MemoryRun, StopInsideAWriteEndsAtTheCheckpointAndTheNextStartWaitsForTheRelease)
{
    // Each block seems to take a millisecond, which owes 99 ms of pause at duty 1:
    // the stop lands in the pause after chunk 0, one block without sample lines.
    testconfig.duty_cycle[kSlot] = 1;
    settings.pacerClock = [ms = 0.0]() mutable { return ms += 1; };
    std::atomic<int> released { 0 }, releasedAtNextLock { -1 };
    std::atomic<bool> nextStarted { false };
    settings.releaseHook = [&](std::uint64_t) {
        // The first chunk is back: the next run starts, and the others come back during it.
        if (++released == 1)
            WaitUntil([&] { return nextStarted.load(); }, 5);
        CTest_Base::Sleep(400);
    };
    settings.memoryStatus = [this, &released, &releasedAtNextLock, first = settings.memoryStatus](struct sysinfo* si) {
        if (statusCalls > 0)
            releasedAtNextLock = released.load();
        return first(si);
    };
    apply();
    const long lockedBefore = lockedKiB();
    ::Run& run = process.run;
    const auto start = [&] {
        run.newGeneration();
        pthread_t t {};
        EXPECT_EQ(StartTestThreads(process.ctx, kSlot, 0, 1, &t), 1);
        return t;
    };
    pthread_t t = start();
    ASSERT_TRUE(WaitUntil([this] { return live().opcountWrite >= 3 * 2048; }, 5));
    EXPECT_TRUE(!mlockTakesEffect() || lockedKiB() - lockedBefore >= 2457) << "2.4 MiB locked";
    const auto t0 = std::chrono::steady_clock::now();
    run.setSlotActive(kSlot, false);
    ASSERT_TRUE(WaitUntil([&] { return relaxedLoad(run.threadData[kSlot].running) == 0; }, 3));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(EngineFor(kSlot)->stopLimitMs));
    pthread_join(t, nullptr);
    EXPECT_EQ(std::tuple(live().opcountWrite.load(), live().opcountRead.load()), std::tuple(kMiB, std::uint64_t { 0 }))
        << "up to the next checkpoint, then no other chunk";
    EXPECT_EQ(resultfile.results[kSlot].cycles, 1u) << "the interrupted pass counts";
    EXPECT_EQ(std::pair(run.threadsAlive(kSlot), run.testsRunning.load()), std::pair(1, 0)) << "still releasing";
    ASSERT_TRUE(WaitUntil([&] { return released > 0; }, 3));
    const std::string text = trace();

    relaxedStore(resultfile.results[kSlot].cycles, 0u);
    testconfig.duty_cycle[kSlot] = 100;
    t = start();
    // What the release logs from here on would belong to the new run.
    const std::size_t nextRun = trace().size();
    nextStarted = true;
    ASSERT_TRUE(WaitUntil([] { return relaxedLoad(resultfile.results[kSlot].cycles) > 0; }, 5)) << "the next run works";
    EXPECT_EQ(releasedAtNextLock.load(), 3);
    // Up to the new run's own stop: its chunks may reuse the old addresses.
    const std::string during = trace(nextRun);
    ASSERT_TRUE(stopAndWait(t));
    ASSERT_TRUE(WaitUntil([&] { return run.threadsAlive(kSlot) == 0; }, 3));
    EXPECT_EQ(lockedKiB(), lockedBefore);
    // Each chunk is unlocked at the address and size it was locked with; the release
    // logs into its own run only.
    std::vector<std::string> locked;
    for (auto at = text.find("mlock success -> "); at != std::string::npos; at = text.find("mlock success -> ", at + 1))
        locked.push_back("munlock success -> " + text.substr(at + 17, text.find('\n', at) - at - 17));
    ASSERT_EQ(locked.size(), 3u);
    EXPECT_EQ(
        std::tuple(count(text, locked[0]), count(during, locked[1]), count(during, locked[2])), std::tuple(1, 0, 0));
    EXPECT_LT(text.find("Memory (RAM), Starting test"), text.find("Memory (RAM), Stopping test"));
}

// Drops CAP_IPC_LOCK and sets RLIMIT_MEMLOCK (in a child only).
bool limitLocking(rlim_t bytes)
{
    __user_cap_header_struct head { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct data[2] {};
    if (syscall(SYS_capget, &head, data) != 0)
        return false;
    data[0].effective &= ~(1u << CAP_IPC_LOCK);
    const rlimit limit { bytes, bytes };
    return syscall(SYS_capset, &head, data) == 0 && setrlimit(RLIMIT_MEMLOCK, &limit) == 0;
}

// In a child each: without root error 203; under a lock limit a smaller retry, then error 96.
TEST_F(MemoryRun, WithoutRootOrUnderALockLimitRaisesItsErrorOnce)
{
    const bool lockable = mlockTakesEffect(); // not under a sanitizer runtime: no lock limit to run into
    const struct {
        rlim_t lockLimit; // RLIM_INFINITY: runs as user nobody instead
        std::uint64_t freeHigh; // the retry takes 60 percent of it
        std::uint32_t code;
    } cases[] = {
        { RLIM_INFINITY, 0, kMemoryErrorNotRoot },
        // 1 MiB locks, the second does not; the retry's 1.2 MiB fits.
        { 1536 * 1024, 2 * kMiB, 0 },
        { 1536 * 1024, 4 * kMiB, kMemoryErrorAllocation },
        { 0, 2 * kMiB, kMemoryErrorAllocation },
    };
    settings.maxTestRam = 64 * kMiB;
    apply();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lockLimit);
        const bool nobody = c.lockLimit == RLIM_INFINITY;
        if (!nobody && !lockable)
            continue;
        status = { { 4 * kMiB, 0 }, { 4 * kMiB, c.freeHigh } };
        statusCalls = 0;
        live().testRam = 12345;
        const std::size_t before = trace().size();
        const std::uint64_t second = nobody ? 12345 : c.freeHigh == 2 * kMiB ? 1258291 : kTotal;
        std::fflush(stdout);
        if (fork() == 0) {
            const bool limited = nobody ? seteuid(65534) == 0 : limitLocking(c.lockLimit);
            if (limited) {
                const pthread_t t = startThread(true);
                const std::tuple<std::uint32_t, std::uint32_t, long, std::uint64_t> now {
                    relaxedLoad(resultfile.results[kSlot].errors), relaxedLoad(resultfile.results[kSlot].last_error),
                    lockedKiB(), live().testRam
                };
                // The first lock failure only retries.
                EXPECT_EQ(std::tuple(std::get<0>(now), std::get<3>(now)), std::tuple(c.code ? 1u : 0u, second));
                EXPECT_TRUE(!c.code || now == std::tuple(1u, c.code, 0L, second)) << "idles with nothing locked";
                EXPECT_TRUE(stopAndWait(t)); // well inside a 10 s idle step
                EXPECT_EQ(resultfile.results[kSlot].cycles > 0, c.code == 0);
            }
            std::fflush(stdout);
            _exit(::testing::Test::HasFailure() || !limited ? 1 : 0);
        }
        int child = 0;
        wait(&child);
        EXPECT_TRUE(WIFEXITED(child) && WEXITSTATUS(child) == 0) << "child status " << child;
        const std::string lines = trace(before);
        EXPECT_EQ(count(lines, c.code ? logged(static_cast<int>(c.code)) : ", RAM, "), c.code ? 1 : 0) << lines;
        if (nobody) {
            EXPECT_EQ(lines.find("memory status"), std::string::npos);
        }
    }
}

} // namespace
