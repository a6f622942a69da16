#include "TestWindowBase_Network.h"

#include "ui_TestWindowBase_Network.h"

TestWindowBase_Network::TestWindowBase_Network(const Run& run, int slot, QWidget* parent, Qt::WindowFlags flags)
    : LiveTestWindow(run, slot, parent, flags)
    , ui(std::make_unique<Ui::TestWindowBase_Network>())
{
    ui->setupUi(this);
}

TestWindowBase_Network::~TestWindowBase_Network() = default;
