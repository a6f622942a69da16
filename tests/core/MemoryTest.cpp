#include "AtomicField.h"
#include "TestContext.h"
#include "CLogger.h"
#include "CTest_Memory.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "ScopedEnv.h"
#include "Startup.h"
#include "TempDir.h"
#include "TraceCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <linux/capability.h>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using std::to_string;
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kTotal = 2516582; // 1 MiB + 1 MiB + 419,430: no multiple of either checkpoint distance
constexpr int kSlot = kSlotMemory;

std::string hex(const void* p)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

int count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

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

template <class Pred> bool waitFor(Pred p, std::chrono::milliseconds limit = 5s)
{
    for (const auto end = std::chrono::steady_clock::now() + limit; !p(); std::this_thread::sleep_for(1ms))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

// Free and free high RAM the engine reads, call by call; the last repeats.
std::vector<std::pair<std::uint64_t, std::uint64_t>> gStatus;
std::size_t gStatusCalls;

int fakeSysinfo(struct sysinfo* si)
{
    const auto [free, high] = gStatus[std::min(gStatusCalls++, gStatus.size() - 1)];
    *si = {};
    si->mem_unit = 4096; // in pages, as some kernels count
    si->freeram = free / 4096;
    si->freehigh = high / 4096;
    return 0;
}

// Test_Thread_Mem on the slot's record, as the run controller starts it.
pthread_t startThread()
{
    TestRun().threadData[kSlot].test_id = kSlot;
    TestRun().threadData[kSlot].context = &TestContext();
    pthread_t t {};
    EXPECT_EQ(pthread_create(&t, nullptr, Test_Thread_Mem, &TestRun().threadData[kSlot]), 0);
    return t;
}

// The controller's side of a stop: clear the flag, wait for `running`.
bool stopAndWait(pthread_t t)
{
    TestRun().setSlotActive(kSlot, false);
    const bool ended = waitFor([] { return relaxedLoad(TestRun().threadData[kSlot].running) == 0; }, 3s);
    if (ended)
        pthread_join(t, nullptr);
    return ended;
}

TEST(MemorySizing, FractionTableLimitAndChunks)
{
    const struct {
        std::uint64_t free;
        int percent;
        std::uint64_t testRam; // single precision, truncated
    } cases[] = { { 300 * kMiB, 70, 220200960 }, { 1024 * kMiB, 90, 966367616 }, { 1024 * kMiB - 1, 80, 858993472 },
        { 256 * kMiB - 1, 60, 161061280 }, { 256 * kMiB, 70, 187904816 }, { 512 * kMiB - 1, 70, 375809632 },
        { 512 * kMiB, 80, 429496736 }, { 2048 * kMiB - 1, 90, 1932735232 }, { 2048 * kMiB, 80, 1717986944 },
        { 4096 * kMiB - 1, 80, 3435973888 }, { 4096 * kMiB, 70, 3006477056 }, { 65536 * kMiB, 70, 48103632896 } };
    for (const auto& c : cases) {
        const float f = CTest_Mem::FractionFor(c.free);
        EXPECT_EQ(std::pair(static_cast<int>(f * 100.0f + 0.5f), CTest_Mem::TestRamFor(c.free, f)),
            std::pair(c.percent, c.testRam))
            << c.free;
    }
    std::uint64_t s[CTest_Mem::kMaxChunks];
    bool cut = true;
    constexpr std::uint64_t kChunk = CTest_Mem::SIZE_PER_CHUNK;
    EXPECT_EQ(std::tuple(CTest_Mem::PlanChunks(220200960, kChunk, s, &cut), s[0], s[1], cut),
        std::tuple(2, kChunk, std::uint64_t { 85983232 }, false));
    EXPECT_EQ(std::pair(CTest_Mem::PlanChunks(0, kChunk, s, &cut), s[0]), std::pair(1, std::uint64_t { 0 }));
    EXPECT_EQ(CTest_Mem::PlanChunks(2 * kChunk, kChunk, s, &cut), 2) << "no empty chunk after an exact fit";
    // The 32 GiB limit is exactly 256 whole chunks; a byte more is cut off.
    CTest_Mem::SetSizesForTests(0, 0);
    CTest_Mem engine(TestContext(), kSlot);
    ASSERT_EQ(CTest_Mem::gMaxTestRamSize.load(), 34359738368ull);
    EXPECT_EQ(std::tuple(CTest_Mem::PlanChunks(CTest_Mem::gMaxTestRamSize, kChunk, s, &cut), s[255], cut),
        std::tuple(256, kChunk, false));
    EXPECT_EQ(
        std::pair(CTest_Mem::PlanChunks(CTest_Mem::gMaxTestRamSize + 1, kChunk, s, &cut), cut), std::pair(256, true));
}

class MemoryRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "locking memory needs root";
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(TestRun().threadData, 0, sizeof TestRun().threadData);
        relaxedStore(TestRun().threadActive[kSlot], 0);
        testconfig.duty_cycle[kSlot] = 100;
        testconfig.logging_enabled = testconfig.log_detail_level = testconfig.trace_header_written = 1;
        testconfig.trace_level = 3;
        g_fpActivityLog = std::fopen(dir.file("trace.log").c_str(), "w");
        gLogger = new CLogger("dummyStr");
        for (int code : { 30, 96, 203 }) {
            e_classification[code] = kSevSerious;
            std::snprintf(e_strings[code], kErrorTextSize, "Memory error %d", code);
        }
        // 64 GiB free: 70 percent of it is cut to the limit.
        gStatus = { { 65536 * kMiB, 0 } };
        gStatusCalls = 0;
        CTest_Mem::SetMemoryStatusForTests(fakeSysinfo);
        CTest_Mem::SetSizesForTests(kTotal, kMiB);
        CTest_Mem::SetTimingForTests({ 0, 0, 0, 0, -1 });
        // What an earlier engine left must not pass for this one's progress.
        CTest_Mem::opcount_write = CTest_Mem::opcount_read = 0;
        CTest_Mem::status_mem = 0;
    }
    void TearDown() override
    {
        if (IsSkipped())
            return;
        CTest_Mem::SetChunkHookForTests(nullptr);
        CTest_Mem::SetMemoryStatusForTests(nullptr);
        CTest_Mem::SetSizesForTests(0, 0);
        CTest_Mem::SetTimingForTests({ -1, -1, -1, -1, -1 });
        delete gLogger; // closes the trace
        gLogger = nullptr;
    }
    std::string trace() { return ReadFile(dir.file("trace.log")); }

    // The byte of `pattern` at offset j of a chunk in cycle `cycle`.
    static unsigned char expected(int pattern, std::uint32_t cycle, std::uint64_t j)
    {
        return pattern == 0 ? static_cast<unsigned char>(cycle + j) : "\0\xAA\x55\0\xFF"[pattern];
    }
    // Offset of the first byte of chunk `i` that differs, or -1.
    static long long firstWrong(const CTest_Mem& e, int i, int pattern, std::uint32_t cycle)
    {
        for (std::uint64_t j = 0; j < e.chunkSize(i); ++j)
            if (e.chunkAddress(i)[j] != expected(pattern, cycle, j))
                return static_cast<long long>(j);
        return -1;
    }

    TempDir dir;
};

TEST_F(MemoryRun, EachPassWritesAndVerifiesTheNextPattern)
{
    testconfig.trace_level = 4; // with the sample lines
    TestRun().setSlotActive(kSlot, true);
    auto engine = std::make_unique<CTest_Mem>(TestContext(), kSlot);
    {
        ScopedEnv align("_MLOCK_PAGE_ALIGN_", "1");
        ASSERT_TRUE(engine->AllocateChunks());
    }
    ASSERT_EQ(std::tuple(engine->numChunks(), CTest_Mem::gTestRam.load(), engine->chunkSize(2)),
        std::tuple(3, kTotal, std::uint64_t { 419430 }));
    EXPECT_EQ(count(trace(),
                  "Requested RAM test (of 48103632896 bytes) size exceed limit (of 2516582 bytes).  Will "
                  "attempt to allocate max for memory test."),
        1);

    // Passes 0-4 in cycles 300-304; then pattern 0 again, throttled at every
    // 2048-byte block and without the page alignment.
    relaxedStore(resultfile.results[kSlot].cycles, 300u);
    std::size_t lockLines = 0; // where the latest allocation's lines start
    for (int pass = 0; pass < 6; ++pass) {
        SCOPED_TRACE(pass);
        const int pattern = CTest_Mem::BufferPattern;
        const std::uint32_t cycle = relaxedLoad(resultfile.results[kSlot].cycles);
        ASSERT_EQ(pattern, pass % 5);
        if (pass == 5) {
            testconfig.duty_cycle[kSlot] = 99; // throttle pauses of 0 ms
            resultfile.cpu_info.cpu0_mhz = 1.0f;
            engine.reset(); // the clock factor is taken at construction
            engine = std::make_unique<CTest_Mem>(TestContext(), kSlot);
            lockLines = trace().size();
            ASSERT_TRUE(engine->AllocateChunks());
        }
        const std::string old = trace();
        const std::uint64_t ops = resultfile.results[kSlot].op_count;
        const std::uint64_t written = CTest_Mem::opcount_write, read = CTest_Mem::opcount_read;
        ASSERT_EQ(engine->RunPass(), 0);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(firstWrong(*engine, i, pattern, cycle), -1) << "chunk " << i;
        EXPECT_EQ(std::tuple(CTest_Mem::opcount_write - written, CTest_Mem::opcount_read - read,
                      resultfile.results[kSlot].op_count - ops, resultfile.results[kSlot].cycles),
            std::tuple(kTotal, kTotal, 2 * kTotal, cycle + 1));
        EXPECT_EQ(std::pair(CTest_Mem::status_mem.load(), CTest_Mem::progress_mem.load()), std::pair(2, 100));

        const std::string lines = trace().substr(old.size());
        for (int i = 0; i < 3; ++i) {
            const auto block = reinterpret_cast<std::uintptr_t>(engine->chunkAddress(i));
            const std::uintptr_t start = pass < 5 ? block / 4096 * 4096 : block;
            if (pass == 0 || pass == 5) {
                EXPECT_EQ(count(old.substr(lockLines),
                              "mlock success -> Address: " + hex(reinterpret_cast<void*>(start))
                                  + ", Size: " + to_string(engine->chunkSize(i) + block - start) + " \n"),
                    1);
            }
            const std::string where = std::string(CTest_Mem::PatternText[pattern]) + ", Start Address: "
                + hex(engine->chunkAddress(i)) + ", Size: " + to_string(engine->chunkSize(i)) + " \n";
            EXPECT_EQ(
                count(lines, "Write Buffer Pattern: " + where) + count(lines, "Verify Buffer Pattern: " + where), 2);
        }
        // A sample line every 204,800 bytes: 6 + 6 + 3 per phase.
        const char* sample = pattern == 0 ? "Write sequential byte " : "Write non-sequential byte ";
        EXPECT_EQ(std::pair(count(lines, sample), count(lines, ", Expected: ")), std::pair(15, 15));
        char line[96];
        std::snprintf(line, sizeof line, pattern == 0 ? "%s%d to memory at %s \n" : "%s%x to memory at %s \n", sample,
            expected(pattern, cycle, 0), hex(engine->chunkAddress(1) + 204800).c_str());
        EXPECT_EQ(count(lines, line), 1) << line;
        std::snprintf(line, sizeof line, "Address %s, Read: %x, Expected: %x \n", hex(engine->chunkAddress(2)).c_str(),
            expected(pattern, cycle, 0), expected(pattern, cycle, 0));
        EXPECT_EQ(count(lines, line), 1) << line;
    }
    EXPECT_EQ(engine->chunkAddress(0)[0], 49) << "pattern 0 in cycle 305";
    EXPECT_EQ(resultfile.results[kSlot].errors, 0u);
}

// Flips one byte once the last chunk is written; set by the test, run on
// the engine's thread.
struct Flip {
    CTest_Mem* engine;
    int chunk;
    std::uint64_t offset;
    bool armed;
    int progressAfterFirstWrite;
} gFlip;

void flipAfterLastWrite(int mode, std::uint64_t chunkIndex, unsigned char*, std::uint64_t)
{
    if (mode == 1 && chunkIndex == 0)
        gFlip.progressAfterFirstWrite = CTest_Mem::progress_mem;
    if (mode == 1 && gFlip.armed && static_cast<int>(chunkIndex) == gFlip.engine->numChunks() - 1)
        gFlip.engine->chunkAddress(gFlip.chunk)[gFlip.offset] ^= 0x01, gFlip.armed = false;
}

TEST_F(MemoryRun, FlippedByteRaises30OnceEndsThatVerifyAndTheNextPassGoesOn)
{
    const struct {
        int pattern, chunk;
        std::uint64_t offset;
        const char* values; // read and expected, as signed bytes
    } cases[] = {
        { 0, 1, 204805, "Read: 4 Expected 5" }, // past a checkpoint
        { 1, 2, 419429, "Read: -85 Expected -86" }, // the buffer's last byte
        { 4, 0, 0, "Read: -2 Expected -1" }, // the first byte; the next pass wraps to pattern 0
    };
    TestRun().setSlotActive(kSlot, true);
    CTest_Mem engine(TestContext(), kSlot);
    ASSERT_TRUE(engine.AllocateChunks());
    CTest_Mem::SetChunkHookForTests(flipAfterLastWrite);
    std::uint32_t errors = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        CTest_Mem::BufferPattern = c.pattern;
        const std::uint32_t cycle = resultfile.results[kSlot].cycles;
        gFlip = { &engine, c.chunk, c.offset, true, -1 };
        const std::size_t before = trace().size();
        const std::uint64_t read = CTest_Mem::opcount_read;

        EXPECT_EQ(engine.RunPass(), 30);
        EXPECT_EQ(gFlip.progressAfterFirstWrite, 41) << "percent of the whole buffer";
        EXPECT_EQ(std::tuple(resultfile.results[kSlot].errors, resultfile.results[kSlot].last_error,
                      resultfile.classes[kSlot].serious, resultfile.results[kSlot].cycles),
            std::tuple(++errors, 30u, errors, cycle + 1));
        EXPECT_EQ(
            std::tuple(CTest_Mem::lasterror_mem.load(), CTest_Mem::error_mem.load(), CTest_Mem::BufferPattern.load()),
            std::tuple(30, 0, (c.pattern + 1) % 5));
        // Verified up to the bad byte; the later chunks not at all.
        EXPECT_EQ(CTest_Mem::opcount_read - read, c.chunk * kMiB + c.offset);
        const std::string lines = trace().substr(before);
        EXPECT_EQ(count(lines, "Verify Buffer Pattern: "), c.chunk + 1);
        // Logged without a test name.
        EXPECT_EQ(
            count(lines, ", Virtual Offset: " + hex(engine.chunkAddress(c.chunk) + c.offset) + " " + c.values + "\n"),
            1)
            << lines;
        EXPECT_EQ(count(lines, ", RAM, Memory error 30\n"), 1) << lines;

        // The next pass, without a flip, verifies every chunk and raises nothing.
        EXPECT_EQ(engine.RunPass(), 0);
        EXPECT_EQ(resultfile.results[kSlot].errors, errors);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(firstWrong(engine, i, (c.pattern + 1) % 5, cycle + 1), -1) << i;
    }
}

TEST_F(MemoryRun, StopInsideAWriteEndsAtTheCheckpointAndReleasesEveryChunk)
{
    // A pause of one 100 ms slice after every 2048-byte block, so the stop
    // request lands inside chunk 0's write.
    testconfig.duty_cycle[kSlot] = 98;
    resultfile.cpu_info.cpu0_mhz = 1.0f;
    const long lockedBefore = lockedKiB();
    const pthread_t t = startThread();
    ASSERT_TRUE(waitFor([] { return CTest_Mem::opcount_write >= 3 * 2048; }));
    if (mlockTakesEffect()) {
        EXPECT_GE(lockedKiB() - lockedBefore, 2457) << "2.4 MiB locked";
    }
    ASSERT_TRUE(stopAndWait(t)) << "throttle pauses after the stop";

    EXPECT_EQ(std::tuple(CTest_Mem::opcount_write.load(), CTest_Mem::opcount_read.load()),
        std::tuple(std::uint64_t { 204800 }, std::uint64_t { 0 }))
        << "up to the next checkpoint, then no other chunk";
    EXPECT_EQ(resultfile.results[kSlot].cycles, 1u) << "the interrupted pass counts";
    EXPECT_EQ(std::pair(lockedKiB(), TestRun().testsRunning.load()), std::pair(lockedBefore, 0));
    // Every chunk locked is unlocked, at the same address and size.
    const std::string text = trace();
    EXPECT_EQ(count(text, "Success memory locking"), 3);
    for (auto at = text.find("mlock success -> "); at != std::string::npos; at = text.find("mlock success -> ", at + 1))
        EXPECT_EQ(count(text, "munlock success -> " + text.substr(at + 17, text.find('\n', at) - at - 17)), 1);
    EXPECT_LT(text.find("Memory (RAM), Starting test"), text.find("Memory (RAM), Stopping test"));
}

// Runs `body` in a child process and hands back what it filled in.
struct ChildReport {
    std::uint32_t errors, lastError, cycles;
    long locked;
    std::uint64_t testRam;
    bool sawEvent, ended;
};
template <class Body> ChildReport inChild(Body body)
{
    ChildReport r {};
    int fds[2];
    if (pipe(fds) != 0)
        return r;
    const pid_t pid = fork();
    if (pid == 0) {
        body(r);
        _exit(write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r) ? 0 : 1);
    }
    close(fds[1]);
    const bool complete = read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(complete && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return r;
}

// The test thread's state once it raised an error or counted a cycle, and
// whether a stop then ended it.
void runAndStop(ChildReport& r)
{
    const pthread_t t = startThread();
    r.sawEvent = waitFor([] {
        return relaxedLoad(resultfile.results[kSlot].errors) + relaxedLoad(resultfile.results[kSlot].cycles) > 0;
    });
    std::this_thread::sleep_for(200ms);
    r.errors = relaxedLoad(resultfile.results[kSlot].errors);
    r.lastError = relaxedLoad(resultfile.results[kSlot].last_error);
    r.locked = lockedKiB();
    r.testRam = CTest_Mem::gTestRam;
    r.ended = stopAndWait(t); // well inside a 10 s idle step
    r.cycles = resultfile.results[kSlot].cycles;
}

TEST_F(MemoryRun, WithoutRootRaises203OnceAndTakesNoMemory)
{
    CTest_Mem::gTestRam = 12345;
    const ChildReport r = inChild([](ChildReport& r) {
        if (seteuid(65534) == 0)
            runAndStop(r);
    });
    EXPECT_TRUE(r.sawEvent && r.ended);
    EXPECT_EQ(std::tuple(r.errors, r.lastError, r.cycles, r.locked, r.testRam),
        std::tuple(1u, 203u, 0u, 0L, std::uint64_t { 12345 }))
        << "nothing sized or locked";
    const std::string text = trace();
    EXPECT_EQ(count(text, ", RAM, Memory error 203\n"), 1) << text;
    EXPECT_EQ(text.find("memory status"), std::string::npos);
    EXPECT_LT(text.find("Memory (RAM), Starting test"), text.find("Memory (RAM), Stopping test"));
}

// Takes from this (child) process the right to lock beyond RLIMIT_MEMLOCK
// and sets that limit.
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

TEST_F(MemoryRun, LockFailureRetriesOnFreeHighMemoryThenRaises96)
{
    if (!mlockTakesEffect())
        GTEST_SKIP() << "mlock is a no-op here (sanitizer runtime): no lock limit to run into";
    const struct {
        rlim_t lockLimit;
        std::uint64_t freeHigh; // the retry takes 60 percent of it
        const char* mlockText;
        std::uint32_t errors;
    } cases[] = {
        // 1 MiB locks, the second does not; the retry's 1.2 MiB fits.
        { 1536 * 1024, 2 * kMiB, "Too many pages requested - reducing requested amount....", 0 },
        { 1536 * 1024, 4 * kMiB, "Too many pages requested - reducing requested amount....", 1 },
        { 0, 2 * kMiB, "Insufficient permissions - please log in with an admin account", 1 },
    };
    CTest_Mem::SetSizesForTests(64 * kMiB, kMiB);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lockLimit);
        gStatus = { { 4 * kMiB, 0 }, { 4 * kMiB, c.freeHigh } };
        gStatusCalls = 0;
        const std::size_t before = trace().size();
        const ChildReport r = inChild([&](ChildReport& r) {
            if (limitLocking(c.lockLimit))
                runAndStop(r);
        });
        EXPECT_TRUE(r.sawEvent && r.ended);
        const std::string lines = trace().substr(before);
        const std::uint64_t second = c.freeHigh == 2 * kMiB ? 1258291 : kTotal;
        EXPECT_EQ(count(lines, "Attempting to allocate 60 percent of 4194304 (available physical RAM)"), 1);
        EXPECT_EQ(count(lines, std::string("Error: mlock -> ") + c.mlockText), 1 + static_cast<int>(c.errors));
        const std::string retry = " to allocate 60 percent of " + to_string(c.freeHigh)
            + " (available HIGH RAM) for memory test buffer size = " + to_string(second) + " bytes";
        EXPECT_EQ(count(lines, "Attempting" + retry), 1) << lines;
        EXPECT_EQ(std::pair(r.testRam, r.errors), std::pair(second, c.errors)) << "the first failure only retries";
        EXPECT_EQ(count(lines, ", RAM, Memory error 96\n"), static_cast<int>(c.errors));
        const std::string chunks = " number of memory chunks = " + to_string(second > 2 * kMiB ? 3 : 2)
            + ", SIZE_PER_CHUNK = 1048576, theTestBufSize = " + to_string(second) + " bytes";
        EXPECT_EQ(count(lines, "Failed attempt to allocate"), count(lines, "Failed to allocate" + chunks));
        if (c.errors == 0) {
            EXPECT_EQ(count(lines, "Number of memory chunks allocated = 2, SIZE_PER_CHUNK"), 1);
            EXPECT_GE(r.cycles, 1u);
        } else {
            EXPECT_EQ(std::tuple(r.lastError, r.cycles, r.locked, count(lines, "Failed attempt" + retry)),
                std::tuple(96u, 0u, 0L, 1))
                << "idles with nothing locked";
        }
        EXPECT_EQ(count(lines, "Success memory locking"), count(lines, "Success memory unlocking"));
    }
}

} // namespace

TEST(MemoryLimitVariable, OnlyAWholePositiveMibCountAndItOnlyLowers)
{
    constexpr std::uint64_t kLimit = CTest_Mem::kDefaultMaxTestRam;
    EXPECT_EQ(CTest_Mem::LimitFromEnvironment(kLimit, nullptr), kLimit);
    EXPECT_EQ(CTest_Mem::LimitFromEnvironment(kLimit, "64"), 64ull << 20);
    for (const char* bad : { "", "0", "-5", "12x", "1e3", "99999999999999999999", "40000" })
        EXPECT_EQ(CTest_Mem::LimitFromEnvironment(kLimit, bad), kLimit) << bad;
}
