#include "TestWindow.h"

#include "AtomicField.h"
#include "CTest_Memory.h"
#include "ConfigRecord.h"
#include "EngineInfo.h"
#include "ResultRecord.h"
#include "Run.h"
#include "Startup.h"
#include "ui_TestWindowBase.h"

#include <QPalette>

#include <sys/sysinfo.h>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr double kMB = 1048576.0;
constexpr int kWriting = 1;
constexpr int kVerifying = 2;

QString megabytes(std::uint64_t bytes, const char* unit = "MBytes")
{
    return QString::asprintf("%0.2lf %s", static_cast<double>(bytes) / kMB, unit);
}

} // namespace

namespace {

bool isMemorySlot(int slot)
{
    const EngineInfo* engine = EngineFor(slot);
    return engine && engine->window == LiveWindowKind::Memory;
}

} // namespace

TestWindow::TestWindow(const Run& run, const QString& name, int slot, QWidget* parent, Qt::WindowFlags flags)
    : TestWindowBase(run, slot, parent, flags)
{
    if (!isMemorySlot(slot)) {
        for (QWidget* w : findChildren<QWidget*>())
            w->setVisible(w == ui->textLabelCaptionCycleCount || w == ui->textLabelCycleCount);
    }
    finishSetUp(name);
}

void TestWindow::refreshLabels()
{
    const int s = slot();
    if (s < 0 || s >= kNumSlots)
        return;
    setLabelText(ui->textLabelCycleCount,
        QString::asprintf("Cycle %d:", static_cast<int>(relaxedLoad(resultfile.results[s].cycles))));
    if (isMemorySlot(s))
        refreshMemory();
}

void TestWindow::refreshMemory()
{
    const MemoryLive& live = m_run.live<MemoryLive>(slot());
    const int status = live.status.load(kRelaxed);
    setLabelText(ui->textLabelStatus, status >= 0 && status < 4 ? CTest_Mem::status_text[status] : "");
    ui->progressBar->setValue(live.progress.load(kRelaxed));
    if (status == kWriting || status == kVerifying) {
        const QColor colour = status == kWriting ? QColor(255, 0, 0) : QColor(0, 255, 0);
        QPalette palette = ui->progressBar->palette();
        if (palette.color(QPalette::Highlight) != colour) {
            palette.setColor(QPalette::Highlight, colour);
            ui->progressBar->setPalette(palette);
        }
    }
    const int pattern = live.bufferPattern.load(kRelaxed);
    setLabelText(ui->textLabelPatternAbbrevText,
        pattern >= 0 && pattern < CTest_Mem::NumPatterns ? CTest_Mem::PatternText[pattern] : "");
    setLabelText(ui->textLabelTotalMemoryCount, megabytes(live.totalPhysicalRam.load(kRelaxed)));
    setLabelText(ui->textLabelTestMemoryCount, megabytes(live.testRam.load(kRelaxed)));
    setLabelText(ui->textLabelWriteCount, megabytes(live.opcountWrite.load(kRelaxed)));
    setLabelText(ui->textLabelVerifiedCount, megabytes(live.opcountRead.load(kRelaxed), "Mbytes"));

    // The free RAM as it is now, not as it was when the test sized its
    // buffer; the window keeps its latest reading.
    if (::sysinfo(&gSysInfo) == 0)
        m_freeRam = static_cast<std::uint64_t>(gSysInfo.freeram) * gSysInfo.mem_unit;
    else if (m_freeRam == 0)
        m_freeRam = live.freePhysicalRam.load(kRelaxed);
    setLabelText(ui->textLabelFreeMemoryCount, megabytes(m_freeRam));
}
