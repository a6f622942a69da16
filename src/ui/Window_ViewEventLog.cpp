#include "Window_ViewEventLog.h"

#include "ui_Window_ViewEventLog_Base.h"

#include "CLogger.h"
#include "ResultsTable.h"
#include "Startup.h"
#include "WindowTiler.h"

#include <QIcon>
#include <QResizeEvent>
#include <QTableWidget>
#include <QTimerEvent>

#include <cstring>

namespace {

constexpr int kColumnMargin = 49;

const QIcon& severityIcon(const char* line)
{
    InitUiResources();
    static const QIcon info(QStringLiteral(":/icons/event-info.png"));
    static const QIcon warning(QStringLiteral(":/icons/event-warning.png"));
    static const QIcon serious(QStringLiteral(":/icons/event-serious.png"));
    if (std::strncmp(line, "INFO", 4) == 0)
        return info;
    if (std::strncmp(line, "WARN", 4) == 0)
        return warning;
    return serious;
}

} // namespace

Window_ViewEventLog::Window_ViewEventLog(QWidget* parent)
    : Window_ViewEventLog_Base(parent)
{
    setWindowTitle(QStringLiteral("KalvexTest's Event Log"));
    ui->table_ViewEventLog->setHorizontalHeaderLabels({QStringLiteral("Event Log")});
    CentreOnDesktop(this);
    m_timer = startTimer(1000);
}

void Window_ViewEventLog::LoadEventLog()
{
    ui->textLabel_Comments->setText(QStringLiteral("Note: Up to the last 1000 lines are shown."));
    ui->table_ViewEventLog->setRowCount(0);
    m_linesShown = 0;
    addLines(0);
}

void Window_ViewEventLog::addLines(int from)
{
    if (!gLogger)
        return;
    const int count = gLogger->GetNumberLines();
    QTableWidget* table = ui->table_ViewEventLog;
    if (count < from) {
        // The log was cleared or wrapped below what is shown: start again.
        table->setRowCount(0);
        from = 0;
    }
    table->setRowCount(count);
    for (int i = from; i < count; ++i) {
        int test = 0;
        // The line is valid until the next GetLine: copy it at once.
        const char* line = gLogger->GetLine(i, &test, nullptr);
        const QString text = line ? QString::fromLocal8Bit(line).trimmed() : QString();
        const QByteArray raw = text.toLocal8Bit();
        auto* item = new QTableWidgetItem(severityIcon(raw.constData()), text);
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        table->setItem(i, 0, item);
        table->setColumnWidth(0, width() - kColumnMargin);
        table->scrollToItem(item);
        m_linesShown = i + 1;
    }
}

void Window_ViewEventLog::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer) {
        Window_ViewEventLog_Base::timerEvent(event);
        return;
    }
    if (gLogger && gLogger->GetNumberLines() != m_linesShown)
        addLines(m_linesShown);
}

void Window_ViewEventLog::resizeEvent(QResizeEvent* event)
{
    Window_ViewEventLog_Base::resizeEvent(event);
    ui->table_ViewEventLog->setColumnWidth(0, width() - kColumnMargin);
}
