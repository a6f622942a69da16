// The form of the memory window (and the plain window of any other slot) as laid out in forms/TestWindowBase.ui, with
// no behaviour of its own; the behaviour class reaches the widgets through `ui`.
#pragma once

class Run;

#include "LiveTestWindow.h"

#include <memory>

namespace Ui {
class TestWindowBase;
}

class TestWindowBase : public LiveTestWindow {
    Q_OBJECT

public:
    TestWindowBase(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags);
    // Out of line: Ui::TestWindowBase is incomplete here.
    ~TestWindowBase() override;

protected:
    std::unique_ptr<Ui::TestWindowBase> ui;
};
