// The 2D test's engine drawing into a real canvas from its own thread, with
// the canvas lock taken by the test where the GUI would take it.
#include "CTest_2DGraphics.h"
#include "EngineFixture.h"
#include "RepaintRelay.h"

#include <QWidget>
#include <QtTest/QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sys/prctl.h>
#include <thread>
#include <vector>
using namespace std::chrono_literals;

class TwoD : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        testconfig.duty_cycle[kSlot2D] = 100;
        live.canvas.publish(canvas);
    }
    void TearDown() override { process.run.setSlotActive(kSlot2D, false), EngineFixture::TearDown(); }
    QImage snapshot() { return std::lock_guard(canvas->lock), canvas->image.copy(); }
    ProcessRun process;
    Graphics2DLive& live = process.run.live<Graphics2DLive>(kSlot2D);
    std::shared_ptr<GraphicsCanvas> canvas = std::make_shared<GraphicsCanvas>();
};

TEST_F(TwoD, AHeldCanvasLockDrawsNothingYetBurstsEndThenCyclesDrawWholeBatchesCountedOnce)
{
    live.lines = 7; // left from an earlier run
    CTest_2DGraphics engine(process.ctx, kSlot2D, canvas);
    ASSERT_EQ(engine.SetUpDrawing(), 0);
    const std::int32_t *lines = engine.linePoints(), *blits = engine.blitPoints();
    EXPECT_GT(*std::max_element(lines, lines + 19996), 240) << "lines use the whole width, not the blits' margin";
    for (int i = 0; i < 19996; i += 2) // the last two pairs stay (0, 0)
        ASSERT_TRUE(blits[i] + 64 <= 300 && blits[i + 1] >= 20 && blits[i + 1] + 64 <= 200) << i;
    process.run.setSlotActive(kSlot2D, true);
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
    EXPECT_TRUE(snapshot() == blank && live.lines + live.shapes + live.blits == 0) << "not even the strip";
    EXPECT_EQ(trace().find("Select new random color"), std::string::npos);

    std::thread runner([&] { engine.test_entry(0); });
    for (int i = 0; i < 1000 && relaxedLoad(resultfile.results[kSlot2D].cycles) < 1; ++i)
        std::this_thread::sleep_for(10ms);
    process.run.setSlotActive(kSlot2D, false);
    runner.join();
    EXPECT_TRUE(live.lines % 10 == 0 && live.shapes % 20 == 0 && live.blits % 10 == 0 && live.blits > 0);
    // Each operation once, not the running totals again every cycle.
    EXPECT_EQ(resultfile.results[kSlot2D].op_count, live.lines + live.shapes + live.blits);
    for (const QRect area : { QRect(0, 0, 300, 15), QRect(0, 15, 300, 185) }) // the strip, the drawing
        EXPECT_TRUE(snapshot().copy(area) != blank.copy(area));
    char expected[100];
    FormatStatusText(expected, sizeof expected, live.lines, live.shapes, live.blits);
    EXPECT_STREQ(canvas->status, expected);
    EXPECT_GE(count(trace(), ", 2D Graphics, Select new random color. Draw shapes - number: 50 (sample 1 of 50)."), 1);
}

// The thread entry as the run starts it: a skip ends by itself with only the
// start and stop lines; an error is said once, then it idles until stopped.
// The thread runs on the finest timer slack, or its 3 us pauses last 80 us.
TEST_F(TwoD, SkipOrNoImageOrNoPointsDrawsNothing)
{
    static std::atomic<int> slack { -1 };
    for (const auto& [code, text] :
        { std::pair(0, "Stopping test"), { 9, "2D graphics test image could not be loaded - 2D test not run" },
            { 205, "2D graphics test could not allocate memory - 2D test not run" } }) {
        SCOPED_TRACE(code);
        TearDown(), SetUp();
        testconfig.twod_test_skip = code == 0;
        Graphics2DSettings settings;
        if (code == 9)
            settings.blitImagePath = dir.file("missing.png");
        else if (code == 205) // called on the test's thread
            settings.makePoints = [](int, int, int) {
                slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
                return std::unique_ptr<std::int32_t[]>();
            };
        process.ctx.setSettings(settings);
        const QImage blank = snapshot();
        process.run.threadData[kSlot2D].test_id = kSlot2D, process.run.threadData[kSlot2D].context = &process.ctx;
        pthread_t thread {};
        ASSERT_EQ(pthread_create(&thread, nullptr, Test_Thread_2DGraphics, &process.run.threadData[kSlot2D]), 0);
        std::this_thread::sleep_for(1500ms); // past an idle step of 1000 ms
        EXPECT_EQ(relaxedLoad(process.run.threadData[kSlot2D].running), code ? 1 : 0);
        const auto t0 = std::chrono::steady_clock::now();
        process.run.setSlotActive(kSlot2D, false);
        pthread_join(thread, nullptr);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
        const _resultinfo& r = resultfile.results[kSlot2D];
        EXPECT_EQ(std::tuple(r.cycles, r.op_count, r.errors, r.last_error, resultfile.classes[kSlot2D].warning),
            std::tuple(0u, 0ull, code ? 1u : 0u, static_cast<unsigned>(code), code ? 1u : 0u));
        EXPECT_TRUE(snapshot() == blank && process.run.testsRunning == 0);
        EXPECT_EQ(slack, code == 205 ? 1 : -1);
        const std::string all = trace(), slot = ", 2D Graphics, ";
        const auto start = all.find(slot + "Starting test"), at = all.find(slot + text);
        EXPECT_TRUE(start < at && at != std::string::npos && count(all, "2D Graphics") == (code ? 3 : 2)) << all;
        int test = -1; // the event log's line: 2D Graphics (10), with the error's text
        const std::string first = gLogger->GetNumberLines() ? gLogger->GetLine(0, &test, nullptr) : "";
        EXPECT_TRUE(gLogger->GetNumberLines() == (code ? 1 : 0) && test == (code ? 10 : -1)
            && first.find(code ? text : "") != std::string::npos)
            << first;
    }
}

// The 2D window's repaints: requests inside the interval come to one paint,
// and the last request is painted all the same.
TEST(CanvasRepaint, RequestsInsideTheIntervalCoalesceAndTheLastIsStillPainted)
{
    struct Counting : QWidget {
        RepaintRelay& relay;
        std::vector<std::chrono::steady_clock::time_point> paints;
        explicit Counting(RepaintRelay& r)
            : relay(r)
        {
        }
        void paintEvent(QPaintEvent*) override { relay.painted(), paints.push_back(std::chrono::steady_clock::now()); }
    };
    RepaintRelay relay(16ms);
    Counting w(relay);
    w.resize(40, 40), w.show();
    QTest::qWait(200);
    relay.attach(&w);
    const std::size_t shown = w.paints.size();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) // a request every 2 ms, as a fast test makes them
        relay.request(), QTest::qWait(2);
    const auto most = static_cast<std::size_t>((std::chrono::steady_clock::now() - t0) / 16ms) + 1;
    const std::size_t during = w.paints.size() - shown;
    EXPECT_TRUE(during >= 1 && during <= most) << during << " of at most " << most;
    relay.request(); // just after a paint, or with one due
    const std::size_t before = w.paints.size();
    QTest::qWait(500);
    ASSERT_EQ(w.paints.size(), before + 1) << "painted, once";
    EXPECT_GE(w.paints.back() - w.paints[w.paints.size() - 2], 15ms);
    relay.detach(&w);
}
