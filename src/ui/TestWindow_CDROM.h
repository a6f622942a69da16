// The live window of one CD/DVD drive (slots 33..52): mode and cycle, the
// test's phase, the file being read (or the track being played), files
// opened, bytes read, and the throughput of the last refresh interval and
// since the start, each also as a drive speed factor.
#pragma once

class Run;

#include "TestWindowCDROM_Base.h"

#include <cstdint>
#include <sys/time.h>

struct CdDvdLive;

class TestWindow_CDROM : public TestWindowCDROM_Base {
    Q_OBJECT

public:
    TestWindow_CDROM(
        const Run& run, const QString& name, int slot, QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    void refreshLabels() override;

private:
    int m_drive;
    const CdDvdLive& m_live;
    // Bytes read at the previous refresh and its time.
    std::uint64_t m_prevRead = 0;
    timeval m_prevTime {};
    int m_mode = -1;
};

// The drive speed factor of `mbPerSec` (MB of 2^20 bytes): the rate in
// units of 0.1536 MB/s, to the nearest whole.
double CdSpeedFactor(double mbPerSec);

// "%0.2lfMB/s %0.0fx" for a rate in MB/s.
QString CdRateText(double mbPerSec);
