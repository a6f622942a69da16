#include "AtomicField.h"
#include "TestContext.h"
#include "CLogger.h"
#include "CTest_Disk.h"
#include "ErrorClassification.h"
#include "PrivateMountTable.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;
constexpr int kCodes[] = { 11, 12, 13, 14, 15, 16, 17, 101, 123, 162, 200, 207, 208 };

std::size_t countOf(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::vector<std::string> testFiles(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("~kvxtest", 0) == 0)
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A small ext2 image loop-mounted in a new directory under `parent`, gone
// again (unmounted, loop device released, directory removed) at the end.
struct Ext2Mount {
    std::string dir, device, skip;
    TempDir work;
    explicit Ext2Mount(const std::string& parent)
    {
        if (::geteuid() != 0) {
            skip = "needs root to loop-mount an ext2 image";
            return;
        }
        fs::create_directories(parent);
        std::string tmpl = parent + "/kvxdisk.XXXXXX";
        if (!::mkdtemp(tmpl.data()))
            return;
        dir = tmpl;
        const std::string img = work.file("fs.img");
        if (std::system(("truncate -s 2M " + img + " && mkfs.ext2 -q -F -b 1024 -m 0 -N 16 " + img
                + " >/dev/null 2>&1 && mount -o loop " + img + " " + dir)
                            .c_str())
            != 0)
            return;
        std::ifstream mounts("/proc/self/mounts");
        for (std::string dev, at, rest; mounts >> dev >> at && std::getline(mounts, rest);)
            if (at == dir)
                device = dev;
    }
    ~Ext2Mount()
    {
        if (!device.empty())
            std::system(("umount " + dir).c_str()); // also frees the loop device
        if (!dir.empty())
            ::rmdir(dir.c_str());
    }
};

// A tmpfs of `size` mounted in a new directory under `parent`, unmounted
// again at the end; for a private mount table only.
struct TmpfsMount {
    std::string dir;
    TmpfsMount(const std::string& parent, const char* size)
    {
        std::string tmpl = parent + "/tmpfs.XXXXXX";
        if (::mkdtemp(tmpl.data())
            && ::mount("tmpfs", tmpl.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0)
            dir = tmpl;
        else
            ::rmdir(tmpl.c_str());
    }
    ~TmpfsMount()
    {
        if (!dir.empty() && ::umount2(dir.c_str(), MNT_DETACH) == 0)
            ::rmdir(dir.c_str());
    }
};

class DiskRun : public ::testing::Test {
protected:
    TempDir dir;
    std::string mtab = dir.file("mtab");

    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(TestRun().threadData, 0, sizeof TestRun().threadData);
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        for (auto& a : TestRun().threadActive)
            relaxedStore(a, 0);
        TestRun().testsRunning = 0;
        testconfig.duty_cycle[kSlotDiskGroup] = 100;
        testconfig.logging_enabled = testconfig.log_detail_level = testconfig.trace_header_written = 1;
        testconfig.trace_level = 4;
        g_fpActivityLog = std::fopen(dir.file("trace.log").c_str(), "w");
        gLogger = new CLogger("dummyStr");
        for (int code : kCodes) {
            e_classification[code] = kSevSerious;
            std::snprintf(e_strings[code], kErrorTextSize, "Disk error %d", code);
        }
        WriteFile(mtab, "");
        CTest_Disk::SetMountTable(mtab);
        CTest_Disk::SetTimingForTests(0, 0);
    }
    void TearDown() override
    {
        CTest_Disk::SetTimingForTests(-1, -1);
        CTest_Disk::SetMountTable("");
        delete gLogger; // closes the trace
        gLogger = nullptr;
        for (int code : kCodes)
            e_classification[code] = 0, e_strings[code][0] = '\0';
    }
    std::string trace() { return ReadFile(dir.file("trace.log")); }

    // Unit `u` tests the file system mounted at `where` with `mode`; with
    // `N` given and `listed` the size percentage makes files of N - 1 blocks.
    void useUnit(int u, const std::string& where, int mode, std::uint64_t N = 20, bool listed = true,
        const char* device = nullptr)
    {
        FileSystemStruct& f = gFileSystemStructPtr[u];
        const std::string dev = device ? device : "/dev/kvx-unit" + std::to_string(u);
        std::snprintf(f.name, sizeof f.name, "%s", dev.c_str());
        std::snprintf(f.mount_point, sizeof f.mount_point, "%s", where.c_str());
        std::snprintf(f.alias, sizeof f.alias, "Unit %d", u);
        ASSERT_EQ(::statvfs(where.c_str(), &f.vfs), 0);
        if (listed && !device)
            WriteFile(mtab, ReadFile(mtab) + dev + " " + where + " ext4 rw 0 0\n");
        std::snprintf(testconfig.disk_path[u], sizeof testconfig.disk_path[u], "%s", where.c_str());
        testconfig.disk_test_mode[u] = mode;
        testconfig.disk_file_size_pct[u] = (static_cast<double>(N) + 0.5) / static_cast<double>(f.vfs.f_blocks / 100);
        testconfig.disk_seek_count[u] = 100;
        TestRun().setSlotActive(kSlotDiskFirst + u, true);
    }
};

TEST(DiskSizing, FileSizeClampsReserveAndPatternOrder)
{
    struct {
        std::uint64_t total;
        double pct;
        std::uint64_t bs, N;
    } sizes[] = {
        { 1000000, 1.0, 4096, 10000 }, // files of 9,999 blocks
        { 199, 100.0, 4096, 100 }, // total / 100 is an integer division
        { 2000, 1.0, 1024, 32 }, // 20 KiB: a tiny file system gets 32 KiB
        { 63 * 100, 1.0, 512, 64 }, // 32,256 bytes
        { 64 * 100, 1.0, 512, 64 }, // exactly 32 KiB stays
        { 524288 * 100, 1.0, 4096, 524288 }, // exactly 2 GiB stays
        { 100000000, 1.0, 4096, 524288 }, // 4 GB becomes 2 GiB
        { 1ull << 62, 100.0, 512, 4194304 },
        { 99, 1.0, 4096, 0 },
        { 1000000, 0.0, 4096, 0 },
        { 1000000, -3.0, 4096, 0 },
        { 1000000, 0.0 / 0.0, 4096, 0 },
    };
    for (auto s : sizes)
        EXPECT_EQ(CTest_Disk::DiskFileBlocks(s.total, s.pct, s.bs), s.N) << s.total << " x " << s.pct << "%";

    EXPECT_EQ(CTest_Disk::DiskReservePercent(1.0), 6.0);
    EXPECT_EQ(CTest_Disk::DiskReservePercent(6.0), 6.5);
    EXPECT_EQ(CTest_Disk::DiskReservePercent(20.0), 20.5);
    EXPECT_TRUE(CTest_Disk::ReserveReached(60000, 1000000, 6.0));
    EXPECT_FALSE(CTest_Disk::ReserveReached(60001, 1000000, 6.0));

    std::vector<int> order { 1 };
    while (order.size() < 10)
        order.push_back(CTest_Disk::NextCyclicPattern(order.back()));
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 3, 4, 5, 6, 7, 8, 1, 2 }));
    EXPECT_EQ(CTest_Disk::NextCyclicPattern(9), 1);

    EXPECT_EQ(CTest_Disk::FileName(0, "/media/usb", 7), "~kvxtest00007.txt");
    EXPECT_EQ(CTest_Disk::FileName(3, "/media/usb", 123456), "/media/usb/~kvxtest123456.txt");
}

// Cyclic mode writes one file per cycle with patterns 1..8; each file holds
// the header and then its pattern, every byte verified.
TEST_F(DiskRun, CyclicModeFilesHoldEveryPattern)
{
    useUnit(2, dir.path(), 0);
    resultfile.results[8].cycles = 300; // pattern 1 starts at 300 mod 256
    CTest_Disk disk(TestContext(), 2, 8);
    ASSERT_TRUE(disk.StartUp());
    const std::size_t bs = disk.blockSize();
    ASSERT_EQ(disk.fileBlocks(), 20u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(CTest_Disk::BufferPattern[2].load(), i % 8 + 1);
        disk.RunCycle();
    }
    const std::string text = trace();
    const _resultinfo& r = resultfile.results[8];
    EXPECT_EQ(std::tuple(r.cycles, r.errors, r.op_count), std::tuple(309u, 0u, (9 * 2 + 1) * 19ull))
        << "pattern 2 writes twice\n"
        << text;
    EXPECT_EQ(CTest_Disk::opcount_write[2].load(), 10 * 19u);
    EXPECT_EQ(CTest_Disk::opcount_read[2].load(), 9 * 19u);
    EXPECT_EQ(countOf(text, "Writing High freq pattern file: " + disk.FileName(2) + ", size: 21 blocks"), 1u);
    std::size_t at = 0;
    for (int next : { 2, 3, 4, 5, 6, 7, 8, 1, 2 }) {
        at = text.find(std::string("Moving to next test pattern: ") + CTest_Disk::PatternText[next], at);
        ASSERT_NE(at, std::string::npos) << next;
    }
    ASSERT_EQ(testFiles(dir.path()).size(), 9u);

    const std::string& header = CTest_Disk::HeaderText();
    const std::size_t hdr = header.size() + 1;
    const int fixed[] = { 0, 0, 0xAA, 0x55, 0x00, 0xFF };
    const int lowFreq[] = { 0x08, 0x42, 0x10, 0x84, 0x21 };
    for (int p = 1; p <= 8; ++p) {
        const std::string data = ReadFile(disk.FileName(p));
        ASSERT_EQ(data.size(), 19 * bs) << p;
        EXPECT_EQ(data.compare(0, hdr, header.c_str(), hdr), 0) << p;
        if (p >= 7) { // block b holds random block b mod 7
            for (std::size_t b = 8; b < 19; ++b)
                ASSERT_EQ(data.compare(b * bs, bs, data, (b - 7) * bs, bs), 0) << p << ": " << b;
            EXPECT_EQ(data.compare(7 * bs + hdr, bs - hdr, data, hdr, bs - hdr), 0) << p;
            EXPECT_NE(data.compare(bs, bs, data, 2 * bs, bs), 0) << p;
            continue;
        }
        for (std::size_t off = hdr; off < data.size(); ++off) {
            const std::size_t j = off % bs;
            const int want = p == 1 ? static_cast<int>((j + 300) % 256) : p == 2 ? lowFreq[j % 5] : fixed[p - 1];
            ASSERT_EQ(static_cast<unsigned char>(data[off]), want) << "pattern " << p << " offset " << off;
        }
    }
    // Each random cycle draws new blocks.
    EXPECT_NE(ReadFile(disk.FileName(7)).substr(bs, bs), ReadFile(disk.FileName(8)).substr(bs, bs));
}

TEST_F(DiskRun, RandomSeekingStaysInsideTheFile)
{
    useUnit(1, dir.path(), 8);
    testconfig.disk_seek_count[1] = 300;
    CTest_Disk disk(TestContext(), 1, 7);
    ASSERT_TRUE(disk.StartUp());
    disk.RunCycle();
    const std::uint64_t w = CTest_Disk::opcount_seekwrite[1], r = CTest_Disk::opcount_seekread[1];
    EXPECT_TRUE(w > 50 && r > 50 && w + r == 300) << w << " + " << r;
    EXPECT_EQ(CTest_Disk::progress_harddisk[1].load(), 100);
    EXPECT_EQ(resultfile.results[7].errors, 0u) << trace();
    // Rewrites put back what the file held; nothing beyond block N - 2.
    const std::string name = disk.FileName(1);
    EXPECT_EQ(fs::file_size(name), 19 * disk.blockSize());
    EXPECT_EQ(disk.test_harddisk_verifyfile(name.c_str(), 1, 1, disk.fileBlocks()), 0);
    const std::string text = trace();
    EXPECT_EQ(countOf(text, "Writing to random block #") + countOf(text, "Verifying from random block #"), 300u);
    EXPECT_EQ(countOf(text, "Random Seeking now...number of files written so far = 1"), 1u);

    testconfig.disk_seek_count[1] = 0;
    EXPECT_EQ(disk.WanderAroundTheDisk(1, 1, disk.fileBlocks()), 0);
    EXPECT_EQ(CTest_Disk::opcount_seekwrite[1] + CTest_Disk::opcount_seekread[1], 300u);
}

// One wrong byte fails the verify with its place in the log; the header
// bytes are never compared; a file cut short does not pass.
TEST_F(DiskRun, CorruptedOrShortFilesFail)
{
    useUnit(4, dir.path(), 3);
    CTest_Disk disk(TestContext(), 4, 10);
    ASSERT_TRUE(disk.StartUp());
    const std::string name = disk.FileName(1);
    const std::uint64_t N = disk.fileBlocks(), bs = disk.blockSize(), hdr = CTest_Disk::HeaderText().size() + 1;
    auto flip = [&](std::uint64_t off) {
        std::fstream f(name, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(static_cast<std::streamoff>(off));
        const char was = static_cast<char>(f.get());
        f.seekp(static_cast<std::streamoff>(off));
        f.put(static_cast<char>(~was));
    };
    struct {
        std::uint64_t off;
        int code;
    } cases[] = { { 0, 0 }, { hdr - 1, 0 }, { hdr, 17 }, { 2 * bs + 100, 17 }, { (N - 1) * bs - 1, 17 } };
    for (auto c : cases) {
        ASSERT_EQ(disk.test_harddisk_writefile(name.c_str(), N, CTest_Disk::kModeCurrent), 0);
        flip(c.off);
        const std::uint64_t before = CTest_Disk::opcount_read[4];
        EXPECT_EQ(disk.test_harddisk_verifyfile(name.c_str(), 1, 1, N), c.code) << c.off;
        EXPECT_EQ(disk.pendingError(), c.code);
        if (c.code) { // the verify ends at the bad block
            EXPECT_EQ(CTest_Disk::opcount_read[4] - before, c.off / bs + 1);
        }
        disk.RunCycle(); // reports the pending error at the cycle's end
    }
    const std::string text = trace();
    const std::string b2 = "Block # (starts from zero) = 2, Offset = " + std::to_string(2 * bs + 100);
    EXPECT_EQ(countOf(text, "filenum = 1, iStartFilenum = 1, filesizeBlocks+1 = 21, " + b2), 1u) << text;
    EXPECT_EQ(countOf(text, "File: " + name + ", ReadBuff[2][100]: 85, ExpectedValue[2][100]: 170"), 1u);
    EXPECT_EQ(resultfile.results[10].errors, 3u);
    EXPECT_EQ(resultfile.results[10].last_error, 17u);
    EXPECT_EQ(resultfile.classes[10].serious, 3u);
    EXPECT_TRUE(
        std::string(gLogger->GetLine(-1, nullptr, nullptr)).ends_with(", Disk, /dev/kvx-unit4: Disk error 17\n"));

    ASSERT_EQ(::truncate(name.c_str(), static_cast<off_t>(5 * bs)), 0);
    EXPECT_EQ(disk.test_harddisk_verifyfile(name.c_str(), 1, 1, N), 16);
    EXPECT_NE(trace().find(", EOF reached"), std::string::npos);

    // A re-verify logs every differing byte.
    CTest_Disk::BufferPattern[4] = 7;
    disk.FillBlocksWithNewRandomData();
    ASSERT_EQ(disk.test_harddisk_writefile(name.c_str(), N, CTest_Disk::kModeCurrent), 0);
    flip(3 * bs + 5), flip(3 * bs + 6);
    EXPECT_EQ(disk.test_harddisk_verifyblock(name.c_str(), 1, 1, N, 3), 17);
    EXPECT_EQ(countOf(trace(), "[Using Random Block 3] ExpectedValue[3]["), 2u);
    EXPECT_EQ(disk.test_harddisk_verifyblock(name.c_str(), 1, 1, N, 2), 0);
    disk.ShutDown(); // a stop still reports the cycle's pending error
    EXPECT_EQ(std::pair(resultfile.results[10].errors, resultfile.results[10].last_error), std::pair(4u, 17u));
}

// Files are opened only as regular files of their own name: a link or a
// FIFO planted at the next name fails the open and is not followed.
TEST_F(DiskRun, PlantedLinksAreNotFollowed)
{
    TempDir elsewhere;
    const std::string victim = elsewhere.file("passwd");
    WriteFile(victim, "root:x:0:0\n");
    useUnit(5, dir.path(), 2);
    CTest_Disk disk(TestContext(), 5, 11);
    ASSERT_TRUE(disk.StartUp());
    ASSERT_EQ(::symlink(victim.c_str(), disk.FileName(1).c_str()), 0);
    ASSERT_EQ(::mkfifo(disk.FileName(2).c_str(), 0666), 0);
    disk.RunCycle();
    disk.RunCycle();
    EXPECT_EQ(ReadFile(victim), "root:x:0:0\n");
    EXPECT_EQ(resultfile.results[11].errors, 2u);
    EXPECT_EQ(resultfile.results[11].last_error, 13u);
    EXPECT_NE(trace().find("Failed to fopen(" + disk.FileName(1) + ", wb), strerror(40)"), std::string::npos);

    // Reading and rewriting through a link to an identical file fail too.
    disk.RunCycle();
    const std::string real = disk.FileName(3), copy = elsewhere.file("copy");
    fs::copy_file(real, copy);
    fs::remove(real);
    ASSERT_EQ(::symlink(copy.c_str(), real.c_str()), 0);
    EXPECT_EQ(disk.test_harddisk_verifyfile(real.c_str(), 3, 1, disk.fileBlocks()), 15);
    EXPECT_EQ(disk.test_harddisk_writeblock(real.c_str(), 1), 13);

    // The high-low overwrite needs the first pass's file.
    fs::remove(real);
    EXPECT_EQ(disk.test_harddisk_writefile(real.c_str(), disk.fileBlocks(), CTest_Disk::kModeCurrent), 13);
    EXPECT_NE(trace().find("File (*" + real + "*) does not exist for DT_HIGHLOW"), std::string::npos);

    disk.ShutDown(); // removes the links, not what they point to
    EXPECT_TRUE(testFiles(dir.path()).empty());
    EXPECT_EQ(ReadFile(victim), "root:x:0:0\n");
    EXPECT_TRUE(FileExists(copy));
}

// Stop: every file from the first on goes, also past a file removed by
// somebody else; unit 0 writes in the working directory.
TEST_F(DiskRun, StopDeletesTheUnitsFiles)
{
    TempDir cwd;
    const fs::path old = fs::current_path();
    fs::current_path(cwd.path());
    useUnit(0, dir.path(), 5);
    {
        CTest_Disk disk(TestContext(), 0, 6);
        ASSERT_TRUE(disk.StartUp());
        for (int i = 0; i < 5; ++i)
            disk.RunCycle();
        EXPECT_TRUE(testFiles(dir.path()).empty());
        EXPECT_EQ(testFiles(cwd.path()).size(), 5u);
        fs::remove(cwd.file("~kvxtest00002.txt"));
        disk.ShutDown();
    }
    EXPECT_TRUE(testFiles(cwd.path()).empty());
    fs::current_path(old);

    // Whole threads: one unit cycling, one that cannot find its file system.
    useUnit(3, dir.path(), 6);
    fs::create_directory(dir.file("nowhere"));
    useUnit(7, dir.file("nowhere"), 1, 20, false);
    for (int u : { 3, 7 }) {
        TestRun().threadData[kSlotDiskFirst + u] = { 0, kSlotDiskFirst + u, u, 0, 0, 0, 0, &TestContext() };
        ASSERT_EQ(
            pthread_create(&TestRun().threadData[kSlotDiskFirst + u].thread, nullptr,
                TestContext().entryFor(*EngineFor(kSlotDiskFirst + u)), &TestRun().threadData[kSlotDiskFirst + u]),
            0);
    }
    // Both threads must have marked themselves active before the stop.
    for (int i = 0; i < 5000 && (relaxedLoad(resultfile.results[9].cycles) < 3 || TestRun().testsRunning < 2); ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(TestRun().testsRunning.load(), 2);
    TestRun().setSlotActive(9, false), TestRun().setSlotActive(13, false);
    const auto t0 = std::chrono::steady_clock::now();
    for (int u : { 3, 7 }) {
        const int slot = kSlotDiskFirst + u;
        for (int i = 0; i < 5000 && relaxedLoad(TestRun().threadData[slot].running); ++i)
            std::this_thread::sleep_for(1ms);
        EXPECT_EQ(relaxedLoad(TestRun().threadData[slot].running), 0) << u;
        TestRun().setSlotActive(slot, false); // a thread that was late to start must still end
        pthread_join(TestRun().threadData[slot].thread, nullptr);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_EQ(TestRun().testsRunning.load(), 0);
    EXPECT_TRUE(testFiles(dir.path()).empty());
    EXPECT_GE(resultfile.results[9].cycles, 3u);
    EXPECT_EQ(std::pair(resultfile.results[13].errors, resultfile.results[13].last_error), std::pair(1u, 200u));
    const std::string text = trace();
    EXPECT_NE(text.find(", Disk: Unit 7, *" + dir.file("nowhere") + "* not detected"), std::string::npos);
    EXPECT_EQ(countOf(text, ", Disk: Unit 3, Stopping test"), 1u);
}

// A file system that can no longer be looked up between cycles is an
// error, not a full disk: the files written so far stay.
TEST_F(DiskRun, FailedLookupIsNoFullDisk)
{
    useUnit(2, dir.path(), 6);
    CTest_Disk disk(TestContext(), 2, 8);
    ASSERT_TRUE(disk.StartUp());
    disk.RunCycle();
    const std::uint64_t total = CTest_Disk::userbytes_harddisk[2].load();
    ASSERT_GT(total, 0u);
    WriteFile(mtab, ""); // unmounted meanwhile
    ::testing::internal::CaptureStderr();
    disk.RunCycle();
    disk.RunCycle();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(testFiles(dir.path()).size(), 3u);
    EXPECT_EQ(std::tuple(resultfile.results[8].errors, resultfile.results[8].last_error,
                  CTest_Disk::userbytes_harddisk[2].load()),
        std::tuple(2u, 200u, total))
        << "reported each cycle; the last reading stays";
    EXPECT_EQ(countOf(err, "GetFileSystemAvailDiskSize: "), 2u);
    EXPECT_EQ(countOf(trace(), ", Disk: Unit 2, *" + dir.path() + "* not detected"), 2u);
    disk.ShutDown();
    EXPECT_TRUE(testFiles(dir.path()).empty());
}

// Free space is measured where the files go: by mount point among mounts
// of one device name, and in the working directory for unit 0. Each unit
// then deletes its files at the reserve, before its small disk is full.
TEST_F(DiskRun, SpaceIsMeasuredWhereTheFilesGo)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount tmpfs";
    const std::string why = UsePrivateMountTable();
    ASSERT_EQ(why, "");
    TmpfsMount big(dir.path(), "4m"), small(dir.path(), "1m"), work(dir.path(), "1m");
    ASSERT_FALSE(big.dir.empty() || small.dir.empty() || work.dir.empty()) << std::strerror(errno);
    CTest_Disk::SetMountTable("/etc/mtab");
    const fs::path old = fs::current_path();
    fs::current_path(work.dir);
    useUnit(0, big.dir, 6, 0, true, "tmpfs"); // but writes in the working directory
    useUnit(1, small.dir, 6, 0, true, "tmpfs");
    for (auto [u, where] : { std::pair(0, work.dir), std::pair(1, small.dir) }) {
        SCOPED_TRACE(where);
        testconfig.disk_file_size_pct[u] = 1.0;
        struct statvfs v { };
        ASSERT_EQ(::statvfs(where.c_str(), &v), 0);
        CTest_Disk disk(TestContext(), u, kSlotDiskFirst + u);
        ASSERT_TRUE(disk.StartUp());
        EXPECT_EQ(std::tuple(CTest_Disk::userbytes_harddisk[u].load(), disk.fileBlocks()),
            std::tuple(std::uint64_t { v.f_blocks }, std::uint64_t { 8 }));
        for (int i = 0; i < 100 && disk.firstFileNumber() == 1; ++i)
            disk.RunCycle();
        EXPECT_GT(disk.firstFileNumber(), 30) << "files deleted at the reserve";
        EXPECT_EQ(std::tuple(CTest_Disk::userbytes_harddisk[u].load(), resultfile.results[kSlotDiskFirst + u].errors),
            std::tuple(std::uint64_t { v.f_blocks }, 0u));
        disk.ShutDown();
        EXPECT_TRUE(testFiles(where).empty());
    }
    fs::current_path(old);
}

TEST_F(DiskRun, StartFailuresAreReportedAtOnce)
{
    useUnit(6, dir.path(), 1);
    testconfig.disk_file_size_pct[6] = 94.0; // reserve 94.5 %: far more than is free
    WriteFile(mtab, ReadFile(mtab) + "proc /proc proc rw 0 0\n");
    useUnit(9, "/proc", 1, 20, false, "proc"); // no blocks at all
    for (auto [u, code] : { std::pair(6, 12u), std::pair(9, 208u) }) {
        CTest_Disk disk(TestContext(), u, kSlotDiskFirst + u);
        EXPECT_FALSE(disk.StartUp());
        EXPECT_EQ(resultfile.results[kSlotDiskFirst + u].last_error, code);
    }
    const std::string text = trace();
    EXPECT_NE(text.find("/dev/kvx-unit6, No free space, availDiskBlocks = "), std::string::npos);
    EXPECT_NE(text.find("proc, Cannot get disk space, availDiskBlocks = 0, try \"df -ahPT\""), std::string::npos);
    EXPECT_EQ(countOf(text, "Disk Error (" + dir.path() + ":) in Cycle: Disk error 12"), 1u);
}

// A full ext2 file system: the write or the open fails, the unit's files are
// deleted and the numbering goes on.
TEST_F(DiskRun, FullDiskOnExt2)
{
    Ext2Mount m(dir.file("mnt"));
    if (!m.skip.empty())
        GTEST_SKIP() << m.skip;
    ASSERT_FALSE(m.device.empty()) << "cannot make and loop-mount an ext2 image";
    CTest_Disk::SetMountTable("/etc/mtab");
    useUnit(1, m.dir, 3, 0, true, m.device.c_str());
    testconfig.disk_file_size_pct[1] = 1.0;
    CTest_Disk disk(TestContext(), 1, 7);
    ASSERT_TRUE(disk.StartUp());
    EXPECT_EQ(disk.fileBlocks(), 32u) << "20 KiB files become 32 KiB";
    disk.RunCycle();
    EXPECT_EQ(fs::file_size(disk.FileName(1)), 31 * 1024u);

    const std::string filler = m.dir + "/filler";
    {
        std::ofstream f(filler, std::ios::binary);
        const std::string chunk(1024, 'x');
        for (int i = 0; i < 4096 && f.write(chunk.data(), 1024).flush(); ++i) { }
    }
    disk.RunCycle(); // file 2 hits the full disk
    EXPECT_EQ(std::pair(resultfile.results[7].errors, resultfile.results[7].last_error), std::pair(1u, 123u));
    EXPECT_EQ(disk.firstFileNumber(), 3);
    fs::remove(filler);
    disk.RunCycle();
    EXPECT_EQ(testFiles(m.dir), (std::vector<std::string> { "~kvxtest00003.txt" }));

    std::vector<std::string> inodes;
    for (int fd;
         inodes.size() < 64 && (fd = ::creat((m.dir + "/i" + std::to_string(inodes.size())).c_str(), 0644)) >= 0;)
        ::close(fd), inodes.push_back(m.dir + "/i" + std::to_string(inodes.size()));
    ASSERT_EQ(errno, ENOSPC);
    disk.RunCycle(); // no inode left for file 4
    EXPECT_EQ(std::pair(resultfile.results[7].errors, resultfile.results[7].last_error), std::pair(2u, 101u));
    EXPECT_TRUE(testFiles(m.dir).empty());
    for (const auto& i : inodes)
        fs::remove(i);
    disk.RunCycle();
    EXPECT_EQ(testFiles(m.dir), (std::vector<std::string> { "~kvxtest00005.txt" }));
    disk.ShutDown();
    EXPECT_TRUE(testFiles(m.dir).empty());
    EXPECT_NE(trace().find("Failed to fwrite(" + disk.FileName(2) + "), strerror(28)"), std::string::npos);
}

TEST_F(DiskRun, Ext2UnderMediaIsADiskCandidate)
{
    Ext2Mount m("/media");
    if (!m.skip.empty())
        GTEST_SKIP() << m.skip;
    ASSERT_FALSE(m.device.empty()) << "cannot make and loop-mount an ext2 image under /media";
    WriteFile(dir.file("fstab"), "");
    FileSystemStruct list[kMaxMountEntries] {};
    const int n = BuildFileSystemStruct(list, dir.file("fstab").c_str(), "/etc/mtab");
    int found = -1;
    for (int i = 0; i < n; ++i)
        if (m.dir == list[i].mount_point)
            found = i;
    ASSERT_GE(found, 0);
    EXPECT_EQ(std::string(list[found].alias), "Media (" + m.dir + ") [" + m.device + "]");
    EXPECT_TRUE(list[found].mounted);
    EXPECT_EQ(list[found].vfs.f_bsize, 1024u);
    EXPECT_EQ(std::string(testconfig.disk_path[found]), m.dir);
}

} // namespace
