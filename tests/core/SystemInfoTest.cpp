#include "TraceCapture.h"
#include "SystemInfo.h"
#include "ScopedEnv.h"
#include "Startup.h"
#include "StartupReport.h"
#include "TempDir.h"
#include "TestSlots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <tuple>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

utsname realUname()
{
    utsname u {};
    EXPECT_EQ(::uname(&u), 0);
    return u;
}

std::string dataPath(const std::string& rel)
{
    return std::string(KVX_SOURCE_DIR) + "/tests/data/" + rel;
}

// "@TMP@" in mount tables and expectations stands for the test's own directory.
std::string expand(std::string text, const TempDir& dir)
{
    for (std::size_t at; (at = text.find("@TMP@")) != std::string::npos;)
        text.replace(at, 5, dir.path());
    return text;
}

// Trace text with "func[#]: " for line numbers and @TMP@ for the directory.
std::string normalised(const std::string& text, const TempDir& dir)
{
    std::string out = std::regex_replace(text, std::regex("\\[[0-9]+\\]: "), "[#]: ");
    for (std::size_t at; (at = out.find(dir.path())) != std::string::npos;)
        out.replace(at, dir.path().size(), "@TMP@");
    return out;
}

// statvfs of path, or all zero when that fails, as the lists record it.
struct statvfs measured(const std::string& path)
{
    struct statvfs v { };
    if (::statvfs(path.c_str(), &v) != 0)
        std::memset(&v, 0, sizeof v);
    return v;
}

// ---------------------------------------------------------------- processors

// As tests/data/cpuinfo/summaries.txt spells it.
std::string summary(const _CPUINFO& i)
{
    char buf[400];
    std::snprintf(buf, sizeof buf, "%d|%s|%s|%.3f %s|%.3f %s|%d %d|%d%d%d%d%d|%d %d", i.cpu_count, i.vendor_id,
        i.model_name, static_cast<double>(i.cpu0_mhz), i.cpu0_speed_text, static_cast<double>(i.cpu1_mhz),
        i.cpu1_speed_text, i.cache_size_kb, i.l3_cache_kb, i.has_mmx, i.has_sse, i.has_sse2, i.has_sse3, i.has_3dnow,
        i.logical_cpu_count, i.serial_present);
    return buf;
}

std::unique_ptr<_CPUINFO> readCpu(const char* path, int rc = 0)
{
    auto info = std::make_unique<_CPUINFO>();
    std::memset(info.get(), 0, sizeof *info);
    EXPECT_EQ(BuildCPUInfoStruct(info.get(), path), rc);
    EXPECT_EQ(info->ht_status, 4);
    return info;
}

// Each capture under tests/data/cpuinfo against its line in summaries.txt.
TEST(CpuInfo, CapturesAndLineRules)
{
    const auto remake = [](const std::string& line) {
        const std::string name = line.substr(0, line.find(": "));
        return name + ": " + summary(*readCpu(dataPath("cpuinfo/" + name).c_str()));
    };
    EXPECT_EQ(RemadeLines(dataPath("cpuinfo/summaries.txt"), remake), ReadFile(dataPath("cpuinfo/summaries.txt")));
}

// ---------------------------------------------------------------- X server

// Each lookup of tests/data/xorg/lookups.txt made again.
TEST(KeyLookup, KeysAreFoundInSequenceAndTheLineRestIsReturned)
{
    TempDir dir;
    WriteFile(dir.file("tail.conf"), "Section \"Device\"\n\tIdentifier \t \"Card0\"");
    const auto remake = [&](std::string line) {
        std::vector<std::string> f { "" };
        for (char c : line) {
            if (c == '\t')
                f.emplace_back();
            else
                f.back() += c;
        }
        const std::string file = f[1].starts_with("@TMP@") ? expand(f[1], dir) : dataPath(f[1]);
        std::vector<const char*> k;
        for (std::size_t i = 2; i + 1 < f.size(); ++i)
            k.push_back(f[i].c_str());
        const std::string fmt = std::string("%s%s%s").substr(0, 2 * k.size());
        k.resize(3, "");
        line.resize(line.rfind('\t') + 1);
        line += f[0] == "xdpyinfo"
            ? Get_xdpyinfo_ByStringVaArgsFrom([&] { return ReadFile(file); }, fmt.c_str(), k[0], k[1], k[2])
            : Get_xorg_conf_ByStringVaArgsIn(file.c_str(), fmt.c_str(), k[0], k[1], k[2]);
        return line;
    };
    EXPECT_EQ(RemadeLines(dataPath("xorg/lookups.txt"), remake), ReadFile(dataPath("xorg/lookups.txt")));
}

// Output longer than one read, noise on stderr; a planted "display_temp.txt" link must survive.
TEST(XdpyinfoLookup, RunsThroughAPipeAndLeavesTheWorkingDirectoryAlone)
{
    TempDir bin;
    TempDir work;
    const std::string capture = dataPath("xdpyinfo/xvfb-1024x768x16.txt");
    const std::string tool = bin.file("xdpyinfo");
    WriteFile(tool, "#!/bin/sh\ncat '" + capture + "'\necho 'xdpyinfo:  unable to open display' >&2\n");
    ASSERT_EQ(::chmod(tool.c_str(), 0755), 0);
    const std::string victim = work.file("victim");
    WriteFile(victim, "keep me\n");
    ASSERT_EQ(::symlink(victim.c_str(), work.file("display_temp.txt").c_str()), 0);

    const std::string path = bin.path() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    ScopedEnv pathGuard("PATH", path.c_str());
    const fs::path cwd = fs::current_path();
    fs::current_path(work.path());
    const std::string dims = Get_xdpyinfo_ByStringVaArgs("%s%s", "screen #0:", "dimensions:");
    const std::string whole = RunXdpyinfo();
    fs::current_path(cwd);

    EXPECT_EQ(dims, "1024x768 pixels (260x195 millimeters)");
    EXPECT_EQ(whole, ReadFile(capture));
    EXPECT_EQ(ReadFile(victim), "keep me\n");
    EXPECT_TRUE(fs::is_symlink(work.file("display_temp.txt")));
    EXPECT_EQ(std::distance(fs::directory_iterator(work.path()), fs::directory_iterator()), 2);
}

// ---------------------------------------------------------------- classifiers

// Each line of tests/data/mounts/classify.txt made again from its mount line.
TEST(MountClassifier, DiskAndMediaRules)
{
    const auto remake = [](const std::string& line) {
        std::istringstream fields(line.substr(0, line.find(" => ")));
        std::string dev, dir, type, opts;
        fields >> dev >> dir >> type >> opts;
        const mntent m { dev.data(), dir.data(), type.data(), opts.data(), 0, 0 };
        const auto kind = [&](int (*classify)(const char*, const mntent*, char*)) {
            char alias[256] = "untouched";
            const int rc = classify(dev.c_str(), &m, alias);
            return rc == -1 && std::string(alias) == "untouched" ? std::string("-") : rc == 0 ? alias : "WRONG";
        };
        return line.substr(0, line.find(" => ")) + " => " + kind(GetDeviceType) + " | " + kind(GetMediaDeviceType);
    };
    EXPECT_EQ(RemadeLines(dataPath("mounts/classify.txt"), remake), ReadFile(dataPath("mounts/classify.txt")));
}

// ---------------------------------------------------------------- mount lists

// Builders write the global configuration: each test restores it.
class MountTables : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetPaths();
        std::memset(disks.get(), 0xA5, sizeof(FileSystemStruct) * kMaxMountEntries);
        std::memset(media.get(), 0xA5, sizeof(MultimediaStruct) * kMaxMountEntries);
    }
    void TearDown() override
    {
        testconfig = *m_savedConfig;
        gNumMntPoints = m_savedMnt;
    }
    static void resetPaths()
    {
        for (auto& p : testconfig.disk_path)
            std::strcpy(p, "stale");
        for (auto& p : testconfig.cd_drive_name)
            std::strcpy(p, "stale");
    }
    std::string fixture(const std::string& name)
    {
        WriteFile(tmp(name), expand(ReadFile(dataPath("mounts/" + name)), dir));
        return tmp(name);
    }
    std::string tmp(const std::string& name) const { return dir.file(name); }

    // One line per entry (sizes as measured now), then what follows the last configured path.
    template <class Entry> std::string describe(const Entry* list, int count, char (*paths)[256])
    {
        std::string out;
        for (int i = 0; i < count; ++i) {
            struct statvfs v { };
            if (list[i].mounted)
                v = measured(list[i].mount_point);
            out += std::string(list[i].mount_point) + " | " + list[i].alias + (list[i].mounted ? " | mounted" : "")
                + (list[i].vfs.f_blocks == v.f_blocks && list[i].vfs.f_fsid == v.f_fsid ? "" : " | WRONG SIZES")
                + (std::strcmp(paths[i], list[i].mount_point) == 0 ? "" : std::string(" | path ") + paths[i]) + "\n";
            if constexpr (std::is_same_v<Entry, MultimediaStruct>) {
                if (list[i].fd != 0)
                    out += "fd set\n";
            }
        }
        return normalised(out + "then " + paths[count] + "\n", dir);
    }

    std::unique_ptr<_testconfig> m_savedConfig = std::make_unique<_testconfig>(testconfig);
    int m_savedMnt = gNumMntPoints;
    TempDir dir;
    TraceCapture trace;
    std::unique_ptr<FileSystemStruct[]> disks = std::make_unique<FileSystemStruct[]>(kMaxMountEntries);
    std::unique_ptr<MultimediaStruct[]> media = std::make_unique<MultimediaStruct[]>(kMaxMountEntries);
};

// fstab matched to mtab by mount point or device; stale, unmeasurable and udisks-labelled entries.
TEST_F(MountTables, ListsFromDistributionTables)
{
    if (fs::exists("/media/kvxuser"))
        GTEST_SKIP() << "/media/kvxuser exists here";
    for (const char* d : { "stick", "camera", "usbdisk", "dvd" })
        fs::create_directory(tmp(d));
    std::string lists;
    for (const std::string name : { "hardy-desktop", "suse10-subfs", "fc4-hal", "bookworm-laptop" }) {
        resetPaths();
        const std::string fstab = fixture(name + ".fstab");
        const std::string mtab = fixture(name + ".mtab");
        lists += "== " + name + " disks\n"
            + describe(
                disks.get(), BuildFileSystemStruct(disks.get(), fstab.c_str(), mtab.c_str()), testconfig.disk_path);
        EXPECT_STREQ(testconfig.cd_drive_name[0], "stale");
        lists += "== " + name + " drives\n"
            + describe(
                media.get(), BuildMultimediaStruct(media.get(), fstab.c_str(), mtab.c_str()), testconfig.cd_drive_name);
    }
    EXPECT_EQ(lists, ReadFile(dataPath("mounts/lists.txt")));
}

TEST_F(MountTables, TwentyEntriesAtMost)
{
    const std::string fstab = fixture("centos5-24bay.fstab");
    const std::string mtab = fixture("centos5-24bay.mtab");
    ASSERT_EQ(BuildFileSystemStruct(disks.get(), fstab.c_str(), mtab.c_str()), kMaxMountEntries);
    EXPECT_STREQ(disks[2].mount_point, "/export/disk01");
    EXPECT_STREQ(disks[19].mount_point, "/export/disk18");
    EXPECT_STREQ(testconfig.disk_path[19], "/export/disk18");

    // Also when only the mounted table lists them.
    std::string many;
    for (int i = 0; i < 25; ++i) {
        fs::create_directory(tmp(std::to_string(i)));
        many += "/dev/hd" + std::to_string(i) + " " + tmp(std::to_string(i)) + " ext3 rw 0 0\n";
    }
    WriteFile(tmp("many"), many);
    WriteFile(tmp("empty"), "");
    ASSERT_EQ(BuildFileSystemStruct(disks.get(), tmp("empty").c_str(), tmp("many").c_str()), kMaxMountEntries);
    EXPECT_EQ(std::string(disks[19].mount_point), tmp("19"));
    EXPECT_TRUE(disks[19].mounted);
}

TEST_F(MountTables, UnreadableTablesAreTracedAndSkipped)
{
    fs::create_directory(tmp("camera"));
    WriteFile(tmp("mtab"), "/dev/sdd1 " + tmp("camera") + " vfat rw 0 0\n");
    EXPECT_EQ(BuildFileSystemStruct(disks.get(), tmp("no-fstab").c_str(), tmp("mtab").c_str()), 1);
    EXPECT_EQ(BuildMultimediaStruct(media.get(), tmp("no-fstab").c_str(), tmp("no-mtab").c_str()), 0);
    const std::string text = "\n" + normalised(trace.text(), dir);
    for (const char* lines : { "\n=================== MULTIMEDIA_DEVICES_START ===================\n"
                               "\n=================== MULTIMEDIA_DEVICES_END ===================\n",
             "\nBuildFileSystemStruct[#]: setmntent(@TMP@/no-fstab) error 2, No such file or directory\n",
             "\nBuildMultimediaStruct[#]: setmntent(@TMP@/no-fstab) error 2, No such file or directory\n",
             "\nBuildMultimediaStruct[#]: setmntent(@TMP@/no-mtab) error 2, No such file or directory\n" })
        EXPECT_NE(text.find(lines), std::string::npos) << lines << text;
}

TEST_F(MountTables, DesktopDetailsTraceAndUpdate)
{
    for (const char* d : { "stick", "camera", "usbdisk", "dvd", "newdisk" })
        fs::create_directory(tmp(d));
    const std::string mtab = fixture("hardy-desktop.mtab");
    gNumMntPoints = BuildFileSystemStruct(disks.get(), fixture("hardy-desktop.fstab").c_str(), mtab.c_str());
    ASSERT_EQ(gNumMntPoints, 8);
    // Matched entries take everything from the mounted table.
    EXPECT_STREQ(disks[0].name, "/dev/sda1");
    EXPECT_STREQ(disks[0].opts, "rw,relatime,errors=remount-ro");
    EXPECT_EQ(disks[0].pass, 0);
    EXPECT_STREQ(disks[4].type, "iso9660");

    // A floppy mounted, a disk plugged in, the camera's mount point gone behind a stale line.
    ASSERT_GT(disks[6].vfs.f_blocks, 0u);
    fs::remove(tmp("camera"));
    WriteFile(tmp("mtab2"),
        ReadFile(mtab) + "/dev/fd0 /media/floppy0 vfat rw,nosuid,nodev 0 0\n/dev/sdg1 " + tmp("newdisk")
            + " vfat rw,nosuid,nodev,uhelper=hal 0 0\n");
    const std::string updated
        = describe(disks.get(), UpdateFileSystemStruct(disks.get(), tmp("mtab2").c_str()), testconfig.disk_path);
    EXPECT_EQ(updated, ReadFile(dataPath("mounts/hardy-desktop.updated")));
    // Nothing new the second time.
    gNumMntPoints = 9;
    EXPECT_EQ(UpdateFileSystemStruct(disks.get(), tmp("mtab2").c_str()), 9);

    EXPECT_EQ(normalised(trace.text(), dir), ReadFile(dataPath("mounts/hardy-desktop.trace")));
}

// ---------------------------------------------------------------- queries

TEST(MountQuery, FindsByMountPointOrDeviceAndMeasures)
{
    TempDir dir;
    const std::string vol = dir.file("vol");
    const std::string mtab = dir.file("mtab");
    fs::create_directory(vol);
    WriteFile(mtab,
        "rootfs / rootfs rw 0 0\n/dev/root / ext3 rw,relatime 0 0\n/dev/sdb1 " + vol + " ext3 rw,noatime 0 2\n"
            + "/dev/sdc1 " + dir.file("gone") + " vfat rw 0 0\n");
    // Path, table, result, and the entry as "name dir type opts pass" (left alone when not found).
    const std::tuple<std::string, std::string, int, std::string> cases[] = {
        { vol, mtab, 0, "/dev/sdb1 " + vol + " ext3 rw,noatime 2" },
        { "/dev/sdb1", mtab, 0, "/dev/sdb1 " + vol + " ext3 rw,noatime 2" },
        { "/", mtab, 0, "rootfs / rootfs rw 0" },
        { dir.file("gone"), mtab, ENOENT, "before    0" },
        { "/nowhere", mtab, -1, "before    0" },
        { vol, dir.file("no-mtab"), -1, "before    0" },
    };
    for (const auto& [path, table, rc, entry] : cases) {
        SCOPED_TRACE(path + " in " + table);
        FileSystemStruct fs {};
        std::strcpy(fs.name, "before");
        std::memset(&fs.vfs, 0xA5, sizeof fs.vfs);
        EXPECT_EQ(QueryMountedFileSystems(path.c_str(), &fs, table.c_str()), rc);
        EXPECT_EQ(
            std::string(fs.name) + " " + fs.mount_point + " " + fs.type + " " + fs.opts + " " + std::to_string(fs.pass),
            entry);
        std::uint64_t avail = 123;
        std::uint64_t total = 456;
        EXPECT_EQ(GetMountedFileSystemAvailDiskSize(path.c_str(), &avail, &total, table.c_str()), rc);
        // Only a hit is measured; both sizes are 0 otherwise.
        const struct statvfs now = measured(rc == 0 ? fs.mount_point : "");
        EXPECT_EQ(now.f_blocks > 0, rc == 0);
        EXPECT_EQ(total, now.f_blocks);
        // Other processes may write to the same file system meanwhile.
        EXPECT_NEAR(static_cast<double>(avail), static_cast<double>(now.f_bavail), now.f_blocks / 100.0 + 1024);
        if (rc == 0) {
            EXPECT_EQ(fs.vfs.f_blocks, now.f_blocks);
        } else if (rc > 0) {
            EXPECT_EQ(std::memcmp(&fs.vfs, &now, sizeof now), 0); // all zero
        }
    }
}

// ---------------------------------------------------------------- start-up report

// Golden report with numbers as "#" and shell commands recorded, then the numbers that matter.

TEST(StartupReport, MatchesTheGoldenReportAndShowsLimitsSystemAndSizes)
{
    rlimit core {};
    ASSERT_EQ(::getrlimit(RLIMIT_CORE, &core), 0);
    rlimit changed = core;
    changed.rlim_cur = std::min<rlim_t>(4096, core.rlim_max);
    ASSERT_EQ(::setrlimit(RLIMIT_CORE, &changed), 0);
    std::memset(&gSysInfo, 0, sizeof gSysInfo);
    TempDir dir;
    WriteFile(dir.file("issue"), "Fixture \\s \\r\n\n");
    TraceCapture trace;
    PrintStartUpDebugInfo([](const char* cmd) { DPrintf("<<ran %s>>\n", cmd); }, dir.file("issue").c_str());
    ::setrlimit(RLIMIT_CORE, &core);
    const std::string text = trace.text();

    const utsname u = realUname();
    std::string golden = ReadFile(KVX_SOURCE_DIR "/tests/data/startup-report.txt");
    golden.replace(golden.find("@ISSUE@"), 7, std::string(u.sysname) + " " + u.release);
    EXPECT_EQ(std::regex_replace(text, std::regex(" = -?[0-9]+\n"), " = #\n"), golden);

    struct sysinfo now { };
    ASSERT_EQ(::sysinfo(&now), 0);
    EXPECT_EQ(gSysInfo.totalram, now.totalram);
    const std::string coreMax = core.rlim_max == RLIM_INFINITY ? "-1" : std::to_string(core.rlim_max);
    for (const std::string& line :
        { "RLIMIT_CORE (core file): the_rlimit.rlim_cur = " + std::to_string(changed.rlim_cur),
            "RLIMIT_CORE (core file): the_rlimit.rlim_max = " + coreMax,
            "gSysInfo.totalram = " + std::to_string(now.totalram),
            "gSysInfo.mem_unit = " + std::to_string(now.mem_unit), "sizeof(long) = " + std::to_string(sizeof(long)),
            "sizeof(FILE) = " + std::to_string(sizeof(FILE)),
            "sizeof(gTestModules) = " + std::to_string(kNumSlots * sizeof(TestModuleRecord)),
            std::string("sizeof(testconfig) = 19680") })
        EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line;
}

TEST(TranslateEtcIssueTest, ExpandsEscapesLikeGetty)
{
    const utsname u = realUname();
    const std::string machine = u.machine, node = u.nodename, release = u.release, sys = u.sysname, version = u.version;
    const std::pair<std::string, std::string> cases[] = {
        { "Kernel \\r on an \\m\n\n\n", "Kernel " + release + " on an " + machine },
        { "\\s/\\n/\\v", sys + "/" + node + "/" + version },
        { "\\l \\d \\t \\U \\u \\b\n", "\\l \\d \\t \\U \\u \\b" },
        { "odd \\x and \\% here", "odd \\x and \\% here" },
        // The first backslash is copied; the second starts an escape.
        { "\\\\r", "\\" + release },
        { "ends in \\", "ends in \\" },
        { "inner\n\nlines\n", "inner\n\nlines" },
        { "\n\n", "" },
        { "line\r\n", "line\r" },
        // Only the first 1024 bytes are read: an escape cut there stays a
        // lone backslash, and expansions may make the text longer.
        { std::string(1100, 'x'), std::string(1024, 'x') },
        { std::string(1023, 'y') + "\\r", std::string(1023, 'y') + "\\" },
        { std::string(1022, 'z') + "\\r", std::string(1022, 'z') + release },
    };
    TempDir dir;
    for (const auto& [content, expected] : cases) {
        WriteFile(dir.file("issue"), content);
        EXPECT_EQ(TranslateEtcIssue(dir.file("issue").c_str()), expected) << "content: " << content;
    }
}

} // namespace
