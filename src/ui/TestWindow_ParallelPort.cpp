#include "TestWindow_ParallelPort.h"

#include "AtomicField.h"
#include "CTest_ParallelPort.h"
#include "ResultRecord.h"
#include "Run.h"
#include "ui_TestWindowParallelPort_Base.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kDetectOnly = 1;

} // namespace

TestWindow_ParallelPort::TestWindow_ParallelPort(
    const Run& run, const QString& name, int slot, QWidget* parent, Qt::WindowFlags flags)
    : TestWindowParallelPort_Base(run, slot, parent, flags)
    , m_index(CTest_ParallelPort::ParallelPortIndex(relaxedLoad(testconfig.parallel_port_number)))
    , m_live(run.live<ParallelLive>(slot))
{
    // The test clears these only when its thread starts, after this first
    // refresh; a count left from the last run would otherwise make the next
    // interval's bytes wrap to a huge throughput. Nothing else writes them
    // before the test starts.
    ParallelLive& live = run.live<ParallelLive>(slot);
    live.dis_bytes_sent[m_index].store(0, kRelaxed);
    live.dis_bytes_received[m_index].store(0, kRelaxed);
    finishSetUp(QString::asprintf(
        "%s : lp%d", name.toLocal8Bit().constData(), static_cast<int>(relaxedLoad(testconfig.parallel_port_number))));
}

void TestWindow_ParallelPort::refreshLabels()
{
    const int i = m_index;
    const timeval stop = now();
    const timeval start = m_lastRefresh;
    const double elapsedMs = static_cast<double>(stop.tv_usec - start.tv_usec) / 1000
        + static_cast<double>(stop.tv_sec - start.tv_sec) * 1000;
    m_lastRefresh = stop;

    const _resultinfo& r = resultfile.results[slot()];
    const int portNumber = relaxedLoad(testconfig.parallel_port_number);
    const bool detectOnly = relaxedLoad(testconfig.parallel_test_mode) == kDetectOnly;
    setLabelText(ui->textLabel_ParallelPort_Cycle,
        QString::asprintf(
            "Cycle %d: %s", static_cast<int>(relaxedLoad(r.cycles)), detectOnly ? "Detect only" : "Loopback test"));
    setLabelText(ui->textLabel_ParallelPort_ParallelPort,
        QString::asprintf("lp%d (Address: %x)", portNumber, static_cast<unsigned>(m_live.io_port.load(kRelaxed))));

    for (QWidget* w : { ui->textLabel_ParallelPort_LabelReceived, ui->textLabel_ParallelPort_Received,
             ui->textLabel_ParallelPort_LabelThroughput, ui->textLabel_ParallelPort_Throughput,
             ui->textLabel_ParallelPort_LabelErrors, ui->textLabel_ParallelPort_Errors })
        w->setVisible(!detectOnly);
    if (detectOnly) {
        setLabelText(ui->textLabel_ParallelPort_LabelSent, "Status:");
        setLabelText(ui->textLabel_ParallelPort_Sent,
            m_live.PortDetect.load(kRelaxed) ? QString("Port detected") : QString("Port not detected"));
        return;
    }

    const std::uint64_t received = m_live.dis_bytes_received[i].load(kRelaxed);
    setLabelText(ui->textLabel_ParallelPort_LabelSent, "Sent:");
    setLabelText(ui->textLabel_ParallelPort_Sent,
        QString::asprintf("%llu bytes", static_cast<unsigned long long>(m_live.dis_bytes_sent[i].load(kRelaxed))));
    setLabelText(ui->textLabel_ParallelPort_Received,
        QString::asprintf("%llu bytes", static_cast<unsigned long long>(received)));
    const std::uint32_t sinceLast = static_cast<std::uint32_t>(received) - m_receivedLast;
    if (sinceLast != 0 && elapsedMs > 0)
        setLabelText(ui->textLabel_ParallelPort_Throughput,
            QString::asprintf("%0.2lf bytes/sec", sinceLast / (elapsedMs / 1000)));
    m_receivedLast = static_cast<std::uint32_t>(received);
    setLabelText(ui->textLabel_ParallelPort_Errors, QString::asprintf("%d", static_cast<int>(relaxedLoad(r.errors))));
}
