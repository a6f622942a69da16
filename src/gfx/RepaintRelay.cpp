#include "RepaintRelay.h"

#include <QMetaObject>
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
    QMetaObject::invokeMethod(
        w, [w] { w->update(); }, Qt::QueuedConnection);
}
