#include "CTest_2DGraphics.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Math.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "GraphicsTests.h"
#include "Run.h"
#include "Startup.h"

#include <QFont>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr int kLinesPerBatch = 10;
constexpr int kShapePairsPerBatch = 10;
constexpr int kBlitsPerBatch = 10;
constexpr long kWindowWaitNs = 1000000;
constexpr int kIdleStepMs = 1000;
// How long drawText keeps trying for the lock: the strip is drawn once a
// burst, and a paint of the window holds the lock for well under this.
constexpr int kTextLockTries = 20;

void reseedFromClock()
{
    timeval now {};
    gettimeofday(&now, nullptr);
    std::srand(static_cast<unsigned>(now.tv_usec));
}

// The short pause after each batch is for the window: while it waits to show
// the canvas, the thread offers it the processor and keeps off the canvas
// until the window has it (at most 1 ms). A fixed 3 us pause would not do
// it, since waking the window's thread takes some 50 us on a virtual
// machine, and with only that pause a paint waited up to 80 ms. When nobody
// waits the pause is empty: a yield alone costs over 1 us here, a 3 us
// nanosleep some 26 us, and a batch of blits takes about 5 us.
void pauseBetweenBatches(const GraphicsCanvas& canvas)
{
    if (canvas.showWaiting.load(std::memory_order_relaxed) == 0)
        return;
    timespec start {};
    clock_gettime(CLOCK_MONOTONIC, &start);
    sched_yield();
    while (canvas.showWaiting.load(std::memory_order_relaxed) > 0) {
        timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) >= kWindowWaitNs)
            return;
    }
}

// Advances a point index by `step` ints, back to the start before a read of
// `step` ints would run past the end.
int advance(int index, int step)
{
    index += step;
    return index + step > kPointArrayLen ? 0 : index;
}

} // namespace

void FormatStatusText(char* text, std::size_t size, std::uint64_t lines, std::uint64_t shapes, std::uint64_t blits)
{
    if (lines < 1000) {
        std::snprintf(text, size, "Li:%llu\t\tSh:%llu\t\tRe:%llu", static_cast<unsigned long long>(lines),
            static_cast<unsigned long long>(shapes), static_cast<unsigned long long>(blits));
        return;
    }
    const bool millions = lines >= 1000000;
    const double scale = millions ? 1000000.0 : 1000.0;
    std::snprintf(text, size, millions ? "Li:%.3lfM\t\tSh:%.3lfM\t\tRe:%.3lfM" : "Li:%.3lfK\t\tSh:%.3lfK\t\tRe:%.3lfK",
        static_cast<double>(lines) / scale, static_cast<double>(shapes) / scale, static_cast<double>(blits) / scale);
}

void UseFineTimerSlack()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

CTest_2DGraphics::CTest_2DGraphics(const RunContext& ctx, int testID, std::shared_ptr<GraphicsCanvas> canvas)
    : CTest_Base(ctx, testID, kSliceGraphics)
    , m_live(ctx.run.live<Graphics2DLive>(testID))
    , m_canvas(canvas ? std::move(canvas) : std::make_shared<GraphicsCanvas>())
    , m_painterPen(Qt::black, 1, Qt::SolidLine)
    , m_textPen(Qt::black, 1, Qt::SolidLine)
    , m_dutyCycle(ClampDutyCycle(SlotDutyCycle(testconfig, testID)))
    , m_pacer(m_dutyCycle)
{
    InitGraphicsResources();
    m_live.lines.store(0, std::memory_order_relaxed);
    m_live.shapes.store(0, std::memory_order_relaxed);
    m_live.blits.store(0, std::memory_order_relaxed);
    m_live.delayMs.store(DutyDelayMs(m_dutyCycle), std::memory_order_relaxed);
}

CTest_2DGraphics::~CTest_2DGraphics()
{
    EndPainting();
}

void CTest_2DGraphics::test_entry(int /*instance*/)
{
    UseFineTimerSlack();
    MarkRunning();
    th_test_2dgraphics();
}

void CTest_2DGraphics::th_test_2dgraphics()
{
    DPrintf("%s, %s[%d]: %s starts, duty cycle %d\n", KVX_WHERE, m_testName, m_dutyCycle);
    LogStart();
    if (relaxedLoad(testconfig.twod_test_skip) == 0)
        Standard2DGraphics();
    EndTest();
}

int CTest_2DGraphics::SetUpDrawing()
{
    const Graphics2DSettings& settings = m_ctx.settings<Graphics2DSettings>();
    const auto make = settings.makePoints ? settings.makePoints : SetUpRandomPtsArray;
    m_linePoints = make(0, GraphicsCanvas::kWidth, GraphicsCanvas::kHeight);
    m_blitPoints = make(kBlitSize, GraphicsCanvas::kWidth, GraphicsCanvas::kHeight);
    if (!m_linePoints || !m_blitPoints)
        return kGraphics2DErrorNoPoints;
    // A QImage needs no GUI lock; it is the engine's own until drawn.
    const std::string& file = settings.blitImagePath;
    if (!m_pixmapBitBlt.load(file.empty() ? QString(":/gfx/blit.png") : QString::fromStdString(file)))
        return kGraphics2DErrorNoImage;
    m_pixmapBitBlt = m_pixmapBitBlt.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return 0;
}

bool CTest_2DGraphics::BeginPainting()
{
    // The GUI holds the lock only for a paint; keep trying until then.
    while (!m_canvas->lock.try_lock()) {
        if (!Active())
            return false;
        Sleep(1);
    }
    if (!m_painter.isActive() && m_painter.begin(&m_canvas->image)) {
        QFont font = m_painter.font();
        font.setPixelSize(11);
        m_painter.setFont(font);
        m_painter.setPen(m_painterPen);
    }
    m_canvas->lock.unlock();
    return m_painter.isActive();
}

void CTest_2DGraphics::EndPainting()
{
    if (!m_painter.isActive())
        return;
    std::lock_guard guard(m_canvas->lock);
    m_painter.end();
}

void CTest_2DGraphics::Standard2DGraphics()
{
    const int error = SetUpDrawing();
    if (error != 0) {
        RecordError(error, kLogTest);
        while (Active())
            WaitMsecs(kIdleStepMs);
        m_linePoints.reset();
        m_blitPoints.reset();
        return;
    }
    if (BeginPainting()) {
        // Each burst's drawing counts as it is done, so op_count is the
        // number of drawing operations of the run, cut-short cycle included.
        auto pause = [this] { Pace(m_pacer); };
        m_pacer.restart();
        while (Active()) {
            CountOperations(test_2dgraph_lines());
            pause();
            if (!Active())
                break;
            CountOperations(test_2dgraph_shapes());
            pause();
            if (!Active())
                break;
            CountOperations(test_2dgraph_rect());
            pause();
            if (!Active())
                break;
            CountCycle();
            if (std::getenv("_TIME_STAMP_")) {
                const std::time_t now = std::time(nullptr);
                char stamp[32] = {};
                ctime_r(&now, stamp);
                stamp[std::strcspn(stamp, "\n")] = '\0';
                std::printf("2D thread: Time = *%s*, PID = %d, PPID = %d\n", stamp, static_cast<int>(::getpid()),
                    static_cast<int>(::getppid()));
                std::fflush(stdout);
                [[maybe_unused]] const int rc = std::system("cat /proc/self/statm");
            }
        }
        EndPainting();
    }
    m_linePoints.reset();
    m_blitPoints.reset();
}

void CTest_2DGraphics::clearDrawingArea()
{
    m_painter.fillRect(0, GraphicsCanvas::kStripHeight, GraphicsCanvas::kWidth,
        GraphicsCanvas::kHeight - GraphicsCanvas::kStripHeight, m_canvas->background);
}

void CTest_2DGraphics::pickRandomPen()
{
    const int red = std::rand() % 256;
    const int green = std::rand() % 256;
    const int blue = std::rand() % 256;
    m_painterPen.setColor(QColor(red, green, blue));
    m_painterPen.setWidth(std::rand() % 3);
    m_painter.setPen(m_painterPen);
}

template <class Batch> std::uint64_t CTest_2DGraphics::burst(const char* colourSample, Batch&& batch)
{
    const auto start = std::chrono::steady_clock::now();
    std::mutex& lock = m_canvas->lock;
    if (lock.try_lock()) {
        clearDrawingArea();
        lock.unlock();
    }
    std::uint64_t count = 0;
    for (int n = 0; Active(); ++n) {
        if (lock.try_lock()) {
            count += batch();
            lock.unlock();
            m_canvas->repaint.request();
        }
        pauseBetweenBatches(*m_canvas);
        // The duty cycle's pause, sized by the drawing's time.
        Pace(m_pacer);
        if (colourSample && n % kBatchesPerColour == 0) {
            reseedFromClock();
            if (lock.try_lock()) {
                pickRandomPen();
                lock.unlock();
                char line[CLogger::kLineSize];
                std::snprintf(line, sizeof line, colourSample, n, n / kBatchesPerColour, kBatchesPerColour);
                if (gLogger)
                    gLogger->AddLine(line, -1, 0, m_testName, 4);
            }
        }
        if (n % kBatchesPerCheck == 0) {
            const auto elapsed = std::chrono::steady_clock::now() - start;
            if (elapsed >= std::chrono::milliseconds(kBurstMs)) {
                if (!colourSample && gLogger) {
                    char line[CLogger::kLineSize];
                    std::snprintf(line, sizeof line, "Draw rectangle - number: %d (sample 1 of 100).\n", n);
                    gLogger->AddLine(line, -1, 0, m_testName, 4);
                }
                break;
            }
        }
    }
    return count;
}

std::uint64_t CTest_2DGraphics::test_2dgraph_lines()
{
    if (!m_painter.isActive() || !m_linePoints)
        return 0;
    reseedFromClock();
    const std::int32_t* pts = m_linePoints.get();
    QPoint current(GraphicsCanvas::kWidth / 2, GraphicsCanvas::kHeight / 2);
    int next = 0;
    // burst() clears the drawing area.
    if (m_canvas->lock.try_lock()) {
        pickRandomPen();
        m_canvas->lock.unlock();
    }
    const std::uint64_t count
        = burst("Select new random color. Draw line - number: %d (sample %d of %d).\n", [&]() -> std::uint64_t {
              QPoint line[kLinesPerBatch + 1];
              line[0] = current;
              for (int k = 1; k <= kLinesPerBatch; ++k) {
                  line[k] = QPoint(pts[next], pts[next + 1]);
                  next = advance(next, 2);
              }
              m_painter.drawPolyline(line, kLinesPerBatch + 1);
              current = line[kLinesPerBatch];
              return kLinesPerBatch;
          });
    m_live.lines.fetch_add(count, std::memory_order_relaxed);
    drawText();
    return count;
}

std::uint64_t CTest_2DGraphics::test_2dgraph_shapes()
{
    if (!m_painter.isActive() || !m_linePoints)
        return 0;
    reseedFromClock();
    const std::int32_t* pts = m_linePoints.get();
    int first = 0;
    // burst() clears the drawing area.
    if (m_canvas->lock.try_lock()) {
        pickRandomPen();
        m_canvas->lock.unlock();
    }
    const std::uint64_t count
        = burst("Select new random color. Draw shapes - number: %d (sample %d of %d).\n", [&]() -> std::uint64_t {
              for (int k = 0; k < kShapePairsPerBatch; ++k) {
                  const int x1 = pts[first], y1 = pts[first + 1], x2 = pts[first + 2], y2 = pts[first + 3];
                  const QRect box(std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1), std::abs(y2 - y1));
                  m_painter.drawEllipse(box);
                  m_painter.drawRoundedRect(box, 25, 25, Qt::RelativeSize);
                  first = advance(first, 4);
              }
              return 2 * kShapePairsPerBatch;
          });
    m_live.shapes.fetch_add(count, std::memory_order_relaxed);
    drawText();
    return count;
}

std::uint64_t CTest_2DGraphics::test_2dgraph_rect()
{
    if (!m_painter.isActive() || !m_blitPoints || m_pixmapBitBlt.isNull())
        return 0;
    const std::int32_t* pts = m_blitPoints.get();
    const QRect source(0, 0, kBlitSize, kBlitSize);
    int next = 0;
    const std::uint64_t count = burst(nullptr, [&]() -> std::uint64_t {
        for (int k = 0; k < kBlitsPerBatch; ++k) {
            m_painter.drawImage(QPoint(pts[next], pts[next + 1]), m_pixmapBitBlt, source);
            next = advance(next, 2);
        }
        return kBlitsPerBatch;
    });
    m_live.blits.fetch_add(count, std::memory_order_relaxed);
    drawText();
    return count;
}

void CTest_2DGraphics::drawText()
{
    FormatStatusText(m_statusText, sizeof m_statusText, lineCount(), shapeCount(), blitCount());
    if (!m_painter.isActive())
        return;
    std::mutex& lock = m_canvas->lock;
    int tries = 0;
    while (!lock.try_lock()) {
        if (++tries >= kTextLockTries || !Active())
            return;
        Sleep(1);
    }
    const QPen pen = m_painter.pen();
    m_painter.setPen(m_textPen);
    m_painter.fillRect(0, 0, GraphicsCanvas::kWidth, GraphicsCanvas::kStripHeight, m_canvas->background);
    // The two tabs between the counts set them in thirds of the strip, so
    // the widest ("Re:999.999K") still fits inside the window.
    const QStringList fields = QString::fromLatin1(m_statusText).split('\t', Qt::SkipEmptyParts);
    constexpr int kColumn = GraphicsCanvas::kWidth / 3;
    for (int i = 0; i < fields.size(); ++i)
        m_painter.drawText(3 + i * kColumn, GraphicsCanvas::kStripHeight, fields[i]);
    m_painter.setPen(pen);
    std::snprintf(m_canvas->status, sizeof m_canvas->status, "%s", m_statusText);
    lock.unlock();
    m_canvas->repaint.request();
}

void* Test_Thread_2DGraphics(void* arg)
{
    return RunTestThread(static_cast<TestThreadRecord*>(arg), "Test_Thread_2DGraphics",
        [](const RunContext& ctx, int, int slot) -> std::unique_ptr<CTest_Base> {
            return std::make_unique<CTest_2DGraphics>(ctx, slot, ctx.run.live<Graphics2DLive>(slot).canvas.current());
        });
}
