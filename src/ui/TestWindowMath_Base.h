// The form of the CPU maths window as laid out in forms/TestWindowMath_Base.ui, with no
// behaviour of its own; the behaviour class reaches the widgets through `ui`.
#pragma once

class Run;

#include "LiveTestWindow.h"

#include <memory>

namespace Ui {
class TestWindowMath_Base;
}

class TestWindowMath_Base : public LiveTestWindow {
    Q_OBJECT

public:
    TestWindowMath_Base(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags);
    // Out of line: Ui::TestWindowMath_Base is incomplete here.
    ~TestWindowMath_Base() override;

protected:
    std::unique_ptr<Ui::TestWindowMath_Base> ui;
};
