// The 2D test's engine drawing into a real canvas from its own thread, with
// the canvas lock taken by the test where the GUI would take it.
#include "CTest_2DGraphics.h"
#include "EngineFixture.h"

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

class TwoD : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        testconfig.duty_cycle[kSlot2D] = 100;
        live.canvas.publish(canvas);
    }
    void TearDown() override { SetSlotActive(kSlot2D, false), EngineFixture::TearDown(); }
    QImage snapshot() { return std::lock_guard(canvas->lock), canvas->image.copy(); }
    // Runs the slot's thread entry, as the run start does.
    pthread_t startThread()
    {
        gThreadData[kSlot2D].test_id = kSlot2D, gThreadData[kSlot2D].context = &process.ctx;
        pthread_t thread {};
        EXPECT_EQ(pthread_create(&thread, nullptr, Test_Thread_2DGraphics, &gThreadData[kSlot2D]), 0);
        return thread;
    }
    ProcessRun process;
    Graphics2DLive& live = process.run.live<Graphics2DLive>(kSlot2D);
    std::shared_ptr<GraphicsCanvas> canvas = std::make_shared<GraphicsCanvas>();
};

TEST(StatusStrip, AllThreeCountsTakeTheScaleOfTheLineCount)
{
    using Case = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, const char*>;
    for (const auto& [lines, shapes, blits, want] : { Case(999, 123456, 2000000, "Li:999\t\tSh:123456\t\tRe:2000000"),
             Case(1000, 20, 999999, "Li:1.000K\t\tSh:0.020K\t\tRe:999.999K"),
             Case(999999, 1500, 7, "Li:999.999K\t\tSh:1.500K\t\tRe:0.007K"),
             Case(1000000, 2500000, 40, "Li:1.000M\t\tSh:2.500M\t\tRe:0.000M") }) {
        char text[100];
        FormatStatusText(text, sizeof text, lines, shapes, blits);
        EXPECT_STREQ(text, want);
    }
}

TEST_F(TwoD, PointsFitTheWindowAndAHeldCanvasLockDrawsNothingYetBurstsEnd)
{
    CTest_2DGraphics engine(process.ctx, kSlot2D, canvas);
    ASSERT_EQ(engine.SetUpDrawing(), 0);
    int widestLine = 0;
    for (int i = 0; i < 9998; ++i) { // the last two pairs stay (0, 0)
        const int bx = engine.blitPoints()[2 * i], by = engine.blitPoints()[2 * i + 1];
        ASSERT_TRUE(bx + 64 <= 300 && by >= 20 && by + 64 <= 200) << "blit at " << bx << "," << by;
        widestLine = std::max(widestLine, engine.linePoints()[2 * i]);
    }
    EXPECT_GT(widestLine, 240) << "lines use the whole width, not the blits' margin";

    SetSlotActive(kSlot2D, true);
    ASSERT_TRUE(engine.BeginPainting());
    const QImage blank = snapshot();
    std::unique_lock held(canvas->lock); // the GUI painting, all along
    std::thread([&] {
        for (auto burst : { &CTest_2DGraphics::test_2dgraph_lines, &CTest_2DGraphics::test_2dgraph_shapes,
                 &CTest_2DGraphics::test_2dgraph_rect }) {
            const auto t0 = std::chrono::steady_clock::now();
            EXPECT_EQ((engine.*burst)(), 0u);
            const auto took = std::chrono::steady_clock::now() - t0;
            EXPECT_TRUE(took >= 500ms && took < 2s) << (took / 1ms);
        }
    }).join();
    held.unlock();
    EXPECT_TRUE(snapshot() == blank) << "nothing drawn, not even the strip";
    EXPECT_EQ(live.lines + live.shapes + live.blits, 0u);
    EXPECT_EQ(trace().find("Select new random color"), std::string::npos);
}

TEST_F(TwoD, CyclesDrawWholeBatchesOnTheWindowsCanvasAndCountEachOnce)
{
    const QImage blank = snapshot();
    const pthread_t thread = startThread();
    for (int i = 0; i < 1000 && relaxedLoad(resultfile.results[kSlot2D].cycles) < 1; ++i)
        std::this_thread::sleep_for(10ms);
    SetSlotActive(kSlot2D, false);
    pthread_join(thread, nullptr);
    EXPECT_GE(resultfile.results[kSlot2D].cycles, 1u);
    EXPECT_TRUE(live.lines % 10 == 0 && live.shapes % 20 == 0 && live.blits % 10 == 0 && live.blits > 0);
    // Each operation once, not the running totals again every cycle.
    EXPECT_EQ(resultfile.results[kSlot2D].op_count, live.lines + live.shapes + live.blits);
    const QImage drawn = snapshot();
    EXPECT_TRUE(drawn.copy(0, 0, 300, 15) != blank.copy(0, 0, 300, 15));
    EXPECT_TRUE(drawn.copy(0, 15, 300, 185) != blank.copy(0, 15, 300, 185));
    char expected[100];
    FormatStatusText(expected, sizeof expected, live.lines, live.shapes, live.blits);
    EXPECT_STREQ(canvas->status, expected);
    EXPECT_EQ(count(trace(), ", 2D Graphics, Select new random color. Draw shapes - number: 50 (sample 1 of 50)."), 1);
}

TEST_F(TwoD, SkipLeavesOnlyTheStartAndStopLines)
{
    testconfig.twod_test_skip = 1;
    const QImage blank = snapshot();
    pthread_join(startThread(), nullptr); // ends by itself
    const std::string text = trace();
    const auto start = text.find(", 2D Graphics, Starting test");
    EXPECT_EQ(text.find("2D Graphics", start + 3), text.find(", 2D Graphics, Stopping test") + 2) << text;
    EXPECT_TRUE(start != std::string::npos && count(text, "2D Graphics") == 2 && snapshot() == blank);
    const _resultinfo& r = resultfile.results[kSlot2D];
    EXPECT_EQ(std::tuple(r.cycles, r.op_count, tests_running.load(), relaxedLoad(gThreadData[kSlot2D].running)),
        std::tuple(0u, 0ull, 0, 0));
}

TEST_F(TwoD, NoImageOrNoPointsIsReportedOnceThenIdlesUntilStopped)
{
    for (const auto& [code, text] : { std::pair(9, "2D graphics test image could not be loaded - 2D test not run"),
             std::pair(205, "2D graphics test could not allocate memory - 2D test not run") }) {
        SCOPED_TRACE(code);
        TearDown(), SetUp();
        Graphics2DSettings settings;
        if (code == 9)
            settings.blitImagePath = dir.file("missing.png");
        else
            settings.makePoints = [](int, int, int) { return std::unique_ptr<std::int32_t[]>(); };
        process.ctx.setSettings(settings);
        const pthread_t thread = startThread();
        std::this_thread::sleep_for(1500ms); // past an idle step of 1000 ms
        EXPECT_EQ(relaxedLoad(gThreadData[kSlot2D].running), 1) << "idles until stopped";
        const auto t0 = std::chrono::steady_clock::now();
        SetSlotActive(kSlot2D, false);
        pthread_join(thread, nullptr);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);

        const _resultinfo& r = resultfile.results[kSlot2D];
        EXPECT_EQ(std::tuple(r.errors, r.last_error, resultfile.classes[kSlot2D].warning),
            std::tuple(1u, static_cast<unsigned>(code), 1u));
        int test = -1;
        ASSERT_EQ(gLogger->GetNumberLines(), 1);
        const std::string line = gLogger->GetLine(0, &test, nullptr);
        EXPECT_TRUE(test == 10 && line.find(std::string(", 2D Graphics, ") + text) != std::string::npos) << line;
    }
}
