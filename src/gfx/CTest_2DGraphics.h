// The 2D graphics test: bursts of random poly-lines, of ellipses
// under rounded rectangles and of 64 x 64 image blits, about half a second
// each, drawn by the test thread into the canvas its window shows, with the
// running count of each kind in a status strip.
//
// Typical usage:
//   1. The run start (GUI thread) creates the window, which hands its canvas
//      over in the slot's Graphics2DLive, then starts Test_Thread_2DGraphics.
//   2. The engine takes the canvas handed over; test_entry marks the slot
//      active and runs th_test_2dgraphics: lines, shapes and blits bursts
//      with the duty-cycle delay after each, one cycle per three bursts.
//   3. The GUI asks for a stop by clearing the slot's active flag; a burst notices
//      after its current batch, a delay within one 10 ms slice.
//
// Threadsafety: the engine is used by its thread only. It touches the canvas
// only between a successful try_lock and the unlock; a batch that cannot
// take the lock is skipped, drawing and counting nothing.
#pragma once

#include "RunContext.h"

#include "CTest_Base.h"
#include "DutyPacer.h"
#include "GraphicsCanvas.h"
#include "GraphicsEngines.h"

#include <QImage>
#include <QPainter>
#include <QPen>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The status strip's text for the three counts, all scaled alike by the line
// count: exact below 1000, thousands below 1000000, millions from there.
void FormatStatusText(char* text, std::size_t size, std::uint64_t lines, std::uint64_t shapes, std::uint64_t blits);

// Sets the calling thread's timer slack to the minimum (1 ns), so the duty
// cycle's sleeps end when asked rather than up to 50 us later. The setting
// ends with the thread.
void UseFineTimerSlack();

// The 2D engine's settings; the program uses the defaults.
struct Graphics2DSettings {
    // The blit image's file; empty: the embedded one.
    std::string blitImagePath;
    // Makes the point arrays; null: SetUpRandomPtsArray.
    std::unique_ptr<std::int32_t[]> (*makePoints)(int margin, int width, int height) = nullptr;
};

class CTest_2DGraphics : public CTest_Base {
public:
    // Event log category of this test's errors ("2D Graphics").
    static constexpr int kLogTest = 10;
    static constexpr int kBurstMs = 500;
    // Batches between two colour changes, and between two clock readings.
    static constexpr int kBatchesPerColour = 50;
    static constexpr int kBatchesPerCheck = 100;
    static constexpr int kBlitSize = 64;

    // Draws into `canvas`, or into a canvas of its own (shown nowhere) when
    // there is none. Test thread.
    CTest_2DGraphics(const RunContext& ctx, int testID, std::shared_ptr<GraphicsCanvas> canvas);
    ~CTest_2DGraphics() override;

    // Sets the thread's timer slack fine, counts the test as running, marks
    // the slot active, runs the test.
    void test_entry(int instance) override;
    // Logs the start, draws cycles until stopped (unless the configuration
    // skips the test), logs the stop.
    void th_test_2dgraphics();
    // The drawing cycles; reports a Graphics2DError and idles when it cannot
    // draw.
    void Standard2DGraphics();

    // Builds both point arrays and loads the blit image. Returns 0, or the
    // error code.
    int SetUpDrawing();
    // Opens and closes the engine's painter on the canvas (under the lock).
    // BeginPainting returns false when the slot was stopped first.
    bool BeginPainting();
    void EndPainting();

    // One burst each, until about kBurstMs have passed or the slot stops;
    // each adds its count to the totals and redraws the status strip.
    // Returns the burst's own count.
    std::uint64_t test_2dgraph_lines();
    std::uint64_t test_2dgraph_shapes();
    std::uint64_t test_2dgraph_rect();
    // Redraws the status strip from the totals.
    void drawText();

    std::uint64_t lineCount() const { return m_live.lines.load(std::memory_order_relaxed); }
    std::uint64_t shapeCount() const { return m_live.shapes.load(std::memory_order_relaxed); }
    std::uint64_t blitCount() const { return m_live.blits.load(std::memory_order_relaxed); }
    const char* statusText() const { return m_statusText; }
    // The point arrays (null before SetUpDrawing): lines and shapes, blits.
    const std::int32_t* linePoints() const { return m_linePoints.get(); }
    const std::int32_t* blitPoints() const { return m_blitPoints.get(); }

private:
    template <class Batch> std::uint64_t burst(const char* colourSample, Batch&& batch);
    void clearDrawingArea();
    void pickRandomPen();
    // Waits `ms` exactly, in slices, ending early on a stop request.

    Graphics2DLive& m_live;
    std::shared_ptr<GraphicsCanvas> m_canvas;
    QPainter m_painter;
    QPen m_painterPen;
    QPen m_textPen;
    QImage m_pixmapBitBlt;
    char m_statusText[100] = {};
    int m_dutyCycle;
    // The duty cycle's pauses, sized by the drawing's time.
    DutyPacer m_pacer;
    std::unique_ptr<std::int32_t[]> m_linePoints;
    std::unique_ptr<std::int32_t[]> m_blitPoints;
};

// Thread entry of the 2D slot: runs a CTest_2DGraphics on the canvas its
// window handed over.
void* Test_Thread_2DGraphics(void* arg);
