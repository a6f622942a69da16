// The result banner as laid out in forms/Window_ResultBanner_Base.ui, with no
// behaviour of its own. Window_ResultBanner derives from it and reaches the
// widgets through `ui`.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class Window_ResultBanner_Base;
}

class Window_ResultBanner_Base : public QDialog {
    Q_OBJECT

public:
    explicit Window_ResultBanner_Base(QWidget* parent = nullptr);
    // Out of line: Ui::Window_ResultBanner_Base is incomplete here.
    ~Window_ResultBanner_Base() override;

protected:
    std::unique_ptr<Ui::Window_ResultBanner_Base> ui;
};
