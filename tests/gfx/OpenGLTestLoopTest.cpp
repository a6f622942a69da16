// The 3D test's frame-counted cycles, without a GL context.
#include "AtomicField.h"
#include "CTest_OpenGL.h"
#include "ProcessRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

using namespace std::chrono_literals;

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
