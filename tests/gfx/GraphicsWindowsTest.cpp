// The graphics windows on a real X display with GLX: the 3D scene's pixels,
// and a run of both tests from the main window.
#include "AppFixture.h"
#include "AtomicField.h"
#include "CGraphicsWidget.h"
#include "CLogger.h"
#include "COpenGLWidget.h"
#include "ConfigRecord.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "RunControl.h"
#include "Startup.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QScreen>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <tuple>

extern bool gXDisplay;

namespace {

#define SKIP_WITHOUT_GL()                                                                                              \
    if (QOpenGLContext context; !gXDisplay || !context.create())                                                       \
    GTEST_SKIP() << "needs an X display with OpenGL; run under xvfb-run"

// Pixel classes of the scene. The centre sphere is orange-brown; a texel of
// one colour, modulated by the light, keeps that channel alone.
bool centreMaterial(QRgb p)
{
    return qRed(p) > 90 && qRed(p) > qGreen(p) + 20 && qGreen(p) > qBlue(p) + 20 && qGreen(p) > 40;
}
bool redTexel(QRgb p)
{
    return qRed(p) > 60 && qGreen(p) < 20 && qBlue(p) < 20;
}
bool greenTexel(QRgb p)
{
    return qGreen(p) > 60 && qRed(p) < 20 && qBlue(p) < 20;
}
bool blueTexel(QRgb p)
{
    return qBlue(p) > 60 && qRed(p) < 20 && qGreen(p) < 20;
}
bool blackTexel(QRgb p) // the background is dark cyan
{
    return qRed(p) < 12 && qGreen(p) < 12 && qBlue(p) < 12;
}
int countPixels(const QImage& image, const QRect& area, bool (*is)(QRgb))
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += is(image.pixel(x, y)) ? 1 : 0;
    return n;
}
const QRect kCentre(138, 88, 24, 24);

TEST(GlScene, EachSphereHasItsMaterialOrCheckerboard)
{
    SKIP_WITHOUT_GL();
    COpenGLWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    COpenGLWidget::HourOfDay = COpenGLWidget::zDisplacement = COpenGLWidget::lightPositionAngle = 0;
    const int frames = COpenGLWidget::renderCount;
    const std::uint64_t ops = resultfile.results[kSlot3D].op_count;
    const QImage frame = window.grabFramebuffer();
    EXPECT_EQ(COpenGLWidget::renderCount - frames, 1);
    EXPECT_EQ(resultfile.results[kSlot3D].op_count - ops, 10240u);

    const QRgb clear = frame.pixel(2, 2);
    EXPECT_TRUE(qRed(clear) == 0 && std::abs(qGreen(clear) - 26) <= 1 && std::abs(qBlue(clear) - 26) <= 1)
        << "clear colour (0, 0.1, 0.1): " << std::hex << clear;
    EXPECT_GT(countPixels(frame, kCentre, centreMaterial), 24 * 24 * 3 / 4);
    const struct {
        QRect area; // where the sphere sits at rest
        bool (*colour)(QRgb);
        bool (*other)(QRgb);
    } spheres[] = { { { 58, 80, 40, 40 }, redTexel, greenTexel }, { { 202, 80, 40, 40 }, greenTexel, redTexel },
        { { 135, 25, 30, 25 }, blueTexel, redTexel }, { { 135, 145, 30, 25 }, blackTexel, blueTexel } };
    for (const auto& s : spheres) {
        EXPECT_GT(countPixels(frame, s.area, s.colour), 20) << s.area.x() << "," << s.area.y();
        EXPECT_EQ(countPixels(frame, s.area, s.other), 0) << s.area.x() << "," << s.area.y();
    }
    if (::testing::Test::HasFailure())
        frame.save("GlScene-frame.png");
    window.close();
    EXPECT_TRUE(window.isVisible()) << "the user cannot close it";
}

TEST(GlScene, AQuadricThatCannotBeMadeIs206OnceNotACrash)
{
    SKIP_WITHOUT_GL();
    // Put back whatever way the test ends.
    struct Restore {
        int severity = e_classification[206];
        std::string text = e_strings[206];
        ~Restore()
        {
            COpenGLWidget::SetQuadricMaker(nullptr);
            delete gLogger;
            gLogger = nullptr;
            e_classification[206] = severity;
            std::snprintf(e_strings[206], kErrorTextSize, "%s", text.c_str());
        }
    } restore;
    e_classification[206] = kSevWarning;
    std::strcpy(e_strings[206], "OpenGL not available");
    testconfig.log_detail_level = 1;
    gLogger = new CLogger("dummyStr");
    const _resultinfo before = resultfile.results[kSlot3D];

    COpenGLWidget::SetQuadricMaker([]() -> GLUquadric* { return nullptr; });
    {
        COpenGLWidget window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        const int frames = COpenGLWidget::renderCount;
        window.grabFramebuffer();
        window.grabFramebuffer();
        EXPECT_EQ(COpenGLWidget::renderCount - frames, 0) << "no scene, no frame counted";
        const _resultinfo& r = resultfile.results[kSlot3D];
        EXPECT_EQ(std::tuple(r.errors - before.errors, r.last_error, r.op_count - before.op_count),
            std::tuple(1u, 206u, std::uint64_t { 0 }))
            << "said once, not at every frame";
        ASSERT_EQ(gLogger->GetNumberLines(), 1);
        EXPECT_TRUE(
            std::string(gLogger->GetLine(0, nullptr, nullptr)).ends_with(", 3D Graphics, OpenGL not available\n"))
            << gLogger->GetLine(0, nullptr, nullptr);

        // With quadrics again the scene draws as before.
        COpenGLWidget::SetQuadricMaker(nullptr);
        window.grabFramebuffer();
        EXPECT_EQ(COpenGLWidget::renderCount - frames, 1);
    }
}

QWidget* topLevel(const char* name)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name)
            return w;
    return nullptr;
}

// What the X server shows in the window, not a render of the widget.
QImage screenshot(QWidget* w)
{
    return w->screen()->grabWindow(w->winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

template <class Done> bool waitUntil(Done done, int ms)
{
    for (int waited = 0; !done(); waited += 50)
        if (waited >= ms)
            return false;
        else
            QTest::qWait(50);
    return true;
}

TEST(GraphicsRun, BothWindowsDrawCountAndStop)
{
    SKIP_WITHOUT_GL();
    TempDir dir;
    RecordingSink sink;
    WriteStartConfig(dir, [](_testconfig& c) {
        std::memset(c.test_enabled, 0, sizeof c.test_enabled);
        c.test_enabled[kSlot2D] = c.test_enabled[kSlot3D] = 1;
        c.duty_cycle[kSlot2D] = c.duty_cycle[kSlot3D] = 100;
        c.pretest_action = 0;
        c.auto_stop_time = 0.0f;
        c.auto_stop_cycles = 0;
    });
    auto app = StartApp(dir, {});
    app->slotStartTest();
    auto* twoD = dynamic_cast<CGraphicsWidget*>(topLevel("graphicsWidget2D"));
    QWidget* threeD = topLevel("openGLWidget3D");
    ASSERT_TRUE(twoD && threeD && QTest::qWaitForWindowExposed(twoD) && QTest::qWaitForWindowExposed(threeD));
    EXPECT_EQ(std::pair(twoD->windowTitle(), threeD->windowTitle()),
        std::pair(QString("2D Graphics"), QString("3D Graphics")));
    ASSERT_TRUE(
        waitUntil([] { return COpenGLWidget::renderCount >= 5 && resultfile.results[kSlot2D].op_count > 0; }, 10000));

    const QImage first2D = screenshot(twoD), first3D = screenshot(threeD);
    const int firstFrames = COpenGLWidget::renderCount;
    QTest::qWait(1000);
    const QImage second2D = screenshot(twoD), second3D = screenshot(threeD);
    EXPECT_GE(COpenGLWidget::renderCount - firstFrames, 4) << "about ten frames a second";
    EXPECT_NE(first2D, second2D);
    EXPECT_NE(first3D, second3D);
    // The strip: dark counts on the light background.
    EXPECT_GT(countPixels(second2D, QRect(0, 0, 300, 15), [](QRgb p) { return qGray(p) < 100; }), 30);
    {
        std::lock_guard guard(twoD->canvas()->lock);
        const QString status = twoD->canvas()->status;
        EXPECT_TRUE(status.startsWith("Li:") && status.contains("\t\tSh:") && status.contains("\t\tRe:"));
        EXPECT_GT(status.mid(3).split('\t').first().remove('K').remove('M').toDouble(), 0.0) << qPrintable(status);
    }
    // A second's turn (about 100 degrees) apart, a passing sphere can hide
    // the centre one in one frame at most; the side ones always show.
    EXPECT_GT(std::max(countPixels(first3D, kCentre, centreMaterial), countPixels(second3D, kCentre, centreMaterial)),
        24 * 24 / 2);
    for (const QImage* frame : { &first3D, &second3D }) {
        EXPECT_GT(countPixels(*frame, QRect(0, 0, 120, 200), redTexel), 20);
        EXPECT_GT(countPixels(*frame, QRect(180, 0, 120, 200), greenTexel), 20);
    }
    if (::testing::Test::HasFailure()) {
        first2D.save("GraphicsRun-2d-1.png"), second2D.save("GraphicsRun-2d-2.png");
        first3D.save("GraphicsRun-3d-1.png"), second3D.save("GraphicsRun-3d-2.png");
    }

    // A 3D cycle is 200 frames, about 20 s.
    EXPECT_TRUE(waitUntil([] { return relaxedLoad(resultfile.results[kSlot2D].cycles) >= 2; }, 10000));
    EXPECT_TRUE(waitUntil([] { return relaxedLoad(resultfile.results[kSlot3D].cycles) >= 1; }, 40000));
    const auto t0 = std::chrono::steady_clock::now();
    app->slotStopTest();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    EXPECT_FALSE(AnyTestThreadAlive(app->run())) << "both threads ended within their waiting limits";
    QTest::qWait(50);
    EXPECT_TRUE(!topLevel("graphicsWidget2D") && !topLevel("openGLWidget3D")) << "deleted at the stop";
    EXPECT_EQ(Current2DCanvas(), nullptr);
    if (app->runActive())
        app->stopTest(false);
    app.reset();
    CloseDebugFile();
}

} // namespace
