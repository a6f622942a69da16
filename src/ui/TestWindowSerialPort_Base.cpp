#include "TestWindowSerialPort_Base.h"

#include "ui_TestWindowSerialPort_Base.h"

TestWindowSerialPort_Base::TestWindowSerialPort_Base(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags)
    : LiveTestWindow(run, slot, parent, flags)
    , ui(std::make_unique<Ui::TestWindowSerialPort_Base>())
{
    ui->setupUi(this);
}

TestWindowSerialPort_Base::~TestWindowSerialPort_Base() = default;
