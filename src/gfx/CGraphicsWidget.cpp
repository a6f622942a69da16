#include "CGraphicsWidget.h"

#include "GraphicsTests.h"
#include "TestSlots.h"

#include <QCloseEvent>
#include <QIcon>
#include <QPainter>

namespace {
std::mutex g_publishMutex;
std::shared_ptr<GraphicsCanvas> g_published;
} // namespace

GraphicsCanvas::GraphicsCanvas()
    : image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied)
{
    image.fill(background);
}

void Publish2DCanvas(std::shared_ptr<GraphicsCanvas> canvas)
{
    std::lock_guard guard(g_publishMutex);
    g_published = std::move(canvas);
}

std::shared_ptr<GraphicsCanvas> Current2DCanvas()
{
    std::lock_guard guard(g_publishMutex);
    return g_published;
}

void Withdraw2DCanvas(const GraphicsCanvas* canvas)
{
    std::lock_guard guard(g_publishMutex);
    if (g_published.get() == canvas)
        g_published.reset();
}

CGraphicsWidget::CGraphicsWidget(std::shared_ptr<GraphicsCanvas> canvas, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_canvas(std::move(canvas))
{
    InitGraphicsResources();
    setObjectName("graphicsWidget2D");
    setWindowTitle(SlotName(kSlot2D));
    setWindowIcon(QIcon(":/gfx/2d.png"));
    setFixedSize(GraphicsCanvas::kWidth, GraphicsCanvas::kHeight);
    // The canvas covers every pixel; no erase before a paint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_canvas->repaint.attach(this);
}

CGraphicsWidget::~CGraphicsWidget()
{
    m_canvas->repaint.detach(this);
    Withdraw2DCanvas(m_canvas.get());
}

void CGraphicsWidget::paintEvent(QPaintEvent* /*event*/)
{
    // Cleared first, so a batch drawn during this paint asks for the next.
    m_canvas->repaint.painted();
    QPainter painter(this);
    std::lock_guard guard(m_canvas->lock);
    painter.drawImage(0, 0, m_canvas->image);
}

void CGraphicsWidget::closeEvent(QCloseEvent* event)
{
    event->ignore();
}
