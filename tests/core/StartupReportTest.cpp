#include "TraceCapture.h"
#include "StartupReport.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TempDir.h"
#include "TestSlots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr const char* kNarrowStart = "========================== S T A R T ===========================\n";
constexpr const char* kNarrowEnd = "============================ E N D =============================\n";

std::string title(const std::string& name)
{
    return "========================== " + name + " ==========================\n";
}

std::string marker(const std::string& cmd)
{
    return "<<ran " + cmd + ">>\n";
}

utsname realUname()
{
    utsname u {};
    EXPECT_EQ(::uname(&u), 0);
    return u;
}

class StartupReportTest : public ::testing::Test {
protected:
    // Runs the whole report with a recorder in place of the shell; the
    // recorder leaves a marker where its output would land.
    void runReport()
    {
        WriteFile(m_dir.file("issue"), "Fixture \\s \\r\n\n");
        TraceCapture trace;
        PrintStartUpDebugInfo(
            [this](const char* cmd) {
                m_commands.emplace_back(cmd);
                DPrintf("%s", marker(cmd).c_str());
            },
            m_dir.file("issue").c_str());
        m_text = trace.text();
    }

    // The text between a narrow-framed section's START and END lines.
    std::string narrowBody(const std::string& name) const
    {
        const std::string open = "\n" + title(name) + kNarrowStart;
        const auto begin = m_text.find(open);
        const auto end = m_text.find(kNarrowEnd + title(name), begin);
        if (begin == std::string::npos || end == std::string::npos
            || m_text.find(open, begin + 1) != std::string::npos) {
            ADD_FAILURE() << name << " must open and close exactly once";
            return {};
        }
        return m_text.substr(begin + open.size(), end - begin - open.size());
    }

    TempDir m_dir;
    std::vector<std::string> m_commands;
    std::string m_text;
};

TEST_F(StartupReportTest, CommandSectionsAreFramedExactlyAndInOrder)
{
    using Sections = std::vector<std::pair<std::string, std::string>>;
    const Sections packages
        = { { "QT_LIBRARIES", "rpm -qa | grep -i qt" }, { "GCC_COMPILERS", "rpm -qa | grep -i gcc" },
              { "LIBC_VERSION", "rpm -qa | grep -i libc" }, { "KDE_LIBRARIES", "rpm -qa | grep -i kde" },
              { "X11_LIBRARIES", "rpm -qa | grep -i x11" }, { "LD_DYNAMIC_LOADER_LIBRARIES_CACHE", "ldconfig -p" } };
    const Sections wide
        = { { "XDPY_CONF_INFO", "xdpyinfo" }, { "XORG_CONF_INFO", "cat /etc/X11/xorg.conf" }, { "GLX_INFO", "glxinfo" },
              { "PRINTENV_INFO", "printenv" }, { "UNAME_INFO", "uname -a" }, { "IFCONFIG_INFO", "ifconfig" } };
    const Sections narrow = { { "FSTAB_INFO", "cat /etc/fstab" }, { "MTAB_INFO", "cat /etc/mtab" },
        { "DF_INFO", "df -ahPT" }, { "CPU_INFO", "cat /proc/cpuinfo" }, { "MEM_INFO", "cat /proc/meminfo" },
        { "ULIMIT_INFO", "ulimit -a" } };
    runReport();
    const utsname u = realUname();

    std::string expected = "###################### START_UP_DEBUG_BEGINS ######################\n";
    expected += std::string("Fixture ") + u.sysname + " " + u.release;
    std::vector<std::string> commands;
    for (const auto& [name, cmd] : packages) {
        expected += "\n====================== CHECKING_" + name + "_START ======================\n" + marker(cmd)
            + "======================= CHECKING_" + name + "_END =======================\n";
        commands.push_back(cmd);
    }
    for (const auto& [sections, start, end] :
        { std::tuple { &wide, "============================= S T A R T ============================\n",
              "=============================== E N D ==============================\n" },
            std::tuple { &narrow, kNarrowStart, kNarrowEnd } }) {
        for (const auto& [name, cmd] : *sections) {
            expected += "\n" + title(name) + start + marker(cmd) + end + title(name);
            commands.push_back(cmd);
        }
    }
    EXPECT_EQ(m_commands, commands);
    ASSERT_GE(m_text.size(), expected.size());
    EXPECT_EQ(m_text.substr(0, expected.size()), expected);

    // Then the in-process sections, in this order, and the closing line.
    std::size_t pos = expected.size();
    for (const char* name : { "RLIMIT_INFO", "SYSINFO_INFO", "DATATYPESIZE_INFO" }) {
        const std::string open = "\n" + title(name) + kNarrowStart;
        ASSERT_EQ(m_text.compare(pos, open.size(), open), 0) << name << " expected at offset " << pos;
        pos = m_text.find(kNarrowEnd + title(name), pos);
        ASSERT_NE(pos, std::string::npos) << name;
        pos += std::strlen(kNarrowEnd) + title(name).size();
    }
    EXPECT_EQ(m_text.substr(pos), "###################### START_UP_DEBUG_FINISHES ######################\n");
}

TEST_F(StartupReportTest, InProcessSectionsShowLimitsSystemAndSizes)
{
    // A soft core limit of its own tells the limit rows apart; the report
    // must refresh gSysInfo.
    rlimit core {};
    ASSERT_EQ(::getrlimit(RLIMIT_CORE, &core), 0);
    rlimit changed = core;
    changed.rlim_cur = std::min<rlim_t>(4096, core.rlim_max);
    ASSERT_EQ(::setrlimit(RLIMIT_CORE, &changed), 0);
    std::memset(&gSysInfo, 0, sizeof gSysInfo);
    runReport();

    // Every resource, with unlimited as -1.
    const std::pair<decltype(RLIMIT_CORE), const char*> rows[] = { { RLIMIT_AS, "RLIMIT_AS (address space)" },
        { RLIMIT_CORE, "RLIMIT_CORE (core file)" }, { RLIMIT_CPU, "RLIMIT_CPU (CPU time)" },
        { RLIMIT_DATA, "RLIMIT_DATA (data segment)" }, { RLIMIT_FSIZE, "RLIMIT_FSIZE (file size)" },
        { RLIMIT_LOCKS, "RLIMIT_LOCKS (locks)" }, { RLIMIT_MEMLOCK, "RLIMIT_MEMLOCK (locked memory)" },
        { RLIMIT_NOFILE, "RLIMIT_NOFILE (open files)" }, { RLIMIT_NPROC, "RLIMIT_NPROC (processes)" },
        { RLIMIT_RSS, "RLIMIT_RSS (resident set)" }, { RLIMIT_STACK, "RLIMIT_STACK (stack)" } };
    auto shown = [](rlim_t v) { return v == RLIM_INFINITY ? std::string("-1") : std::to_string(v); };
    std::string expected;
    for (const auto& [resource, label] : rows) {
        rlimit rl {};
        EXPECT_EQ(::getrlimit(resource, &rl), 0);
        expected += std::string(label) + ": the_rlimit.rlim_cur = " + shown(rl.rlim_cur) + "\n";
        expected += std::string(label) + ": the_rlimit.rlim_max = " + shown(rl.rlim_max) + "\n";
    }
    ::setrlimit(RLIMIT_CORE, &core);
    EXPECT_EQ(narrowBody("RLIMIT_INFO"), expected);

    struct sysinfo now { };
    ASSERT_EQ(::sysinfo(&now), 0);
    EXPECT_EQ(gSysInfo.totalram, now.totalram);

    const std::string body = narrowBody("SYSINFO_INFO");
    EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 14) << body;
    EXPECT_EQ(body.rfind("gSysInfo.uptime = ", 0), 0u) << body;
    for (const std::string& line : { "\ngSysInfo.totalram = " + std::to_string(now.totalram) + "\n",
             "\ngSysInfo.totalswap = " + std::to_string(now.totalswap) + "\n",
             "\ngSysInfo.mem_unit = " + std::to_string(now.mem_unit) + "\n" })
        EXPECT_NE(body.find(line), std::string::npos) << line << body;

    const std::pair<const char*, std::size_t> sizes[] = { { "long", sizeof(long) }, { "long long", sizeof(long long) },
        { "unsigned long long", sizeof(unsigned long long) }, { "short", sizeof(short) }, { "char", sizeof(char) },
        { "int", sizeof(int) }, { "long int", sizeof(long int) }, { "float", sizeof(float) },
        { "double", sizeof(double) }, { "long double", sizeof(long double) }, { "FILE *", sizeof(FILE*) },
        { "FILE", sizeof(FILE) }, { "void *", sizeof(void*) }, { "unsigned char *", sizeof(unsigned char*) },
        { "TestModuleRecord", sizeof(TestModuleRecord) }, { "gTestModules", kNumSlots * sizeof(TestModuleRecord) },
        { "testconfig", 19680 } };
    expected.clear();
    for (const auto& [label, size] : sizes)
        expected += "sizeof(" + std::string(label) + ") = " + std::to_string(size) + "\n";
    EXPECT_EQ(narrowBody("DATATYPESIZE_INFO"), expected);
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

TEST(TranslateEtcIssueTest, MissingFileGivesEmptyTextAndATraceLine)
{
    TempDir dir;
    const std::string missing = dir.file("no-such-issue");
    TraceCapture trace;
    EXPECT_STREQ(TranslateEtcIssue(missing.c_str()), "");

    // Log readers search for this line.
    const std::string text = trace.text();
    EXPECT_EQ(text.rfind("TranslateEtcIssue[", 0), 0u) << text;
    const auto close = text.find(']');
    ASSERT_NE(close, std::string::npos);
    EXPECT_EQ(
        text.substr(close), "]: Failed to fopen(" + missing + ", rb), strerror(2): " + std::strerror(ENOENT) + "\n");
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
