// The 3D test's animation steps, textures and frame-counted cycles; nothing
// here needs a GL context.
#include "TestContext.h"
#include "AtomicField.h"
#include "CLogger.h"
#include "COpenGLWidget.h"
#include "CTest_OpenGL.h"
#include "ResultRecord.h"
#include "Startup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

void resetAnimation()
{
    COpenGLWidget::HourOfDay = COpenGLWidget::zDisplacement = COpenGLWidget::lightPositionAngle = 0;
    COpenGLWidget::zDirection = -1;
}

TEST(AnimationStep, DisplacementSwingsBetweenMinus50And50AndTurnsWrapAt360)
{
    resetAnimation();
    const std::vector<int> expected { -10, -20, -30, -40, -50, -40, -30, -20, -10, 0, 10, 20, 30, 40, 50, 40, 30, 20,
        10, 0, -10, -20, -30, -40, -50, -40, -30, -20, -10, 0, 10, 20, 30, 40, 50, 40 };
    std::vector<int> seen;
    for (int step = 1; step <= 36; ++step) {
        CTest_OpenGL::computeAnimateParam();
        seen.push_back(COpenGLWidget::zDisplacement);
        ASSERT_EQ(COpenGLWidget::HourOfDay, step == 36 ? 0 : step * 10) << step;
        ASSERT_EQ(COpenGLWidget::lightPositionAngle, step);
    }
    EXPECT_EQ(seen, expected);
    for (int i = 0; i < 1000; ++i) {
        CTest_OpenGL::computeAnimateParam();
        const int z = COpenGLWidget::zDisplacement;
        ASSERT_TRUE(z >= -50 && z <= 50 && z % 10 == 0) << z << " after " << i;
    }
    COpenGLWidget::lightPositionAngle = 359;
    CTest_OpenGL::computeAnimateParam();
    EXPECT_EQ(COpenGLWidget::lightPositionAngle, 0);
}

TEST(Checkerboard, EightPixelCheckersInFourColours)
{
    COpenGLWidget::makeCheckImage();
    // (row, column) -> checker value c, worked out by hand.
    const struct {
        int i, j, c;
    } texels[] = { { 0, 0, 0 }, { 7, 7, 0 }, { 0, 8, 255 }, { 8, 0, 255 }, { 8, 8, 0 }, { 15, 16, 255 }, { 63, 63, 0 },
        { 63, 0, 255 }, { 24, 40, 0 }, { 33, 47, 255 } };
    for (const auto& t : texels) {
        const GLubyte c = static_cast<GLubyte>(t.c);
        const GLubyte want[4][4] = { { 255, c, c, 255 }, { c, 255, c, 255 }, { c, c, 255, 255 }, { c, c, c, 255 } };
        for (int tex = 0; tex < 4; ++tex)
            EXPECT_EQ(0, std::memcmp(COpenGLWidget::checkImage[tex][t.i][t.j], want[tex], 4))
                << "texture " << tex << " at row " << t.i << ", column " << t.j;
    }
    // What glTexImage2D reads: textures one after another, row-major.
    const GLubyte* bytes = &COpenGLWidget::checkImage[0][0][0][0];
    EXPECT_EQ(bytes[(1 * 64 * 64 + 0 * 64 + 8) * 4], 255) << "texture 1, row 0, column 8: white";
    EXPECT_EQ(bytes[(3 * 64 * 64 + 9 * 64 + 9) * 4], 0) << "texture 3, row 9, column 9: black";
}

class ThreeDLoop : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(TestRun().threadData, 0, sizeof TestRun().threadData);
        testconfig.duty_cycle[kSlot3D] = 100;
        TestRun().testsRunning = 0;
        gLogger = new CLogger("dummyStr");
    }
    void TearDown() override
    {
        TestRun().setSlotActive(kSlot3D, false);
        delete gLogger;
        gLogger = nullptr;
    }
    static std::uint32_t cycles() { return relaxedLoad(resultfile.results[kSlot3D].cycles); }
};

TEST_F(ThreeDLoop, ACycleIsTwoHundredRenderedFrames)
{
    resetAnimation();
    COpenGLWidget::renderCount = 777; // left from an earlier run
    TestRun().threadData[kSlot3D].test_id = kSlot3D;
    TestRun().threadData[kSlot3D].context = &TestContext();
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, Test_Thread_OpenGL, &TestRun().threadData[kSlot3D]), 0);
    for (int i = 0; i < 300 && COpenGLWidget::HourOfDay == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(COpenGLWidget::renderCount, 0) << "each run counts its own frames";

    // No window, nothing rendered: the test steps on but counts no cycle.
    std::this_thread::sleep_for(500ms);
    EXPECT_GE(COpenGLWidget::HourOfDay, 40);
    EXPECT_EQ(cycles(), 0u);

    COpenGLWidget::renderCount = 199;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(cycles(), 0u);
    COpenGLWidget::renderCount = 200;
    for (int i = 0; i < 100 && cycles() < 1; ++i)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(cycles(), 1u) << "once per 200 frames, not once per look";
    COpenGLWidget::renderCount = 601; // two more passed between two looks
    for (int i = 0; i < 100 && cycles() < 3; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(cycles(), 3u);

    const auto t0 = std::chrono::steady_clock::now();
    TestRun().setSlotActive(kSlot3D, false);
    pthread_join(thread, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_EQ(std::tuple(TestRun().testsRunning.load(), relaxedLoad(TestRun().threadData[kSlot3D].running),
                  TestRun().slotActive(kSlot3D)),
        std::tuple(0, 0, false));
    EXPECT_GT(TestRun().modules[kSlot3D].stop_time.tv_sec, 0);
}

} // namespace
