#include "RepaintRelay.h"

#include <QMetaObject>
#include <QTimer>
#include <QWidget>

void RepaintRelay::attach(QWidget* window)
{
    std::lock_guard guard(m_mutex);
    m_window = window;
    m_pending.store(false, std::memory_order_release);
}

void RepaintRelay::detach(const QWidget* window)
{
    std::lock_guard guard(m_mutex);
    if (m_window == window)
        m_window = nullptr;
}

void RepaintRelay::request()
{
    if (m_pending.exchange(true, std::memory_order_acq_rel))
        return;
    std::lock_guard guard(m_mutex);
    QWidget* w = m_window;
    if (!w) {
        // Nobody to paint; a window attached later must still be asked.
        m_pending.store(false, std::memory_order_release);
        return;
    }
    // The window owns this relay (directly or through its canvas): a call
    // queued to it runs only while both live.
    QMetaObject::invokeMethod(
        w, [this, w] { repaintWhenDue(w); }, Qt::QueuedConnection);
}

void RepaintRelay::repaintWhenDue(QWidget* w) const
{
    const auto wait = m_lastPaint + m_minInterval - std::chrono::steady_clock::now();
    if (wait <= std::chrono::steady_clock::duration::zero())
        w->update();
    else
        QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(wait), w, [w] { w->update(); });
}
