#include "TestWindow_SerialPort.h"

#include "AtomicField.h"
#include "CTest_SerialPort.h"
#include "ResultRecord.h"
#include "TestSlots.h"
#include "ui_TestWindowSerialPort_Base.h"

#include <algorithm>

float TestWindow_SerialPort::diff_sec[kPorts];
float TestWindow_SerialPort::diff_usec[kPorts];
float TestWindow_SerialPort::diff_msec[kPorts];
std::uint32_t TestWindow_SerialPort::bytes_rcvd_last[kPorts];
std::uint32_t TestWindow_SerialPort::bytes_rcvd_sincelastupdate[kPorts];

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
    , m_port(std::clamp(slot - kSlotSerialFirst, 0, kPorts - 1))
{
    // Only this port's figures: other ports' tests may already be counting.
    const int p = m_port;
    CTest_SerialPort::update_start_time[p].clear();
    CTest_SerialPort::update_stop_time[p].clear();
    CTest_SerialPort::bytes_sent[p].store(0, kRelaxed);
    CTest_SerialPort::bytes_received[p].store(0, kRelaxed);
    CTest_SerialPort::dis_bytes_sent[p].store(0, kRelaxed);
    CTest_SerialPort::dis_bytes_received[p].store(0, kRelaxed);
    CTest_SerialPort::iComSpeed[p].store(0, kRelaxed);
    diff_sec[p] = diff_usec[p] = diff_msec[p] = 0;
    bytes_rcvd_last[p] = bytes_rcvd_sincelastupdate[p] = 0;
    finishSetUp(QString::asprintf("%s : ttyS%d", name.toLocal8Bit().constData(), m_port));
}

void TestWindow_SerialPort::refreshLabels()
{
    const int p = m_port;
    const timeval stop = now();
    CTest_SerialPort::update_stop_time[p].store(stop);
    const timeval start = CTest_SerialPort::update_start_time[p].load();
    diff_sec[p] = static_cast<float>(stop.tv_sec - start.tv_sec);
    diff_usec[p] = static_cast<float>(stop.tv_usec - start.tv_usec);
    diff_msec[p] = diff_sec[p] * 1000 + diff_usec[p] / 1000;
    CTest_SerialPort::update_start_time[p].store(stop);

    const _resultinfo& r = resultfile.results[kSlotSerialFirst + p];
    const int cycles = static_cast<int>(relaxedLoad(r.cycles));
    const bool detectOnly = relaxedLoad(testconfig.serial_port_mode[p]) == kDetectOnly;
    setLabelText(ui->textLabel_SerialPort_Cycle,
        QString::asprintf("Cycle %d: ", cycles) + (detectOnly ? QString("Detect only") : loopbackText()));
    setLabelText(ui->textLabel_SerialPort_SerialPort, QString::asprintf("ttyS%d", p));
    setLabelText(ui->textLabel_SerialPort_Speed,
        QString::asprintf("%d bits/sec", CTest_SerialPort::iComSpeed[p].load(kRelaxed)));

    for (QWidget* w : { ui->textLabel_SerialPort_LabelReceived, ui->textLabel_SerialPort_Received,
             ui->textLabel_SerialPort_LabelThroughput, ui->textLabel_SerialPort_Throughput,
             ui->textLabel_SerialPort_LabelErrors, ui->textLabel_SerialPorts_Errors })
        w->setVisible(!detectOnly);
    if (detectOnly) {
        setLabelText(ui->textLabel_SerialPort_LabelSent, "Status:");
        setLabelText(ui->textLabel_SerialPort_Sent,
            CTest_SerialPort::PortStatusOK[p].load(kRelaxed) ? QString("Port detected") : QString("Port not detected"));
        return;
    }

    const std::uint64_t received = CTest_SerialPort::dis_bytes_received[p].load(kRelaxed);
    setLabelText(ui->textLabel_SerialPort_LabelSent, "Sent:");
    setLabelText(ui->textLabel_SerialPort_Sent,
        QString::asprintf(
            "%llu bytes", static_cast<unsigned long long>(CTest_SerialPort::dis_bytes_sent[p].load(kRelaxed))));
    setLabelText(
        ui->textLabel_SerialPort_Received, QString::asprintf("%llu bytes", static_cast<unsigned long long>(received)));
    // 32-bit arithmetic on purpose: a count passing 4 GiB still gives the
    // bytes of the interval.
    bytes_rcvd_sincelastupdate[p] = static_cast<std::uint32_t>(received) - bytes_rcvd_last[p];
    if (bytes_rcvd_sincelastupdate[p] != 0 && diff_msec[p] > 0)
        setLabelText(ui->textLabel_SerialPort_Throughput,
            QString::asprintf("%0.2f bytes/sec", bytes_rcvd_sincelastupdate[p] / (diff_msec[p] / 1000)));
    bytes_rcvd_last[p] = static_cast<std::uint32_t>(received);
    setLabelText(ui->textLabel_SerialPorts_Errors, QString::asprintf("%d", static_cast<int>(relaxedLoad(r.errors))));
}
