// bench_2d [seconds]: for `seconds` (default 30), in rounds of about 3 s,
// runs the 2D graphics test's three bursts at duty cycle 100 while a window
// thread copies the canvas 60 times a second as the window's paint does, then
// a plain loop making the same drawing calls with the same pens on the same
// kind of image with no lock and no pause, 500 ms a kind. Prints the test's
// drawing rate for each kind against the loop's and how long the window
// waited for the canvas. Exits 1 when a kind reaches less than 0.8 of the
// loop.
#include "CTest_2DGraphics.h"
#include "BenchRun.h"
#include "CTest_Math.h"
#include "ConfigRecord.h"
#include "TestSlots.h"

#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The plain loop: the test's calls back to back on an image of the canvas's
// size, with no lock and no pause. A new random pen every 50 batches, as the
// test picks one: a pen of width 2 draws far slower than one of width 0 or 1.
class PlainLoop {
public:
    PlainLoop()
        : m_image(GraphicsCanvas::kWidth, GraphicsCanvas::kHeight, QImage::Format_ARGB32_Premultiplied)
        , m_blit(QImage(":/gfx/blit.png").convertToFormat(QImage::Format_ARGB32_Premultiplied))
        , m_pts(SetUpRandomPtsArray(0, GraphicsCanvas::kWidth, GraphicsCanvas::kHeight))
        , m_bpts(SetUpRandomPtsArray(64, GraphicsCanvas::kWidth, GraphicsCanvas::kHeight))
        , m_painter(&m_image)
    {
    }
    // Operations per second of each kind, each drawn for `seconds`.
    std::array<double, 3> rates(double seconds)
    {
        return { loop(seconds, [&](int& i) { return lines(i); }), loop(seconds, [&](int& i) { return shapes(i); }),
            loop(seconds, [&](int& i) { return blits(i); }) };
    }

private:
    template <class Batch> double loop(double seconds, Batch batch)
    {
        std::uint64_t n = 0;
        int i = 0;
        const auto t0 = Clock::now();
        while (secondsSince(t0) < seconds) {
            m_painter.setPen(QPen(QColor(std::rand() % 256, std::rand() % 256, std::rand() % 256), std::rand() % 3));
            for (int k = 0; k < 50; ++k)
                n += batch(i);
        }
        return static_cast<double>(n) / secondsSince(t0);
    }
    int lines(int& i)
    {
        QPoint line[11];
        for (auto& pt : line)
            pt = QPoint(m_pts[i], m_pts[i + 1]), i = (i + 2) % kPointArrayLen;
        m_painter.drawPolyline(line, 11);
        return 10;
    }
    int shapes(int& i)
    {
        for (int k = 0; k < 10; ++k, i = (i + 4) % kPointArrayLen) {
            const QRect box(QPoint(m_pts[i], m_pts[i + 1]), QPoint(m_pts[i + 2], m_pts[i + 3]));
            m_painter.drawEllipse(box.normalized());
            m_painter.drawRoundedRect(box.normalized(), 25, 25, Qt::RelativeSize);
        }
        return 20;
    }
    int blits(int& i)
    {
        for (int k = 0; k < 10; ++k, i = (i + 2) % kPointArrayLen)
            m_painter.drawImage(QPoint(m_bpts[i], m_bpts[i + 1]), m_blit, QRect(0, 0, 64, 64));
        return 10;
    }

    QImage m_image, m_blit;
    std::unique_ptr<std::int32_t[]> m_pts, m_bpts;
    QPainter m_painter;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    testconfig.duty_cycle[kSlot2D] = 100;

    auto canvas = std::make_shared<GraphicsCanvas>();
    std::atomic<bool> running { true }, drawing { false };
    std::vector<double> waits; // microseconds, while the test draws
    std::thread window([&] {
        QImage shown;
        while (running.load()) {
            std::this_thread::sleep_for(std::chrono::microseconds(16667));
            const bool timed = drawing.load();
            const auto s = Clock::now();
            const auto guard = canvas->lockToShow();
            if (timed && drawing.load())
                waits.push_back(std::chrono::duration<double, std::micro>(Clock::now() - s).count());
            shown = canvas->image.copy();
        }
    });
    // Rounds of the test's three bursts (about 500 ms each) and the plain
    // loop's three kinds (500 ms each), so both see the same machine: this
    // VM's speed drifts by a third from minute to minute.
    std::array<std::vector<double>, 3> ratios;
    std::array<double, 3> testTotal {}, plainTotal {};
    std::thread([&] {
        UseFineTimerSlack(); // as the test's thread entry does
        ProcessRun& process = benchProcess();
        CTest_2DGraphics engine(process.ctx, kSlot2D, canvas);
        process.run.setSlotActive(kSlot2D, true);
        if (engine.SetUpDrawing() != 0 || !engine.BeginPainting())
            std::exit(2);
        PlainLoop plain;
        const auto t0 = Clock::now();
        while (secondsSince(t0) < seconds) {
            std::array<double, 3> rate {};
            const std::array<std::uint64_t (CTest_2DGraphics::*)(), 3> bursts { &CTest_2DGraphics::test_2dgraph_lines,
                &CTest_2DGraphics::test_2dgraph_shapes, &CTest_2DGraphics::test_2dgraph_rect };
            drawing = true;
            for (std::size_t k = 0; k < 3; ++k) {
                const auto s = Clock::now();
                const auto n = static_cast<double>((engine.*bursts[k])());
                rate[k] = n / secondsSince(s);
            }
            drawing = false;
            const auto ref = plain.rates(0.5);
            for (std::size_t k = 0; k < 3; ++k) {
                ratios[k].push_back(rate[k] / ref[k]);
                testTotal[k] += rate[k], plainTotal[k] += ref[k];
            }
        }
        engine.EndPainting();
        process.run.setSlotActive(kSlot2D, false);
    }).join();
    running = false;
    window.join();

    std::sort(waits.begin(), waits.end());
    if (!waits.empty())
        std::printf("window's wait for the canvas (%zu paints): median %.0f us, 99th percentile %.0f us, max %.0f us\n",
            waits.size(), waits[waits.size() / 2], waits[waits.size() * 99 / 100], waits.back());
    const std::size_t rounds = ratios[0].size();
    std::printf("%zu rounds; rates are means over the rounds, the ratio the median of the rounds' ratios\n", rounds);
    std::printf("%-7s %12s %14s %7s\n", "kind", "test /s", "plain loop /s", "ratio");
    bool low = false;
    for (std::size_t k = 0; k < 3; ++k) {
        const double ratio = median(ratios[k]);
        std::printf("%-7s %12.0f %14.0f %7.3f\n", std::array { "lines", "shapes", "blits" }[k],
            testTotal[k] / static_cast<double>(rounds), plainTotal[k] / static_cast<double>(rounds), ratio);
        low = low || ratio < 0.8;
    }
    return low ? 1 : 0;
}
