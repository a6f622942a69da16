#include "TraceCapture.h"
#include "StartupReport.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TempDir.h"
#include "TestSlots.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <regex>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

utsname realUname()
{
    utsname u {};
    EXPECT_EQ(::uname(&u), 0);
    return u;
}

// The whole report against tests/data/startup-report.txt, with a recorder in
// place of the shell that leaves a marker where a command's output would
// land, and every number after " = " read as "#"; then the numbers that
// matter. A soft core limit of its own tells the limit rows apart, and the
// report must refresh gSysInfo.
TEST(StartupReport, MatchesTheGoldenReportAndShowsLimitsSystemAndSizes)
{
    rlimit core {};
    ASSERT_EQ(::getrlimit(RLIMIT_CORE, &core), 0);
    rlimit changed = core;
    changed.rlim_cur = std::min<rlim_t>(4096, core.rlim_max);
    ASSERT_EQ(::setrlimit(RLIMIT_CORE, &changed), 0);
    std::memset(&gSysInfo, 0, sizeof gSysInfo);
    TempDir dir;
    WriteFile(dir.file("issue"), "Fixture \\s \\r\n\n");
    TraceCapture trace;
    PrintStartUpDebugInfo([](const char* cmd) { DPrintf("<<ran %s>>\n", cmd); }, dir.file("issue").c_str());
    ::setrlimit(RLIMIT_CORE, &core);
    const std::string text = trace.text();

    const utsname u = realUname();
    std::string golden = ReadFile(KVX_SOURCE_DIR "/tests/data/startup-report.txt");
    golden.replace(golden.find("@ISSUE@"), 7, std::string(u.sysname) + " " + u.release);
    EXPECT_EQ(std::regex_replace(text, std::regex(" = -?[0-9]+\n"), " = #\n"), golden);

    struct sysinfo now { };
    ASSERT_EQ(::sysinfo(&now), 0);
    EXPECT_EQ(gSysInfo.totalram, now.totalram);
    const std::string coreMax = core.rlim_max == RLIM_INFINITY ? "-1" : std::to_string(core.rlim_max);
    for (const std::string& line :
        { "RLIMIT_CORE (core file): the_rlimit.rlim_cur = " + std::to_string(changed.rlim_cur),
            "RLIMIT_CORE (core file): the_rlimit.rlim_max = " + coreMax,
            "gSysInfo.totalram = " + std::to_string(now.totalram),
            "gSysInfo.mem_unit = " + std::to_string(now.mem_unit), "sizeof(long) = " + std::to_string(sizeof(long)),
            "sizeof(FILE) = " + std::to_string(sizeof(FILE)),
            "sizeof(gTestModules) = " + std::to_string(kNumSlots * sizeof(TestModuleRecord)),
            std::string("sizeof(testconfig) = 19680") })
        EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line;
}

TEST(RunShellCommandTest, ChildOutputKeepsItsPlaceInStandardOutput)
{
    TempDir dir;
    const std::string path = dir.file("stdout.txt");
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(saved, 0);
    ASSERT_GE(fd, 0);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);

    // No newline: a line-buffered stream would still hold this text.
    std::fputs("before|", stdout);
    RunShellCommand("printf 'child|'");
    std::fputs("after", stdout);
    std::fflush(stdout);

    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    EXPECT_EQ(ReadFile(path), "before|child|after");
}

TEST(TranslateEtcIssueTest, ExpandsEscapesLikeGetty)
{
    const utsname u = realUname();
    const std::string machine = u.machine, node = u.nodename, release = u.release, sys = u.sysname, version = u.version;
    const std::pair<std::string, std::string> cases[] = {
        { "Kernel \\r on an \\m\n\n\n", "Kernel " + release + " on an " + machine },
        { "\\s/\\n/\\v", sys + "/" + node + "/" + version },
        { "\\l \\d \\t \\U \\u \\b\n", "\\l \\d \\t \\U \\u \\b" },
        { "odd \\x and \\% here", "odd \\x and \\% here" },
        // The first backslash is copied; the second starts an escape.
        { "\\\\r", "\\" + release },
        { "ends in \\", "ends in \\" },
        { "inner\n\nlines\n", "inner\n\nlines" },
        { "\n\n", "" },
        { "line\r\n", "line\r" },
        // Only the first 1024 bytes are read: an escape cut there stays a
        // lone backslash, and expansions may make the text longer.
        { std::string(1100, 'x'), std::string(1024, 'x') },
        { std::string(1023, 'y') + "\\r", std::string(1023, 'y') + "\\" },
        { std::string(1022, 'z') + "\\r", std::string(1022, 'z') + release },
    };
    TempDir dir;
    for (const auto& [content, expected] : cases) {
        WriteFile(dir.file("issue"), content);
        EXPECT_EQ(TranslateEtcIssue(dir.file("issue").c_str()), expected) << "content: " << content;
    }
}

TEST(TranslateEtcIssueTest, DomainEscapeNeedsARealDomain)
{
    TempDir dir;
    WriteFile(dir.file("issue"), "\\n.\\o\n");
    const std::pair<const char*, const char*> cases[] = {
        { "lab.example", "kvx-node.lab.example" },
        { "(none)", "kvx-node.\\o" },
        { "", "kvx-node.\\o" },
    };
    for (const auto& [domain, expected] : cases) {
        // A child with host and domain names of its own leaves the real
        // system alone; it exits 2 when namespaces are not allowed.
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::unshare(CLONE_NEWUTS) != 0 || ::sethostname("kvx-node", 8) != 0
                || ::setdomainname(domain, std::strlen(domain)) != 0)
                ::_exit(2);
            const std::string got = TranslateEtcIssue(dir.file("issue").c_str());
            if (got != expected)
                std::fprintf(stderr, "domain \"%s\" gives \"%s\"\n", domain, got.c_str());
            ::_exit(got == expected ? 0 : 1);
        }
        int status = -1;
        ::waitpid(pid, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
            GTEST_SKIP() << "needs permission to create a UTS namespace";
        EXPECT_EQ(status, 0) << "domain: " << domain;
    }
}

TEST(SystemInfoUnameTest, SecondLetterChoosesTheField)
{
    const utsname u = realUname();
    const std::string invalid = "uname() invalid option";
    const std::pair<std::string, std::string> letters[] = { { "s", u.sysname }, { "n", u.nodename }, { "r", u.release },
        { "vo", u.version }, { "mip", u.machine }, { "aR", invalid } };
    for (const auto& [chars, expected] : letters)
        for (char c : chars)
            EXPECT_EQ(SystemInfo_uname(("-" + std::string(1, c)).c_str()), expected) << c;
    EXPECT_EQ(SystemInfo_uname("r"), invalid);
    EXPECT_EQ(SystemInfo_uname(""), invalid);
}

} // namespace
