#include "ResultsPage.h"

#include "BuildInfo.h"
#include "CLogger.h"
#include "DebugTrace.h"
#include "MessageBox.h"
#include "Startup.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTemporaryFile>
#include <QTextDocument>
#include <QWidget>

#include <cerrno>
#include <cstdio>
#include <cstring>

void DrawResultsPage(const QString& path, int format)
{
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "w+");
    if (!file) {
        const int err = errno;
        DPrintf("%s[%d]: fopen: strerror(%d):%s\n", __func__, __LINE__, err, std::strerror(err));
        return;
    }
    if (gLogger && format == 1) {
        gLogger->WriteSystemInfoToFile(file);
        gLogger->saveasciiresultsummary(file, true);
    } else if (gLogger && format == 2) {
        WriteHTMLPageHead(file);
        gLogger->WriteHTMLSystemInfoToFile(file);
        gLogger->savehtmlresultsummary(file);
        WriteHTMLPageFoot(file);
    }
    std::fflush(file);
    std::rewind(file);
    std::fclose(file);
}

QString ResultsPageText(int format)
{
    // A private file (mode 0600, unique name) instead of a fixed name in the
    // working directory, which as root could replace a user's own file.
    QTemporaryFile temp(QDir::tempPath() + QStringLiteral("/kvxresults-XXXXXX"));
    if (!temp.open()) {
        DPrintf("%s[%d]: cannot create a temporary file in %s\n", __func__, __LINE__,
            QFile::encodeName(QDir::tempPath()).constData());
        return {};
    }
    DrawResultsPage(temp.fileName(), format);
    QFile page(temp.fileName());
    if (!page.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(page.readAll());
}

QString ResultsTextForClipboard()
{
    return ResultsPageText(1);
}

void CopyResultsToClipboard()
{
    QApplication::clipboard()->setText(ResultsTextForClipboard());
}

bool PrintResultsPage(QPrinter& printer, const QString& html, const QFont& font)
{
    const QString target = printer.outputFileName();
    if (!target.isEmpty() && QFileInfo::exists(target)) {
        const std::string text = "File " + QDir::toNativeSeparators(target).toStdString()
            + " already exists.\nDo you want to overwrite it?";
        if (ShowBox(BoxIcon::Warning, "Print to file", text, { "&Yes", "&No" }, 0, 1) != 0)
            return false;
    }
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    QTextDocument document;
    // Lay out in the printer's resolution so point sizes keep their size.
    document.documentLayout()->setPaintDevice(&printer);
    document.setDefaultFont(font);
    document.setHtml(html);
    const QRectF page = printer.pageRect(QPrinter::DevicePixel);
    document.setTextWidth(page.width());
    document.drawContents(&painter, QRectF(0, 0, page.width(), page.height()));
    painter.end();
    return true;
}

void PrintResults(QWidget* parent)
{
    const QString html = ResultsPageText(2);
    QPrinter printer;
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    PrintResultsPage(printer, html, parent ? parent->font() : QApplication::font());
}
