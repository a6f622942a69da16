// The event log window as laid out in forms/Window_ViewEventLog_Base.ui, with no behaviour of its own.
// Window_ViewEventLog derives from it and reaches the widgets through `ui`.
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Window_ViewEventLog_Base;
}

class Window_ViewEventLog_Base : public QWidget {
    Q_OBJECT

public:
    explicit Window_ViewEventLog_Base(QWidget* parent = nullptr);
    // Out of line: Ui::Window_ViewEventLog_Base is incomplete here.
    ~Window_ViewEventLog_Base() override;

protected:
    std::unique_ptr<Ui::Window_ViewEventLog_Base> ui;
};
