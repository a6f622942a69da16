// The results table: cell formats, which rows appear in which order, what a
// row shows while a run is active and while idle, and the two column views.
#include "ResultsTable.h"

#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "SystemInfo.h"
#include "TestSlots.h"

#include <QHeaderView>
#include <QImage>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

std::string s(const QString& q)
{
    return q.toStdString();
}

TEST(ResultsCells, OperationsTexts)
{
    struct {
        std::uint64_t count;
        float scale;
        const char* text;
    } cases[] = {
        {0, 1.0f, "0              "},
        {999999, 1.0f, "999999         "},
        // 999999.984 exactly, 1e6 once rounded to single precision.
        {7, 142857.14f, "1.000 Million"},
        {1000000, 1.0f, "1.000 Million"},
        {1234567, 1.0f, "1.235 Million"},
        // Truncation, not rounding, picks the fraction form here.
        {99600000, 1.0f, "99.600 Million"},
        {123456789, 1.0f, "123 Million"},
        // Compared in single precision: 999999999 becomes 1e9.
        {999999999, 1.0f, "1.000 Billion"},
        {5000000000ull, 1.0f, "5.000 Billion"},
        {123456789012ull, 1.0f, "123 Billion"},
        {2500000000000ull, 1.0f, "2.500 Trillion"},
        {2000000000000000ull, 1.0f, "2.0 Quadrillion"},
        {500000000000000000ull, 1.0f, "500 Quadrillion"},
        {std::numeric_limits<std::uint64_t>::max(), 1.0f, "18446 Quadrillion"},
        // Disk: blocks times the block size.
        {2000, 4096.0f, "8.192 Million"},
        {200, 4096.0f, "819200         "},
        {5, -1.0f, "0              "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(s(OperationsCellText(c.count, c.scale)), c.text) << c.count << " x " << c.scale;
}

TEST(ResultsCells, ElapsedTexts)
{
    struct {
        long seconds;
        const char* text;
    } cases[] = {{0, "00:00:00"},     {59, "00:00:59"},      {3599, "00:59:59"},    {9 * 3600 + 300, "09:05:00"},
                 {36300, "10:05:00"}, {360001, "100:00:01"}, {-30, "00:00:00"}};
    for (const auto& c : cases)
        EXPECT_EQ(s(ElapsedText(c.seconds)), c.text) << c.seconds;
}

class ResultsTableTest : public ::testing::Test {
protected:
    QTableWidget widget;
    ResultsTable table {&widget};

    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        std::memset(gMultimediaStructPtr, 0, sizeof gMultimediaStructPtr);
        std::memset(e_strings, 0, sizeof e_strings);
        std::strcpy(e_strings[0], "No error (from the file)");
        std::strcpy(e_strings[30], "Memory verify error");
        std::strcpy(e_strings[37], "Network timeout");
        stop_all_tests = 1;
    }
    void TearDown() override { stop_all_tests = 1; }

    void enable(std::initializer_list<int> list)
    {
        for (int slot : list)
            testconfig.test_enabled[slot] = 1;
    }
    std::string cell(int row, int column) const
    {
        const QTableWidgetItem* item = widget.item(row, column);
        return item ? s(item->text()) : "<none>";
    }
    std::vector<std::string> rowTexts(int row) const
    {
        std::vector<std::string> out;
        for (int c = 0; c < widget.columnCount(); ++c)
            out.push_back(cell(row, c));
        return out;
    }
    std::vector<std::string> headers() const
    {
        std::vector<std::string> out;
        for (int c = 0; c < widget.columnCount(); ++c)
            out.push_back(s(widget.horizontalHeaderItem(c)->text()));
        return out;
    }
    std::vector<int> widths() const
    {
        std::vector<int> out;
        for (int c = 0; c < widget.columnCount(); ++c)
            out.push_back(widget.columnWidth(c));
        return out;
    }
};

TEST_F(ResultsTableTest, RowsFollowSlotOrderWithUnitNames)
{
    enable({kSlotSerialFirst + 5, kSlotSerialFirst + 3, kSlotParallel, kSlotCdFirst + 1, kSlotCdFirst, kSlotCdGroup,
            kSlotNetworkFirst + 1, kSlotNetworkGroup, kSlotDiskFirst + 1, kSlotDiskFirst, kSlotDiskGroup, kSlotMaths});
    std::strcpy(gFileSystemStructPtr[0].alias, "Startup Disk [/dev/vda1]");
    std::strcpy(gFileSystemStructPtr[1].alias, "Hard Disk (/home) [/dev/vda2]");
    std::strcpy(gMultimediaStructPtr[0].alias, "CD/DVD (/media/cdrom) [/dev/sr0]");
    std::strcpy(gMultimediaStructPtr[1].alias, "CD/DVD (/media/cdrom1) [/dev/sr1]");
    std::strcpy(testconfig.network_address[0], "10.0.0.1");
    std::strcpy(testconfig.network_address[1], "192.168.1.20");
    testconfig.parallel_port_number = 1;
    testconfig.test_enabled[kSlotSerialGroup] = 1;
    table.rebuild(false);
    ASSERT_EQ(widget.rowCount(), 9);
    EXPECT_EQ(cell(7, 0), "Serial Port: ttyS3");
    EXPECT_EQ(cell(8, 0), "Serial Port: ttyS5");

    // A switch not exactly 1 leaves the group out; no stale rows remain.
    testconfig.test_enabled[kSlotSerialGroup] = 2;
    table.rebuild(false);

    const std::vector<std::string> names = {"CPU - Maths",
                                            "Disk: Startup Disk [/dev/vda1]",
                                            "Disk: Hard Disk (/home) [/dev/vda2]",
                                            "Network: 192.168.1.20",
                                            "CD/DVD: CD/DVD (/media/cdrom) [/dev/sr0]",
                                            "CD/DVD: CD/DVD (/media/cdrom1) [/dev/sr1]",
                                            "Parallel Port: lp1"};
    ASSERT_EQ(widget.rowCount(), static_cast<int>(names.size()));
    for (int row = 0; row < widget.rowCount(); ++row)
        EXPECT_EQ(cell(row, 0), names[static_cast<std::size_t>(row)]) << row;
}

TEST_F(ResultsTableTest, IdleRowsShowAccumulatedValuesInEveryCell)
{
    enable({kSlotMaths, kSlotMemory, kSlotDiskFirst, kSlotDiskGroup});
    gFileSystemStructPtr[0].vfs.f_bsize = 4096;
    resultfile.accum_results[kSlotMaths] = {5, 0, 0, 0, 999999};
    resultfile.accum_results[kSlotMemory] = {2, 0, 1, 30, 123456789};
    resultfile.accum_results[kSlotDiskFirst] = {3, 0, 0, 0, 2000};
    // The current run has already been added in; idle must not add it again.
    resultfile.results[kSlotMaths] = {4, 0, 9, 37, 1};

    table.rebuild(false);

    ASSERT_EQ(widget.rowCount(), 3);
    EXPECT_EQ(rowTexts(0), (std::vector<std::string> {"CPU - Maths", "5", "999999         ", "0", "No error"}));
    EXPECT_EQ(rowTexts(1),
              (std::vector<std::string> {"Memory (RAM)", "2", "123 Million", "1", "Memory verify error"}));
    EXPECT_EQ(rowTexts(2), (std::vector<std::string> {"Disk: ", "3", "8.192 Million", "0", "No error"}));
    for (int row = 0; row < widget.rowCount(); ++row) {
        for (int c = 0; c < widget.columnCount(); ++c) {
            const QTableWidgetItem* item = widget.item(row, c);
            EXPECT_FALSE(item->flags() & Qt::ItemIsEditable) << row << "," << c;
            EXPECT_EQ(item->textAlignment(), int(Qt::AlignLeft | Qt::AlignVCenter)) << row << "," << c;
        }
    }
}

TEST_F(ResultsTableTest, RunningRowsAddTheCurrentRunAndKeepTheLastError)
{
    enable({kSlotMaths});
    resultfile.accum_results[kSlotMaths] = {5, 0, 1, 30, 1000};
    resultfile.accum_classes[kSlotMaths] = {4, 3, 2, 1};
    resultfile.results[kSlotMaths] = {2, 0, 1, 0, 999000};
    resultfile.classes[kSlotMaths] = {10, 20, 30, 40};

    struct {
        bool running;
        bool byCategory;
        std::uint32_t currentLastError;
        std::vector<std::string> expected;
    } cases[] = {
        {false, false, 0, {"CPU - Maths", "5", "1000           ", "1", "Memory verify error"}},
        {true, false, 0, {"CPU - Maths", "7", "1.000 Million", "2", "Memory verify error"}},
        {true, false, 37, {"CPU - Maths", "7", "1.000 Million", "2", "Network timeout"}},
        {false, false, 37, {"CPU - Maths", "5", "1000           ", "1", "Memory verify error"}},
        {false, true, 0, {"CPU - Maths", "5", "1000           ", "1", "2", "3", "4         "}},
        {true, true, 0, {"CPU - Maths", "7", "1.000 Million", "41", "32", "23", "14        "}},
    };
    for (const auto& c : cases) {
        resultfile.results[kSlotMaths].last_error = c.currentLastError;
        table.rebuild(c.byCategory);
        if (c.running) {
            stop_all_tests = 0;
            table.refresh();
            stop_all_tests = 1;
        }
        ASSERT_EQ(widget.rowCount(), 1);
        EXPECT_EQ(rowTexts(0), c.expected) << "running " << c.running << " category " << c.byCategory
                                           << " current error " << c.currentLastError;
    }
}

TEST_F(ResultsTableTest, CategoryViewTogglesColumnsAndBack)
{
    enable({kSlotMaths});
    const std::vector<std::string> normalHeaders = {"Test Name", "Cycles", "Operations", "Errors",
                                                    "Last Error Description"};
    const std::vector<int> normalWidths = {160, 50, 100, 50, 240};

    table.rebuild(false);
    EXPECT_EQ(headers(), normalHeaders);
    EXPECT_EQ(widths(), normalWidths);

    table.setColumns(true);
    table.rebuild(true);
    EXPECT_TRUE(table.byCategory());
    EXPECT_EQ(headers(), (std::vector<std::string> {"Test Name", "Cycles", "Operations", "Critical", "Serious",
                                                    "Warning", "Info"}));
    EXPECT_EQ(widths(), (std::vector<int> {160, 50, 100, 60, 60, 60, 60}));

    table.setColumns(false);
    table.rebuild(false);
    EXPECT_EQ(headers(), normalHeaders);
    EXPECT_EQ(widths(), normalWidths);
    EXPECT_EQ(cell(0, 4), "No error");
}

TEST_F(ResultsTableTest, RunStartRowsAreFilledInPlaceInTheChosenView)
{
    enable({kSlotMaths, kSlotMemory});
    table.rebuild(false);
    widget.item(0, 0)->setText("stale");
    table.clear();
    EXPECT_EQ(widget.rowCount(), 0);
    table.setRunRows(2);
    table.updateInPlace(true);
    EXPECT_EQ(widget.columnCount(), ResultsTable::kCategoryColumns);
    EXPECT_EQ(rowTexts(0), (std::vector<std::string> {"CPU - Maths", "0", "0              ", "0", "0", "0",
                                                      "0         "}));
    EXPECT_EQ(cell(1, 0), "Memory (RAM)");
    table.updateInPlace(false);
    EXPECT_EQ(headers().back(), "Last Error Description");
    EXPECT_EQ(cell(1, 4), "No error");
}

TEST_F(ResultsTableTest, RefreshFollowsTheConfiguredViewWhenIdle)
{
    enable({kSlotMaths});
    testconfig.view_errors_by_category = 1;
    table.refresh();
    EXPECT_EQ(widget.columnCount(), ResultsTable::kCategoryColumns);
    testconfig.view_errors_by_category = 0;
    table.refresh();
    EXPECT_EQ(widget.columnCount(), ResultsTable::kNormalColumns);
}

TEST_F(ResultsTableTest, LongErrorTextWidensItsColumnOnly)
{
    enable({kSlotMaths});
    std::strcpy(e_strings[40], "A rather long error description that cannot fit into 240 pixels of column");
    resultfile.accum_results[kSlotMaths].last_error = 40;
    widget.show();
    table.rebuild(false);
    EXPECT_GT(widget.columnWidth(4), 240);

    resultfile.accum_results[kSlotMaths].last_error = 30;
    table.rebuild(false);
    EXPECT_EQ(widget.columnWidth(4), 240);
}

TEST_F(ResultsTableTest, EachTestKindHasItsOwnIcon)
{
    const int kinds[] = {kSlotMaths, kSlotMemory, kSlot2D, kSlot3D, kSlotDiskFirst, kSlotNetworkFirst,
                         kSlotCdFirst, kSlotSerialFirst, kSlotParallel};
    std::vector<QImage> images;
    for (int slot : kinds) {
        const QPixmap icon = table.icon(slot);
        ASSERT_FALSE(icon.isNull()) << slot;
        for (const QImage& other : images)
            EXPECT_NE(icon.toImage(), other) << slot;
        images.push_back(icon.toImage());
    }
    // Members of a kind share its image.
    EXPECT_EQ(table.icon(kSlotDiskFirst + 19).toImage(), table.icon(kSlotDiskFirst).toImage());
    EXPECT_EQ(table.icon(kSlotSerialFirst + 63).toImage(), table.icon(kSlotSerialFirst).toImage());
    for (int slot : {0, 27, 54, 75, 157, 163, -1, kNumSlots})
        EXPECT_TRUE(table.icon(slot).isNull()) << slot;

    // Rows get their slot's icon, also when a rebuild moves a slot up.
    enable({kSlotMemory, 54, kSlot3D});
    table.rebuild(false);
    testconfig.test_enabled[kSlotMemory] = 0;
    table.rebuild(false);
    EXPECT_EQ(widget.item(0, 0)->icon().pixmap(16).toImage(), table.icon(kSlot3D).toImage());
    EXPECT_TRUE(widget.item(1, 0)->icon().isNull());
}

} // namespace
