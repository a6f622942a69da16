#include "TestWindowDisk_Base.h"

#include "ui_TestWindowDisk_Base.h"

TestWindowDisk_Base::TestWindowDisk_Base(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags)
    : LiveTestWindow(run, slot, parent, flags)
    , ui(std::make_unique<Ui::TestWindowDisk_Base>())
{
    ui->setupUi(this);
}

TestWindowDisk_Base::~TestWindowDisk_Base() = default;
