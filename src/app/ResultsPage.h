// The result page behind copying and printing: the system information and
// result summary as plain text (format 1) or an HTML page (format 2).
#pragma once

#include <QString>

class QFont;
class QPrinter;
class QWidget;

// Writes the page to `path` (created or emptied). A file that cannot be
// opened leaves a debug trace line and nothing else; any other format writes
// an empty file. GUI thread.
void DrawResultsPage(const QString& path, int format);

// The page's text, written through a private temporary file that is removed
// again: nothing lands in the working directory. GUI thread.
QString ResultsPageText(int format);

// The plain-text page, for the clipboard.
QString ResultsTextForClipboard();
// Puts that text on the system clipboard.
void CopyResultsToClipboard();

// Asks for a printer (the dialog parented to `parent`) and prints the HTML
// page in the parent's font.
void PrintResults(QWidget* parent);

// Prints `html` on `printer` as one page the width of the page. When the
// printer prints into a file that already exists, asks first; returns false
// when the user declines or painting cannot start.
bool PrintResultsPage(QPrinter& printer, const QString& html, const QFont& font);
