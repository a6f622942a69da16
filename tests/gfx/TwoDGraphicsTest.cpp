// The 2D test's engine drawing into a real canvas from its own thread, with
// the canvas lock taken by the test where the GUI would take it.
#include "AtomicField.h"
#include "TestContext.h"
#include "CLogger.h"
#include "CTest_2DGraphics.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

using namespace std::chrono_literals;

class TwoD : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(TestRun().threadData, 0, sizeof TestRun().threadData);
        TestRun().testsRunning = 0;
        testconfig.duty_cycle[kSlot2D] = 100;
        testconfig.logging_enabled = testconfig.log_detail_level = testconfig.trace_header_written = 1;
        testconfig.trace_level = 4;
        g_fpActivityLog = std::fopen(dir.file("trace.log").c_str(), "w");
        gLogger = new CLogger("dummyStr");
        for (int code : { 9, 205 })
            e_classification[code] = kSevWarning, std::snprintf(e_strings[code], kErrorTextSize, "2D error %d", code);
        Publish2DCanvas(canvas);
    }
    void TearDown() override
    {
        TestRun().setSlotActive(kSlot2D, false);
        Withdraw2DCanvas(canvas.get());
        CTest_2DGraphics::SetBlitImageForTests(nullptr);
        CTest_2DGraphics::SetPointArrayMakerForTests(nullptr);
        delete gLogger; // closes the trace
        gLogger = nullptr;
    }
    std::string trace() { return std::fflush(g_fpActivityLog), ReadFile(dir.file("trace.log")); }
    QImage snapshot()
    {
        std::lock_guard guard(canvas->lock);
        return canvas->image.copy();
    }
    // Runs the slot's thread entry, as the run start does.
    pthread_t startThread()
    {
        TestRun().threadData[kSlot2D].test_id = kSlot2D;
        TestRun().threadData[kSlot2D].context = &TestContext();
        pthread_t thread {};
        EXPECT_EQ(pthread_create(&thread, nullptr, Test_Thread_2DGraphics, &TestRun().threadData[kSlot2D]), 0);
        return thread;
    }
    TempDir dir;
    std::shared_ptr<GraphicsCanvas> canvas = std::make_shared<GraphicsCanvas>();
};

TEST(StatusStrip, AllThreeCountsTakeTheScaleOfTheLineCount)
{
    const struct {
        std::uint64_t lines, shapes, blits;
        const char* text;
    } cases[] = {
        { 999, 123456, 2000000, "Li:999\t\tSh:123456\t\tRe:2000000" },
        { 1000, 20, 999999, "Li:1.000K\t\tSh:0.020K\t\tRe:999.999K" },
        { 999999, 1500, 7, "Li:999.999K\t\tSh:1.500K\t\tRe:0.007K" },
        { 1000000, 2500000, 40, "Li:1.000M\t\tSh:2.500M\t\tRe:0.000M" },
    };
    for (const auto& c : cases) {
        char text[100];
        FormatStatusText(text, sizeof text, c.lines, c.shapes, c.blits);
        EXPECT_STREQ(text, c.text);
    }
}

TEST_F(TwoD, PointsAndBlitsStayInsideTheWindow)
{
    CTest_2DGraphics engine(TestContext(), kSlot2D, canvas);
    ASSERT_EQ(engine.SetUpDrawing(), 0);
    int widestLine = 0;
    for (int i = 0; i < 9998; ++i) { // the last two pairs stay (0, 0)
        const int x = engine.linePoints()[2 * i], y = engine.linePoints()[2 * i + 1];
        const int bx = engine.blitPoints()[2 * i], by = engine.blitPoints()[2 * i + 1];
        ASSERT_TRUE(x >= 0 && x < 300 && y >= 20 && y < 200) << "line point " << x << "," << y;
        ASSERT_TRUE(bx >= 0 && bx + 64 <= 300 && by >= 20 && by + 64 <= 200) << "blit at " << bx << "," << by;
        widestLine = std::max(widestLine, x);
    }
    EXPECT_GT(widestLine, 240) << "lines use the whole width, not the blits' margin";
}

TEST_F(TwoD, HeldCanvasLockDrawsAndCountsNothingYetBurstsEnd)
{
    CTest_2DGraphics engine(TestContext(), kSlot2D, canvas);
    ASSERT_EQ(engine.SetUpDrawing(), 0);
    TestRun().setSlotActive(kSlot2D, true);
    ASSERT_TRUE(engine.BeginPainting());
    std::uint64_t (CTest_2DGraphics::*const bursts[])() = { &CTest_2DGraphics::test_2dgraph_lines,
        &CTest_2DGraphics::test_2dgraph_shapes, &CTest_2DGraphics::test_2dgraph_rect };
    const QImage blank = snapshot();
    for (auto burst : bursts) {
        std::uint64_t count = 1;
        std::unique_lock held(canvas->lock); // the GUI painting, all along
        const auto t0 = std::chrono::steady_clock::now();
        std::thread([&] { count = (engine.*burst)(); }).join();
        const auto took = std::chrono::steady_clock::now() - t0;
        held.unlock();
        EXPECT_EQ(count, 0u);
        EXPECT_TRUE(took >= 500ms && took < 2s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    }
    EXPECT_TRUE(snapshot() == blank) << "nothing drawn, not even the strip";
    EXPECT_EQ(engine.lineCount() + engine.shapeCount() + engine.blitCount(), 0u);
    EXPECT_EQ(trace().find("Select new random color"), std::string::npos);

    // Lock free: each burst draws whole batches and the strip shows them.
    const std::uint64_t perBatch[] = { 10, 20, 10 };
    for (int i = 0; i < 3; ++i) {
        std::uint64_t count = 0;
        const auto burst = bursts[i];
        std::thread([&] { count = (engine.*burst)(); }).join();
        EXPECT_TRUE(count > 0 && count % perBatch[i] == 0) << i << ": " << count;
    }
    EXPECT_TRUE(snapshot().copy(0, 0, 300, 15) != blank.copy(0, 0, 300, 15));
    EXPECT_TRUE(snapshot().copy(0, 15, 300, 185) != blank.copy(0, 15, 300, 185));
    char expected[100];
    FormatStatusText(expected, sizeof expected, engine.lineCount(), engine.shapeCount(), engine.blitCount());
    std::lock_guard guard(canvas->lock);
    EXPECT_STREQ(canvas->status, expected);
    EXPECT_NE(trace().find(", 2D Graphics, Select new random color. Draw shapes - number: 50 (sample 1 of 50)."),
        std::string::npos);
}

TEST_F(TwoD, CyclesCountEveryDrawingOperationOnce)
{
    CTest_2DGraphics engine(TestContext(), kSlot2D, canvas);
    std::thread runner([&] { engine.test_entry(0); });
    for (int i = 0; i < 1000 && relaxedLoad(resultfile.results[kSlot2D].cycles) < 1; ++i)
        std::this_thread::sleep_for(10ms);
    TestRun().setSlotActive(kSlot2D, false);
    runner.join();
    TestRun().testsRunning = 0; // the thread entry's part
    EXPECT_GE(resultfile.results[kSlot2D].cycles, 1u);
    EXPECT_GT(engine.blitCount(), 0u);
    // Each operation once, not the running totals again every cycle.
    EXPECT_EQ(resultfile.results[kSlot2D].op_count, engine.lineCount() + engine.shapeCount() + engine.blitCount());
}

TEST_F(TwoD, SkipLeavesOnlyTheStartAndStopLines)
{
    testconfig.twod_test_skip = 1;
    const QImage blank = snapshot();
    pthread_join(startThread(), nullptr); // ends by itself
    const std::string text = trace();
    const auto start = text.find(", 2D Graphics, Starting test");
    const auto stop = text.find(", 2D Graphics, Stopping test");
    EXPECT_TRUE(start != std::string::npos && stop > start && stop != std::string::npos) << text;
    EXPECT_EQ(text.find("2D Graphics", start + 3), stop + 2) << "nothing in between";
    EXPECT_EQ(text.find("2D Graphics", stop + 3), std::string::npos);
    EXPECT_TRUE(snapshot() == blank);
    const _resultinfo& r = resultfile.results[kSlot2D];
    EXPECT_EQ(std::tuple(r.cycles, r.op_count, TestRun().testsRunning.load(),
                  relaxedLoad(TestRun().threadData[kSlot2D].running)),
        std::tuple(0u, 0ull, 0, 0));
}

TEST_F(TwoD, NoImageOrNoPointsIsReportedOnceThenIdlesUntilStopped)
{
    for (int code : { 9, 205 }) {
        SCOPED_TRACE(code);
        TearDown(), SetUp();
        if (code == 9)
            CTest_2DGraphics::SetBlitImageForTests(dir.file("missing.png").c_str());
        else
            CTest_2DGraphics::SetPointArrayMakerForTests(
                [](int, int, int) { return std::unique_ptr<std::int32_t[]>(); });
        const pthread_t thread = startThread();
        std::this_thread::sleep_for(1500ms); // past an idle step of 1000 ms
        EXPECT_EQ(relaxedLoad(TestRun().threadData[kSlot2D].running), 1) << "idles until stopped";
        const auto t0 = std::chrono::steady_clock::now();
        TestRun().setSlotActive(kSlot2D, false);
        pthread_join(thread, nullptr);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);

        const _resultinfo& r = resultfile.results[kSlot2D];
        EXPECT_EQ(std::tuple(r.errors, r.last_error, resultfile.classes[kSlot2D].warning),
            std::tuple(1u, static_cast<unsigned>(code), 1u));
        ASSERT_EQ(gLogger->GetNumberLines(), 1);
        int test = -1;
        const std::string line = gLogger->GetLine(0, &test, nullptr);
        EXPECT_EQ(test, 10) << "the event log's 2D Graphics";
        EXPECT_NE(line.find(", 2D Graphics, 2D error " + std::to_string(code)), std::string::npos) << line;
    }
}

} // namespace
