// The memory test (slot 3): takes most of the free RAM in chunks of at most
// 128 MiB, locks them into RAM and writes and verifies one of five byte
// patterns over all of them per cycle, throttled by the slot's duty cycle.
//
// Typical usage:
//   1. The run controller (GUI thread) starts Test_Thread_Mem on
//      gThreadData[3]; it creates a CTest_Mem and runs test_entry.
//   2. th_test_mem waits out the start, checks for the superuser (error 203
//      and idle without), sizes the buffer from the free RAM, allocates and
//      locks the chunks (a second try sized by the free high memory; error 96
//      and idle when that fails too), then runs passes until the slot is
//      stopped: write every chunk, verify them up to the first mismatch
//      (error 30, reported at the end of the pass), next pattern, one cycle.
//   3. The controller asks for a stop by clearing thread_active[3]. The byte
//      loops see it at their next checkpoint (every 204,800 bytes, or at the
//      chunk's end when no sample lines are wanted), the remaining
//      chunks of the pass return at once, the pass still counts, and the
//      chunks go to a releasing thread, which the next Start of the slot
//      waits for. A stop request during the allocation is seen between two
//      chunks; throttle and chunk pauses are skipped once it has come.
//
// Threadsafety: one engine and one test thread at a time. The slot's
// MemoryLive is what the memory window reads from the GUI thread while the
// test writes it; each value is a std::atomic. The chunks and the pattern
// block belong to the test thread.
#pragma once

#include "RunContext.h"

#include "CTest_Base.h"
#include "DutyPacer.h"

#include "LiveStatus.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <sys/sysinfo.h>

// The codes the memory test raises.
enum MemoryError : int {
    kMemoryErrorVerify = 30, // a verified byte differs
    kMemoryErrorAllocation = 96, // the retry could not allocate or lock a chunk
    kMemoryErrorNotRoot = 203,
};

// The live values of the memory slot: written by its test, read by the
// memory window.
struct MemoryLive : LiveStatus {
    std::atomic<std::int32_t> bufferPattern { 0 }; // index into CTest_Mem::PatternText
    std::atomic<std::int32_t> status { 0 }; // 0 starting, 1 writing, 2 verifying
    std::atomic<std::int32_t> progress { 0 }; // percent of the buffer done in this phase
    std::atomic<std::uint64_t> opcountWrite { 0 }; // bytes written by this engine
    std::atomic<std::uint64_t> opcountRead { 0 }; // bytes verified by this engine
    std::atomic<std::int32_t> error { 0 }; // an error waits to be reported
    std::atomic<std::int32_t> lastError { 0 }; // its code
    std::atomic<std::uint64_t> totalPhysicalRam { 0 };
    std::atomic<std::uint64_t> freePhysicalRam { 0 }; // as the test read it when sizing
    std::atomic<std::uint64_t> freeHighRam { 0 }; // free high memory, or the free RAM without any
    std::atomic<std::uint32_t> pageSize { 0 };
    std::atomic<std::uint64_t> testRam { 0 }; // bytes in all chunks
    std::atomic<std::uint64_t> maxTestRamSize { 0 }; // upper limit of testRam
};

struct MemorySettings;

class CTest_Mem : public CTest_Base {
public:
    static constexpr int NumPatterns = 5;
    static constexpr int kMaxChunks = 256;
    static constexpr std::uint64_t SIZE_PER_CHUNK = 134217728; // 128 MiB
    static constexpr std::uint64_t kDefaultMaxTestRam = 34359738368ull; // 32 GiB
    // Bytes between two checkpoints (sample line, stop check, duty pause)
    // of a byte loop.
    static constexpr std::uint64_t kCheckpointBytes = 204800;
    // The byte loops' block when no sample lines are wanted: a whole chunk,
    // some 6 ms of writing, far within the stop limit.
    static constexpr std::uint64_t kQuietBlockBytes = 656 * kCheckpointBytes;
    static constexpr int kStartWaitMs = 2000;

    // Pattern names by MemoryLive::bufferPattern, and status texts by
    // MemoryLive::status.
    static const char* const PatternText[NumPatterns];
    static const char* const status_text[4];

    // The share of the free RAM `freeRam` the test takes: 0.6 below 256 MiB,
    // 0.7 below 512 MiB, 0.8 below 1 GiB, 0.9 below 2 GiB, 0.8 below 4 GiB,
    // 0.7 from 4 GiB. Any thread.
    static float FractionFor(std::uint64_t freeRam);
    // freeRam x fraction in single precision, truncated. Any thread.
    static std::uint64_t TestRamFor(std::uint64_t freeRam, float fraction);
    // Splits `testRam` into chunks of `chunkSize` with the remainder last,
    // at most kMaxChunks of them (a testRam of 0 is one chunk of 0 bytes).
    // Writes the sizes to `sizes` and returns the count; `truncated` tells
    // whether bytes were left over. Any thread.
    static int PlanChunks(
        std::uint64_t testRam, std::uint64_t chunkSize, std::uint64_t sizes[kMaxChunks], bool* truncated);

    // Resets the slot's live values for a new test. Test thread.
    CTest_Mem(const RunContext& ctx, int testID);
    // Releases any chunk still held.
    ~CTest_Mem() override;

    // Counts the test as running, marks the slot active, runs th_test_mem.
    // The memory test has no unit index; `instance` is ignored.
    void test_entry(int instance) override;
    // The test, from the start wait to "Stopping test".
    void th_test_mem();

    // Allocates and locks one chunk of `*size` bytes; null on failure.
    void* AllocateTestBuffer(unsigned long long* size);
    void* AllocLockedMem(unsigned long long size);
    // Unlocks and releases one chunk. Returns 0, the system error number,
    // or -1 for an error without a text of its own. The block is released
    // even when the unlock fails.
    int FreeTestBuffer(void* address, unsigned long long size);
    int FreeLockedMem(void* address, unsigned long long size);

    // Writes (mode 1) or verifies (mode 2) chunk `chunkIndex` of a buffer of
    // `totalSize` bytes with the current pattern, then pauses for the duty cycle.
    // Returns 0, or 30 for a verify mismatch; other modes do nothing.
    int TestStdMem(
        void* address, unsigned long long size, unsigned long long chunkIndex, unsigned long long totalSize, int mode);
    int test_mem_writemem(
        unsigned char* address, unsigned long long size, unsigned long long chunkIndex, unsigned long long totalSize);
    int test_mem_verifymem(
        unsigned char* address, unsigned long long size, unsigned long long chunkIndex, unsigned long long totalSize);
    // The first byte of the current pattern; for pattern 0, cycles mod 256.
    unsigned char GetBytePattern_mem(int cycles) const;

    // Reads the memory statistics and the page size, then sizes, allocates
    // and locks the test buffer, with the second try on the free high
    // memory. Raises error 96, idles until stopped and returns false when
    // both tries fail; returns false without an error when the slot is
    // stopped while it allocates. Test thread.
    bool AllocateChunks();
    // One pass: write, verify, next pattern, one cycle, report a pending
    // error. Returns the verify result. Test thread.
    int RunPass();
    // Unlocks and releases every chunk. Test thread.
    void FreeChunks();
    // Hands every chunk to a thread of its own that unlocks and releases
    // them, and returns at once: tens of GiB take seconds to release. Until
    // it is done the slot counts as held (Run::holdSlot), so the next Start
    // waits for it; it logs nothing once a later run has the slot. Test
    // thread.
    void ReleaseChunksInBackground();
    int numChunks() const { return static_cast<int>(m_numChunks); }
    unsigned char* chunkAddress(int i) const { return m_chunks[i].address; }
    std::uint64_t chunkSize(int i) const { return m_chunks[i].size; }

    // The environment variable that lowers the size limit, in MiB: a machine
    // that must keep memory for other work, and the program's own tests.
    static constexpr const char* kLimitVariable = "_KVX_MAX_TEST_RAM_MB_";
    // `limit`, or the lower limit `value` asks for. Any thread.
    static std::uint64_t LimitFromEnvironment(std::uint64_t limit, const char* value);

private:
    struct Chunk {
        unsigned char* address = nullptr;
        std::uint64_t size = 0;
    };
    enum class Alloc { Done, Failed, Stopped };

    void readMemoryStatus();
    Alloc sizeAndAllocate(std::uint64_t freeRam, float fraction, const char* ramKind);
    void idleUntilStopped();
    void logLine(const char* text, int level = 3);
    void raiseError(int code);
    void pauseIfActive(int ms);
    // How many bytes a byte loop fills or compares between two looks at the run.
    static std::uint64_t blockBytes(bool samples);
    // Fills m_pattern for one byte loop whose first byte is `first`.
    void fillPatternBlock(unsigned char first);
    void updateProgress(std::uint64_t chunkIndex, std::uint64_t done, std::uint64_t totalSize);

    const MemorySettings& settings() const;

    MemoryLive& m_live;
    // The duty cycle's pauses, sized by the time of the passes.
    DutyPacer m_pacer;
    std::uint32_t m_numChunks = 0;
    std::uint32_t m_plannedChunks = 0;
    // The chunk size the buffer was planned with; the progress of the passes
    // counts in it.
    std::uint64_t m_chunkSize = 0;
    Chunk m_chunks[kMaxChunks];
    bool m_pageAlign = false;
    // One 256-byte period of the pattern from a block's first byte; every
    // block starts a period.
    alignas(64) unsigned char m_pattern[256];
};

// The memory engine's settings; the program keeps the defaults (the limit
// still follows CTest_Mem::kLimitVariable).
struct MemorySettings {
    // Limit of the test buffer and chunk size.
    std::uint64_t maxTestRam = CTest_Mem::kDefaultMaxTestRam;
    std::uint64_t chunkSize = CTest_Mem::SIZE_PER_CHUNK;
    // The fixed waits, in ms.
    int startWaitMs = CTest_Mem::kStartWaitMs;
    int afterAllocationMs = 100; // after the chunks are allocated
    // The clock the duty cycle's pauses are measured by; empty: the steady
    // clock. Tests make the work look long to put a pause at a checkpoint.
    DutyPacer::Clock pacerClock;
    int afterMismatchMs = 1000; // after a pass whose verify failed
    int afterErrorMs = 3000; // after a pass that reported an error
    int idleStepMs = 10000; // while idling after an error
    // Tests only: replaces the sysinfo call; called on the test thread after
    // each chunk's byte loop (mode 1 or 2).
    std::function<int(struct sysinfo*)> memoryStatus;
    std::function<void(int mode, std::uint64_t chunkIndex, unsigned char* address, std::uint64_t size)> chunkHook;
    // Tests and benchmarks only: called on the releasing thread after each
    // chunk of a background release (to make it as slow as a larger one).
    std::function<void(std::uint64_t size)> releaseHook;
};

// Thread entry of slot 3 (ChildProc). `arg` is the slot's TestThreadRecord.
void* Test_Thread_Mem(void* arg);
