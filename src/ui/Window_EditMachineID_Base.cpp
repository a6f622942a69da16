#include "Window_EditMachineID_Base.h"

#include "ui_Window_EditMachineID_Base.h"

Window_EditMachineID_Base::Window_EditMachineID_Base(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::Window_EditMachineID_Base>())
{
    ui->setupUi(this);
}

Window_EditMachineID_Base::~Window_EditMachineID_Base() = default;
