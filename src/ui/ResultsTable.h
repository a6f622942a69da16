// The main window's results table: one row per slot taking part in the run,
// rebuilt while idle and updated in place during a run.
#pragma once

#include "ConfigRecord.h"

#include <QPixmap>
#include <QString>
#include <QTableWidgetItem>

#include <array>
#include <bitset>
#include <cstdint>

class QLCDNumber;
class Run;
class QTableWidget;

// The operations cell: the count times `scale` (a disk slot's block size),
// whole below a million, else scaled to Million ... Quadrillion. Not the
// reports' rule (ReportOperationsText): the two differ on purpose.
QString OperationsCellText(std::uint64_t opCount, float scale);

// "hh:mm:ss" for the elapsed-time display; hours grow past two digits.
QString ElapsedText(long seconds);

// Shows ElapsedText(seconds) on `lcd`, widening it by digits when the text
// is longer than its 8, so that 100 hours and more show whole.
void ShowElapsed(QLCDNumber* lcd, long seconds);

class RunContext;

// The row name of a slot: its test name plus the unit it drives.
QString ResultsRowName(const RunContext& ctx, int slot);

// Makes the program's icons (":/icons/...") loadable; idempotent.
void InitUiResources();

// A read-only cell, left-aligned and vertically centred.
class LeftAlignTableItem : public QTableWidgetItem {
public:
    explicit LeftAlignTableItem(const QString& text);
};

// Fills a QTableWidget from resultfile and testconfig. GUI thread only; the
// counters are read without locks, so a value may be one increment behind.
class ResultsTable {
public:
    static constexpr int kNormalColumns = 5;
    static constexpr int kCategoryColumns = 7;

    ResultsTable(const RunContext& ctx, QTableWidget* table);

    // Idle: empties the table, sets the view's columns and adds one row per
    // slot taking part (SlotTakesPart: the selected tests, and the health
    // monitor's once it watched a run), in slot order, with accumulated values.
    void rebuild(bool byCategory);
    // During a run: rewrites the rows in place with accumulated + current.
    void updateInPlace();
    // The same after switching the columns when the view differs.
    void updateInPlace(bool byCategory);
    // At the start of a run: no rows, then one empty row per running slot
    // for updateInPlace to fill.
    void clear();
    void setRunRows(int rows);
    // rebuild() with the configured view when idle, else updateInPlace().
    void refresh();

    // Column count, headers and widths of the normal or category view.
    void setColumns(bool byCategory);
    bool byCategory() const { return m_byCategory; }

    // Writes one slot's row; `running` adds the current run's counters.
    void fillRow(int slot, int row, bool running);

    // The slot's row icon, loaded on first use; null when the slot has none.
    QPixmap icon(int slot);

private:
    void setCell(int row, int column, const QString& text, int slot);

    const RunContext& m_ctx;
    QTableWidget* m_table;
    bool m_byCategory = false;
    std::array<QPixmap, kNumSlots> m_icons;
    std::bitset<kNumSlots> m_iconLoaded;
};
