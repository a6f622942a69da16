#include "Window_ResultBanner_Base.h"

#include "ui_Window_ResultBanner_Base.h"

Window_ResultBanner_Base::Window_ResultBanner_Base(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::Window_ResultBanner_Base>())
{
    ui->setupUi(this);
}

Window_ResultBanner_Base::~Window_ResultBanner_Base() = default;
