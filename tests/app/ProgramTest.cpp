// The built program as a process, run from a copy of its directory the way a
// technician installs it.
#include "CTest_Disk.h"
#include "ConfigRecord.h"
#include "FuseIsoMount.h"
#include "PrivateMountTable.h"
#include "SystemInfo.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct ProcessResult {
    int status = -1;
    std::string out;
};

class Program : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override
    {
        for (const auto& e : fs::directory_iterator(KVX_BIN_DIR))
            if (e.is_regular_file())
                fs::copy_file(e.path(), fs::path(dir.path()) / e.path().filename());
    }

    // Starts the program with `env` added to (or, with a '-' prefix, removed
    // from) the environment; standard output and error go to out.txt.
    pid_t start(const std::vector<std::string>& args, const std::vector<std::string>& env)
    {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::chdir(dir.path().c_str());
            for (const auto& e : env) {
                if (e[0] == '-')
                    ::unsetenv(e.c_str() + 1);
                else
                    ::putenv(const_cast<char*>(e.c_str()));
            }
            std::freopen("out.txt", "w", stdout);
            ::dup2(::fileno(stdout), 2);
            std::vector<char*> argv { const_cast<char*>("./kalvextest") };
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv("./kalvextest", argv.data());
            ::_exit(127);
        }
        return pid;
    }

    ProcessResult runToEnd(const std::vector<std::string>& args, const std::vector<std::string>& env)
    {
        ProcessResult r;
        pid_t pid = start(args, env);
        ::waitpid(pid, &r.status, 0);
        r.out = ReadFile(dir.file("out.txt"));
        return r;
    }

    // Waits until the debug file shows the window is built, then ends it.
    std::string runUntilStarted(const std::vector<std::string>& args, const std::string& debugName = "debug.log")
    {
        pid_t pid = start(args, { "QT_QPA_PLATFORM=offscreen" });
        std::string trace;
        for (int i = 0; i < 600 && trace.find("KVXMainApp constructor...") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            trace = ReadFile(dir.file(debugName));
        }
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return ReadFile(dir.file(debugName));
    }

    // A first start creates it; the box it shows is not wanted here.
    void writeValidConfig(bool logging = false)
    {
        _testconfig cfg = ValidConfig();
        cfg.logging_enabled = logging ? 1 : 0;
        writeConfig(cfg);
    }
    void writeConfig(const _testconfig& cfg) { WriteFile(dir.file("LastUsed.cfg"), ConfigBytes(cfg)); }

    // Starts the program with -R and waits until its automatic stop has
    // finished (or `limitSec` passed); returns the debug trace.
    std::string runUntilStopped(int limitSec, std::vector<std::string> env = {})
    {
        env.push_back("QT_QPA_PLATFORM=offscreen");
        pid_t pid = start({ "-R", "3000" }, env);
        std::string trace;
        for (int i = 0; i < limitSec * 10 && trace.find("STOP_TEST_DEBUG_FINISHES") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            trace = ReadFile(dir.file("debug.log"));
        }
        // The banner stays up for the technician; the run itself is over.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return ReadFile(dir.file("debug.log"));
    }
};

TEST_F(Program, VersionWorksWithoutADisplay)
{
    for (const auto& args : { std::vector<std::string> { "-v" }, std::vector<std::string> { "--version" } }) {
        ProcessResult r = runToEnd(args, { "-DISPLAY", "-WAYLAND_DISPLAY", "-QT_QPA_PLATFORM" });
        ASSERT_TRUE(WIFEXITED(r.status));
        EXPECT_EQ(WEXITSTATUS(r.status), 0);
        EXPECT_EQ(r.out.rfind("Veltrane (TM) Software, KalvexTest v1.0 (1007) Linux - Build: ", 0), 0u) << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "exactly one line";
        EXPECT_FALSE(FileExists(dir.file("debug.log")));
        EXPECT_FALSE(FileExists(dir.file("LastUsed.cfg")));
    }
}

TEST_F(Program, DataFilesSitBesideTheExecutable)
{
    EXPECT_TRUE(FileExists(dir.file("KVXErrorClassification.txt")));
    // The user guide Help opens: a real, many-page PDF made by the build.
    const std::string guide = ReadFile(dir.file("kvxhelp.pdf"));
    EXPECT_EQ(guide.rfind("%PDF-", 0), 0u);
    EXPECT_GT(guide.size(), 20000u);
    int pages = 0;
    for (auto at = guide.find("/Type /Page\n"); at != std::string::npos; at = guide.find("/Type /Page\n", at + 1))
        ++pages;
    EXPECT_GE(pages, 4);
}

TEST_F(Program, RedirectedOutputOfTheReportLandsInTheDebugFile)
{
    writeValidConfig();
    const std::string trace = runUntilStarted({});
    const std::size_t start = trace.find("UNAME_INFO");
    ASSERT_NE(start, std::string::npos) << trace;
    const std::size_t stop = trace.find("UNAME_INFO", start + 10);
    ASSERT_NE(stop, std::string::npos);
    EXPECT_NE(trace.substr(start, stop - start).find("Linux"), std::string::npos)
        << "uname -a printed to the redirected standard output";
    EXPECT_NE(trace.find("sizeof(testconfig) = 19680"), std::string::npos);
}

TEST_F(Program, RedirectModeZeroKeepsChildOutputOut)
{
    writeValidConfig();
    const std::string trace = runUntilStarted({ "-r", "0" });
    const std::size_t start = trace.find("UNAME_INFO");
    ASSERT_NE(start, std::string::npos);
    const std::size_t stop = trace.find("UNAME_INFO", start + 10);
    EXPECT_EQ(trace.substr(start, stop - start).find("Linux"), std::string::npos);
    EXPECT_NE(ReadFile(dir.file("out.txt")).find("option --redirect with value `0'"), std::string::npos);
}

TEST_F(Program, DebugOptionNamesTheTraceFileAndListsTheWord)
{
    writeValidConfig();
    const std::string trace = runUntilStarted({ "-d", "mytrace.txt" }, "mytrace.txt");
    // Each word is a timed trace call of its own.
    const std::size_t list = trace.find("non-option ARGV-elements: ");
    ASSERT_NE(list, std::string::npos) << trace.substr(0, 300);
    const std::size_t word = trace.find(" mytrace.txt \n", list);
    ASSERT_NE(word, std::string::npos);
    EXPECT_LT(word, trace.find("Veltrane (TM) Software, KalvexTest"));
    EXPECT_FALSE(FileExists(dir.file("debug.log")));
}

// End-to-end: a prepared configuration, an automatic start and stop, and
// the files the program leaves behind.
TEST_F(Program, AutomaticRunStopsByItselfAndReports)
{
    _testconfig cfg = ValidConfig();
    std::memset(cfg.test_enabled, 0, sizeof cfg.test_enabled);
    cfg.test_enabled[kSlotMaths] = 1;
    cfg.duty_cycle[kSlotMaths] = 100;
    cfg.auto_stop_time = 0.1f;
    cfg.logging_enabled = 1;
    writeConfig(cfg);

    const std::string trace = runUntilStopped(60);
    ASSERT_NE(trace.find("STOP_TEST_DEBUG_FINISHES"), std::string::npos)
        << trace.substr(trace.size() > 3000 ? trace.size() - 3000 : 0);
    EXPECT_NE(trace.find("Test stopped automatically"), std::string::npos);
    EXPECT_NE(trace.find("Test Configured[1]: CPU - Maths"), std::string::npos);

    const std::string log = ReadFile(dir.file("KVX_log.log"));
    EXPECT_NE(log.find("Completed started test run"), std::string::npos);
    EXPECT_NE(log.find("Test run stopped"), std::string::npos);
    EXPECT_NE(log.find("RESULT SUMMARY"), std::string::npos);
    EXPECT_NE(log.find("TEST RUN PASSED\n"), std::string::npos) << log;
    const auto row = log.find("CPU - Maths   ");
    ASSERT_NE(row, std::string::npos);
    EXPECT_EQ(log.substr(row + 14, 2).find_first_not_of("0 "), 0u) << "at least one cycle: " << log.substr(row, 80);

    // The configuration kept the log's state: counts and the cleared header flag.
    _testconfig after {};
    const std::string bytes = ReadFile(dir.file("LastUsed.cfg"));
    ASSERT_EQ(bytes.size(), sizeof after);
    std::memcpy(&after, bytes.data(), sizeof after);
    EXPECT_EQ(after.log_line_count, 23 + 30 + 30);
    EXPECT_EQ(after.log_header_written, 0);
    EXPECT_FLOAT_EQ(after.auto_stop_time, 0.1f);
}

// The ASCII report row of a slot (the name right-aligned): its cycles, and
// PASS or FAIL.
std::pair<long, std::string> reportRow(const std::string& log, const std::string& name)
{
    const auto table = log.rfind("Test Name   Cycles");
    const auto at = table == std::string::npos ? table : log.find(name, table);
    if (at == std::string::npos)
        return { -1, "missing" };
    // The name field is 25 characters wide; a longer name is cut.
    const auto start = log.rfind('\n', at) + 1;
    const std::string row = log.substr(start + 25, log.find('\n', at) - start - 25);
    const long cycles = std::strtol(row.c_str(), nullptr, 10);
    const std::string verdict = row.find(" PASS ") != std::string::npos ? "PASS"
        : row.find(" FAIL ") != std::string::npos                       ? "FAIL"
                                                                        : row;
    return { cycles, verdict };
}

// Several engines at once, as a burn-in runs them: the processor, locked
// memory (kept small), test files in the working directory and echo traffic
// on the loopback.
TEST_F(Program, EnginesRunTogetherAndEachPasses)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "memory locking and raw sockets need root";
    _testconfig cfg = ValidConfig();
    std::memset(cfg.test_enabled, 0, sizeof cfg.test_enabled);
    for (int slot : { static_cast<int>(kSlotMaths), static_cast<int>(kSlotMemory), static_cast<int>(kSlotDiskGroup),
             static_cast<int>(kSlotDiskFirst), static_cast<int>(kSlotNetworkGroup),
             static_cast<int>(kSlotNetworkFirst) }) {
        cfg.test_enabled[slot] = 1;
        cfg.duty_cycle[slot] = 100;
    }
    cfg.disk_file_size_pct[0] = 0.01;
    std::strcpy(cfg.network_address[0], "127.0.0.1");
    cfg.auto_stop_time = 0.3f;
    cfg.logging_enabled = 1;
    writeConfig(cfg);

    const std::string trace = runUntilStopped(120, { "_KVX_MAX_TEST_RAM_MB_=48" });
    ASSERT_NE(trace.find("STOP_TEST_DEBUG_FINISHES"), std::string::npos)
        << trace.substr(trace.size() > 3000 ? trace.size() - 3000 : 0);
    const std::string log = ReadFile(dir.file("KVX_log.log"));
    EXPECT_NE(log.find("TEST RUN PASSED\n"), std::string::npos)
        << log.substr(log.size() > 4000 ? log.size() - 4000 : 0);
    for (const char* name : { "CPU - Maths", "Memory (RAM)", "Network: 127.0.0.1" }) {
        const auto [cycles, verdict] = reportRow(log, name);
        EXPECT_GE(cycles, 1) << name;
        EXPECT_EQ(verdict, "PASS") << name;
    }
    EXPECT_EQ(reportRow(log, " Disk: ").second, "PASS");
    // The disk test's files went with the stop.
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename().string().rfind(CTest_Disk::kFilePrefix, 0), 0u) << e.path() << " was left behind";
}

// The reference test disc, made by the shipped maker, burnt to an ISO image
// and mounted where the program looks for CD/DVD drives; once intact, once
// with one block of one file changed.
class ReferenceDiscRun : public Program {
protected:
    // Runs the CD/DVD test alone on the disc made from `files`; returns the log.
    std::string runOnDisc(const std::string& iso)
    {
        const std::string at = "/media/cdrom-kvxe2e" + std::to_string(::getpid());
        FuseIsoMount mount(iso, at);
        if (!mount.mounted())
            return "mount failed";
        // The drive's number as the program will count it at start-up.
        MultimediaStruct list[kMaxMountEntries] = {};
        const int n = BuildMultimediaStruct(list, "/etc/fstab", "/etc/mtab");
        int unit = 0;
        while (unit < n && at != list[unit].mount_point)
            ++unit;
        if (unit >= n || unit >= kNumCdDrives)
            return "not a CD/DVD drive";
        _testconfig cfg = ValidConfig();
        std::memset(cfg.test_enabled, 0, sizeof cfg.test_enabled);
        cfg.test_enabled[kSlotCdGroup] = cfg.test_enabled[kSlotCdFirst + unit] = 1;
        cfg.duty_cycle[kSlotCdGroup] = cfg.duty_cycle[kSlotCdFirst] = 100;
        std::memset(cfg.cd_test_mode, 0, sizeof cfg.cd_test_mode);
        cfg.cd_test_mode[unit] = 3;
        cfg.auto_stop_time = 0.15f;
        cfg.logging_enabled = 1;
        writeConfig(cfg);
        const std::string trace = runUntilStopped(90);
        if (trace.find("STOP_TEST_DEBUG_FINISHES") == std::string::npos)
            return "did not stop: " + trace.substr(trace.size() > 2000 ? trace.size() - 2000 : 0);
        return ReadFile(dir.file("KVX_log.log"));
    }
    std::string makeDisc(const std::string& name, bool corrupt)
    {
        const std::string files = dir.file(name), iso = dir.file(name + ".iso");
        if (std::system(
                ("cd '" + dir.path() + "' && ./kvx-make-refdisc --files 2 --no-iso '" + files + "' >/dev/null").c_str())
            != 0)
            return "";
        if (corrupt) {
            // One byte of block 3 of the second file.
            FILE* f = std::fopen((files + "/KVX-Data-002.dat").c_str(), "r+b");
            if (!f)
                return "";
            std::fseek(f, 3 * 32768 + 100, SEEK_SET);
            std::fputc(0x5A, f);
            std::fclose(f);
        }
        if (std::system(("xorriso -as mkisofs -quiet -o '" + iso + "' '" + files + "' 2>/dev/null").c_str()) != 0)
            return "";
        return iso;
    }
};

TEST_F(ReferenceDiscRun, IntactDiscPassesAndAChangedBlockFails)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting through FUSE needs root";
    // Drives are numbered by the mount table: other runs' media must not
    // move ours.
    const std::string isolated = UsePrivateMountTable();
    ASSERT_EQ(isolated, "");
    const std::string good = makeDisc("good", false), bad = makeDisc("bad", true);
    ASSERT_FALSE(good.empty());
    ASSERT_FALSE(bad.empty());

    std::string log = runOnDisc(good);
    auto [cycles, verdict] = reportRow(log, " CD/DVD: ");
    EXPECT_GE(cycles, 1) << log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
    EXPECT_EQ(verdict, "PASS");
    EXPECT_NE(log.find("TEST RUN PASSED\n"), std::string::npos);

    for (const char* old : { "KVX_log.log", "debug.log" })
        std::remove(dir.file(old).c_str());
    log = runOnDisc(bad);
    std::tie(cycles, verdict) = reportRow(log, " CD/DVD: ");
    EXPECT_EQ(verdict, "FAIL") << log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
    EXPECT_NE(log.find("TEST RUN FAILED\n"), std::string::npos);
    const auto summary = log.find("SERIOUS ERROR SUMMARY");
    ASSERT_NE(summary, std::string::npos);
    EXPECT_NE(log.find("test disc data differs from expected pattern", summary), std::string::npos)
        << log.substr(summary);
}

TEST_F(Program, LogFileDescribesThisMachine)
{
    writeValidConfig(true);
    runUntilStarted({});
    const std::string log = ReadFile(dir.file("KVX_log.log"));
    ASSERT_NE(log.find("SYSTEM INFORMATION\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Number of CPUs: " + std::to_string(::sysconf(_SC_NPROCESSORS_CONF)) + "\n"), std::string::npos)
        << log;
    const long ramKb = ::sysconf(_SC_PHYS_PAGES) * 4;
    EXPECT_NE(log.find("RAM: " + std::to_string(ramKb) + " KBytes\n"), std::string::npos);
    EXPECT_NE(log.find("DETAILED EVENT LOG"), std::string::npos);
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no X display: the screen size is not known";
    // The screen as the X server itself reports it.
    FILE* p = ::popen("xdpyinfo | sed -n 's/.*dimensions: *\\([0-9]*x[0-9]*\\).*/\\1/p;s/.*depth of root window: "
                      "*\\([0-9]*\\).*/\\1/p'",
        "r");
    char buf[128] = {};
    std::string screen;
    while (p && std::fgets(buf, sizeof buf, p))
        screen += buf;
    if (p)
        ::pclose(p);
    const auto nl = screen.find('\n');
    ASSERT_NE(nl, std::string::npos) << screen;
    const std::string expected
        = "Video resolution: " + screen.substr(0, nl) + "x" + screen.substr(nl + 1, screen.find('\n', nl + 1) - nl - 1);
    EXPECT_NE(log.find(expected + "\n"), std::string::npos) << expected << "\n" << log;
}

} // namespace
