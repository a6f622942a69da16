// The test selection and duty cycle dialog as laid out in
// forms/TestConfigBase.ui, with no behaviour of its own. TestConfig derives
// from it and reaches the widgets through `ui`.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TestConfigBase;
}

class TestConfigBase : public QDialog {
    Q_OBJECT

public:
    explicit TestConfigBase(QWidget* parent = nullptr);
    // Out of line: Ui::TestConfigBase is incomplete here.
    ~TestConfigBase() override;

protected:
    std::unique_ptr<Ui::TestConfigBase> ui;
};
