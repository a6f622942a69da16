// The event log window: the event log's lines, oldest first, each with an
// icon for its severity, growing live while the window exists.
#pragma once

#include "Window_ViewEventLog_Base.h"

#include <cstdint>

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
    // Adds the lines logged since the last look and drops the rows of
    // lines the log no longer holds.
    void addLines();

    int m_timer = 0;
    // The event log's running line total at the last look.
    std::uint64_t m_linesSeen = 0;
};
