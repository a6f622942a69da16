#include "Window_About_Base.h"

#include "ui_Window_About_Base.h"

Window_About_Base::Window_About_Base(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::Window_About_Base>())
{
    ui->setupUi(this);
}

Window_About_Base::~Window_About_Base() = default;
