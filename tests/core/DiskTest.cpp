// The disk test on real files, tmpfs and a loop-mounted ext2 image (root).
#include "CTest_Disk.h"
#include "EngineFixture.h"
#include "PrivateMountTable.h"
#include "ProcessRun.h"
#include "SystemInfo.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> testFiles(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("~kvxtest", 0) == 0)
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// tmpfs of `tmpfsSize`, or else a 2 MiB ext2 image on a loop device; `device` empty on failure.
struct Mount {
    std::string dir, device;
    TempDir work;
    explicit Mount(const std::string& parent, const char* tmpfsSize = nullptr)
    {
        const std::string img = work.file("fs.img");
        std::string at = parent + "/kvxdisk.XXXXXX";
        fs::create_directories(parent);
        if (!::mkdtemp(at.data()))
            return;
        dir = at;
        const std::string how = tmpfsSize ? std::string("mount -t tmpfs -o size=") + tmpfsSize + " tmpfs "
                                          : "truncate -s 2M " + img + " && mkfs.ext2 -q -F -b 1024 -m 0 -N 16 " + img
                + " >/dev/null 2>&1 && mount -o loop " + img + " ";
        if (std::system((how + dir).c_str()) != 0)
            return;
        std::ifstream mounts("/proc/self/mounts");
        for (std::string dev, on, rest; mounts >> dev >> on && std::getline(mounts, rest);)
            if (on == dir)
                device = dev;
    }
    ~Mount()
    {
        if (!device.empty())
            std::system(("umount " + dir).c_str()); // also frees the loop device
        if (!dir.empty())
            ::rmdir(dir.c_str());
    }
};

class DiskRun : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        testconfig.duty_cycle[kSlotDiskGroup] = 100;
        WriteFile(mtab, "");
        settings.startWaitMs = settings.errorPauseMs = 0;
        useMountTable(mtab);
    }
    void useMountTable(const std::string& path)
    {
        settings.mountTable = path;
        process.ctx.setSettings(settings);
    }
    DiskLive& live(int u) { return process.run.live<DiskLive>(kSlotDiskFirst + u); }
    static _resultinfo& result(int u) { return resultfile.results[kSlotDiskFirst + u]; }
    std::unique_ptr<CTest_Disk> engine(int u)
    {
        return std::make_unique<CTest_Disk>(process.ctx, u, kSlotDiskFirst + u);
    }

    // Unit `u` tests `where` in `mode` with files of N - 1 blocks.
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
        process.run.setSlotActive(kSlotDiskFirst + u, true);
    }

    std::string mtab = dir.file("mtab");
    ProcessRun process;
    DiskSettings settings;
};

TEST(DiskSizing, FileSizeClampsReserveAndNames)
{
    // Total, percent, block size, N: files of 32 KiB to 2 GiB, or none.
    const std::tuple<std::uint64_t, double, std::uint64_t, std::uint64_t> sizes[] = { { 1000000, 1.0, 4096, 10000 },
        { 199, 100.0, 4096, 100 }, { 2000, 1.0, 1024, 32 }, { 63 * 100, 1.0, 512, 64 }, { 64 * 100, 1.0, 512, 64 },
        { 524288 * 100, 1.0, 4096, 524288 }, { 100000000, 1.0, 4096, 524288 }, { 1ull << 62, 100.0, 512, 4194304 },
        { 99, 1.0, 4096, 0 }, { 1000000, 0.0, 4096, 0 }, { 1000000, -3.0, 4096, 0 }, { 1000000, 0.0 / 0.0, 4096, 0 } };
    for (auto [total, pct, bs, N] : sizes)
        EXPECT_EQ(CTest_Disk::DiskFileBlocks(total, pct, bs), N) << total << " x " << pct << "%";
    EXPECT_EQ(std::tuple(CTest_Disk::DiskReservePercent(1.0), CTest_Disk::DiskReservePercent(6.0),
                  CTest_Disk::DiskReservePercent(20.0)),
        std::tuple(6.0, 6.5, 20.5));
    EXPECT_TRUE(CTest_Disk::ReserveReached(60000, 1000000, 6.0));
    EXPECT_FALSE(CTest_Disk::ReserveReached(60001, 1000000, 6.0));
    EXPECT_EQ(CTest_Disk::NextCyclicPattern(9), 1);
    EXPECT_EQ(CTest_Disk::FileName(3, "/media/usb", 123456), "/media/usb/~kvxtest123456.txt");
}

// Patterns 1..8, one file each; the random rewrites put back what was there.
TEST_F(DiskRun, CyclicModeFilesHoldEveryPattern)
{
    useUnit(2, dir.path(), 0);
    result(2).cycles = 300; // pattern 1 starts at 300 mod 256
    auto disk = engine(2);
    ASSERT_TRUE(disk->StartUp());
    const std::size_t bs = disk->blockSize();
    ASSERT_EQ(disk->fileBlocks(), 20u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(live(2).BufferPattern.load(), i % 8 + 1);
        disk->RunCycle();
    }
    const std::string text = trace();
    EXPECT_EQ(std::tuple(result(2).cycles, result(2).errors, result(2).op_count), std::tuple(309u, 0u, 19 * 19ull))
        << "pattern 2 writes twice\n"
        << text;
    EXPECT_EQ(std::pair(live(2).opcount_write.load(), live(2).opcount_read.load()), std::pair(10 * 19ul, 9 * 19ul));
    ASSERT_EQ(testFiles(dir.path()).size(), 9u);
    const std::uint64_t w = live(2).opcount_seekwrite, r = live(2).opcount_seekread;
    EXPECT_TRUE(w > 10 && r > 10 && w + r == 100) << w << " + " << r;

    const std::string& header = CTest_Disk::HeaderText();
    const std::size_t hdr = header.size() + 1;
    const int fixed[] = { 0, 0, 0xAA, 0x55, 0x00, 0xFF }, lowFreq[] = { 0x08, 0x42, 0x10, 0x84, 0x21 };
    for (int p = 1; p <= 8; ++p) {
        const std::string data = ReadFile(disk->FileName(p));
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
    EXPECT_NE(ReadFile(disk->FileName(7)).substr(bs, bs), ReadFile(disk->FileName(8)).substr(bs, bs));
}

TEST_F(DiskRun, CorruptedOrShortFilesFail)
{
    useUnit(4, dir.path(), 3);
    auto disk = engine(4);
    ASSERT_TRUE(disk->StartUp());
    const std::string name = disk->FileName(1);
    const std::uint64_t N = disk->fileBlocks(), bs = disk->blockSize(), hdr = CTest_Disk::HeaderText().size() + 1;
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
        ASSERT_EQ(disk->test_harddisk_writefile(name.c_str(), N, CTest_Disk::kModeCurrent), 0);
        flip(c.off);
        const std::uint64_t before = live(4).opcount_read;
        EXPECT_EQ(disk->test_harddisk_verifyfile(name.c_str(), 1, 1, N), c.code) << c.off;
        EXPECT_EQ(disk->pendingError(), c.code);
        // The verify ends at the bad block.
        EXPECT_EQ(live(4).opcount_read - before, c.code ? c.off / bs + 1 : N - 1);
        disk->RunCycle(); // reports the pending error at the cycle's end
    }
    const std::string text = trace();
    const std::string b2 = "Block # (starts from zero) = 2, Offset = " + std::to_string(2 * bs + 100);
    EXPECT_EQ(count(text, "filenum = 1, iStartFilenum = 1, filesizeBlocks+1 = 21, " + b2), 1) << text;
    EXPECT_EQ(count(text, "File: " + name + ", ReadBuff[2][100]: 85, ExpectedValue[2][100]: 170"), 1);
    EXPECT_EQ(std::tuple(result(4).errors, result(4).last_error, resultfile.classes[kSlotDiskFirst + 4].critical),
        std::tuple(3u, 17u, 3u));
    EXPECT_TRUE(std::string(gLogger->GetLine(-1, nullptr, nullptr))
                    .ends_with(std::string(", Disk, /dev/kvx-unit4: ") + e_strings[kDiskErrorCompare] + "\n"));

    ASSERT_EQ(::truncate(name.c_str(), static_cast<off_t>(5 * bs)), 0);
    EXPECT_EQ(disk->test_harddisk_verifyfile(name.c_str(), 1, 1, N), 16);
    EXPECT_NE(trace().find(", EOF reached"), std::string::npos);

    // A re-verify logs every differing byte.
    live(4).BufferPattern = 7;
    disk->FillBlocksWithNewRandomData();
    ASSERT_EQ(disk->test_harddisk_writefile(name.c_str(), N, CTest_Disk::kModeCurrent), 0);
    flip(3 * bs + 5), flip(3 * bs + 6);
    EXPECT_EQ(disk->test_harddisk_verifyblock(name.c_str(), 1, 1, N, 3), 17);
    EXPECT_EQ(count(trace(), "[Using Random Block 3] ExpectedValue[3]["), 2);
    EXPECT_EQ(disk->test_harddisk_verifyblock(name.c_str(), 1, 1, N, 2), 0);
    disk->ShutDown(); // a stop still reports the cycle's pending error
    EXPECT_EQ(std::pair(result(4).errors, result(4).last_error), std::pair(4u, 17u));
}

TEST_F(DiskRun, PlantedLinksAreNotFollowed)
{
    TempDir elsewhere;
    const std::string victim = elsewhere.file("passwd");
    WriteFile(victim, "root:x:0:0\n");
    useUnit(5, dir.path(), 2);
    auto disk = engine(5);
    ASSERT_TRUE(disk->StartUp());
    ASSERT_EQ(::symlink(victim.c_str(), disk->FileName(1).c_str()), 0);
    ASSERT_EQ(::mkfifo(disk->FileName(2).c_str(), 0666), 0);
    disk->RunCycle();
    disk->RunCycle();
    EXPECT_EQ(ReadFile(victim), "root:x:0:0\n");
    EXPECT_EQ(std::pair(result(5).errors, result(5).last_error), std::pair(2u, 13u));
    EXPECT_NE(trace().find("Failed to fopen(" + disk->FileName(1) + ", wb), strerror(40)"), std::string::npos);

    // Reading and rewriting through a link to an identical file fail too.
    disk->RunCycle();
    const std::string real = disk->FileName(3), copy = elsewhere.file("copy");
    fs::copy_file(real, copy);
    fs::remove(real);
    ASSERT_EQ(::symlink(copy.c_str(), real.c_str()), 0);
    EXPECT_EQ(disk->test_harddisk_verifyfile(real.c_str(), 3, 1, disk->fileBlocks()), 15);
    EXPECT_EQ(disk->test_harddisk_writeblock(real.c_str(), 1), 13);

    // The high-low overwrite needs the first pass's file.
    fs::remove(real);
    EXPECT_EQ(disk->test_harddisk_writefile(real.c_str(), disk->fileBlocks(), CTest_Disk::kModeCurrent), 13);
    EXPECT_NE(trace().find("File (*" + real + "*) does not exist for DT_HIGHLOW"), std::string::npos);

    disk->ShutDown(); // removes the links, not what they point to
    EXPECT_TRUE(testFiles(dir.path()).empty());
    EXPECT_EQ(std::pair(ReadFile(victim), FileExists(copy)), std::pair(std::string("root:x:0:0\n"), true));
}

// A file system no longer found is an error, not a full disk: files stay.
TEST_F(DiskRun, StartAndLookupFailures)
{
    useUnit(6, dir.path(), 1);
    testconfig.disk_file_size_pct[6] = 94.0; // reserve 94.5 %: far more than is free
    WriteFile(mtab, ReadFile(mtab) + "proc /proc proc rw 0 0\n");
    useUnit(9, "/proc", 1, 20, false, "proc"); // no blocks at all
    fs::create_directory(dir.file("nowhere"));
    useUnit(7, dir.file("nowhere"), 1, 20, false);
    for (auto [u, code] : { std::pair(6, 12u), std::pair(9, 208u), std::pair(7, 200u) }) {
        EXPECT_FALSE(engine(u)->StartUp());
        EXPECT_EQ(result(u).last_error, code);
    }
    std::string text = trace();
    EXPECT_NE(text.find("/dev/kvx-unit6, No free space, availDiskBlocks = "), std::string::npos);
    EXPECT_NE(text.find("proc, Cannot get disk space, availDiskBlocks = 0, try \"df -ahPT\""), std::string::npos);
    EXPECT_NE(text.find(", Disk: Unit 7, *" + dir.file("nowhere") + "* not detected"), std::string::npos);
    EXPECT_EQ(count(text, "Disk Error (" + dir.path() + ":) in Cycle: " + e_strings[12]), 1);

    useUnit(2, dir.path(), 6);
    auto disk = engine(2);
    ASSERT_TRUE(disk->StartUp());
    disk->RunCycle();
    const std::uint64_t total = live(2).userbytes_harddisk;
    ASSERT_GT(total, 0u);
    WriteFile(mtab, ""); // unmounted meanwhile
    ::testing::internal::CaptureStderr();
    disk->RunCycle();
    disk->RunCycle();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(testFiles(dir.path()).size(), 3u);
    EXPECT_EQ(std::tuple(result(2).errors, result(2).last_error, live(2).userbytes_harddisk.load()),
        std::tuple(2u, 200u, total))
        << "reported each cycle; the last reading stays";
    EXPECT_EQ(count(err, "GetFileSystemAvailDiskSize: "), 2);
    EXPECT_EQ(count(trace(), ", Disk: Unit 2, *" + dir.path() + "* not detected"), 2);
    fs::remove(disk->FileName(2)); // deletion goes on past a missing file
    disk->ShutDown();
    EXPECT_TRUE(testFiles(dir.path()).empty());
}

// Space is measured where the files go (unit 0: the working directory), by mount point.
TEST_F(DiskRun, SpaceIsMeasuredWhereTheFilesGo)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount tmpfs";
    ASSERT_EQ(UsePrivateMountTable(), "");
    Mount big(dir.path(), "4m"), small(dir.path(), "1m"), work(dir.path(), "1m");
    ASSERT_FALSE(big.device.empty() || small.device.empty() || work.device.empty());
    useMountTable("/etc/mtab");
    const fs::path old = fs::current_path();
    fs::current_path(work.dir);
    useUnit(0, big.dir, 6, 0, true, "tmpfs"); // but writes in the working directory
    useUnit(1, small.dir, 6, 0, true, "tmpfs");
    for (auto [u, where] : { std::pair(0, work.dir), std::pair(1, small.dir) }) {
        SCOPED_TRACE(where);
        testconfig.disk_file_size_pct[u] = 1.0;
        struct statvfs v { };
        ASSERT_EQ(::statvfs(where.c_str(), &v), 0);
        auto disk = engine(u);
        ASSERT_TRUE(disk->StartUp());
        EXPECT_EQ(std::tuple(live(u).userbytes_harddisk.load(), disk->fileBlocks()),
            std::tuple(std::uint64_t { v.f_blocks }, std::uint64_t { 8 }));
        for (int i = 0; i < 100 && disk->firstFileNumber() == 1; ++i)
            disk->RunCycle();
        EXPECT_GT(disk->firstFileNumber(), 30) << "files deleted at the reserve";
        EXPECT_EQ(std::tuple(live(u).userbytes_harddisk.load(), result(u).errors),
            std::tuple(std::uint64_t { v.f_blocks }, 0u));
        disk->ShutDown();
        EXPECT_TRUE(testFiles(where).empty());
    }
    fs::current_path(old);
}

TEST_F(DiskRun, FullDiskOnExt2)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to loop-mount an ext2 image";
    Mount m(dir.file("mnt"));
    ASSERT_FALSE(m.device.empty()) << "cannot make and loop-mount an ext2 image";
    useMountTable("/etc/mtab");
    useUnit(1, m.dir, 3, 0, true, m.device.c_str());
    testconfig.disk_file_size_pct[1] = 1.0;
    auto disk = engine(1);
    ASSERT_TRUE(disk->StartUp());
    EXPECT_EQ(disk->fileBlocks(), 32u) << "20 KiB files become 32 KiB";
    disk->RunCycle();
    EXPECT_EQ(fs::file_size(disk->FileName(1)), 31 * 1024u);

    const std::string filler = m.dir + "/filler";
    {
        std::ofstream f(filler, std::ios::binary);
        const std::string chunk(1024, 'x');
        for (int i = 0; i < 4096 && f.write(chunk.data(), 1024).flush(); ++i) { }
    }
    disk->RunCycle(); // file 2 hits the full disk
    EXPECT_EQ(std::tuple(result(1).errors, result(1).last_error, disk->firstFileNumber()), std::tuple(1u, 123u, 3));
    fs::remove(filler);
    disk->RunCycle();
    EXPECT_EQ(testFiles(m.dir), (std::vector<std::string> { "~kvxtest00003.txt" }));
    disk->ShutDown();
    EXPECT_EQ(
        std::pair(testFiles(m.dir).size(), count(trace(), "Failed to fwrite(" + disk->FileName(2) + "), strerror(28)")),
        std::pair(0ul, 1));
}

} // namespace
