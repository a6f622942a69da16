// The 2D test's drawing surface, shared by its window and its test thread.
//
// The test thread draws into `image` with a QPainter of its own while it
// holds `lock`, which it only ever takes with try_lock: a batch that finds
// the lock taken is skipped, so the test never waits on the GUI. The window
// takes the same lock in its paint event to copy the image to the screen.
// Window and test own the canvas jointly, so a test thread left running
// after its window is gone still draws into live memory.
#pragma once

#include "RepaintRelay.h"

#include <QColor>
#include <QImage>

#include <atomic>
#include <memory>
#include <mutex>

struct GraphicsCanvas {
    static constexpr int kWidth = 300;
    static constexpr int kHeight = 200;
    // The status strip across the top; the drawing area is below it.
    static constexpr int kStripHeight = 15;

    // A white kWidth x kHeight image. Any thread.
    GraphicsCanvas();

    std::mutex lock;
    // Takes `lock` for the window, counted in `showWaiting` until it has it,
    // so the test thread knows to leave the canvas a moment after a batch.
    [[nodiscard]] std::unique_lock<std::mutex> lockToShow()
    {
        showWaiting.fetch_add(1, std::memory_order_relaxed);
        std::unique_lock guard(lock);
        showWaiting.fetch_sub(1, std::memory_order_relaxed);
        return guard;
    }
    std::atomic<int> showWaiting { 0 };
    // Touched only with `lock` held.
    QImage image;
    // The status strip's text as last drawn; with `lock` held.
    char status[100] = {};
    // The painter's background colour: what clears the image and the strip.
    const QColor background { Qt::white };
    // Asks the window to show what was drawn, at most at a screen's 60 Hz.
    RepaintRelay repaint { std::chrono::milliseconds(16) };
};
