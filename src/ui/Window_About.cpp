#include "Window_About.h"

#include "ui_Window_About_Base.h"

#include "BuildInfo.h"
#include "ResultsTable.h"
#include "WindowTiler.h"

#include <QLabel>

Window_About::Window_About(QWidget* parent)
    : Window_About_Base(parent)
{
    InitUiResources();
    ui->pixmapLabel_Picture->setPixmap(QPixmap(QStringLiteral(":/icons/about.png")));
    setWindowTitle(QStringLiteral("About KalvexTest"));
    ui->textLabel_AppInfo->setText(QStringLiteral("%1 %2 (%3) %4").arg(kProduct, kVersion, kBuildNumber, kPlatform));
    ui->textLabel_CompanyInfo->setText(
        QStringLiteral("A hardware reliability and burn-in test from %1.\n%2").arg(kMaker, kHomePage));
    CentreOnDesktop(this);
    setFixedSize(sizeHint().expandedTo(size()));
}
