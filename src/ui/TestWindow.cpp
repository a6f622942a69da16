#include "TestWindow.h"

#include "AtomicField.h"
#include "ConfigRecord.h"
#include "ResultRecord.h"
#include "ui_TestWindowBase.h"

TestWindow::TestWindow(const QString& name, int slot, QWidget* parent, Qt::WindowFlags flags)
    : TestWindowBase(slot, parent, flags)
{
    if (slot != kSlotMemory) {
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
    if (s == kSlotMemory)
        refreshMemory();
}

void TestWindow::refreshMemory() { }
