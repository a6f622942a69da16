// The form of the parallel port window as laid out in forms/TestWindowParallelPort_Base.ui, with no
// behaviour of its own; the behaviour class reaches the widgets through `ui`.
#pragma once

class Run;

#include "LiveTestWindow.h"

#include <memory>

namespace Ui {
class TestWindowParallelPort_Base;
}

class TestWindowParallelPort_Base : public LiveTestWindow {
    Q_OBJECT

public:
    TestWindowParallelPort_Base(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags);
    // Out of line: Ui::TestWindowParallelPort_Base is incomplete here.
    ~TestWindowParallelPort_Base() override;

protected:
    std::unique_ptr<Ui::TestWindowParallelPort_Base> ui;
};
