#include "TestWindow_SerialPort.h"

#include "AtomicField.h"
#include "CTest_SerialPort.h"
#include "EngineInfo.h"
#include "ResultRecord.h"
#include "Run.h"
#include "ui_TestWindowSerialPort_Base.h"

#include <algorithm>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kDetectOnly = 2;
constexpr int kDefaultSpeedIndex = 6;

bool isSweep(int code)
{
    return code == kSweepTo115200 || code == kSweepTo230400;
}

// "Loopback test (...)" for the configured speed setting, read as the
// test reads it: an index beyond the table means the default speed.
QString loopbackText()
{
    int index = relaxedLoad(testconfig.serial_baud_index);
    if (index < 0 || index >= kNumSerialSpeeds - 1)
        index = kDefaultSpeedIndex;
    const int code = SerialPortSpeeds[index];
    if (isSweep(code))
        return QString::asprintf("Loopback test (baud cycling to %d)", BaudSpeed(SerialPortSpeeds[index - 1]));
    return QString::asprintf("Loopback test (fixed baud %d)", BaudSpeed(code));
}

} // namespace

TestWindow_SerialPort::TestWindow_SerialPort(
    const Run& run, const QString& name, int slot, QWidget* parent, Qt::WindowFlags flags)
    : TestWindowSerialPort_Base(run, slot, parent, flags)
    , m_port(EngineFor(slot)->unitOf(slot))
    , m_live(run.live<SerialLive>(slot))
{
    // Only this port's figures: other ports' tests may already be counting.
    // The port's test has not started, so nothing else writes them now.
    run.live<SerialLive>(slot).clear(0);
    finishSetUp(QString::asprintf("%s : ttyS%d", name.toLocal8Bit().constData(), m_port));
}

void TestWindow_SerialPort::refreshLabels()
{
    const int p = m_port;
    const timeval stop = now();
    const timeval started = m_live.update_start_time.load();
    const timeval start = timercmp(&started, &m_lastRefresh, >) ? started : m_lastRefresh;
    const float diffSec = static_cast<float>(stop.tv_sec - start.tv_sec);
    const float diffUsec = static_cast<float>(stop.tv_usec - start.tv_usec);
    const float diffMsec = diffSec * 1000 + diffUsec / 1000;
    m_lastRefresh = stop;

    const _resultinfo& r = resultfile.results[slot()];
    const int cycles = static_cast<int>(relaxedLoad(r.cycles));
    const bool detectOnly = relaxedLoad(testconfig.serial_port_mode[p]) == kDetectOnly;
    setLabelText(ui->textLabel_SerialPort_Cycle,
        QString::asprintf("Cycle %d: ", cycles) + (detectOnly ? QString("Detect only") : loopbackText()));
    setLabelText(ui->textLabel_SerialPort_SerialPort, QString::asprintf("ttyS%d", p));
    setLabelText(ui->textLabel_SerialPort_Speed, QString::asprintf("%d bits/sec", m_live.iComSpeed.load(kRelaxed)));

    for (QWidget* w : { ui->textLabel_SerialPort_LabelReceived, ui->textLabel_SerialPort_Received,
             ui->textLabel_SerialPort_LabelThroughput, ui->textLabel_SerialPort_Throughput,
             ui->textLabel_SerialPort_LabelErrors, ui->textLabel_SerialPorts_Errors })
        w->setVisible(!detectOnly);
    if (detectOnly) {
        setLabelText(ui->textLabel_SerialPort_LabelSent, "Status:");
        setLabelText(ui->textLabel_SerialPort_Sent,
            m_live.PortStatusOK.load(kRelaxed) ? QString("Port detected") : QString("Port not detected"));
        return;
    }

    const std::uint64_t received = m_live.dis_bytes_received.load(kRelaxed);
    setLabelText(ui->textLabel_SerialPort_LabelSent, "Sent:");
    setLabelText(ui->textLabel_SerialPort_Sent,
        QString::asprintf("%llu bytes", static_cast<unsigned long long>(m_live.dis_bytes_sent.load(kRelaxed))));
    setLabelText(
        ui->textLabel_SerialPort_Received, QString::asprintf("%llu bytes", static_cast<unsigned long long>(received)));
    // 32-bit arithmetic on purpose: a count passing 4 GiB still gives the
    // bytes of the interval.
    const std::uint32_t sinceLast = static_cast<std::uint32_t>(received) - m_receivedLast;
    if (sinceLast != 0 && diffMsec > 0)
        setLabelText(
            ui->textLabel_SerialPort_Throughput, QString::asprintf("%0.2f bytes/sec", sinceLast / (diffMsec / 1000)));
    m_receivedLast = static_cast<std::uint32_t>(received);
    setLabelText(ui->textLabel_SerialPorts_Errors, QString::asprintf("%d", static_cast<int>(relaxedLoad(r.errors))));
}
