#include "TestWindowCDROM_Base.h"

#include "ui_TestWindowCDROM_Base.h"

TestWindowCDROM_Base::TestWindowCDROM_Base(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags)
    : LiveTestWindow(run, slot, parent, flags)
    , ui(std::make_unique<Ui::TestWindowCDROM_Base>())
{
    ui->setupUi(this);
}

TestWindowCDROM_Base::~TestWindowCDROM_Base() = default;
