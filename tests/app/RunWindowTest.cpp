// Start, check and stop from the main window, as a technician drives them.
#include "AppFixture.h"
#include "QtTestUtils.h"
#include "ResultRecord.h"
#include "TestSlots.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>
#include <QtTest/QTest>

#include "AtomicField.h"
#include "CLogger.h"
#include "HealthMonitor.h"
#include "NullEngine.h"
#include "Results.h"
#include "RunContext.h"
#include "RunControl.h"
#include "Startup.h"

#include <gtest/gtest.h>

namespace {

class RunWindow : public AppTest {
protected:
    // The maths test (and `also`) at full duty, no limits, no warning.
    void startMaths(int also = -1)
    {
        start([also](_testconfig& c) {
            std::memset(c.test_enabled, 0, sizeof c.test_enabled);
            c.test_enabled[kSlotMaths] = 1;
            if (also >= 0)
                c.test_enabled[also] = 1;
            c.duty_cycle[kSlotMaths] = 100;
            c.pretest_action = 0;
            c.auto_stop_time = 0.0f;
        });
    }
    QAction* action(const char* name) { return findChildOrFail<QAction>(app.get(), name); }
};

TEST_F(RunWindow, CancelOnTheWarningAndClearResultsAskFirst)
{
    start([](_testconfig& c) { c.pretest_action = 1; });
    resultfile.results[kSlotMaths].cycles = 5;
    sink.answers = { 1 };
    app->slotStartTest();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].caption, "Getting ready to run Kalvex tests");
    EXPECT_EQ(sink.boxes[0].buttons, (std::vector<std::string> { "OK", "Cancel" }));
    EXPECT_FALSE(app->runActive());
    EXPECT_EQ(resultfile.results[kSlotMaths].cycles, 5u);
    EXPECT_TRUE(action("testStartTestRunAction")->isEnabled());

    WriteFile(dir.file(".accum_result.cfg"), "saved");
    resultfile.accum_results[kSlotMaths].cycles = 3;
    sink.answers = { 1 };
    app->slotEditClearAllResults();
    EXPECT_TRUE(FileExists(dir.file(".accum_result.cfg")));
    EXPECT_EQ(resultfile.accum_results[kSlotMaths].cycles, 3u);
    sink.answers = { 0 };
    app->slotEditClearAllResults();
    EXPECT_FALSE(FileExists(dir.file(".accum_result.cfg")));
    EXPECT_EQ(resultfile.accum_results[kSlotMaths].cycles, 0u);
    EXPECT_EQ(sink.boxes.back().caption, "Clear results - Confirm?");
}

TEST_F(RunWindow, NothingSelectedStopsAtTheFirstCheckWhenALimitIsSet)
{
    start([](_testconfig& c) {
        std::memset(c.test_enabled, 0, sizeof c.test_enabled);
        c.pretest_action = 0;
        c.auto_stop_time = 15.0f;
    });
    app->slotStartTest();
    EXPECT_TRUE(app->runActive());
    EXPECT_EQ(findChildOrFail<QTableWidget>(app.get(), "testTable")->rowCount(), 0);
    EXPECT_EQ(findChildOrFail<QLabel>(app.get(), "stopTimeLabel")->text(), "running...");
    // During a run the commands that change things are off, the views stay.
    EXPECT_FALSE(action("testStartTestRunAction")->isEnabled());
    EXPECT_FALSE(action("fileExitAction")->isEnabled());
    EXPECT_FALSE(action("configurationLoadConfigAction")->isEnabled());
    EXPECT_FALSE(action("testStopTestRunAction")->isEnabled()) << "Stop waits three seconds";
    EXPECT_TRUE(action("viewEventLogAction")->isEnabled());
    EXPECT_TRUE(action("viewErrorByCategoryAction")->isEnabled());

    app->checkRun();
    EXPECT_FALSE(app->runActive());
    EXPECT_TRUE(action("testStartTestRunAction")->isEnabled());
    EXPECT_FALSE(action("testStopTestRunAction")->isEnabled());
    auto* banner = findChildOrFail<QWidget>(app.get(), "Window_ResultBanner_Base");
    EXPECT_TRUE(banner->isVisible()) << "an automatic stop shows the verdict";
    banner->hide();
}

// Without limits the run goes on until stopped; an error found in the last
// pass after the last check still fails the run.
TEST_F(RunWindow, MathsRunCountsIntoTheTableAndStopsWithItsVerdict)
{
    startMaths();
    app->slotStartTest();
    auto* table = findChildOrFail<QTableWidget>(app.get(), "testTable");
    ASSERT_EQ(table->rowCount(), 1);
    ASSERT_TRUE(QTest::qWaitFor([] { return relaxedLoad<std::uint64_t>(resultfile.results[kSlotMaths].op_count); }));
    app->checkRun();
    EXPECT_TRUE(app->runActive());
    app->UpdateMainWindow();
    EXPECT_EQ(table->item(0, 0)->text(), "CPU - Maths");
    EXPECT_NE(table->item(0, 2)->text().trimmed(), "0");
    RecordError(resultfile, gLogger, kSlotMaths, 1, 2);
    app->stopTest(true);
    EXPECT_FALSE(app->runActive());
    EXPECT_FALSE(AnyTestThreadAlive(app->run()));
    EXPECT_NE(findChildOrFail<QLabel>(app.get(), "stopTimeLabel")->text(), "running...");
    EXPECT_NE(table->item(0, 2)->text().trimmed(), "0") << "the final counts stay in the table";
    EXPECT_EQ(resultfile.accum_results[kSlotMaths].op_count, resultfile.results[kSlotMaths].op_count);
    EXPECT_EQ(resultfile.accum_results[kSlotMaths].errors, 1u) << "as the result summary has it";
    auto* banner = findChildOrFail<QWidget>(app.get(), "Window_ResultBanner_Base");
    ASSERT_TRUE(banner->isVisible());
    EXPECT_EQ(findChildOrFail<QLabel>(banner, "textLabelResultBanner")->text(), "FAILED");
    banner->hide();
}

TEST_F(RunWindow, TheLaunchIsClosedToOtherCommands)
{
    startMaths();
    // Runs inside the launch, which handles window events between threads.
    std::vector<std::pair<std::string, bool>> seen;
    QTimer::singleShot(0, app.get(), [&] {
        for (const char* name : { "configurationTestPreferencesAction", "configurationLoadConfigAction",
                 "fileExitAction", "testStartTestRunAction" })
            seen.emplace_back(name, action(name)->isEnabled());
        app->close();
    });
    app->slotStartTest();
    ASSERT_EQ(seen.size(), 4u) << "the launch handled no events";
    for (const auto& [name, enabled] : seen)
        EXPECT_FALSE(enabled) << name << " during the launch";
    EXPECT_TRUE(app->runActive()) << "the close waits for the launch to end";
    EXPECT_EQ(findChildOrFail<QTableWidget>(app.get(), "testTable")->rowCount(), 1);
    // The close asked for during the launch comes after it, as a Stop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !app->runActive(); }, 2000));
    EXPECT_FALSE(AnyTestThreadAlive(app->run()));
}

// A null engine test that outlives its stop limit is left behind, yet Start
// is offered at once and starts a run (what the late end may not touch is
// the run control's test).
TEST_F(RunWindow, StartRightAfterAStopThatAbandonedATest)
{
    const int slot = kNullEngine.firstSlot;
    startMaths(slot);
    gNullScript.hangMs = 4000;
    gNullScript.hangSlot = slot;
    app->slotStartTest();
    ASSERT_TRUE(QTest::qWaitFor([&] { return relaxedLoad<std::uint64_t>(resultfile.results[slot].op_count) != 0; }));
    app->slotStopTest();
    EXPECT_TRUE(AnyTestThreadAlive(app->run())) << "the null engine's thread was left behind";
    ASSERT_TRUE(action("testStartTestRunAction")->isEnabled());
    gNullScript.hangMs = 0;
    app->slotStartTest();
    EXPECT_TRUE(app->runActive());
    app->slotStopTest();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !AnyTestThreadAlive(app->run()); }, 8000));
    ResetNullScript();
}

// The health settings file is read at start-up, its problems logged once; a
// watched run samples at the refresh rate, adds the health row to the table
// and tells in the status bar what it cannot watch, both kept after the stop.
TEST_F(RunWindow, AWatchedRunShowsTheHealthRowAndStatus)
{
    WriteFile(dir.file(kHealthSettingsFile), "thermal_limit=90\nbogus=1\n");
    startMaths();
    HealthSettings health = app->context().settings<HealthSettings>();
    EXPECT_TRUE(health.monitor) << "the file's default";
    EXPECT_EQ(health.thermalLimit, 90);
    int logged = 0;
    for (int i = 0; i < gLogger->GetNumberLines(); ++i) {
        int test = 0;
        long time = 0;
        logged += std::string(gLogger->GetLine(i, &test, &time)).find("unknown key bogus") != std::string::npos;
    }
    EXPECT_EQ(logged, 1);

    TempDir edac;
    health.edacRoot = edac.path();
    health.kmsgPath = dir.file("no-kmsg");
    app->context().setSettings(health);
    gUpdateWindowInterval = 1000; // as the test selection dialog sets it
    auto* status = findChildOrFail<QLabel>(app.get(), "healthStatusLabel");
    EXPECT_TRUE(status->text().isEmpty());
    app->slotStartTest();
    EXPECT_EQ(app->context().settings<HealthSettings>().intervalMs, 1000);
    auto* table = findChildOrFail<QTableWidget>(app.get(), "testTable");
    auto name = [table](int row) { return table->item(row, 0) ? table->item(row, 0)->text() : QString(); };
    ASSERT_EQ(table->rowCount(), 2);
    app->UpdateMainWindow();
    EXPECT_EQ(name(0), "CPU - Maths");
    EXPECT_EQ(name(1), "Hardware health");
    EXPECT_TRUE(status->text().contains("not available")) << status->text().toStdString();
    app->slotStopTest();
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(name(1), "Hardware health");
    EXPECT_TRUE(status->text().contains("not available"));
    const std::string summary = Captured([](FILE* f) { gLogger->saveasciiresultsummary(f, false); });
    EXPECT_NE(summary.find("HARDWARE HEALTH"), std::string::npos) << "the log's summaries show the run's findings";
}

} // namespace
