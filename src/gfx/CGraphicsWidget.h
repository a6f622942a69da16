// The 2D test's window: shows the canvas the test thread draws into. The
// user cannot close it; the run deletes it at the stop.
#pragma once

#include "GraphicsCanvas.h"

#include <QWidget>

#include <memory>

class Run;
struct Graphics2DLive;

class CGraphicsWidget : public QWidget {
public:
    // A top-level, fixed-size window titled with the name of `slot`, showing
    // a new canvas that it hands over to the slot's test thread through the
    // run. GUI thread.
    CGraphicsWidget(const Run& run, int slot, QWidget* parent = nullptr);
    // Stops repaint requests and takes the canvas back from the run.
    ~CGraphicsWidget() override;

    const std::shared_ptr<GraphicsCanvas>& canvas() const { return m_canvas; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Ignored: the window stays while the test runs.
    void closeEvent(QCloseEvent* event) override;

private:
    Graphics2DLive& m_live;
    const std::shared_ptr<GraphicsCanvas> m_canvas = std::make_shared<GraphicsCanvas>();
};
