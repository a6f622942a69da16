#include "ConfigFile.h"
#include "ConfigRecord.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::unique_ptr<_testconfig> validRecord()
{
    return std::make_unique<_testconfig>(ValidConfig());
}

void expectGolden(const std::string& name, const std::string& actual)
{
    EXPECT_TRUE(GoldenFile(KVX_SOURCE_DIR "/tests/data/" + name, actual) == actual) << name << " differs";
}

// A wrong magic, a wrong version and three short files, then a missing file
// (silent); the boxes are in tests/data/config_load_boxes.txt.
TEST(ConfigLoad, RefusedFilesLeaveTheRecordAndSayWhy)
{
    TempDir dir;
    RecordingSink sink;
    auto target = validRecord();
    const std::string before = ConfigBytes(*target);
    const std::string valid = ConfigBytes(*validRecord());
    std::string badMagic = valid, badVersion = valid;
    badMagic[6] = 'X';
    badVersion[8] = 2;
    for (const std::string& content :
        { badMagic, badVersion, valid.substr(0, 5), valid.substr(0, 12), valid.substr(0, sizeof(_testconfig) - 1) }) {
        WriteFile(dir.file("c.cfg"), content);
        EXPECT_NE(ConfigFileLoad("c.cfg", dir.path().c_str(), target.get()), 0);
        EXPECT_EQ(ConfigBytes(*target), before) << "a failed load must not touch the record";
    }
    EXPECT_EQ(ConfigFileLoad("none.cfg", dir.path().c_str(), target.get()), -1);
    std::string boxes;
    for (const auto& box : sink.boxes)
        boxes += box.caption + " [" + box.buttons.at(0) + "]\n" + box.text + "\n";
    boxes = std::regex_replace(boxes, std::regex(dir.path()), "@TMP@");
    expectGolden("config_load_boxes.txt", boxes);
}

TEST(ConfigRoundTrip, EveryByteSurvivesSaveAndLoad)
{
    TempDir dir;
    RecordingSink sink;
    auto c = validRecord();
    // Values at the odd offsets and in the reserved stretches.
    std::strcpy(c->cd_drive_name[19], "/dev/sr19");
    std::strcpy(c->trace_file_name, "trace-name");
    c->log_header_written = 1;
    c->reserved_4ACD[530] = 0x5A;
    c->disk_file_size_pct[19] = 14.75;
    c->cd_seek[4] = kCdSeekOnBit | 50;
    ASSERT_EQ(ConfigFileSave("r.cfg", dir.path().c_str(), c.get()), 0);
    EXPECT_EQ(ReadFile(dir.file("r.cfg")), ConfigBytes(*c));
    // No temporary file is left behind.
    EXPECT_EQ(std::system(("test $(ls -A " + dir.path() + " | wc -l) -eq 1").c_str()), 0);

    auto back = std::make_unique<_testconfig>();
    std::memset(back.get(), 0, sizeof *back);
    ASSERT_EQ(ConfigFileLoad("r.cfg", dir.path().c_str(), back.get()), 0);
    EXPECT_EQ(ConfigBytes(*back), ConfigBytes(*c));
    // A longer file loads; the extra bytes are ignored. A path is used as is.
    WriteFile(dir.file("long.cfg"), ConfigBytes(*validRecord()) + std::string(300, 'x'));
    ASSERT_EQ(ConfigFileLoad(dir.file("long.cfg").c_str(), "", back.get()), 0);
    EXPECT_EQ(ConfigBytes(*back), ConfigBytes(*validRecord()));
    EXPECT_TRUE(sink.boxes.empty());
}

TEST(ConfigSaveName, BaseNameUpToFirstDotThenCfg)
{
    struct {
        const char* path;
        const char* dir;
        const char* name;
    } cases[] = { { "/home/u/my.settings.cfg", "/home/u", "my.cfg" }, { "/home/u/report", "/home/u", "report.cfg" },
        { "/a.b/plain.cfg", "/a.b", "plain.cfg" }, { "/top.cfg", "/", "top.cfg" }, { "rel.x", ".", "rel.cfg" } };
    for (auto c : cases) {
        ConfigSaveTarget t = ConfigSaveTargetFor(c.path);
        EXPECT_EQ(std::pair(t.directory, t.name), std::pair(std::string(c.dir), std::string(c.name))) << c.path;
    }
}

// Without a usable named file or LastUsed.cfg, the defaults are saved as it.
TEST(ConfigStartup, UnusableOrMissingFileSavesDefaultsAsLastUsed)
{
    TempDir dir;
    RecordingSink sink;
    std::memset(&testconfig, 0, sizeof testconfig);
    WriteFile(dir.file("broken.cfg"), "garbage that is too short");
    std::strcpy(configfilename, "broken.cfg");
    LoadStartupConfig(dir.path().c_str());
    ASSERT_EQ(sink.boxes.size(), 2u) << "the read error, then the fallback notice";
    EXPECT_EQ(sink.boxes[0].caption, "Error reading *" + dir.file("broken.cfg") + "*");
    EXPECT_EQ(sink.boxes[1].caption, "Error loading *broken.cfg*");
    EXPECT_STREQ(configfilename, "LastUsed.cfg");
    EXPECT_TRUE(FileExists(dir.file("LastUsed.cfg")));
    EXPECT_EQ(ReadFile(dir.file("broken.cfg")), "garbage that is too short");

    std::remove(dir.file("LastUsed.cfg").c_str());
    sink.boxes.clear();
    std::memset(&testconfig, 0, sizeof testconfig);
    LoadStartupConfig(dir.path().c_str());
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].caption, "Error loading *LastUsed.cfg*");
    EXPECT_EQ(sink.boxes[0].text,
        "Due to problems with the configuration file\nLastUsed.cfg\nDefault config values will be used instead");
    const std::string saved = ReadFile(dir.file("LastUsed.cfg"));
    expectGolden("LastUsed.default.cfg", saved);
    EXPECT_EQ(saved, ConfigBytes(testconfig));
}

// A save that runs out of space half-way keeps the previous file.
TEST(ConfigSaveOnFullDisk, PreviousFileStaysIntact)
{
    TempDir work;
    const std::string mnt = work.file("mnt"), file = mnt + "/LastUsed.cfg";
    ::mkdir(mnt.c_str(), 0755);
    if (::geteuid() != 0
        || std::system(("truncate -s 1M " + work.file("fs.img") + " && mkfs.ext2 -q -F -N 32 " + work.file("fs.img")
               + " >/dev/null 2>&1 && mount -o loop " + work.file("fs.img") + " " + mnt + " 2>/dev/null")
                           .c_str())
            != 0)
        GTEST_SKIP() << "needs root and a loop-mounted ext2 image";
    RecordingSink sink;
    auto old = validRecord();
    old->auto_stop_time = 99.0f;
    ASSERT_EQ(ConfigFileSave("LastUsed.cfg", mnt.c_str(), old.get()), 0);
    std::system(("dd if=/dev/zero of=" + mnt + "/filler bs=4k >/dev/null 2>&1; sync").c_str());
    auto fresh = validRecord();
    EXPECT_NE(ConfigFileSave("LastUsed.cfg", mnt.c_str(), fresh.get()), 0);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].caption, "Error saving/creating *" + file + "*");
    EXPECT_TRUE(sink.boxes[0].text.starts_with(
        "File *" + file + "* failed fwrite() with error message \"No space left on device\"\n"))
        << sink.boxes[0].text;
    EXPECT_EQ(sink.boxes[0].buttons, std::vector<std::string> { "Quit" });
    EXPECT_EQ(ReadFile(file), ConfigBytes(*old));
    EXPECT_EQ(std::system(("test $(ls -A " + mnt + " | grep -c LastUsed) -eq 1").c_str()), 0) << "temporary left";

    std::system(("umount " + mnt).c_str());
}

TEST(ConfigSaveDeathTest, QuitOnAnUnwritableDirectoryEndsWithStatus1)
{
    TempDir dir;
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_EXIT(
        {
            // An ordinary user: root may write anywhere.
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                std::exit(3);
            RecordingSink sink;
            sink.answers.push_back(0);
            ConfigFileSave("x.cfg", dir.path().c_str(), validRecord().get());
            std::exit(0);
        },
        ::testing::ExitedWithCode(geteuid() == 0 ? 1 : 3), "");
}

// The default values themselves are pinned by the golden LastUsed.cfg.
TEST(ConfigDefaults, LeaveUnsetBytesAlone)
{
    // A record full of a marker shows every byte the defaults do not own.
    auto c = std::make_unique<_testconfig>();
    std::memset(c.get(), 0xA5, sizeof *c);
    KalvexTest_SetUpDefault(c.get());
    auto all = [](const void* p, std::size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i < n; ++i)
            if (b[i] != 0xA5)
                return false;
        return true;
    };
    EXPECT_TRUE(all(&c->usb_plug_count, 4));
    EXPECT_TRUE(all(&c->log_line_count, 4) && all(&c->trace_line_count, 4)) << "counts survive a reset";
    // Only the first byte of each path and drive name is cleared.
    EXPECT_TRUE(c->disk_path[3][0] == 0 && all(&c->disk_path[3][1], 255));
    EXPECT_TRUE(c->cd_drive_name[19][0] == 0 && all(&c->cd_drive_name[19][1], 255));
}

} // namespace
