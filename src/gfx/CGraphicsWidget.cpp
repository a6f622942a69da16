#include "CGraphicsWidget.h"

#include "EngineInfo.h"
#include "GraphicsEngines.h"
#include "GraphicsTests.h"
#include "Run.h"

#include <QCloseEvent>
#include <QIcon>
#include <QPainter>

GraphicsCanvas::GraphicsCanvas()
    : image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied)
{
    image.fill(background);
}

CGraphicsWidget::CGraphicsWidget(const Run& run, int slot, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_live(run.live<Graphics2DLive>(slot))
{
    InitGraphicsResources();
    setObjectName("graphicsWidget2D");
    setWindowTitle(SlotName(slot));
    setWindowIcon(QIcon(":/gfx/2d.png"));
    setFixedSize(GraphicsCanvas::kWidth, GraphicsCanvas::kHeight);
    // The canvas covers every pixel; no erase before a paint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_canvas->repaint.attach(this);
    m_live.canvas.publish(m_canvas);
}

CGraphicsWidget::~CGraphicsWidget()
{
    m_canvas->repaint.detach(this);
    m_live.canvas.withdraw(m_canvas.get());
}

void CGraphicsWidget::paintEvent(QPaintEvent* /*event*/)
{
    // Cleared first, so a batch drawn during this paint asks for the next.
    m_canvas->repaint.painted();
    QPainter painter(this);
    const auto guard = m_canvas->lockToShow();
    painter.drawImage(0, 0, m_canvas->image);
}

void CGraphicsWidget::closeEvent(QCloseEvent* event)
{
    event->ignore();
}
