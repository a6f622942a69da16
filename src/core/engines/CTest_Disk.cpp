#include "CTest_Disk.h"

#include "EngineInfo.h"

#include "AtomicField.h"
#include "BuildInfo.h"
#include "CLogger.h"
#include "DebugTrace.h"
#include "MessageBox.h"
#include "ErrorClassification.h"
#include "FileOps.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Run.h"
#include "Startup.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern const EngineInfo kDiskEngine;

namespace {

constexpr int kLogTestDisk = 9; // "Disk" in the event log's test names
constexpr std::uint64_t kMinFileBytes = 32768;
constexpr std::uint64_t kMaxFileBytes = 2147483648ull;
// The block size used for the buffers when the file system cannot tell.
constexpr std::uint64_t kFallbackBlockSize = 4096;
// Checks after an unlink until the name is gone; the kernel removes it at
// once, so this only bounds a wait that must not hang the stop.
constexpr int kDeleteChecks = 1000;

constexpr unsigned char kLowFreq[5] = { 0x08, 0x42, 0x10, 0x84, 0x21 };

unsigned char patternByte(int pattern, std::uint64_t offset, unsigned cycle)
{
    switch (pattern) {
    case CTest_Disk::kPatternSequential:
        return static_cast<unsigned char>((offset + cycle) & 0xFF);
    case CTest_Disk::kPatternHighLow:
        return kLowFreq[offset % 5];
    case CTest_Disk::kPatternBinary1:
        return 0xAA;
    case CTest_Disk::kPatternBinary2:
        return 0x55;
    case CTest_Disk::kPatternZeros:
        return 0x00;
    case CTest_Disk::kPatternOnes:
        return 0xFF;
    default:
        return 0x00;
    }
}

// The first offset from `from` where the blocks differ, or `size`.
std::size_t firstDifference(const unsigned char* a, const unsigned char* b, std::size_t from, std::size_t size)
{
    if (from >= size || std::memcmp(a + from, b + from, size - from) == 0)
        return size;
    for (std::size_t j = from; j < size; ++j)
        if (a[j] != b[j])
            return j;
    return size;
}

bool isRandomPattern(int pattern)
{
    return pattern == CTest_Disk::kPatternRandom || pattern == CTest_Disk::kPatternRandomSeek;
}

int validMode(int mode)
{
    return mode >= 0 && mode < CTest_Disk::NumPatterns ? mode : CTest_Disk::kPatternCyclic;
}

const char* errorText(int code)
{
    return code >= 0 && code < kMaxErrorCodes ? e_strings[code] : "";
}

} // namespace

const std::string& CTest_Disk::HeaderText()
{
    static const std::string text = std::string("KalvexTest (") + kHomePage + ") temp file, this file can be deleted..";
    return text;
}

const char* const CTest_Disk::PatternText[NumPatterns] = {
    "Default (Cyclic)",
    "Sequential data pattern (0,1,2...255)",
    "High Low freq data overwrite (10101 then 00001)",
    "Binary data pattern 1 (10101010)",
    "Binary data pattern 2 (01010101)",
    "Zeros data pattern (00000000)",
    "Ones data pattern (11111111)",
    "Random data pattern",
    "Random data with random seeking",
    "Butterfly seeking",
};

const char* const CTest_Disk::PatternTextAbbrev[NumPatterns] = {
    "Default (Cyclic)",
    "Sequential data pattern",
    "High Low freq overwrite",
    "Binary data pattern 1 (1010)",
    "Binary data pattern 2 (0101)",
    "Zeros data pattern (0000)",
    "Ones data pattern (1111)",
    "Random data pattern",
    "Random data, random seeking",
    "Butterfly seeking",
};

const char* const CTest_Disk::status_text[10] = {
    "Starting",
    "Writing",
    "Verifying",
    "Deleting",
    "Sleeping",
    "Random seeking",
    "Writing High freq. pattern",
    "Writing Low freq. pattern",
    "Butterfly Seeking",
    "Sleeping",
};

void DiskLive::clear()
{
    constexpr auto r = std::memory_order_relaxed;
    BufferPattern.store(0, r);
    status_harddisk.store(0, r);
    progress_harddisk.store(0, r);
    testfilesize_harddisk.store(0, r);
    userbytes_harddisk.store(0, r);
    userfreebytes_harddisk.store(0, r);
    opcount_write.store(0, r);
    opcount_read.store(0, r);
    opcount_seekwrite.store(0, r);
    opcount_seekread.store(0, r);
    update_start_time.clear();
}

// ------------------------------------------------------------------ helpers

void CTest_Disk::FreeDeleter::operator()(unsigned char* p) const
{
    std::free(p);
}

CTest_Disk::Block CTest_Disk::allocBlock(std::size_t size)
{
    // Page-aligned, so the copies to and from the page cache run at full width.
    const std::size_t rounded = (std::max<std::size_t>(size, 1) + 4095) & ~std::size_t { 4095 };
    auto* p = static_cast<unsigned char*>(std::aligned_alloc(4096, rounded));
    if (p)
        std::memset(p, 0, rounded);
    return Block(p);
}

std::uint64_t CTest_Disk::DiskFileBlocks(std::uint64_t totalBlocks, double pct, std::uint64_t blockSize)
{
    if (!std::isfinite(pct) || pct <= 0.0 || blockSize == 0)
        return 0;
    const double n = std::trunc(static_cast<double>(totalBlocks / 100) * pct);
    if (n < 1.0)
        return 0;
    // Anything beyond the upper clamp is the upper clamp; this also keeps
    // the conversion and the byte product in range.
    if (n > static_cast<double>(kMaxFileBytes))
        return kMaxFileBytes / blockSize;
    const auto N = static_cast<std::uint64_t>(n);
    if (N > kMaxFileBytes / blockSize)
        return kMaxFileBytes / blockSize;
    if (N * blockSize < kMinFileBytes)
        return kMinFileBytes / blockSize;
    return N;
}

double CTest_Disk::DiskReservePercent(double pct)
{
    return pct < 6.0 ? 6.0 : pct + 0.5;
}

bool CTest_Disk::ReserveReached(std::uint64_t availBlocks, std::uint64_t totalBlocks, double reservePct)
{
    return static_cast<double>(availBlocks) <= static_cast<double>(totalBlocks / 100) * reservePct;
}

int CTest_Disk::NextCyclicPattern(int pattern)
{
    const int next = pattern + 1;
    return (next < 1 || next == kPatternButterfly || next >= NumPatterns) ? kPatternSequential : next;
}

std::string CTest_Disk::FileName(int unit, const char* mountPoint, int number)
{
    char name[600];
    if (unit == 0)
        std::snprintf(name, sizeof name, "%s%05d.txt", kFilePrefix, number);
    else
        std::snprintf(name, sizeof name, "%s/%s%05d.txt", mountPoint, kFilePrefix, number);
    return name;
}

int CTest_Disk::GetBytePattern_disk(int offset, int cycle, int mode) const
{
    if (mode == kModeHighFreq)
        return 0xAA;
    if (offset < 0)
        return 0;
    return patternByte(m_live.BufferPattern.load(std::memory_order_relaxed), static_cast<std::uint64_t>(offset),
        static_cast<unsigned>(cycle));
}

bool CTest_Disk::RandomDataBlockNeeded() const
{
    return isRandomPattern(m_live.BufferPattern.load(std::memory_order_relaxed));
}

int CTest_Disk::myFileSeek(FILE* file, unsigned long offset, int whence)
{
    return ::fseeko(file, static_cast<off_t>(offset), whence) == 0 ? 0 : errno;
}

void CTest_Disk::raise(int code)
{
    m_errorCode = code;
    m_errorFlag = 1;
}

void CTest_Disk::AddStdDiskErrorMsg(int code, char /*pathInitial*/, int /*unit*/)
{
    _resultinfo& r = resultfile.results[m_testID];
    relaxedStore(r.last_error, static_cast<std::uint32_t>(code));
    relaxedAdd(r.errors, 1u);
    UpdateErrorClassificationResults(m_ctx.results, m_testID, code);
    if (gLogger) {
        char line[512];
        std::snprintf(line, sizeof line, "%s: %s", m_fs.name, errorText(code));
        gLogger->AddLine(line, kLogTestDisk, code, m_testName, 1);
    }
}

void CTest_Disk::reportNow(int code)
{
    LogLine(4, m_testName, "Disk Error (%s:) in Cycle: %s\n", m_diskPath, errorText(code));
    AddStdDiskErrorMsg(code, m_diskPath[0], m_unit);
}

int CTest_Disk::duty() const
{
    const int override = relaxedLoad(testconfig.disk_duty_cycle_override[m_unit]);
    return override > 0 ? ClampDutyCycle(override) : SlotDutyCycle(testconfig, kDiskEngine.switchSlot);
}

int CTest_Disk::cycle() const
{
    return static_cast<int>(relaxedLoad(resultfile.results[m_testID].cycles));
}

int CTest_Disk::lookUp(std::uint64_t* avail, std::uint64_t* total)
{
    // Unit 0 writes in the working directory, wherever that is mounted.
    if (m_unit == 0)
        return FileSystemSpace(".", avail, total, nullptr);
    // By mount point: the device name of tmpfs, overlay and the like is the
    // same for many mounts.
    return GetMountedFileSystemAvailDiskSize(m_fs.mount_point, avail, total, m_settings.mountTable.c_str());
}

std::string CTest_Disk::spacePlace() const
{
    if (m_unit != 0)
        return m_fs.mount_point;
    char cwd[4096];
    return ::getcwd(cwd, sizeof cwd) ? cwd : ".";
}

bool CTest_Disk::measureSpace(std::uint64_t& avail, std::uint64_t& total)
{
    const int rc = lookUp(&avail, &total);
    if (rc == 0) {
        m_live.userfreebytes_harddisk.store(avail);
        m_live.userbytes_harddisk.store(total);
        return true;
    }
    const int e = rc > 0 ? rc : errno;
    std::fprintf(stderr, "GetFileSystemAvailDiskSize: %s\n", std::strerror(e));
    // Not a full disk: the unit's files stay, and the failure is reported
    // unless the cycle has an error of its own to report.
    LogLine(3, m_testName, "*%s* not detected\n", spacePlace().c_str());
    if (!m_errorFlag)
        raise(kDiskErrorNotDetected);
    return false;
}

std::size_t CTest_Disk::headerBytes() const
{
    return std::min<std::size_t>(HeaderText().size() + 1, m_blockSize);
}

const unsigned char* CTest_Disk::withHeader(const unsigned char* data)
{
    std::memcpy(m_headerBuf.get(), data, m_blockSize);
    std::memcpy(m_headerBuf.get(), HeaderText().c_str(), headerBytes());
    return m_headerBuf.get();
}

void CTest_Disk::fillPatternBlock(int mode)
{
    // Every block of a file holds the same bytes (the offset within the
    // block and the cycle decide them), so one block serves the whole file.
    const int pattern = mode == kModeHighFreq ? kPatternBinary1 : m_live.BufferPattern.load();
    const auto c = static_cast<unsigned>(cycle());
    unsigned char* buf = m_writeBuf.get();
    for (std::uint64_t j = 0; j < m_blockSize; ++j)
        buf[j] = patternByte(pattern, j, c);
}

void CTest_Disk::afterBlock(std::uint64_t b, std::uint64_t N, std::atomic<std::uint64_t>& opcount)
{
    m_live.progress_harddisk.store(static_cast<std::int32_t>((b + 1) * 100 / (N + 1)), std::memory_order_relaxed);
    opcount.fetch_add(1, std::memory_order_relaxed);
    CountOperations(1);
    Pace(m_pacer);
}

FILE* CTest_Disk::openStream(const char* name, int flags, const char* mode)
{
    // Mount points such as /media/... may be writable by anyone: a link or a
    // FIFO planted at the next file name must neither be followed nor hang
    // the open.
    const int fd = ::open(name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    struct stat st { };
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        err = errno;
    FILE* f = err ? nullptr : ::fdopen(fd, mode);
    if (!f) {
        if (!err)
            err = errno;
        ::close(fd);
        errno = err;
    }
    return f;
}

int CTest_Disk::closeStream(FILE* file, const char* name, bool written)
{
    if (std::fclose(file) == 0) {
        LogLine(4, m_testName, "%s[%d]: Successfully fclose(%s)", __func__, __LINE__, name);
        return 0;
    }
    const int e = errno;
    LogLine(
        4, m_testName, "%s[%d]: Failed to fclose(%s), strerror(%d): %s", __func__, __LINE__, name, e, std::strerror(e));
    // Data still buffered at the close never reached the file.
    if (!written)
        return 0;
    const int code = e == ENOSPC ? kDiskErrorFull : kDiskErrorWrite;
    raise(code);
    return code;
}

// ------------------------------------------------------------------ engine

CTest_Disk::CTest_Disk(const RunContext& ctx, int unit, int testID)
    : CTest_Base(ctx, testID, kSliceDefault)
    , m_unit(unit)
    , m_live(ctx.run.live<DiskLive>(testID))
    , m_settings(ctx.settings<DiskSettings>())
{
    const bool valid = unit >= 0 && unit < kNumDisks;
    if (valid)
        std::memcpy(&m_fs, &gFileSystemStructPtr[unit], sizeof m_fs);
    m_fs.alias[sizeof m_fs.alias - 1] = m_fs.name[sizeof m_fs.name - 1] = '\0';
    m_fs.mount_point[sizeof m_fs.mount_point - 1] = '\0';
    const char* slotName = testID >= 0 && testID < kNumNamedSlots ? SlotName(testID) : "Disk";
    // A long alias is cut to the name's size.
    const std::string testName = std::string(slotName) + ": " + m_fs.alias;
    std::snprintf(m_testName, sizeof m_testName, "%s", testName.c_str());

    m_live.clear();
    m_retry = { 0, 1000 };
    if (valid) {
        std::uint64_t avail = 0, total = 0;
        lookUp(&avail, &total);
        m_live.userfreebytes_harddisk.store(avail, std::memory_order_relaxed);
        m_live.userbytes_harddisk.store(total, std::memory_order_relaxed);
    }
}

void CTest_Disk::test_entry(int unit)
{
    if (unit != m_unit || unit < 0 || unit >= kNumDisks) {
        DPrintf("%s, %s[%d]: no disk unit %d\n", KVX_WHERE, unit);
        return;
    }
    MarkRunning();
    th_test_harddisk(unit);
}

void CTest_Disk::th_test_harddisk(int unit)
{
    DPrintf("%s, %s[%d]: %s (unit %d) starts\n", KVX_WHERE, m_testName, unit);
    WaitOnGlobal(m_settings.startWaitMs);
    timeval now {};
    gettimeofday(&now, nullptr);
    m_ctx.run.modules[m_testID].start_time = now;
    m_live.update_start_time.store(now);
    LogLine(3, m_testName, "Starting test\n");

    if (StartUp()) {
        while (Active())
            RunCycle();
    } else {
        while (Active())
            WaitMsecs(kErrorPauseMs);
    }
    ShutDown();
}

bool CTest_Disk::AllocRandomDataBlocks()
{
    for (int k = 0; k < kNumRandomBlocks; ++k) {
        m_random[k] = allocBlock(m_blockSize);
        if (!m_random[k]) {
            const int e = errno;
            LogLine(3, m_testName, "Random data buffer of (%lu bytes ) could not be allocated. ErrorCode %ld: %s",
                static_cast<unsigned long>(m_blockSize), static_cast<long>(e), std::strerror(e));
            DeallocRandomDataBlocks();
            return false;
        }
        m_randomSizes[k] = static_cast<std::uint32_t>(m_blockSize);
        LogLine(3, m_testName, "%s[%d]: Random Block #%d of size %lu created.", __func__, __LINE__, k,
            static_cast<unsigned long>(m_blockSize));
    }
    LogLine(3, m_testName, "%s[%d]: Random buffer (%d x %lu bytes) allocated.", __func__, __LINE__, kNumRandomBlocks,
        static_cast<unsigned long>(m_blockSize));
    return true;
}

void CTest_Disk::FillBlocksWithNewRandomData()
{
    for (int k = 0; k < kNumRandomBlocks; ++k) {
        unsigned char* p = m_random[k].get();
        if (!p)
            continue;
        for (std::uint64_t j = 0; j < m_blockSize; ++j)
            p[j] = static_cast<unsigned char>(std::rand() & 0xFF);
        LogLine(4, m_testName, "Random Block #%d generated, size of buffer = %lu\n", k,
            static_cast<unsigned long>(m_blockSize));
    }
}

void CTest_Disk::DeallocRandomDataBlocks()
{
    for (int k = 0; k < kNumRandomBlocks; ++k) {
        m_random[k].reset();
        m_randomSizes[k] = 0;
    }
}

bool CTest_Disk::StartUp()
{
    if (m_unit < 0 || m_unit >= kNumDisks)
        return false;
    const int u = m_unit;
    m_live.status_harddisk.store(kStatusStarting);
    const int mode = validMode(relaxedLoad(testconfig.disk_test_mode[u]));
    m_live.BufferPattern.store(mode == kPatternCyclic ? kPatternSequential : mode);
    const double pct = relaxedLoad(testconfig.disk_file_size_pct[u]);
    m_reserve = DiskReservePercent(pct);
    std::snprintf(m_diskPath, sizeof m_diskPath, "%.255s", testconfig.disk_path[u]);
    m_fileNumber = m_firstFileNumber = 1;
    m_lastFileNumber = 0;
    m_errorCode = m_errorFlag = 0;

    // Unit 0's files go to the working directory's file system; the list's
    // figure is empty when it was made while the file system was not mounted.
    m_blockSize = u == 0 ? 0 : m_fs.vfs.f_bsize;
    if (m_blockSize == 0)
        FileSystemSpace(u == 0 ? "." : m_fs.mount_point, nullptr, nullptr, &m_blockSize);
    if (m_blockSize == 0)
        m_blockSize = kFallbackBlockSize;
    LogLine(3, m_testName, "%s[%d]: *%s*: Block size = %lu", __func__, __LINE__, m_fs.name,
        static_cast<unsigned long>(m_blockSize));

    const auto bs = static_cast<unsigned long>(m_blockSize);
    m_readBuf = allocBlock(m_blockSize);
    if (!m_readBuf) {
        const int e = errno;
        LogLine(3, m_testName, "Read buffer of (%lu bytes) could not be allocated. ErrorCode %ld: %s", bs,
            static_cast<long>(e), std::strerror(e));
        reportNow(kDiskErrorAlloc);
        return false;
    }
    LogLine(3, m_testName, "%s[%d]: Read buffer of (%lu bytes) allocated.", __func__, __LINE__, bs);
    m_writeBuf = allocBlock(m_blockSize);
    m_headerBuf = m_writeBuf ? allocBlock(m_blockSize) : nullptr;
    if (!m_writeBuf || !m_headerBuf) {
        const int e = errno;
        LogLine(3, m_testName, "Write buffer of (%lu bytes) could not be allocated. ErrorCode %ld: %s", bs,
            static_cast<long>(e), std::strerror(e));
        reportNow(kDiskErrorAlloc);
        return false;
    }
    LogLine(3, m_testName, "%s[%d]: Write buffer of (%lu bytes) allocated.", __func__, __LINE__, bs);
    if (!AllocRandomDataBlocks()) {
        reportNow(kDiskErrorAlloc);
        return false;
    }

    std::uint64_t avail = 0, total = 0;
    for (;;) {
        if (lookUp(&avail, &total) != 0) {
            LogLine(3, m_testName, "*%s* not detected\n", spacePlace().c_str());
            reportNow(kDiskErrorNotDetected);
            return false;
        }
        m_live.userfreebytes_harddisk.store(avail);
        m_live.userbytes_harddisk.store(total);
        LogLine(3, m_testName, "Total file system size: %llu blocks\n", static_cast<unsigned long long>(total));
        LogLine(3, m_testName, "Available filesystem size: %llu blocks\n", static_cast<unsigned long long>(avail));
        if (avail == 0 && total == 0) {
            LogLine(3, m_testName,
                "%s[%d]: %s, Cannot get disk space, availDiskBlocks = %llu, try \"df -ahPT\" on command line.\n",
                __func__, __LINE__, m_fs.name, static_cast<unsigned long long>(avail));
            reportNow(kDiskErrorNoSize);
            return false;
        }
        if (ReserveReached(avail, total, m_reserve) && mode != kPatternButterfly) {
            LogLine(3, m_testName, "%s[%d]: %s, No free space, availDiskBlocks = %llu\n", __func__, __LINE__, m_fs.name,
                static_cast<unsigned long long>(avail));
            reportNow(kDiskErrorNoSpace);
            return false;
        }
        m_N = DiskFileBlocks(total, pct, m_blockSize);
        if (m_N != 0)
            break;
        // A size too small for one block: look again later, without spinning.
        WaitMsecs(kSizeRetryMs);
        if (!Active())
            return false;
    }
    m_live.testfilesize_harddisk.store(m_N);
    LogLine(3, m_testName, "Each file size is: %llu blocks, %llu MB\n", static_cast<unsigned long long>(m_N),
        static_cast<unsigned long long>(m_N * m_blockSize / 1048576));
    m_pacer = DutyPacer(duty());
    m_started = true;
    return true;
}

void CTest_Disk::RunCycle()
{
    if (!m_started)
        return;
    const int u = m_unit;
    const int pattern = m_live.BufferPattern.load();
    LogLine(3, m_testName, "Starting BufferPattern[%d]: %d, %s\n", u, pattern, PatternText[pattern]);
    if (isRandomPattern(pattern)) {
        FillBlocksWithNewRandomData();
        m_randomIndex = 0;
    }

    if (pattern == kPatternButterfly) {
        // Nothing to write or seek: the pass only counts, once a second
        // rather than in a busy loop that would wrap the cycle counter.
        m_live.status_harddisk.store(kStatusSleeping);
        WaitMsecs(1000);
        if (!Active())
            return;
    } else {
        const std::string name = FileName(m_fileNumber);
        const auto shown = static_cast<unsigned long long>(m_N + 1);
        m_lastFileNumber = std::max(m_lastFileNumber, m_fileNumber);
        if (pattern == kPatternHighLow) {
            LogLine(4, m_testName, "Writing High freq pattern file: %s, size: %llu blocks\n", name.c_str(), shown);
            if (!filePhase(kStatusWritingHigh, [&] { test_harddisk_writefile(name.c_str(), m_N, kModeHighFreq); }))
                return;
        }
        LogLine(4, m_testName, "Writing file: %s, size: %llu blocks\n", name.c_str(), shown);
        if (!filePhase(pattern == kPatternHighLow ? kStatusWritingLow : kStatusWriting,
                [&] { test_harddisk_writefile(name.c_str(), m_N, kModeCurrent); }))
            return;
        if (!m_errorFlag) {
            LogLine(4, m_testName, "Verifying file: %s, size: %llu blocks\n", name.c_str(), shown);
            if (!filePhase(kStatusVerifying,
                    [&] { test_harddisk_verifyfile(name.c_str(), m_fileNumber, m_firstFileNumber, m_N); }))
                return;
        }

        if (pattern == kPatternRandomSeek) {
            LogLine(4, m_testName, "%s[%d][Cycle #%d]: Random Seeking now...number of files written so far = %d",
                __func__, __LINE__, cycle(), m_fileNumber);
            WanderAroundTheDisk(m_firstFileNumber, m_fileNumber, m_N);
        }

        ++m_fileNumber;
        const bool fullOnOpen = m_errorFlag && m_errorCode == kDiskErrorFullOnOpen;
        std::uint64_t avail = 0, total = 0;
        if ((measureSpace(avail, total) && ReserveReached(avail, total, m_reserve)) || fullOnOpen) {
            m_live.progress_harddisk.store(0);
            m_live.status_harddisk.store(kStatusDeleting);
            test_harddisk_delete(u, m_firstFileNumber, m_fileNumber - 1);
            m_live.status_harddisk.store(kStatusSleeping);
            Pace(m_pacer);
            if (!Active())
                return;
            m_firstFileNumber = m_fileNumber;
            measureSpace(avail, total);
        }
        if (validMode(relaxedLoad(testconfig.disk_test_mode[u])) == kPatternCyclic) {
            const int next = NextCyclicPattern(pattern);
            LogLine(4, m_testName, "Moving to next test pattern: %s\n", PatternText[next]);
            m_live.BufferPattern.store(next);
        }
    }

    CountCycle();
    if (m_errorFlag) {
        LogLine(4, m_testName, "Disk Error (%s:) in Cycle: %s\n", m_diskPath, errorText(m_errorCode));
        AddStdDiskErrorMsg(m_errorCode, m_diskPath[0], u);
        m_errorCode = m_errorFlag = 0;
        WaitMsecs(m_settings.errorPauseMs);
    }
}

int CTest_Disk::test_harddisk_writefile(const char* name, std::uint64_t N, int mode)
{
    const int pattern = m_live.BufferPattern.load();
    if (mode != kModeHighFreq && pattern == kPatternHighLow) {
        // The final pass overwrites the file the first pass wrote.
        struct stat st { };
        if (::lstat(name, &st) != 0) {
            const int e = errno;
            LogLine(3, m_testName, "%s[%d]: File (*%s*) does not exist for DT_HIGHLOW, strerror(%d): %s", __func__,
                __LINE__, name, e, std::strerror(e));
            raise(kDiskErrorCreate);
            return kDiskErrorCreate;
        }
    }
    FILE* f = openStream(name, O_WRONLY | O_CREAT | O_TRUNC, "wb");
    if (!f) {
        const int e = errno;
        const int code = e == ENOSPC ? kDiskErrorFullOnOpen : (e == EACCES ? kDiskErrorAccess : kDiskErrorCreate);
        LogLine(4, m_testName, "%s[%d]: Failed to fopen(%s, wb), strerror(%d): %s", __func__, __LINE__, name, e,
            std::strerror(e));
        LogLine(4, m_testName, "%s[%d]: File name: %s, Error Code: %d", __func__, __LINE__, name, code);
        raise(code);
        return code;
    }
    LogLine(4, m_testName, "%s[%d]: Successfully fopen(%s, wb)", __func__, __LINE__, name);

    const bool random = mode != kModeHighFreq && isRandomPattern(pattern);
    if (!random)
        fillPatternBlock(mode);
    const std::size_t bs = m_blockSize;
    int code = 0;
    for (std::uint64_t b = 0; b + 1 < N; ++b) {
        if (!Active())
            break;
        const unsigned char* data = m_writeBuf.get();
        if (random) {
            data = m_random[m_randomIndex].get();
            m_randomIndex = m_randomIndex + 1 == kNumRandomBlocks ? 0 : m_randomIndex + 1;
        }
        if (b == 0)
            data = withHeader(data);
        errno = 0;
        const std::size_t written = std::fwrite(data, 1, bs, f);
        if (written != bs) {
            const int e = errno;
            code = e == ENOSPC ? kDiskErrorFull : kDiskErrorWrite;
            LogLine(4, m_testName, "%s[%d]: Failed to fwrite(%s), strerror(%d): %s", __func__, __LINE__, name, e,
                std::strerror(e));
            LogLine(4, m_testName, "File: %s, writeBufSize: %lu, Block Num: %llu, Ops: %llu, Error Code: %d", name,
                static_cast<unsigned long>(bs), static_cast<unsigned long long>(b),
                static_cast<unsigned long long>(m_live.opcount_write.load()), code);
            raise(code);
            break;
        }
        if (b < 3) {
            LogLine(4, m_testName, "Number of bytes written (of block #%llu) = %lu\n",
                static_cast<unsigned long long>(b), static_cast<unsigned long>(written));
            for (std::size_t at : { std::size_t { 0 }, std::size_t { 68 }, std::size_t { 256 } })
                if (at < bs)
                    LogLine(4, m_testName, "Block #%llu, byte %lu = 0x%02X\n", static_cast<unsigned long long>(b),
                        static_cast<unsigned long>(at), data[at]);
        }
        afterBlock(b, N, m_live.opcount_write);
    }
    const int closeCode = closeStream(f, name, code == 0);
    return code ? code : closeCode;
}

int CTest_Disk::test_harddisk_verifyfile(const char* name, int fileNumber, int firstFileNumber, std::uint64_t N)
{
    FILE* f = openStream(name, O_RDONLY, "rb");
    if (!f) {
        const int e = errno;
        LogLine(3, m_testName, "%s[%d]: Failed to fopen(%s, rb), strerror(%d): %s", __func__, __LINE__, name, e,
            std::strerror(e));
        LogLine(3, m_testName, "File that could not be opened was: %s", name);
        raise(kDiskErrorOpen);
        return kDiskErrorOpen;
    }
    LogLine(4, m_testName, "%s[%d]: Successfully fopen(%s, rb)", __func__, __LINE__, name);

    const int pattern = m_live.BufferPattern.load();
    const bool random = isRandomPattern(pattern);
    if (!random)
        fillPatternBlock(kModeCurrent);
    const std::size_t bs = m_blockSize;
    unsigned char* buf = m_readBuf.get();
    int code = 0;
    int randomBlock = 0; // b mod 7
    for (std::uint64_t b = 0; b + 1 < N; ++b) {
        if (!Active() || code)
            break;
        std::memset(buf, 0, bs);
        const std::size_t got = std::fread(buf, 1, bs, f);
        if (got != bs) {
            const int e = errno;
            LogLine(4, m_testName, "%s[%d]: Failed to fread(%s), strerror(%d): %s", __func__, __LINE__, name, e,
                std::strerror(e));
            // A file that ends early lost what was written past its end:
            // that is a read failure, not a pass.
            if (std::feof(f))
                LogLine(3, m_testName, "%s %s[%d]: File: %s, EOF reached", __FILE__, __func__, __LINE__, name);
            else
                std::clearerr(f);
            code = kDiskErrorRead;
            LogLine(3, m_testName,
                "File: %s, readBufSize: %lu, Block # (starts from 0): %llu, Ops: %llu, ErrorCode: %ld\n", name,
                static_cast<unsigned long>(bs), static_cast<unsigned long long>(b),
                static_cast<unsigned long long>(m_live.opcount_read.load()), static_cast<long>(code));
            raise(code);
            break;
        }
        const unsigned char* expected = random ? m_random[randomBlock].get() : m_writeBuf.get();
        randomBlock = randomBlock + 1 == kNumRandomBlocks ? 0 : randomBlock + 1;
        const std::size_t j = firstDifference(buf, expected, b == 0 ? headerBytes() : 0, bs);
        if (j < bs) {
            code = kDiskErrorCompare;
            LogLine(4, m_testName,
                "\n%s-%s[%d]: filenum = %d, iStartFilenum = %d, filesizeBlocks+1 = %llu, Block # (starts from zero) = "
                "%llu, Offset = %ld",
                __FILE__, __func__, __LINE__, fileNumber, firstFileNumber, static_cast<unsigned long long>(N + 1),
                static_cast<unsigned long long>(b), static_cast<long>(b * bs + j));
            LogLine(4, m_testName, "%s-%s[%d]: File: %s, ReadBuff[%llu][%lu]: %d, ExpectedValue[%llu][%lu]: %d\n",
                __FILE__, __func__, __LINE__, name, static_cast<unsigned long long>(b), static_cast<unsigned long>(j),
                buf[j], static_cast<unsigned long long>(b), static_cast<unsigned long>(j), expected[j]);
            raise(code);
        }
        afterBlock(b, N, m_live.opcount_read);
    }
    closeStream(f, name, false);
    return code;
}

int CTest_Disk::WanderAroundTheDisk(int firstFileNumber, int fileNumber, std::uint64_t N)
{
    const int u = m_unit;
    m_live.status_harddisk.store(kStatusSeeking);
    const int count = relaxedLoad(testconfig.disk_seek_count[u]);
    // Only blocks the file holds: 0 .. N - 2.
    const std::uint64_t blocks = N >= 2 ? N - 1 : 0;
    int done = 0;
    int code = 0;
    if (count > 0 && blocks > 0) {
        const std::string name = FileName(fileNumber);
        // One private sequence per run: reseeding from the clock before every
        // draw would send all seeks of one second to the same block.
        m_seekSeed = static_cast<unsigned>(std::time(nullptr)) ^ (static_cast<unsigned>(u) << 16)
            ^ static_cast<unsigned>(fileNumber);
        for (; done < count && Active() && !m_errorFlag; ++done) {
            const int r = ::rand_r(&m_seekSeed);
            const std::uint64_t B = static_cast<std::uint64_t>(::rand_r(&m_seekSeed)) % blocks;
            if (r % 2 == 0) {
                LogLine(4, m_testName,
                    "%s[%d][Cycle #%d]: Writing to random block #%llu (of filename *%s*) using Randombuff[%d]",
                    __func__, __LINE__, cycle(), static_cast<unsigned long long>(B), name.c_str(),
                    static_cast<int>(B % kNumRandomBlocks));
                code = test_harddisk_writeblock(name.c_str(), B);
            } else {
                LogLine(4, m_testName, "%s[%d][Cycle #%d]: Verifying from random block #%llu (of filename *%s*)",
                    __func__, __LINE__, cycle(), static_cast<unsigned long long>(B), name.c_str());
                code = test_harddisk_verifyblock(name.c_str(), fileNumber, firstFileNumber, N, B);
            }
        }
    }
    m_live.progress_harddisk.store(
        count > 0 ? static_cast<std::int32_t>(static_cast<long long>(done) * 100 / count) : 0);
    return code;
}

bool CTest_Disk::filePhase(int status, const std::function<void()>& step)
{
    m_live.status_harddisk.store(status);
    m_live.progress_harddisk.store(0);
    step();
    m_live.progress_harddisk.store(0);
    m_live.status_harddisk.store(kStatusSleeping);
    Pace(m_pacer);
    return Active();
}

int CTest_Disk::seekToBlock(FILE* f, const char* name, std::uint64_t block, const char* caller)
{
    const std::size_t bs = m_blockSize;
    LogLine(4, m_testName, "Seeking distance %lu, to block number %llu within file %s\n",
        static_cast<unsigned long>(block * bs), static_cast<unsigned long long>(block), name);
    const int e = myFileSeek(f, static_cast<unsigned long>(block * bs), SEEK_SET);
    if (e == 0)
        return 0;
    LogLine(3, m_testName, "%s[%d]: myFileSeek: strerror(%d) = *%s*\n", caller, __LINE__, e, std::strerror(e));
    LogLine(3, m_testName, "Seek Error Code: %d", kDiskErrorSeek);
    raise(kDiskErrorSeek);
    std::fclose(f);
    return kDiskErrorSeek;
}

int CTest_Disk::test_harddisk_writeblock(const char* name, std::uint64_t block)
{
    FILE* f = openStream(name, O_RDWR, "rb+");
    if (!f) {
        const int e = errno;
        LogLine(3, m_testName, "%s[%d]: Failed to fopen(%s, rb+), strerror(%d): %s", __func__, __LINE__, name, e,
            std::strerror(e));
        raise(kDiskErrorCreate);
        return kDiskErrorCreate;
    }
    const std::size_t bs = m_blockSize;
    if (const int code = seekToBlock(f, name, block, __func__))
        return code;
    const unsigned char* data = m_random[block % kNumRandomBlocks].get();
    if (block == 0)
        data = withHeader(data);
    int code = 0;
    if (std::fwrite(data, 1, bs, f) != bs) {
        code = kDiskErrorWrite;
        LogLine(3, m_testName, "File: %s, Block Size: %lu, Block Num: %llu, Ops: %llu, Error Code: %d", name,
            static_cast<unsigned long>(bs), static_cast<unsigned long long>(block),
            static_cast<unsigned long long>(m_live.opcount_seekwrite.load()), code);
        raise(code);
    } else {
        m_live.opcount_seekwrite.fetch_add(1, std::memory_order_relaxed);
    }
    const int closeCode = closeStream(f, name, code == 0);
    return code ? code : closeCode;
}

int CTest_Disk::test_harddisk_verifyblock(
    const char* name, int fileNumber, int firstFileNumber, std::uint64_t N, std::uint64_t block)
{
    FILE* f = openStream(name, O_RDONLY, "rb");
    if (!f) {
        const int e = errno;
        LogLine(3, m_testName, "%s[%d]: Failed to fopen(%s, rb), strerror(%d): %s", __func__, __LINE__, name, e,
            std::strerror(e));
        LogLine(3, m_testName, "File that could not be opened was: %s", name);
        raise(kDiskErrorOpen);
        return kDiskErrorOpen;
    }
    const std::size_t bs = m_blockSize;
    if (const int code = seekToBlock(f, name, block, __func__))
        return code;
    unsigned char* buf = m_readBuf.get();
    std::memset(buf, 0, bs);
    int code = 0;
    const std::size_t got = std::fread(buf, 1, bs, f);
    if (got != bs) {
        const int e = errno;
        LogLine(4, m_testName, "%s[%d]: Failed to fread(%s), strerror(%d): %s", __func__, __LINE__, name, e,
            std::strerror(e));
        code = kDiskErrorRead;
        raise(code);
    } else {
        const int k = static_cast<int>(block % kNumRandomBlocks);
        const unsigned char* expected = m_random[k].get();
        const int c = cycle();
        for (std::size_t j = firstDifference(buf, expected, block == 0 ? headerBytes() : 0, bs); j < bs;
             j = firstDifference(buf, expected, j + 1, bs)) {
            code = kDiskErrorCompare;
            LogLine(4, m_testName,
                "%s[%d][Cycle #%d]: GetRandomPattern_disk: Current filenum = %d, iStartFilenum = %d, iNumBlocksPerFile "
                "= %llu, iBlockNum = %llu, j = %lu",
                __func__, __LINE__, c, fileNumber, firstFileNumber, static_cast<unsigned long long>(N - 1),
                static_cast<unsigned long long>(block), static_cast<unsigned long>(j));
            LogLine(4, m_testName, "%s[%d] ReadBuff[%llu][%lu] = %d", __func__, __LINE__,
                static_cast<unsigned long long>(block), static_cast<unsigned long>(j), buf[j]);
            LogLine(4, m_testName, "%s[%d] [Using Random Block %d] ExpectedValue[%llu][%lu] = %d", __func__, __LINE__,
                k, static_cast<unsigned long long>(block), static_cast<unsigned long>(j), expected[j]);
            LogLine(4, m_testName, "%s[%d] File: %s, Offset %llu\n", __func__, __LINE__, name,
                static_cast<unsigned long long>(block * bs + j));
            raise(code);
        }
        m_live.opcount_seekread.fetch_add(1, std::memory_order_relaxed);
    }
    closeStream(f, name, false);
    return code;
}

void CTest_Disk::test_harddisk_delete(int unit, int firstFileNumber, int lastFileNumber)
{
    for (int n = firstFileNumber;; ++n) {
        const std::string name = FileName(unit, m_fs.mount_point, n);
        struct stat st { };
        if (::lstat(name.c_str(), &st) != 0) {
            // A number whose write failed leaves a gap; later files still go.
            if (n >= lastFileNumber)
                break;
            continue;
        }
        // unlink, not remove: a directory planted at the name is not ours.
        if (::unlink(name.c_str()) != 0) {
            const int e = errno;
            DPrintf("%s, %s[%d]: cannot delete %s: %s\n", KVX_WHERE, name.c_str(), std::strerror(e));
            continue;
        }
        for (int i = 0; i < kDeleteChecks && ::lstat(name.c_str(), &st) == 0; ++i)
            ::nanosleep(&m_retry, &m_retryLeft);
    }
}

void CTest_Disk::ShutDown()
{
    if (m_unit < 0 || m_unit >= kNumDisks)
        return;
    // A stop between a pass and the cycle's end must not drop what the pass
    // found: a pass cut short by the stop raises nothing.
    if (m_errorFlag) {
        reportNow(m_errorCode);
        m_errorCode = m_errorFlag = 0;
    }
    if (validMode(relaxedLoad(testconfig.disk_test_mode[m_unit])) != kPatternButterfly) {
        m_live.status_harddisk.store(kStatusDeleting);
        test_harddisk_delete(m_unit, m_firstFileNumber, m_lastFileNumber);
    }
    DeallocRandomDataBlocks();
    DPrintf("DeallocRandomDataBlocks (%s)\n", m_testName);
    m_readBuf.reset();
    m_writeBuf.reset();
    m_headerBuf.reset();
    m_started = false;
    LogLine(3, m_testName, "Stopping test\n");
    gettimeofday(&m_ctx.run.modules[m_testID].stop_time, nullptr);
}

void* Test_Thread_Disk(void* arg)
{
    return RunTestThread(static_cast<TestThreadRecord*>(arg), "Test_Thread_Disk",
        [](const RunContext& ctx, int unit, int slot) -> std::unique_ptr<CTest_Base> {
            return std::make_unique<CTest_Disk>(ctx, unit, slot);
        });
}

extern const EngineInfo kDiskEngine;

namespace {

std::string diskUnitText(const RunContext&, int unit)
{
    const char* alias = gFileSystemStructPtr[unit].alias;
    return ": " + std::string(alias, ::strnlen(alias, sizeof gFileSystemStructPtr[unit].alias));
}

// A disk test on removable media needs a blank disc or floppy inserted.
std::string diskPreRunNote(const RunContext& ctx)
{
    std::string text;
    for (int unit = 0; unit < kDiskEngine.units; ++unit) {
        if (!performTest(ctx.config, kDiskEngine.slotOf(unit)))
            continue;
        const char* device = gFileSystemStructPtr[unit].name;
        if (std::strstr(device, "cdrom"))
            text += "\n* Please ensure a blank formatted disc is in the cdrom\n";
        else if (std::strstr(device, "floppy"))
            text += "\n* Please ensure a blank formatted floppy disk is in the floppy drive\n";
    }
    return text;
}

std::string diskTraceText(const RunContext& ctx, int unit)
{
    static const char* const kModeNames[] = { "Cyclic", "Sequential", "High Low", "Binary 1", "Binary 2", "Zeros",
        "Ones", "Random", "Random seeking", "Butterfly" };
    const int mode = relaxedLoad(ctx.config.disk_test_mode[unit]);
    return Format("Disk #%d: %s\n", unit, mode >= 0 && mode < 10 ? kModeNames[mode] : "?");
}

} // namespace

extern const EngineInfo kDiskEngine = {
    .name = "Disk",
    .firstSlot = kSlotDiskFirst,
    .units = kNumDisks,
    .switchSlot = kSlotDiskGroup,
    .stopLimitMs = 60000,
    .unitName = "disk",
    .unitText = diskUnitText,
    .preRunNote = diskPreRunNote,
    .window = LiveWindowKind::Disk,
    .icon = ":/icons/disk.png",
    .entry = Test_Thread_Disk,
    .makeLive = [] { return std::unique_ptr<LiveStatus>(std::make_unique<DiskLive>()); },
    .errorCodes = kDiskErrorCodes,
    .traceText = diskTraceText,
    .commandName = "disk",
};
