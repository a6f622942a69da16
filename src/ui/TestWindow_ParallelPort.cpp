#include "TestWindow_ParallelPort.h"

#include "AtomicField.h"
#include "CTest_ParallelPort.h"
#include "ResultRecord.h"
#include "TestSlots.h"
#include "ui_TestWindowParallelPort_Base.h"

std::uint32_t TestWindow_ParallelPort::bytes_rcvd_last[kPorts];
std::uint32_t TestWindow_ParallelPort::bytes_rcvd_sincelastupdate[kPorts];

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kDetectOnly = 1;

} // namespace

TestWindow_ParallelPort::TestWindow_ParallelPort(
    const Run& run, const QString& name, int slot, QWidget* parent, Qt::WindowFlags flags)
    : TestWindowParallelPort_Base(run, slot, parent, flags)
    , m_index(CTest_ParallelPort::ParallelPortIndex(relaxedLoad(testconfig.parallel_port_number)))
{
    // The test clears these only when its thread starts, after this first
    // refresh; a count left from the last run would otherwise make the next
    // interval's bytes wrap to a huge throughput.
    const int i = m_index;
    CTest_ParallelPort::update_start_time[i].clear();
    CTest_ParallelPort::update_stop_time[i].clear();
    CTest_ParallelPort::dis_bytes_sent[i].store(0, kRelaxed);
    CTest_ParallelPort::dis_bytes_received[i].store(0, kRelaxed);
    bytes_rcvd_last[i] = bytes_rcvd_sincelastupdate[i] = 0;
    finishSetUp(QString::asprintf(
        "%s : lp%d", name.toLocal8Bit().constData(), static_cast<int>(relaxedLoad(testconfig.parallel_port_number))));
}

void TestWindow_ParallelPort::refreshLabels()
{
    const int i = m_index;
    const timeval stop = now();
    CTest_ParallelPort::update_stop_time[i].store(stop);
    const timeval start = CTest_ParallelPort::update_start_time[i].load();
    const double elapsedMs = static_cast<double>(stop.tv_usec - start.tv_usec) / 1000
        + static_cast<double>(stop.tv_sec - start.tv_sec) * 1000;
    CTest_ParallelPort::update_start_time[i].store(stop);

    const _resultinfo& r = resultfile.results[kSlotParallel];
    const int portNumber = relaxedLoad(testconfig.parallel_port_number);
    const bool detectOnly = relaxedLoad(testconfig.parallel_test_mode) == kDetectOnly;
    setLabelText(ui->textLabel_ParallelPort_Cycle,
        QString::asprintf(
            "Cycle %d: %s", static_cast<int>(relaxedLoad(r.cycles)), detectOnly ? "Detect only" : "Loopback test"));
    setLabelText(ui->textLabel_ParallelPort_ParallelPort,
        QString::asprintf(
            "lp%d (Address: %x)", portNumber, static_cast<unsigned>(CTest_ParallelPort::io_port.load(kRelaxed))));

    for (QWidget* w : { ui->textLabel_ParallelPort_LabelReceived, ui->textLabel_ParallelPort_Received,
             ui->textLabel_ParallelPort_LabelThroughput, ui->textLabel_ParallelPort_Throughput,
             ui->textLabel_ParallelPort_LabelErrors, ui->textLabel_ParallelPort_Errors })
        w->setVisible(!detectOnly);
    if (detectOnly) {
        setLabelText(ui->textLabel_ParallelPort_LabelSent, "Status:");
        setLabelText(ui->textLabel_ParallelPort_Sent,
            CTest_ParallelPort::PortDetect.load(kRelaxed) ? QString("Port detected") : QString("Port not detected"));
        return;
    }

    const std::uint64_t received = CTest_ParallelPort::dis_bytes_received[i].load(kRelaxed);
    setLabelText(ui->textLabel_ParallelPort_LabelSent, "Sent:");
    setLabelText(ui->textLabel_ParallelPort_Sent,
        QString::asprintf(
            "%llu bytes", static_cast<unsigned long long>(CTest_ParallelPort::dis_bytes_sent[i].load(kRelaxed))));
    setLabelText(ui->textLabel_ParallelPort_Received,
        QString::asprintf("%llu bytes", static_cast<unsigned long long>(received)));
    bytes_rcvd_sincelastupdate[i] = static_cast<std::uint32_t>(received) - bytes_rcvd_last[i];
    if (bytes_rcvd_sincelastupdate[i] != 0 && elapsedMs > 0)
        setLabelText(ui->textLabel_ParallelPort_Throughput,
            QString::asprintf("%0.2lf bytes/sec", bytes_rcvd_sincelastupdate[i] / (elapsedMs / 1000)));
    bytes_rcvd_last[i] = static_cast<std::uint32_t>(received);
    setLabelText(ui->textLabel_ParallelPort_Errors, QString::asprintf("%d", static_cast<int>(relaxedLoad(r.errors))));
}
