// Checks the main window form: the behaviour class and the result log rely on
// these object names, texts and orders, so a slip in Designer shows up here.
#include "MainWin.h"

#include "QtTestUtils.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLCDNumber>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTableWidget>
#include <QToolBar>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

struct ActionRow {
    const char* name;
    const char* text;
    const char* tip; // tool tip and status tip; null when the form sets none
    bool checkable;
    const char* shortcut;
};

const ActionRow kActions[] = {
    {"fileSaveTestLogAction", "Save Test Log", "Save results as a result log", false, ""},
    {"filePrintAction", "&Print...", "Print the current results", false, "Ctrl+P"},
    {"fileExitAction", "E&xit", "Quit KalvexTest.", false, ""},
    {"editCopyResultsToClipboardAction", "Copy Results To Clipboard", "Copy results to clipboard", false, ""},
    {"editClearAllResultsAction", "Clear All Results", "Clear results", false, ""},
    {"editMachineIDNotesAction", "Machine ID and Notes", "Input additional machine details.", false, ""},
    {"viewEventLogAction", "Event Log", "Show detailed event log", false, ""},
    {"viewErrorByCategoryAction", "Error By Category", "Display error by categories.", true, ""},
    {"configurationTestDutyCyclesAction", "Test Duty Cycles", "Select tests to perform and their duty cycle", false,
     ""},
    {"configurationTestPreferencesAction", "Test Preferences", "Set preferences", false, ""},
    {"configurationLoadConfigAction", "Load Config", "Loads a configuration file.", false, ""},
    {"configurationSaveConfigAction", "Save Config", "Saves current test configuration.", false, ""},
    {"testStartTestRunAction", "Start Test Run", "Start tests", false, ""},
    {"testStopTestRunAction", "Stop Test Run", "Stop tests", false, ""},
    {"testExecuteScriptAction", "Execute Script", "Execute test script.", false, ""},
    {"helpUserGuideAction", "Help", "Help contents page", false, ""},
    {"helpVeltraneHomepageAction", "Veltrane Homepage", nullptr, false, ""},
    {"helpAboutAction", "&About", "About KalvexTest.", false, ""},
};

using Rendered = std::vector<std::string>;

// Action texts in order, "|" for a separator.
Rendered render(const QList<QAction*>& actions)
{
    Rendered out;
    for (const QAction* action : actions)
        out.push_back(action->isSeparator() ? std::string("|") : action->text().toStdString());
    return out;
}

class MainWinForm : public ::testing::Test {
protected:
    template <class T>
    T* child(const char* name)
    {
        return findChildOrFail<T>(&win, QString::fromLatin1(name));
    }

    MainWin win;
};

TEST_F(MainWinForm, ActionsHaveTheirTextsTipsAndShortcuts)
{
    for (const ActionRow& row : kActions) {
        SCOPED_TRACE(row.name);
        auto* action = child<QAction>(row.name);
        EXPECT_EQ(action->text().toStdString(), row.text);
        // Without an explicit tip Qt derives one from the text.
        const QString tip = row.tip ? QString::fromUtf8(row.tip) : QString::fromUtf8(row.text).remove('&');
        EXPECT_EQ(action->toolTip(), tip);
        EXPECT_EQ(action->statusTip(), row.tip ? tip : QString());
        EXPECT_EQ(action->isCheckable(), row.checkable);
        EXPECT_FALSE(action->isChecked());
        EXPECT_EQ(action->shortcut().toString(QKeySequence::PortableText).toStdString(), row.shortcut);
    }
}

TEST_F(MainWinForm, WindowOwnsOnlyTheListedActions)
{
    // An unnamed or stray action in the form would show up here.
    std::set<std::string> expected;
    for (const ActionRow& row : kActions)
        expected.insert(row.name);
    std::set<std::string> actual;
    for (const QAction* action : win.findChildren<QAction*>(Qt::FindDirectChildrenOnly))
        actual.insert(action->objectName().toStdString());
    EXPECT_EQ(actual, expected);
}

TEST_F(MainWinForm, MenusHoldTheirActionsInOrder)
{
    struct MenuRow {
        const char* name;
        const char* title;
        Rendered items;
    };
    const MenuRow menus[] = {
        {"fileMenu", "&File", {"Save Test Log", "|", "&Print...", "|", "E&xit"}},
        {"editMenu", "&Edit", {"Copy Results To Clipboard", "Clear All Results", "Machine ID and Notes"}},
        {"viewMenu", "View", {"Event Log", "Error By Category"}},
        {"configurationMenu",
         "Configuration",
         {"Test Duty Cycles", "Test Preferences", "|", "Load Config", "Save Config"}},
        {"testMenu", "&Test", {"Start Test Run", "Stop Test Run", "Execute Script"}},
        {"helpMenu", "&Help", {"Help", "|", "Veltrane Homepage", "&About"}},
    };

    Rendered barOrder;
    for (const QAction* entry : win.menuBar()->actions())
        barOrder.push_back(entry->menu() ? entry->menu()->objectName().toStdString() : entry->text().toStdString());
    EXPECT_EQ(barOrder, (Rendered{"fileMenu", "editMenu", "viewMenu", "configurationMenu", "testMenu", "helpMenu"}));

    for (const MenuRow& row : menus) {
        SCOPED_TRACE(row.name);
        auto* menu = child<QMenu>(row.name);
        EXPECT_EQ(menu->title().toStdString(), row.title);
        EXPECT_EQ(render(menu->actions()), row.items);
    }
}

TEST_F(MainWinForm, ToolbarHoldsItsActionsInOrder)
{
    auto* toolbar = child<QToolBar>("Toolbar");
    EXPECT_EQ(win.findChildren<QToolBar*>().size(), 1);
    EXPECT_EQ(toolbar->windowTitle(), "Toolbar");
    EXPECT_EQ(win.toolBarArea(toolbar), Qt::TopToolBarArea);
    // Theme icons may be missing, so the text must show under them.
    EXPECT_EQ(toolbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_EQ(render(toolbar->actions()),
              (Rendered{"Save Test Log", "&Print...", "Copy Results To Clipboard", "Clear All Results", "Event Log",
                        "Test Duty Cycles", "Test Preferences", "Start Test Run", "Stop Test Run", "Help",
                        "Veltrane Homepage"}));
}

TEST_F(MainWinForm, ResultTableStartsEmptyAndReadOnly)
{
    auto* table = child<QTableWidget>("testTable");
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_EQ(table->editTriggers(), QAbstractItemView::NoEditTriggers);

    const char* headers[] = {"Test Name", "Cycles", "Operations", "Errors", "Last Error Description"};
    const int widths[] = {160, 50, 100, 50, 240};
    ASSERT_EQ(table->columnCount(), 5);
    for (int column = 0; column < 5; ++column) {
        SCOPED_TRACE(column);
        const QTableWidgetItem* header = table->horizontalHeaderItem(column);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->text().toStdString(), headers[column]);
        EXPECT_EQ(table->horizontalHeader()->sectionSize(column), widths[column]);
    }
}

TEST_F(MainWinForm, InfoBoxesPairCaptionsWithEmptyValues)
{
    struct LabelRow {
        const char* box;
        const char* caption;
        const char* text;
        const char* value; // label that the behaviour class fills in
    };
    const LabelRow rows[] = {
        {"groupBox1", "textLabel2", "CPU type:", "cpuTypeLabel"},
        {"groupBox1", "textLabel6", "CPU speed:", "cpuSpeedLabel"},
        {"groupBox1", "textLabel1", "CPU manufacturer:", "cpuManufacturerLabel"},
        {"groupBox1", "textLabel2_3", "Machine name:", "textLabelHostname"},
        {"groupBox1", "textLabel_Label_IPAddress", "IP Address:", "textLabelIPAddress"},
        {"groupBox2", "textLabel1_2", "Start time:", "startTimeLabel"},
        {"groupBox2", "textLabel4", "Stop time:", "stopTimeLabel"},
        {"groupBox2", "textLabel1_3", "Elapsed:", nullptr},
        {"groupBox2", "textLabel4_2", "Config file:", "textLabel_ConfigFile"},
    };

    EXPECT_EQ(child<QGroupBox>("groupBox1")->title(), "System Info:");
    EXPECT_EQ(child<QGroupBox>("groupBox2")->title(), "Test Info:");
    for (const LabelRow& row : rows) {
        SCOPED_TRACE(row.caption);
        auto* box = child<QGroupBox>(row.box);
        EXPECT_EQ(findChildOrFail<QLabel>(box, row.caption)->text().toStdString(), row.text);
        if (row.value) {
            EXPECT_TRUE(findChildOrFail<QLabel>(box, row.value)->text().isEmpty());
        }
    }

    auto* elapsed = findChildOrFail<QLCDNumber>(child<QGroupBox>("groupBox2"), "lcdElapsed");
    EXPECT_GE(elapsed->digitCount(), 8) << "\"00:00:00\" would overflow";
    EXPECT_NE(elapsed->segmentStyle(), QLCDNumber::Outline);

    EXPECT_TRUE(child<QLabel>("textLabel_Header")->text().isEmpty());
    EXPECT_TRUE(child<QLabel>("textLabel_Footer")->text().isEmpty());
}

TEST_F(MainWinForm, TableTakesTheSpareHeight)
{
    auto* box1 = child<QGroupBox>("groupBox1");
    auto* box2 = child<QGroupBox>("groupBox2");
    auto* header = child<QLabel>("textLabel_Header");
    auto* table = child<QTableWidget>("testTable");
    auto* footer = child<QLabel>("textLabel_Footer");

    win.resize(900, 600);
    win.show();
    QApplication::processEvents();
    const int tableBefore = table->height();
    const int boxBefore = box1->height();

    win.resize(900, 900);
    QApplication::processEvents();
    EXPECT_EQ(table->height() - tableBefore, 300);
    EXPECT_EQ(box1->height(), boxBefore);

    auto top = [this](const QWidget* w) { return w->mapTo(&win, QPoint(0, 0)).y(); };
    auto left = [this](const QWidget* w) { return w->mapTo(&win, QPoint(0, 0)).x(); };
    EXPECT_EQ(top(box1), top(box2)) << "info boxes side by side";
    EXPECT_LT(left(box1), left(box2));
    EXPECT_LE(top(box1) + box1->height(), top(header));
    EXPECT_LE(top(header) + header->height(), top(table));
    EXPECT_LE(top(table) + table->height(), top(footer));
}

} // namespace
