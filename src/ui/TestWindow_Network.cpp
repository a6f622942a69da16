#include "TestWindow_Network.h"

#include "AtomicField.h"
#include "CTest_Network.h"
#include "ResultRecord.h"
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
    , m_unit(std::clamp(slot - kSlotNetworkFirst, 0, CTest_Network::kUnits - 1))
{
    finishSetUp(name + ": " + NetworkAddressText(m_unit));
}

void TestWindow_Network::refreshLabels()
{
    const int a = m_unit;
    const _resultinfo& r = resultfile.results[kSlotNetworkFirst + a];
    const std::uint64_t sent = CTest_Network::bytes_sent[a].load(kRelaxed);
    const std::uint64_t received = CTest_Network::packets_rec[a].load(kRelaxed)
        * static_cast<std::uint64_t>(CTest_Network::datasize.load(kRelaxed));
    setLabelText(ui->textLabelServer, NetworkAddressText(a));
    setLabelText(ui->textLabelCycleCount, QString::asprintf("Cycle %d:", static_cast<int>(relaxedLoad(r.cycles))));
    setLabelText(ui->textLabelSent, QString::asprintf("%0.2lf MBytes", static_cast<double>(sent) / kMB));
    setLabelText(ui->textLabelReceived, QString::asprintf("%0.2lf MBytes", static_cast<double>(received) / kMB));
    setLabelText(ui->textLabelAverageDelay,
        QString::asprintf("%0.2lf ms", static_cast<double>(CTest_Network::average_delay[a].load(kRelaxed))));
    setLabelText(ui->textLabelMaximumDelay,
        QString::asprintf("%0.2lf ms", static_cast<double>(CTest_Network::max_delay[a].load(kRelaxed))));
    setLabelText(ui->textLabelCurrentDelay,
        QString::asprintf("%0.2lf ms", static_cast<double>(CTest_Network::last_delay[a].load(kRelaxed))));

    // Both directions since the unit started.
    const timeval start = CTest_Network::UpdateStartTime(a);
    const timeval t = now();
    const double seconds = static_cast<double>(timeval_diff_msec(&start, &t) / 1000);
    const double rate = start.tv_sec != 0 && seconds > 0 ? static_cast<double>(sent + received) / kMB / seconds : 0;
    setLabelText(ui->textLabelFlowRate, QString::asprintf("%0.2lf MBytes/s", rate));

    // Bad exchanges among the requests since the last bad-packet-ratio
    // error: the figure that error is raised on.
    const std::uint64_t counted = CTest_Network::PktsSinceErr[a].load(kRelaxed);
    const std::uint64_t bad = CTest_Network::BadPktsSinceErr[a].load(kRelaxed);
    const double share = counted ? static_cast<double>(bad) * 100 / static_cast<double>(counted) : 0;
    setLabelText(
        ui->textLabelErrors, QString::asprintf("%d (%0.2lf%%)", static_cast<int>(relaxedLoad(r.errors)), share));
}
