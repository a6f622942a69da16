#include "TestWindowMath_Base.h"

#include "ui_TestWindowMath_Base.h"

TestWindowMath_Base::TestWindowMath_Base(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags)
    : LiveTestWindow(run, slot, parent, flags)
    , ui(std::make_unique<Ui::TestWindowMath_Base>())
{
    ui->setupUi(this);
}

TestWindowMath_Base::~TestWindowMath_Base() = default;
