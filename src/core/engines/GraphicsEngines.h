// What the run knows of the 2D and 3D graphics tests without the GUI
// libraries: their error codes and live values. The engines and windows
// themselves live in src/gfx.
#pragma once

#include "LiveStatus.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <sys/time.h>

struct GraphicsCanvas;
class RepaintRelay;

enum Graphics2DError : int {
    kGraphics2DErrorNoImage = 9, // the blit image cannot be loaded
    kGraphics2DErrorNoPoints = 205, // the random point arrays cannot be made
};

enum Graphics3DError : int {
    kGraphics3DErrorNoOpenGL = 206, // no OpenGL, or no GLU quadric to draw with
};

// What a graphics window shares with its test thread (the 2D canvas, the 3D
// repaint relay). The window makes it and hands it over here before the
// thread starts, and takes it back as it goes; both own it, so a thread left
// running after its window is gone still reaches live memory.
template <class T> class WindowShare {
public:
    void publish(std::shared_ptr<T> share)
    {
        std::lock_guard guard(m_mutex);
        m_share = std::move(share);
    }
    // The share of the window alive, or null. Any thread.
    std::shared_ptr<T> current() const
    {
        std::lock_guard guard(m_mutex);
        return m_share;
    }
    // Forgets `share` if it is the one handed over.
    void withdraw(const T* share)
    {
        std::lock_guard guard(m_mutex);
        if (m_share.get() == share)
            m_share.reset();
    }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<T> m_share;
};

// The 2D slot's live values; the counts start at 0 with each engine.
struct Graphics2DLive : LiveStatus {
    std::atomic<std::uint64_t> lines { 0 };
    std::atomic<std::uint64_t> shapes { 0 };
    std::atomic<std::uint64_t> blits { 0 };
    // The delay D after each burst, in ms.
    std::atomic<int> delayMs { 0 };
    // The window's canvas the engine draws into.
    WindowShare<GraphicsCanvas> canvas;
};

// The 3D slot's live values. The animation state carries over from one run to
// the next; the engine steps it, the window draws it.
struct Graphics3DLive : LiveStatus {
    std::atomic<int> hourOfDay { 0 }; // 0..350, steps of 10 degrees
    std::atomic<int> zDisplacement { 0 }; // -50..50, steps of 10
    std::atomic<int> zDirection { -1 }; // sign of the next step
    std::atomic<int> lightPositionAngle { 0 }; // 0..359 degrees
    // Frames rendered: the window counts them, the engine sets 0 at its
    // start and counts a cycle per 200.
    std::atomic<int> renderCount { 0 };
    // The duty-cycle delay after a cycle, in ms.
    std::atomic<int> delayMs { 0 };
    // The engine's start; the engine's thread only.
    timeval startTime {};
    // Where the engine's repaint requests reach the window.
    WindowShare<RepaintRelay> repaint;
};
