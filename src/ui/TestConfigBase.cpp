#include "TestConfigBase.h"

#include "ui_TestConfigBase.h"

TestConfigBase::TestConfigBase(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TestConfigBase>())
{
    ui->setupUi(this);
}

TestConfigBase::~TestConfigBase() = default;
