// Checks the main window form: the behaviour class and the result log rely on
// these object names, texts and orders, so a slip in Designer shows up here.
#include "MainWin.h"

#include "QtTestUtils.h"
#include "TempDir.h"

#include <QAction>
#include <QGroupBox>
#include <QKeySequence>
#include <QLCDNumber>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTableWidget>
#include <QToolBar>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

// Action texts in order, "|" for a separator.
std::string render(const QList<QAction*>& actions)
{
    std::string out;
    for (const QAction* action : actions)
        out += (out.empty() ? "" : ", ") + (action->isSeparator() ? std::string("|") : action->text().toStdString());
    return out;
}

class MainWinForm : public ::testing::Test {
protected:
    template <class T> T* child(const char* name) { return findChildOrFail<T>(&win, QString::fromLatin1(name)); }
    MainWin win;
};

// Each action's tips, shortcut and check box (a stray action shows up), the menus, the toolbar, then
// each info box's captions and the empty value labels the behaviour class fills in.
TEST_F(MainWinForm, TextsInfoBoxesAndAnEmptyReadOnlyTable)
{
    std::map<std::string, std::string> tips;
    for (const QAction* a : win.findChildren<QAction*>(Qt::FindDirectChildrenOnly))
        tips[a->objectName().toStdString()]
            = (a->statusTip() + (a->toolTip() == a->statusTip() ? "" : " / " + a->toolTip())
                + (a->shortcut().isEmpty() ? "" : " " + a->shortcut().toString(QKeySequence::PortableText))
                + (a->isCheckable() ? (a->isChecked() ? " [x]" : " [ ]") : ""))
                  .toStdString();
    std::string form;
    for (const auto& [name, tip] : tips)
        form += name + ": " + tip + "\n";
    for (const QAction* entry : win.menuBar()->actions()) {
        const QMenu* menu = entry->menu();
        form += (menu ? menu->objectName().toStdString() + " " + menu->title().toStdString() + ": "
                            + render(menu->actions())
                      : entry->text().toStdString())
            + "\n";
    }
    EXPECT_EQ(win.findChildren<QToolBar*>().size(), 1);
    auto* toolbar = child<QToolBar>("Toolbar");
    // Theme icons may be missing, so the text must show under them.
    EXPECT_EQ(toolbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    form += "Toolbar: " + render(toolbar->actions()) + "\n";
    for (const char* name : { "groupBox1", "groupBox2" }) {
        auto* box = child<QGroupBox>(name);
        QString seen = box->title();
        for (const QLabel* label : box->findChildren<QLabel*>())
            seen += " | " + label->objectName() + " " + label->text();
        form += seen.toStdString() + "\n";
    }
    EXPECT_EQ(form, GoldenFile(KVX_SOURCE_DIR "/tests/data/main_window_form.txt", form));

    EXPECT_EQ(child<QLabel>("textLabel_Header")->text() + child<QLabel>("textLabel_Footer")->text(), QString());
    EXPECT_GE(findChildOrFail<QLCDNumber>(child<QGroupBox>("groupBox2"), "lcdElapsed")->digitCount(), 8)
        << "\"00:00:00\" would overflow";
    // The results table fills its columns; the form's table starts empty and read-only.
    auto* table = child<QTableWidget>("testTable");
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_EQ(table->editTriggers(), QAbstractItemView::NoEditTriggers);
}

} // namespace
