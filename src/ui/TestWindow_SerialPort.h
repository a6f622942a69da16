// The live window of one serial port (slots 90..153): cycle and mode, port,
// line speed, bytes sent and received and the throughput of the last
// refresh interval, or the detection result of a detect-only port.
#pragma once

class Run;

#include "TestWindowSerialPort_Base.h"

#include <cstdint>

class TestWindow_SerialPort : public TestWindowSerialPort_Base {
    Q_OBJECT

public:
    static constexpr int kPorts = 64;

    // The refresh interval per port: seconds, microseconds and milliseconds.
    static float diff_sec[kPorts];
    static float diff_usec[kPorts];
    static float diff_msec[kPorts];
    // Received count (low 32 bits) at the previous refresh, and the bytes
    // received during the last interval.
    static std::uint32_t bytes_rcvd_last[kPorts];
    static std::uint32_t bytes_rcvd_sincelastupdate[kPorts];

    // Clears the port's display counters of the test and of this class.
    // GUI thread, before the port's test starts.
    TestWindow_SerialPort(
        const Run& run, const QString& name, int slot, QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    void refreshLabels() override;

private:
    int m_port;
};
