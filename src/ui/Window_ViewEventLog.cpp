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

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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
    ui->table_ViewEventLog->setHorizontalHeaderLabels({ QStringLiteral("Event Log") });
    CentreOnDesktop(this);
    m_timer = startTimer(1000);
}

void Window_ViewEventLog::LoadEventLog()
{
    ui->textLabel_Comments->setText(QStringLiteral("Note: Up to the last 1000 lines are shown."));
    ui->table_ViewEventLog->setRowCount(0);
    m_linesSeen = 0;
    addLines();
}

void Window_ViewEventLog::addLines()
{
    if (!gLogger)
        return;
    // The ring's size stops at 1000 once it is full: the running total of
    // lines is what tells new lines from old.
    std::vector<std::string> lines;
    int held = 0;
    const std::uint64_t total = gLogger->CopyLinesSince(m_linesSeen, lines, &held);
    QTableWidget* table = ui->table_ViewEventLog;
    const int added = static_cast<int>(lines.size());
    // Lines the ring has dropped (it wrapped, or was cleared) leave the top.
    const int dropped = std::clamp(table->rowCount() + added - held, 0, table->rowCount());
    if (dropped > 0 && dropped == table->rowCount())
        table->setRowCount(0);
    else
        for (int i = 0; i < dropped; ++i)
            table->removeRow(0);
    m_linesSeen = total;

    int row = table->rowCount();
    table->setRowCount(row + added);
    for (const std::string& line : lines) {
        const QString text = QString::fromLocal8Bit(line).trimmed();
        const QByteArray raw = text.toLocal8Bit();
        auto* item = new QTableWidgetItem(severityIcon(raw.constData()), text);
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        table->setItem(row, 0, item);
        table->setColumnWidth(0, width() - kColumnMargin);
        table->scrollToItem(item);
        ++row;
    }
}

void Window_ViewEventLog::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer) {
        Window_ViewEventLog_Base::timerEvent(event);
        return;
    }
    addLines();
}

void Window_ViewEventLog::resizeEvent(QResizeEvent* event)
{
    Window_ViewEventLog_Base::resizeEvent(event);
    ui->table_ViewEventLog->setColumnWidth(0, width() - kColumnMargin);
}
