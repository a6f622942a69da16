// The machine ID and notes dialog as laid out in
// forms/Window_EditMachineID_Base.ui, with no behaviour of its own.
// Window_EditMachineID derives from it and reaches the widgets through `ui`.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class Window_EditMachineID_Base;
}

class Window_EditMachineID_Base : public QDialog {
    Q_OBJECT

public:
    explicit Window_EditMachineID_Base(QWidget* parent = nullptr);
    // Out of line: Ui::Window_EditMachineID_Base is incomplete here.
    ~Window_EditMachineID_Base() override;

protected:
    std::unique_ptr<Ui::Window_EditMachineID_Base> ui;
};
