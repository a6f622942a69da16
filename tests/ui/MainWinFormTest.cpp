// Checks the main window form: the behaviour class and the result log rely on
// these object names, texts and orders, so a slip in Designer shows up here.
#include "MainWin.h"

#include "QtTestUtils.h"

#include <QAction>
#include <QApplication>
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
#include <vector>

namespace {

using Texts = std::vector<std::string>;

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

TEST_F(MainWinForm, ActionsMenusAndToolbar)
{
    // Each action's status tip (its tool tip too, unless shown apart), shortcut and check box; an unnamed or
    // stray action in the form shows up as a difference here. The texts follow in the menus.
    std::map<std::string, std::string> tips;
    for (const QAction* a : win.findChildren<QAction*>(Qt::FindDirectChildrenOnly))
        tips[a->objectName().toStdString()]
            = (a->statusTip() + (a->toolTip() == a->statusTip() ? "" : " / " + a->toolTip())
                + (a->shortcut().isEmpty() ? "" : " " + a->shortcut().toString(QKeySequence::PortableText))
                + (a->isCheckable() ? (a->isChecked() ? " [x]" : " [ ]") : ""))
                  .toStdString();
    EXPECT_EQ(tips,
        (std::map<std::string, std::string> { { "fileSaveTestLogAction", "Save results as a result log" },
            { "filePrintAction", "Print the current results Ctrl+P" }, { "fileExitAction", "Quit KalvexTest." },
            { "editCopyResultsToClipboardAction", "Copy results to clipboard" },
            { "editClearAllResultsAction", "Clear results" },
            { "editMachineIDNotesAction", "Input additional machine details." },
            { "viewEventLogAction", "Show detailed event log" },
            { "viewErrorByCategoryAction", "Display error by categories. [ ]" },
            { "configurationTestDutyCyclesAction", "Select tests to perform and their duty cycle" },
            { "configurationTestPreferencesAction", "Set preferences" },
            { "configurationLoadConfigAction", "Loads a configuration file." },
            { "configurationSaveConfigAction", "Saves current test configuration." },
            { "testStartTestRunAction", "Start tests" }, { "testStopTestRunAction", "Stop tests" },
            { "testExecuteScriptAction", "Execute test script." }, { "helpUserGuideAction", "Help contents page" },
            { "helpVeltraneHomepageAction", " / Veltrane Homepage" }, { "helpAboutAction", "About KalvexTest." } }));

    Texts menus;
    for (const QAction* entry : win.menuBar()->actions()) {
        const QMenu* menu = entry->menu();
        menus.push_back(menu
                ? menu->objectName().toStdString() + " " + menu->title().toStdString() + ": " + render(menu->actions())
                : entry->text().toStdString());
    }
    EXPECT_EQ(menus,
        (Texts { "fileMenu &File: Save Test Log, |, &Print..., |, E&xit",
            "editMenu &Edit: Copy Results To Clipboard, Clear All Results, Machine ID and Notes",
            "viewMenu View: Event Log, Error By Category",
            "configurationMenu Configuration: Test Duty Cycles, Test Preferences, |, Load Config, Save Config",
            "testMenu &Test: Start Test Run, Stop Test Run, Execute Script",
            "helpMenu &Help: Help, |, Veltrane Homepage, &About" }));

    EXPECT_EQ(win.findChildren<QToolBar*>().size(), 1);
    auto* toolbar = child<QToolBar>("Toolbar");
    // Theme icons may be missing, so the text must show under them.
    EXPECT_EQ(toolbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_EQ(render(toolbar->actions()),
        "Save Test Log, &Print..., Copy Results To Clipboard, Clear All Results, Event Log, Test Duty Cycles, "
        "Test Preferences, Start Test Run, Stop Test Run, Help, Veltrane Homepage");
}

TEST_F(MainWinForm, InfoBoxesAndAnEmptyReadOnlyTableTakingTheSpareHeight)
{
    // Each box's title, then its captions and the (empty) value labels the behaviour class fills in.
    for (auto [name, expected] : { std::pair { "groupBox1",
                                       "System Info: | textLabel2 CPU type: | cpuTypeLabel  | textLabel6 CPU speed: | "
                                       "cpuSpeedLabel  | textLabel1 CPU manufacturer: | cpuManufacturerLabel  | "
                                       "textLabel2_3 Machine name: | textLabelHostname  | textLabel_Label_IPAddress "
                                       "IP Address: | textLabelIPAddress " },
             { "groupBox2",
                 "Test Info: | textLabel1_2 Start time: | startTimeLabel  | textLabel4 Stop time: | stopTimeLabel  | "
                 "textLabel1_3 Elapsed: | textLabel4_2 Config file: | textLabel_ConfigFile " } }) {
        auto* box = child<QGroupBox>(name);
        QString seen = box->title();
        for (const QLabel* label : box->findChildren<QLabel*>())
            seen += " | " + label->objectName() + " " + label->text();
        EXPECT_EQ(seen.toStdString(), expected);
    }
    EXPECT_EQ(child<QLabel>("textLabel_Header")->text() + child<QLabel>("textLabel_Footer")->text(), QString());
    EXPECT_GE(findChildOrFail<QLCDNumber>(child<QGroupBox>("groupBox2"), "lcdElapsed")->digitCount(), 8)
        << "\"00:00:00\" would overflow";
    // The results table fills its columns; the form's table starts empty and read-only.
    auto* table = child<QTableWidget>("testTable");
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_EQ(table->editTriggers(), QAbstractItemView::NoEditTriggers);

    // Info boxes side by side, then header, table and footer; the table takes the spare height.
    auto* box = child<QGroupBox>("groupBox1");
    win.resize(900, 600);
    win.show();
    QApplication::processEvents();
    const int tableBefore = table->height(), boxBefore = box->height();
    win.resize(900, 900);
    QApplication::processEvents();
    EXPECT_EQ(std::pair(table->height() - tableBefore, box->height()), std::pair(300, boxBefore));
    auto pos = [this](const QWidget* w) { return w->mapTo(&win, QPoint(0, 0)); };
    const auto* box2 = child<QGroupBox>("groupBox2");
    EXPECT_TRUE(pos(box).y() == pos(box2).y() && pos(box).x() < pos(box2).x());
    const QWidget* above = box;
    for (const char* name : { "textLabel_Header", "testTable", "textLabel_Footer" }) {
        const auto* below = child<QWidget>(name);
        EXPECT_LE(pos(above).y() + above->height(), pos(below).y()) << name;
        above = below;
    }
}

} // namespace
