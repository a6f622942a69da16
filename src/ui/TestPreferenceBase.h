// The preferences dialog as laid out in forms/TestPreferenceBase.ui, with no
// behaviour of its own. TestPreference derives from it and reaches the
// widgets through `ui`.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TestPreferenceBase;
}

class TestPreferenceBase : public QDialog {
    Q_OBJECT

public:
    explicit TestPreferenceBase(QWidget* parent = nullptr);
    // Out of line: Ui::TestPreferenceBase is incomplete here.
    ~TestPreferenceBase() override;

protected:
    std::unique_ptr<Ui::TestPreferenceBase> ui;
};
