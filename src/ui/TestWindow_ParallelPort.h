// The live window of the parallel port (slot 70): cycle and mode, port and
// its base address, values sent and received and the throughput of the
// last refresh interval, or the detection result in detect-only mode.
#pragma once

class Run;

#include "TestWindowParallelPort_Base.h"

#include <cstdint>
#include <sys/time.h>

struct ParallelLive;

class TestWindow_ParallelPort : public TestWindowParallelPort_Base {
    Q_OBJECT

public:
    // Clears the port's display counters. GUI thread, before the test
    // starts.
    TestWindow_ParallelPort(
        const Run& run, const QString& name, int slot, QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    void refreshLabels() override;

private:
    int m_index;
    const ParallelLive& m_live;
    timeval m_lastRefresh {};
    // Received count (low 32 bits) at the previous refresh.
    std::uint32_t m_receivedLast = 0;
};
