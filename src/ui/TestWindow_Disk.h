// The live window of one disk unit (slots 6..25): cycle, state and
// progress of the current file, the device and pattern, the file system's
// free space, the test file size, the megabytes written and verified and
// the speed over the last refresh interval.
#pragma once

class Run;
struct DiskLive;

#include "TestWindowDisk_Base.h"

#include <cstdint>
#include <sys/time.h>

class TestWindow_Disk : public TestWindowDisk_Base {
    Q_OBJECT

public:
    // Reads the file system's block counts once; a failed query counts as
    // 0 blocks available of 1. GUI thread.
    TestWindow_Disk(
        const Run& run, const QString& name, int slot, QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    void refreshLabels() override;

private:
    const DiskLive& m_live;
    int m_disk;
    std::uint64_t m_blockSize;
    std::uint64_t m_available = 0;
    std::uint64_t m_total = 1;
    // Whole megabytes moved by the unit at the previous refresh, and its
    // time.
    std::uint64_t m_prevBytes = 0;
    timeval m_prevTime {};
};

// "CD-ROM", "Floppy" or "Hard Disc" by the mount point, then the device in
// brackets.
QString DiskDeviceText(const char* mountPoint, const char* device);
// The speed text: one decimal above 1 MB/s and for 0, four up to 0.1, two
// between.
QString DiskSpeedText(double mbPerSec);
// The percentage of `available` in `total`, to the nearest whole.
int FreeSpacePercent(std::uint64_t available, std::uint64_t total);
