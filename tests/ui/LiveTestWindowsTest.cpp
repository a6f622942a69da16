// The live test windows, refreshed from prepared test state with a clock the
// test sets, as the update timer refreshes them during a run.
#include "AtomicField.h"
#include "TestContext.h"
#include "CTest_CDROM.h"
#include "CTest_Disk.h"
#include "CTest_Math.h"
#include "CTest_Memory.h"
#include "CTest_Network.h"
#include "CTest_ParallelPort.h"
#include "CTest_SerialPort.h"
#include "LiveTestWindow.h"
#include "ResultRecord.h"
#include "SystemInfo.h"
#include "TestSlots.h"
#include "TestWindow.h"
#include "TestWindow_CDROM.h"
#include "TestWindow_Disk.h"
#include "TestWindow_Math.h"
#include "TestWindow_Network.h"
#include "TestWindow_ParallelPort.h"
#include "TestWindow_SerialPort.h"

#include "QtTestUtils.h"

#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <tuple>

namespace {

timeval gNow {};

timeval testClock()
{
    return gNow;
}

// Moves the windows' clock on by `ms`.
void advance(long ms)
{
    gNow.tv_usec += (ms % 1000) * 1000;
    gNow.tv_sec += ms / 1000 + gNow.tv_usec / 1000000;
    gNow.tv_usec %= 1000000;
}

// The texts of the labels `names` (separated by spaces, each after `prefix`), joined by " | ".
std::string text(QWidget* w, const char* names, const QString& prefix = {})
{
    QStringList texts;
    for (const QString& name : QString(names).split(' '))
        texts << findChildOrFail<QLabel>(w, prefix + name)->text();
    return texts.join(" | ").toStdString();
}

class LiveWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        // Mid-second, so that intervals can borrow microseconds.
        gNow = { 1700000000, 900000 };
        LiveTestWindow::SetClockForTests(testClock);
    }
    void TearDown() override { LiveTestWindow::SetClockForTests(nullptr); }
    ::Run run;
};

TEST_F(LiveWindows, SerialThroughputIsTheIntervalsBytesOverItsLengthOnThisPortOnly)
{
    testconfig.serial_port_mode[1] = testconfig.serial_port_mode[2] = 1;
    testconfig.serial_baud_index = 6;
    SerialLive& live = run.live<SerialLive>(kSlotSerialFirst + 1);
    SerialLive& other = run.live<SerialLive>(kSlotSerialFirst + 2);
    live.dis_bytes_received = 12345; // left from an earlier run
    other.dis_bytes_received = 777; // another port already counting
    TestWindow_SerialPort w(run, "Serial Port", kSlotSerialFirst + 1);
    EXPECT_EQ(w.windowTitle(), "Serial Port : ttyS1");
    EXPECT_EQ(live.dis_bytes_received.load() * 1000 + other.dis_bytes_received.load(), 777u);

    resultfile.results[kSlotSerialFirst + 1].cycles = 4;
    resultfile.results[kSlotSerialFirst + 1].errors = 2;
    live.iComSpeed = 9600;
    live.dis_bytes_sent = 900;
    live.dis_bytes_received = 600;
    advance(1200); // across a second boundary
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "Cycle SerialPort Speed Sent Received Throughput", "textLabel_SerialPort_"),
        "Cycle 4: Loopback test (fixed baud 9600) | ttyS1 | 9600 bits/sec | 900 bytes | 600 bytes | 500.00 bytes/sec");
    EXPECT_EQ(text(&w, "textLabel_SerialPorts_Errors"), "2");

    // A count passing 4 GiB still gives the interval's bytes.
    live.dis_bytes_received = 0xFFFFFF00ull;
    advance(1000);
    w.UpdateWindow();
    live.dis_bytes_received = 0x100000100ull;
    advance(1000);
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "Throughput Received", "textLabel_SerialPort_"), "512.00 bytes/sec | 4294967552 bytes");

    // Detect only: the status instead of four rows.
    testconfig.serial_port_mode[1] = 2;
    w.show();
    for (int detected : { 0, 1 }) {
        live.PortStatusOK = detected;
        w.UpdateWindow();
        EXPECT_EQ(text(&w, "Cycle LabelSent Sent", "textLabel_SerialPort_"),
            std::string("Cycle 4: Detect only | Status: | Port ") + (detected ? "detected" : "not detected"));
    }
}

TEST_F(LiveWindows, ParallelThroughputOfTheConfiguredPort)
{
    ParallelLive& live = run.live<ParallelLive>(kSlotParallel);
    testconfig.parallel_port_number = 1;
    live.dis_bytes_received[1] = 5000000; // left from an earlier run
    live.io_port = 0x278;
    TestWindow_ParallelPort w(run, "Parallel Port", kSlotParallel);
    EXPECT_EQ(w.windowTitle(), "Parallel Port : lp1");
    EXPECT_EQ(text(&w, "textLabel_ParallelPort_ParallelPort"), "lp1 (Address: 278)");

    resultfile.results[kSlotParallel].cycles = 2;
    resultfile.results[kSlotParallel].errors = 1;
    live.dis_bytes_sent[1] = 3001;
    live.dis_bytes_received[1] = 3000;
    live.dis_bytes_received[0] = 99; // not the port shown
    advance(2000);
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "Cycle Sent Received Throughput Errors", "textLabel_ParallelPort_"),
        "Cycle 2: Loopback test | 3001 bytes | 3000 bytes | 1500.00 bytes/sec | 1");
}

TEST_F(LiveWindows, MathsWindowSumsEveryThreadInMillions)
{
    MathLive& live = run.live<MathLive>(kSlotMaths);
    live.mtrTestResults[0][kMathIntAdd] = 3 * 1048576ull, live.mtrTestResults[1][kMathIntAdd] = 1048576ull;
    live.mtrTestResults[1][kMathFloatDiv] = 524288ull;
    TestWindow_Math w(run, "CPU - Maths", kSlotMaths);
    live.mtrTestResults[2][kMathFloatMul] = 10 * 1048576ull; // seen at the next refresh
    w.UpdateWindow();
    EXPECT_EQ(text(&w,
                  "Addition_Executed Addition_Verified FPDivision_Executed FPDivision_Verified Division_Executed "
                  "FPAddition_Executed FPMultiplication_Verified",
                  "textLabel_Math_"),
        "4.00 | 4.00 | 0.50 | 0.50 | 0.00 | 0.00 | 10.00");
}

TEST_F(LiveWindows, MemoryWindowShowsStateProgressAndAmounts)
{
    MemoryLive& live = run.live<MemoryLive>(kSlotMemory);
    live.status = 1, live.progress = 40, live.bufferPattern = 2, live.totalPhysicalRam = 8ull << 30;
    live.testRam = 3ull << 29, live.opcountWrite = 3ull << 20, live.opcountRead = 1ull << 19;
    relaxedStore(resultfile.results[kSlotMemory].cycles, 6u);
    TestWindow w(run, "Memory (RAM)", kSlotMemory);
    auto* bar = findChildOrFail<QProgressBar>(&w, "progressBar");
    EXPECT_EQ(text(&w, "CycleCount Status PatternAbbrevText TotalMemoryCount TestMemoryCount WriteCount VerifiedCount",
                  "textLabel"),
        "Cycle 6: | Writing | Binary 2 (01010101) | 8192.00 MBytes | 1536.00 MBytes | 3.00 MBytes | 0.50 Mbytes");
    EXPECT_EQ(std::pair(bar->value(), bar->palette().color(QPalette::Highlight)), std::pair(40, QColor(255, 0, 0)));
    EXPECT_NE(text(&w, "textLabelFreeMemoryCount"), "0.00 MBytes") << "the free RAM as it is now";
    live.status = 2, w.UpdateWindow();
    EXPECT_EQ(std::pair(text(&w, "textLabelStatus"), bar->palette().color(QPalette::Highlight)),
        std::pair(std::string("Verifying"), QColor(0, 255, 0)));
}

class DiskWindow : public LiveWindows {
protected:
    static constexpr int kUnit = 4, kSlot = kSlotDiskFirst + kUnit;
    void SetUp() override
    {
        LiveWindows::SetUp();
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        gNumMntPoints = kUnit + 1;
        setFileSystem("/dev/sdb1", "/no/such/mount/point");
        std::strcpy(gFileSystemStructPtr[kUnit].alias, "sdb1 (/data)");
        gFileSystemStructPtr[kUnit].vfs.f_bsize = 4096;
        live.BufferPattern = 1;
    }
    void TearDown() override
    {
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr), gNumMntPoints = 0;
        LiveWindows::TearDown();
    }
    static void setFileSystem(const char* device, const char* mountPoint)
    {
        std::strcpy(gFileSystemStructPtr[kUnit].name, device),
            std::strcpy(gFileSystemStructPtr[kUnit].mount_point, mountPoint);
    }
    std::string bar(QWidget* w, const char* name)
    {
        auto* b = findChildOrFail<QProgressBar>(w, name);
        return QString::asprintf("%d%% #%06x", b->value(), b->palette().color(QPalette::Highlight).rgb() & 0xFFFFFF)
            .toStdString();
    }
    DiskLive& live = run.live<DiskLive>(kSlot);
};

TEST_F(DiskWindow, FreeSpaceFromTheQueryOrTheTest)
{
    TestWindow_Disk w(run, "Disk", kSlot);
    const char* free = "progressBarFreeSpace";
    EXPECT_EQ(w.windowTitle(), "Disk: sdb1 (/data)");
    EXPECT_EQ(text(&w, "Device TotalCapacity AvailCapacity", "textLabel") + " " + bar(&w, free).substr(0, 2),
        "Hard Disc (/dev/sdb1) | 0.00 MBytes | 0.00 MBytes 0%")
        << "the query failed";

    // Once the test has read the file system, its figures count.
    live.userbytes_harddisk = 3 * 256, live.userfreebytes_harddisk = 2 * 256, live.testfilesize_harddisk = 255;
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "TotalCapacity AvailCapacity TestFileSize", "textLabel") + " " + bar(&w, free).substr(0, 3),
        "3.00 MBytes | 2.00 MBytes | 1.00 MBytes 67%")
        << "rounded, not cut; the file size in blocks plus one";
}

TEST_F(DiskWindow, SpeedOverTheRefreshIntervalInItsFormats)
{
    TestWindow_Disk w(run, "Disk", kSlot);
    EXPECT_EQ(text(&w, "textLabelSpeed"), "0.0 MB/Sec");
    // Blocks added (256 of 4096 bytes are 1 MB), milliseconds, speed; half a MB is not yet a whole one.
    const std::tuple<std::uint64_t, long, const char*> steps[] = { { 30 * 256, 3000, "10.0 MB/Sec" },
        { 3 * 256, 3000, "1.00 MB/Sec" }, { 256, 4000, "0.25 MB/Sec" }, { 256, 20000, "0.0500 MB/Sec" },
        { 0, 3000, "0.0 MB/Sec" }, { 256 / 2, 3000, "0.0 MB/Sec" }, { 256 / 2, 2000, "0.50 MB/Sec" } };
    std::uint64_t blocks = 0;
    for (const auto& [added, ms, speed] : steps) {
        blocks += added;
        // Written, verified and seek blocks all count.
        live.opcount_write = blocks / 2, live.opcount_read = blocks - blocks / 2 - blocks / 4;
        live.opcount_seekread = blocks / 4;
        advance(ms);
        w.UpdateWindow();
        EXPECT_EQ(text(&w, "textLabelSpeed"), speed) << added << " blocks in " << ms << " ms";
    }
}

TEST_F(DiskWindow, AmountsStateAndPattern)
{
    setFileSystem("/dev/fd0", "/media/floppy0");
    resultfile.results[kSlot].cycles = 11;
    live.status_harddisk = CTest_Disk::kStatusWritingLow, live.progress_harddisk = 30;
    live.BufferPattern = CTest_Disk::kPatternBinary1;
    live.opcount_write = live.opcount_read = 1000000;
    TestWindow_Disk w(run, "Disk", kSlot);
    EXPECT_EQ(text(&w, "CycleCount Device Status PatternAbbrevText", "textLabel") + " " + bar(&w, "progressBar"),
        "Cycle 11: | Floppy (/dev/fd0) | Writing Low freq. pattern | Binary data pattern 1 (1010) 30% #ff0000");
    EXPECT_EQ(DiskDeviceText("/media/cdrom0", "/dev/sr0"), "CD-ROM (/dev/sr0)");
    // Fewer decimals as the verified count grows; the bar's colour by state.
    const std::tuple<std::uint64_t, int, const char*, const char*> steps[]
        = { { 1000000, CTest_Disk::kStatusWritingLow, "3906.250", "30% #ff0000" },
              { 1000001, CTest_Disk::kStatusVerifying, "3906.25", "30% #00ff00" },
              { 10000001, CTest_Disk::kStatusSleeping, "3906.3", "30% #ffff00" } };
    for (const auto& [verified, status, written, colour] : steps) {
        live.opcount_read = verified, live.status_harddisk = status;
        w.UpdateWindow();
        EXPECT_EQ(text(&w, "textLabelWriteCount") + " " + bar(&w, "progressBar"), std::string(written) + " " + colour);
    }
    EXPECT_EQ(text(&w, "textLabelVerifiedCount"), "39062.5");

    // Random seeking adds the seek amounts; butterfly seeking moves no data, so they stay.
    live.BufferPattern = CTest_Disk::kPatternRandomSeek;
    live.opcount_read = live.opcount_write = 256, live.opcount_seekwrite = 128, live.opcount_seekread = 48;
    for (int pattern : { CTest_Disk::kPatternRandomSeek, CTest_Disk::kPatternButterfly }) {
        live.BufferPattern = pattern;
        w.UpdateWindow();
        live.opcount_write = 0;
        EXPECT_EQ(text(&w, "WriteCount VerifiedCount", "textLabel"), "1.000 (+ WSeeks: 0.5) | 1.000 (+ RSeeks: 0.2)");
    }
    EXPECT_EQ(text(&w, "textLabelPatternAbbrevText"), "Butterfly seeking");
}

TEST_F(LiveWindows, NetworkWindowCountsRepliesAndBadExchanges)
{
    std::strcpy(testconfig.network_address[1], "192.168.7.9");
    const int slot = kSlotNetworkFirst + 1;
    NetworkLive& live = run.live<NetworkLive>(slot);
    TestWindow_Network w(run, "Network", slot);
    EXPECT_EQ(w.windowTitle(), "Network: 192.168.7.9");
    EXPECT_EQ(text(&w, "FlowRate Errors", "textLabel"), "0.00 MBytes/s | 0 (0.00%)") << "nothing counted yet";

    live.update_start_time.store(gNow);
    resultfile.results[slot].cycles = 1024, resultfile.results[slot].errors = 3;
    live.bytes_sent = 102400ull * 84, live.packets_rec = 102400;
    live.average_delay = 0.126f, live.max_delay = 2.5f, live.last_delay = 0.061f;
    live.PktsSinceErr = 200, live.BadPktsSinceErr = 3;
    advance(4000);
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "Server CycleCount Sent Received AverageDelay MaximumDelay CurrentDelay", "textLabel"),
        "192.168.7.9 | Cycle 1024: | 8.20 MBytes | 8.20 MBytes | 0.13 ms | 2.50 ms | 0.06 ms");
    // 16.4 MB both ways in 4 s.
    EXPECT_EQ(text(&w, "FlowRate Errors", "textLabel"), "4.10 MBytes/s | 3 (1.50%)");
}

TEST_F(LiveWindows, CdDiscReadingRatesThenSeeking)
{
    std::memset(gMultimediaStructPtr, 0, sizeof gMultimediaStructPtr);
    gNumMMDevices = 3;
    std::strcpy(gMultimediaStructPtr[2].alias, "DVD-RW (sr0)");
    testconfig.cd_test_mode[2] = CTest_CDROM::kModeReference;
    CdDvdLive& live = run.live<CdDvdLive>(kSlotCdFirst + 2);
    live.clear(); // as the test starts its drive
    live.setUpdateStartTime(gNow);
    TestWindow_CDROM w(run, "CD/DVD", kSlotCdFirst + 2);
    EXPECT_EQ(w.windowTitle(), "CD/DVD: DVD-RW (sr0)");
    EXPECT_EQ(text(&w, "CurrentFile Throughput", "textLabel_CDROM_"), "Searching for files | 0.00MB/s 0x")
        << "empty until data arrives";

    resultfile.results[kSlotCdFirst + 2].cycles = 5;
    resultfile.results[kSlotCdFirst + 2].errors = 3;
    live.phase = CTest_CDROM::kPhaseReadingTestCd;
    live.Totalfiles = 12;
    live.op_count_read = 3 * 1048576ull;
    advance(2000); // 1.5 MB/s over the interval and since the start
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "Heading Status FilesScanned Read Throughput Average Errors", "textLabel_CDROM_"),
        "CD/DVD 2: Veltrane Test CD/DVD, Cycle 5: | Reading Test CD | 12 | 3.00 MBytes | 1.50MB/s 10x | 1.50MB/s 10x | "
        "3");

    live.op_count_read = 4 * 1048576ull;
    advance(4000); // 0.25 MB/s (1.6 units) now, 4 MB in 6 s (4.3 units) on average
    live.phase = CTest_CDROM::kPhaseRandomSeeking;
    live.CurrentBlock = 17;
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "Throughput Average Status CurrentFile", "textLabel_CDROM_"),
        "0.25MB/s 2x | 0.67MB/s 4x | Random Seeking | Searching for files (B: 17)");
    gNumMMDevices = 0;
}

// A window whose figure changes at every refresh, as a busy test's do.
class MovingWindow : public LiveTestWindow {
public:
    MovingWindow()
        : LiveTestWindow(TestContext().run, 1, nullptr, {})
        , label(new QLabel(this))
    {
        resize(200, 60);
        label->setGeometry(10, 10, 180, 40);
        finishSetUp("moving");
    }
    int refreshes = 0;
    QLabel* label;

protected:
    void refreshLabels() override { label->setText(QString::number(++refreshes)); }
};

TEST(LiveWindowEvents, RefreshedOnPaintWithoutRepaintingForEver)
{
    MovingWindow w;
    EXPECT_EQ(w.refreshes, 1) << "the constructor refreshes once";
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "fixed to the design size";
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(1500);
    // Each refresh repaints the label: without a pause between paint refreshes this counts thousands.
    EXPECT_LE(w.refreshes, 5);

    const int before = w.refreshes;
    QTest::qWait(kPaintRefreshGapMs + 50);
    w.repaint();
    EXPECT_EQ(w.refreshes, before + 1) << "a paint refreshes the figures";
    w.UpdateWindow();
    EXPECT_EQ(w.refreshes, before + 2);

    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible()) << "the user cannot close a test window";
}

TEST_F(LiveWindows, EachSlotGetsItsWindowWithIconAndFixedSize)
{
    testconfig.parallel_port_number = 2;
    const std::tuple<int, const char*, const char*> cases[] = {
        { kSlotMaths, "TestWindow_Math", "CPU - Maths" },
        { kSlotMemory, "TestWindow", "Memory (RAM)" },
        { kSlotCdFirst + 19, "TestWindow_CDROM", "CD/DVD: " },
        { kSlotParallel, "TestWindow_ParallelPort", "Parallel Port : lp2" },
        { kSlotSerialFirst + 63, "TestWindow_SerialPort", "Serial Port : ttyS63" },
    };
    QWidget owner;
    for (const auto& [slot, className, caption] : cases) {
        std::unique_ptr<LiveTestWindow> w(CreateTestWindow(run, slot, SlotName(slot), &owner));
        ASSERT_TRUE(w) << slot;
        EXPECT_STREQ(w->metaObject()->className(), className);
        EXPECT_EQ(w->windowTitle(), caption);
        EXPECT_EQ(w->slot(), slot);
        EXPECT_TRUE(w->isWindow()) << "a window of its own beside the main window";
        EXPECT_FALSE(w->windowIcon().isNull()) << className;
        EXPECT_EQ(w->minimumSize(), w->maximumSize()) << className;
    }
    for (int slot : { 0, int(kSlot2D), int(kSlot3D), int(kSlotDiskGroup), int(kSlotCdGroup), int(kSlotSerialGroup) })
        EXPECT_EQ(CreateTestWindow(run, slot, SlotName(slot), &owner), nullptr) << slot;
}

} // namespace
