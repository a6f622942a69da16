// A repaint request that a test thread may make of a window it does not own.
//
// A test thread never calls a widget: it asks the relay, which queues an
// update() to the GUI thread with the window as the call's context. The
// window detaches itself before it is destroyed, under the relay's mutex, so
// a request is either queued before the window's destruction starts (and
// dropped with it by Qt) or finds no window at all.
//
// Threadsafety: request() from any thread; attach, detach and painted from
// the GUI thread.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

class QWidget;

class RepaintRelay {
public:
    // A window shown, not measured by its frames, needs no paint sooner than
    // `minInterval` after the last: more would only take the CPU from the
    // test that draws.
    explicit RepaintRelay(std::chrono::milliseconds minInterval = {})
        : m_minInterval(minInterval)
    {
    }
    // Requests go to `window` from now on. GUI thread.
    void attach(QWidget* window);
    // No request reaches `window` after this returns (when it is the one
    // attached). GUI thread, from the window's destructor at the latest.
    void detach(const QWidget* window);
    // Queues one repaint of the attached window, no sooner than the
    // interval after the last, unless one is still waiting to be painted, so
    // a fast thread cannot flood the event queue. Any thread.
    void request();
    // The window starts a paint: the next request queues again. GUI thread.
    void painted()
    {
        m_lastPaint = std::chrono::steady_clock::now();
        m_pending.store(false, std::memory_order_release);
    }

private:
    // On the GUI thread, where the request arrives.
    void repaintWhenDue(QWidget* w) const;

    const std::chrono::milliseconds m_minInterval;
    std::chrono::steady_clock::time_point m_lastPaint; // GUI thread
    std::mutex m_mutex;
    QWidget* m_window = nullptr;
    std::atomic<bool> m_pending { false };
};
