// The closing-tests progress window as laid out in
// forms/Window_ClosingTests_Base.ui, with no behaviour of its own.
// Window_ClosingTests derives from it and reaches the widgets through `ui`.
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Window_ClosingTests_Base;
}

class Window_ClosingTests_Base : public QWidget {
    Q_OBJECT

public:
    // A window of its own even when given a parent.
    explicit Window_ClosingTests_Base(QWidget* parent = nullptr);
    // Out of line: Ui::Window_ClosingTests_Base is incomplete here.
    ~Window_ClosingTests_Base() override;

protected:
    std::unique_ptr<Ui::Window_ClosingTests_Base> ui;
};
