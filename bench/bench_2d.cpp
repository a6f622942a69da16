// bench_2d [seconds]: runs the 2D graphics test's three bursts at duty cycle
// 100 for `seconds` (default 12) on its own thread, then a plain loop making
// the same drawing calls with the same pens on the same kind of image with no
// lock and no pause, and prints the test's drawing rate for each kind against
// the loop's. It also times the test's pause after each batch (3 us asked) on
// a thread set up as the test's, and the ratio a test could reach whose only
// extra were that pause. Exits 1 when a kind reaches less than 0.8 of the
// loop.
#include "CTest_2DGraphics.h"
#include "BenchRun.h"
#include "CTest_Math.h"
#include "ConfigRecord.h"
#include "TestSlots.h"

#include <QGuiApplication>
#include <QPainter>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <tuple>

namespace {

using Clock = std::chrono::steady_clock;

double threadCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Rates {
    double lines = 0, shapes = 0, blits = 0, busy = 0;
};

Rates runTest(double seconds)
{
    Rates r;
    std::thread([&] {
        UseFineTimerSlack(); // as the test's thread entry does
        ProcessRun& process = benchProcess();
        CTest_2DGraphics engine(process.ctx, kSlot2D, nullptr);
        benchProcess().run.setSlotActive(kSlot2D, true);
        if (engine.SetUpDrawing() != 0 || !engine.BeginPainting())
            std::exit(2);
        double tLines = 0, tShapes = 0, tBlits = 0;
        const double cpu0 = threadCpuSeconds();
        const auto t0 = Clock::now();
        auto timed = [](auto burst, double& total) {
            const auto s = Clock::now();
            burst();
            total += std::chrono::duration<double>(Clock::now() - s).count();
        };
        while (std::chrono::duration<double>(Clock::now() - t0).count() < seconds) {
            timed([&] { engine.test_2dgraph_lines(); }, tLines);
            timed([&] { engine.test_2dgraph_shapes(); }, tShapes);
            timed([&] { engine.test_2dgraph_rect(); }, tBlits);
        }
        r.busy = (threadCpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - t0).count();
        r.lines = static_cast<double>(engine.lineCount()) / tLines;
        r.shapes = static_cast<double>(engine.shapeCount()) / tShapes;
        r.blits = static_cast<double>(engine.blitCount()) / tBlits;
        engine.EndPainting();
        benchProcess().run.setSlotActive(kSlot2D, false);
    }).join();
    return r;
}

// The same calls, back to back, for `seconds` each kind.
Rates runReference(double seconds)
{
    QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QImage blit(":/gfx/blit.png");
    blit = blit.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const auto pts = SetUpRandomPtsArray(0, 300, 200);
    const auto bpts = SetUpRandomPtsArray(64, 300, 200);
    QPainter p(&image);
    Rates r;
    const double cpu0 = threadCpuSeconds();
    const auto start = Clock::now();
    // A new random pen every 50 batches, as the test picks one: a pen of
    // width 2 draws far slower than one of width 0 or 1.
    auto loop = [&](auto batch) {
        std::uint64_t n = 0;
        int i = 0;
        const auto t0 = Clock::now();
        while (std::chrono::duration<double>(Clock::now() - t0).count() < seconds) {
            p.setPen(QPen(QColor(std::rand() % 256, std::rand() % 256, std::rand() % 256), std::rand() % 3));
            for (int k = 0; k < 50; ++k)
                n += batch(i);
        }
        return static_cast<double>(n) / std::chrono::duration<double>(Clock::now() - t0).count();
    };
    r.lines = loop([&](int& i) {
        QPoint line[11];
        for (auto& pt : line)
            pt = QPoint(pts[i], pts[i + 1]), i = (i + 2) % kPointArrayLen;
        p.drawPolyline(line, 11);
        return 10;
    });
    r.shapes = loop([&](int& i) {
        for (int k = 0; k < 10; ++k, i = (i + 4) % kPointArrayLen) {
            const QRect box(QPoint(pts[i], pts[i + 1]), QPoint(pts[i + 2], pts[i + 3]));
            p.drawEllipse(box.normalized());
            p.drawRoundedRect(box.normalized(), 25, 25, Qt::RelativeSize);
        }
        return 20;
    });
    r.blits = loop([&](int& i) {
        for (int k = 0; k < 10; ++k, i = (i + 2) % kPointArrayLen)
            p.drawImage(QPoint(bpts[i], bpts[i + 1]), blit, QRect(0, 0, 64, 64));
        return 10;
    });
    r.busy = (threadCpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - start).count();
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 12.0;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    testconfig.duty_cycle[kSlot2D] = 100;
    const Rates test = runTest(seconds);
    const Rates ref = runReference(seconds / 3);
    std::printf("2D test thread busy: %.1f %%, plain loop: %.1f %%\n", test.busy * 100.0, ref.busy * 100.0);
    std::printf("%-7s %12s %14s %7s %18s\n", "kind", "test /s", "plain loop /s", "ratio", "limit with 3 us");
    bool low = false;
    // Each kind's batch: 10 lines, 20 shapes, 10 blits.
    for (const auto& [kind, rate, plain, perBatch] : { std::tuple("lines", test.lines, ref.lines, 10.0),
             std::tuple("shapes", test.shapes, ref.shapes, 20.0), std::tuple("blits", test.blits, ref.blits, 10.0) }) {
        const double batchMicros = perBatch / plain * 1e6;
        std::printf(
            "%-7s %12.0f %14.0f %7.3f %18.3f\n", kind, rate, plain, rate / plain, batchMicros / (batchMicros + 3.0));
        low = low || rate / plain < 0.8;
    }
    return low ? 1 : 0;
}
