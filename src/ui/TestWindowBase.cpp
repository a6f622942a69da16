#include "TestWindowBase.h"

#include "ui_TestWindowBase.h"

TestWindowBase::TestWindowBase(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags)
    : LiveTestWindow(run, slot, parent, flags)
    , ui(std::make_unique<Ui::TestWindowBase>())
{
    ui->setupUi(this);
}

TestWindowBase::~TestWindowBase() = default;
