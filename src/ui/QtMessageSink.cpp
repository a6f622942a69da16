#include "QtMessageSink.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <cstdio>

namespace {
QString tr8(const std::string& s)
{
    // Texts pass the translation call, as every user-visible text does.
    return QCoreApplication::translate("KalvexTest", s.c_str());
}

// QMessageBox makes a lone button the one that Esc and the close button
// press, so a "Quit" box could never be dismissed. Without an escape button
// of the caller's, both close this box with no button pressed.
class SinkBox : public QMessageBox {
public:
    bool dismissible = false;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (dismissible && event->matches(QKeySequence::Cancel)) {
            reject();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override
    {
        if (dismissible)
            QDialog::closeEvent(event);
        else
            QMessageBox::closeEvent(event);
    }
};
} // namespace

int QtMessageSink::show(BoxIcon icon, const std::string& caption, const std::string& text,
    const std::vector<std::string>& buttons, int defaultButton, int escapeButton)
{
    // Widgets live in the GUI thread only. A box asked for by a test thread
    // (a failed save of the configuration from the event log) is written to
    // the trace instead and counts as dismissed.
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return -1;
    }
    SinkBox box;
    box.setIcon(icon == BoxIcon::Critical ? QMessageBox::Critical
            : icon == BoxIcon::Warning    ? QMessageBox::Warning
                                          : QMessageBox::Information);
    box.setWindowTitle(tr8(caption));
    box.setText(tr8(text));
    box.setTextFormat(Qt::PlainText);
    std::vector<QPushButton*> pushButtons;
    for (const auto& b : buttons)
        pushButtons.push_back(box.addButton(tr8(b), QMessageBox::ActionRole));
    auto valid = [&](int i) { return i >= 0 && i < static_cast<int>(pushButtons.size()); };
    if (valid(defaultButton))
        box.setDefaultButton(pushButtons[static_cast<std::size_t>(defaultButton)]);
    if (valid(escapeButton))
        box.setEscapeButton(pushButtons[static_cast<std::size_t>(escapeButton)]);
    else
        box.dismissible = true;
    box.exec();
    for (std::size_t i = 0; i < pushButtons.size(); ++i)
        if (box.clickedButton() == pushButtons[i])
            return static_cast<int>(i);
    return -1;
}
