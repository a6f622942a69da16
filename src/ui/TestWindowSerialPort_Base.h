// The form of the serial port window as laid out in forms/TestWindowSerialPort_Base.ui, with no
// behaviour of its own; the behaviour class reaches the widgets through `ui`.
#pragma once

class Run;

#include "LiveTestWindow.h"

#include <memory>

namespace Ui {
class TestWindowSerialPort_Base;
}

class TestWindowSerialPort_Base : public LiveTestWindow {
    Q_OBJECT

public:
    TestWindowSerialPort_Base(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags);
    // Out of line: Ui::TestWindowSerialPort_Base is incomplete here.
    ~TestWindowSerialPort_Base() override;

protected:
    std::unique_ptr<Ui::TestWindowSerialPort_Base> ui;
};
