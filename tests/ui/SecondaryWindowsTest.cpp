// The closing-tests window, the result banner and the stop button window,
// driven through their widgets as the run control uses them.
#include "Window_ClosingTests.h"
#include "Window_ResultBanner.h"
#include "Window_StopButton.h"

#include "QtTestUtils.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColor>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// Lets timers fire until `done` holds; false if it never does.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    for (int waited = 0; !done(); waited += 25) {
        if (waited >= timeoutMs)
            return false;
        QTest::qWait(25);
    }
    return true;
}

// Counts the events of one type that reach a widget.
class EventCounter : public QObject {
public:
    EventCounter(QObject* watched, QEvent::Type type)
        : m_type(type)
    {
        watched->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == m_type)
            ++count;
        return false;
    }

private:
    QEvent::Type m_type;
};

struct Colours {
    QColor text;
    QColor back;
};

// ---------------------------------------------------------------- closing

class ClosingTestsWindow : public ::testing::Test {
protected:
    QLabel* label() { return findChildOrFail<QLabel>(&win, "textLabel_TestName"); }
    QProgressBar* bar() { return findChildOrFail<QProgressBar>(&win, "progressBar"); }

    QWidget owner; // the main window in the program
    Window_ClosingTests win{&owner};
};

TEST_F(ClosingTestsWindow, IsAFixedSizeWindowOnlyTheStopProcedureTakesDown)
{
    EXPECT_EQ(win.windowTitle(), "Closing tests");
    EXPECT_TRUE(win.isWindow());
    EXPECT_EQ(win.minimumSize(), win.maximumSize());
    EXPECT_EQ(win.size(), win.minimumSize());
    EXPECT_EQ(bar()->minimum(), 0);
    EXPECT_EQ(bar()->maximum(), 100);

    win.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    // A long name must not stretch it.
    const QSize before = win.size();
    win.setText("Closing Disk: a very long display name for a disk that goes on and on and on and on and on");
    QApplication::processEvents();
    EXPECT_EQ(win.size(), before);

    // The frame's close button does nothing; the stop procedure hides it.
    EXPECT_FALSE(win.close());
    EXPECT_TRUE(win.isVisible());
    win.hide();
    EXPECT_FALSE(win.isVisible());
}

TEST_F(ClosingTestsWindow, ShowsTheTextAndProgressGiven)
{
    // As the stop procedure walks three configured tests.
    const struct {
        const char* text;
        int percent;
    } steps[] = {
        {"Closing Memory", 33},
        {"Closing Disk: /home", 67},
        {"Closing Serial Port: ttyS1", 100},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.text);
        win.setText(step.text);
        win.setProgress(step.percent);
        EXPECT_EQ(label()->text(), step.text);
        EXPECT_EQ(bar()->value(), step.percent);
    }
    win.setProgress(0);
    EXPECT_EQ(bar()->value(), 0);
}

TEST_F(ClosingTestsWindow, PaintsChangesWithoutAnEventLoop)
{
    win.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    QApplication::processEvents();

    // The GUI thread is asleep between the calls: nothing may wait for events.
    EventCounter labelPaints(label(), QEvent::Paint);
    EventCounter windowPaints(&win, QEvent::Paint);
    win.setText("Closing CD/DVD: cdrom");
    EXPECT_GE(labelPaints.count, 1);
    EXPECT_GE(windowPaints.count, 1);

    EventCounter barPaints(bar(), QEvent::Paint);
    win.setProgress(50);
    EXPECT_GE(barPaints.count, 1);
}

// ---------------------------------------------------------------- stop button

class StopButtonWindow : public ::testing::Test {
protected:
    QPushButton* button() { return findChildOrFail<QPushButton>(&win, "pushButton_Stop"); }

    QWidget owner;
    Window_StopButton win{&owner};
};

TEST_F(StopButtonWindow, IsAWindowOnlyTheRunControlHides)
{
    QSignalSpy stops(&win, &Window_StopButton::stopTest);
    EXPECT_TRUE(win.isWindow());
    EXPECT_EQ(button()->text(), "STOP");
    EXPECT_FALSE(button()->icon().isNull());

    win.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    EXPECT_FALSE(win.close());
    EXPECT_TRUE(win.isVisible());
    EXPECT_EQ(stops.count(), 0);
    win.hide();
    EXPECT_FALSE(win.isVisible());
}

TEST_F(StopButtonWindow, EachClickAsksForOneStop)
{
    QSignalSpy stops(&win, &Window_StopButton::stopTest);
    win.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));

    QTest::mouseClick(button(), Qt::LeftButton);
    EXPECT_EQ(stops.count(), 1);
    QTest::mouseClick(button(), Qt::LeftButton);
    EXPECT_EQ(stops.count(), 2);

    // The slot is the button's path; calling it alone must not double up.
    win.slotStopTest();
    EXPECT_EQ(stops.count(), 3);
}

// ---------------------------------------------------------------- banner

class ResultBanner : public ::testing::Test {
protected:
    ResultBanner()
    {
        // Each flip of the shared level gives the label a new palette.
        label()->installEventFilter(&recorder);
    }

    QLabel* label() { return findChildOrFail<QLabel>(&banner, "textLabelResultBanner"); }
    QTimer* flashTimer() { return findChildOrFail<QTimer>(&banner, "flashTimer"); }

    int flips() const { return static_cast<int>(recorder.seen.size()); }

    // Lets the banner flash at least `n` more times.
    bool waitForFlips(int n)
    {
        const int target = flips() + n;
        return waitUntil([&] { return flips() >= target; });
    }

    void expectColours(bool failed)
    {
        ASSERT_FALSE(recorder.seen.empty());
        for (const Colours& c : recorder.seen) {
            // The lit channel, the other two must stay dark.
            const int text = failed ? c.text.red() : c.text.green();
            const int back = failed ? c.back.red() : c.back.green();
            EXPECT_TRUE(text == 0 || text == 255) << text;
            EXPECT_EQ(text + back, 255);
            EXPECT_EQ(failed ? c.text.green() : c.text.red(), 0);
            EXPECT_EQ(failed ? c.back.green() : c.back.red(), 0);
            EXPECT_EQ(c.text.blue(), 0);
            EXPECT_EQ(c.back.blue(), 0);
        }
    }

    // What the user sees in the label's corner matches its background.
    void expectBackgroundOnScreen()
    {
        const QImage shot = banner.grab().toImage();
        const QPoint corner = label()->mapTo(&banner, QPoint(2, 2));
        EXPECT_EQ(shot.pixelColor(corner).rgb(), label()->palette().color(label()->backgroundRole()).rgb());
    }

    struct Recorder : QObject {
        std::vector<Colours> seen;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::PaletteChange) {
                auto* w = static_cast<QWidget*>(watched);
                seen.push_back({w->palette().color(w->foregroundRole()), w->palette().color(w->backgroundRole())});
            }
            return false;
        }
    };

    Recorder recorder; // first: outlives the banner it watches
    Window_ResultBanner banner;
};

TEST_F(ResultBanner, FormBeforeAnyResult)
{
    EXPECT_EQ(banner.windowTitle(), "Results");
    EXPECT_FALSE(banner.isModal());
    EXPECT_EQ(findChildOrFail<QAbstractButton>(&banner, "pushButtonOK")->text(), "OK");
    // Meant to be read from across the room.
    EXPECT_GT(label()->font().pointSizeF(), 2 * QApplication::font().pointSizeF());
    EXPECT_FALSE(flashTimer()->isActive());
}

TEST_F(ResultBanner, NoErrorsFlashesPassedInGreen)
{
    banner.showResult(0);
    EXPECT_TRUE(banner.isVisible());
    EXPECT_EQ(banner.windowTitle(), "KalvexTest test result");
    EXPECT_EQ(label()->text(), "PASSED");

    ASSERT_TRUE(QTest::qWaitForWindowExposed(&banner));
    ASSERT_TRUE(waitForFlips(3));
    EXPECT_EQ(label()->text(), "PASSED");
    expectColours(false);
    expectBackgroundOnScreen();
}

TEST_F(ResultBanner, AnyErrorFlashesFailedInRed)
{
    for (int errors : {1, 37}) {
        SCOPED_TRACE(errors);
        recorder.seen.clear();
        banner.showResult(errors);
        EXPECT_EQ(banner.windowTitle(), "KalvexTest test result");
        EXPECT_EQ(label()->text(), "FAILED");

        ASSERT_TRUE(QTest::qWaitForWindowExposed(&banner));
        ASSERT_TRUE(waitForFlips(3));
        EXPECT_EQ(label()->text(), "FAILED");
        expectColours(true);
        expectBackgroundOnScreen();
    }
}

TEST_F(ResultBanner, FlashesTwiceASecond)
{
    banner.showResult(0);
    EXPECT_TRUE(flashTimer()->isActive());
    EXPECT_FALSE(flashTimer()->isSingleShot());
    EXPECT_EQ(flashTimer()->interval(), 500);

    ASSERT_TRUE(QTest::qWaitForWindowExposed(&banner));
    ASSERT_TRUE(waitForFlips(4));
    // Loose upper bound: a paint that set off another paint would flash
    // hundreds of times a second.
    const int before = flips();
    QTest::qWait(1000);
    EXPECT_LE(flips() - before, 6);
}

TEST_F(ResultBanner, StopsFlashingHoweverItIsClosed)
{
    const struct {
        const char* how;
        std::function<void(Window_ResultBanner&)> close;
    } ways[] = {
        {"OK", [](Window_ResultBanner& b) { findChildOrFail<QAbstractButton>(&b, "pushButtonOK")->click(); }},
        {"frame", [](Window_ResultBanner& b) { b.close(); }},
        {"Escape", [](Window_ResultBanner& b) { QTest::keyClick(&b, Qt::Key_Escape); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        banner.showResult(2);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&banner));
        ASSERT_TRUE(waitForFlips(2));

        way.close(banner);
        EXPECT_FALSE(banner.isVisible());
        EXPECT_FALSE(flashTimer()->isActive());

        // Shown again without a new result it stands still: a timer left
        // running would flip it about three times here.
        banner.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&banner));
        QTest::qWait(200);
        const int before = flips();
        QTest::qWait(1500);
        EXPECT_LE(flips() - before, 1);
        banner.hide();
    }
}

TEST_F(ResultBanner, ANewResultReplacesTheOldOne)
{
    banner.showResult(5);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&banner));
    ASSERT_TRUE(waitForFlips(2));

    // Next automatic stop, banner still up from the last one.
    recorder.seen.clear();
    banner.showResult(0);
    EXPECT_EQ(label()->text(), "PASSED");
    ASSERT_TRUE(waitForFlips(2));
    expectColours(false);

    // Only one timer to stop, however often it was shown.
    findChildOrFail<QAbstractButton>(&banner, "pushButtonOK")->click();
    banner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&banner));
    QTest::qWait(200);
    const int before = flips();
    QTest::qWait(1500);
    EXPECT_LE(flips() - before, 1);
}

} // namespace
