#include "Window_SaveTestLog_Base.h"

#include "ui_Window_SaveTestLog_Base.h"

Window_SaveTestLog_Base::Window_SaveTestLog_Base(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::Window_SaveTestLog_Base>())
{
    ui->setupUi(this);
}

Window_SaveTestLog_Base::~Window_SaveTestLog_Base() = default;
