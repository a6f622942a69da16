// The built program used through a real X server as a technician uses it:
// keyboard for menus and boxes, the mouse for STOP.
#include "CTest_Disk.h"
#include "ConfigRecord.h"
#include "DesktopDriver.h"
#include "FuseIsoMount.h"
#include "PrivateMountTable.h"
#include "SystemInfo.h"
#include "TempDir.h"
#include "TraceCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The menu bar, left to right.
enum Menu { kFileMenu = 0, kEditMenu = 1, kTestMenu = 4 };

const std::string kMainWindow = "^Veltrane \\(TM\\) Software, KalvexTest v1\\.0";
const std::string kBanner = "^KalvexTest test result$";
const std::string kPreRunWarning = "^Getting ready to run Kalvex tests$";
const std::string kSaveDialog = "^Save recent results to disk$";

class Acceptance : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string what = Desktop::missing(); !what.empty())
            GTEST_SKIP() << "needs " << what;
    }

    // Starts the program; the memory test would lock most of the free memory.
    void launch() { prog.start({ {}, { "_KVX_MAX_TEST_RAM_MB_=48", "-QT_QPA_PLATFORM" } }); }
    // Starts the program and returns its main window once it shows.
    std::string start()
    {
        launch();
        return main = desktop.waitForWindow(kMainWindow, 30);
    }
    std::string debugTrace() const { return ReadFile(prog.dir.file("debug.log")); }
    std::size_t finishedRuns() const { return Occurrences(debugTrace(), "STOP_TEST_DEBUG_FINISHES"); }

    // Test > Start Test Run, and `answer` to the warning before the run.
    bool startRun(const std::string& answer = "key Return")
    {
        return desktop.chooseMenu(main, kTestMenu, 1) && desktop.keys(desktop.waitForWindow(kPreRunWarning, 10), answer)
            && desktop.waitUntilGone(kPreRunWarning, 10);
    }

    ProgramDir prog;
    Desktop desktop;
    std::string main;
};

TEST_F(Acceptance, FirstStartExplainsTheMissingSettingsAndSavesTheDefaults)
{
    launch();
    const std::string box = desktop.waitForWindow("^Error loading \\*LastUsed\\.cfg\\*$", 30);
    ASSERT_FALSE(box.empty()) << prog.out();
    EXPECT_TRUE(desktop.window(kMainWindow).empty()) << "the box comes before the main window";
    ASSERT_TRUE(desktop.keys(box, "key Return"));
    main = desktop.waitForWindow(kMainWindow, 30);
    ASSERT_FALSE(main.empty());

    const std::string saved = ReadFile(prog.dir.file("LastUsed.cfg"));
    const _testconfig expected = ValidConfig();
    ASSERT_EQ(saved.size(), sizeof expected);
    EXPECT_EQ(std::memcmp(saved.data(), &expected, sizeof expected), 0) << "the defaults, with magic and version";

    // File > Exit (its third entry) ends the program normally.
    ASSERT_TRUE(desktop.chooseMenu(main, kFileMenu, 3));
    const int status = prog.waitForExit(15);
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
    prog.writeConfig(cfg);
    ASSERT_FALSE(start().empty()) << prog.out();

    // Cancel in the warning starts nothing: Start is still there to choose.
    ASSERT_TRUE(startRun("key Escape"));
    ASSERT_TRUE(startRun()) << "Start must still be enabled after Cancel";

    auto testFiles = [&] {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(prog.dir.path()))
            if (e.path().filename().string().rfind(CTest_Disk::kFilePrefix, 0) == 0)
                found.push_back(e.path().filename().string());
        return found;
    };
    EXPECT_TRUE(WaitUntil([&] { return !testFiles().empty(); }, 15)) << "the disk test writes in the working directory";
    const std::string stop = desktop.waitForWindow("^Stop tests$", 15);
    ASSERT_FALSE(stop.empty()) << Tail(debugTrace());
    ASSERT_EQ(finishedRuns(), 0u);

    ASSERT_TRUE(desktop.clickMiddle(stop));
    EXPECT_FALSE(desktop.waitForWindow("^Closing tests$", 10).empty()) << "progress while the tests close";
    ASSERT_TRUE(WaitUntil([&] { return finishedRuns() == 1; }, 60)) << Tail(debugTrace());

    EXPECT_TRUE(desktop.waitUntilGone("^Closing tests$", 5));
    EXPECT_TRUE(desktop.window("^Stop tests$").empty());
    EXPECT_TRUE(desktop.window(kBanner).empty()) << "a stop by hand shows no banner";
    EXPECT_NE(debugTrace().find("Test stopped by user"), std::string::npos);
    EXPECT_EQ(testFiles(), std::vector<std::string> {});
    const std::string log = ReadFile(prog.dir.file("KVX_log.log"));
    EXPECT_NE(log.find("Test run stopped"), std::string::npos);
    EXPECT_TRUE(FindReportRow(log, "CPU - Maths").counted()) << Tail(log);
    EXPECT_EQ(FindReportRow(log, "2D Graphics").verdict, "PASS");
}

// Every test this machine can run, with a reference disc from the shipped
// maker mounted where CD/DVD drives are looked for.
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
        prog.stop();
        m_disc.reset();
    }

    // Returns the drive's number as the program will count it, or -1.
    int insertDisc()
    {
        const std::string files = prog.dir.file("disc"), iso = prog.dir.file("disc.iso");
        if (std::system(("cd '" + prog.dir.path() + "' && ./kvx-make-refdisc --files 1 --no-iso '" + files
                + "' >/dev/null && xorriso -as mkisofs -quiet -o '" + iso + "' '" + files + "' 2>/dev/null")
                            .c_str())
            != 0)
            return -1;
        const std::string at = "/media/cdrom-kvxaccept" + std::to_string(::getpid());
        m_disc = std::make_unique<FuseIsoMount>(iso, at);
        if (!m_disc->mounted())
            return -1;
        MultimediaStruct list[kMaxMountEntries] = {};
        TraceCapture quiet; // else the scan traces every entry to standard output
        const int n = BuildMultimediaStruct(list, "/etc/fstab", "/etc/mtab");
        for (int unit = 0; unit < n && unit < kNumCdDrives; ++unit)
            if (at == list[unit].mount_point)
                return unit;
        return -1;
    }

    // The reference disc at full speed (half speed takes 16 s a pass); no
    // serial slot, as the first port is this machine's console.
    static _testconfig everyTest(int unit)
    {
        _testconfig cfg = ValidConfig();
        for (int slot = kSlotSerialFirst; slot <= kSlotSerialGroup; ++slot)
            cfg.test_enabled[slot] = 0;
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

TEST_F(DiscAcceptance, EveryTestPassesAndTheResultsCanBeCopiedAndSaved)
{
    const int unit = insertDisc();
    ASSERT_GE(unit, 0);
    prog.writeConfig(everyTest(unit));
    ASSERT_FALSE(start().empty()) << prog.out();
    ASSERT_TRUE(startRun());

    const std::string banner = desktop.waitForWindow(kBanner, 90);
    ASSERT_FALSE(banner.empty()) << Tail(debugTrace());
    ASSERT_TRUE(desktop.keys(banner, "key Return"));
    EXPECT_TRUE(desktop.waitUntilGone(kBanner, 5));

    const std::string log = ReadFile(prog.dir.file("KVX_log.log"));
    for (const char* block : { "SYSTEM INFORMATION\n", "DETAILED EVENT LOG\n", "Completed started test run",
             "Test run stopped", "RESULT SUMMARY\n", "TEST RUN PASSED\n", "SERIOUS ERROR SUMMARY\n" })
        EXPECT_NE(log.find(block), std::string::npos) << block << "\n" << Tail(log);
    for (const char* name : { "CPU - Maths", "Memory (RAM)", "2D Graphics", "3D Graphics", "Disk: Startup Disk",
             "Network: 127.0.0.1", "CD/DVD: CD/DVD (/media/c" }) {
        const ReportRow row = FindReportRow(log, name);
        EXPECT_EQ(row.verdict, "PASS") << name << "\n" << Tail(log);
        EXPECT_TRUE(row.counted()) << name << ": " << row.operations;
    }
    // Under load the others may not finish a cycle in the short run; the
    // disc is read many times over.
    EXPECT_GE(FindReportRow(log, "CD/DVD: ").cycles, 1);
    EXPECT_EQ(log.find("SERIOUS:"), std::string::npos);

    // Copy: the system information and the result table as text.
    ASSERT_TRUE(desktop.chooseMenu(main, kEditMenu, 1));
    std::string copied;
    WaitUntil([&] { return (copied = desktop.clipboard()).find("TEST RUN PASSED") != std::string::npos; }, 5);
    EXPECT_NE(copied.find("SYSTEM INFORMATION"), std::string::npos) << copied;
    EXPECT_TRUE(FindReportRow(copied, "CPU - Maths").counted()) << copied;
    EXPECT_EQ(FindReportRow(copied, "CD/DVD: ").cycles, FindReportRow(log, "CD/DVD: ").cycles);

    // Save Test Log as HTML (Down on the radio button two tabs on): the
    // name typed with .log turns into .html.
    ASSERT_TRUE(desktop.chooseMenu(main, kFileMenu, 1));
    const std::string dialog = desktop.waitForWindow(kSaveDialog, 10);
    ASSERT_TRUE(desktop.keys(dialog, "key ctrl+a type '" + prog.dir.file("bench-report.log") + "'")
        && desktop.keys(dialog, "key Tab Tab Down") && desktop.keys(dialog, "key Return"));
    ASSERT_TRUE(desktop.waitUntilGone(kSaveDialog, 10));
    EXPECT_FALSE(FileExists(prog.dir.file("bench-report.log")));
    const std::string saved = ReadFile(prog.dir.file("bench-report.html"));
    for (const char* block : { "<html>", "SYSTEM INFORMATION", "DETAILED EVENT LOG", "Test run stopped",
             "RESULT SUMMARY", "TEST RUN PASSED", "</html>" })
        EXPECT_NE(saved.find(block), std::string::npos) << block << "\n" << Tail(saved);
    // Seven tests and the hardware health row.
    EXPECT_EQ(Occurrences(saved, ">PASS<"), 8u);
}

} // namespace
