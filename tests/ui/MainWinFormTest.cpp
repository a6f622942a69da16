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

#include <set>
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
    const struct {
        const char* name;
        const char* text;
        const char* tip; // tool tip and status tip; null when the form sets none
        const char* shortcut = "";
        bool checkable = false;
    } actions[] = {
        { "fileSaveTestLogAction", "Save Test Log", "Save results as a result log" },
        { "filePrintAction", "&Print...", "Print the current results", "Ctrl+P" },
        { "fileExitAction", "E&xit", "Quit KalvexTest." },
        { "editCopyResultsToClipboardAction", "Copy Results To Clipboard", "Copy results to clipboard" },
        { "editClearAllResultsAction", "Clear All Results", "Clear results" },
        { "editMachineIDNotesAction", "Machine ID and Notes", "Input additional machine details." },
        { "viewEventLogAction", "Event Log", "Show detailed event log" },
        { "viewErrorByCategoryAction", "Error By Category", "Display error by categories.", "", true },
        { "configurationTestDutyCyclesAction", "Test Duty Cycles", "Select tests to perform and their duty cycle" },
        { "configurationTestPreferencesAction", "Test Preferences", "Set preferences" },
        { "configurationLoadConfigAction", "Load Config", "Loads a configuration file." },
        { "configurationSaveConfigAction", "Save Config", "Saves current test configuration." },
        { "testStartTestRunAction", "Start Test Run", "Start tests" },
        { "testStopTestRunAction", "Stop Test Run", "Stop tests" },
        { "testExecuteScriptAction", "Execute Script", "Execute test script." },
        { "helpUserGuideAction", "Help", "Help contents page" },
        { "helpVeltraneHomepageAction", "Veltrane Homepage", nullptr },
        { "helpAboutAction", "&About", "About KalvexTest." },
    };
    // An unnamed or stray action in the form shows up as a difference here.
    std::set<std::string> expected, actual;
    for (const auto& row : actions) {
        SCOPED_TRACE(row.name);
        expected.insert(row.name);
        const auto* action = child<QAction>(row.name);
        // Without an explicit tip Qt derives one from the text.
        const QString tip = row.tip ? QString::fromUtf8(row.tip) : QString::fromUtf8(row.text).remove('&');
        EXPECT_EQ(action->text().toStdString(), row.text);
        EXPECT_EQ(std::tuple(action->toolTip(), action->statusTip()), std::tuple(tip, row.tip ? tip : QString()));
        EXPECT_EQ(action->shortcut().toString(QKeySequence::PortableText).toStdString(), row.shortcut);
        EXPECT_EQ(std::pair(action->isCheckable(), action->isChecked()), std::pair(row.checkable, false));
    }
    for (const QAction* action : win.findChildren<QAction*>(Qt::FindDirectChildrenOnly))
        actual.insert(action->objectName().toStdString());
    EXPECT_EQ(actual, expected);

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

TEST_F(MainWinForm, InfoBoxesAndAnEmptyReadOnlyTable)
{
    struct Row {
        const char* caption;
        const char* text;
        const char* value; // the label the behaviour class fills in
    };
    const struct {
        const char* name;
        const char* title;
        std::vector<Row> rows;
    } boxes[] = { { "groupBox1", "System Info:",
                      { { "textLabel2", "CPU type:", "cpuTypeLabel" }, { "textLabel6", "CPU speed:", "cpuSpeedLabel" },
                          { "textLabel1", "CPU manufacturer:", "cpuManufacturerLabel" },
                          { "textLabel2_3", "Machine name:", "textLabelHostname" },
                          { "textLabel_Label_IPAddress", "IP Address:", "textLabelIPAddress" } } },
        { "groupBox2", "Test Info:",
            { { "textLabel1_2", "Start time:", "startTimeLabel" }, { "textLabel4", "Stop time:", "stopTimeLabel" },
                { "textLabel1_3", "Elapsed:", nullptr },
                { "textLabel4_2", "Config file:", "textLabel_ConfigFile" } } } };
    for (const auto& b : boxes) {
        auto* box = child<QGroupBox>(b.name);
        EXPECT_EQ(box->title().toStdString(), b.title);
        for (const Row& row : b.rows) {
            EXPECT_EQ(findChildOrFail<QLabel>(box, row.caption)->text().toStdString(), row.text);
            EXPECT_EQ(row.value ? findChildOrFail<QLabel>(box, row.value)->text() : QString(), QString())
                << row.caption;
        }
    }
    EXPECT_EQ(child<QLabel>("textLabel_Header")->text() + child<QLabel>("textLabel_Footer")->text(), QString());
    EXPECT_GE(findChildOrFail<QLCDNumber>(child<QGroupBox>("groupBox2"), "lcdElapsed")->digitCount(), 8)
        << "\"00:00:00\" would overflow";
    // The results table fills its columns; the form's table starts empty and read-only.
    EXPECT_EQ(child<QTableWidget>("testTable")->rowCount(), 0);
    EXPECT_EQ(child<QTableWidget>("testTable")->editTriggers(), QAbstractItemView::NoEditTriggers);
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
    const int tableBefore = table->height(), boxBefore = box1->height();
    win.resize(900, 900);
    QApplication::processEvents();
    EXPECT_EQ(table->height() - tableBefore, 300);
    EXPECT_EQ(box1->height(), boxBefore);

    auto pos = [this](const QWidget* w) { return w->mapTo(&win, QPoint(0, 0)); };
    EXPECT_EQ(pos(box1).y(), pos(box2).y()) << "info boxes side by side";
    EXPECT_LT(pos(box1).x(), pos(box2).x());
    // Top to bottom: info boxes, header, table, footer.
    EXPECT_LE(pos(box1).y() + box1->height(), pos(header).y());
    EXPECT_LE(pos(header).y() + header->height(), pos(table).y());
    EXPECT_LE(pos(table).y() + table->height(), pos(footer).y());
}

} // namespace
