#include "LiveTestWindow.h"

#include "ConfigRecord.h"
#include "EngineInfo.h"
#include "ResultsTable.h"
#include "TestWindow.h"
#include "TestWindow_CDROM.h"
#include "TestWindow_Disk.h"
#include "TestWindow_Math.h"
#include "TestWindow_Network.h"
#include "TestWindow_ParallelPort.h"
#include "TestWindow_SerialPort.h"

#include <QCloseEvent>
#include <QLabel>

#include <atomic>

namespace {

std::atomic<LiveTestWindow::Clock> g_clock { nullptr };

} // namespace

long double timeval_diff_msec(const timeval* start, const timeval* end)
{
    const long double sec = static_cast<long double>(end->tv_sec) - static_cast<long double>(start->tv_sec);
    const long double usec = static_cast<long double>(end->tv_usec) - static_cast<long double>(start->tv_usec);
    if (sec > 0)
        return sec * 1000 + usec / 1000;
    if (sec == 0 && usec >= 0)
        return usec / 1000;
    return 0;
}

LiveTestWindow::LiveTestWindow(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags | Qt::Window)
    , m_run(run)
    , m_slot(slot)
{
    InitUiResources();
}

void LiveTestWindow::finishSetUp(const QString& caption)
{
    setWindowTitle(caption);
    setFixedSize(size());
    UpdateWindow();
}

void LiveTestWindow::UpdateWindow()
{
    m_lastRefresh.start();
    refreshLabels();
}

timeval LiveTestWindow::now()
{
    if (Clock clock = g_clock.load(std::memory_order_acquire))
        return clock();
    timeval t {};
    gettimeofday(&t, nullptr);
    return t;
}

void LiveTestWindow::SetClockForTests(Clock clock)
{
    g_clock.store(clock, std::memory_order_release);
}

void LiveTestWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

void LiveTestWindow::paintEvent(QPaintEvent* event)
{
    if (!m_lastRefresh.isValid() || m_lastRefresh.elapsed() >= kPaintRefreshGapMs)
        UpdateWindow();
    QWidget::paintEvent(event);
}

LiveTestWindow* CreateTestWindow(const Run& run, int slot, const QString& name, QWidget* parent)
{
    const EngineInfo* engine = EngineFor(slot);
    switch (engine ? engine->window : LiveWindowKind::None) {
    case LiveWindowKind::Memory:
        return new TestWindow(run, name, slot, parent);
    case LiveWindowKind::Maths:
        return new TestWindow_Math(run, name, slot, parent);
    case LiveWindowKind::Disk:
        return new TestWindow_Disk(run, name, slot, parent);
    case LiveWindowKind::Network:
        return new TestWindow_Network(run, name, slot, parent);
    case LiveWindowKind::CdDvd:
        return new TestWindow_CDROM(run, name, slot, parent);
    case LiveWindowKind::ParallelPort:
        return new TestWindow_ParallelPort(run, name, slot, parent);
    case LiveWindowKind::SerialPort:
        return new TestWindow_SerialPort(run, name, slot, parent);
    case LiveWindowKind::None:
    case LiveWindowKind::Graphics2D:
    case LiveWindowKind::Graphics3D:
        break;
    }
    return nullptr;
}

void UpdateAllChildWindows(std::span<QWidget* const> windows)
{
    for (QWidget* w : windows)
        if (auto* live = qobject_cast<LiveTestWindow*>(w))
            live->UpdateWindow();
}

void setLabelText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}
