// The form of the disk window as laid out in forms/TestWindowDisk_Base.ui, with no
// behaviour of its own; the behaviour class reaches the widgets through `ui`.
#pragma once

class Run;

#include "LiveTestWindow.h"

#include <memory>

namespace Ui {
class TestWindowDisk_Base;
}

class TestWindowDisk_Base : public LiveTestWindow {
    Q_OBJECT

public:
    TestWindowDisk_Base(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags);
    // Out of line: Ui::TestWindowDisk_Base is incomplete here.
    ~TestWindowDisk_Base() override;

protected:
    std::unique_ptr<Ui::TestWindowDisk_Base> ui;
};
