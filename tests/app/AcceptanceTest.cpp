// The built program, copied into a program directory of its own, used
// through a real X server the way a technician uses it: menus and boxes with
// the keyboard, the STOP window with the mouse; what it did is read off the
// screen, the log files, the saved report and the clipboard.
#include "CTest_Disk.h"
#include "ConfigRecord.h"
#include "DesktopDriver.h"
#include "FuseIsoMount.h"
#include "PrivateMountTable.h"
#include "SystemInfo.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The menu bar, left to right.
enum Menu { kFileMenu = 0, kEditMenu = 1, kConfigMenu = 3, kTestMenu = 4 };

const std::string kMainWindow = "^Veltrane \\(TM\\) Software, KalvexTest v1\\.0";
const std::string kBanner = "^KalvexTest test result$";
const std::string kPreRunWarning = "^Getting ready to run Kalvex tests$";
const std::string kSaveDialog = "^Save recent results to disk$";
// The file dialog and the question before overwriting share their title.
const std::string kSaveConfig = "^Save configuration$";

std::string tail(const std::string& text, std::size_t n = 3000)
{
    return text.size() > n ? text.substr(text.size() - n) : text;
}

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// No loop-back plugs here, and the first serial port is this machine's
// console: every serial slot stays off in every run.
void serialOff(_testconfig& cfg)
{
    for (int slot = kSlotSerialFirst; slot <= kSlotSerialGroup; ++slot)
        cfg.test_enabled[slot] = 0;
}

struct ReportRow {
    long cycles = -1;
    std::string operations;
    std::string verdict;
    bool counted() const { return !operations.empty() && operations[0] >= '1' && operations[0] <= '9'; }
};

// The row of the last ASCII result table whose test name starts with
// `name`. Names stand right-aligned in 25 characters (longer ones are cut),
// the other columns are apart by two spaces or more.
ReportRow reportRow(const std::string& report, const std::string& name)
{
    const auto table = report.rfind("Test Name   Cycles");
    if (table == std::string::npos)
        return {};
    for (auto line = report.find('\n', table); line != std::string::npos; line = report.find('\n', line + 1)) {
        const std::string row = report.substr(line + 1, report.find('\n', line + 1) - line - 1);
        if (row.size() < 26)
            break;
        const std::string head = row.substr(0, 25);
        const auto first = head.find_first_not_of(' ');
        if (first == std::string::npos || head.compare(first, name.size(), name) != 0)
            continue;
        std::vector<std::string> cells;
        std::size_t at = 25;
        while ((at = row.find_first_not_of(' ', at)) != std::string::npos) {
            const auto end = row.find("  ", at);
            cells.push_back(row.substr(at, end == std::string::npos ? end : end - at));
            at = end;
        }
        if (cells.size() < 3)
            return {};
        return { std::strtol(cells[0].c_str(), nullptr, 10), cells[1], cells[2] };
    }
    return {};
}

class Acceptance : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string what = Desktop::missing(); !what.empty())
            GTEST_SKIP() << "needs " << what;
        for (const auto& e : fs::directory_iterator(KVX_BIN_DIR))
            if (e.is_regular_file())
                fs::copy_file(e.path(), fs::path(dir.path()) / e.path().filename());
    }
    void TearDown() override { quit(); }

    void launch()
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::chdir(dir.path().c_str());
            // The memory test would lock most of the free memory.
            ::setenv("_KVX_MAX_TEST_RAM_MB_", "48", 1);
            ::unsetenv("QT_QPA_PLATFORM");
            std::freopen("out.txt", "w", stdout);
            ::dup2(::fileno(stdout), 2);
            ::execl("./kalvextest", "./kalvextest", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    // Starts the program and returns its main window once it shows.
    std::string start()
    {
        launch();
        main = desktop.waitForWindow(kMainWindow, 30);
        return main;
    }
    void quit()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    // The program's exit status once it has ended by itself, or -1.
    int waitForExit(double seconds)
    {
        int status = -1;
        if (!WaitUntil([&] { return ::waitpid(m_pid, &status, WNOHANG) == m_pid; }, seconds))
            return -1;
        m_pid = -1;
        return status;
    }

    void writeConfig(const _testconfig& cfg) { WriteFile(dir.file("LastUsed.cfg"), ConfigBytes(cfg)); }
    std::string debugTrace() const { return ReadFile(dir.file("debug.log")); }
    std::size_t finishedRuns() const { return occurrences(debugTrace(), "STOP_TEST_DEBUG_FINISHES"); }

    // Test > Start Test Run, and OK in the warning before the run.
    bool startRun()
    {
        if (!desktop.chooseMenu(main, kTestMenu, 1))
            return false;
        const std::string warning = desktop.waitForWindow(kPreRunWarning, 10);
        return desktop.keys(warning, "key Return") && desktop.waitUntilGone(kPreRunWarning, 10);
    }

    // The banner flashes between its colour on black and black on its
    // colour: screenshots for up to 3 s give the least and the most of the
    // colour's pixels seen, and the most of the other colour's.
    struct Flash {
        double least = 1, most = 0, other = 0;
    };
    Flash watchBanner(const std::string& id, bool failed)
    {
        Flash f;
        WaitUntil(
            [&] {
                const Screenshot shot = desktop.screenshot(id);
                if (shot.pixels() == 0)
                    return false;
                const double colour = failed ? shot.redShare() : shot.greenShare();
                f.least = std::min(f.least, colour);
                f.most = std::max(f.most, colour);
                f.other = std::max(f.other, failed ? shot.greenShare() : shot.redShare());
                return f.most - f.least > 0.3;
            },
            3);
        return f;
    }

    // File > Save Test Log: types `name` into the dialog, with `toHtml`
    // switches the format from text to HTML (Down on the checked radio
    // button, two tabs on), and saves.
    bool saveTestLog(const std::string& name, bool toHtml)
    {
        if (!desktop.chooseMenu(main, kFileMenu, 1))
            return false;
        const std::string dialog = desktop.waitForWindow(kSaveDialog, 10);
        return desktop.keys(dialog, "key ctrl+a type '" + name + "'")
            && (!toHtml || desktop.keys(dialog, "key Tab Tab Down")) && desktop.keys(dialog, "key Return")
            && desktop.waitUntilGone(kSaveDialog, 10);
    }

    // Configuration > Save Config: types `path` into the file dialog and
    // accepts it. True once the dialog is gone.
    bool saveConfig(const std::string& path)
    {
        if (!desktop.chooseMenu(main, kConfigMenu, 4))
            return false;
        const std::string dialog = desktop.waitForWindow(kSaveConfig, 10);
        if (!desktop.keys(dialog, "key ctrl+a type '" + path + "'"))
            return false;
        auto gone = [&] {
            const std::string shown = CommandOutput("xdotool search --onlyvisible --name '" + kSaveConfig + "'");
            return ("\n" + shown).find("\n" + dialog + "\n") == std::string::npos;
        };
        // A first Return may only close the list of names the dialog offers
        // as completions.
        if (!desktop.keys(dialog, "key Return"))
            return false;
        if (WaitUntil(gone, 2))
            return true;
        return desktop.keys(dialog, "key Return") && WaitUntil(gone, 5);
    }

    // Edit > Copy Results To Clipboard; the clipboard's text once
    // `ready` accepts it (or after 5 s).
    std::string copyResults(const std::function<bool(const std::string&)>& ready)
    {
        std::string text;
        if (desktop.chooseMenu(main, kEditMenu, 1))
            WaitUntil([&] { return ready(text = desktop.clipboard()); }, 5);
        return text;
    }

    TempDir dir;
    Desktop desktop;
    std::string main;

private:
    pid_t m_pid = -1;
};

TEST_F(Acceptance, FirstStartExplainsTheMissingSettingsAndSavesTheDefaults)
{
    launch();
    const std::string box = desktop.waitForWindow("^Error loading \\*LastUsed\\.cfg\\*$", 30);
    ASSERT_FALSE(box.empty()) << ReadFile(dir.file("out.txt"));
    EXPECT_TRUE(desktop.window(kMainWindow).empty()) << "the box comes before the main window";
    ASSERT_TRUE(desktop.keys(box, "key Return"));
    main = desktop.waitForWindow(kMainWindow, 30);
    ASSERT_FALSE(main.empty());
    EXPECT_TRUE(desktop.window("^Error loading").empty());

    const std::string saved = ReadFile(dir.file("LastUsed.cfg"));
    const _testconfig expected = ValidConfig();
    ASSERT_EQ(saved.size(), sizeof expected);
    EXPECT_EQ(std::memcmp(saved.data(), &expected, sizeof expected), 0) << "the defaults, with magic and version";

    // File > Exit (its third entry) ends the program normally.
    ASSERT_TRUE(desktop.chooseMenu(main, kFileMenu, 3));
    const int status = waitForExit(15);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(debugTrace().find("DEBUG_LOG_END"), std::string::npos);

    // The saved file is taken as it is at the next start.
    ASSERT_FALSE(start().empty());
    EXPECT_TRUE(desktop.window("^Error loading").empty());
}

// A run the technician ends with STOP while test files are on the disk; the
// maths, 2D and disk tests need no root.
TEST_F(Acceptance, StopEndsTheRunAndRemovesTheTestFiles)
{
    _testconfig cfg = ValidConfig();
    std::memset(cfg.test_enabled, 0, sizeof cfg.test_enabled);
    for (int slot : { +kSlotMaths, +kSlot2D, +kSlotDiskGroup, +kSlotDiskFirst })
        cfg.test_enabled[slot] = 1;
    cfg.disk_file_size_pct[0] = 0.002;
    cfg.auto_stop_time = 0;
    cfg.logging_enabled = 1;
    writeConfig(cfg);
    ASSERT_FALSE(start().empty()) << ReadFile(dir.file("out.txt"));

    // Cancel in the warning starts nothing: Start is still there to choose.
    ASSERT_TRUE(desktop.chooseMenu(main, kTestMenu, 1));
    const std::string warning = desktop.waitForWindow(kPreRunWarning, 10);
    ASSERT_TRUE(desktop.keys(warning, "key Escape"));
    ASSERT_TRUE(desktop.waitUntilGone(kPreRunWarning, 10));
    ASSERT_TRUE(startRun()) << "Start must still be enabled after Cancel";

    auto testFiles = [&] {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind(CTest_Disk::kFilePrefix, 0) == 0)
                found.push_back(e.path().filename().string());
        return found;
    };
    EXPECT_TRUE(WaitUntil([&] { return !testFiles().empty(); }, 15)) << "the disk test writes in the working directory";
    const std::string stop = desktop.waitForWindow("^Stop tests$", 15);
    ASSERT_FALSE(stop.empty()) << tail(debugTrace());
    ASSERT_EQ(finishedRuns(), 0u);

    ASSERT_TRUE(desktop.clickMiddle(stop));
    EXPECT_FALSE(desktop.waitForWindow("^Closing tests$", 10).empty()) << "progress while the tests close";
    ASSERT_TRUE(WaitUntil([&] { return finishedRuns() == 1; }, 60)) << tail(debugTrace());

    EXPECT_TRUE(desktop.waitUntilGone("^Closing tests$", 5));
    EXPECT_TRUE(desktop.window("^Stop tests$").empty());
    EXPECT_TRUE(desktop.window(kBanner).empty()) << "a stop by hand shows no banner";
    EXPECT_NE(debugTrace().find("Test stopped by user"), std::string::npos);
    EXPECT_EQ(testFiles(), std::vector<std::string> {});
    const std::string log = ReadFile(dir.file("KVX_log.log"));
    EXPECT_NE(log.find("Test run stopped"), std::string::npos);
    EXPECT_TRUE(reportRow(log, "CPU - Maths").counted()) << tail(log);
    EXPECT_EQ(reportRow(log, "2D Graphics").verdict, "PASS");
}

// Save Config under a name typed without its extension asks before it
// replaces the file saved under that name; a save into a folder that cannot
// be written shows "Quit" boxes, and dismissing them with Esc leaves the
// program running.
TEST_F(Acceptance, SaveConfigAsksAboutTheFileItWritesAndOutlivesAFailedSave)
{
    writeConfig(ValidConfig());
    WriteFile(dir.file("lab.cfg"), "kept");
    const std::string locked = dir.file("locked");
    fs::create_directory(locked);
    // A folder no one may write into, root included: read-only in a mount
    // table of this process's own, which the program inherits.
    struct Unmount {
        std::string at;
        ~Unmount()
        {
            if (!at.empty())
                ::umount2(at.c_str(), MNT_DETACH);
        }
    } unmount;
    if (::geteuid() == 0) {
        const std::string why = UsePrivateMountTable();
        ASSERT_TRUE(why.empty()) << why;
        ASSERT_EQ(::mount(locked.c_str(), locked.c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
        unmount.at = locked;
        ASSERT_EQ(::mount(nullptr, locked.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0)
            << std::strerror(errno);
    } else {
        ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    }
    ASSERT_FALSE(start().empty()) << ReadFile(dir.file("out.txt"));

    // "lab" is saved as lab.cfg, which exists: No (Esc) keeps it, Yes
    // (Return) replaces it.
    ASSERT_TRUE(saveConfig(dir.file("lab")));
    std::string question = desktop.waitForWindow(kSaveConfig, 10);
    ASSERT_FALSE(question.empty()) << "no question before lab.cfg is replaced";
    ASSERT_TRUE(desktop.keys(question, "key Escape"));
    ASSERT_TRUE(desktop.waitUntilGone(kSaveConfig, 10));
    EXPECT_EQ(ReadFile(dir.file("lab.cfg")), "kept");
    ASSERT_TRUE(saveConfig(dir.file("lab")));
    question = desktop.waitForWindow(kSaveConfig, 10);
    ASSERT_TRUE(desktop.keys(question, "key Return"));
    ASSERT_TRUE(desktop.waitUntilGone(kSaveConfig, 10));
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(dir.file("lab.cfg")).size() == sizeof(_testconfig); }, 5));
    EXPECT_FALSE(FileExists(dir.file("lab")));

    // Into the locked folder: the folder cannot be written, then the file
    // cannot be created. Esc dismisses each "Quit" box and the program goes on.
    ASSERT_TRUE(saveConfig(locked + "/lab"));
    for (const char* box : { "^Error creating \\*lab\\.cfg\\*$", "^Error saving/creating \\*.*/lab\\.cfg\\*$" }) {
        const std::string id = desktop.waitForWindow(box, 10);
        ASSERT_FALSE(id.empty()) << box << "\n" << ReadFile(dir.file("out.txt"));
        ASSERT_TRUE(desktop.keys(id, "key Escape"));
        ASSERT_TRUE(desktop.waitUntilGone(box, 10)) << box;
    }
    EXPECT_EQ(waitForExit(1), -1) << "dismissing a Quit box must not end the program";
    EXPECT_FALSE(desktop.window(kMainWindow).empty());
    EXPECT_FALSE(FileExists(locked + "/lab.cfg"));
}

// The format switch in Save Test Log replaces the file name's extension,
// not the part of the path after a dot in a folder's name.
TEST_F(Acceptance, SaveTestLogKeepsAFolderWithADotInItsName)
{
    writeConfig(ValidConfig());
    fs::create_directory(dir.file("john.doe"));
    ASSERT_FALSE(start().empty()) << ReadFile(dir.file("out.txt"));
    ASSERT_TRUE(saveTestLog(dir.file("john.doe/report"), true));
    EXPECT_NE(ReadFile(dir.file("john.doe/report.html")).find("<html>"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.file("john.html")));
}

// Every test this machine can run, as the default configuration has them,
// with a reference disc in a CD/DVD drive: the disc is made by the shipped
// maker, put into an ISO image and mounted where drives are looked for.
class DiscAcceptance : public Acceptance {
protected:
    void SetUp() override
    {
        Acceptance::SetUp();
        if (IsSkipped())
            return;
        if (::geteuid() != 0)
            GTEST_SKIP() << "memory locking, raw sockets and mounting need root";
        if (!FileExists("/dev/fuse") || std::system("command -v fuseiso xorriso >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "needs FUSE, fuseiso and xorriso";
        const std::string why = UsePrivateMountTable();
        ASSERT_TRUE(why.empty()) << why;
    }
    void TearDown() override
    {
        Acceptance::TearDown();
        m_disc.reset();
    }

    // Mounts the disc, one block changed when `corrupt`, and returns the
    // drive's number as the program will count it at start-up, or -1.
    int insertDisc(bool corrupt)
    {
        const std::string files = dir.file("disc"), iso = dir.file("disc.iso");
        if (std::system(
                ("cd '" + dir.path() + "' && ./kvx-make-refdisc --files 1 --no-iso '" + files + "' >/dev/null").c_str())
            != 0)
            return -1;
        if (corrupt) {
            FILE* f = std::fopen((files + "/KVX-Data-001.dat").c_str(), "r+b");
            if (!f)
                return -1;
            std::fseek(f, 3 * 32768 + 100, SEEK_SET);
            std::fputc(0x5A, f);
            std::fclose(f);
        }
        if (std::system(("xorriso -as mkisofs -quiet -o '" + iso + "' '" + files + "' 2>/dev/null").c_str()) != 0)
            return -1;
        const std::string at = "/media/cdrom-kvxaccept" + std::to_string(::getpid());
        m_disc = std::make_unique<FuseIsoMount>(iso, at);
        if (!m_disc->mounted())
            return -1;
        MultimediaStruct list[kMaxMountEntries] = {};
        // Without a debug file the scan traces every mount entry to
        // standard output.
        std::fflush(stdout);
        const int out = ::dup(1), null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        const int n = BuildMultimediaStruct(list, "/etc/fstab", "/etc/mtab");
        std::fflush(stdout);
        ::dup2(out, 1);
        ::close(out);
        ::close(null);
        for (int unit = 0; unit < n && unit < kNumCdDrives; ++unit)
            if (at == list[unit].mount_point)
                return unit;
        return -1;
    }

    // The defaults with 3D added, the disk test's file small, the reference
    // disc mode on `unit` only and at full speed (at the default half speed
    // one pass over a 10 MB file takes over 16 s), a short automatic stop
    // and the event log on.
    static _testconfig everyTest(int unit)
    {
        _testconfig cfg = ValidConfig();
        serialOff(cfg);
        cfg.test_enabled[kSlot3D] = 1;
        cfg.disk_file_size_pct[0] = 0.002;
        for (int u = 0; u < kNumCdDrives; ++u) {
            cfg.test_enabled[kSlotCdFirst + u] = u == unit ? 1 : 0;
            cfg.cd_test_mode[u] = u == unit ? 3 : 0;
        }
        cfg.duty_cycle[kSlotCdGroup] = cfg.duty_cycle[kSlotCdFirst + unit] = 100;
        cfg.auto_stop_time = 0.1f;
        cfg.logging_enabled = 1;
        return cfg;
    }

private:
    std::unique_ptr<FuseIsoMount> m_disc;
};

TEST_F(DiscAcceptance, EveryTestPassesAndTheResultsCanBeCopiedSavedAndCleared)
{
    const int unit = insertDisc(false);
    ASSERT_GE(unit, 0);
    writeConfig(everyTest(unit));
    ASSERT_FALSE(start().empty()) << ReadFile(dir.file("out.txt"));
    ASSERT_TRUE(startRun());

    const std::string banner = desktop.waitForWindow(kBanner, 90);
    ASSERT_FALSE(banner.empty()) << tail(debugTrace());
    const Flash flash = watchBanner(banner, false);
    EXPECT_GT(flash.least, 0.02) << "green letters at least";
    EXPECT_GT(flash.most, 0.4) << "a green background at times";
    EXPECT_GT(flash.most - flash.least, 0.3) << "flashing";
    EXPECT_LT(flash.other, 0.001) << "nothing red";
    ASSERT_TRUE(desktop.keys(banner, "key Return"));
    EXPECT_TRUE(desktop.waitUntilGone(kBanner, 5));

    const std::string log = ReadFile(dir.file("KVX_log.log"));
    for (const char* block : { "SYSTEM INFORMATION\n", "DETAILED EVENT LOG\n", "Completed started test run",
             "Test run stopped", "RESULT SUMMARY\n", "TEST RUN PASSED\n", "SERIOUS ERROR SUMMARY\n" })
        EXPECT_NE(log.find(block), std::string::npos) << block << "\n" << tail(log);
    for (const char* name : { "CPU - Maths", "Memory (RAM)", "2D Graphics", "3D Graphics", "Disk: Startup Disk",
             "Network: 127.0.0.1", "CD/DVD: CD/DVD (/media/c" }) {
        const ReportRow row = reportRow(log, name);
        EXPECT_EQ(row.verdict, "PASS") << name << "\n" << tail(log);
        EXPECT_TRUE(row.counted()) << name << ": " << row.operations;
    }
    // Under load the others may not finish a cycle in the short run; the
    // disc is read many times over.
    EXPECT_GE(reportRow(log, "CD/DVD: ").cycles, 1);
    EXPECT_EQ(log.find("SERIOUS:"), std::string::npos);

    // Copy: the system information and the result table as text.
    std::string copied
        = copyResults([](const std::string& t) { return t.find("TEST RUN PASSED") != std::string::npos; });
    EXPECT_NE(copied.find("SYSTEM INFORMATION"), std::string::npos) << copied;
    EXPECT_TRUE(reportRow(copied, "CPU - Maths").counted()) << copied;
    EXPECT_EQ(reportRow(copied, "CD/DVD: ").cycles, reportRow(log, "CD/DVD: ").cycles);

    // Save Test Log, switched to HTML: the name typed with .log turns into
    // .html, and the page holds the three blocks.
    ASSERT_TRUE(saveTestLog(dir.file("bench-report.log"), true));
    EXPECT_FALSE(FileExists(dir.file("bench-report.log")));
    const std::string saved = ReadFile(dir.file("bench-report.html"));
    for (const char* block : { "<html>", "SYSTEM INFORMATION", "DETAILED EVENT LOG", "Test run stopped",
             "RESULT SUMMARY", "TEST RUN PASSED", "</html>" })
        EXPECT_NE(saved.find(block), std::string::npos) << block << "\n" << tail(saved);
    EXPECT_EQ(occurrences(saved, ">PASS<"), 7u);

    // Clear results, confirmed: every count is gone from what is copied.
    ASSERT_TRUE(desktop.chooseMenu(main, kEditMenu, 2));
    const std::string confirm = desktop.waitForWindow("^Clear results - Confirm\\?$", 10);
    ASSERT_TRUE(desktop.keys(confirm, "key Return"));
    ASSERT_TRUE(desktop.waitUntilGone("^Clear results", 10));
    copied = copyResults([](const std::string& t) { return reportRow(t, "CPU - Maths").operations == "0"; });
    for (const char* name : { "CPU - Maths", "Memory (RAM)", "CD/DVD: " }) {
        const ReportRow row = reportRow(copied, name);
        EXPECT_EQ(row.cycles, 0) << name << "\n" << tail(copied);
        EXPECT_EQ(row.operations, "0") << name;
    }
}

TEST_F(DiscAcceptance, AChangedDiscBlockFailsTheRunInRedAndInTheHtmlReports)
{
    const int unit = insertDisc(true);
    ASSERT_GE(unit, 0);
    _testconfig cfg = everyTest(unit);
    cfg.log_file_format = 2;
    writeConfig(cfg);
    ASSERT_FALSE(start().empty()) << ReadFile(dir.file("out.txt"));
    ASSERT_TRUE(startRun());

    const std::string banner = desktop.waitForWindow(kBanner, 90);
    ASSERT_FALSE(banner.empty()) << tail(debugTrace());
    const Flash flash = watchBanner(banner, true);
    EXPECT_GT(flash.least, 0.02) << "red letters at least";
    EXPECT_GT(flash.most, 0.4) << "a red background at times";
    EXPECT_GT(flash.most - flash.least, 0.3) << "flashing";
    EXPECT_LT(flash.other, 0.001) << "nothing green";
    ASSERT_TRUE(desktop.keys(banner, "key Return"));

    const std::string error = "test disc data differs from expected pattern";
    const std::string log = ReadFile(dir.file("KVX_log.htm"));
    ASSERT_NE(log.find("<table border"), std::string::npos) << tail(log);
    EXPECT_NE(log.find("TEST RUN FAILED"), std::string::npos) << tail(log);
    const auto summary = log.find("SERIOUS ERROR SUMMARY");
    ASSERT_NE(summary, std::string::npos) << tail(log);
    EXPECT_NE(log.find(error, summary), std::string::npos) << log.substr(summary);
    EXPECT_EQ(occurrences(log, ">FAIL<"), 1u) << "the CD/DVD test alone";

    // The save dialog starts in the log's format: the page names the error
    // and the failing test.
    ASSERT_TRUE(saveTestLog(dir.file("failed-run.htm"), false));
    const std::string saved = ReadFile(dir.file("failed-run.htm"));
    ASSERT_NE(saved.find("<html>"), std::string::npos) << tail(saved);
    const auto events = saved.find("DETAILED EVENT LOG");
    ASSERT_NE(events, std::string::npos) << tail(saved);
    EXPECT_NE(saved.find(error, events), std::string::npos);
    EXPECT_EQ(occurrences(saved, ">FAIL<"), 1u);
    EXPECT_NE(saved.find("TEST RUN FAILED", events), std::string::npos);
}

} // namespace
