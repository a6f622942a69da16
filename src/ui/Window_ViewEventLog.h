// The event log window: the event log's lines, oldest first, each with an
// icon for its severity, growing live while the window exists.
#pragma once

#include "Window_ViewEventLog_Base.h"

class QResizeEvent;
class QTimerEvent;

class Window_ViewEventLog : public Window_ViewEventLog_Base {
    Q_OBJECT

public:
    explicit Window_ViewEventLog(QWidget* parent = nullptr);

    // Refills the table from the event log (gLogger); the main window calls
    // it just before showing the window.
    void LoadEventLog();

protected:
    void timerEvent(QTimerEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Adds rows from `from` up to the log's line count.
    void addLines(int from);

    int m_timer = 0;
    int m_linesShown = 0;
};
