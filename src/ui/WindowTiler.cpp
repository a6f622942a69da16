#include "WindowTiler.h"

WindowTiler::WindowTiler(int top, int screenWidth, int screenHeight)
    : m_top(top)
    , m_width(screenWidth)
    , m_height(screenHeight)
    , m_y(top)
{
}

QRect WindowTiler::place(int w, int h)
{
    const QRect r(m_x, m_y, w, h);
    m_y += h + 30;
    if (m_y + h + 25 > m_height) {
        m_x += w + 10;
        m_y = m_top + (m_layer % 2) * 25;
        if (m_x + w > m_width) {
            ++m_layer;
            m_x = 5 + (m_layer % 2) * 25;
            m_y = m_top + (m_layer % 2) * 25;
        }
    }
    return r;
}
