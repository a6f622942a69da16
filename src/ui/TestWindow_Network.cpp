#include "TestWindow_Network.h"

#include "AtomicField.h"
#include "CTest_Network.h"
#include "EngineInfo.h"
#include "ResultRecord.h"
#include "Run.h"
#include "ui_TestWindowBase_Network.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr double kMB = 1048576.0;

} // namespace

QString NetworkAddressText(int unit)
{
    const char* address = testconfig.network_address[unit];
    return QString::fromLocal8Bit(
        address, static_cast<qsizetype>(strnlen(address, sizeof testconfig.network_address[0])));
}

TestWindow_Network::TestWindow_Network(
    const Run& run, const QString& name, int slot, QWidget* parent, Qt::WindowFlags flags)
    : TestWindowBase_Network(run, slot, parent, flags)
    , m_live(run.live<NetworkLive>(slot))
    , m_unit(EngineFor(slot)->unitOf(slot))
{
    finishSetUp(name + ": " + NetworkAddressText(m_unit));
}

void TestWindow_Network::refreshLabels()
{
    const int a = m_unit;
    const _resultinfo& r = resultfile.results[slot()];
    const std::uint64_t sent = m_live.bytes_sent.load(kRelaxed);
    const std::uint64_t received
        = m_live.packets_rec.load(kRelaxed) * static_cast<std::uint64_t>(m_live.datasize.load(kRelaxed));
    setLabelText(ui->textLabelServer, NetworkAddressText(a));
    setLabelText(ui->textLabelCycleCount, QString::asprintf("Cycle %d:", static_cast<int>(relaxedLoad(r.cycles))));
    setLabelText(ui->textLabelSent, QString::asprintf("%0.2lf MBytes", static_cast<double>(sent) / kMB));
    setLabelText(ui->textLabelReceived, QString::asprintf("%0.2lf MBytes", static_cast<double>(received) / kMB));
    setLabelText(ui->textLabelAverageDelay,
        QString::asprintf("%0.2lf ms", static_cast<double>(m_live.average_delay.load(kRelaxed))));
    setLabelText(ui->textLabelMaximumDelay,
        QString::asprintf("%0.2lf ms", static_cast<double>(m_live.max_delay.load(kRelaxed))));
    setLabelText(ui->textLabelCurrentDelay,
        QString::asprintf("%0.2lf ms", static_cast<double>(m_live.last_delay.load(kRelaxed))));

    // Both directions since the unit started.
    const timeval start = m_live.update_start_time.load();
    const timeval t = now();
    const double seconds = static_cast<double>(timeval_diff_msec(&start, &t) / 1000);
    const double rate = start.tv_sec != 0 && seconds > 0 ? static_cast<double>(sent + received) / kMB / seconds : 0;
    setLabelText(ui->textLabelFlowRate, QString::asprintf("%0.2lf MBytes/s", rate));

    // Bad exchanges among the requests since the last bad-packet-ratio
    // error: the figure that error is raised on.
    const std::uint64_t counted = m_live.PktsSinceErr.load(kRelaxed);
    const std::uint64_t bad = m_live.BadPktsSinceErr.load(kRelaxed);
    const double share = counted ? static_cast<double>(bad) * 100 / static_cast<double>(counted) : 0;
    setLabelText(
        ui->textLabelErrors, QString::asprintf("%d (%0.2lf%%)", static_cast<int>(relaxedLoad(r.errors)), share));
}
