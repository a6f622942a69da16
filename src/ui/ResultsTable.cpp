#include "ResultsTable.h"

#include "AtomicField.h"
#include "EngineInfo.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "Run.h"
#include "RunContext.h"
#include "RunControl.h"
#include "SystemInfo.h"
#include "TestSlots.h"

#include <QLCDNumber>
#include <QTableWidget>

#include <algorithm>
#include <cstring>
#include <limits>

// The icons live in a static library; nothing else references the compiled
// resource, so the linker would drop it without this call. Q_INIT_RESOURCE
// must be used outside any namespace.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

void InitUiResources()
{
    static const bool ready = [] {
        initIconResources();
        return true;
    }();
    (void)ready;
}

extern const EngineInfo kDiskEngine;

namespace {

struct Column {
    const char* header;
    int width;
};
constexpr Column kNormalView[ResultsTable::kNormalColumns] = { { "Test Name", 160 }, { "Cycles", 50 },
    { "Operations", 100 }, { "Errors", 50 }, { "Last Error Description", 240 } };
constexpr Column kCategoryView[ResultsTable::kCategoryColumns] = { { "Test Name", 160 }, { "Cycles", 50 },
    { "Operations", 100 }, { "Critical", 60 }, { "Serious", 60 }, { "Warning", 60 }, { "Info", 60 } };

template <std::size_t N> QString fieldText(const char (&field)[N])
{
    // Records loaded from disk may lack the terminating NUL.
    return QString::fromLocal8Bit(field, static_cast<qsizetype>(::strnlen(field, N)));
}

// Truncation that saturates instead of overflowing the integer type.
unsigned long long truncated(float v)
{
    if (!(v > 0.0f))
        return 0;
    if (v >= 18446744073709551616.0f)
        return std::numeric_limits<unsigned long long>::max();
    return static_cast<unsigned long long>(v);
}

} // namespace

QString OperationsCellText(std::uint64_t opCount, float scale)
{
    float v = static_cast<float>(opCount) * scale;
    if (!(v >= 0.0f))
        v = 0.0f;
    if (v < 1e6f)
        return QString::asprintf("%-15llu", truncated(v));
    struct Unit {
        float divisor;
        const char* fraction;
        const char* whole;
    };
    static constexpr Unit kUnits[]
        = { { 1e15f, "%.1f Quadrillion", "%llu Quadrillion" }, { 1e12f, "%.3f Trillion", "%llu Trillion" },
              { 1e9f, "%.3f Billion", "%llu Billion" }, { 1e6f, "%.3f Million", "%llu Million" } };
    for (const Unit& u : kUnits) {
        if (v < u.divisor)
            continue;
        const float q = v / u.divisor;
        if (truncated(q) <= 99)
            return QString::asprintf(u.fraction, static_cast<double>(q));
        return QString::asprintf(u.whole, truncated(q));
    }
    return {};
}

QString ElapsedText(long seconds)
{
    // A clock set back during the run must not show negative fields.
    if (seconds < 0)
        seconds = 0;
    const long h = seconds / 3600;
    const long m = seconds % 3600 / 60;
    const long s = seconds % 60;
    return QString::asprintf(h < 10 ? "%02ld:%02ld:%02ld" : "%ld:%02ld:%02ld", h, m, s);
}

void ShowElapsed(QLCDNumber* lcd, long seconds)
{
    // An LCD shows only the last digitCount characters of a longer text.
    constexpr int kDigits = 8;
    const QString text = ElapsedText(seconds);
    lcd->setDigitCount(std::max(kDigits, static_cast<int>(text.size())));
    lcd->display(text);
}

QString ResultsRowName(const RunContext& ctx, int slot)
{
    return QString::fromStdString(SlotDisplayName(ctx, slot));
}

LeftAlignTableItem::LeftAlignTableItem(const QString& text)
    : QTableWidgetItem(text)
{
    setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

ResultsTable::ResultsTable(const RunContext& ctx, QTableWidget* table)
    : m_ctx(ctx)
    , m_table(table)
{
}

void ResultsTable::setColumns(bool byCategory)
{
    m_byCategory = byCategory;
    const Column* columns = byCategory ? kCategoryView : kNormalView;
    const int count = byCategory ? kCategoryColumns : kNormalColumns;
    m_table->setColumnCount(count);
    QStringList headers;
    for (int c = 0; c < count; ++c)
        headers << QString::fromLatin1(columns[c].header);
    m_table->setHorizontalHeaderLabels(headers);
    for (int c = 0; c < count; ++c)
        m_table->setColumnWidth(c, columns[c].width);
}

void ResultsTable::rebuild(bool byCategory)
{
    m_table->setRowCount(0);
    setColumns(byCategory);
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (!SlotTakesPart(m_ctx, slot))
            continue;
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        fillRow(slot, row, false);
    }
}

void ResultsTable::updateInPlace()
{
    int row = 0;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (!SlotTakesPart(m_ctx, slot))
            continue;
        // The selection cannot change during a run; this only guards a
        // table that was never built.
        if (row >= m_table->rowCount())
            m_table->insertRow(row);
        fillRow(slot, row++, true);
    }
}

void ResultsTable::updateInPlace(bool byCategory)
{
    if (byCategory != m_byCategory || m_table->columnCount() == 0)
        setColumns(byCategory);
    updateInPlace();
}

void ResultsTable::clear()
{
    m_table->setRowCount(0);
}

void ResultsTable::setRunRows(int rows)
{
    m_table->setRowCount(rows < 0 ? 0 : rows);
}

void ResultsTable::refresh()
{
    if (m_ctx.run.stopAllTests == 0)
        updateInPlace();
    else
        rebuild(relaxedLoad(testconfig.view_errors_by_category) != 0);
}

void ResultsTable::setCell(int row, int column, const QString& text, int slot)
{
    QTableWidgetItem* item = m_table->item(row, column);
    if (!item) {
        item = new LeftAlignTableItem(text);
        if (column == 0) {
            const QPixmap pixmap = icon(slot);
            if (!pixmap.isNull())
                item->setIcon(pixmap);
        }
        m_table->setItem(row, column, item);
    } else if (item->text() != text) {
        item->setText(text);
    }
}

void ResultsTable::fillRow(int slot, int row, bool running)
{
    if (slot < 0 || slot >= kNumSlots)
        return;
    const _resultinfo& acc = resultfile.accum_results[slot];
    const _resultinfo& cur = resultfile.results[slot];
    // Idle: the finished run is already part of the accumulated values.
    auto sum = [running](const std::uint32_t& a, const std::uint32_t& c) {
        return running ? relaxedLoad(a) + relaxedLoad(c) : relaxedLoad(a);
    };

    setCell(row, 0, ResultsRowName(m_ctx, slot), slot);
    setCell(row, 1, QString::number(static_cast<int>(sum(acc.cycles, cur.cycles))), slot);
    // A disk's operations are blocks: the cell shows bytes.
    const float scale
        = kDiskEngine.has(slot) ? static_cast<float>(gFileSystemStructPtr[kDiskEngine.unitOf(slot)].vfs.f_bsize) : 1.0f;
    std::uint64_t ops = relaxedLoad<std::uint64_t>(acc.op_count);
    if (running)
        ops += relaxedLoad<std::uint64_t>(cur.op_count);
    setCell(row, 2, OperationsCellText(ops, scale), slot);

    if (m_byCategory) {
        const _classerror& accClass = resultfile.accum_classes[slot];
        const _classerror& curClass = resultfile.classes[slot];
        setCell(row, 3, QString::number(static_cast<int>(sum(accClass.critical, curClass.critical))), slot);
        setCell(row, 4, QString::number(static_cast<int>(sum(accClass.serious, curClass.serious))), slot);
        setCell(row, 5, QString::number(static_cast<int>(sum(accClass.warning, curClass.warning))), slot);
        setCell(row, 6, QString::asprintf("%-10d", static_cast<int>(sum(accClass.information, curClass.information))),
            slot);
        return;
    }

    setCell(row, 3, QString::number(static_cast<int>(sum(acc.errors, cur.errors))), slot);
    const std::uint32_t current = running ? relaxedLoad(cur.last_error) : 0;
    const std::uint32_t code = current != 0 ? current : relaxedLoad(acc.last_error);
    QString text;
    if (code == 0)
        text = QStringLiteral("No error");
    else if (code < static_cast<std::uint32_t>(kMaxErrorCodes))
        text = fieldText(e_strings[code]);
    setCell(row, 4, text, slot);
    if (code != 0) {
        // Widen only: a short text must not shrink the column below its width.
        const QAbstractItemView* view = m_table; // QTableView hides this as protected
        const int wanted = view->sizeHintForColumn(4);
        if (wanted > m_table->columnWidth(4))
            m_table->setColumnWidth(4, wanted);
    }
}

QPixmap ResultsTable::icon(int slot)
{
    if (slot < 0 || slot >= kNumSlots)
        return {};
    if (!m_iconLoaded.test(static_cast<std::size_t>(slot))) {
        InitUiResources();
        if (const char* file = SlotIcon(slot))
            m_icons[static_cast<std::size_t>(slot)].load(QString::fromLatin1(file));
        m_iconLoaded.set(static_cast<std::size_t>(slot));
    }
    return m_icons[static_cast<std::size_t>(slot)];
}
