// The about window as laid out in forms/Window_About_Base.ui, with no behaviour of its own.
// Window_About derives from it and reaches the widgets through `ui`.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class Window_About_Base;
}

class Window_About_Base : public QDialog {
    Q_OBJECT

public:
    explicit Window_About_Base(QWidget* parent = nullptr);
    // Out of line: Ui::Window_About_Base is incomplete here.
    ~Window_About_Base() override;

protected:
    std::unique_ptr<Ui::Window_About_Base> ui;
};
