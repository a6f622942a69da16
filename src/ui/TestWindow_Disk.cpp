#include "TestWindow_Disk.h"

#include "AtomicField.h"
#include "CTest_Disk.h"
#include "EngineInfo.h"
#include "ResultRecord.h"
#include "Run.h"
#include "SystemInfo.h"
#include "ui_TestWindowDisk_Base.h"

#include <QPalette>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sys/statvfs.h>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr double kMB = 1048576.0;
constexpr std::uint64_t kFallbackBlockSize = 4096;

QColor progressColour(int status)
{
    switch (status) {
    case CTest_Disk::kStatusWriting:
    case CTest_Disk::kStatusWritingHigh:
    case CTest_Disk::kStatusWritingLow:
        return QColor(255, 0, 0);
    case CTest_Disk::kStatusVerifying:
        return QColor(0, 255, 0);
    default:
        return QColor(255, 255, 0);
    }
}

void setHighlight(QWidget* bar, const QColor& colour)
{
    QPalette palette = bar->palette();
    if (palette.color(QPalette::Highlight) == colour)
        return;
    palette.setColor(QPalette::Highlight, colour);
    bar->setPalette(palette);
}

QString megabytes(std::uint64_t blocks, std::uint64_t blockSize)
{
    return QString::asprintf("%0.2lf MBytes", static_cast<double>(blocks) * static_cast<double>(blockSize) / kMB);
}

} // namespace

QString DiskDeviceText(const char* mountPoint, const char* device)
{
    const char* kind = std::strstr(mountPoint, "cdrom") ? "CD-ROM"
        : std::strstr(mountPoint, "floppy")             ? "Floppy"
                                                        : "Hard Disc";
    return QString(kind) + " (" + QString::fromLocal8Bit(device) + ")";
}

QString DiskSpeedText(double mbPerSec)
{
    if (mbPerSec > 1.0 || mbPerSec == 0)
        return QString::asprintf("%0.1f MB/Sec", mbPerSec);
    if (mbPerSec <= 0.1)
        return QString::asprintf("%0.4f MB/Sec", mbPerSec);
    return QString::asprintf("%0.2f MB/Sec", mbPerSec);
}

int FreeSpacePercent(std::uint64_t available, std::uint64_t total)
{
    if (total == 0)
        return 0;
    return static_cast<int>(std::lround(static_cast<double>(available) / static_cast<double>(total) * 100));
}

TestWindow_Disk::TestWindow_Disk(const Run& run, const QString& name, int slot, QWidget* parent, Qt::WindowFlags flags)
    : TestWindowDisk_Base(run, slot, parent, flags)
    , m_live(run.live<DiskLive>(slot))
    , m_disk(EngineFor(slot)->unitOf(slot))
{
    const FileSystemStruct& fs = gFileSystemStructPtr[m_disk];
    // As the test does: a list made while the file system was unmounted
    // holds no block size.
    m_blockSize = fs.vfs.f_bsize;
    struct statvfs v { };
    if (m_blockSize == 0 && ::statvfs(fs.mount_point, &v) == 0)
        m_blockSize = v.f_bsize;
    if (m_blockSize == 0)
        m_blockSize = kFallbackBlockSize;
    std::uint64_t available = 0, total = 0;
    if (GetMountedFileSystemAvailDiskSize(fs.mount_point, &available, &total) == 0 && total != 0) {
        m_available = available;
        m_total = total;
    }
    m_prevTime = now();
    finishSetUp(name + ": " + (m_disk < gNumMntPoints ? QString::fromLocal8Bit(fs.alias) : QString()));
}

void TestWindow_Disk::refreshLabels()
{
    const int d = m_disk;
    const FileSystemStruct& fs = gFileSystemStructPtr[d];
    const _resultinfo& r = resultfile.results[slot()];
    const std::uint64_t bs = m_blockSize;

    setLabelText(ui->textLabelCycleCount, QString::asprintf("Cycle %d:", static_cast<int>(relaxedLoad(r.cycles))));
    setLabelText(ui->textLabelDevice, DiskDeviceText(fs.mount_point, fs.name));
    const int status = m_live.status_harddisk.load(kRelaxed);
    setLabelText(ui->textLabelStatus, status >= 0 && status < 10 ? CTest_Disk::status_text[status] : "");
    ui->progressBar->setValue(std::clamp(m_live.progress_harddisk.load(kRelaxed), 0, 100));
    setHighlight(ui->progressBar, progressColour(status));
    const int pattern = m_live.BufferPattern.load(kRelaxed);
    setLabelText(ui->textLabelPatternAbbrevText,
        pattern >= 0 && pattern < CTest_Disk::NumPatterns ? CTest_Disk::PatternTextAbbrev[pattern] : "");

    // The test's latest reading once it has one.
    if (const std::uint64_t total = m_live.userbytes_harddisk.load(kRelaxed)) {
        m_total = total;
        m_available = m_live.userfreebytes_harddisk.load(kRelaxed);
    }
    ui->progressBarFreeSpace->setValue(std::clamp(FreeSpacePercent(m_available, m_total), 0, 100));
    setLabelText(ui->textLabelTotalCapacity, megabytes(m_total, bs));
    setLabelText(ui->textLabelAvailCapacity, megabytes(m_available, bs));
    setLabelText(ui->textLabelTestFileSize, megabytes(m_live.testfilesize_harddisk.load(kRelaxed) + 1, bs));

    if (pattern == CTest_Disk::kPatternButterfly)
        return;
    const std::uint64_t written = m_live.opcount_write.load(kRelaxed);
    const std::uint64_t verified = m_live.opcount_read.load(kRelaxed);
    const std::uint64_t seekWritten = m_live.opcount_seekwrite.load(kRelaxed);
    const std::uint64_t seekRead = m_live.opcount_seekread.load(kRelaxed);
    const char* format = verified <= 1000000 ? "%0.3f" : verified <= 10000000 ? "%0.2f" : "%0.1f";
    const auto mb = [bs](std::uint64_t blocks) { return static_cast<double>(blocks) * static_cast<double>(bs) / kMB; };
    QString writtenText = QString::asprintf(format, mb(written));
    QString verifiedText = QString::asprintf(format, mb(verified));
    if (pattern == CTest_Disk::kPatternRandomSeek) {
        writtenText += QString::asprintf(" (+ WSeeks: %0.1f)", mb(seekWritten));
        verifiedText += QString::asprintf(" (+ RSeeks: %0.1f)", mb(seekRead));
    }
    setLabelText(ui->textLabelWriteCount, writtenText);
    setLabelText(ui->textLabelVerifiedCount, verifiedText);

    const std::uint64_t totalBytes = (written + verified + seekWritten + seekRead) * bs / 1048576;
    const timeval t = now();
    const long double intervalMs = timeval_diff_msec(&m_prevTime, &t);
    double speed = 0;
    if (totalBytes > m_prevBytes && intervalMs > 0)
        speed = static_cast<double>(totalBytes - m_prevBytes) / static_cast<double>(intervalMs / 1000);
    m_prevBytes = totalBytes;
    m_prevTime = t;
    setLabelText(ui->textLabelSpeed, DiskSpeedText(speed));
}
