#include "MainWin.h"

#include "ui_MainWin.h"

#include <array>

namespace {
// Designer cannot store column widths of a QTableWidget.
constexpr std::array<int, 5> kColumnWidths = { 160, 50, 100, 50, 240 };
} // namespace

MainWin::MainWin(QWidget* parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWin>())
{
    ui->setupUi(this);
    for (int column = 0; column < static_cast<int>(kColumnWidths.size()); ++column)
        ui->testTable->setColumnWidth(column, kColumnWidths[static_cast<size_t>(column)]);
}

MainWin::~MainWin() = default;
