#include "TestWindowParallelPort_Base.h"

#include "ui_TestWindowParallelPort_Base.h"

TestWindowParallelPort_Base::TestWindowParallelPort_Base(
    const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags)
    : LiveTestWindow(run, slot, parent, flags)
    , ui(std::make_unique<Ui::TestWindowParallelPort_Base>())
{
    ui->setupUi(this);
}

TestWindowParallelPort_Base::~TestWindowParallelPort_Base() = default;
