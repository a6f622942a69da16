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
#include <ostream>

// Label texts in failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

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

QString text(QWidget* w, const char* name)
{
    return findChildOrFail<QLabel>(w, name)->text();
}

bool hidden(QWidget* w, const char* name)
{
    return findChildOrFail<QWidget>(w, name)->isHidden();
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
};

TEST(TimevalDiff, MillisecondsOrZeroWhenTheEndIsEarlier)
{
    const struct {
        timeval start, end;
        long double ms;
    } cases[] = {
        { { 10, 900000 }, { 12, 400000 }, 1500.0L }, // microseconds borrowed from the seconds
        { { 10, 100000 }, { 10, 101500 }, 1.5L },
        { { 10, 250000 }, { 10, 250000 }, 0.0L },
        { { 10, 400000 }, { 10, 300000 }, 0.0L },
        { { 12, 0 }, { 10, 999999 }, 0.0L },
        { { 0, 0 }, { 3, 0 }, 3000.0L },
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(static_cast<double>(timeval_diff_msec(&c.start, &c.end)), static_cast<double>(c.ms))
            << c.start.tv_sec << "." << c.start.tv_usec << " -> " << c.end.tv_sec << "." << c.end.tv_usec;
}

TEST_F(LiveWindows, SerialThroughputIsTheIntervalsBytesOverItsLengthOnThisPortOnly)
{
    testconfig.serial_port_mode[1] = testconfig.serial_port_mode[2] = 1;
    testconfig.serial_baud_index = 6;
    SerialLive& live = TestContext().run.live<SerialLive>(kSlotSerialFirst + 1);
    SerialLive& other = TestContext().run.live<SerialLive>(kSlotSerialFirst + 2);
    live.dis_bytes_received = 12345; // left from an earlier run
    other.dis_bytes_received = 777; // another port already counting
    TestWindow_SerialPort w(TestContext().run, "Serial Port", kSlotSerialFirst + 1);
    EXPECT_EQ(w.windowTitle(), "Serial Port : ttyS1");
    EXPECT_EQ(live.dis_bytes_received.load() * 1000 + other.dis_bytes_received.load(), 777u);

    resultfile.results[kSlotSerialFirst + 1].cycles = 4;
    resultfile.results[kSlotSerialFirst + 1].errors = 2;
    live.iComSpeed = 9600;
    live.dis_bytes_sent = 900;
    live.dis_bytes_received = 600;
    advance(1200); // across a second boundary
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabel_SerialPort_Cycle"), "Cycle 4: Loopback test (fixed baud 9600)");
    EXPECT_EQ(std::tuple(text(&w, "textLabel_SerialPort_SerialPort"), text(&w, "textLabel_SerialPort_Speed"),
                  text(&w, "textLabel_SerialPort_Sent"), text(&w, "textLabel_SerialPort_Received"),
                  text(&w, "textLabel_SerialPort_Throughput"), text(&w, "textLabel_SerialPorts_Errors")),
        std::tuple(QString("ttyS1"), QString("9600 bits/sec"), QString("900 bytes"), QString("600 bytes"),
            QString("500.00 bytes/sec"), QString("2")));

    // No new byte: the last figure stays; the next interval starts at the
    // previous refresh.
    advance(3000);
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabel_SerialPort_Throughput"), "500.00 bytes/sec");
    live.dis_bytes_received = 600 + 250;
    advance(500);
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabel_SerialPort_Throughput"), "500.00 bytes/sec");

    // A count passing 4 GiB still gives the interval's bytes.
    live.dis_bytes_received = 0xFFFFFF00ull;
    advance(1000);
    w.UpdateWindow();
    live.dis_bytes_received = 0x100000100ull;
    advance(1000);
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabel_SerialPort_Throughput"), "512.00 bytes/sec");
    EXPECT_EQ(text(&w, "textLabel_SerialPort_Received"), "4294967552 bytes");

    // The cycle line names the speed setting as the test reads it.
    for (auto [index, line] : { std::pair(11, "(baud cycling to 115200)"), { 13, "(baud cycling to 230400)" },
             { 14, "(fixed baud 9600)" }, { -3, "(fixed baud 9600)" } }) {
        testconfig.serial_baud_index = index;
        w.UpdateWindow();
        EXPECT_EQ(text(&w, "textLabel_SerialPort_Cycle"), QString("Cycle 4: Loopback test ") + line) << index;
    }

    // Detect only: the status instead of four rows.
    testconfig.serial_port_mode[1] = 2;
    w.show();
    for (int detected : { 0, 1 }) {
        live.PortStatusOK = detected;
        w.UpdateWindow();
        EXPECT_EQ(std::tuple(text(&w, "textLabel_SerialPort_Cycle"), text(&w, "textLabel_SerialPort_LabelSent"),
                      text(&w, "textLabel_SerialPort_Sent")),
            std::tuple(QString("Cycle 4: Detect only"), QString("Status:"),
                QString(detected ? "Port detected" : "Port not detected")));
    }
    for (const char* name : { "LabelReceived", "Received", "LabelThroughput", "Throughput", "LabelErrors" })
        EXPECT_TRUE(hidden(&w, (std::string("textLabel_SerialPort_") + name).c_str())) << name;
    EXPECT_TRUE(hidden(&w, "textLabel_SerialPorts_Errors"));
}

TEST_F(LiveWindows, ParallelThroughputOfTheConfiguredPort)
{
    ParallelLive& live = TestContext().run.live<ParallelLive>(kSlotParallel);
    testconfig.parallel_port_number = 1;
    live.dis_bytes_received[1] = 5000000; // left from an earlier run
    live.io_port = 0x278;
    TestWindow_ParallelPort w(TestContext().run, "Parallel Port", kSlotParallel);
    EXPECT_EQ(w.windowTitle(), "Parallel Port : lp1");
    EXPECT_EQ(text(&w, "textLabel_ParallelPort_ParallelPort"), "lp1 (Address: 278)");

    resultfile.results[kSlotParallel].cycles = 2;
    resultfile.results[kSlotParallel].errors = 1;
    live.dis_bytes_sent[1] = 3001;
    live.dis_bytes_received[1] = 3000;
    live.dis_bytes_received[0] = 99; // not the port shown
    advance(2000);
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabel_ParallelPort_Cycle"), "Cycle 2: Loopback test");
    EXPECT_EQ(std::tuple(text(&w, "textLabel_ParallelPort_Sent"), text(&w, "textLabel_ParallelPort_Received"),
                  text(&w, "textLabel_ParallelPort_Throughput"), text(&w, "textLabel_ParallelPort_Errors")),
        std::tuple(QString("3001 bytes"), QString("3000 bytes"), QString("1500.00 bytes/sec"), QString("1")));
    live.dis_bytes_received[1] = 3000 + 300;
    advance(1500);
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabel_ParallelPort_Throughput"), "200.00 bytes/sec");

    testconfig.parallel_test_mode = 1; // detect only
    w.show();
    for (int detected : { 0, 1 }) {
        live.PortDetect = detected;
        w.UpdateWindow();
        EXPECT_EQ(std::tuple(text(&w, "textLabel_ParallelPort_Cycle"), text(&w, "textLabel_ParallelPort_LabelSent"),
                      text(&w, "textLabel_ParallelPort_Sent")),
            std::tuple(QString("Cycle 2: Detect only"), QString("Status:"),
                QString(detected ? "Port detected" : "Port not detected")));
    }
    for (const char* name : { "LabelReceived", "Received", "LabelThroughput", "Throughput", "LabelErrors", "Errors" })
        EXPECT_TRUE(hidden(&w, (std::string("textLabel_ParallelPort_") + name).c_str())) << name;
    live.io_port = live.PortDetect = 0;
}

TEST_F(LiveWindows, MathsWindowSumsEveryThreadInMillions)
{
    CTest_Math::ClearCounters();
    CTest_Math::mtrTestResults[0][kMathIntAdd] = 3 * 1048576ull;
    CTest_Math::mtrTestResults[1][kMathIntAdd] = 1048576ull;
    CTest_Math::mtrTestResults[1][kMathFloatDiv] = 524288ull;
    TestWindow_Math w(TestContext().run, "CPU - Maths", kSlotMaths);
    EXPECT_EQ(w.windowTitle(), "CPU - Maths");
    EXPECT_EQ(text(&w, "textLabel_Math_Addition_Executed"), "4.00");
    EXPECT_EQ(text(&w, "textLabel_Math_Addition_Verified"), "4.00");
    EXPECT_EQ(text(&w, "textLabel_Math_FPDivision_Executed"), "0.50");
    EXPECT_EQ(text(&w, "textLabel_Math_FPDivision_Verified"), "0.50");
    EXPECT_EQ(text(&w, "textLabel_Math_Division_Executed"), "0.00");
    EXPECT_EQ(text(&w, "textLabel_Math_FPAddition_Executed"), "0.00");
    CTest_Math::mtrTestResults[2][kMathFloatMul] = 10 * 1048576ull;
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabel_Math_FPMultiplication_Verified"), "10.00");
    CTest_Math::ClearCounters();
}

TEST_F(LiveWindows, MemoryWindowShowsStateProgressAndAmounts)
{
    CTest_Mem::status_mem = 1;
    CTest_Mem::progress_mem = 40;
    CTest_Mem::BufferPattern = 2;
    CTest_Mem::gTotalPhysicalRam = 8ull << 30;
    CTest_Mem::gTestRam = 3ull << 29;
    CTest_Mem::opcount_write = 3ull << 20;
    CTest_Mem::opcount_read = 1ull << 19;
    resultfile.results[kSlotMemory].cycles = 6;
    TestWindow w(TestContext().run, "Memory (RAM)", kSlotMemory);
    auto* bar = findChildOrFail<QProgressBar>(&w, "progressBar");
    EXPECT_EQ(w.windowTitle(), "Memory (RAM)");
    EXPECT_EQ(text(&w, "textLabelCycleCount"), "Cycle 6:");
    EXPECT_EQ(text(&w, "textLabelStatus"), "Writing");
    EXPECT_EQ(bar->value(), 40);
    EXPECT_EQ(bar->palette().color(QPalette::Highlight), QColor(255, 0, 0)) << "red while writing";
    EXPECT_EQ(text(&w, "textLabelPatternAbbrevText"), "Binary 2 (01010101)");
    EXPECT_EQ(text(&w, "textLabelTotalMemoryCount"), "8192.00 MBytes");
    EXPECT_EQ(text(&w, "textLabelTestMemoryCount"), "1536.00 MBytes");
    EXPECT_EQ(text(&w, "textLabelWriteCount"), "3.00 MBytes");
    EXPECT_EQ(text(&w, "textLabelVerifiedCount"), "0.50 Mbytes");
    // The free RAM is read afresh at every refresh and kept for the test.
    const std::uint64_t free = CTest_Mem::gFreePhysicalRam.load();
    EXPECT_GT(free, 0u);
    EXPECT_EQ(text(&w, "textLabelFreeMemoryCount"), QString::asprintf("%0.2lf MBytes", free / 1048576.0));

    CTest_Mem::status_mem = 2;
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabelStatus"), "Verifying");
    EXPECT_EQ(bar->palette().color(QPalette::Highlight), QColor(0, 255, 0)) << "green while verifying";
    CTest_Mem::status_mem = 1;
    w.UpdateWindow();
    EXPECT_EQ(bar->palette().color(QPalette::Highlight), QColor(255, 0, 0));

    // The plain window of another slot has its cycle line only.
    resultfile.results[kSlotMaths].cycles = 9;
    TestWindow other(TestContext().run, "CPU - Maths", kSlotMaths);
    EXPECT_EQ(text(&other, "textLabelCycleCount"), "Cycle 9:");
    EXPECT_TRUE(hidden(&other, "progressBar"));
    EXPECT_TRUE(hidden(&other, "textLabelStatus"));
    EXPECT_EQ(text(&other, "textLabelStatus"), "Starting");
    CTest_Mem::status_mem = 0;
    CTest_Mem::progress_mem = 0;
    CTest_Mem::BufferPattern = 0;
    CTest_Mem::opcount_write = CTest_Mem::opcount_read = 0;
}

class DiskWindow : public LiveWindows {
protected:
    static constexpr int kUnit = 4;
    static constexpr int kSlot = kSlotDiskFirst + kUnit;
    void SetUp() override
    {
        LiveWindows::SetUp();
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        gNumMntPoints = kUnit + 1;
        FileSystemStruct& fs = gFileSystemStructPtr[kUnit];
        std::strcpy(fs.name, "/dev/sdb1");
        std::strcpy(fs.mount_point, "/no/such/mount/point");
        std::strcpy(fs.alias, "sdb1 (/data)");
        fs.vfs.f_bsize = 4096;
        clearUnit();
    }
    void TearDown() override
    {
        clearUnit();
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        gNumMntPoints = 0;
        LiveWindows::TearDown();
    }
    static void clearUnit()
    {
        for (auto* a : { &CTest_Disk::opcount_write[kUnit], &CTest_Disk::opcount_read[kUnit],
                 &CTest_Disk::opcount_seekwrite[kUnit], &CTest_Disk::opcount_seekread[kUnit],
                 &CTest_Disk::userbytes_harddisk[kUnit], &CTest_Disk::userfreebytes_harddisk[kUnit],
                 &CTest_Disk::testfilesize_harddisk[kUnit] })
            a->store(0);
        CTest_Disk::status_harddisk[kUnit] = 0;
        CTest_Disk::progress_harddisk[kUnit] = 0;
        CTest_Disk::BufferPattern[kUnit] = 1;
    }
};

TEST_F(DiskWindow, FreeSpaceIsZeroWhenTheCapacityQueryFails)
{
    TestWindow_Disk w(TestContext().run, "Disk", kSlot);
    EXPECT_EQ(w.windowTitle(), "Disk: sdb1 (/data)");
    EXPECT_EQ(findChildOrFail<QProgressBar>(&w, "progressBarFreeSpace")->value(), 0);
    EXPECT_EQ(text(&w, "textLabelTotalCapacity"), "0.00 MBytes");
    EXPECT_EQ(text(&w, "textLabelAvailCapacity"), "0.00 MBytes");
    EXPECT_EQ(text(&w, "textLabelDevice"), "Hard Disc (/dev/sdb1)");

    // Once the test has read the file system, its figures count.
    CTest_Disk::userbytes_harddisk[kUnit] = 3 * 256;
    CTest_Disk::userfreebytes_harddisk[kUnit] = 2 * 256;
    CTest_Disk::testfilesize_harddisk[kUnit] = 255;
    w.UpdateWindow();
    EXPECT_EQ(findChildOrFail<QProgressBar>(&w, "progressBarFreeSpace")->value(), 67) << "rounded, not cut";
    EXPECT_EQ(text(&w, "textLabelTotalCapacity"), "3.00 MBytes");
    EXPECT_EQ(text(&w, "textLabelAvailCapacity"), "2.00 MBytes");
    EXPECT_EQ(text(&w, "textLabelTestFileSize"), "1.00 MBytes") << "the file size in blocks plus one";
}

TEST_F(DiskWindow, FreeSpaceOfAMountedFileSystem)
{
    std::strcpy(gFileSystemStructPtr[kUnit].mount_point, "/");
    std::uint64_t available = 0, total = 0;
    if (GetMountedFileSystemAvailDiskSize("/", &available, &total) != 0 || total == 0)
        GTEST_SKIP() << "the root file system is not in the mount table here";
    TestWindow_Disk w(TestContext().run, "Disk", kSlot);
    EXPECT_EQ(findChildOrFail<QProgressBar>(&w, "progressBarFreeSpace")->value(), FreeSpacePercent(available, total));
    EXPECT_NE(text(&w, "textLabelTotalCapacity"), "0.00 MBytes");
}

TEST_F(DiskWindow, SpeedOverTheRefreshIntervalInItsFormats)
{
    TestWindow_Disk w(TestContext().run, "Disk", kSlot);
    EXPECT_EQ(text(&w, "textLabelSpeed"), "0.0 MB/Sec");
    const struct {
        std::uint64_t addBlocks; // 256 blocks of 4096 bytes are 1 MB
        long ms;
        const char* speed;
    } steps[] = {
        { 30 * 256, 3000, "10.0 MB/Sec" },
        { 3 * 256, 3000, "1.00 MB/Sec" },
        { 256, 4000, "0.25 MB/Sec" },
        { 256, 20000, "0.0500 MB/Sec" },
        { 0, 3000, "0.0 MB/Sec" },
        { 256 / 2, 3000, "0.0 MB/Sec" }, // not yet a whole megabyte more
        { 256 / 2, 2000, "0.50 MB/Sec" },
    };
    std::uint64_t blocks = 0;
    for (const auto& s : steps) {
        blocks += s.addBlocks;
        // Written, verified and seek blocks all count.
        CTest_Disk::opcount_write[kUnit] = blocks / 2;
        CTest_Disk::opcount_read[kUnit] = blocks - blocks / 2 - blocks / 4;
        CTest_Disk::opcount_seekread[kUnit] = blocks / 4;
        advance(s.ms);
        w.UpdateWindow();
        EXPECT_EQ(text(&w, "textLabelSpeed"), s.speed) << s.addBlocks << " blocks in " << s.ms << " ms";
    }
}

TEST_F(DiskWindow, AmountsStateAndPattern)
{
    FileSystemStruct& fs = gFileSystemStructPtr[kUnit];
    std::strcpy(fs.mount_point, "/media/floppy0");
    std::strcpy(fs.name, "/dev/fd0");
    resultfile.results[kSlot].cycles = 11;
    CTest_Disk::status_harddisk[kUnit] = CTest_Disk::kStatusWritingLow;
    CTest_Disk::progress_harddisk[kUnit] = 30;
    CTest_Disk::BufferPattern[kUnit] = CTest_Disk::kPatternBinary1;
    CTest_Disk::opcount_write[kUnit] = 1000000;
    CTest_Disk::opcount_read[kUnit] = 1000000;
    TestWindow_Disk w(TestContext().run, "Disk", kSlot);
    auto* bar = findChildOrFail<QProgressBar>(&w, "progressBar");
    EXPECT_EQ(text(&w, "textLabelCycleCount"), "Cycle 11:");
    EXPECT_EQ(text(&w, "textLabelDevice"), "Floppy (/dev/fd0)");
    EXPECT_EQ(text(&w, "textLabelStatus"), "Writing Low freq. pattern");
    EXPECT_EQ(bar->value(), 30);
    EXPECT_EQ(bar->palette().color(QPalette::Highlight), QColor(255, 0, 0));
    EXPECT_EQ(text(&w, "textLabelPatternAbbrevText"), "Binary data pattern 1 (1010)");
    EXPECT_EQ(text(&w, "textLabelWriteCount"), "3906.250");
    EXPECT_EQ(text(&w, "textLabelVerifiedCount"), "3906.250");

    // Fewer decimals as the verified count grows.
    CTest_Disk::opcount_read[kUnit] = 1000001;
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabelWriteCount"), "3906.25");
    CTest_Disk::opcount_read[kUnit] = 10000001;
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabelVerifiedCount"), "39062.5");

    CTest_Disk::status_harddisk[kUnit] = CTest_Disk::kStatusVerifying;
    w.UpdateWindow();
    EXPECT_EQ(bar->palette().color(QPalette::Highlight), QColor(0, 255, 0));
    CTest_Disk::status_harddisk[kUnit] = CTest_Disk::kStatusSleeping;
    w.UpdateWindow();
    EXPECT_EQ(bar->palette().color(QPalette::Highlight), QColor(255, 255, 0));

    // Random seeking adds the seek amounts.
    CTest_Disk::BufferPattern[kUnit] = CTest_Disk::kPatternRandomSeek;
    CTest_Disk::opcount_read[kUnit] = 256;
    CTest_Disk::opcount_write[kUnit] = 256;
    CTest_Disk::opcount_seekwrite[kUnit] = 128;
    CTest_Disk::opcount_seekread[kUnit] = 48;
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabelPatternAbbrevText"), "Random data, random seeking");
    EXPECT_EQ(text(&w, "textLabelWriteCount"), "1.000 (+ WSeeks: 0.5)");
    EXPECT_EQ(text(&w, "textLabelVerifiedCount"), "1.000 (+ RSeeks: 0.2)");

    // Butterfly seeking moves no data: the amounts stay as they were.
    CTest_Disk::BufferPattern[kUnit] = CTest_Disk::kPatternButterfly;
    CTest_Disk::opcount_write[kUnit] = 0;
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabelWriteCount"), "1.000 (+ WSeeks: 0.5)");
}

TEST(DiskDevice, KindFromTheMountPoint)
{
    EXPECT_EQ(DiskDeviceText("/media/cdrom0", "/dev/sr0"), "CD-ROM (/dev/sr0)");
    EXPECT_EQ(DiskDeviceText("/mnt/floppy", "/dev/fd0"), "Floppy (/dev/fd0)");
    EXPECT_EQ(DiskDeviceText("/home", "/dev/nvme0n1p2"), "Hard Disc (/dev/nvme0n1p2)");
}

TEST_F(LiveWindows, NetworkWindowCountsRepliesAndBadExchanges)
{
    std::strcpy(testconfig.network_address[1], "192.168.7.9");
    const int slot = kSlotNetworkFirst + 1;
    CTest_Network::datasize = CTest_Network::kPacketSize;
    TestWindow_Network w(TestContext().run, "Network", slot);
    EXPECT_EQ(w.windowTitle(), "Network: 192.168.7.9");
    EXPECT_EQ(text(&w, "textLabelFlowRate"), "0.00 MBytes/s") << "the unit has not started";
    EXPECT_EQ(text(&w, "textLabelErrors"), "0 (0.00%)") << "nothing counted yet";

    relaxedStore(CTest_Network::update_start_time[1].tv_sec, gNow.tv_sec);
    relaxedStore(CTest_Network::update_start_time[1].tv_usec, gNow.tv_usec);
    resultfile.results[slot].cycles = 1024;
    resultfile.results[slot].errors = 3;
    CTest_Network::bytes_sent[1] = 102400ull * 84;
    CTest_Network::packets_rec[1] = 102400;
    CTest_Network::average_delay[1] = 0.126f;
    CTest_Network::max_delay[1] = 2.5f;
    CTest_Network::last_delay[1] = 0.061f;
    CTest_Network::PktsSinceErr[1] = 200;
    CTest_Network::BadPktsSinceErr[1] = 3;
    advance(4000);
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabelServer"), "192.168.7.9");
    EXPECT_EQ(text(&w, "textLabelCycleCount"), "Cycle 1024:");
    EXPECT_EQ(text(&w, "textLabelSent"), "8.20 MBytes");
    EXPECT_EQ(text(&w, "textLabelReceived"), "8.20 MBytes");
    EXPECT_EQ(text(&w, "textLabelAverageDelay"), "0.13 ms");
    EXPECT_EQ(text(&w, "textLabelMaximumDelay"), "2.50 ms");
    EXPECT_EQ(text(&w, "textLabelCurrentDelay"), "0.06 ms");
    EXPECT_EQ(text(&w, "textLabelFlowRate"), "4.10 MBytes/s"); // 16.4 MB both ways in 4 s
    EXPECT_EQ(text(&w, "textLabelErrors"), "3 (1.50%)");

    // Replies lost: only the requests count as sent.
    CTest_Network::packets_rec[1] = 51200;
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabelReceived"), "4.10 MBytes");
    for (auto* a : { &CTest_Network::bytes_sent[1], &CTest_Network::packets_rec[1], &CTest_Network::PktsSinceErr[1],
             &CTest_Network::BadPktsSinceErr[1] })
        a->store(0);
    relaxedStore(CTest_Network::update_start_time[1].tv_sec, time_t { 0 });
}

TEST_F(LiveWindows, CdDiscReadingRatesThenAudioTracks)
{
    std::memset(gMultimediaStructPtr, 0, sizeof gMultimediaStructPtr);
    gNumMMDevices = 3;
    std::strcpy(gMultimediaStructPtr[2].alias, "DVD-RW (sr0)");
    testconfig.cd_test_mode[2] = CTest_CDROM::kModeReference;
    CdDvdLive& live = TestContext().run.live<CdDvdLive>(kSlotCdFirst + 2);
    live.clear();
    live.setUpdateStartTime(gNow);
    TestWindow_CDROM w(TestContext().run, "CD/DVD", kSlotCdFirst + 2);
    EXPECT_EQ(w.windowTitle(), "CD/DVD: DVD-RW (sr0)");
    EXPECT_EQ(text(&w, "textLabel_CDROM_CurrentFile"), "Searching for files");
    EXPECT_EQ(text(&w, "textLabel_CDROM_Throughput"), "0.00MB/s 0x") << "empty until data arrives";

    resultfile.results[kSlotCdFirst + 2].cycles = 5;
    resultfile.results[kSlotCdFirst + 2].errors = 3;
    live.phase = CTest_CDROM::kPhaseReadingTestCd;
    live.Totalfiles = 12;
    live.op_count_read = 3 * 1048576ull;
    advance(2000); // 1.5 MB/s over the interval and since the start
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabel_CDROM_Heading"), "CD/DVD 2: Veltrane Test CD/DVD, Cycle 5:");
    for (auto [label, shown] :
        { std::pair("Status", "Reading Test CD"), { "FilesScanned", "12" }, { "Read", "3.00 MBytes" },
            { "Throughput", "1.50MB/s 10x" }, { "Average", "1.50MB/s 10x" }, { "Errors", "3" } })
        EXPECT_EQ(text(&w, (std::string("textLabel_CDROM_") + label).c_str()), shown) << label;

    live.op_count_read = 4 * 1048576ull;
    advance(4000); // 0.25 MB/s (1.6 units) now, 4 MB in 6 s (4.3 units) on average
    live.phase = CTest_CDROM::kPhaseRandomSeeking;
    live.CurrentBlock = 17;
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabel_CDROM_Throughput"), "0.25MB/s 2x");
    EXPECT_EQ(text(&w, "textLabel_CDROM_Average"), "0.67MB/s 4x");
    EXPECT_EQ(text(&w, "textLabel_CDROM_Status"), "Random Seeking");
    EXPECT_EQ(text(&w, "textLabel_CDROM_CurrentFile"), "Searching for files (B: 17)");
    advance(3000); // nothing read: the interval rate stays
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabel_CDROM_Throughput"), "0.25MB/s 2x");

    // The same drive playing music: tracks instead of files.
    testconfig.cd_test_mode[2] = CTest_CDROM::kModeAudio;
    live.track_num = 3;
    live.totaltracks = 9;
    w.UpdateWindow();
    EXPECT_EQ(text(&w, "textLabel_CDROM_Heading"), "CD/DVD 2: Music CD playback, Cycle 5:");
    EXPECT_EQ(std::tuple(text(&w, "textLabel_CDROM_LabelStatus"), text(&w, "textLabel_CDROM_LabelCurrentFile"),
                  text(&w, "textLabel_CDROM_LabelFilesScanned"), text(&w, "textLabel_CDROM_CurrentFile"),
                  text(&w, "textLabel_CDROM_FilesScanned")),
        std::tuple(
            QString("Drive status:"), QString("Current track:"), QString("Total tracks:"), QString("3"), QString("9")));
    live.clear();
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
    // Each refresh repaints the label over the window: without a pause
    // between paint refreshes this would count thousands.
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
    const struct {
        int slot;
        const char* className;
        const char* caption;
    } cases[] = {
        { kSlotMaths, "TestWindow_Math", "CPU - Maths" },
        { kSlotMemory, "TestWindow", "Memory (RAM)" },
        { kSlotCdFirst + 19, "TestWindow_CDROM", "CD/DVD: " },
        { kSlotParallel, "TestWindow_ParallelPort", "Parallel Port : lp2" },
        { kSlotSerialFirst + 63, "TestWindow_SerialPort", "Serial Port : ttyS63" },
    };
    QWidget owner;
    for (const auto& c : cases) {
        std::unique_ptr<LiveTestWindow> w(CreateTestWindow(TestContext().run, c.slot, SlotName(c.slot), &owner));
        ASSERT_TRUE(w) << c.slot;
        EXPECT_STREQ(w->metaObject()->className(), c.className);
        EXPECT_EQ(w->windowTitle(), c.caption);
        EXPECT_EQ(w->slot(), c.slot);
        EXPECT_TRUE(w->isWindow()) << "a window of its own beside the main window";
        EXPECT_FALSE(w->windowIcon().isNull()) << c.className;
        EXPECT_EQ(w->minimumSize(), w->maximumSize()) << c.className;
    }
    for (int slot : { 0, int(kSlot2D), int(kSlot3D), int(kSlotDiskGroup), int(kSlotCdGroup), int(kSlotSerialGroup) })
        EXPECT_EQ(CreateTestWindow(TestContext().run, slot, SlotName(slot), &owner), nullptr) << slot;
}

} // namespace
