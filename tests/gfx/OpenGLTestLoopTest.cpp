// The 3D test's animation steps, textures and frame-counted cycles; nothing
// here needs a GL context.
#include "AtomicField.h"
#include "COpenGLWidget.h"
#include "CTest_OpenGL.h"
#include "ProcessRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace std::chrono_literals;

TEST(ThreeD, AnimationSwingsAndWrapsAndTexturesAreEightPixelCheckers)
{
    ProcessRun process;
    CTest_OpenGL engine(process.ctx, kSlot3D);
    const Graphics3DLive& live = process.run.live<Graphics3DLive>(kSlot3D);
    const int swing[20] = { -10, -20, -30, -40, -50, -40, -30, -20, -10, 0, 10, 20, 30, 40, 50, 40, 30, 20, 10, 0 };
    for (int step = 1; step <= 1036; ++step) {
        engine.computeAnimateParam();
        ASSERT_EQ(std::tuple(live.hourOfDay.load(), live.lightPositionAngle.load(), live.zDisplacement.load()),
            std::tuple(step % 36 * 10, step % 360, swing[(step - 1) % 20]))
            << step;
    }

    COpenGLWidget::makeCheckImage();
    // (row, column) -> checker value c, worked out by hand.
    for (const auto& [i, j, c] : { std::tuple(0, 0, 0), { 7, 7, 0 }, { 0, 8, 255 }, { 8, 0, 255 }, { 8, 8, 0 },
             { 15, 16, 255 }, { 63, 0, 255 }, { 24, 40, 0 }, { 33, 47, 255 } }) {
        const GLubyte v = static_cast<GLubyte>(c);
        const GLubyte want[4][4] = { { 255, v, v, 255 }, { v, 255, v, 255 }, { v, v, 255, 255 }, { v, v, v, 255 } };
        for (int tex = 0; tex < 4; ++tex)
            EXPECT_EQ(0, std::memcmp(COpenGLWidget::checkImage[tex][i][j], want[tex], 4))
                << tex << ": " << i << "," << j;
    }
}

TEST(ThreeD, ACycleIsTwoHundredRenderedFrames)
{
    std::memset(&resultfile, 0, sizeof resultfile);
    testconfig.duty_cycle[kSlot3D] = 100;
    ProcessRun process;
    Graphics3DLive& live = process.run.live<Graphics3DLive>(kSlot3D);
    live.renderCount = 777; // left from an earlier run
    process.run.threadData[kSlot3D].test_id = kSlot3D;
    process.run.threadData[kSlot3D].context = &process.ctx;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, Test_Thread_OpenGL, &process.run.threadData[kSlot3D]), 0);
    const auto cycles = [] { return relaxedLoad(resultfile.results[kSlot3D].cycles); };
    // No window, nothing rendered: the test steps on but counts no cycle.
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(live.renderCount == 0 && live.hourOfDay >= 40 && cycles() == 0) << "each run counts its own frames";
    for (const auto& [frames, want] : { std::pair(199, 0u), { 200, 1u }, { 601, 3u } }) {
        live.renderCount = frames; // 601: two more passed between two looks
        for (int i = 0; i < 100 && cycles() < want; ++i)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(cycles(), want) << "once per 200 frames, not once per look";
    }
    const auto t0 = std::chrono::steady_clock::now();
    process.run.setSlotActive(kSlot3D, false);
    pthread_join(thread, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_EQ(std::tuple(process.run.testsRunning.load(), relaxedLoad(process.run.threadData[kSlot3D].running)),
        std::tuple(0, 0));
    EXPECT_GT(process.run.modules[kSlot3D].stop_time.tv_sec, 0);
}
