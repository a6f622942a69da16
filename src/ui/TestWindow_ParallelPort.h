// The live window of the parallel port (slot 70): cycle and mode, port and
// its base address, values sent and received and the throughput of the
// last refresh interval, or the detection result in detect-only mode.
#pragma once

class Run;

#include "TestWindowParallelPort_Base.h"

#include <cstdint>

class TestWindow_ParallelPort : public TestWindowParallelPort_Base {
    Q_OBJECT

public:
    static constexpr int kPorts = 3;

    // Received count (low 32 bits) at the previous refresh, and the values
    // received during the last interval, by port index.
    static std::uint32_t bytes_rcvd_last[kPorts];
    static std::uint32_t bytes_rcvd_sincelastupdate[kPorts];

    // Clears the port's display counters of the test and of this class.
    // GUI thread, before the test starts.
    TestWindow_ParallelPort(
        const Run& run, const QString& name, int slot, QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    void refreshLabels() override;

private:
    int m_index;
};
