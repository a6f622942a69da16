// The 2D test's window: shows the canvas the test thread draws into. The
// user cannot close it; the run deletes it at the stop.
#pragma once

#include "GraphicsCanvas.h"

#include <QWidget>

#include <memory>

class CGraphicsWidget : public QWidget {
public:
    // A top-level, fixed-size window titled with the slot's name showing
    // `canvas`. GUI thread.
    explicit CGraphicsWidget(std::shared_ptr<GraphicsCanvas> canvas, QWidget* parent = nullptr);
    // Stops repaint requests and releases the window's share of the canvas.
    ~CGraphicsWidget() override;

    const std::shared_ptr<GraphicsCanvas>& canvas() const { return m_canvas; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Ignored: the window stays while the test runs.
    void closeEvent(QCloseEvent* event) override;

private:
    std::shared_ptr<GraphicsCanvas> m_canvas;
};
