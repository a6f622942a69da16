// PASSED in green or FAILED in red, flashing twice a second, shown when a run
// stops by itself. The main window keeps one instance for the life of the
// program; OK closes it and the flashing stops until the next showResult().
#pragma once

#include "Window_ResultBanner_Base.h"

#include <QTimer>

class QHideEvent;
class QPaintEvent;

class Window_ResultBanner : public Window_ResultBanner_Base {
    Q_OBJECT

public:
    explicit Window_ResultBanner(QWidget* parent = nullptr);

    // `failed` is the run's error total: 0 passes, anything else fails.
    void showResult(int failed);

protected:
    // Each paint flips the colours, so every flash tick is one flip.
    void paintEvent(QPaintEvent* event) override;
    // Closed by OK, the frame or hide(): no more flashing. A minimised banner
    // keeps its timer and flashes again when restored.
    void hideEvent(QHideEvent* event) override;

private:
    QTimer* m_flashTimer = new QTimer(this);
    int m_failed = 0;
};
