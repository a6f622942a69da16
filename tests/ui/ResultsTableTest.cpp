// The results table: cell formats, which rows appear in which order, what a
// row shows while a run is active and while idle, and the two column views.
#include "ResultsTable.h"

#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "SystemInfo.h"
#include "TestContext.h"
#include "TestSlots.h"

#include <QHeaderView>
#include <QImage>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

std::string s(const QString& q)
{
    return q.toStdString();
}

TEST(ResultsCells, OperationsAndElapsedTexts)
{
    // 7 x 142857.14 is 999999.984, 1e6 in single precision; so is 999999999 compared to 1e9.
    // 99600000: truncation, not rounding, picks the fraction form. Disks scale by the block size.
    struct {
        std::uint64_t count;
        float scale;
        const char* text;
    } cases[] = { { 0, 1.0f, "0              " }, { 999999, 1.0f, "999999         " },
        { 7, 142857.14f, "1.000 Million" }, { 1000000, 1.0f, "1.000 Million" }, { 1234567, 1.0f, "1.235 Million" },
        { 99600000, 1.0f, "99.600 Million" }, { 123456789, 1.0f, "123 Million" }, { 999999999, 1.0f, "1.000 Billion" },
        { 5000000000ull, 1.0f, "5.000 Billion" }, { 123456789012ull, 1.0f, "123 Billion" },
        { 2500000000000ull, 1.0f, "2.500 Trillion" }, { 2000000000000000ull, 1.0f, "2.0 Quadrillion" },
        { 500000000000000000ull, 1.0f, "500 Quadrillion" },
        { std::numeric_limits<std::uint64_t>::max(), 1.0f, "18446 Quadrillion" }, { 2000, 4096.0f, "8.192 Million" },
        { 200, 4096.0f, "819200         " }, { 5, -1.0f, "0              " } };
    for (const auto& c : cases)
        EXPECT_EQ(s(OperationsCellText(c.count, c.scale)), c.text) << c.count << " x " << c.scale;

    for (auto [seconds, text] : { std::pair { 0L, "00:00:00" }, { 59L, "00:00:59" }, { 3599L, "00:59:59" },
             { 9 * 3600L + 300, "09:05:00" }, { 36300L, "10:05:00" }, { 360001L, "100:00:01" }, { -30L, "00:00:00" } })
        EXPECT_EQ(s(ElapsedText(seconds)), text) << seconds;
}

class ResultsTableTest : public ::testing::Test {
protected:
    QTableWidget widget;
    ResultsTable table { &widget, TestRun() };
    using Texts = std::vector<std::string>;
    const Texts normalHeaders = { "Test Name", "Cycles", "Operations", "Errors", "Last Error Description" };
    const std::vector<int> normalWidths = { 160, 50, 100, 50, 240 }, categoryWidths = { 160, 50, 100, 60, 60, 60, 60 };
    const Texts categoryHeaders = { "Test Name", "Cycles", "Operations", "Critical", "Serious", "Warning", "Info" };

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
        TestRun().stopAllTests = 1;
    }
    void TearDown() override { TestRun().stopAllTests = 1; }

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
    Texts rowTexts(int row) const
    {
        Texts out;
        for (int c = 0; c < widget.columnCount(); ++c)
            out.push_back(cell(row, c));
        return out;
    }
    // The headers and widths of the view shown.
    void expectView(bool byCategory)
    {
        Texts headers;
        std::vector<int> widths;
        for (int c = 0; c < widget.columnCount(); ++c) {
            headers.push_back(s(widget.horizontalHeaderItem(c)->text()));
            widths.push_back(widget.columnWidth(c));
        }
        EXPECT_EQ(headers, byCategory ? categoryHeaders : normalHeaders);
        EXPECT_EQ(widths, byCategory ? categoryWidths : normalWidths);
    }
};

TEST_F(ResultsTableTest, RowsFollowSlotOrderWithUnitNames)
{
    enable({ kSlotSerialFirst + 5, kSlotSerialFirst + 3, kSlotParallel, kSlotCdFirst + 1, kSlotCdFirst, kSlotCdGroup,
        kSlotNetworkFirst + 1, kSlotNetworkGroup, kSlotDiskFirst + 1, kSlotDiskFirst, kSlotDiskGroup, kSlotMaths });
    std::strcpy(gFileSystemStructPtr[0].alias, "Startup Disk [/dev/vda1]");
    std::strcpy(gFileSystemStructPtr[1].alias, "Hard Disk (/home) [/dev/vda2]");
    std::strcpy(gMultimediaStructPtr[0].alias, "CD/DVD (/media/cdrom) [/dev/sr0]");
    std::strcpy(gMultimediaStructPtr[1].alias, "CD/DVD (/media/cdrom1) [/dev/sr1]");
    std::strcpy(testconfig.network_address[0], "10.0.0.1");
    std::strcpy(testconfig.network_address[1], "192.168.1.20");
    testconfig.parallel_port_number = 1;
    testconfig.test_enabled[kSlotSerialGroup] = 1;
    gFileSystemStructPtr[1].vfs.f_bsize = 4096; // a disk counts blocks of this size
    resultfile.accum_results[kSlotDiskFirst + 1] = { 3, 0, 0, 0, 2000 };
    table.rebuild(false);
    ASSERT_EQ(widget.rowCount(), 9);
    EXPECT_EQ(cell(7, 0) + " / " + cell(8, 0), "Serial Port: ttyS3 / Serial Port: ttyS5");
    EXPECT_EQ(rowTexts(2), (Texts { "Disk: Hard Disk (/home) [/dev/vda2]", "3", "8.192 Million", "0", "No error" }));
    for (const QTableWidgetItem* item : widget.findItems("", Qt::MatchContains))
        EXPECT_EQ(std::pair(bool(item->flags() & Qt::ItemIsEditable), item->textAlignment()),
            std::pair(false, int(Qt::AlignLeft | Qt::AlignVCenter)));

    // A group switch not exactly 1 leaves the group out; no stale rows remain.
    testconfig.test_enabled[kSlotSerialGroup] = 2;
    table.rebuild(false);
    Texts names;
    for (int row = 0; row < widget.rowCount(); ++row)
        names.push_back(cell(row, 0));
    EXPECT_EQ(names,
        (Texts { "CPU - Maths", "Disk: Startup Disk [/dev/vda1]", "Disk: Hard Disk (/home) [/dev/vda2]",
            "Network: 192.168.1.20", "CD/DVD: CD/DVD (/media/cdrom) [/dev/sr0]",
            "CD/DVD: CD/DVD (/media/cdrom1) [/dev/sr1]", "Parallel Port: lp1" }));
}

TEST_F(ResultsTableTest, RunningRowsAddTheCurrentRunAndKeepTheLastError)
{
    enable({ kSlotMaths });
    resultfile.accum_results[kSlotMaths] = { 5, 0, 1, 30, 1000 };
    resultfile.accum_classes[kSlotMaths] = { 4, 3, 2, 1 };
    resultfile.results[kSlotMaths] = { 2, 0, 1, 0, 999000 };
    resultfile.classes[kSlotMaths] = { 10, 20, 30, 40 };
    struct {
        bool running, byCategory;
        std::uint32_t currentLastError;
        Texts expected;
    } cases[] = {
        { false, false, 0, { "CPU - Maths", "5", "1000           ", "1", "Memory verify error" } },
        { true, false, 0, { "CPU - Maths", "7", "1.000 Million", "2", "Memory verify error" } },
        { true, false, 37, { "CPU - Maths", "7", "1.000 Million", "2", "Network timeout" } },
        { false, false, 37, { "CPU - Maths", "5", "1000           ", "1", "Memory verify error" } },
        { false, true, 0, { "CPU - Maths", "5", "1000           ", "1", "2", "3", "4         " } },
        { true, true, 0, { "CPU - Maths", "7", "1.000 Million", "41", "32", "23", "14        " } },
    };
    for (const auto& c : cases) {
        resultfile.results[kSlotMaths].last_error = c.currentLastError;
        table.rebuild(c.byCategory);
        if (c.running) {
            TestRun().stopAllTests = 0;
            table.refresh();
            TestRun().stopAllTests = 1;
        }
        ASSERT_EQ(widget.rowCount(), 1);
        EXPECT_EQ(rowTexts(0), c.expected) << c.running << c.byCategory << " current error " << c.currentLastError;
    }
}

TEST_F(ResultsTableTest, ViewsSwitchBothWaysAndRunRowsFillInPlace)
{
    enable({ kSlotMaths, kSlotMemory });
    for (bool byCategory : { false, true, false }) {
        table.setColumns(byCategory);
        table.rebuild(byCategory);
        EXPECT_EQ(table.byCategory(), byCategory);
        expectView(byCategory);
    }
    EXPECT_EQ(cell(0, 4), "No error");
    // Idle, refresh follows the configured view.
    for (int view : { 1, 0 }) {
        testconfig.view_errors_by_category = view;
        table.refresh();
        EXPECT_EQ(widget.columnCount(), view ? ResultsTable::kCategoryColumns : ResultsTable::kNormalColumns);
    }
    // At a run start: no rows, then empty ones filled in place in the chosen view.
    widget.item(0, 0)->setText("stale");
    table.clear();
    EXPECT_EQ(widget.rowCount(), 0);
    table.setRunRows(2);
    table.updateInPlace(true);
    expectView(true);
    EXPECT_EQ(rowTexts(0), (Texts { "CPU - Maths", "0", "0              ", "0", "0", "0", "0         " }));
    EXPECT_EQ(cell(1, 0), "Memory (RAM)");
    table.updateInPlace(false);
    expectView(false);
    EXPECT_EQ(cell(1, 4), "No error");
}

TEST_F(ResultsTableTest, LongErrorTextWidensItsColumnOnly)
{
    enable({ kSlotMaths });
    std::strcpy(e_strings[40], "A rather long error description that cannot fit into 240 pixels of column");
    widget.show();
    for (auto [error, wide] : { std::pair { 40u, true }, { 30u, false } }) {
        resultfile.accum_results[kSlotMaths].last_error = error;
        table.rebuild(false);
        EXPECT_EQ(widget.columnWidth(4) > 240, wide) << widget.columnWidth(4);
        EXPECT_GE(widget.columnWidth(4), 240);
    }
}

TEST_F(ResultsTableTest, EachTestKindHasItsOwnIcon)
{
    std::vector<QImage> images;
    for (int slot : { kSlotMaths, kSlotMemory, kSlot2D, kSlot3D, kSlotDiskFirst, kSlotNetworkFirst, kSlotCdFirst,
             kSlotSerialFirst, kSlotParallel }) {
        const QImage image = table.icon(slot).toImage();
        ASSERT_FALSE(image.isNull()) << slot;
        EXPECT_EQ(std::count(images.begin(), images.end(), image), 0) << slot;
        images.push_back(image);
    }
    // Members of a kind share its image; groups and unknown slots have none.
    EXPECT_EQ(table.icon(kSlotDiskFirst + 19).toImage(), table.icon(kSlotDiskFirst).toImage());
    EXPECT_EQ(table.icon(kSlotSerialFirst + 63).toImage(), table.icon(kSlotSerialFirst).toImage());
    for (int slot : { 0, 27, 54, 75, 157, 163, -1, kNumSlots })
        EXPECT_TRUE(table.icon(slot).isNull()) << slot;

    // Rows get their slot's icon, also when a rebuild moves a slot up.
    enable({ kSlotMemory, 54, kSlot3D });
    table.rebuild(false);
    testconfig.test_enabled[kSlotMemory] = 0;
    table.rebuild(false);
    EXPECT_EQ(widget.item(0, 0)->icon().pixmap(16).toImage(), table.icon(kSlot3D).toImage());
    EXPECT_TRUE(widget.item(1, 0)->icon().isNull());
}

} // namespace
