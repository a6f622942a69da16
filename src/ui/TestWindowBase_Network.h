// The form of the network window as laid out in forms/TestWindowBase_Network.ui, with no
// behaviour of its own; the behaviour class reaches the widgets through `ui`.
#pragma once

class Run;

#include "LiveTestWindow.h"

#include <memory>

namespace Ui {
class TestWindowBase_Network;
}

class TestWindowBase_Network : public LiveTestWindow {
    Q_OBJECT

public:
    TestWindowBase_Network(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags);
    // Out of line: Ui::TestWindowBase_Network is incomplete here.
    ~TestWindowBase_Network() override;

protected:
    std::unique_ptr<Ui::TestWindowBase_Network> ui;
};
