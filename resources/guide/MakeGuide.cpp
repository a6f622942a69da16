// Turns the user guide's Markdown source into the PDF that Help opens.
// Usage: kvx_makeguide guide.md kvxhelp.pdf
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QBrush>
#include <QTextBlock>

#include <cstdio>

namespace {

// Markdown tables come without rules; a printed table needs them.
void ruleTables(QTextDocument& doc)
{
    // Tables sit in the root frame's blocks; find each through a cursor.
    QTextCursor cursor(&doc);
    QTextTable* last = nullptr;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        cursor.setPosition(block.position());
        QTextTable* table = cursor.currentTable();
        if (table && table != last) {
            last = table;
            QTextTableFormat format = table->format();
            format.setBorder(1);
            format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
            format.setBorderBrush(Qt::darkGray);
            format.setCellPadding(3);
            format.setCellSpacing(0);
            table->setFormat(format);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    // A build step: no display needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s guide.md output.pdf\n", argv[0]);
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(source.errorString()));
        return 1;
    }
    QTextDocument doc;
    doc.setMarkdown(QString::fromUtf8(source.readAll()));
    ruleTables(doc);

    // Written beside the target and renamed, so a failed build leaves no
    // half-written guide behind.
    QSaveFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "%s: %s\n", argv[2], qPrintable(out.errorString()));
        return 1;
    }
    {
        QPdfWriter writer(&out);
        writer.setTitle(QStringLiteral("KalvexTest user guide"));
        writer.setCreator(QStringLiteral("KalvexTest"));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
        doc.print(&writer);
    }
    if (!out.commit()) {
        std::fprintf(stderr, "%s: %s\n", argv[2], qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
