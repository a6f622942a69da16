// The two settings dialogs of the built program, used with the keyboard
// through a real X server as a new user would: a value changed and confirmed
// with OK is still there after the program is started again, and it lands
// in the file the start chose.
#include "ConfigRecord.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string output(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p))
            out += buf;
        ::pclose(p);
    }
    return out;
}

bool waitUntil(const std::function<bool()>& done, int seconds)
{
    for (int i = 0; i < seconds * 20; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

// How a start differs from a plain "./kalvextest -s" in the program
// directory by the first technician.
struct Launch {
    std::vector<std::string> args;
    std::string cwd; // the program directory when empty
    uid_t uid = 0; // with `gid`: the user running it, when not 0
    gid_t gid = 0;
    std::vector<std::string> env; // NAME=value added, -NAME removed
};

class SettingsDialogsProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "needs an X display (run under xvfb-run)";
        if (std::system("command -v xdotool >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "needs xdotool";
        for (const auto& e : fs::directory_iterator(KVX_BIN_DIR))
            if (e.is_regular_file())
                fs::copy_file(e.path(), fs::path(dir.path()) / e.path().filename());
        // A first start would greet the user with the missing file box.
        WriteFile(dir.file("LastUsed.cfg"), ConfigBytes(ValidConfig()));
    }
    void TearDown() override { stop(); }

    // Starts the program; true once its main window shows. A box that
    // shows instead fails the test with its caption.
    bool start(const Launch& launch = Launch())
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::chdir(launch.cwd.empty() ? dir.path().c_str() : launch.cwd.c_str());
            std::freopen(dir.file("out.txt").c_str(), "w", stdout);
            ::dup2(::fileno(stdout), 2);
            for (const auto& e : launch.env) {
                if (e[0] == '-')
                    ::unsetenv(e.c_str() + 1);
                else
                    ::putenv(const_cast<char*>(e.c_str()));
            }
            if (launch.uid != 0
                && (::setgroups(1, &launch.gid) != 0 || ::setresgid(launch.gid, launch.gid, launch.gid) != 0
                    || ::setresuid(launch.uid, launch.uid, launch.uid) != 0))
                ::_exit(126);
            std::vector<char*> argv { const_cast<char*>("kalvextest"), const_cast<char*>("-s") };
            for (const auto& a : launch.args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(dir.file("kalvextest").c_str(), argv.data());
            ::_exit(127);
        }
        EXPECT_GT(m_pid, 0);
        std::string box;
        const bool shown = waitUntil(
            [&] { return !window("^Veltrane").empty() || !(box = window("^(Error|Permission Error)")).empty(); }, 30);
        if (!box.empty())
            ADD_FAILURE() << "box at start: " << output("xdotool getwindowname " + box);
        else if (!shown)
            ADD_FAILURE() << "no main window: " << ReadFile(dir.file("out.txt"));
        return shown && box.empty();
    }
    void stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

    // The visible window whose title matches `pattern`, or empty.
    std::string window(const std::string& pattern)
    {
        const std::string ids = output("xdotool search --onlyvisible --name '" + pattern + "' 2>/dev/null");
        return ids.substr(0, ids.find('\n'));
    }
    void keys(const std::string& windowId, const std::string& sequence)
    {
        ASSERT_EQ(std::system(("xdotool windowfocus --sync " + windowId + " " + sequence).c_str()), 0) << sequence;
    }
    // Opens item `item` (1 or 2) of the Configuration menu with the
    // keyboard and returns the dialog window once it shows.
    std::string openFromMenu(int item, const std::string& title)
    {
        const std::string main = window("^Veltrane");
        keys(main, "key alt");
        std::string sequence = "key Right Right Right";
        for (int i = 0; i < item; ++i)
            sequence += " Down";
        keys(main, sequence + " Return");
        std::string dialog;
        EXPECT_TRUE(waitUntil([&] { return !(dialog = window("^" + title + "$")).empty(); }, 10)) << title;
        return dialog;
    }
    _testconfig saved(const std::string& path = {})
    {
        _testconfig cfg {};
        const std::string bytes = ReadFile(path.empty() ? dir.file("LastUsed.cfg") : path);
        if (bytes.size() == sizeof cfg)
            std::memcpy(&cfg, bytes.data(), sizeof cfg);
        return cfg;
    }

    TempDir dir;

private:
    pid_t m_pid = -1;
};

TEST_F(SettingsDialogsProgram, ConfirmedChangesSurviveARestart)
{
    ASSERT_TRUE(start());
    // Duty cycles: the CPU maths spin box is the third stop; Return is OK.
    std::string dialog = openFromMenu(1, "Test configuration and duty cycles");
    ASSERT_FALSE(dialog.empty());
    keys(dialog, "key Tab Tab ctrl+a type 73");
    keys(dialog, "key Return");
    EXPECT_TRUE(waitUntil([&] { return saved().duty_cycle[kSlotMaths] == 73; }, 5));
    EXPECT_TRUE(window("^Test configuration and duty cycles$").empty()) << "OK closes the dialog";

    // Preferences: pick the CPU-Math page from the list, untick integer tests.
    dialog = openFromMenu(2, "KalvexTest Preferences");
    ASSERT_FALSE(dialog.empty());
    keys(dialog, "key Down Tab Tab space Return");
    EXPECT_TRUE(waitUntil([&] { return saved().maths_integer == 0; }, 5));
    stop();

    // Started again, each dialog shows what was saved: OK after one more
    // change writes the earlier change back unchanged.
    ASSERT_TRUE(start());
    dialog = openFromMenu(1, "Test configuration and duty cycles");
    ASSERT_FALSE(dialog.empty());
    keys(dialog, "key space Return");
    EXPECT_TRUE(waitUntil([&] { return saved().test_enabled[kSlotMaths] == 0; }, 5));
    EXPECT_EQ(saved().duty_cycle[kSlotMaths], 73);

    dialog = openFromMenu(2, "KalvexTest Preferences");
    ASSERT_FALSE(dialog.empty());
    keys(dialog, "key Down Tab Tab Tab space Return");
    EXPECT_TRUE(waitUntil([&] { return saved().maths_float == 0; }, 5));
    EXPECT_EQ(saved().maths_integer, 0);
    EXPECT_EQ(saved().duty_cycle[kSlotMaths], 73);
}

_testconfig configWith(int mathsDutyCycle)
{
    _testconfig cfg = ValidConfig();
    cfg.duty_cycle[kSlotMaths] = mathsDutyCycle;
    return cfg;
}

// A path after -C is taken as it stands, from the working directory.
TEST_F(SettingsDialogsProgram, ConfigurationNamedByPathIsLoadedAndLastUsedKept)
{
    TempDir work;
    fs::create_directories(work.path() + "/some/dir");
    WriteFile(work.path() + "/some/dir/lab.cfg", ConfigBytes(configWith(37)));
    const std::string lastUsed = ReadFile(dir.file("LastUsed.cfg"));

    Launch launch;
    launch.args = { "-C", "some/dir/lab.cfg" };
    launch.cwd = work.path();
    ASSERT_TRUE(start(launch));
    EXPECT_TRUE(ReadFile(dir.file("LastUsed.cfg")) == lastUsed) << "LastUsed.cfg was rewritten";
    // The settings in use are the file's: OK in the duty cycle dialog saves them.
    const std::string dialog = openFromMenu(1, "Test configuration and duty cycles");
    ASSERT_FALSE(dialog.empty());
    keys(dialog, "key Return");
    EXPECT_TRUE(waitUntil([&] { return saved().duty_cycle[kSlotMaths] == 37; }, 5));
}

// The installed program directory (root's, group-writable, sticky) after a
// first technician used it; a second technician starts the program.
TEST_F(SettingsDialogsProgram, SecondTechnicianOfASharedInstallationKeepsOwnSettings)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as two users";
    constexpr gid_t kGroup = 47100;
    constexpr uid_t kFirst = 47101, kSecond = 47102;
    ASSERT_EQ(::chown(dir.path().c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 03775), 0);
    _testconfig first = configWith(55);
    first.logging_enabled = 1;
    std::snprintf(first.log_directory, sizeof first.log_directory, "%s", dir.path().c_str());
    WriteFile(dir.file("LastUsed.cfg"), ConfigBytes(first));
    WriteFile(dir.file("debug.log"), "first technician\n");
    WriteFile(dir.file("KVX_log.log"), "first technician\n");
    for (const char* name : { "LastUsed.cfg", "debug.log", "KVX_log.log" }) {
        ASSERT_EQ(::chown(dir.file(name).c_str(), kFirst, kGroup), 0);
        ASSERT_EQ(::chmod(dir.file(name).c_str(), 0644), 0);
    }
    const std::string shared = ReadFile(dir.file("LastUsed.cfg"));

    TempDir homes;
    ::chmod(homes.path().c_str(), 0755);
    const std::string home = homes.path() + "/second", run = home + "/run", own = home + "/.config/kalvextest";
    std::vector<std::string> env { "HOME=" + home, "XDG_RUNTIME_DIR=" + run, "-XDG_CONFIG_HOME" };
    for (const std::string& d : { home, run }) {
        ASSERT_EQ(::mkdir(d.c_str(), 0700), 0);
        ASSERT_EQ(::chown(d.c_str(), kSecond, kGroup), 0);
    }
    // The display's key, as the second user's session would have it.
    if (const char* auth = std::getenv("XAUTHORITY")) {
        const std::string copy = home + "/.Xauthority";
        fs::copy_file(auth, copy);
        ASSERT_EQ(::chown(copy.c_str(), kSecond, kGroup), 0);
        env.push_back("XAUTHORITY=" + copy);
    }

    Launch launch;
    launch.uid = kSecond;
    launch.gid = kGroup;
    launch.env = env;
    ASSERT_TRUE(start(launch));
    // Own files, starting from the shared settings.
    EXPECT_EQ(saved(own + "/LastUsed.cfg").duty_cycle[kSlotMaths], 55);
    EXPECT_TRUE(FileExists(own + "/debug.log"));
    EXPECT_TRUE(FileExists(own + "/KVX_log.log"));
    struct stat st { };
    ASSERT_EQ(::stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kSecond);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const std::string dialog = openFromMenu(1, "Test configuration and duty cycles");
    ASSERT_FALSE(dialog.empty());
    keys(dialog, "key Tab Tab ctrl+a type 73");
    keys(dialog, "key Return");
    EXPECT_TRUE(waitUntil([&] { return saved(own + "/LastUsed.cfg").duty_cycle[kSlotMaths] == 73; }, 5));
    EXPECT_TRUE(window("^(Error|Permission Error)").empty());
    EXPECT_TRUE(ReadFile(dir.file("LastUsed.cfg")) == shared) << "the shared LastUsed.cfg was rewritten";
    EXPECT_EQ(ReadFile(dir.file("debug.log")), "first technician\n");
}

} // namespace
