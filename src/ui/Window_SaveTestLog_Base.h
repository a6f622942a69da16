// The save-results dialog as laid out in forms/Window_SaveTestLog_Base.ui, with no behaviour of its own.
// Window_SaveTestLog derives from it and reaches the widgets through `ui`.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class Window_SaveTestLog_Base;
}

class Window_SaveTestLog_Base : public QDialog {
    Q_OBJECT

public:
    explicit Window_SaveTestLog_Base(QWidget* parent = nullptr);
    // Out of line: Ui::Window_SaveTestLog_Base is incomplete here.
    ~Window_SaveTestLog_Base() override;

protected:
    std::unique_ptr<Ui::Window_SaveTestLog_Base> ui;
};
