#include "Window_StopButton_Base.h"

#include "ui_Window_StopButton_Base.h"

#include <QIcon>
#include <QStyle>

Window_StopButton_Base::Window_StopButton_Base(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::Window_StopButton_Base>())
{
    ui->setupUi(this);
    // No image resources in the tree: the desktop theme's stop icon, or the
    // style's own where the theme has none.
    ui->pushButton_Stop->setIcon(
        QIcon::fromTheme(QStringLiteral("process-stop"), style()->standardIcon(QStyle::SP_BrowserStop)));
}

Window_StopButton_Base::~Window_StopButton_Base() = default;
