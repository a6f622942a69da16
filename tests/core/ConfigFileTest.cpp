#include "ConfigFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::unique_ptr<_testconfig> validRecord()
{
    return std::make_unique<_testconfig>(ValidConfig());
}

const char* kPreferencesTail
    = "stores the preferences for KalvexTest.\nWithout reading this file, KalvexTest cannot proceed.";

class ConfigLoad : public ::testing::Test {
protected:
    TempDir dir;
    RecordingSink sink;
    std::unique_ptr<_testconfig> target = validRecord();
    std::string before = ConfigBytes(*target);

    int load(const std::string& content)
    {
        WriteFile(dir.file("c.cfg"), content);
        return ConfigFileLoad("c.cfg", dir.path().c_str(), target.get());
    }
    void expectRefused(const std::string& text)
    {
        ASSERT_EQ(sink.boxes.size(), 1u);
        EXPECT_EQ(sink.boxes[0].caption, "Error reading *" + dir.file("c.cfg") + "*");
        EXPECT_EQ(sink.boxes[0].text, text + "*" + dir.file("c.cfg") + "* " + kPreferencesTail);
        EXPECT_EQ(sink.boxes[0].buttons, std::vector<std::string> { "OK" });
        EXPECT_EQ(ConfigBytes(*target), before) << "a failed load must not touch the record";
    }
};

TEST_F(ConfigLoad, MissingFileIsSilent)
{
    EXPECT_EQ(ConfigFileLoad("none.cfg", dir.path().c_str(), target.get()), -1);
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(ConfigLoad, BadMagicIsRefused)
{
    auto other = validRecord();
    std::memcpy(other->magic, "KVXCFGX", 8);
    EXPECT_EQ(load(ConfigBytes(*other)), -1);
    expectRefused("This file does not appear to be a KVX configuration file\nCheck the file name is correct\n"
        + dir.file("c.cfg") + "\n");
}

TEST_F(ConfigLoad, OtherVersionIsRefusedWithItsNumber)
{
    auto other = validRecord();
    other->version = 2;
    EXPECT_EQ(load(ConfigBytes(*other)), -1);
    expectRefused("File *" + dir.file("c.cfg") + "* (version 2) is an incompatible config file\n");
}

TEST_F(ConfigLoad, ShortFilesAreRefusedWithTheReadText)
{
    for (std::size_t size : { std::size_t { 5 }, std::size_t { 12 }, sizeof(_testconfig) - 1 }) {
        sink.boxes.clear();
        EXPECT_NE(load(ConfigBytes(*validRecord()).substr(0, size)), 0) << size;
        expectRefused(
            "File *" + dir.file("c.cfg") + "* failed fread() with error message \"Unexpected end of file\"\n");
    }
}

TEST_F(ConfigLoad, LongerFileLoadsAndExtraBytesAreIgnored)
{
    auto other = validRecord();
    other->auto_stop_time = 42.5f;
    EXPECT_EQ(load(ConfigBytes(*other) + std::string(20000 - sizeof(_testconfig), 'x')), 0);
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_EQ(ConfigBytes(*target), ConfigBytes(*other));
}

TEST_F(ConfigLoad, PathWithoutDirectoryIsUsedAsIs)
{
    WriteFile(dir.file("abs.cfg"), ConfigBytes(*validRecord()));
    EXPECT_EQ(ConfigFileLoad(dir.file("abs.cfg").c_str(), "", target.get()), 0);
}

TEST(ConfigRoundTrip, EveryByteSurvivesSaveAndLoad)
{
    TempDir dir;
    RecordingSink sink;
    auto c = validRecord();
    // Values at the odd offsets and in the reserved stretches.
    std::strcpy(c->cd_drive_name[0], "/dev/sr0");
    std::strcpy(c->cd_drive_name[19], "/dev/sr19");
    std::strcpy(c->trace_file_name, "trace-name");
    c->log_header_written = 1;
    c->twod_test_skip = 7;
    c->network_test_type = 3;
    c->reserved_4ACD[530] = 0x5A;
    c->reserved_1920[12] = 0x11;
    c->disk_file_size_pct[19] = 14.75;
    c->cd_seek[4] = kCdSeekOnBit | 50;
    ASSERT_EQ(ConfigFileSave("r.cfg", dir.path().c_str(), c.get()), 0);
    EXPECT_EQ(ReadFile(dir.file("r.cfg")), ConfigBytes(*c));

    auto back = std::make_unique<_testconfig>();
    std::memset(back.get(), 0, sizeof *back);
    ASSERT_EQ(ConfigFileLoad("r.cfg", dir.path().c_str(), back.get()), 0);
    EXPECT_EQ(ConfigBytes(*back), ConfigBytes(*c));
    EXPECT_STREQ(back->trace_file_name, "trace-name");
    EXPECT_EQ(back->cd_seek[4] & 0x7FFF, 50);
    EXPECT_TRUE(sink.boxes.empty());
    // No temporary file is left behind.
    EXPECT_EQ(std::system(("test $(ls -A " + dir.path() + " | wc -l) -eq 1").c_str()), 0);
}

TEST(ConfigSaveName, BaseNameUpToFirstDotThenCfg)
{
    struct {
        const char* path;
        const char* dir;
        const char* name;
    } cases[] = { { "/home/u/my.settings.cfg", "/home/u", "my.cfg" }, { "/home/u/report", "/home/u", "report.cfg" },
        { "/home/u/settings.old.cfg", "/home/u", "settings.cfg" }, { "/a.b/plain.cfg", "/a.b", "plain.cfg" },
        { "/top.cfg", "/", "top.cfg" } };
    for (auto c : cases) {
        ConfigSaveTarget t = ConfigSaveTargetFor(c.path);
        EXPECT_EQ(t.directory, c.dir) << c.path;
        EXPECT_EQ(t.name, c.name) << c.path;
    }
}

TEST(ConfigStartup, MissingFileShowsTheBoxAndSavesDefaults)
{
    TempDir dir;
    RecordingSink sink;
    std::strcpy(configfilename, "LastUsed.cfg");
    std::memset(&testconfig, 0, sizeof testconfig);
    LoadStartupConfig(dir.path().c_str());

    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].caption, "Error loading *LastUsed.cfg*");
    EXPECT_EQ(sink.boxes[0].text,
        "Due to problems with the configuration file\nLastUsed.cfg\nDefault config values will be used instead");
    const std::string saved = ReadFile(dir.file("LastUsed.cfg"));
    ASSERT_EQ(saved.size(), 19680u);
    EXPECT_EQ(saved.substr(0, 8), std::string("KVXCFGL\0", 8));
    EXPECT_EQ(saved.substr(8, 4), std::string("\x01\0\0\0", 4));
    EXPECT_EQ(saved, ConfigBytes(*validRecord()));
    EXPECT_EQ(saved, ConfigBytes(testconfig));
}

TEST(ConfigStartup, BadNamedFileFallsBackToLastUsed)
{
    TempDir dir;
    RecordingSink sink;
    WriteFile(dir.file("broken.cfg"), "garbage that is too short");
    std::strcpy(configfilename, "broken.cfg");
    LoadStartupConfig(dir.path().c_str());
    ASSERT_EQ(sink.boxes.size(), 2u) << "the read error, then the fallback notice";
    EXPECT_EQ(sink.boxes[0].caption, "Error reading *" + dir.file("broken.cfg") + "*");
    EXPECT_EQ(sink.boxes[1].caption, "Error loading *broken.cfg*");
    EXPECT_STREQ(configfilename, "LastUsed.cfg");
    EXPECT_TRUE(FileExists(dir.file("LastUsed.cfg")));
    EXPECT_EQ(ReadFile(dir.file("broken.cfg")), "garbage that is too short");
}

// A save that runs out of space half-way must keep the previous file.
class ConfigSaveOnFullDisk : public ::testing::Test {
protected:
    TempDir work;
    std::string mnt = work.file("mnt");
    bool mounted = false;

    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to loop-mount a file system image";
        const std::string img = work.file("fs.img");
        ::mkdir(mnt.c_str(), 0755);
        const std::string cmd = "truncate -s 1M " + img + " && mkfs.ext2 -q -F -N 32 " + img
            + " >/dev/null 2>&1 && mount -o loop " + img + " " + mnt + " 2>/dev/null";
        if (std::system(cmd.c_str()) != 0)
            GTEST_SKIP() << "cannot make and loop-mount an ext2 image here";
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted)
            std::system(("umount " + mnt).c_str());
    }
};

TEST_F(ConfigSaveOnFullDisk, PreviousFileStaysIntact)
{
    RecordingSink sink;
    auto old = validRecord();
    old->auto_stop_time = 99.0f;
    ASSERT_EQ(ConfigFileSave("LastUsed.cfg", mnt.c_str(), old.get()), 0);
    // Fill the rest of the file system.
    std::system(("dd if=/dev/zero of=" + mnt + "/filler bs=4k >/dev/null 2>&1; sync").c_str());

    auto fresh = validRecord();
    fresh->auto_stop_time = 1.0f;
    EXPECT_NE(ConfigFileSave("LastUsed.cfg", mnt.c_str(), fresh.get()), 0);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].caption, "Error saving/creating *" + mnt + "/LastUsed.cfg*");
    EXPECT_EQ(
        sink.boxes[0].text.rfind(
            "File *" + mnt + "/LastUsed.cfg* failed fwrite() with error message \"No space left on device\"\n", 0),
        0u)
        << sink.boxes[0].text;
    EXPECT_EQ(sink.boxes[0].buttons, std::vector<std::string> { "Quit" });
    EXPECT_EQ(ReadFile(mnt + "/LastUsed.cfg"), ConfigBytes(*old));
    EXPECT_EQ(std::system(("test $(ls -A " + mnt + " | grep -c LastUsed) -eq 1").c_str()), 0)
        << "temporary left behind";
}

TEST_F(ConfigSaveOnFullDisk, ProtectedFileIsNotReplaced)
{
    RecordingSink sink;
    auto old = validRecord();
    ASSERT_EQ(ConfigFileSave("LastUsed.cfg", mnt.c_str(), old.get()), 0);
    // Immutable: even root may not write it, and a rename must not get round that.
    if (std::system(("chattr +i " + mnt + "/LastUsed.cfg 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "chattr not available";
    auto fresh = validRecord();
    fresh->auto_stop_time = 1.0f;
    EXPECT_NE(ConfigFileSave("LastUsed.cfg", mnt.c_str(), fresh.get()), 0);
    std::system(("chattr -i " + mnt + "/LastUsed.cfg").c_str());
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[0].caption, "Error saving *LastUsed.cfg*");
    EXPECT_EQ(sink.boxes[0].text,
        "Error saving *" + mnt
            + "/LastUsed.cfg* because we don't have write permission\nfor this file.  "
              "*LastUsed.cfg* stores the preferences for KalvexTest.\nWithout modifying this file, KalvexTest cannot "
              "proceed.");
    EXPECT_EQ(sink.boxes[1].caption, "Error saving/creating *" + mnt + "/LastUsed.cfg*");
    EXPECT_EQ(ReadFile(mnt + "/LastUsed.cfg"), ConfigBytes(*old));
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

} // namespace
