#include "ConfigFile.h"
#include "ErrorClassification.h"
#include "Privileges.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TempDir.h"
#include "TestSlots.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <linux/capability.h>
#include <memory>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <tuple>
#include <unistd.h>

namespace {

std::string bytesOf(const void* p, std::size_t n)
{
    return std::string(static_cast<const char*>(p), n);
}

class InitEnv : public ::testing::Test {
protected:
    TempDir dir;
    RecordingSink sink;
    void SetUp() override { std::strcpy(configfilename, "LastUsed.cfg"); }
    void TearDown() override { ExitEnv_Main(); }

    void writeConfig(const std::string& name, int pretestLogMode, float autoStopTime = 0)
    {
        _testconfig c = ValidConfig();
        c.pretest_log_mode = pretestLogMode;
        c.auto_stop_time = autoStopTime;
        WriteFile(name[0] == '/' ? name : dir.file(name), ConfigBytes(c));
    }
};

// A usable named file is loaded and named (a name with a slash is the path,
// absolute or relative), with the machine identity; one that cannot be used
// leaves the settings of LastUsed.cfg. LastUsed.cfg is never rewritten.
TEST_F(InitEnv, NamedConfigurationIsLoadedOrFallsBackToLastUsed)
{
    writeConfig("LastUsed.cfg", 0, 5);
    const std::string lastUsed = ReadFile(dir.file("LastUsed.cfg"));
    writeConfig("mine.cfg", 0, 11);
    std::filesystem::create_directories(dir.file("some/dir"));
    writeConfig(dir.file("some/dir/lab.cfg"), 0, 37);
    WriteFile(dir.file("machineid.dat"), "Bench 7" + std::string(493, '\0'));
    WriteFile(dir.file("bad.cfg"), std::string(sizeof(_testconfig), 'x'));
    // Name, stop time loaded, boxes shown (the unreadable file has its own).
    const std::tuple<std::string, float, std::size_t> cases[]
        = { { "mine.cfg", 11, 0 }, { dir.file("some/dir/lab.cfg"), 37, 0 },
              { std::filesystem::relative(dir.file("some/dir/lab.cfg")).string(), 37, 0 }, { "lab.cfg", 5, 1 },
              { dir.file("nowhere/lab.cfg"), 5, 1 }, { "bad.cfg", 5, 2 } };
    for (const auto& [name, stopTime, boxes] : cases) {
        SCOPED_TRACE(name);
        sink.boxes.clear();
        std::strcpy(configfilename, "LastUsed.cfg");
        ASSERT_EQ(InitEnv_Main(boxes == 0, name.c_str(), true, dir.path()), 0);
        EXPECT_FLOAT_EQ(testconfig.auto_stop_time, stopTime);
        EXPECT_EQ(configfilename, boxes == 0 ? name : "LastUsed.cfg");
        EXPECT_EQ(autorun_flag, boxes == 0);
        EXPECT_STREQ(resultfile.machine_type, "Bench 7");
        EXPECT_STREQ(dirname, dir.path().c_str());
        EXPECT_NE(gLogger, nullptr);
        EXPECT_TRUE(ReadFile(dir.file("LastUsed.cfg")) == lastUsed) << "LastUsed.cfg was rewritten";
        ASSERT_EQ(sink.boxes.size(), boxes);
        if (boxes > 0) {
            EXPECT_EQ(sink.boxes.back().caption, "Error loading *" + name + "*");
        }
        ExitEnv_Main();
    }
}

// Only the accumulate mode loads the saved totals, never the current run.
TEST_F(InitEnv, AccumulateModeAloneLoadsTheSavedTotals)
{
    auto saved = std::make_unique<_resultfile>();
    saved->accum_results[kSlotMaths].cycles = 17;
    saved->results[kSlotMaths].cycles = 5;
    WriteFile(dir.file(".accum_result.cfg"), bytesOf(saved.get(), sizeof *saved));
    for (int mode : { 1, 0 }) {
        SCOPED_TRACE(mode);
        writeConfig("LastUsed.cfg", mode);
        ASSERT_EQ(InitEnv_Main(false, "", true, dir.path()), 0);
        EXPECT_EQ(resultfile.accum_results[kSlotMaths].cycles, mode == 1 ? 17u : 0u);
        EXPECT_EQ(resultfile.results[kSlotMaths].cycles, 0u) << "the current run starts from zero";
        ExitEnv_Main();
    }
}

// A program directory shared by a group: root's, group-writable, sticky.
// Each user runs in a child with real ids of its own.
class SharedProgramDir : public ::testing::Test {
protected:
    static constexpr gid_t kGroup = 47100;
    static constexpr uid_t kFirst = 47101, kSecond = 47102, kOutsider = 47103;
    TempDir root;
    std::string prog;

    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to act as other users";
        ::chmod(root.path().c_str(), 0755);
        prog = root.file("opt");
        ASSERT_EQ(::mkdir(prog.c_str(), 0755), 0);
        share(prog, 0);
        for (uid_t uid : { uid_t { 0 }, kFirst, kSecond, kOutsider }) {
            ASSERT_EQ(::mkdir(home(uid).c_str(), 0700), 0);
            ASSERT_EQ(::chown(home(uid).c_str(), uid, uid == kOutsider ? kOutsider : kGroup), 0);
        }
    }
    void share(const std::string& path, uid_t owner, mode_t mode = 03775)
    {
        ASSERT_EQ(::chown(path.c_str(), owner, kGroup), 0);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }
    std::string home(uid_t uid) const { return root.file("home" + std::to_string(uid)); }
    std::string ownDir(uid_t uid) const { return home(uid) + "/.config/kalvextest"; }

    // Runs `body` in a child as `uid` (in kGroup, unless an outsider) with
    // its own HOME; returns what the body returned.
    std::string runAs(uid_t uid, const std::function<std::string()>& body)
    {
        return InChild([&] {
            const gid_t gid = uid == kOutsider ? kOutsider : uid == 0 ? 0 : kGroup;
            ::setenv("HOME", home(uid).c_str(), 1);
            ::unsetenv("XDG_CONFIG_HOME");
            if (::setgroups(1, &gid) == 0 && ::setresgid(gid, gid, gid) == 0 && ::setresuid(uid, uid, uid) == 0)
                return body();
            return "could not become " + std::to_string(uid);
        });
    }
    std::string dataDirAs(uid_t uid)
    {
        return runAs(uid, [this] { return DataDirectoryFor(prog); });
    }
};

TEST_F(SharedProgramDir, OnlyAnotherOwnersSharedDirectorySendsAUserHome)
{
    // The owner, root or not, keeps everything beside the program as before.
    EXPECT_EQ(dataDirAs(0), prog);
    share(prog, kFirst);
    EXPECT_EQ(dataDirAs(kFirst), prog);
    share(prog, 0);
    // Not a member: the program directory, and so today's permission box.
    EXPECT_EQ(dataDirAs(kOutsider), prog);
    // Group-writable without the sticky bit: files can be replaced there.
    share(prog, 0, 02775);
    EXPECT_EQ(dataDirAs(kSecond), prog);

    share(prog, 0);
    EXPECT_EQ(dataDirAs(kSecond), ownDir(kSecond));
    struct stat st { };
    ASSERT_EQ(::stat(ownDir(kSecond).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, kSecond);
}

TEST_F(SharedProgramDir, SecondUserStartsFromTheSharedFilesAndSavesOwnCopies)
{
    // What the first technician left: settings (group-writable, so only the
    // replacing rename is refused), machine identity, accumulated results.
    auto cfg = std::make_unique<_testconfig>(ValidConfig());
    cfg->auto_stop_time = 42;
    cfg->pretest_log_mode = 1;
    std::snprintf(cfg->log_directory, sizeof cfg->log_directory, "%s", prog.c_str());
    const std::string shared = ConfigBytes(*cfg);
    WriteFile(prog + "/LastUsed.cfg", shared);
    WriteFile(prog + "/machineid.dat", "Bench 7" + std::string(493, '\0'));
    auto results = std::make_unique<_resultfile>();
    results->accum_results[kSlotMaths].cycles = 17;
    WriteFile(prog + "/.accum_result.cfg", bytesOf(results.get(), sizeof *results));
    for (const char* f : { "/LastUsed.cfg", "/machineid.dat", "/.accum_result.cfg" })
        share(prog + f, kFirst, 0664);
    WriteFile(prog + "/KVXErrorClassification.txt", ReadFile(KVX_SOURCE_DIR "/resources/KVXErrorClassification.txt"));

    const std::string own = ownDir(kSecond);
    const std::string complaints = runAs(kSecond, [&] {
        RecordingSink sink;
        std::strcpy(configfilename, "LastUsed.cfg");
        const std::string data = DataDirectoryFor(prog);
        InitEnv_Main(false, "", true, prog, data);
        std::string c;
        auto check = [&c](bool ok, const std::string& what) {
            if (!ok)
                c += what + "; ";
        };
        check(data == own, "data directory " + data);
        check(std::string(dirname) == own, std::string("dirname ") + dirname);
        check(e_strings[1][0] != '\0', "classification not read from the program directory");
        check(testconfig.auto_stop_time == 42, "settings not taken from the shared copy");
        check(std::string(testconfig.log_directory) == own, std::string("logs in ") + testconfig.log_directory);
        check(std::string(resultfile.machine_type) == "Bench 7", "machine identity not taken from the shared copy");
        check(resultfile.accum_results[kSlotMaths].cycles == 0, "another user's accumulated results");
        check(SaveLastUsedConfig(dirname) == 0, "LastUsed.cfg not saved");
        std::strcpy(resultfile.machine_type, "Bench 8");
        check(save_machineid(dirname) == 0, "machineid.dat not saved");
        for (const auto& b : sink.boxes)
            if (b.caption != "Machine ID & Notes")
                c += "box " + b.caption + "; ";
        ExitEnv_Main();
        return c;
    });
    EXPECT_EQ(complaints, "");
    EXPECT_TRUE(ReadFile(prog + "/LastUsed.cfg") == shared) << "the shared LastUsed.cfg was rewritten";
    EXPECT_EQ(ReadFile(prog + "/machineid.dat").substr(0, 8), std::string("Bench 7\0", 8));
    for (const char* f : { "/LastUsed.cfg", "/machineid.dat" }) {
        struct stat st { };
        ASSERT_EQ(::stat((own + f).c_str(), &st), 0) << f;
        EXPECT_EQ(st.st_uid, kSecond) << f;
    }
    EXPECT_EQ(ReadFile(own + "/LastUsed.cfg").size(), sizeof(_testconfig));
}

TEST(StartupChecks, PathLengthsAndPermissionBoxes)
{
    TempDir dir;
    {
        RecordingSink sink;
        CheckStartupPermissions(dir.path(), dir.file("debug.log"));
        EXPECT_TRUE(sink.boxes.empty()) << "a writable directory asks nothing";
        EXPECT_TRUE(CheckPathLengths(std::string(299, 'd'), std::string(399, 'p')));
        EXPECT_FALSE(CheckPathLengths(std::string(300, 'd'), "x"));
        EXPECT_FALSE(CheckPathLengths("/tmp", std::string(400, 'p')));
        ASSERT_EQ(sink.boxes.size(), 2u);
        EXPECT_EQ(sink.boxes[0].buttons, std::vector<std::string> { "Quit" });
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    WriteFile(dir.file("debug.log"), "old");
    ::chmod(dir.file("debug.log").c_str(), 0444);
    ::chmod(dir.path().c_str(), 0555);
    const std::string log = dir.file("debug.log");
    EXPECT_EQ(InChild([&]() -> std::string {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            return "setuid";
        RecordingSink sink;
        CheckStartupPermissions(dir.path(), log);
        CheckStartupPermissions(dir.path(), dir.file("other.log"));
        std::string boxes;
        for (const auto& box : sink.boxes)
            boxes += box.caption + ": " + box.text + "\n";
        return boxes;
    }),
        "Permission Error: No permission writing to *" + log + "*\nPlease check that you have access to *" + log
            + "*\nPermission Error: No permission creating file in *" + dir.path()
            + "*\nPlease check that you have write access to *" + dir.path() + "*\n");
}

constexpr uid_t kNobody = 65534;

// Held privileges as bits: 1 lock memory, 2 raw network, 4 port I/O.
std::string heldNow()
{
    return std::to_string(HavePrivilege(Privilege::LockMemory) | HavePrivilege(Privilege::RawNetwork) << 1
        | HavePrivilege(Privilege::PortIo) << 2);
}

// The privilege check against real credentials.
TEST(Privileges, RootNobodyAndASingleCapability)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to change credentials";
    EXPECT_EQ(heldNow(), "7");

    // A non-root process given CAP_NET_RAW only (as a file capability would).
    EXPECT_EQ(InChild([]() -> std::string {
        if (::prctl(PR_SET_KEEPCAPS, 1L, 0L, 0L, 0L) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0)
            return "setresuid";
        __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] {};
        if (::syscall(SYS_capget, &header, data) != 0)
            return "capget";
        data[0].effective = 1u << CAP_NET_RAW;
        if (::syscall(SYS_capset, &header, data) != 0)
            return "capset";
        return heldNow();
    }),
        "2");
}

} // namespace
