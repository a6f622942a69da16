// Shows which test the stop procedure is waiting for and how far it has got.
// The GUI thread sleeps between its calls, so every change is painted at once
// instead of waiting for an event loop turn.
#pragma once

#include "Window_ClosingTests_Base.h"

#include <QString>

class QCloseEvent;

class Window_ClosingTests : public Window_ClosingTests_Base {
    Q_OBJECT

public:
    explicit Window_ClosingTests(QWidget* parent = nullptr);

    // 0 to 100.
    void setProgress(int percent);
    void setText(const QString& text);

protected:
    // Refused: the stop procedure hides the window when every test is closed.
    void closeEvent(QCloseEvent* event) override;
};
