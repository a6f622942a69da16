// The live window of one serial port (slots 90..153): cycle and mode, port,
// line speed, bytes sent and received and the throughput of the last
// refresh interval, or the detection result of a detect-only port.
#pragma once

class Run;

#include "TestWindowSerialPort_Base.h"

#include <cstdint>
#include <sys/time.h>

struct SerialLive;

class TestWindow_SerialPort : public TestWindowSerialPort_Base {
    Q_OBJECT

public:
    // Clears the port's figures. GUI thread, before the port's test starts.
    TestWindow_SerialPort(
        const Run& run, const QString& name, int slot, QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    void refreshLabels() override;

private:
    int m_port;
    const SerialLive& m_live;
    // The last refresh; the interval starts there or at the test's start,
    // whichever came later.
    timeval m_lastRefresh {};
    // Received count (low 32 bits) at the previous refresh.
    std::uint32_t m_receivedLast = 0;
};
