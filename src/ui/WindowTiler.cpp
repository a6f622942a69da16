#include "WindowTiler.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

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

void CentreOnDesktop(QWidget* w)
{
    const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    w->move(area.right() / 2 - w->width() / 2, area.bottom() / 2 - w->height() / 2);
}
