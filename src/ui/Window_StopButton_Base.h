// The stand-alone stop button window as laid out in
// forms/Window_StopButton_Base.ui, with no behaviour of its own.
// Window_StopButton derives from it and reaches the button through `ui`.
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Window_StopButton_Base;
}

class Window_StopButton_Base : public QWidget {
    Q_OBJECT

public:
    // A window of its own even when given a parent.
    explicit Window_StopButton_Base(QWidget* parent = nullptr);
    // Out of line: Ui::Window_StopButton_Base is incomplete here.
    ~Window_StopButton_Base() override;

protected:
    std::unique_ptr<Ui::Window_StopButton_Base> ui;
};
