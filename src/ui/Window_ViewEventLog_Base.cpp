#include "Window_ViewEventLog_Base.h"

#include "ui_Window_ViewEventLog_Base.h"

Window_ViewEventLog_Base::Window_ViewEventLog_Base(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::Window_ViewEventLog_Base>())
{
    ui->setupUi(this);
}

Window_ViewEventLog_Base::~Window_ViewEventLog_Base() = default;
