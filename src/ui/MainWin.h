// The main window as laid out in forms/MainWin.ui, with no behaviour of its
// own. KVXMainApp derives from it and reaches the widgets through `ui`.
#pragma once

#include <QMainWindow>

#include <memory>

namespace Ui {
class MainWin;
}

class MainWin : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWin(QWidget* parent = nullptr);
    // Out of line: Ui::MainWin is incomplete here.
    ~MainWin() override;

protected:
    std::unique_ptr<Ui::MainWin> ui;
};
