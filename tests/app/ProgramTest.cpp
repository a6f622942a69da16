// The built program as a process, run from a copy of its directory the way a
// technician installs it, on the offscreen platform.
#include "ConfigRecord.h"
#include "DesktopDriver.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const std::vector<std::string> kOffscreen { "QT_QPA_PLATFORM=offscreen" };

class Program : public ::testing::Test {
protected:
    ProgramDir prog;

    // Starts with a valid configuration and ends the program once the
    // trace `debugName` shows the window is built; returns that trace.
    std::string runUntilStarted(const std::vector<std::string>& args, const std::string& debugName, bool logging)
    {
        _testconfig cfg = ValidConfig();
        cfg.logging_enabled = logging ? 1 : 0;
        prog.writeConfig(cfg);
        prog.start({ args, kOffscreen });
        prog.waitForText(debugName, "KVXMainApp constructor...", 30);
        prog.stop();
        return ReadFile(prog.dir.file(debugName));
    }
};

// The data files sit beside the executable; -v needs no display and
// leaves no file.
TEST_F(Program, DataFilesAndVersionWithoutADisplay)
{
    EXPECT_TRUE(FileExists(prog.dir.file("KVXErrorClassification.txt")));
    // The user guide Help opens: a real, many-page PDF made by the build.
    const std::string guide = ReadFile(prog.dir.file("kvxhelp.pdf"));
    EXPECT_EQ(guide.rfind("%PDF-", 0), 0u);
    EXPECT_GT(guide.size(), 20000u);
    EXPECT_GE(Occurrences(guide, "/Type /Page\n"), 4u);
    for (const char* option : { "-v", "--version" }) {
        prog.start({ { option }, { "-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM" } });
        const int status = prog.waitForExit(30);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const std::string out = prog.out();
        EXPECT_EQ(out.rfind("Veltrane (TM) Software, KalvexTest v1.0 (1007) Linux - Build: ", 0), 0u) << out;
        EXPECT_EQ(out.find('\n'), out.size() - 1) << "exactly one line";
        EXPECT_FALSE(FileExists(prog.dir.file("debug.log")));
        EXPECT_FALSE(FileExists(prog.dir.file("LastUsed.cfg")));
    }
}

// -d names the trace file, and each word after the options is listed
// before the version line; the start-up report's shell commands print into
// it unless -r 0, and the event log describes this machine.
TEST_F(Program, TraceOptionsAndEventLogDescribeThisMachine)
{
    const auto unameSection = [](const std::string& trace) {
        const std::size_t start = trace.find("UNAME_INFO");
        return start == std::string::npos ? "" : trace.substr(start, trace.find("UNAME_INFO", start + 10) - start);
    };
    const std::string quiet = runUntilStarted({ "-r", "0" }, "debug.log", false);
    ASSERT_NE(quiet.find("UNAME_INFO"), std::string::npos) << quiet.substr(0, 300);
    EXPECT_EQ(unameSection(quiet).find("Linux"), std::string::npos);
    EXPECT_NE(prog.out().find("option --redirect with value `0'"), std::string::npos);

    std::filesystem::remove(prog.dir.file("debug.log"));
    const std::string trace = runUntilStarted({ "-d", "mytrace.txt" }, "mytrace.txt", true);
    EXPECT_FALSE(FileExists(prog.dir.file("debug.log")));
    const std::size_t list = trace.find("non-option ARGV-elements: ");
    ASSERT_NE(list, std::string::npos) << trace.substr(0, 300);
    const std::size_t word = trace.find(" mytrace.txt \n", list);
    ASSERT_NE(word, std::string::npos);
    EXPECT_LT(word, trace.find("Veltrane (TM) Software, KalvexTest"));
    EXPECT_NE(unameSection(trace).find("Linux"), std::string::npos)
        << "uname -a printed to the redirected standard output";

    const std::string log = ReadFile(prog.dir.file("KVX_log.log"));
    ASSERT_NE(log.find("SYSTEM INFORMATION\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Number of CPUs: " + std::to_string(::sysconf(_SC_NPROCESSORS_CONF)) + "\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("RAM: " + std::to_string(::sysconf(_SC_PHYS_PAGES) * 4) + " KBytes\n"), std::string::npos);
    EXPECT_NE(log.find("DETAILED EVENT LOG"), std::string::npos);
}

// Without a display the program says so in one line and ends with status 2,
// before writing anything; a platform that needs none still starts.
TEST_F(Program, WithoutADisplayEndsAtOnceWithOneLine)
{
    int unused = 200; // an X display number no server listens on
    while (FileExists("/tmp/.X11-unix/X" + std::to_string(unused))
        || FileExists("/tmp/.X" + std::to_string(unused) + "-lock"))
        ++unused;
    const std::string noServer = ":" + std::to_string(unused);
    const std::string unset
        = "kalvextest: no display (DISPLAY and WAYLAND_DISPLAY are unset); for a burn-in without one "
          "run kalvextest-cli, or run this program under xvfb-run\n";
    const struct {
        std::vector<std::string> args, env;
        std::string line; // empty: the window is built
    } cases[] = {
        { {}, { "-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM" }, unset },
        { {}, { "DISPLAY=", "-WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb" }, unset },
        { {}, { "DISPLAY=" + noServer, "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM" },
            "kalvextest: cannot connect to display " + noServer
                + "; for a burn-in without one run kalvextest-cli, or run this program under xvfb-run\n" },
        { { "-platform", "offscreen" }, { "-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM" }, "" },
    };
    prog.writeConfig(ValidConfig());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env[0] + " " + c.env[2]);
        std::filesystem::remove(prog.dir.file("debug.log"));
        prog.start({ c.args, c.env });
        if (c.line.empty()) {
            EXPECT_NE(
                prog.waitForText("debug.log", "KVXMainApp constructor...", 30).find("KVXMainApp"), std::string::npos)
                << prog.out();
            prog.stop();
            continue;
        }
        const int status = prog.waitForExit(30);
        ASSERT_TRUE(WIFEXITED(status)) << status << " " << prog.out();
        EXPECT_EQ(WEXITSTATUS(status), 2);
        EXPECT_EQ(prog.out(), c.line);
        EXPECT_FALSE(FileExists(prog.dir.file("debug.log")));
    }
}

} // namespace
