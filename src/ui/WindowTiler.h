// Places the live windows of a run side by side in columns down the screen,
// starting a new layer (offset by 25 pixels) when the screen is full.
#pragma once

#include <QRect>

class QWidget;

// Moves `w` so that its centre is the centre of the available desktop area.
void CentreOnDesktop(QWidget* w);

class WindowTiler {
public:
    // `top` is the top of the available desktop area; `screenWidth` and
    // `screenHeight` the usable width and height.
    WindowTiler(int top, int screenWidth, int screenHeight);
    // The geometry for the next window of size w x h.
    QRect place(int w, int h);

private:
    int m_top;
    int m_width;
    int m_height;
    int m_x = 5;
    int m_y;
    int m_layer = 0;
};
