// A STOP button that stays on screen during a run, apart from the main
// window. The run control shows and hides it; its creator sets the caption.
#pragma once

#include "Window_StopButton_Base.h"

class QCloseEvent;

class Window_StopButton : public Window_StopButton_Base {
    Q_OBJECT

public:
    explicit Window_StopButton(QWidget* parent = nullptr);

public slots:
    void slotStopTest();

signals:
    // The user asked for the run to stop; the main window's Stop command.
    void stopTest();

protected:
    // Refused: only the run control hides it.
    void closeEvent(QCloseEvent* event) override;
};
