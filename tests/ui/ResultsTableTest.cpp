// The results table: cell formats, rows, icons, views, an engine only the list knows.
#include "ResultsTable.h"

#include "AtomicField.h"
#include "ErrorClassification.h"
#include "NullEngine.h"
#include "ResultRecord.h"
#include "RunControl.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TempDir.h"
#include "TestContext.h"
#include "TestSlots.h"

#include <QImage>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

TEST(ResultsCells, OperationsAndElapsedTexts)
{
    // 7 x 142857.14 is 1e6 in single precision; 99600000: truncation picks the fraction form.
    for (auto [count, scale, text] :
        { std::tuple<std::uint64_t, float, const char*> { 999999, 1.0f, "999999         " },
            { 7, 142857.14f, "1.000 Million" }, { 99600000, 1.0f, "99.600 Million" },
            { 123456789, 1.0f, "123 Million" }, { 2000000000000000ull, 1.0f, "2.0 Quadrillion" },
            { ~0ull, 1.0f, "18446 Quadrillion" }, { 5, -1.0f, "0              " } })
        EXPECT_EQ(OperationsCellText(count, scale).toStdString(), text) << count << " x " << scale;
    EXPECT_EQ(ElapsedText(360001).toStdString() + ElapsedText(-30).toStdString(), "100:00:0100:00:00");
}

struct Observer : RunObserver {
    Texts closing;
    bool openGLAvailable() override { return false; }
    void createWindow(int) override { }
    void testStarted(int, bool) override { }
    void processEvents() override { }
    void closingProgress(const std::string& text, int) override { closing.push_back(text); }
    void stopTimeSet() override { }
    void deleteWindow(int) override { }
};

class ResultsTableTest : public ::testing::Test {
protected:
    QTableWidget widget;
    ResultsTable table { TestContext(), &widget };

    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        std::memset(gMultimediaStructPtr, 0, sizeof gMultimediaStructPtr);
        std::strcpy(e_strings[30], "Memory verify error");
        std::strcpy(e_strings[37], "Network timeout");
        TestRun().stopAllTests = 1;
    }
    std::string cell(int row, int column) const
    {
        const QTableWidgetItem* item = widget.item(row, column);
        return item ? item->text().toStdString() : "<none>";
    }
    // A whole row, or the names column.
    Texts texts(int row = -1) const
    {
        Texts out;
        for (int i = 0; i < (row < 0 ? widget.rowCount() : widget.columnCount()); ++i)
            out.push_back(row < 0 ? cell(i, 0) : cell(row, i));
        return out;
    }
};

TEST_F(ResultsTableTest, RowsFollowSlotOrderWithUnitNames)
{
    for (int slot : std::initializer_list<int> { kSlotSerialFirst + 5, kSlotSerialFirst + 3, kSlotSerialGroup,
             kSlotParallel, kSlotCdFirst + 1, kSlotCdGroup, kSlotNetworkFirst + 1, kSlotNetworkGroup,
             kSlotDiskFirst + 1, kSlotDiskGroup, kSlotMaths })
        testconfig.test_enabled[slot] = 1;
    std::strcpy(gFileSystemStructPtr[1].alias, "Hard Disk (/home) [/dev/vda2]");
    std::strcpy(gMultimediaStructPtr[1].alias, "CD/DVD (/media/cdrom1) [/dev/sr1]");
    std::strcpy(testconfig.network_address[1], "192.168.1.20");
    testconfig.parallel_port_number = 1;
    gFileSystemStructPtr[1].vfs.f_bsize = 4096; // a disk counts blocks of this size
    resultfile.accum_results[kSlotDiskFirst + 1] = { 3, 0, 0, 0, 2000 };
    table.rebuild(false);
    EXPECT_EQ(texts(),
        (Texts { "CPU - Maths", "Disk: Hard Disk (/home) [/dev/vda2]", "Network: 192.168.1.20",
            "CD/DVD: CD/DVD (/media/cdrom1) [/dev/sr1]", "Parallel Port: lp1", "Serial Port: ttyS3",
            "Serial Port: ttyS5" }));
    EXPECT_EQ(texts(1), (Texts { "Disk: Hard Disk (/home) [/dev/vda2]", "3", "8.192 Million", "0", "No error" }));
    EXPECT_FALSE(widget.item(1, 1)->flags() & Qt::ItemIsEditable);
    // Icons come from the slot's engine: the disk row has the disk's.
    const QImage disk = table.icon(kSlotDiskFirst).toImage();
    EXPECT_EQ(widget.item(1, 0)->icon().pixmap(16).toImage(), disk);
    EXPECT_NE(table.icon(kSlotNetworkFirst).toImage(), disk);
    EXPECT_TRUE(table.icon(kSlotDiskGroup).isNull());
    // A group switch not exactly 1 leaves the group out; no stale rows or icons remain.
    testconfig.test_enabled[kSlotSerialGroup] = 2;
    testconfig.test_enabled[kSlotMaths] = 0;
    table.rebuild(false);
    EXPECT_EQ(widget.rowCount(), 4);
    EXPECT_EQ(widget.item(0, 0)->icon().pixmap(16).toImage(), disk);
}

TEST_F(ResultsTableTest, RunningRowsAddTheCurrentRunInBothViews)
{
    testconfig.test_enabled[kSlotMaths] = 1;
    resultfile.accum_results[kSlotMaths] = { 5, 0, 1, 30, 1000 };
    resultfile.accum_classes[kSlotMaths] = { 4, 3, 2, 1 };
    resultfile.results[kSlotMaths] = { 2, 0, 1, 37, 999000 };
    resultfile.classes[kSlotMaths] = { 10, 20, 30, 40 };
    table.rebuild(false);
    EXPECT_EQ(texts(0), (Texts { "CPU - Maths", "5", "1000           ", "1", "Memory verify error" }));
    TestRun().stopAllTests = 0; // refresh during a run: in place, with the current run
    table.refresh();
    EXPECT_EQ(texts(0), (Texts { "CPU - Maths", "7", "1.000 Million", "2", "Network timeout" }));
    table.updateInPlace(true);
    EXPECT_EQ(texts(0), (Texts { "CPU - Maths", "7", "1.000 Million", "41", "32", "23", "14        " }));
    EXPECT_EQ(widget.horizontalHeaderItem(6)->text().toStdString(), "Info");
    // Idle, refresh rebuilds in the configured view without the current run.
    TestRun().stopAllTests = 1;
    testconfig.view_errors_by_category = 1;
    table.refresh();
    EXPECT_EQ(texts(0), (Texts { "CPU - Maths", "5", "1000           ", "1", "2", "3", "4         " }));
}

// Everything a run shows of an engine comes from the list: the null engine,
// listed only in test builds, needs no other code to take part.
TEST_F(ResultsTableTest, AnEngineOnlyTheListKnowsTakesPartInARun)
{
    TempDir dir;
    std::snprintf(dirname, sizeof dirname, "%s", dir.path().c_str());
    const int slot = kNullEngine.firstSlot;
    testconfig.test_enabled[slot] = 1;
    EXPECT_TRUE(PreRunWarningText(TestContext()).ends_with("\n* The null engine needs nothing\n"));

    Observer observer;
    const int rows = StartRun(TestContext(), observer);
    ASSERT_EQ(rows, 1);
    table.setRunRows(rows);
    table.updateInPlace(false);
    EXPECT_EQ(cell(0, 0), "Null engine");
    StopRun(TestContext(), observer, false, rows);
    EXPECT_EQ(observer.closing, Texts { "Closing Null engine" });
    EXPECT_EQ(acquireLoad(TestRun().threadData[slot].running), 0) << "stopped within its limit, not abandoned";
}

} // namespace
