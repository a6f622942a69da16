// The headless runner as a process, run from a copy of the program directory
// with no display: its exit statuses, reports and clean stop on a signal.
#include "ConfigFile.h"
#include "ConfigRecord.h"
#include "DesktopDriver.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>

namespace {

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

const std::vector<std::string> kNoDisplay { "-DISPLAY", "-WAYLAND_DISPLAY", "_KVX_MAX_TEST_RAM_MB_=48" };

class Cli : public ::testing::Test {
protected:
    ProgramDir prog;

    // Runs the runner to its end; its exit status (-1: it did not end).
    int run(const std::vector<std::string>& args, const std::string& program = "./kalvextest-cli", double seconds = 120)
    {
        prog.start({ args, kNoDisplay, program });
        const int status = prog.waitForExit(seconds);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Whether `python` (given the file names as argv[1..]) exits with 0.
    bool python(const std::string& code, const std::vector<std::string>& files)
    {
        std::string command = "python3 -c '" + code + "'";
        for (const std::string& f : files)
            command += " '" + f + "'";
        return std::system((command + " >&2").c_str()) == 0;
    }
    bool testFilesLeft() const
    {
        for (const auto& e : std::filesystem::directory_iterator(prog.dir.path()))
            if (e.path().filename().string().rfind("~kvxtest", 0) == 0)
                return true;
        return false;
    }
    // Whether the Python expression holds of the JSON report r (and the
    // report validates against the schema).
    bool jsonHolds(const std::string& expression)
    {
        return python("import json,sys,jsonschema; r=json.load(open(sys.argv[1])); "
                      "jsonschema.validate(r, json.load(open(sys.argv[2]))); assert "
                + expression,
            { prog.dir.file("r.json"), KVX_SOURCE_DIR "/docs/report.schema.json" });
    }
};

TEST_F(Cli, BadUsageAndNothingToRunAreTold)
{
    WriteFile(prog.dir.file("junk.cfg"), "not a configuration");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        { { "--tests", "maths,fans" }, 2, "unknown test 'fans'" },
        { { "--tests", "disk:20" }, 2, "no disk '20' for disk (0-19)" },
        { { "--duty", "maths=101" }, 2, "bad --duty 'maths=101'" },
        { { "--minutes", "-1" }, 2, "bad --minutes '-1'" },
        { { "--json", "-", "--prom", "-" }, 2, "only one report may go to standard output" },
        { { "-C", "missing.cfg" }, 2, "cannot read configuration missing.cfg: No such file or directory" },
        { { "-C", "junk.cfg" }, 2, "cannot read configuration junk.cfg: not a configuration file" },
        { { "--tests", "2d,3d", "--json", "r.json" }, 3, "3D Graphics: not run, needs a display (run kalvextest)" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        EXPECT_EQ(run(c.args), c.status);
        EXPECT_NE(prog.out().find(c.says), std::string::npos) << prog.out();
    }
    EXPECT_TRUE(jsonHolds("r[\"run\"][\"verdict\"] == \"NOT RUN\" and len(r[\"tests\"]) == 2"));

    // Without the privileges of the memory and network tests nothing runs.
    ASSERT_EQ(::chown(prog.dir.path().c_str(), 65534, 65534), 0);
    prog.start({ { "--tests", "memory,network:127.0.0.1" }, kNoDisplay, "./kalvextest-cli", 65534, 65534 });
    const int status = prog.waitForExit(60);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 3);
    EXPECT_NE(prog.out().find("Memory (RAM): not run, needs root or CAP_IPC_LOCK"), std::string::npos) << prog.out();
    EXPECT_NE(prog.out().find("nothing could run"), std::string::npos);
}

TEST_F(Cli, APassingRunWritesReportsThatValidateAndKeepsTheConfiguration)
{
    // With the event log on, the log saves its line counts during the run.
    _testconfig cfg = ValidConfig();
    cfg.logging_enabled = 1;
    prog.writeConfig(cfg);
    EXPECT_EQ(run({ "--tests", "maths,memory,disk:0,network:127.0.0.1", "--minutes", "0.15", "--json", "r.json",
                  "--junit", "r.xml", "--prom", "r.prom", "--report", "r.txt" }),
        0)
        << Tail(prog.out());
    EXPECT_NE(prog.out().find("kalvextest-cli: PASSED"), std::string::npos);
    // The four tests and the hardware health monitor's row.
    EXPECT_TRUE(jsonHolds("len(r[\"tests\"]) == 5 and all(t[\"result\"] == \"PASS\" for t in r[\"tests\"]) and "
                          "r[\"health\"][\"kernelLog\"][\"available\"]"));
    EXPECT_TRUE(python("import sys,xml.etree.ElementTree as E; s=E.parse(sys.argv[1]).getroot(); "
                       "assert s.get(\"tests\") == \"5\" and s.get(\"failures\") == \"0\"",
        { prog.dir.file("r.xml") }));
    EXPECT_NE(ReadFile(prog.dir.file("r.prom")).find("\nkalvextest_run_passed 1\n"), std::string::npos);
    EXPECT_NE(ReadFile(prog.dir.file("r.txt")).find("DETAILED EVENT LOG"), std::string::npos);
    EXPECT_FALSE(testFilesLeft());
    // The options were for this run only.
    _testconfig after {};
    ASSERT_EQ(ConfigFileLoad("LastUsed.cfg", prog.dir.path().c_str(), &after), 0);
    EXPECT_EQ(0, std::memcmp(after.test_enabled, cfg.test_enabled, sizeof cfg.test_enabled));
    EXPECT_EQ(after.auto_stop_time, cfg.auto_stop_time);
}

// This machine has no temperature sensors and no EDAC, and without
// CAP_SYSLOG the kernel log is closed: each is said to be not available,
// once in the event log and once in the summary, and the run passes.
TEST_F(Cli, WithoutHealthSourcesTheRunSaysSoOnceEachAndPasses)
{
    ASSERT_EQ(::chown(prog.dir.path().c_str(), 65534, 65534), 0);
    prog.start({ { "--tests", "maths", "--minutes", "0.05", "--report", "r.txt", "--json", "r.json" }, kNoDisplay,
        "./kalvextest-cli", 65534, 65534 });
    const int status = prog.waitForExit(60);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << Tail(prog.out());
    const std::string report = ReadFile(prog.dir.file("r.txt"));
    const std::size_t summary = report.find("RESULT SUMMARY");
    ASSERT_NE(summary, std::string::npos) << report;
    for (const char* source : { "Temperatures", "ECC", "Kernel log" }) {
        const std::string said = std::string(source) + ": not available (";
        const std::string block
            = std::string(source) + ":" + std::string(14 - std::strlen(source), ' ') + "not available (";
        EXPECT_EQ(Count(report.substr(0, summary), said), 1u) << source << "\n" << report;
        EXPECT_EQ(Count(report.substr(summary), block), 1u) << source << "\n" << report;
    }
    EXPECT_NE(report.find("/dev/kmsg: Operation not permitted (needs CAP_SYSLOG)"), std::string::npos);
    EXPECT_NE(report.find("TEST RUN PASSED"), std::string::npos);
    EXPECT_TRUE(jsonHolds("r[\"run\"][\"verdict\"] == \"PASS\" and not r[\"health\"][\"ecc\"][\"available\"]"));
}

TEST_F(Cli, AHostThatDropsRepliesFailsTheRunWithItsError)
{
    // A network namespace of our own whose loopback ignores echo requests;
    // every lost reply an error, soon.
    _testconfig cfg = ValidConfig();
    cfg.network_error_option = 0;
    cfg.network_timeout_ms = 300;
    prog.writeConfig(cfg);
    const std::string script = "ip link set lo up && sysctl -qw net.ipv4.icmp_echo_ignore_all=1 && exec "
                               "./kalvextest-cli --tests network:127.0.0.1 --minutes 0.15 --json r.json";
    EXPECT_EQ(run({ "-n", "sh", "-c", script }, "unshare"), 1) << Tail(prog.out());
    EXPECT_NE(prog.out().find("kalvextest-cli: FAILED"), std::string::npos);
    EXPECT_TRUE(jsonHolds("r[\"run\"][\"verdict\"] == \"FAIL\" and r[\"tests\"][0][\"result\"] == \"FAIL\" and "
                          "r[\"tests\"][0][\"lastError\"][\"code\"] == 37 and "
                          "\"no echo reply\" in r[\"tests\"][0][\"lastError\"][\"text\"]"));
}

TEST_F(Cli, AnInterruptStopsCleanlyWithCompleteReports)
{
    prog.start({ { "--tests", "maths,disk:0", "--minutes", "5", "--json", "r.json", "--report", "r.txt" }, kNoDisplay,
        "./kalvextest-cli" });
    ASSERT_TRUE(WaitUntil([&] { return testFilesLeft(); }, 60)) << prog.out();
    ::kill(prog.pid, SIGINT);
    const int status = prog.waitForExit(30);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 130) << Tail(prog.out());
    EXPECT_FALSE(testFilesLeft());
    EXPECT_TRUE(jsonHolds("r[\"run\"][\"interrupted\"] and r[\"run\"][\"verdict\"] == \"INTERRUPTED\""));
    const std::string report = ReadFile(prog.dir.file("r.txt"));
    EXPECT_NE(report.find("Test run interrupted by SIGINT"), std::string::npos);
    EXPECT_NE(report.find("RESULT SUMMARY"), std::string::npos) << Tail(report);
}

} // namespace
