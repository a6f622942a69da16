#include "ScopedEnv.h"
#include "SystemInfo.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string dataPath(const std::string& rel)
{
    return std::string(KVX_SOURCE_DIR) + "/tests/data/" + rel;
}

// Mount tables name real directories for statvfs: "@TMP@" stands for the
// test's own directory.
std::string instantiate(const TempDir& dir, const std::string& rel, const std::string& name)
{
    std::string text = ReadFile(dataPath(rel));
    for (std::size_t at; (at = text.find("@TMP@")) != std::string::npos;)
        text.replace(at, 5, dir.path());
    const std::string path = dir.file(name);
    WriteFile(path, text);
    return path;
}

// Points the debug trace at a file for the lifetime of the object.
class TraceCapture {
public:
    explicit TraceCapture(std::string path)
        : m_path(std::move(path))
        , m_previous(g_fh_debug)
    {
        m_file = std::fopen(m_path.c_str(), "w");
        if (m_file)
            std::setvbuf(m_file, nullptr, _IONBF, 0);
        g_fh_debug = m_file;
    }
    ~TraceCapture()
    {
        g_fh_debug = m_previous;
        if (m_file)
            std::fclose(m_file);
    }
    std::string text() const { return ReadFile(m_path); }

private:
    std::string m_path;
    FILE* m_previous;
    FILE* m_file = nullptr;
};


// True when a trace line reads "<func>[<line number>]: <message>".
bool hasTraceLine(const std::string& trace, const std::string& func, const std::string& message)
{
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(func + "[", 0) != 0)
            continue;
        std::size_t p = func.size() + 1;
        const std::size_t digits = p;
        while (p < line.size() && std::isdigit(static_cast<unsigned char>(line[p])))
            ++p;
        if (p > digits && line.compare(p, std::string::npos, "]: " + message) == 0)
            return true;
    }
    return false;
}

std::unique_ptr<_CPUINFO> zeroCpu()
{
    auto info = std::make_unique<_CPUINFO>();
    std::memset(info.get(), 0, sizeof *info);
    return info;
}

bool allZero(const void* p, std::size_t n)
{
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i)
        if (b[i])
            return false;
    return true;
}

// ---------------------------------------------------------------- processors

struct CpuCapture {
    const char* file;
    int count;
    const char* vendor;
    const char* model;
    float mhz0, mhz1;
    const char* text0;
    const char* text1;
    int cacheKb, l3Kb;
    int mmx, sse, sse2, sse3, now3d;
};

class CpuInfoCapture : public ::testing::TestWithParam<CpuCapture> { };

TEST_P(CpuInfoCapture, FieldsComeFromTheirLines)
{
    const CpuCapture& c = GetParam();
    auto info = zeroCpu();
    ASSERT_EQ(BuildCPUInfoStruct(info.get(), dataPath(c.file).c_str()), 0);

    EXPECT_EQ(info->cpu_count, c.count);
    EXPECT_STREQ(info->vendor_id, c.vendor);
    EXPECT_STREQ(info->model_name, c.model);
    EXPECT_FLOAT_EQ(info->cpu0_mhz, c.mhz0);
    EXPECT_FLOAT_EQ(info->cpu1_mhz, c.mhz1);
    EXPECT_STREQ(info->cpu0_speed_text, c.text0);
    EXPECT_STREQ(info->cpu1_speed_text, c.text1);
    EXPECT_EQ(info->cache_size_kb, c.cacheKb);
    EXPECT_EQ(info->l3_cache_kb, c.l3Kb);
    EXPECT_EQ(info->has_mmx, c.mmx);
    EXPECT_EQ(info->has_sse, c.sse);
    EXPECT_EQ(info->has_sse2, c.sse2);
    EXPECT_EQ(info->has_sse3, c.sse3);
    EXPECT_EQ(info->has_3dnow, c.now3d);
    EXPECT_EQ(info->ht_status, 4);
    // Fields this reader does not own stay as they were.
    EXPECT_EQ(info->logical_cpu_count, 0);
    EXPECT_EQ(info->serial_present, 0);
    EXPECT_TRUE(allZero(info->reserved_0C, sizeof info->reserved_0C));
    EXPECT_TRUE(allZero(info->reserved_8C, sizeof info->reserved_8C));
    EXPECT_TRUE(allZero(info->reserved_E8, sizeof info->reserved_E8));
}

INSTANTIATE_TEST_SUITE_P(Captures, CpuInfoCapture,
    ::testing::Values(
        // Four cores: processors 2 and 3 report other clocks, which must not
        // reach the two speed fields. ssse3 contains "sse3".
        CpuCapture { "cpuinfo/intel-core2quad-q6600.txt", 4, "GenuineIntel",
            "Intel(R) Core(TM)2 Quad CPU    Q6600  @ 2.40GHz", 2402.784f, 1602.145f, "2402.8 MHz", "1602.1 MHz", 4096,
            -1, 1, 1, 1, 1, 0 },
        // pni is SSE3 under another name, and Linux spells the AMD flag
        // "3dnow": neither matches the names looked for.
        CpuCapture { "cpuinfo/amd-athlon64x2-4400.txt", 2, "AuthenticAMD",
            "AMD Athlon(tm) 64 X2 Dual Core Processor 4400+", 1000.0f, 2200.0f, "1000.0 MHz", "2200.0 MHz", 1024, -1, 1,
            1, 1, 0, 0 },
        // No clock, cache or flags lines at all.
        CpuCapture { "cpuinfo/raspberrypi4-armv7.txt", 4, "", "ARMv7 Processor rev 3 (v7l)", 0.0f, 0.0f, "", "", 0, 0,
            0, 0, 0, 0, 0 }),
    [](const ::testing::TestParamInfo<CpuCapture>& p) {
        std::string n = fs::path(p.param.file).stem().string();
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

struct FlagCase {
    const char* flags;
    int mmx, sse, sse2, sse3, now3d;
};

TEST(CpuInfoFlags, EachNameIsAPlainSubstring)
{
    const FlagCase cases[] = {
        { "fpu vme de pse tsc msr mmx fxsr", 1, 0, 0, 0, 0 },
        { "fpu mmx fxsr sse", 1, 1, 0, 0, 0 },
        { "fpu fxsr sse2", 0, 1, 1, 0, 0 },
        { "fpu pni", 0, 0, 0, 0, 0 },
        { "fpu sse3", 0, 1, 0, 1, 0 },
        { "fpu sse4_1", 0, 1, 0, 0, 0 },
        { "fpu mmxext 3dnowext 3dnow", 1, 0, 0, 0, 0 },
        { "fpu mmx 3dnow! sse", 1, 1, 0, 0, 1 },
    };
    TempDir dir;
    for (const FlagCase& c : cases) {
        SCOPED_TRACE(c.flags);
        const std::string path = dir.file("cpuinfo");
        WriteFile(path, std::string("processor\t: 0\nflags\t\t: ") + c.flags + "\n\n");
        auto info = zeroCpu();
        ASSERT_EQ(BuildCPUInfoStruct(info.get(), path.c_str()), 0);
        EXPECT_EQ(info->has_mmx, c.mmx);
        EXPECT_EQ(info->has_sse, c.sse);
        EXPECT_EQ(info->has_sse2, c.sse2);
        EXPECT_EQ(info->has_sse3, c.sse3);
        EXPECT_EQ(info->has_3dnow, c.now3d);
    }
}

TEST(CpuInfoLines, ValuesIndexesAndCuts)
{
    struct Case {
        const char* name;
        std::string text;
        std::function<void(const _CPUINFO&)> check;
    };
    const std::string longModel = "Intel(R) Xeon(R) CPU with a brand string far longer than the record keeps";
    const Case cases[] = {
        { "model name is cut to its field", "processor\t: 0\nmodel name\t: " + longModel + "\n",
            [&](const _CPUINFO& i) { EXPECT_EQ(std::string(i.model_name), longModel.substr(0, 49)); } },
        { "values end at a double quote", "processor\t: 0\nmodel name\t: QEMU \"Virtual\" CPU\n",
            [](const _CPUINFO& i) { EXPECT_STREQ(i.model_name, "QEMU "); } },
        { "last line without newline", "processor\t: 0\nvendor_id\t: CentaurHauls",
            [](const _CPUINFO& i) { EXPECT_STREQ(i.vendor_id, "CentaurHauls"); } },
        { "speeds follow the processor index, not the order",
            "processor\t: 1\ncpu MHz\t\t: 800.049\nprocessor\t: 0\ncpu MHz\t\t: 1833.250\n",
            [](const _CPUINFO& i) {
                EXPECT_FLOAT_EQ(i.cpu0_mhz, 1833.25f);
                EXPECT_FLOAT_EQ(i.cpu1_mhz, 800.049f);
                EXPECT_STREQ(i.cpu0_speed_text, "1833.2 MHz");
                EXPECT_STREQ(i.cpu1_speed_text, "800.0 MHz");
                EXPECT_EQ(i.cpu_count, 2);
            } },
        { "a wide speed is cut to its field", "processor\t: 0\ncpu MHz\t\t: 123456789012.5\n",
            [](const _CPUINFO& i) {
                EXPECT_EQ(std::strlen(i.cpu0_speed_text), sizeof i.cpu0_speed_text - 1);
                EXPECT_EQ(i.cpu1_speed_text[0], '\0');
            } },
        { "cache size takes the leading number", "processor\t: 0\ncache size\t: 512 KB\n",
            [](const _CPUINFO& i) {
                EXPECT_EQ(i.cache_size_kb, 512);
                EXPECT_EQ(i.l3_cache_kb, -1);
            } },
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("cpuinfo");
        WriteFile(path, c.text);
        auto info = zeroCpu();
        ASSERT_EQ(BuildCPUInfoStruct(info.get(), path.c_str()), 0);
        c.check(*info);
        EXPECT_EQ(info->ht_status, 4);
    }
}

TEST(CpuInfoFile, CountAddsToWhatTheRecordHeld)
{
    auto info = zeroCpu();
    const std::string path = dataPath("cpuinfo/intel-core2quad-q6600.txt");
    ASSERT_EQ(BuildCPUInfoStruct(info.get(), path.c_str()), 0);
    ASSERT_EQ(BuildCPUInfoStruct(info.get(), path.c_str()), 0);
    EXPECT_EQ(info->cpu_count, 8);
}

TEST(CpuInfoFile, MissingFileReturnsErrnoAndStillSetsStatus)
{
    TempDir dir;
    auto info = zeroCpu();
    EXPECT_EQ(BuildCPUInfoStruct(info.get(), dir.file("cpuinfo").c_str()), ENOENT);
    EXPECT_EQ(info->ht_status, 4);
    EXPECT_EQ(info->cpu_count, 0);
}

TEST(CpuInfoFile, ThisMachineCountsItsOnlineProcessors)
{
    if (::access("/proc/cpuinfo", R_OK) != 0)
        GTEST_SKIP() << "no /proc/cpuinfo";
    auto info = zeroCpu();
    ASSERT_EQ(BuildCPUInfoStruct(info.get()), 0);
    EXPECT_EQ(info->cpu_count, ::sysconf(_SC_NPROCESSORS_ONLN));
}

// ---------------------------------------------------------------- X server

TEST(XorgLookup, KeysAreFoundInSequenceAndTheLineRestIsReturned)
{
    struct Case {
        const char* file;
        std::vector<std::string> keys;
        const char* expected;
    };
    const Case cases[] = {
        // The input sections come first and have identifiers of their own.
        { "xorg/dexconf-radeon9200.conf", { "Identifier" }, "\"Generic Keyboard\"" },
        { "xorg/dexconf-radeon9200.conf", { "Section \"Device\"", "Identifier" },
            "\"ATI Technologies Inc RV280 [Radeon 9200]\"" },
        { "xorg/dexconf-radeon9200.conf", { "Section \"Device\"", "Driver" }, "\"ati\"" },
        { "xorg/dexconf-radeon9200.conf", { "Section \"Device\"", "BoardName" }, "" },
        { "xorg/dexconf-radeon9200.conf", { "Section \"Screen\"", "SubSection \"Display\"", "Modes" },
            "\"1280x1024\" \"1024x768\" \"800x600\" \"640x480\"" },
        { "xorg/dexconf-radeon9200.conf", { "Section \"Device\"", "Section \"Files\"" }, "" },
        { "xorg/nvidia-xconfig.conf", { "Section \"Monitor\"", "HorizSync" }, "30.0 - 83.0" },
        { "xorg/nvidia-xconfig.conf", { "Section \"Device\"", "BoardName" }, "\"NVIDIA GeForce GTX 1060 6GB\"" },
        { "xorg/missing.conf", { "Section \"Device\"", "Identifier" }, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " / " + c.keys.back());
        const std::string path = dataPath(c.file);
        const char* got = nullptr;
        switch (c.keys.size()) {
        case 1:
            got = Get_xorg_conf_ByStringVaArgsIn(path.c_str(), "%s", c.keys[0].c_str());
            break;
        case 2:
            got = Get_xorg_conf_ByStringVaArgsIn(path.c_str(), "%s%s", c.keys[0].c_str(), c.keys[1].c_str());
            break;
        default:
            got = Get_xorg_conf_ByStringVaArgsIn(
                path.c_str(), "%s%s%s", c.keys[0].c_str(), c.keys[1].c_str(), c.keys[2].c_str());
            break;
        }
        ASSERT_NE(got, nullptr);
        EXPECT_STREQ(got, c.expected);
    }
}

TEST(XorgLookup, LastLineWithoutNewlineAndEmptyFile)
{
    TempDir dir;
    WriteFile(dir.file("tail.conf"), "Section \"Device\"\n\tIdentifier \t \"Card0\"");
    WriteFile(dir.file("empty.conf"), "");
    EXPECT_STREQ(
        Get_xorg_conf_ByStringVaArgsIn(dir.file("tail.conf").c_str(), "%s%s", "Section \"Device\"", "Identifier"),
        "\"Card0\"");
    EXPECT_STREQ(Get_xorg_conf_ByStringVaArgsIn(dir.file("empty.conf").c_str(), "%s", "Identifier"), "");
}

std::function<std::string()> capture(const char* rel)
{
    return [rel] { return ReadFile(dataPath(rel)); };
}

TEST(XdpyinfoLookup, ScreenValuesFromCaptures)
{
    const auto xvfb = capture("xdpyinfo/xvfb-1024x768x16.txt");
    EXPECT_STREQ(Get_xdpyinfo_ByStringVaArgsFrom(xvfb, "%s%s", "screen #0:", "dimensions:"),
        "1024x768 pixels (260x195 millimeters)");
    EXPECT_STREQ(Get_xdpyinfo_ByStringVaArgsFrom(xvfb, "%s%s", "screen #0:", "depth of root window:"), "16 planes");
    EXPECT_STREQ(Get_xdpyinfo_ByStringVaArgsFrom(xvfb, "%s", "vendor string:"), "The X.Org Foundation");
    EXPECT_STREQ(Get_xdpyinfo_ByStringVaArgsFrom(xvfb, "%s%s", "screen #1:", "dimensions:"), "");
    EXPECT_STREQ(Get_xdpyinfo_ByStringVaArgsFrom([] { return std::string(); }, "%s", "screen #0:"), "");
}

struct VideoCase {
    const char* name;
    const char* xorg;
    const char* xdpyinfo;
    const char* card;
    int width, height, depth;
};

TEST(VideoInfo, CardNameAndScreenMode)
{
    const VideoCase cases[] = {
        { "nvidia", "xorg/nvidia-xconfig.conf", "xdpyinfo/nvidia-1920x1080x24.txt",
            "\"Device0\" (\"NVIDIA GeForce GTX 1060 6GB\")", 1920, 1080, 24 },
        { "radeon without board name", "xorg/dexconf-radeon9200.conf", "xdpyinfo/xvfb-1024x768x16.txt",
            "\"ATI Technologies Inc RV280 [Radeon 9200]\"", 1024, 768, 16 },
        { "neither source", "xorg/missing.conf", nullptr, "", 0, 0, 0 },
    };
    for (const VideoCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto info = std::make_unique<_VIDEOINFOPM>();
        std::memset(info.get(), 0, sizeof *info);
        // Stale values from an earlier run must not survive.
        info->width = info->height = info->depth = 7;
        XdpyinfoSource source = [] { return std::string(); };
        if (c.xdpyinfo)
            source = capture(c.xdpyinfo);
        EXPECT_EQ(BuildVideoInfoStruct(info.get(), dataPath(c.xorg).c_str(), source), 0);
        EXPECT_STREQ(info->card_name, c.card);
        EXPECT_EQ(info->width, c.width);
        EXPECT_EQ(info->height, c.height);
        EXPECT_EQ(info->depth, c.depth);
        EXPECT_TRUE(allZero(info->reserved_0C, sizeof info->reserved_0C));
    }
}

// The real lookup runs xdpyinfo through a pipe. A stand-in xdpyinfo on PATH
// prints a capture (longer than any single read) and complains on stderr; a
// planted "display_temp.txt" link in the working directory must survive.
TEST(XdpyinfoLookup, RunsThroughAPipeAndLeavesTheWorkingDirectoryAlone)
{
    TempDir bin;
    TempDir work;
    const std::string tool = bin.file("xdpyinfo");
    WriteFile(tool,
        "#!/bin/sh\ncat '" + dataPath("xdpyinfo/xvfb-1024x768x16.txt")
            + "'\necho 'xdpyinfo:  unable to open display' >&2\n");
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
    EXPECT_EQ(whole, ReadFile(dataPath("xdpyinfo/xvfb-1024x768x16.txt")));
    EXPECT_EQ(ReadFile(victim), "keep me\n");
    EXPECT_TRUE(fs::is_symlink(work.file("display_temp.txt")));
    EXPECT_EQ(std::distance(fs::directory_iterator(work.path()), fs::directory_iterator()), 2);
}

// ---------------------------------------------------------------- kernel names

TEST(OsText, KernelNameAndReleaseCutToTheBuffer)
{
    utsname u {};
    ASSERT_EQ(::uname(&u), 0);
    const std::string full = std::string(u.sysname) + " (" + u.release + ")";
    for (std::size_t size : { std::size_t { 66 }, std::size_t { 8 }, std::size_t { 1 } }) {
        SCOPED_TRACE(size);
        char buf[80];
        std::memset(buf, '#', sizeof buf);
        FillOsText(buf, size);
        EXPECT_EQ(std::string(buf), full.substr(0, size - 1));
        EXPECT_EQ(buf[size], '#');
    }
}

// ---------------------------------------------------------------- classifiers

struct MountCase {
    const char* dev;
    const char* dir;
    const char* type;
    const char* opts;
    const char* diskAlias; // null: not a disk candidate
    const char* mediaAlias; // null: not a CD/DVD drive
};

TEST(MountClassifier, DiskAndMediaRules)
{
    const MountCase cases[] = {
        { "/dev/sda1", "/", "ext4", "rw,relatime", "Startup Disk [/dev/sda1]", nullptr },
        { "rootfs", "/", "rootfs", "rw", "Startup Disk [rootfs]", nullptr },
        { "/dev/sdb1", "/media/disk", "vfat", "rw,nosuid,nodev", "Media (/media/disk) [/dev/sdb1]", nullptr },
        { "/dev/sdb1", "/MEDIA/Disk", "ext4", "rw", "Media (/MEDIA/Disk) [/dev/sdb1]", nullptr },
        { "/dev/sdb1", "/mediafiles", "vfat", "rw", "Hard Disk (/mediafiles) [/dev/sdb1]", nullptr },
        { "/dev/hdc", "/media/cdrom", "iso9660", "ro", "Media (/media/cdrom) [/dev/hdc]",
            "CD/DVD (/media/cdrom) [/dev/hdc]" },
        { "/dev/sr0", "/media/cdrom0", "udf,iso9660", "user,noauto", "Media (/media/cdrom0) [/dev/sr0]",
            "CD/DVD (/media/cdrom0) [/dev/sr0]" },
        { "/dev/sr0", "/media/user/cdrom", "iso9660", "ro", "Media (/media/user/cdrom) [/dev/sr0]",
            "CD/DVD (/media/user/cdrom) [/dev/sr0]" },
        { "/dev/hdc", "/media/dvdrecorder", "subfs", "noauto,fs=cdfss,ro,procuid",
            "Media (/media/dvdrecorder) [/dev/hdc]", "CD/DVD (/media/dvdrecorder) [/dev/hdc]" },
        { "/dev/hdc", "/media/dvdrecorder", "auto", "noauto,fs=cdfss,ro", "Media (/media/dvdrecorder) [/dev/hdc]",
            nullptr },
        { "/dev/fd0", "/media/floppy", "subfs", "noauto,fs=floppyfss,procuid", "Media (/media/floppy) [/dev/fd0]",
            nullptr },
        { "/dev/hdc", "/media/cdrecorder", "auto", "pamconsole,fscontext=system_u:object_r:removable_t,exec",
            "Media (/media/cdrecorder) [/dev/hdc]", "CD/DVD (/media/cdrecorder) [/dev/hdc]" },
        // Under /media only the mount point's name decides, whatever the type.
        { "/dev/sr0", "/media/dvd", "iso9660", "ro", "Media (/media/dvd) [/dev/sr0]", nullptr },
        { "/dev/sr0", "/mnt/cdrom", "iso9660", "ro", "Media (/mnt/cdrom) [/dev/sr0]",
            "CD/DVD (/mnt/cdrom) [/dev/sr0]" },
        { "/dev/sdc", "/mnt/usbcd", "iso9660", "ro", nullptr, nullptr },
        { "/dev/sdb1", "/mnt/usb", "auto", "rw", nullptr, nullptr },
        { "/dev/hdd", "/mnt/zip", "auto", "rw,noauto", "Media (/mnt/zip) [/dev/hdd]", nullptr },
        { "/dev/hda1", "/boot", "ext2", "rw", "Hard Disk (/boot) [/dev/hda1]", nullptr },
        { "/dev/hda5", "/home", "ext3", "rw,relatime", "Hard Disk (/home) [/dev/hda5]", nullptr },
        { "/dev/sda1", "/boot/efi", "vfat", "umask=0077", "Hard Disk (/boot/efi) [/dev/sda1]", nullptr },
        { "/dev/sdb1", "/data", "ext4", "rw", nullptr, nullptr },
        { "/dev/sdc1", "/srv", "xfs", "rw", nullptr, nullptr },
        { "/dev/hda3", "/home", "reiserfs", "rw,acl", nullptr, nullptr },
        { "tmpfs", "/dev/shm", "tmpfs", "rw", nullptr, nullptr },
        { "proc", "/proc", "proc", "rw", nullptr, nullptr },
    };
    for (const MountCase& c : cases) {
        SCOPED_TRACE(std::string(c.dev) + " " + c.dir + " " + c.type);
        mntent m {};
        m.mnt_fsname = const_cast<char*>(c.dev);
        m.mnt_dir = const_cast<char*>(c.dir);
        m.mnt_type = const_cast<char*>(c.type);
        m.mnt_opts = const_cast<char*>(c.opts);

        char alias[256];
        std::strcpy(alias, "untouched");
        EXPECT_EQ(GetDeviceType(c.dev, &m, alias), c.diskAlias ? 0 : -1);
        EXPECT_STREQ(alias, c.diskAlias ? c.diskAlias : "untouched");

        std::strcpy(alias, "untouched");
        EXPECT_EQ(GetMediaDeviceType(c.dev, &m, alias), c.mediaAlias ? 0 : -1);
        EXPECT_STREQ(alias, c.mediaAlias ? c.mediaAlias : "untouched");
    }
}

// ---------------------------------------------------------------- mount lists

// Builders write the global configuration and device counts; each test gets
// them back as they were, and its trace in a file.
class MountTables : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(m_savedConfig.get(), &testconfig, sizeof testconfig);
        m_savedMnt = gNumMntPoints;
        m_savedMm = gNumMMDevices;
        for (auto& p : testconfig.disk_path)
            std::strcpy(p, "stale");
        for (auto& p : testconfig.cd_drive_name)
            std::strcpy(p, "stale");
        std::memset(disks.get(), 0xA5, sizeof(FileSystemStruct) * kMaxMountEntries);
        std::memset(media.get(), 0xA5, sizeof(MultimediaStruct) * kMaxMountEntries);
    }
    void TearDown() override
    {
        std::memcpy(&testconfig, m_savedConfig.get(), sizeof testconfig);
        gNumMntPoints = m_savedMnt;
        gNumMMDevices = m_savedMm;
    }

    std::string fixture(const std::string& rel) { return instantiate(dir, rel, fs::path(rel).filename().string()); }
    void makeDirs(std::initializer_list<const char*> names)
    {
        for (const char* n : names)
            fs::create_directory(dir.file(n));
    }
    std::string tmp(const std::string& name) const { return dir.file(name); }

    TempDir dir;
    TraceCapture trace { dir.file("debug.log") };
    std::unique_ptr<FileSystemStruct[]> disks = std::make_unique<FileSystemStruct[]>(kMaxMountEntries);
    std::unique_ptr<MultimediaStruct[]> media = std::make_unique<MultimediaStruct[]>(kMaxMountEntries);

private:
    std::unique_ptr<_testconfig> m_savedConfig = std::make_unique<_testconfig>();
    int m_savedMnt = 0;
    int m_savedMm = 0;
};

// statvfs of path, or all zero when that fails, as the lists record it.
struct statvfs measured(const std::string& path)
{
    struct statvfs v { };
    if (::statvfs(path.c_str(), &v) != 0)
        std::memset(&v, 0, sizeof v);
    return v;
}

template <class Entry>
void expectEntry(
    const Entry& e, const char* name, const std::string& dir, const char* type, const char* alias, bool mounted)
{
    SCOPED_TRACE(dir);
    EXPECT_STREQ(e.name, name);
    EXPECT_EQ(std::string(e.mount_point), dir);
    EXPECT_STREQ(e.type, type);
    EXPECT_STREQ(e.alias, alias);
    EXPECT_EQ(e.mounted, mounted);
    struct statvfs unmeasured { };
    const struct statvfs want = mounted ? measured(dir) : unmeasured;
    EXPECT_EQ(e.vfs.f_blocks, want.f_blocks);
    EXPECT_EQ(e.vfs.f_bsize, want.f_bsize);
    EXPECT_EQ(e.vfs.f_fsid, want.f_fsid);
}

TEST_F(MountTables, DesktopDisksMergeFstabWithMountedTable)
{
    makeDirs({ "stick", "camera", "usbdisk", "dvd" });
    const std::string fstab = fixture("mounts/hardy-desktop.fstab");
    const std::string mtab = fixture("mounts/hardy-desktop.mtab");

    ASSERT_EQ(BuildFileSystemStruct(disks.get(), fstab.c_str(), mtab.c_str()), 8);

    // Matched by mount point: device, options and alias now come from mtab.
    expectEntry(disks[0], "/dev/sda1", "/", "ext3", "Startup Disk [/dev/sda1]", true);
    EXPECT_STREQ(disks[0].opts, "rw,relatime,errors=remount-ro");
    EXPECT_EQ(disks[0].pass, 0);
    expectEntry(disks[1], "/dev/sda6", "/home", "ext3", "Hard Disk (/home) [/dev/sda6]", true);
    // A stale mtab line for a removed directory: mounted, nothing measured.
    expectEntry(disks[2], "/dev/sdb2", tmp("archive"), "ext3",
        ("Hard Disk (" + tmp("archive") + ") [/dev/sdb2]").c_str(), true);
    EXPECT_TRUE(allZero(&disks[2].vfs, sizeof disks[2].vfs));
    // Matched by device although mounted somewhere else.
    expectEntry(
        disks[3], "/dev/sdc1", tmp("stick"), "vfat", ("Hard Disk (" + tmp("stick") + ") [/dev/sdc1]").c_str(), true);
    expectEntry(disks[4], "/dev/scd0", "/media/cdrom0", "iso9660", "Media (/media/cdrom0) [/dev/scd0]", true);
    // Listed in fstab only.
    expectEntry(disks[5], "/dev/fd0", "/media/floppy0", "auto", "Media (/media/floppy0) [/dev/fd0]", false);
    EXPECT_STREQ(disks[5].opts, "rw,user,noauto,exec,utf8");
    EXPECT_TRUE(allZero(&disks[5].vfs, sizeof disks[5].vfs));
    // Mounted only: appended when measurable ("unplugged" is not, "usbdisk"
    // is auto on a /dev/sd device).
    expectEntry(
        disks[6], "/dev/sdd1", tmp("camera"), "vfat", ("Hard Disk (" + tmp("camera") + ") [/dev/sdd1]").c_str(), true);
    expectEntry(disks[7], "/dev/sr1", tmp("dvd"), "iso9660", ("Media (" + tmp("dvd") + ") [/dev/sr1]").c_str(), true);

    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(std::string(testconfig.disk_path[i]), std::string(disks[i].mount_point)) << i;
    EXPECT_STREQ(testconfig.disk_path[8], "stale");
    EXPECT_STREQ(testconfig.cd_drive_name[0], "stale");
}

TEST_F(MountTables, DesktopDrives)
{
    makeDirs({ "stick", "camera", "usbdisk", "dvd" });
    const std::string fstab = fixture("mounts/hardy-desktop.fstab");
    const std::string mtab = fixture("mounts/hardy-desktop.mtab");

    ASSERT_EQ(BuildMultimediaStruct(media.get(), fstab.c_str(), mtab.c_str()), 2);
    expectEntry(media[0], "/dev/scd0", "/media/cdrom0", "iso9660", "CD/DVD (/media/cdrom0) [/dev/scd0]", true);
    expectEntry(media[1], "/dev/sr1", tmp("dvd"), "iso9660", ("CD/DVD (" + tmp("dvd") + ") [/dev/sr1]").c_str(), true);
    EXPECT_EQ(media[0].fd, 0);
    EXPECT_EQ(media[1].fd, 0);
    EXPECT_STREQ(testconfig.cd_drive_name[0], "/media/cdrom0");
    EXPECT_EQ(std::string(testconfig.cd_drive_name[1]), tmp("dvd"));
    EXPECT_STREQ(testconfig.cd_drive_name[2], "stale");
    EXPECT_STREQ(testconfig.disk_path[0], "stale");
}

struct ListedMount {
    const char* dir;
    const char* alias;
    bool mounted;
};

struct TablePair {
    const char* name;
    std::vector<ListedMount> disks;
    std::vector<ListedMount> drives;
};

TEST_F(MountTables, DistributionTables)
{
    const TablePair pairs[] = {
        { "suse10-subfs",
            { { "/", "Startup Disk [/dev/hda2]", true },
                { "/media/dvdrecorder", "Media (/media/dvdrecorder) [/dev/hdc]", true },
                { "/media/floppy", "Media (/media/floppy) [/dev/fd0]", true } },
            { { "/media/dvdrecorder", "CD/DVD (/media/dvdrecorder) [/dev/hdc]", true } } },
        { "fc4-hal",
            { { "/", "Startup Disk [/dev/mapper/VolGroup00-LogVol00]", true },
                { "/boot", "Hard Disk (/boot) [/dev/hda1]", true },
                { "/media/cdrecorder", "Media (/media/cdrecorder) [/dev/hdc]", true },
                { "/media/floppy", "Media (/media/floppy) [/dev/fd0]", false } },
            { { "/media/cdrecorder", "CD/DVD (/media/cdrecorder) [/dev/hdc]", true } } },
        // ext4 is no candidate; udisks mounts the disc under a label, which
        // moves the disk entry but is no CD/DVD drive name.
        { "bookworm-laptop",
            { { "/", "Startup Disk [/dev/nvme0n1p2]", true },
                { "/boot/efi", "Hard Disk (/boot/efi) [/dev/nvme0n1p1]", true },
                { "/media/kvxuser/Debian 12.5.0 amd64 n", "Media (/media/kvxuser/Debian 12.5.0 amd64 n) [/dev/sr0]",
                    true } },
            { { "/media/cdrom0", "CD/DVD (/media/cdrom0) [/dev/sr0]", false } } },
    };
    if (fs::exists("/media/kvxuser"))
        GTEST_SKIP() << "/media/kvxuser exists here";
    for (const TablePair& p : pairs) {
        SCOPED_TRACE(p.name);
        const std::string fstab = fixture(std::string("mounts/") + p.name + ".fstab");
        const std::string mtab = fixture(std::string("mounts/") + p.name + ".mtab");

        ASSERT_EQ(BuildFileSystemStruct(disks.get(), fstab.c_str(), mtab.c_str()), static_cast<int>(p.disks.size()));
        for (std::size_t i = 0; i < p.disks.size(); ++i) {
            EXPECT_STREQ(disks[i].mount_point, p.disks[i].dir);
            EXPECT_STREQ(disks[i].alias, p.disks[i].alias);
            EXPECT_EQ(disks[i].mounted, p.disks[i].mounted);
            EXPECT_STREQ(testconfig.disk_path[i], p.disks[i].dir);
        }
        ASSERT_EQ(BuildMultimediaStruct(media.get(), fstab.c_str(), mtab.c_str()), static_cast<int>(p.drives.size()));
        for (std::size_t i = 0; i < p.drives.size(); ++i) {
            EXPECT_STREQ(media[i].mount_point, p.drives[i].dir);
            EXPECT_STREQ(media[i].alias, p.drives[i].alias);
            EXPECT_EQ(media[i].mounted, p.drives[i].mounted);
            EXPECT_STREQ(testconfig.cd_drive_name[i], p.drives[i].dir);
        }
    }
}

TEST_F(MountTables, TwentyEntriesAtMostInFstabOrder)
{
    const std::string fstab = fixture("mounts/centos5-24bay.fstab");
    const std::string mtab = fixture("mounts/centos5-24bay.mtab");
    ASSERT_EQ(BuildFileSystemStruct(disks.get(), fstab.c_str(), mtab.c_str()), kMaxMountEntries);
    EXPECT_STREQ(disks[0].mount_point, "/");
    EXPECT_STREQ(disks[1].mount_point, "/boot");
    for (int i = 2; i < kMaxMountEntries; ++i) {
        char want[32];
        std::snprintf(want, sizeof want, "/export/disk%02d", i - 1);
        EXPECT_STREQ(disks[i].mount_point, want);
        EXPECT_STREQ(testconfig.disk_path[i], want);
    }
}

TEST_F(MountTables, TwentyEntriesAtMostFromTheMountedTable)
{
    std::string mtab;
    for (int i = 0; i < 25; ++i) {
        const std::string d = "vol" + std::to_string(i);
        makeDirs({ d.c_str() });
        mtab += "/dev/hd" + std::string(1, static_cast<char>('a' + i)) + "1 " + tmp(d) + " ext3 rw 0 0\n";
    }
    WriteFile(tmp("mtab"), mtab);
    WriteFile(tmp("fstab"), "");
    ASSERT_EQ(BuildFileSystemStruct(disks.get(), tmp("fstab").c_str(), tmp("mtab").c_str()), kMaxMountEntries);
    EXPECT_EQ(std::string(disks[19].mount_point), tmp("vol19"));
    EXPECT_TRUE(disks[19].mounted);
}

TEST_F(MountTables, TraceListsDecisionsAndEntries)
{
    makeDirs({ "stick", "camera", "usbdisk", "dvd" });
    const std::string fstab = fixture("mounts/hardy-desktop.fstab");
    const std::string mtab = fixture("mounts/hardy-desktop.mtab");
    ASSERT_EQ(BuildFileSystemStruct(disks.get(), fstab.c_str(), mtab.c_str()), 8);
    const std::string text = trace.text();

    for (const std::string& line : {
             std::string("Valid entry in /etc/fstab */*"),
             std::string("Invalid entry in /etc/fstab */proc*"),
             std::string("Invalid entry in /etc/fstab */srv*"),
             "Valid entry in /etc/mtab *" + tmp("camera") + "*",
             std::string("Invalid entry in /etc/mtab */sys/kernel/security*"),
             "Invalid entry in /etc/mtab *" + tmp("usbdisk") + "*",
         }) {
        EXPECT_TRUE(hasTraceLine(text, "BuildFileSystemStruct", line)) << line;
    }
    const std::string begin = "\n=================== FILESYSTEM_INFO_START ===================\n";
    const std::string end = "=================== FILESYSTEM_INFO_END ===================\n";
    const std::size_t b = text.find(begin);
    const std::size_t e = text.find(end);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(e, std::string::npos);
    const std::string body = text.substr(b + begin.size(), e - b - begin.size());
    const std::string floppy = "===============================START================================\n"
                               "Name:          \t/dev/fd0\n"
                               "Mount point:   \t/media/floppy0\n"
                               "Type:          \tauto\n"
                               "Opts:          \trw,user,noauto,exec,utf8\n"
                               "Freq:          \t0\n"
                               "Pass #:        \t0\n"
                               "Alias:         \tMedia (/media/floppy0) [/dev/fd0]\n"
                               "Is it mounted?:\tfalse\n"
                               "=================================END================================\n";
    EXPECT_NE(body.find(floppy), std::string::npos) << body;
    std::size_t blocks = 0;
    for (std::size_t at = 0; (at = body.find("================START", at)) != std::string::npos; ++at)
        ++blocks;
    EXPECT_EQ(blocks, 8u);
}

TEST_F(MountTables, UnreadableTablesAreTracedAndSkipped)
{
    makeDirs({ "camera" });
    WriteFile(tmp("mtab"), "/dev/sdd1 " + tmp("camera") + " vfat rw 0 0\n");
    EXPECT_EQ(BuildFileSystemStruct(disks.get(), tmp("no-fstab").c_str(), tmp("mtab").c_str()), 1);
    EXPECT_EQ(BuildMultimediaStruct(media.get(), tmp("no-fstab").c_str(), tmp("no-mtab").c_str()), 0);
    const std::string text = trace.text();
    const std::string missing = ") error 2, No such file or directory";
    EXPECT_TRUE(hasTraceLine(text, "BuildFileSystemStruct", "setmntent(" + tmp("no-fstab") + missing));
    EXPECT_TRUE(hasTraceLine(text, "BuildMultimediaStruct", "setmntent(" + tmp("no-fstab") + missing));
    EXPECT_TRUE(hasTraceLine(text, "BuildMultimediaStruct", "setmntent(" + tmp("no-mtab") + missing));
    EXPECT_NE(text.find("\n=================== MULTIMEDIA_DEVICES_START ===================\n"), std::string::npos);
    EXPECT_NE(text.find("=================== MULTIMEDIA_DEVICES_END ===================\n"), std::string::npos);
}

TEST_F(MountTables, UpdateRefreshesAndAppendsNewDisks)
{
    makeDirs({ "stick", "camera", "usbdisk", "dvd", "newdisk" });
    const std::string fstab = fixture("mounts/hardy-desktop.fstab");
    const std::string mtab = fixture("mounts/hardy-desktop.mtab");
    gNumMntPoints = BuildFileSystemStruct(disks.get(), fstab.c_str(), mtab.c_str());
    ASSERT_EQ(gNumMntPoints, 8);
    const std::size_t before = trace.text().size();

    // The floppy got mounted, a disk was plugged in, and the camera's mount
    // point vanished behind a stale line.
    ASSERT_GT(disks[6].vfs.f_blocks, 0u);
    fs::remove(tmp("camera"));
    WriteFile(tmp("mtab2"),
        ReadFile(mtab) + "/dev/fd0 /media/floppy0 vfat rw,nosuid,nodev 0 0\n/dev/sdg1 " + tmp("newdisk")
            + " vfat rw,nosuid,nodev,uhelper=hal 0 0\n");
    EXPECT_EQ(UpdateFileSystemStruct(disks.get(), tmp("mtab2").c_str()), 9);
    EXPECT_STREQ(disks[0].mount_point, "/");
    EXPECT_TRUE(disks[6].mounted);
    EXPECT_TRUE(allZero(&disks[6].vfs, sizeof disks[6].vfs));
    expectEntry(disks[5], "/dev/fd0", "/media/floppy0", "vfat", "Media (/media/floppy0) [/dev/fd0]", true);
    expectEntry(disks[8], "/dev/sdg1", tmp("newdisk"), "vfat",
        ("Hard Disk (" + tmp("newdisk") + ") [/dev/sdg1]").c_str(), true);
    EXPECT_EQ(std::string(testconfig.disk_path[8]), tmp("newdisk"));

    const std::string added = trace.text().substr(before);
    const std::string start = "==================== S T A R T ==================\n"
                              "===============================START================================\n"
                              "Name:          \t/dev/sdg1\n";
    const std::string tail = "=================================END================================\n"
                             "====================== E N D ====================\n"
                             "========== NEW DISK TEST DEVICES FOUND ==========\n";
    const std::size_t s = added.find(start);
    ASSERT_NE(s, std::string::npos) << added;
    EXPECT_NE(added.find(tail, s), std::string::npos);
    EXPECT_EQ(added.find("S T A R T", s + start.size()), std::string::npos) << added;

    // Nothing new the second time.
    gNumMntPoints = 9;
    EXPECT_EQ(UpdateFileSystemStruct(disks.get(), tmp("mtab2").c_str()), 9);
}

TEST_F(MountTables, ThisMachineListsItsStartupDisk)
{
    std::string rootDev;
    if (FILE* f = ::setmntent("/proc/self/mounts", "r")) {
        while (mntent* m = ::getmntent(f))
            if (std::strcmp(m->mnt_dir, "/") == 0)
                rootDev = m->mnt_fsname;
        ::endmntent(f);
    }
    if (rootDev.rfind("/dev/", 0) != 0)
        GTEST_SKIP() << "\"/\" is mounted from " << rootDev << ", not a block device";

    const int n = BuildFileSystemStruct(disks.get());
    ASSERT_GT(n, 0);
    ASSERT_LE(n, kMaxMountEntries);
    const FileSystemStruct* root = nullptr;
    for (int i = 0; i < n; ++i)
        if (std::strcmp(disks[i].mount_point, "/") == 0)
            root = &disks[i];
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(std::string(root->alias), "Startup Disk [" + rootDev + "]");
    EXPECT_TRUE(root->mounted);
    EXPECT_GT(root->vfs.f_blocks, 0u);
}

// ---------------------------------------------------------------- queries

class MountQuery : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directory(dir.file("vol"));
        WriteFile(dir.file("mtab"),
            "rootfs / rootfs rw 0 0\n"
            "/dev/root / ext3 rw,relatime,errors=remount-ro 0 0\n"
            "/dev/sdb1 "
                + dir.file("vol") + " ext3 rw,noatime 0 2\n/dev/sdc1 " + dir.file("gone")
                + " vfat rw,nosuid,nodev 0 0\n");
    }
    TempDir dir;
};

TEST_F(MountQuery, FindsByMountPointOrDevice)
{
    struct Case {
        std::string path;
        int rc;
        const char* name;
        std::string dir;
        const char* type;
    };
    const Case cases[] = {
        { dir.file("vol"), 0, "/dev/sdb1", dir.file("vol"), "ext3" },
        { "/dev/sdb1", 0, "/dev/sdb1", dir.file("vol"), "ext3" },
        { "/", 0, "rootfs", "/", "rootfs" },
        { dir.file("gone"), ENOENT, "before", "before", "before" },
        { "/nowhere", -1, "before", "before", "before" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        FileSystemStruct fs {};
        std::strcpy(fs.name, "before");
        std::strcpy(fs.mount_point, "before");
        std::strcpy(fs.type, "before");
        std::memset(&fs.vfs, 0xA5, sizeof fs.vfs);
        EXPECT_EQ(QueryMountedFileSystems(c.path.c_str(), &fs, dir.file("mtab").c_str()), c.rc);
        EXPECT_STREQ(fs.name, c.name);
        EXPECT_EQ(std::string(fs.mount_point), c.dir);
        EXPECT_STREQ(fs.type, c.type);
        if (c.rc == 0) {
            EXPECT_EQ(fs.vfs.f_blocks, measured(c.dir).f_blocks);
            EXPECT_GT(fs.vfs.f_blocks, 0u);
        } else if (c.rc > 0) {
            EXPECT_TRUE(allZero(&fs.vfs, sizeof fs.vfs));
        }
    }
    FileSystemStruct fs {};
    EXPECT_EQ(QueryMountedFileSystems(dir.file("vol").c_str(), &fs, dir.file("no-mtab").c_str()), -1);
    EXPECT_EQ(fs.name[0], '\0');
    EXPECT_EQ(fs.pass, 0);
    ASSERT_EQ(QueryMountedFileSystems(dir.file("vol").c_str(), &fs, dir.file("mtab").c_str()), 0);
    EXPECT_STREQ(fs.opts, "rw,noatime");
    EXPECT_EQ(fs.pass, 2);
}

TEST_F(MountQuery, AvailableAndTotalBlocks)
{
    std::uint64_t avail = 123;
    std::uint64_t total = 456;
    ASSERT_EQ(GetMountedFileSystemAvailDiskSize(dir.file("vol").c_str(), &avail, &total, dir.file("mtab").c_str()), 0);
    const struct statvfs now = measured(dir.path());
    EXPECT_EQ(total, now.f_blocks);
    // Other processes may write to the same file system meanwhile.
    EXPECT_NEAR(static_cast<double>(avail), static_cast<double>(now.f_bavail), now.f_blocks / 100.0 + 1024);
    EXPECT_LE(avail, total);

    struct Failing {
        std::string path;
        std::string mtab;
        int rc;
    };
    for (const Failing& f :
        { Failing { "/nowhere", dir.file("mtab"), -1 }, Failing { dir.file("gone"), dir.file("mtab"), ENOENT },
            Failing { dir.file("vol"), dir.file("no-mtab"), -1 } }) {
        SCOPED_TRACE(f.path + " in " + f.mtab);
        avail = 123;
        total = 456;
        EXPECT_EQ(GetMountedFileSystemAvailDiskSize(f.path.c_str(), &avail, &total, f.mtab.c_str()), f.rc);
        EXPECT_EQ(avail, 0u);
        EXPECT_EQ(total, 0u);
    }
}

} // namespace
