// The disk test (slots 6..25, one thread per unit): each cycle writes one
// pattern file on the unit's file system, reads it back and compares every
// byte, optionally rewrites and re-verifies random blocks of it, and deletes
// the unit's files once the free space falls to a reserve.
//
// Typical usage:
//   1. The run controller (GUI thread) starts Test_Thread_Disk for the slot;
//      the unit number is the record's instance (slot - 6).
//   2. Test_Thread_Disk runs RunTestThread with a CTest_Disk(unit, slot);
//      test_entry(unit) marks the slot active and runs th_test_harddisk:
//      StartUp() (buffers, free space, file size), then RunCycle() while the
//      slot is active, then ShutDown() (deletes the unit's files).
//   3. The controller asks for a stop by clearing thread_active[slot]; the
//      test leaves at its next check (one block in a file pass, one 100 ms
//      slice in a pause), deletes its files and ends.
//   Tests call StartUp, RunCycle, the file passes and ShutDown directly.
//
// Threadsafety: an engine is used by its own thread only. Each unit writes
// only its own slot's DiskLive, whose values are atomic; the GUI thread
// reads them at any time. The units share rand().
#pragma once

#include "RunContext.h"

#include "CTest_Base.h"
#include "ConfigRecord.h"
#include "DutyPacer.h"
#include "LiveStatus.h"
#include "LiveTime.h"
#include "SystemInfo.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <sys/time.h>

// The error codes the disk test raises.
enum DiskError : int {
    kDiskErrorAlloc = 11, // a buffer could not be allocated
    kDiskErrorNoSpace = 12, // free space at the reserve before the start
    kDiskErrorCreate = 13, // a file could not be opened for writing
    kDiskErrorWrite = 14,
    kDiskErrorOpen = 15, // a file could not be opened for reading
    kDiskErrorRead = 16,
    kDiskErrorCompare = 17,
    kDiskErrorFullOnOpen = 101, // no space (inode) left for a new file
    kDiskErrorFull = 123, // no space left while writing
    kDiskErrorSeek = 162,
    kDiskErrorNotDetected = 200, // the file system cannot be looked up
    kDiskErrorAccess = 207, // no permission to create a file
    kDiskErrorNoSize = 208, // the file system reports no blocks at all
};
inline constexpr int kDiskErrorCodes[] = { kDiskErrorAlloc, kDiskErrorNoSpace, kDiskErrorCreate, kDiskErrorWrite,
    kDiskErrorOpen, kDiskErrorRead, kDiskErrorCompare, kDiskErrorFullOnOpen, kDiskErrorFull, kDiskErrorSeek,
    kDiskErrorNotDetected, kDiskErrorAccess, kDiskErrorNoSize };

// The live values of one disk unit, for its window. Written by the unit's
// test thread, read by the GUI thread.
struct DiskLive : LiveStatus {
    std::atomic<std::int32_t> BufferPattern { 0 };
    std::atomic<std::int32_t> status_harddisk { 0 };
    std::atomic<std::int32_t> progress_harddisk { 0 };
    // Blocks: the file size N, the file system's total and available.
    std::atomic<std::uint64_t> testfilesize_harddisk { 0 };
    std::atomic<std::uint64_t> userbytes_harddisk { 0 };
    std::atomic<std::uint64_t> userfreebytes_harddisk { 0 };
    // Blocks written and verified by the file passes and by the seeks.
    std::atomic<std::uint64_t> opcount_write { 0 };
    std::atomic<std::uint64_t> opcount_read { 0 };
    std::atomic<std::uint64_t> opcount_seekwrite { 0 };
    std::atomic<std::uint64_t> opcount_seekread { 0 };
    LiveTimeval update_start_time;

    // Back to the values of a unit not yet started. Any thread.
    void clear();
};

// The disk test's own settings; tests shorten the waits and give a mount
// table of their own.
struct DiskSettings {
    // The mount table the units' file systems are looked up in.
    std::string mountTable = "/etc/mtab";
    // Once, before the test starts.
    int startWaitMs = 1000;
    // After a cycle whose error was reported.
    int errorPauseMs = 10000;
};

class CTest_Disk : public CTest_Base {
public:
    static constexpr int NumPatterns = 10;
    static constexpr int kNumRandomBlocks = 7;
    // The idle wait of a unit whose start failed.
    static constexpr int kErrorPauseMs = 10000;
    // Pause between two file system lookups while the file size is still 0.
    static constexpr int kSizeRetryMs = 1000;
    // Pattern-2 first pass; any other mode writes the unit's current pattern.
    static constexpr int kModeHighFreq = 20;
    static constexpr int kModeCurrent = -1;
    static constexpr const char* kFilePrefix = "~kvxtest";
    // The text at the start of block 0 of every file; with its NUL, the
    // bytes the verify skips. Any thread.
    static const std::string& HeaderText();

    enum Pattern : int {
        kPatternCyclic = 0,
        kPatternSequential = 1,
        kPatternHighLow = 2,
        kPatternBinary1 = 3,
        kPatternBinary2 = 4,
        kPatternZeros = 5,
        kPatternOnes = 6,
        kPatternRandom = 7,
        kPatternRandomSeek = 8,
        kPatternButterfly = 9,
    };
    enum Status : int {
        kStatusStarting = 0,
        kStatusWriting = 1,
        kStatusVerifying = 2,
        kStatusDeleting = 3,
        kStatusSleeping = 4,
        kStatusSeeking = 5,
        kStatusWritingHigh = 6,
        kStatusWritingLow = 7,
        kStatusButterfly = 8,
    };

    static const char* const PatternText[NumPatterns];
    static const char* const PatternTextAbbrev[NumPatterns];
    static const char* const status_text[10];

    // Builds the name "Disk: <alias>", copies the unit's file system record,
    // clears the slot's live values and reads the unit's block counts. Test
    // thread.
    CTest_Disk(const RunContext& ctx, int unit, int testID);

    // Counts the test as running, marks the slot active, runs
    // th_test_harddisk. Test thread.
    void test_entry(int unit) override;
    // The whole test of `unit`: start, cycles until stopped, stop.
    void th_test_harddisk(int unit);

    // Buffers, pattern, reserve, free space and file size. Returns false
    // after a start failure, which it has reported. Test thread.
    bool StartUp();
    // One cycle: write, verify, seek, delete at the reserve, next pattern,
    // count, report a pending error. Test thread.
    void RunCycle();
    // Reports an error still pending, deletes the unit's files (except in
    // butterfly mode), releases the buffers, logs "Stopping test". Test
    // thread.
    void ShutDown();

    // The file passes. Each returns 0 or the error code it raised itself,
    // which is also left pending for the cycle. Test thread, after StartUp.
    int test_harddisk_writefile(const char* name, std::uint64_t N, int mode);
    int test_harddisk_verifyfile(const char* name, int fileNumber, int firstFileNumber, std::uint64_t N);
    // Up to disk_seek_count rewrites or re-verifies of random blocks of the
    // file `fileNumber`.
    int WanderAroundTheDisk(int firstFileNumber, int fileNumber, std::uint64_t N);
    // One write or verify of a file: shown as `status` with its progress
    // from 0, then shown sleeping for the duty cycle's pause. False when a
    // stop came.
    bool filePhase(int status, const std::function<void()>& step);
    // Moves `f` to `block`; on failure logs, raises kDiskErrorSeek, closes `f`
    // and returns it.
    int seekToBlock(FILE* f, const char* name, std::uint64_t block, const char* caller);
    int test_harddisk_writeblock(const char* name, std::uint64_t block);
    int test_harddisk_verifyblock(
        const char* name, int fileNumber, int firstFileNumber, std::uint64_t N, std::uint64_t block);
    // Removes the unit's files from `firstFileNumber` on: every number up to
    // `lastFileNumber` (gaps passed over), then on while files exist.
    void test_harddisk_delete(int unit, int firstFileNumber, int lastFileNumber);

    // The byte at `offset` of a block of the unit's current pattern (mode
    // kModeCurrent) or of the high-frequency pass (kModeHighFreq). Any
    // thread.
    int GetBytePattern_disk(int offset, int cycle, int mode) const;
    // True for the patterns written from random data blocks (7 and 8).
    bool RandomDataBlockNeeded() const;
    bool AllocRandomDataBlocks();
    void FillBlocksWithNewRandomData();
    void DeallocRandomDataBlocks();

    // Counts, classifies and logs error `code` of the unit.
    void AddStdDiskErrorMsg(int code, char pathInitial, int unit);
    // fseeko; returns 0 or the system error number.
    static int myFileSeek(FILE* file, unsigned long offset, int whence);

    // The file size N in blocks for a file system of `totalBlocks` blocks of
    // `blockSize` bytes and a size of `pct` percent, clamped to 32 KiB ..
    // 2 GiB; 0 while the percentage gives no block at all. Files hold N - 1
    // blocks. Any thread.
    static std::uint64_t DiskFileBlocks(std::uint64_t totalBlocks, double pct, std::uint64_t blockSize);
    // The free space reserve in percent for a file size of `pct` percent.
    static double DiskReservePercent(double pct);
    // True when `availBlocks` has fallen to the reserve.
    static bool ReserveReached(std::uint64_t availBlocks, std::uint64_t totalBlocks, double reservePct);
    // The pattern cyclic mode runs after `pattern`: 1, 2, ..., 8, 1, ...
    static int NextCyclicPattern(int pattern);

    // The name of file `number` of `unit`: in the mount point, or in the
    // working directory for unit 0.
    static std::string FileName(int unit, const char* mountPoint, int number);
    std::string FileName(int number) const { return FileName(m_unit, m_fs.mount_point, number); }

    int unit() const { return m_unit; }
    int fileNumber() const { return m_fileNumber; }
    int firstFileNumber() const { return m_firstFileNumber; }
    std::uint64_t fileBlocks() const { return m_N; }
    std::uint64_t blockSize() const { return m_blockSize; }
    int pendingError() const { return m_errorFlag ? m_errorCode : 0; }

    // The slot's live values.
    DiskLive& live() const { return m_live; }

private:
    struct FreeDeleter {
        void operator()(unsigned char* p) const;
    };
    using Block = std::unique_ptr<unsigned char, FreeDeleter>;
    static Block allocBlock(std::size_t size);

    void raise(int code);
    void reportNow(int code);
    int duty() const;
    // The duty cycle's pauses, sized by the time of the blocks and phases.
    DutyPacer m_pacer { 100 };
    int cycle() const;
    // Available and total blocks of the file system the unit's files go to
    // (unit 0: the working directory's). Returns 0, or what the failed
    // lookup returned.
    int lookUp(std::uint64_t* avail, std::uint64_t* total);
    // Where lookUp measures, for the log.
    std::string spacePlace() const;
    // lookUp, also into the unit's live values. A failure is logged and
    // raised (unless an error is pending) and leaves the live values as they
    // were; false then.
    bool measureSpace(std::uint64_t& avail, std::uint64_t& total);
    // Fills m_writeBuf with the pattern of `mode` for the cycle.
    void fillPatternBlock(int mode);
    // The block-0 data: `data` with the header over its first bytes.
    const unsigned char* withHeader(const unsigned char* data);
    std::size_t headerBytes() const;
    // Per-block bookkeeping shared by both file passes.
    void afterBlock(std::uint64_t b, std::uint64_t N, std::atomic<std::uint64_t>& opcount);
    // Opens `name` without following a link and only if it is a regular
    // file; `flags` as for open(2). Null with errno set on failure.
    static FILE* openStream(const char* name, int flags, const char* mode);
    // Closes and logs; a failed close of a file written raises
    // kDiskErrorFull or kDiskErrorWrite, which it returns.
    int closeStream(FILE* file, const char* name, bool written);

    int m_unit;
    DiskLive& m_live;
    const DiskSettings m_settings;
    timespec m_retry { 0, 1000 };
    timespec m_retryLeft { 0, 0 };
    std::uint32_t m_randomSizes[kNumRandomBlocks] {};
    FileSystemStruct m_fs {};
    char m_diskPath[256] {};

    std::uint64_t m_blockSize = 0;
    std::uint64_t m_N = 0;
    double m_reserve = 6.0;
    int m_fileNumber = 1;
    int m_firstFileNumber = 1;
    // Highest file number a write was tried for: the stop deletes up to it.
    int m_lastFileNumber = 0;
    int m_errorCode = 0;
    int m_errorFlag = 0;
    int m_randomIndex = 0;
    bool m_started = false;
    unsigned m_seekSeed = 1;

    Block m_readBuf;
    Block m_writeBuf;
    Block m_headerBuf;
    Block m_random[kNumRandomBlocks];
};

// Thread entry of slots 6..25 (ChildProc): the record's instance is the unit.
void* Test_Thread_Disk(void* arg);
