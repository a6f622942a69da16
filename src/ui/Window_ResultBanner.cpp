#include "Window_ResultBanner.h"

#include "ui_Window_ResultBanner_Base.h"

#include <QColor>
#include <QHideEvent>
#include <QPalette>
#include <QPushButton>

namespace {

constexpr int kFlashIntervalMs = 500;

// One level for every banner, flipped by whichever one paints.
int colourLevel = 0;

} // namespace

Window_ResultBanner::Window_ResultBanner(QWidget* parent)
    : Window_ResultBanner_Base(parent)
{
    m_flashTimer->setObjectName(QStringLiteral("flashTimer"));
    m_flashTimer->setInterval(kFlashIntervalMs);
    connect(m_flashTimer, &QTimer::timeout, this, [this] { update(); });
    connect(ui->pushButtonOK, &QPushButton::clicked, this, &Window_ResultBanner::accept);
}

void Window_ResultBanner::showResult(int failed)
{
    m_failed = failed;
    setWindowTitle(tr("KalvexTest test result"));
    // Right away, not at the first paint: the banner may still be covered.
    ui->textLabelResultBanner->setText(m_failed ? tr("FAILED") : tr("PASSED"));
    show();
    raise();
    m_flashTimer->start();
}

void Window_ResultBanner::paintEvent(QPaintEvent* event)
{
    colourLevel ^= 255;
    const int other = 255 - colourLevel;
    const QColor text = m_failed ? QColor(colourLevel, 0, 0) : QColor(0, colourLevel, 0);
    const QColor back = m_failed ? QColor(other, 0, 0) : QColor(0, other, 0);

    QLabel* label = ui->textLabelResultBanner;
    label->setText(m_failed ? tr("FAILED") : tr("PASSED"));
    // The label fills its own background, so changing it repaints the label
    // alone and never comes back here: no paint loop.
    QPalette palette = label->palette();
    palette.setColor(label->foregroundRole(), text);
    palette.setColor(label->backgroundRole(), back);
    label->setPalette(palette);

    Window_ResultBanner_Base::paintEvent(event);
}

void Window_ResultBanner::hideEvent(QHideEvent* event)
{
    if (!event->spontaneous())
        m_flashTimer->stop();
    Window_ResultBanner_Base::hideEvent(event);
}
