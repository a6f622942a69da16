#include "CTest_CDROM.h"

#include "Run.h"

#include "EngineInfo.h"

#include "AtomicField.h"
#include "LiveUnits.h"
#include "CLogger.h"
#include "CdDrive.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "MessageBox.h"
#include "ErrorClassification.h"
#include "RefDiscFormat.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Startup.h"
#include "SystemInfo.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

const char* const CTest_CDROM::PatternText[kNumModes] = {
    "NO TEST",
    "Music CD playback",
    "Data CD read and verify",
    "Veltrane Test CD/DVD",
    "No CD in drive",
    "Burn CD-RW",
};

const char* const CTest_CDROM::status_text[kNumPhases] = {
    "Starting",
    "Checksum creation",
    "Verifying checksums",
    "Reading Test CD",
    "Opening file",
    "Searching for files",
    "Drive detected",
    "No drive detected",
    "Random Seeking",
    // The CD-RW writing steps; this test never reaches them.
    "Blanking CD-RW",
    "Writing CD-RW",
    "Closing session",
    "Fixating CD-RW",
    "Reading back CD-RW",
    "Verifying CD-RW",
    "Ejecting CD-RW",
    "Loading CD-RW",
    "CD-RW done",
};

extern const EngineInfo kCdDvdEngine;

namespace {

constexpr int kLogTestCd = 3; // "CD/DVD" in the event log's test names
constexpr const char* kSearching = "Searching for files";

constexpr int kStartPauseMs = 1000;
constexpr int kIdlePauseMs = 10000;
constexpr int kSpinUpPauseMs = 3000;
constexpr int kPollPauseMs = 2000;
constexpr int kRetryPauseMs = 5000;
constexpr int kNoFilesPauseMs = 3000;
constexpr int kOpenErrorPauseMs = 3000;
constexpr int kReadErrorPauseMs = 1000;
// Bytes of audio counted per sub-channel poll.
constexpr std::uint64_t kAudioBytesPerPoll = 344000;
constexpr std::uint8_t kTestVolume = 160;

LiveUnits g_liveUnits;

// The expected contents of a block of each pattern, built once.
const std::uint8_t* patternBlock(int pattern)
{
    static const std::unique_ptr<std::uint8_t[]> blocks = [] {
        auto b = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(kRefPatterns) * kRefBlockSize);
        for (int p = 0; p < kRefPatterns; ++p)
            FillRefBlock(b.get() + static_cast<std::size_t>(p) * kRefBlockSize, p);
        return b;
    }();
    return blocks.get() + static_cast<std::size_t>(pattern) * kRefBlockSize;
}

// Reads up to `size` bytes, retrying short reads, so that a short result
// means the end of the file. Returns the count or -1.
ssize_t readFull(int fd, unsigned char* buf, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buf + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool isSymlink(const char* path)
{
    struct stat st { };
    return ::lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

int file_select(const dirent* entry)
{
    return std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0;
}

namespace {
bool statType(const char* path, mode_t type, int line)
{
    struct stat st { };
    if (::stat(path, &st) != 0) {
        std::fprintf(stderr, "%s[%d] stat: %s, path = %s\n", __FILE__, line, std::strerror(errno), path);
        return false;
    }
    return (st.st_mode & S_IFMT) == type;
}
} // namespace

bool isDir(const char* path)
{
    return statType(path, S_IFDIR, __LINE__);
}

bool isFile(const char* path)
{
    return statType(path, S_IFREG, __LINE__);
}

std::string CdDvdLive::currentFile() const
{
    std::lock_guard lock(m_textMutex);
    return m_currentFile;
}

void CdDvdLive::setCurrentFile(const char* name)
{
    std::lock_guard lock(m_textMutex);
    std::snprintf(m_currentFile, sizeof m_currentFile, "%s", name);
}

timeval CdDvdLive::updateStartTime() const
{
    std::lock_guard lock(m_textMutex);
    return m_updateStartTime;
}

void CdDvdLive::setUpdateStartTime(const timeval& t)
{
    std::lock_guard lock(m_textMutex);
    m_updateStartTime = t;
}

void CdDvdLive::clear()
{
    phase = 0;
    progress_CD = 0;
    op_count_read = 0;
    op_count_write = 0;
    CurrentBlock = 0;
    Totalfiles = 0;
    iChkSum = 0;
    totaltracks = 0;
    track_num = 0;
    setCurrentFile(kSearching);
    setUpdateStartTime(timeval {});
}

CTest_CDROM::CTest_CDROM(const RunContext& ctx, int unit, int testID)
    : CTest_Base(ctx, testID, kSliceCdDvd)
    , m_unit(unit)
    , m_live(ctx.run.live<CdDvdLive>(testID))
    , m_drive(ctx.platform.cdDrive())
    , m_driveName {}
{
    std::snprintf(m_testName, sizeof m_testName, "%s(%d)",
        testID >= 0 && testID < kNumNamedSlots ? SlotName(testID) : "CD/DVD", unit);
    g_liveUnits.enter(
        unit, kCdDvdEngine.units, [&ctx](int u) { ctx.run.live<CdDvdLive>(kCdDvdEngine.slotOf(u)).clear(); });
    if (!unitOk(unit))
        return;
    // The configuration may change under a running test; take the name once.
    for (std::size_t i = 0; i + 1 < sizeof m_driveName; ++i)
        if ((m_driveName[i] = relaxedLoad(testconfig.cd_drive_name[unit][i])) == '\0')
            break;
    m_device = gMultimediaStructPtr[unit].name;
    m_mountPoint = gMultimediaStructPtr[unit].mount_point;
}

CTest_CDROM::~CTest_CDROM()
{
    g_liveUnits.leave();
}

int CTest_CDROM::duty() const
{
    return SlotDutyCycle(testconfig, kSlotCdFirst);
}

void CTest_CDROM::pause(int ms)
{
    if (ms <= 0)
        return;
    if (const auto& hook = m_ctx.settings<CdDvdSettings>().pause)
        ms = hook(m_unit, ms);
    WaitMsecs(ms);
}

void CTest_CDROM::logLine(int level, const char* format, ...)
{
    if (!gLogger)
        return;
    // Activity lines (3 and 4) go only to the activity trace; one comes with
    // every 4 KiB read, so skip formatting those the trace would drop.
    if (level >= 3 && (relaxedLoad(testconfig.logging_enabled) == 0 || relaxedLoad(testconfig.trace_level) < level))
        return;
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    gLogger->AddLine(text, -1, 0, SlotName(m_testID), level);
}

void CTest_CDROM::detailError(int level, char* message, const char* format, ...)
{
    char text[CLogger::kLineSize];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    if (gLogger)
        gLogger->AddLine(text, -1, 0, SlotName(m_testID), level);
    if (message)
        std::memcpy(message, text, sizeof text);
}

void CTest_CDROM::AddStdCDErrorMsg(int code, const char* driveName)
{
    if (!gLogger || code < 0 || code >= kMaxErrorCodes)
        return;
    char text[CLogger::kLineSize];
    std::snprintf(text, sizeof text, "%s: %s", driveName ? driveName : "", e_strings[code]);
    gLogger->AddLine(text, kLogTestCd, code, nullptr, 1);
}

void CTest_CDROM::reportError(int code)
{
    _resultinfo& r = resultfile.results[m_testID];
    relaxedAdd(r.errors, 1u);
    relaxedStore(r.last_error, static_cast<std::uint32_t>(code));
    UpdateErrorClassificationResults(m_ctx.results, m_testID, code);
    AddStdCDErrorMsg(code, m_driveName);
}

void CTest_CDROM::test_entry(int unit)
{
    MarkRunning();
    th_test_cdrom(unit);
}

void CTest_CDROM::th_test_cdrom(int unit)
{
    if (!unitOk(unit))
        return;
    DPrintf("%s, %s[%d]: %s starts on %s\n", KVX_WHERE, m_testName, m_device.c_str());
    pause(kStartPauseMs);
    timeval now {};
    gettimeofday(&now, nullptr);
    m_ctx.run.modules[m_testID].start_time = now;
    m_live.setUpdateStartTime(now);
    const int mode = relaxedLoad(testconfig.cd_test_mode[unit]);
    logLine(3, "Starting test: %s\n", mode >= 0 && mode < kNumModes ? PatternText[mode] : "?");
    switch (mode) {
    case kModeAudio:
        AudioCDTest(unit);
        break;
    case kModeData:
        DataCDTest(unit);
        break;
    case kModeReference:
        TestCDTest(unit, false, 0);
        break;
    case kModeNoDisc:
        NoCDTest(unit);
        break;
    default:
        // "NO TEST" and "Burn CD-RW" touch no disc: the pass ends at once.
        break;
    }
    EndTest();
}

void CTest_CDROM::AudioCDTest(int n)
{
    const char* dev = m_device.c_str();
    int error = 0;
    bool volumeChanged = false;
    CdVolume keptVolume {};
    int firstTrack = 1;

    const int fd = m_drive->open(dev);
    const bool opened = fd >= 0;
    if (!opened) {
        logLine(3, "%s[%d] (%s): open error: %s\n", __func__, __LINE__, dev, std::strerror(-fd));
        m_live.phase = kPhaseNoDrive;
        error = kCdErrorNoDrive;
    } else {
        relaxedStore(gMultimediaStructPtr[n].fd, fd);
        int status = 0;
        if (const int rc = m_drive->discStatus(&status)) {
            logLine(3, "%s[%d] (%s): ioctl[CDROM_DISC_STATUS] : %s\n", __func__, __LINE__, dev, std::strerror(rc));
            error = kCdErrorDriveCall;
        } else {
            switch (status) {
            case kCdsNoDisc:
                logLine(3, "%s[%d] (%s): No media detected\n", __func__, __LINE__, dev);
                break;
            case kCdsNoInfo:
                logLine(3, "%s[%d] (%s): ioctl[CDROM_DRIVE_STATUS] not implemented: %s\n", __func__, __LINE__, dev,
                    std::strerror(ENOSYS));
                break;
            case kCdsAudio:
                logLine(3, "%s[%d] (%s): Audio disc\n", __func__, __LINE__, dev);
                break;
            case kCdsData1:
            case kCdsData2:
                logLine(3, "%s[%d] (%s): Data disc type\n", __func__, __LINE__, dev);
                break;
            case kCdsXa21:
            case kCdsXa22:
                logLine(3, "%s[%d] (%s): XA data disc type\n", __func__, __LINE__, dev);
                break;
            default:
                logLine(3, "%s[%d] (%s): Unknown disc type: 0x%x\n", __func__, __LINE__, dev,
                    static_cast<unsigned>(status));
                break;
            }
            if (status != kCdsAudio)
                error = kCdErrorNoAudioDisc;
        }

        if (!error) {
            int lastTrack = 0;
            if (const int rc = m_drive->readTocHeader(&firstTrack, &lastTrack)) {
                logLine(
                    3, "%s[%d] (%s): ioctl[CDROMREADTOCHDR] error: %s\n", __func__, __LINE__, dev, std::strerror(rc));
                m_live.totaltracks = 0;
                error = kCdErrorTocHeader;
            } else {
                m_live.totaltracks = std::max(0, lastTrack - firstTrack + 1);
                logLine(3, "%s[%d] (%s): ioctl[CDROMREADTOCHDR] totaltracks: %lu\n", __func__, __LINE__, dev,
                    static_cast<unsigned long>(m_live.totaltracks.load()));
            }
            if (const int rc = m_drive->start()) {
                logLine(3, "%s[%d] (%s): ioctl[CDROMSTART] error: %s\n", __func__, __LINE__, dev, std::strerror(rc));
                error = kCdErrorSpinUp;
            }
            pause(kSpinUpPauseMs);
            if (const int rc = m_drive->readVolume(&keptVolume)) {
                logLine(3, "%s[%d] (%s): ioctl[CDROMVOLREAD] error: %s\n", __func__, __LINE__, dev, std::strerror(rc));
            } else {
                // Channels 2 and 3 keep what the drive had.
                CdVolume v = keptVolume;
                v.channel[0] = v.channel[1] = kTestVolume;
                if (const int rc2 = m_drive->setVolume(v)) {
                    logLine(
                        3, "%s[%d] (%s): ioctl[CDROMVOLCTRL] error: %s\n", __func__, __LINE__, dev, std::strerror(rc2));
                } else {
                    volumeChanged = true;
                    logLine(3,
                        "%s[%d] (%s): cd_volctrl_new.channel0: %d, cd_volctrl_new.channel1: %d,  "
                        "cd_volctrl_new.channel2: %d, cd_volctrl_new.channel3: %d\n",
                        __func__, __LINE__, dev, v.channel[0], v.channel[1], v.channel[2], v.channel[3]);
                }
            }
        }
        if (error) {
            // Nothing to play: report once and idle until stopped.
            reportError(error);
            while (Active())
                pause(kIdlePauseMs);
        }
    }

    const int d = duty();
    bool outageReported = false;
    while (Active()) {
        const int tracks = m_live.totaltracks;
        CdMsf startAddr {};
        for (int t = 1; t <= tracks && Active() && !error; ++t) {
            const int track = firstTrack + t - 1;
            CdTocEntry entry {};
            if (t == 1) {
                if (const int rc = m_drive->readTocEntry(track, &entry)) {
                    logLine(3, "%s[%d] (%s): ioctl[CDROMREADTOCENTRY] error: %s\n", __func__, __LINE__, dev,
                        std::strerror(rc));
                    error = kCdErrorDriveCall;
                    break;
                }
                if (entry.control & kCdDataTrackFlag) {
                    error = kCdErrorDataTrack;
                    break;
                }
                startAddr = entry.address;
                if (!Active())
                    break;
            }
            const int next = t == tracks ? kCdLeadOut : track + 1;
            if (const int rc = m_drive->readTocEntry(next, &entry)) {
                logLine(
                    3, "%s[%d] (%s): ioctl[CDROMREADTOCENTRY] error: %s\n", __func__, __LINE__, dev, std::strerror(rc));
                error = kCdErrorDriveCall;
                break;
            }
            const CdMsf endAddr = entry.address;
            const int length = std::max(0, CdFrames(endAddr) - CdFrames(startAddr));
            logLine(3, "Address for current track (Track #%d) at %d minutes, %d seconds, and %d frames\n", track,
                startAddr.minute, startAddr.second, startAddr.frame);
            logLine(3, "Address for next track (Track #%d) at %d minutes, %d seconds, and %d frames\n", track + 1,
                endAddr.minute, endAddr.second, endAddr.frame);
            logLine(3, "Length of current track (Track #%d) is %d minutes, %d seconds, and %d frames\n", track,
                length / kCdFramesPerMinute, length % kCdFramesPerMinute / kCdFramesPerSecond,
                length % kCdFramesPerSecond);
            if (!Active())
                break;
            if (m_drive->playMsf(startAddr, endAddr) != 0) {
                error = kCdErrorPlay;
                break;
            }
            logLine(3, "Begin playback of track: %d\n", track);
            startAddr = endAddr;
            m_live.track_num = track;
            while (Active()) {
                CdSubChannel sc {};
                if (m_drive->readSubChannel(&sc) != 0) {
                    error = kCdErrorDriveCall;
                    break;
                }
                if (sc.audioStatus != kCdAudioPlay)
                    break;
                m_live.track_num = sc.track;
                pause(kPollPauseMs);
                m_live.op_count_read += kAudioBytesPerPoll;
            }
            logLine(3, "Stop playback of track: %d\n", track);
            if (error)
                break;
            pause((100 - d) * 500);
        }
        if (!Active())
            break;
        CountCycle();
        if (error == kCdErrorNoDrive) {
            // The device is not opened again, so this is one outage: said
            // once, as in the no-disc mode, not every ten seconds.
            if (!outageReported)
                reportError(error);
            outageReported = true;
            pause(kIdlePauseMs);
        } else if (error) {
            // A failed play is tried again on the next pass.
            reportError(error);
            pause(kIdlePauseMs);
            error = 0;
        }
    }

    if (opened) {
        if (const int rc = m_drive->stop())
            DPrintf("%s, %s[%d]: CDROMSTOP on %s: %s\n", KVX_WHERE, dev, std::strerror(rc));
        if (volumeChanged && m_drive->setVolume(keptVolume) != 0)
            DPrintf("%s, %s[%d]: volume of %s not restored\n", KVX_WHERE, dev);
        m_drive->close();
        relaxedStore(gMultimediaStructPtr[n].fd, 0);
    }
}

void CTest_CDROM::DataCDTest(int n)
{
    std::unique_ptr<int[]> table(new (std::nothrow) int[kMaxChecksums]);
    if (!table) {
        reportError(kCdErrorNoMemory);
        return;
    }
    const char* mount = m_mountPoint.c_str();
    while (Active()) {
        if (n >= relaxedLoad(gNumMMDevices)) {
            reportError(kCdErrorNoSuchDrive);
            pause(kRetryPauseMs);
            continue;
        }
        m_live.phase = kPhaseChecksums;
        m_live.iChkSum = 0;
        // A file the first pass does not reach has no checksum to compare.
        std::fill(table.get(), table.get() + kMaxChecksums, -1);
        logLine(3, "Directory to read Data CD: %s\n", mount);
        if (ReadFiles(mount, table.get(), 0, n) != 0) {
            pause(kRetryPauseMs);
            continue;
        }
        const int created = m_live.iChkSum;
        if (!Active())
            break;
        m_live.phase = kPhaseVerifying;
        m_live.iChkSum = 0;
        ReadFiles(mount, table.get(), 1, n);
        if (!Active())
            break;
        CountCycle();
        // An empty or unmounted drive would otherwise spin the processor.
        if (created == 0)
            pause(kRetryPauseMs);
    }
}

int CTest_CDROM::ReadFiles(const char* directory, int* checksums, int verify, int unit, char* message)
{
    if (!unitOk(unit) || !directory)
        return 0;
    dirent** names = nullptr;
    const int count = ::scandir(directory, &names, file_select, alphasort);
    if (count <= 0) {
        logLine(3, "%s[%d]: No files in (%s) directory\n", __func__, __LINE__, directory);
        std::free(names);
        return 0;
    }
    logLine(3, "%s[%d]: Number of files = %d\n", __func__, __LINE__, count);

    int result = 0;
    std::unique_ptr<char[]> path(new (std::nothrow) char[PATH_MAX]);
    if (!path)
        result = 1;
    const int d = duty();
    for (int i = 0; result == 0 && i < count && m_live.iChkSum < kMaxChecksums && Active(); ++i) {
        const char* name = names[i]->d_name;
        logLine(4, "%s[%d]: %s", __func__, __LINE__, name);
        if (std::snprintf(path.get(), PATH_MAX, "%s/%s", directory, name) >= PATH_MAX) {
            logLine(3, "%s[%d]: path too long: %s/%s\n", __func__, __LINE__, directory, name);
            continue;
        }
        if (isDir(path.get())) {
            logLine(4, "%s[%d]: %s is a directory", __func__, __LINE__, name);
            // A link back up the tree would be walked without end.
            if (isSymlink(path.get()))
                logLine(3, "%s[%d]: %s is a link, not followed\n", __func__, __LINE__, path.get());
            else
                result = ReadFiles(path.get(), checksums, verify, unit, message);
        } else if (isFile(path.get())) {
            logLine(4, "%s[%d]: %s is a file", __func__, __LINE__, name);
            m_live.setCurrentFile(name);
            const int index = m_live.iChkSum;
            if (!verify) {
                checksums[index] = CheckSumFile(path.get(), unit);
                logLine(4, "%s[%d]: Generated checksum for %s: %x\n", __func__, __LINE__, path.get(),
                    static_cast<unsigned>(checksums[index]));
            } else {
                logLine(4, "%s[%d]: Reading and verifying files: %s\n", __func__, __LINE__, path.get());
                if (checksums[index] != -1) {
                    const int sum = CheckSumFile(path.get(), unit);
                    if (sum != -1 && sum != checksums[index]) {
                        reportError(kCdErrorChecksum);
                        detailError(4, message, "File: %s, Cycle: %d, Checksum expected: %d, Checksum read: %d",
                            path.get(), static_cast<int>(relaxedLoad(resultfile.results[m_testID].cycles)),
                            checksums[index], sum);
                    }
                }
            }
            ++m_live.Totalfiles;
            ++m_live.iChkSum;
        }
        pause((100 - d) * 2);
    }
    for (int i = 0; i < count; ++i)
        std::free(names[i]);
    std::free(names);
    return result;
}

int CTest_CDROM::CheckSumFile(const char* path, int unit)
{
    if (!unitOk(unit))
        return -1;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kChecksumBlock]);
    if (!buffer) {
        reportError(kCdErrorNoMemory);
        return -1;
    }
    // The program's own files on a disc are not the drive's fault.
    const bool quiet = std::strstr(path, "kvx.exe") != nullptr;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (!quiet) {
            reportError(kCdErrorOpenFile);
            detailError(1, nullptr, "Error opening file %s", path);
        }
        return -1;
    }
    logLine(3, "%s[%d]: Opened file %s", __func__, __LINE__, path);

    std::uint32_t sum = 0;
    std::uint64_t total = 0;
    int result = -1;
    while (Active()) {
        const ssize_t got = readFull(fd, buffer.get(), kChecksumBlock);
        if (got < 0) {
            const int err = errno;
            if (!quiet) {
                detailError(1, nullptr, "%s[%d]: We did not read %lu bytes of %s: %s", __func__, __LINE__,
                    static_cast<unsigned long>(kChecksumBlock), path, std::strerror(err));
                reportError(kCdErrorReadFile);
                detailError(1, nullptr, "File: %s, Block Size: %d, Offset: %d, Bytes read: %d, ErrorCode: %d", path,
                    kChecksumBlock, static_cast<int>(total), static_cast<int>(got), err);
            }
            break;
        }
        logLine(4, "%s[%d]: Read %d bytes of %s", __func__, __LINE__, static_cast<int>(got), path);
        m_live.op_count_read += static_cast<std::uint64_t>(got);
        CountOperations(static_cast<std::uint64_t>(got));
        total += static_cast<std::uint64_t>(got);
        const unsigned char* b = buffer.get();
        std::uint32_t s = 0;
        for (ssize_t i = 0; i < got; ++i)
            s += b[i];
        sum += s;
        if (got < kChecksumBlock) {
            logLine(3, "Created checksum for %s: %x (Bytes read: %lu)\n", path, sum, static_cast<unsigned long>(total));
            result = static_cast<int>(sum);
            break;
        }
    }
    // A sum cut short by a stop is no checksum: it would differ at once.
    ::close(fd);
    return result;
}

int CTest_CDROM::DetermineNumFiles(const char* directory, int& blocksPerFile)
{
    int count = 0;
    for (int k = 1; k < 1000000; ++k) {
        const std::string path = std::string(directory) + "/" + RefFileName(k);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            break;
        if (k == 1) {
            struct stat st { };
            blocksPerFile = RefBlocksForSize(::fstat(fd, &st) == 0 ? st.st_size : 0);
        }
        ::close(fd);
        count = k;
    }
    return count;
}

int CTest_CDROM::CheckBlock(const unsigned char* block, int pattern, unsigned char& expected, unsigned char& read)
{
    pattern = ((pattern % kRefPatterns) + kRefPatterns) % kRefPatterns;
    const std::uint8_t* want = patternBlock(pattern);
    if (std::memcmp(block, want, kRefBlockSize) == 0)
        return 0;
    int differ = 0;
    for (int i = 0; i < kRefBlockSize; ++i) {
        if (block[i] != want[i]) {
            ++differ;
            expected = want[i];
            read = block[i];
        }
    }
    return differ;
}

int CTest_CDROM::readRefBlock(std::FILE* f, unsigned char* buffer, int /*unit*/, const char* path, long offset)
{
    const std::size_t got = std::fread(buffer, 1, kRefBlockSize, f);
    m_live.op_count_read += got;
    CountOperations(got);
    if (got < static_cast<std::size_t>(kRefBlockSize)) {
        const unsigned long code = std::ferror(f) ? static_cast<unsigned long>(errno) : 0;
        reportError(kCdErrorReadFile);
        detailError(1, nullptr, "File: %s, Block Size: %d, Offset: %ld, Bytes read: %lu, ErrorCode: %lu", path,
            kRefBlockSize, offset, static_cast<unsigned long>(got), code);
        pause(kReadErrorPauseMs);
        return 1;
    }
    unsigned char expected = 0, read = 0;
    const int pattern = static_cast<int>(offset / kRefBlockSize % kRefPatterns);
    if (const int differ = CheckBlock(buffer, pattern, expected, read)) {
        reportError(kCdErrorBlockCompare);
        detailError(1, nullptr, "File: %s, Block Offset: %ld, Errors: %d, Read: %x, Expected: %x", path, offset, differ,
            read, expected);
    }
    return 0;
}

void CTest_CDROM::TestCDTest(int n, bool oneCycle, int seek)
{
    m_live.phase = kPhaseSearching;
    m_live.progress_CD = 0;
    const char* mount = m_mountPoint.c_str();
    int blocks = kRefBlocksCd;
    int files = DetermineNumFiles(mount, blocks);
    while (files == 0 && Active()) {
        reportError(kCdErrorNoRefFiles);
        pause(kNoFilesPauseMs);
        files = DetermineNumFiles(mount, blocks);
    }
    if (files == 0)
        return;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kRefBlockSize]);
    if (!buffer) {
        reportError(kCdErrorNoMemory);
        return;
    }
    const int seekSetting = seek != 0 ? seek : relaxedLoad(testconfig.cd_seek[n]);
    const int d = duty();

    while (Active()) {
        for (int k = 1; k <= files && Active(); ++k) {
            m_live.phase = kPhaseOpeningFile;
            const std::string name = RefFileName(k);
            const std::string path = m_mountPoint + "/" + name;
            std::FILE* f = std::fopen(path.c_str(), "rb");
            if (!f) {
                reportError(kCdErrorOpenFile);
                pause(kOpenErrorPauseMs);
                detailError(1, nullptr, "Error opening file %s", path.c_str());
                continue;
            }
            m_live.progress_CD = 0;
            m_live.phase = kPhaseReadingTestCd;
            m_live.setCurrentFile(name.c_str());
            ++m_live.Totalfiles;
            for (int b = 0; b < blocks && Active(); ++b) {
                if (readRefBlock(f, buffer.get(), n, path.c_str(), static_cast<long>(b) * kRefBlockSize))
                    break;
                pause(100 - d);
                m_live.progress_CD = b * 100 / (blocks - 1);
            }
            std::fclose(f);
            if ((seekSetting & kCdSeekOnBit) && Active())
                seekRun(n, m_mountPoint, files, blocks, seekSetting & (kCdSeekOnBit - 1), buffer.get());
            m_live.progress_CD = k * 100 / files;
        }
        if (!Active())
            break;
        CountCycle();
        if (oneCycle)
            break;
    }
}

void CTest_CDROM::seekRun(int n, const std::string& mountPoint, int files, int blocks, int seeks, unsigned char* buffer)
{
    for (int s = 0; s < seeks && Active(); ++s) {
        m_live.progress_CD = seeks > 1 ? s * 100 / (seeks - 1) : 100;
        m_live.phase = kPhaseRandomSeeking;
        // The draw leaves the last file out; a disc of one file has only
        // that one to seek in.
        const int file = files > 1 ? std::rand() % (files - 1) + 1 : 1;
        const int block = std::rand() % blocks;
        const std::string name = RefFileName(file);
        const std::string path = mountPoint + "/" + name;
        m_live.setCurrentFile(name.c_str());
        ++m_live.Totalfiles;
        m_live.CurrentBlock = block;
        std::FILE* f = std::fopen(path.c_str(), "r");
        if (!f) {
            reportError(kCdErrorOpenFile);
            pause(kOpenErrorPauseMs);
            detailError(1, nullptr, "Error opening file %s", path.c_str());
            continue;
        }
        const long offset = static_cast<long>(block) * kRefBlockSize;
        if (std::fseek(f, offset, SEEK_SET) != 0) {
            const unsigned long code = static_cast<unsigned long>(errno);
            reportError(kCdErrorSeek);
            detailError(1, nullptr, "Seek ErrorCode: %lu", code);
            pause(kReadErrorPauseMs);
        } else {
            readRefBlock(f, buffer, n, path.c_str(), offset);
        }
        std::fclose(f);
    }
}

void CTest_CDROM::NoCDTest(int n)
{
    m_live.phase = kPhaseSearching;
    const char* dev = m_device.c_str();
    bool missing = false;
    while (Active()) {
        if (missing) {
            pause(kIdlePauseMs);
            if (!Active())
                break;
            CountCycle();
            ++m_live.op_count_read;
        }
        logLine(3, "Starting No CD Test.\n");
        const int fd = m_drive->open(dev);
        if (fd < 0) {
            m_live.phase = kPhaseNoDrive;
            // Once per outage, not every ten seconds.
            if (!missing) {
                DPrintf("%s, %s[%d]: open(%s): %s\n", KVX_WHERE, dev, std::strerror(-fd));
                reportError(kCdErrorNoDrive);
            }
            missing = true;
            continue;
        }
        missing = false;
        relaxedStore(gMultimediaStructPtr[n].fd, fd);
        CountCycle();
        ++m_live.op_count_read;
        CountOperations(1);
        m_live.phase = kPhaseDriveDetected;
        m_drive->close();
        relaxedStore(gMultimediaStructPtr[n].fd, 0);
        pause(kIdlePauseMs);
    }
}

void* Test_Thread_CDROM(void* arg)
{
    return RunTestThread(static_cast<TestThreadRecord*>(arg), "Test_Thread_CDROM",
        [](const RunContext& ctx, int instance, int slot) -> std::unique_ptr<CTest_Base> {
            return std::make_unique<CTest_CDROM>(ctx, instance, slot);
        });
}

extern const EngineInfo kCdDvdEngine;

namespace {

std::string cdUnitText(const RunContext&, int unit)
{
    const char* alias = gMultimediaStructPtr[unit].alias;
    return ": " + std::string(alias, ::strnlen(alias, sizeof gMultimediaStructPtr[unit].alias));
}

// Every mode but the no-disc one needs a disc of its kind in the drive.
std::string cdPreRunNote(const RunContext& ctx)
{
    std::string text;
    for (int unit = 0; unit < kCdDvdEngine.units; ++unit) {
        if (!performTest(ctx.config, kCdDvdEngine.slotOf(unit)))
            continue;
        const char* mount = gMultimediaStructPtr[unit].mount_point;
        switch (relaxedLoad(ctx.config.cd_test_mode[unit])) {
        case CTest_CDROM::kModeAudio:
            text += Format("\n* Please ensure a Music CD is in CD Drive %s:\n", mount);
            break;
        case CTest_CDROM::kModeData:
            text += Format("\n* Please ensure a full Data CD/DVD is in CD/DVD Drive %s:\n", mount);
            break;
        case CTest_CDROM::kModeReference:
            text += Format("\n* Please ensure that a Veltrane Test CD/DVD is in CD/DVD Drive %s:\n", mount);
            break;
        case CTest_CDROM::kModeBurn:
            text += Format("\n* Please ensure that a writeable CD is in CD-RW Drive %s:\n", mount);
            break;
        default:
            break;
        }
    }
    return text;
}

std::string cdTraceText(const RunContext& ctx, int unit)
{
    const int mode = relaxedLoad(ctx.config.cd_test_mode[unit]);
    return Format(
        "CD/DVD #%d: %s\n", unit, mode >= 0 && mode < CTest_CDROM::kNumModes ? CTest_CDROM::PatternText[mode] : "?");
}

} // namespace

extern const EngineInfo kCdDvdEngine = {
    .name = "CD/DVD",
    .firstSlot = kSlotCdFirst,
    .units = kNumCdDrives,
    .switchSlot = kSlotCdGroup,
    .stopLimitMs = 20000,
    .unitName = "drive",
    .unitText = cdUnitText,
    .preRunNote = cdPreRunNote,
    .window = LiveWindowKind::CdDvd,
    .icon = ":/icons/cddvd.png",
    .entry = Test_Thread_CDROM,
    .makeLive = []() -> std::unique_ptr<LiveStatus> { return std::make_unique<CdDvdLive>(); },
    .errorCodes = kCdDvdErrorCodes,
    .traceText = cdTraceText,
    .commandName = "cdrom",
};
