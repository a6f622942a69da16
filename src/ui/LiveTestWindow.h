// The common part of the live test windows: one small window per running
// test, refreshed by the main window's update timer and whenever it is
// painted, that the user cannot close. Each window's form class derives
// from this one; the behaviour class fills in refreshLabels().
#pragma once

class Run;

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <span>
#include <sys/time.h>

class QCloseEvent;
class QLabel;
class QPaintEvent;

// Elapsed milliseconds from `start` to `end`; 0 when `end` lies before
// `start`. Any thread.
long double timeval_diff_msec(const timeval* start, const timeval* end);

class LiveTestWindow : public QWidget {
    Q_OBJECT

public:
    // The slot whose test the window shows.
    int slot() const { return m_slot; }

    // Recomputes every label from the shared test state. GUI thread.
    void UpdateWindow();

    // The time of day as the windows see it. GUI thread.
    static timeval now();
    // Test-only: `clock` replaces the time of day; null restores it.
    using Clock = timeval (*)();
    static void SetClockForTests(Clock clock);

protected:
    // A window of its own even when given a parent.
    LiveTestWindow(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags);

    // The end of every behaviour class's constructor: caption, the size
    // fixed to the form's design, and the first refresh.
    void finishSetUp(const QString& caption);

    virtual void refreshLabels() = 0;

    // The run whose live status the window shows.
    const Run& m_run;

    // Refused: a live window lives exactly as long as its run.
    void closeEvent(QCloseEvent* event) override;
    // Refreshes before painting, unless the window was refreshed moments
    // ago: a label changed by a refresh repaints the window beneath it, and
    // refreshing again for that paint would keep the GUI thread repainting
    // for as long as the figures move.
    void paintEvent(QPaintEvent* event) override;

private:
    int m_slot;
    QElapsedTimer m_lastRefresh;
};

// The least time between a refresh and one caused by a paint, in ms.
constexpr int kPaintRefreshGapMs = 500;

// The live window of `slot` with the slot name `name`, or null when the
// slot has none here (the graphics tests draw in windows of their own).
// GUI thread.
LiveTestWindow* CreateTestWindow(const Run& run, int slot, const QString& name, QWidget* parent);

// Refreshes every live test window among `windows` (entries may be null or
// other widgets). GUI thread.
void UpdateAllChildWindows(std::span<QWidget* const> windows);

// Sets `label`'s text only when it differs, so an unchanged figure causes
// no repaint.
void setLabelText(QLabel* label, const QString& text);
