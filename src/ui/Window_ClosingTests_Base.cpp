#include "Window_ClosingTests_Base.h"

#include "ui_Window_ClosingTests_Base.h"

Window_ClosingTests_Base::Window_ClosingTests_Base(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::Window_ClosingTests_Base>())
{
    ui->setupUi(this);
}

Window_ClosingTests_Base::~Window_ClosingTests_Base() = default;
