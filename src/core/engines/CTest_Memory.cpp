#include "CTest_Memory.h"

#include "EngineInfo.h"

#include "Privileges.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Run.h"
#include "Startup.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

const char* const CTest_Mem::PatternText[NumPatterns] = {
    "Sequence (0,1,2...255)",
    "Binary 1 (10101010)",
    "Binary 2 (01010101)",
    "Zeros (00000000)",
    "Ones (11111111)",
};
const char* const CTest_Mem::status_text[4] = { "Starting", "Writing", "Verifying", "Deleting" };

namespace {

constexpr int kLogTestRam = 4; // "RAM" in the event log's test names
constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uintptr_t kHugePage = 2 * kMiB;
// A pass with nothing to write or verify (switched off, or an empty
// buffer) would otherwise spin, counting cycles at full speed.
constexpr int kSkippedPassPauseMs = 1000;

std::uint64_t nextMultiple(std::uint64_t j, std::uint64_t step)
{
    return (j / step + 1) * step;
}

int percentOf(float fraction)
{
    return static_cast<int>(std::lround(fraction * 100.0f));
}

const char* mlockErrorText(int err)
{
    switch (err) {
    case EPERM:
        return "mlock -> Insufficient permissions - please log in with an admin account";
    case EAGAIN:
        return "mlock -> Some or all of the memory identified by the operation could not be locked when the call was "
               "made.";
    case ENOMEM:
        return "mlock -> Too many pages requested - reducing requested amount....";
    case EINVAL:
        return "mlock -> The addr argument is not a multiple of {PAGESIZE}.";
    case ENOSYS:
        return "mlock -> The implementation does not support this memory locking interface.";
    default:
        return "mlock -> Unknown error";
    }
}

// Level-4 lines reach only the activity trace, and only at its detail
// level 4; a byte loop skips formatting its sample lines otherwise.
bool sampleLinesWanted()
{
    return relaxedLoad(testconfig.logging_enabled) != 0 && relaxedLoad(testconfig.trace_level) == 4;
}

// Pattern blocks are filled and compared 16 bytes at a time; memcpy into
// and out of the vector keeps any alignment of the chunk legal.
typedef std::uint64_t Wide __attribute__((vector_size(16)));
constexpr std::size_t kPeriod = 256;
constexpr int kWordsPerPeriod = kPeriod / sizeof(Wide);

// Writes `len` bytes of the 256-byte repeating pattern starting at `period`.
void fillPeriodic(unsigned char* dst, std::uint64_t len, const unsigned char* period)
{
    Wide w[kWordsPerPeriod];
    std::memcpy(w, period, kPeriod);
    std::uint64_t j = 0;
    for (; j + kPeriod <= len; j += kPeriod)
        for (int i = 0; i < kWordsPerPeriod; ++i)
            std::memcpy(dst + j + i * sizeof(Wide), &w[i], sizeof(Wide));
    std::memcpy(dst + j, period, len - j);
}

// The offset of the first of `len` bytes that differs from the repeating
// pattern, or `len` when all match.
std::uint64_t firstMismatch(const unsigned char* src, std::uint64_t len, const unsigned char* period)
{
    Wide w[kWordsPerPeriod];
    std::memcpy(w, period, kPeriod);
    std::uint64_t j = 0;
    for (; j + kPeriod <= len; j += kPeriod) {
        Wide diff = {};
        for (int i = 0; i < kWordsPerPeriod; ++i) {
            Wide x;
            std::memcpy(&x, src + j + i * sizeof(Wide), sizeof(Wide));
            diff |= x ^ w[i];
        }
        if ((diff[0] | diff[1]) != 0)
            break;
    }
    for (; j < len; ++j)
        if (src[j] != period[j % kPeriod])
            return j;
    return len;
}

// Whether all `len` bytes match the repeating pattern, read as two streams
// (the block's halves side by side), which this memory serves faster than
// one: some 34 GiB/s against 29 on the development machine.
bool matchesPeriodic(const unsigned char* src, std::uint64_t len, const unsigned char* period)
{
    Wide w[kWordsPerPeriod];
    std::memcpy(w, period, kPeriod);
    const std::uint64_t half = len / 2 / kPeriod * kPeriod;
    const unsigned char* second = src + half;
    for (std::uint64_t j = 0; j < half; j += kPeriod) {
        Wide diff = {};
        for (int i = 0; i < kWordsPerPeriod; ++i) {
            Wide x, y;
            std::memcpy(&x, src + j + i * sizeof(Wide), sizeof(Wide));
            std::memcpy(&y, second + j + i * sizeof(Wide), sizeof(Wide));
            diff |= (x ^ w[i]) | (y ^ w[i]);
        }
        if ((diff[0] | diff[1]) != 0)
            return false;
    }
    return firstMismatch(src + 2 * half, len - 2 * half, period) == len - 2 * half;
}

// Unlocks and releases one chunk and puts its log line into `line`.
// Returns 0, the system error number, or -1 for an error without a text of
// its own. Any thread.
int unlockAndFree(void* address, unsigned long long size, char* line, std::size_t lineSize)
{
    char text[160]; // wrapped into the line
    int rc = 0;
    if (munlock(address, static_cast<std::size_t>(size)) == 0) {
        std::snprintf(text, sizeof text, "munlock success -> Address: %p, Size: %llu", address, size);
        std::snprintf(line, lineSize, "Success memory unlocking - %s\n", text);
    } else {
        const int err = errno;
        rc = (err == ENOMEM || err == EPERM || err == EINVAL || err == ENOSYS) ? err : -1;
        std::snprintf(text, sizeof text, "munlock error -> Address: %p, Size: %llu", address, size);
        std::snprintf(line, lineSize, "Error memory unlocking - %s\n", text);
    }
    // Released either way: a block kept after a failed unlock would only be
    // lost, and releasing it unlocks it too.
    std::free(address);
    return rc;
}

} // namespace

static_assert(CTest_Mem::kCheckpointBytes % kPeriod == 0, "every block of a byte loop starts a pattern period");
static_assert(CTest_Mem::kQuietBlockBytes % CTest_Mem::kCheckpointBytes == 0
        && CTest_Mem::kQuietBlockBytes >= CTest_Mem::SIZE_PER_CHUNK,
    "a large block ends at a checkpoint and holds a whole chunk");

float CTest_Mem::FractionFor(std::uint64_t freeRam)
{
    if (freeRam < 256 * kMiB)
        return 0.6f;
    if (freeRam < 512 * kMiB)
        return 0.7f;
    if (freeRam < 1024 * kMiB)
        return 0.8f;
    if (freeRam < 2048 * kMiB)
        return 0.9f;
    if (freeRam < 4096 * kMiB)
        return 0.8f;
    return 0.7f;
}

std::uint64_t CTest_Mem::TestRamFor(std::uint64_t freeRam, float fraction)
{
    const float bytes = static_cast<float>(freeRam) * fraction;
    if (!(bytes > 0.0f))
        return 0;
    if (bytes >= 1.8e19f)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(bytes);
}

int CTest_Mem::PlanChunks(
    std::uint64_t testRam, std::uint64_t chunkSize, std::uint64_t sizes[kMaxChunks], bool* truncated)
{
    if (chunkSize == 0)
        chunkSize = SIZE_PER_CHUNK;
    int n = 0;
    std::uint64_t left = testRam;
    do {
        const std::uint64_t size = std::min(left, chunkSize);
        sizes[n++] = size;
        left -= size;
    } while (left > 0 && n < kMaxChunks);
    if (truncated)
        *truncated = left > 0;
    return n;
}

unsigned char CTest_Mem::GetBytePattern_mem(int cycles) const
{
    switch (m_live.bufferPattern.load(std::memory_order_relaxed)) {
    case 1:
        return 0xAA;
    case 2:
        return 0x55;
    case 3:
        return 0x00;
    case 4:
        return 0xFF;
    default:
        return static_cast<unsigned char>(static_cast<unsigned>(cycles) & 0xFFu);
    }
}

CTest_Mem::CTest_Mem(const RunContext& ctx, int testID)
    : CTest_Base(ctx, testID, kSliceDefault)
    , m_live(ctx.run.live<MemoryLive>(testID))
    , m_pacer(SlotDutyCycle(testconfig, testID), ctx.settings<MemorySettings>().pacerClock)
{
    std::snprintf(m_testName, sizeof m_testName, "%s", "Memory (RAM)");
    m_live.bufferPattern = 0;
    m_live.maxTestRamSize = LimitFromEnvironment(settings().maxTestRam, std::getenv(kLimitVariable));
    m_live.status = 0;
    m_live.progress = 0;
    m_live.opcountWrite = 0;
    m_live.opcountRead = 0;
    m_live.error = 0;
    m_live.lastError = 0;
}

CTest_Mem::~CTest_Mem()
{
    FreeChunks();
}

const MemorySettings& CTest_Mem::settings() const
{
    return m_ctx.settings<MemorySettings>();
}

void CTest_Mem::logLine(const char* text, int level)
{
    if (gLogger)
        gLogger->AddLine(text, -1, 0, m_testName, level);
}

void CTest_Mem::raiseError(int code)
{
    m_live.lastError = code;
    RecordError(code, kLogTestRam);
}

void CTest_Mem::pauseIfActive(int pauseMs)
{
    // WaitMsecs always sleeps one slice; after a stop request that slice
    // would be spent once per remaining chunk and throttle point.
    if (pauseMs > 0 && Active())
        WaitMsecs(pauseMs);
}

void CTest_Mem::idleUntilStopped()
{
    while (Active())
        WaitMsecs(std::max(1, settings().idleStepMs));
}

void CTest_Mem::test_entry(int /*instance*/)
{
    MarkRunning();
    th_test_mem();
}

void CTest_Mem::th_test_mem()
{
    m_numChunks = 0;
    DPrintf("%s, %s[%d]: %s starts\n", KVX_WHERE, m_testName);
    WaitOnGlobal(settings().startWaitMs);
    LogStart();

    if (!HavePrivilege(Privilege::LockMemory)) {
        raiseError(kMemoryErrorNotRoot);
        idleUntilStopped();
        EndTest();
        return;
    }

    if (AllocateChunks()) {
        while (Active())
            RunPass();
    }
    ReleaseChunksInBackground();
    EndTest();
}

void CTest_Mem::readMemoryStatus()
{
    struct sysinfo si { };
    const auto& status = settings().memoryStatus;
    const int rc = status ? status(&si) : ::sysinfo(&si);
    char line[CLogger::kLineSize];
    if (rc != 0) {
        const int err = errno;
        std::snprintf(line, sizeof line, "Error memory status - Error(%d), %s\n", err, std::strerror(err));
        logLine(line);
        return;
    }
    // Kernels before 2.3.23 report bytes and leave the unit 0.
    const std::uint64_t unit = si.mem_unit ? si.mem_unit : 1;
    m_live.totalPhysicalRam = static_cast<std::uint64_t>(si.totalram) * unit;
    m_live.freePhysicalRam = static_cast<std::uint64_t>(si.freeram) * unit;
    m_live.freeHighRam = static_cast<std::uint64_t>(si.freehigh ? si.freehigh : si.freeram) * unit;
    std::snprintf(line, sizeof line, "Got memory status - Total RAM %llu bytes\n",
        static_cast<unsigned long long>(m_live.totalPhysicalRam.load()));
    logLine(line);
    std::snprintf(line, sizeof line, "Got memory status - Free RAM %llu bytes\n",
        static_cast<unsigned long long>(m_live.freePhysicalRam.load()));
    logLine(line);
    std::snprintf(line, sizeof line, "Got memory status - Free high RAM %llu bytes\n",
        static_cast<unsigned long long>(m_live.freeHighRam.load()));
    logLine(line);
}

bool CTest_Mem::AllocateChunks()
{
    char line[CLogger::kLineSize];
    readMemoryStatus();
    const long page = sysconf(_SC_PAGE_SIZE);
    m_live.pageSize = page > 0 ? static_cast<std::uint32_t>(page) : 4096u;
    std::snprintf(line, sizeof line, "sysconf(_SC_PAGE_SIZE) = %lu\n", static_cast<unsigned long>(page));
    logLine(line);

    const std::uint64_t freeRam = m_live.freePhysicalRam.load();
    const float fraction = FractionFor(freeRam);
    m_pageAlign = std::getenv("_MLOCK_PAGE_ALIGN_") != nullptr;
    DPrintf(m_pageAlign ? "_MLOCK_PAGE_ALIGN_ defined\n" : "_MLOCK_PAGE_ALIGN_ NOT defined\n");

    Alloc result = sizeAndAllocate(freeRam, fraction, "available physical RAM");
    if (result == Alloc::Failed) {
        m_live.error = 1;
        m_live.lastError = kMemoryErrorAllocation;
        FreeChunks();
    }
    pauseIfActive(settings().afterAllocationMs);
    // The passes are the work the duty cycle paces, not the allocation.
    m_pacer.restart();

    if (result == Alloc::Failed && Active()) {
        // The first failure only leads to a second try, sized by the free
        // high memory with the same share.
        m_live.error = 0;
        readMemoryStatus();
        const std::uint64_t freeHigh = m_live.freeHighRam.load();
        result = sizeAndAllocate(freeHigh, fraction, "available HIGH RAM");
        if (result == Alloc::Failed) {
            raiseError(kMemoryErrorAllocation);
            m_live.error = 0;
            std::snprintf(line, sizeof line,
                "Failed attempt to allocate %d percent of %llu (available HIGH RAM) for memory test buffer size = "
                "%llu bytes\n",
                percentOf(fraction), static_cast<unsigned long long>(freeHigh),
                static_cast<unsigned long long>(m_live.testRam.load()));
            logLine(line);
            FreeChunks();
            std::snprintf(line, sizeof line,
                "Failed to allocate number of memory chunks = %llu, SIZE_PER_CHUNK = %llu, theTestBufSize = %llu "
                "bytes\n",
                static_cast<unsigned long long>(m_plannedChunks), static_cast<unsigned long long>(settings().chunkSize),
                static_cast<unsigned long long>(m_live.testRam.load()));
            logLine(line);
            idleUntilStopped();
            return false;
        }
    }
    if (result != Alloc::Done) {
        // Stopped while allocating: nothing to test, nothing to report; the
        // chunks locked so far are released by the caller or the destructor.
        m_live.error = 0;
        return false;
    }
    std::snprintf(line, sizeof line,
        "Number of memory chunks allocated = %llu, SIZE_PER_CHUNK = %llu, theTestBufSize = %llu bytes\n",
        static_cast<unsigned long long>(m_numChunks), static_cast<unsigned long long>(settings().chunkSize),
        static_cast<unsigned long long>(m_live.testRam.load()));
    logLine(line);
    return true;
}

CTest_Mem::Alloc CTest_Mem::sizeAndAllocate(std::uint64_t freeRam, float fraction, const char* ramKind)
{
    char line[CLogger::kLineSize];
    std::uint64_t testRam = TestRamFor(freeRam, fraction);
    const std::uint64_t limit = m_live.maxTestRamSize.load();
    if (testRam > limit) {
        std::snprintf(line, sizeof line,
            "Requested RAM test (of %llu bytes) size exceed limit (of %llu bytes).  Will attempt to allocate max for "
            "memory test.\n",
            static_cast<unsigned long long>(testRam), static_cast<unsigned long long>(limit));
        testRam = limit;
    } else {
        std::snprintf(line, sizeof line,
            "Attempting to allocate %d percent of %llu (%s) for memory test buffer size = %llu bytes\n",
            percentOf(fraction), static_cast<unsigned long long>(freeRam), ramKind,
            static_cast<unsigned long long>(testRam));
    }
    logLine(line);
    m_live.testRam = testRam;

    std::uint64_t sizes[kMaxChunks];
    bool truncated = false;
    m_chunkSize = settings().chunkSize;
    m_plannedChunks = static_cast<std::uint32_t>(PlanChunks(testRam, m_chunkSize, sizes, &truncated));
    if (truncated) {
        std::snprintf(line, sizeof line, "We have reached the maximum number of memory chunks allowed = %llu\n",
            static_cast<unsigned long long>(kMaxChunks));
        logLine(line);
    }

    for (std::uint32_t i = 0; i < m_plannedChunks; ++i) {
        // Locking a large buffer takes seconds; a stop must not wait for it.
        if (!Active())
            return Alloc::Stopped;
        unsigned long long size = sizes[i];
        void* address = AllocateTestBuffer(&size);
        if (!address)
            return Alloc::Failed;
        m_chunks[m_numChunks].address = static_cast<unsigned char*>(address);
        m_chunks[m_numChunks].size = size;
        ++m_numChunks;
    }
    return Alloc::Done;
}

void* CTest_Mem::AllocateTestBuffer(unsigned long long* size)
{
    return AllocLockedMem(*size);
}

void* CTest_Mem::AllocLockedMem(unsigned long long size)
{
    char text[160]; // wrapped into the line below
    char line[CLogger::kLineSize + 64];
    void* block = std::malloc(static_cast<std::size_t>(size));
    if (!block) {
        const int err = errno;
        std::snprintf(text, sizeof text, "malloc fail, Size: %llu, Err: %d, %s", size, err, std::strerror(err));
        std::snprintf(line, sizeof line, "Error memory allocation - %s\n", text);
        logLine(line);
        DPrintf("%s", line);
        return nullptr;
    }

    std::uint64_t page = m_live.pageSize.load();
    if (page == 0) {
        const long p = sysconf(_SC_PAGE_SIZE);
        page = p > 0 ? static_cast<std::uint64_t>(p) : 4096;
    }
    const auto at = reinterpret_cast<std::uintptr_t>(block);
    // Huge pages where the kernel offers them: one fault per 2 MiB when
    // locking, fewer TLB misses in the passes, a far quicker release.
    const std::uintptr_t hugeStart = (at + kHugePage - 1) / kHugePage * kHugePage;
    const std::uintptr_t hugeEnd = (at + size) / kHugePage * kHugePage;
    if (hugeEnd > hugeStart)
        madvise(reinterpret_cast<void*>(hugeStart), hugeEnd - hugeStart, MADV_HUGEPAGE);
    const std::uintptr_t start = m_pageAlign ? at - at % page : at;
    const unsigned long long length = size + (at - start);
    void* lockAt = reinterpret_cast<void*>(start);

    if (mlock(lockAt, static_cast<std::size_t>(length)) == 0) {
        std::snprintf(text, sizeof text, "mlock success -> Address: %p, Size: %llu", lockAt, length);
        std::snprintf(line, sizeof line, "Success memory locking - %s\n", text);
        logLine(line);
        DPrintf("%s", line);
        return block;
    }
    const int err = errno;
    std::snprintf(line, sizeof line, "Error memory locking -> Address: %p, Size: %llu, Error: %s\n", lockAt, length,
        mlockErrorText(err));
    logLine(line);
    DPrintf("%s", line);
    std::free(block);
    return nullptr;
}

int CTest_Mem::FreeTestBuffer(void* address, unsigned long long size)
{
    return FreeLockedMem(address, size);
}

int CTest_Mem::FreeLockedMem(void* address, unsigned long long size)
{
    char line[CLogger::kLineSize + 64];
    const int rc = unlockAndFree(address, size, line, sizeof line);
    logLine(line);
    return rc;
}

void CTest_Mem::FreeChunks()
{
    for (std::uint32_t i = 0; i < m_numChunks; ++i)
        FreeTestBuffer(m_chunks[i].address, m_chunks[i].size);
    m_numChunks = 0;
}

void CTest_Mem::ReleaseChunksInBackground()
{
    if (m_numChunks == 0)
        return;
    std::vector<Chunk> chunks(m_chunks, m_chunks + m_numChunks);
    m_numChunks = 0;
    Run& run = m_ctx.run;
    const int slot = m_testID;
    const unsigned generation = slotGeneration();
    // Taken before the test thread leaves, so no Start finds the slot free
    // in between.
    run.holdSlot(slot, generation);
    std::thread([&run, slot, generation, chunks = std::move(chunks), hook = settings().releaseHook,
                    name = std::string(m_testName)] {
        for (const Chunk& c : chunks) {
            char line[CLogger::kLineSize + 64];
            unlockAndFree(c.address, c.size, line, sizeof line);
            if (gLogger && generation == run.generation(slot))
                gLogger->AddLine(line, -1, 0, name.c_str(), 3);
            if (hook)
                hook(c.size);
        }
        run.releaseSlot(slot, generation);
    }).detach();
}

int CTest_Mem::RunPass()
{
    int result = 0;
    const bool testing = relaxedLoad(testconfig.memory_test_flag) == 0;
    const std::uint64_t total = m_live.testRam.load();
    if (testing) {
        for (std::uint32_t i = 0; i < m_numChunks; ++i)
            TestStdMem(m_chunks[i].address, m_chunks[i].size, i, total, 1);
        for (std::uint32_t i = 0; i < m_numChunks && result == 0; ++i)
            result = TestStdMem(m_chunks[i].address, m_chunks[i].size, i, total, 2);
    }
    m_live.bufferPattern = (m_live.bufferPattern.load() + 1) % NumPatterns;
    CountCycle();
    if (result != 0)
        pauseIfActive(settings().afterMismatchMs);
    if (m_live.error.exchange(0) != 0) {
        raiseError(m_live.lastError.load());
        pauseIfActive(settings().afterErrorMs);
    }
    if (!testing || total == 0)
        pauseIfActive(kSkippedPassPauseMs);
    return result;
}

int CTest_Mem::TestStdMem(
    void* address, unsigned long long size, unsigned long long chunkIndex, unsigned long long totalSize, int mode)
{
    if (mode != 1 && mode != 2)
        return 0;
    char line[CLogger::kLineSize];
    std::snprintf(line, sizeof line, "%s Buffer Pattern: %s, Start Address: %p, Size: %llu\n",
        mode == 1 ? "Write" : "Verify", PatternText[m_live.bufferPattern.load() % NumPatterns], address, size);
    logLine(line);
    m_live.status = mode;
    if (chunkIndex == 0)
        m_live.progress = 0;
    auto* bytes = static_cast<unsigned char*>(address);
    const int rc = mode == 1 ? test_mem_writemem(bytes, size, chunkIndex, totalSize)
                             : test_mem_verifymem(bytes, size, chunkIndex, totalSize);
    if (const auto& hook = settings().chunkHook)
        hook(mode, chunkIndex, bytes, size);
    // The duty cycle's pause, sized by the time of the pass.
    Pace(m_pacer);
    return rc;
}

void CTest_Mem::fillPatternBlock(unsigned char first)
{
    const bool sequence = m_live.bufferPattern.load() == 0;
    for (std::size_t i = 0; i < sizeof m_pattern; ++i)
        m_pattern[i] = sequence ? static_cast<unsigned char>(first + i) : first;
}

void CTest_Mem::updateProgress(std::uint64_t chunkIndex, std::uint64_t done, std::uint64_t totalSize)
{
    if (totalSize == 0)
        return;
    const float part = static_cast<float>(chunkIndex * m_chunkSize + done);
    const float percent = part / static_cast<float>(totalSize) * 100.0f;
    m_live.progress = percent >= 100.0f ? 100 : static_cast<std::int32_t>(percent);
}

// The byte loops keep the per-byte loop's observable points: a sample line
// and a stop check every 204,800 bytes, progress and counts as bytes are
// done, and below duty 100 the duty cycle's pause, sized by the time of the
// work since the last. Between those points whole blocks are filled or
// compared at once. When no sample lines are wanted a block is a whole
// chunk, seen by the run at its end: memset in 204,800-byte blocks reaches
// only about 80 % of one memset over the chunk, and in 16 MB blocks 87 %,
// on the development machine.
std::uint64_t CTest_Mem::blockBytes(bool samples)
{
    return samples ? kCheckpointBytes : kQuietBlockBytes;
}

int CTest_Mem::test_mem_writemem(
    unsigned char* address, unsigned long long size, unsigned long long chunkIndex, unsigned long long totalSize)
{
    const int pattern = m_live.bufferPattern.load();
    const unsigned char first = GetBytePattern_mem(static_cast<int>(relaxedLoad(resultfile.results[m_testID].cycles)));
    fillPatternBlock(first);
    const bool samples = sampleLinesWanted();
    const std::uint64_t block = blockBytes(samples);

    std::uint64_t j = 0;
    while (j < size) {
        const std::uint64_t end = std::min<std::uint64_t>(size, nextMultiple(j, block));
        if (j % kCheckpointBytes == 0) {
            if (samples) {
                char line[CLogger::kLineSize];
                const unsigned char b = m_pattern[0];
                if (pattern == 0)
                    std::snprintf(line, sizeof line, "Write sequential byte %d to memory at %p\n", b,
                        static_cast<void*>(address + j));
                else
                    std::snprintf(line, sizeof line, "Write non-sequential byte %x to memory at %p\n", b,
                        static_cast<void*>(address + j));
                logLine(line, 4);
            }
            if (!Active())
                return 0;
        }
        const std::uint64_t len = end - j;
        if (pattern == 0)
            fillPeriodic(address + j, len, m_pattern);
        else
            std::memset(address + j, first, len);
        updateProgress(chunkIndex, end, totalSize);
        m_live.opcountWrite.fetch_add(len, std::memory_order_relaxed);
        CountOperations(len);
        Pace(m_pacer);
        j = end;
    }
    return 0;
}

int CTest_Mem::test_mem_verifymem(
    unsigned char* address, unsigned long long size, unsigned long long chunkIndex, unsigned long long totalSize)
{
    const unsigned char first = GetBytePattern_mem(static_cast<int>(relaxedLoad(resultfile.results[m_testID].cycles)));
    fillPatternBlock(first);
    const bool samples = sampleLinesWanted();
    const std::uint64_t block = blockBytes(samples);

    std::uint64_t j = 0;
    while (j < size) {
        const std::uint64_t end = std::min<std::uint64_t>(size, nextMultiple(j, block));
        if (j % kCheckpointBytes == 0) {
            if (samples) {
                char line[CLogger::kLineSize];
                std::snprintf(line, sizeof line, "Address %p, Read: %x, Expected: %x\n",
                    static_cast<void*>(address + j), address[j], m_pattern[0]);
                logLine(line, 4);
            }
            if (!Active())
                return 0;
        }
        const std::uint64_t len = end - j;
        const std::uint64_t i
            = matchesPeriodic(address + j, len, m_pattern) ? len : firstMismatch(address + j, len, m_pattern);
        if (i != len) {
            const std::uint64_t at = j + i;
            m_live.error = 1;
            m_live.lastError = kMemoryErrorVerify;
            char line[CLogger::kLineSize];
            std::snprintf(line, sizeof line, "Virtual Offset: %p Read: %d Expected %d",
                static_cast<void*>(address + at), static_cast<int>(static_cast<signed char>(address[at])),
                static_cast<int>(static_cast<signed char>(m_pattern[i % sizeof m_pattern])));
            if (gLogger)
                gLogger->AddLine(line, -1, 0, nullptr, 3);
            // The bytes before the bad one were verified.
            updateProgress(chunkIndex, at, totalSize);
            m_live.opcountRead.fetch_add(i, std::memory_order_relaxed);
            CountOperations(i);
            return kMemoryErrorVerify;
        }
        updateProgress(chunkIndex, end, totalSize);
        m_live.opcountRead.fetch_add(len, std::memory_order_relaxed);
        CountOperations(len);
        Pace(m_pacer);
        j = end;
    }
    return 0;
}

std::uint64_t CTest_Mem::LimitFromEnvironment(std::uint64_t limit, const char* value)
{
    if (!value || !*value)
        return limit;
    char* end = nullptr;
    errno = 0;
    const unsigned long long mib = std::strtoull(value, &end, 10);
    // Only a whole, positive number of MiB counts, and it can only lower.
    if (errno != 0 || *end != '\0' || mib == 0 || value[0] == '-' || mib > limit / (1024 * 1024))
        return limit;
    return mib * 1024 * 1024;
}

void* Test_Thread_Mem(void* arg)
{
    return RunTestThread(static_cast<TestThreadRecord*>(arg), "Test_Thread_Mem",
        [](const RunContext& ctx, int, int slot) -> std::unique_ptr<CTest_Base> {
            return std::make_unique<CTest_Mem>(ctx, slot);
        });
}

namespace {
constexpr int kMemoryErrors[] = { kMemoryErrorVerify, kMemoryErrorAllocation, kMemoryErrorNotRoot };
} // namespace

extern const EngineInfo kMemoryEngine = {
    .name = "Memory (RAM)",
    .firstSlot = kSlotMemory,
    .units = 1,
    .switchSlot = -1,
    .stopLimitMs = 1000,
    .unitName = "buffer",
    .unitText = nullptr,
    .preRunNote = nullptr,
    .window = LiveWindowKind::Memory,
    .icon = ":/icons/memory.png",
    .entry = Test_Thread_Mem,
    .makeLive = []() -> std::unique_ptr<LiveStatus> { return std::make_unique<MemoryLive>(); },
    .errorCodes = kMemoryErrors,
    .commandName = "memory",
    .missingPrivilege = [] { return HavePrivilege(Privilege::LockMemory) ? nullptr : "needs root or CAP_IPC_LOCK"; },
};
