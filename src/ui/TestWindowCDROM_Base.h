// The form of the CD/DVD window as laid out in forms/TestWindowCDROM_Base.ui, with no
// behaviour of its own; the behaviour class reaches the widgets through `ui`.
#pragma once

class Run;

#include "LiveTestWindow.h"

#include <memory>

namespace Ui {
class TestWindowCDROM_Base;
}

class TestWindowCDROM_Base : public LiveTestWindow {
    Q_OBJECT

public:
    TestWindowCDROM_Base(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags);
    // Out of line: Ui::TestWindowCDROM_Base is incomplete here.
    ~TestWindowCDROM_Base() override;

protected:
    std::unique_ptr<Ui::TestWindowCDROM_Base> ui;
};
