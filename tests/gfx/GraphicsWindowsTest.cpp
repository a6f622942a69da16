// A run of both graphics tests from the main window, on a real X display
// with GLX.
#include "AppFixture.h"
#include "AtomicField.h"
#include "COpenGLWidget.h"
#include "ProcessRun.h"
#include "RunControl.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QScreen>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <chrono>

extern bool gXDisplay;

#define SKIP_WITHOUT_GL()                                                                                              \
    if (QOpenGLContext context; !gXDisplay || !context.create())                                                       \
    GTEST_SKIP() << "needs an X display with OpenGL; run under xvfb-run"

// A texel of one colour, modulated by the light, keeps that channel alone.
template <int R, int G> static bool texel(QRgb p)
{
    return (R ? qRed(p) > 60 : qRed(p) < 20) && (G ? qGreen(p) > 60 : qGreen(p) < 20) && qBlue(p) < 20;
}
static const auto redTexel = texel<1, 0>, greenTexel = texel<0, 1>;
static int countPixels(const QImage& image, const QRect& area, bool (*is)(QRgb))
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += is(image.pixel(x, y)) ? 1 : 0;
    return n;
}

static QWidget* topLevel(const char* name)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name)
            return w;
    return nullptr;
}

// The main window's run, which only its own windows are meant to see.
struct AppRun : KVXMainApp {
    using KVXMainApp::run;
};

class GraphicsRun : public AppTest { };

TEST_F(GraphicsRun, BothWindowsDrawCountAndStopAndNoQuadricIs206Once)
{
    SKIP_WITHOUT_GL();
    start([](_testconfig& c) {
        std::memset(c.test_enabled, 0, sizeof c.test_enabled);
        c.test_enabled[kSlot2D] = c.test_enabled[kSlot3D] = 1, c.duty_cycle[kSlot2D] = c.duty_cycle[kSlot3D] = 100;
        c.pretest_action = 0, c.auto_stop_time = 0.0f, c.auto_stop_cycles = 0;
    });
    Graphics3DLive& live = ((*app).*&AppRun::run)().live<Graphics3DLive>(kSlot3D);
    app->slotStartTest();
    QWidget* twoD = topLevel("graphicsWidget2D");
    auto* threeD = dynamic_cast<COpenGLWidget*>(topLevel("openGLWidget3D"));
    ASSERT_TRUE(twoD && threeD && QTest::qWaitForWindowExposed(twoD) && QTest::qWaitForWindowExposed(threeD));
    EXPECT_EQ(std::pair(twoD->windowTitle(), threeD->windowTitle()),
        std::pair(QString("2D Graphics"), QString("3D Graphics")));
    twoD->close(), threeD->close();
    EXPECT_TRUE(twoD->isVisible() && threeD->isVisible()) << "the user cannot close them";
    ASSERT_TRUE(QTest::qWaitFor([&] { return live.renderCount >= 5 && resultfile.results[kSlot2D].op_count > 0; }));
    // What the X server shows in the windows, not a render of the widgets.
    const auto shot = [](QWidget* w) {
        return w->screen()->grabWindow(w->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    };
    const QImage first2D = shot(twoD), first3D = shot(threeD);
    int frames = live.renderCount;
    QTest::qWait(1000);
    const QImage second2D = shot(twoD), second3D = shot(threeD);
    EXPECT_GE(live.renderCount - frames, 4) << "about ten frames a second";
    EXPECT_TRUE(first2D != second2D && first3D != second3D);
    // The side spheres always show, whatever the turn.
    for (const QImage* frame : { &first3D, &second3D })
        EXPECT_TRUE(countPixels(*frame, QRect(0, 0, 120, 200), redTexel) > 20
            && countPixels(*frame, QRect(180, 0, 120, 200), greenTexel) > 20);
    // A 3D cycle is 200 frames, 20 s: the test brings the count near one.
    live.renderCount += 190;
    EXPECT_TRUE(QTest::qWaitFor([] { return relaxedLoad(resultfile.results[kSlot2D].cycles) >= 2; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([] { return relaxedLoad(resultfile.results[kSlot3D].cycles) >= 1; }, 10000));
    // No quadric: no scene, no frame counted, said once, not at every frame.
    const _resultinfo& r = resultfile.results[kSlot3D];
    const unsigned errors = r.errors;
    threeD->setQuadricMaker([]() -> GLUquadric* { return nullptr; });
    QTest::qWait(500);
    frames = live.renderCount;
    QTest::qWait(500);
    EXPECT_EQ(std::tuple(live.renderCount - frames, r.errors - errors, r.last_error), std::tuple(0, 1u, 206u));
    threeD->setQuadricMaker(nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return live.renderCount > frames; })) << "draws as before";
    const auto t0 = std::chrono::steady_clock::now();
    app->slotStopTest();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_FALSE(AnyTestThreadAlive(app->run())) << "both threads ended within their waiting limits";
    QTest::qWait(50);
    EXPECT_TRUE(!topLevel("graphicsWidget2D") && !topLevel("openGLWidget3D")) << "deleted at the stop";
    EXPECT_TRUE(!((*app).*&AppRun::run)().live<Graphics2DLive>(kSlot2D).canvas.current() && !live.repaint.current());
}
