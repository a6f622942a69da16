// A run of several tests from the main window: each gets its live window,
// the windows are tiled apart from each other and their figures move, and
// the stop takes them away.
#include "AppFixture.h"
#include "LiveTestWindow.h"
#include "QtTestUtils.h"
#include "ScopedEnv.h"
#include "TestSlots.h"

#include <QApplication>
#include <QLabel>
#include <QtTest/QTest>

#include "RunControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace {

QList<LiveTestWindow*> liveWindows(QWidget* app)
{
    QList<LiveTestWindow*> windows = app->findChildren<LiveTestWindow*>();
    std::sort(windows.begin(), windows.end(), [](auto* a, auto* b) { return a->slot() < b->slot(); });
    return windows;
}

class LiveWindowsRun : public AppTest { };

TEST_F(LiveWindowsRun, EachTestShowsATiledWindowThatKeepsUpdating)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the memory and network tests need root";
    ScopedEnv smallMemory("_KVX_MAX_TEST_RAM_MB_", "8");
    start([](_testconfig& c) {
        std::memset(c.test_enabled, 0, sizeof c.test_enabled);
        for (int slot : { int(kSlotMaths), int(kSlotMemory), int(kSlotNetworkFirst), int(kSlotNetworkGroup) })
            c.test_enabled[slot] = 1, c.duty_cycle[slot] = 100;
        c.test_enabled[kSlotParallel] = 1;
        std::strcpy(c.network_address[0], "127.0.0.1");
        c.parallel_test_mode = 0;
        c.pretest_action = 0;
        c.auto_stop_time = 0.0f;
        c.auto_stop_cycles = 0;
    });
    gUpdateWindowInterval = 500;
    app->slotStartTest();
    ASSERT_TRUE(app->runActive());

    const QList<LiveTestWindow*> windows = liveWindows(app.get());
    ASSERT_EQ(windows.size(), 4);
    const int expectedSlots[] = { kSlotMaths, kSlotMemory, kSlotNetworkFirst, kSlotParallel };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(windows[i]->slot(), expectedSlots[i]);
        EXPECT_TRUE(windows[i]->isVisible()) << windows[i]->windowTitle().toStdString();
        for (int j = 0; j < i; ++j)
            EXPECT_FALSE(windows[i]->geometry().intersects(windows[j]->geometry()))
                << windows[i]->windowTitle().toStdString() << " covers " << windows[j]->windowTitle().toStdString();
    }

    auto label = [](QWidget* w, const char* name) { return findChildOrFail<QLabel>(w, name)->text(); };
    EXPECT_TRUE(QTest::qWaitFor([&] { return label(windows[0], "textLabel_Math_Addition_Executed") != "0.00"; }, 8000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return label(windows[2], "textLabelSent") != "0.00 MBytes"; }, 8000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QString status = label(windows[1], "textLabelStatus");
            return status == "Writing" || status == "Verifying";
        },
        8000));
    // The maths counts keep moving with every refresh.
    const QString ops = label(windows[0], "textLabel_Math_Addition_Executed");
    EXPECT_TRUE(QTest::qWaitFor([&] { return label(windows[0], "textLabel_Math_Addition_Executed") != ops; }, 4000));
    EXPECT_TRUE(label(windows[3], "textLabel_ParallelPort_ParallelPort").startsWith("lp0"));

    app->slotStopTest();
    EXPECT_FALSE(app->runActive());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(liveWindows(app.get()).isEmpty()) << "the windows live for one run";
}

} // namespace
