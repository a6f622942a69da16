// The closing-tests window, the result banner and the stop button window,
// driven through their widgets as the run control uses them.
#include "Window_ClosingTests.h"
#include "Window_ResultBanner.h"
#include "Window_StopButton.h"

#include "QtTestUtils.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Counts the events of one type that reach an object; records the label
// colours at each palette change.
struct EventCounter : QObject {
    EventCounter(QObject* watched, QEvent::Type type)
        : type(type)
    {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != type)
            return false;
        if (auto* w = qobject_cast<QWidget*>(watched))
            colours.push_back({ w->palette().color(w->foregroundRole()), w->palette().color(w->backgroundRole()) });
        return false;
    }
    int count() const { return static_cast<int>(colours.size()); }
    QEvent::Type type;
    std::vector<std::pair<QColor, QColor>> colours; // text, background
};

TEST(ClosingTestsWindow, ShowsTextAndProgressAtOnceAtAFixedSize)
{
    QWidget owner;
    Window_ClosingTests win { &owner };
    auto* label = findChildOrFail<QLabel>(&win, "textLabel_TestName");
    auto* bar = findChildOrFail<QProgressBar>(&win, "progressBar");
    win.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    QApplication::processEvents();
    const QSize size = win.size();
    EXPECT_FALSE(win.close()) << "the frame's close is refused";
    // As the stop procedure walks the configured tests. The GUI thread
    // sleeps between the calls: each must paint without an event loop.
    for (auto [text, percent] : { std::pair { "Closing Memory", 33 },
             { "Closing Disk: a very long display name for a disk that goes on and on and on and on and on", 100 } }) {
        SCOPED_TRACE(text);
        EventCounter labelPaints(label, QEvent::Paint), windowPaints(&win, QEvent::Paint);
        win.setText(text);
        EXPECT_TRUE(label->text() == text && labelPaints.count() >= 1 && windowPaints.count() >= 1);
        EventCounter barPaints(bar, QEvent::Paint);
        win.setProgress(percent);
        EXPECT_TRUE(bar->value() == percent && barPaints.count() >= 1);
        QApplication::processEvents();
        EXPECT_EQ(win.size(), size) << "a long name must not stretch it";
    }
    EXPECT_TRUE(win.isVisible() && win.minimumSize() == win.maximumSize());
}

TEST(StopButtonWindow, EachClickAsksForOneStop)
{
    QWidget owner;
    Window_StopButton win { &owner };
    QSignalSpy stops(&win, &Window_StopButton::stopTest);
    win.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    auto* button = findChildOrFail<QPushButton>(&win, "pushButton_Stop");
    EXPECT_FALSE(win.close()) << "refused, and no stop either";
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(stops.count(), 2);
    // The slot is the button's path; calling it alone must not double up.
    win.slotStopTest();
    EXPECT_EQ(stops.count(), 3);
}

class ResultBanner : public ::testing::Test {
protected:
    QLabel* label() { return findChildOrFail<QLabel>(&banner, "textLabelResultBanner"); }
    QTimer* flashTimer() { return findChildOrFail<QTimer>(&banner, "flashTimer"); }
    // Lets the banner flash at least `n` more times; false if it does not.
    bool waitForFlips(int n)
    {
        const int target = flips.count() + n;
        return QTest::qWaitFor([&] { return flips.count() >= target; }, 10000);
    }

    Window_ResultBanner banner;
    EventCounter flips { label(), QEvent::PaletteChange }; // each flip gives the label a new palette
};

TEST_F(ResultBanner, EachResultFlashesInItsColours)
{
    EXPECT_FALSE(banner.isModal()) << "the main window stays usable";
    EXPECT_GT(label()->font().pointSizeF(), 2 * QApplication::font().pointSizeF()) << "read from across the room";
    EXPECT_FALSE(flashTimer()->isActive());

    // Each result replaces the one still shown, as at the next automatic stop.
    for (int errors : { 1, 0 }) {
        SCOPED_TRACE(errors);
        const bool failed = errors != 0;
        banner.showResult(errors);
        EXPECT_EQ(banner.windowTitle(), "KalvexTest test result");
        EXPECT_EQ(label()->text(), failed ? "FAILED" : "PASSED") << "before the first paint";
        EXPECT_TRUE(flashTimer()->isActive() && flashTimer()->interval() == 500);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&banner));

        flips.colours.clear();
        ASSERT_TRUE(waitForFlips(2));
        EXPECT_LE(flips.count(), 4) << "a paint that sets off another paint flashes far too fast";
        EXPECT_EQ(label()->text(), failed ? "FAILED" : "PASSED");
        for (const auto& [text, back] : flips.colours) {
            // The lit channel alternates 0 and 255; the other two stay dark.
            const int lit = failed ? text.red() : text.green();
            EXPECT_TRUE(lit == 0 || lit == 255) << lit;
            EXPECT_EQ(lit + (failed ? back.red() : back.green()), 255);
            EXPECT_EQ(text.rgb() & (failed ? 0x00ffffu : 0xff00ffu), 0u);
            EXPECT_EQ(back.rgb() & (failed ? 0x00ffffu : 0xff00ffu), 0u);
        }
        // What the user sees in the label's corner matches its background.
        const QImage shot = banner.grab().toImage();
        EXPECT_EQ(shot.pixelColor(label()->mapTo(&banner, QPoint(2, 2))).rgb(),
            label()->palette().color(label()->backgroundRole()).rgb());
    }
}

TEST_F(ResultBanner, StopsFlashingHoweverItIsClosed)
{
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way); // OK, the frame, Escape
        banner.showResult(2);
        banner.showResult(2); // shown twice: still one timer to stop
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&banner));
        if (way == 0)
            findChildOrFail<QAbstractButton>(&banner, "pushButtonOK")->click();
        else
            way == 1 ? (void)banner.close() : QTest::keyClick(&banner, Qt::Key_Escape);
        EXPECT_FALSE(banner.isVisible() || flashTimer()->isActive());
    }
}

} // namespace
