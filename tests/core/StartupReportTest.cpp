#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "Startup.h"
#include "StartupReport.h"
#include "SystemInfo.h"
#include "TestSlots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sched.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kBegins = "###################### START_UP_DEBUG_BEGINS ######################\n";
constexpr const char* kFinishes = "###################### START_UP_DEBUG_FINISHES ######################\n";
constexpr const char* kQtOpen = "\n====================== CHECKING_QT_LIBRARIES_START ======================\n";
constexpr const char* kQtClose = "======================= CHECKING_QT_LIBRARIES_END =======================\n";
constexpr const char* kWideStart = "============================= S T A R T ============================\n";
constexpr const char* kWideEnd = "=============================== E N D ==============================\n";
constexpr const char* kNarrowStart = "========================== S T A R T ===========================\n";
constexpr const char* kNarrowEnd = "============================ E N D =============================\n";

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    text.replace(text.find(from), from.size(), to);
    return text;
}

std::string title(const std::string& name)
{
    return "========================== " + name + " ==========================\n";
}

std::string marker(const std::string& cmd)
{
    return "<<ran " + cmd + ">>\n";
}

class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "kvx-report-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    fs::path m_path;
};

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Points the debug trace at a real file for the lifetime of the object.
class TraceCapture {
public:
    explicit TraceCapture(std::string path)
        : m_path(std::move(path))
    {
        m_file = std::fopen(m_path.c_str(), "w+");
        if (m_file)
            std::setvbuf(m_file, nullptr, _IONBF, 0);
        g_fh_debug = m_file;
    }
    ~TraceCapture()
    {
        g_fh_debug = nullptr;
        if (m_file)
            std::fclose(m_file);
    }
    bool ok() const { return m_file != nullptr; }
    std::string text() const { return readFile(m_path); }

private:
    std::string m_path;
    FILE* m_file = nullptr;
};

// Sets a soft limit for one test and puts the old one back afterwards.
class SoftLimitGuard {
public:
    SoftLimitGuard(decltype(RLIMIT_CORE) resource, rlim_t soft)
        : m_resource(resource)
    {
        ::getrlimit(m_resource, &m_saved);
        rlimit changed = m_saved;
        changed.rlim_cur = soft;
        m_ok = ::setrlimit(m_resource, &changed) == 0;
    }
    ~SoftLimitGuard() { ::setrlimit(m_resource, &m_saved); }
    bool ok() const { return m_ok; }

private:
    decltype(RLIMIT_CORE) m_resource;
    rlimit m_saved {};
    bool m_ok = false;
};

utsname realUname()
{
    utsname u {};
    EXPECT_EQ(::uname(&u), 0);
    return u;
}

class StartupReportTest : public ::testing::Test {
protected:
    // Runs the whole report into a trace file with a recorder in place of
    // the shell; the recorder leaves a marker where its output would land.
    void runReport(const std::string& issueContent = "Fixture \\s \\r\n\n")
    {
        const std::string issue = m_dir.file("issue");
        writeFile(issue, issueContent);
        TraceCapture trace(m_dir.file("debug.log"));
        ASSERT_TRUE(trace.ok());
        PrintStartUpDebugInfo(
            [this](const char* cmd) {
                m_commands.emplace_back(cmd);
                DPrintf("%s", marker(cmd).c_str());
            },
            issue.c_str());
        m_text = trace.text();
    }

    // The text between a narrow-framed section's START and END lines.
    std::string narrowBody(const std::string& name) const
    {
        const std::string open = "\n" + title(name) + kNarrowStart;
        const std::string close = kNarrowEnd + title(name);
        const auto begin = m_text.find(open);
        if (begin == std::string::npos || m_text.find(open, begin + 1) != std::string::npos) {
            ADD_FAILURE() << name << " must open exactly once";
            return {};
        }
        const auto bodyStart = begin + open.size();
        const auto end = m_text.find(close, bodyStart);
        if (end == std::string::npos) {
            ADD_FAILURE() << name << " is not closed";
            return {};
        }
        return m_text.substr(bodyStart, end - bodyStart);
    }

    TempDir m_dir;
    std::vector<std::string> m_commands;
    std::string m_text;
};

struct Section {
    const char* name;
    const char* command;
};

const std::vector<Section> kPackages = {
    {"QT_LIBRARIES", "rpm -qa | grep -i qt"},
    {"GCC_COMPILERS", "rpm -qa | grep -i gcc"},
    {"LIBC_VERSION", "rpm -qa | grep -i libc"},
    {"KDE_LIBRARIES", "rpm -qa | grep -i kde"},
    {"X11_LIBRARIES", "rpm -qa | grep -i x11"},
    {"LD_DYNAMIC_LOADER_LIBRARIES_CACHE", "ldconfig -p"},
};
const std::vector<Section> kWide = {
    {"XDPY_CONF_INFO", "xdpyinfo"},       {"XORG_CONF_INFO", "cat /etc/X11/xorg.conf"},
    {"GLX_INFO", "glxinfo"},              {"PRINTENV_INFO", "printenv"},
    {"UNAME_INFO", "uname -a"},           {"IFCONFIG_INFO", "ifconfig"},
};
const std::vector<Section> kNarrow = {
    {"FSTAB_INFO", "cat /etc/fstab"},     {"MTAB_INFO", "cat /etc/mtab"},
    {"DF_INFO", "df -ahPT"},              {"CPU_INFO", "cat /proc/cpuinfo"},
    {"MEM_INFO", "cat /proc/meminfo"},    {"ULIMIT_INFO", "ulimit -a"},
};

TEST_F(StartupReportTest, CommandSectionsAreFramedExactlyAndInOrder)
{
    runReport();
    const utsname u = realUname();

    std::string expected = kBegins;
    expected += std::string("Fixture ") + u.sysname + " " + u.release;
    std::vector<std::string> expectedCommands;
    for (const Section& s : kPackages) {
        expected += replaced(kQtOpen, "QT_LIBRARIES", s.name) + marker(s.command) +
                    replaced(kQtClose, "QT_LIBRARIES", s.name);
        expectedCommands.emplace_back(s.command);
    }
    for (const auto& [sections, start, end] : {std::tuple {&kWide, kWideStart, kWideEnd},
                                               std::tuple {&kNarrow, kNarrowStart, kNarrowEnd}}) {
        for (const Section& s : *sections) {
            expected += "\n" + title(s.name) + start + marker(s.command) + end + title(s.name);
            expectedCommands.emplace_back(s.command);
        }
    }

    EXPECT_EQ(m_commands, expectedCommands);
    ASSERT_GE(m_text.size(), expected.size());
    EXPECT_EQ(m_text.substr(0, expected.size()), expected);

    // Then the in-process sections, in this order, and the closing line.
    const std::string tail = m_text.substr(expected.size());
    std::size_t pos = 0;
    for (const char* name : {"RLIMIT_INFO", "SYSINFO_INFO", "DATATYPESIZE_INFO"}) {
        const std::string open = "\n" + title(name) + kNarrowStart;
        const std::string close = kNarrowEnd + title(name);
        ASSERT_EQ(tail.compare(pos, open.size(), open), 0) << name << " expected at offset " << pos;
        pos = tail.find(close, pos + open.size());
        ASSERT_NE(pos, std::string::npos) << name;
        pos += close.size();
    }
    EXPECT_EQ(tail.substr(pos), kFinishes);
}

TEST_F(StartupReportTest, ResourceLimitsListEveryResourceWithUnlimitedAsMinusOne)
{
    rlimit core {};
    ASSERT_EQ(::getrlimit(RLIMIT_CORE, &core), 0);
    const rlim_t knownSoft = core.rlim_max == RLIM_INFINITY ? 4096 : std::min<rlim_t>(4096, core.rlim_max);
    SoftLimitGuard guard(RLIMIT_CORE, knownSoft);
    ASSERT_TRUE(guard.ok());

    runReport();

    const struct {
        decltype(RLIMIT_CORE) resource;
        const char* label;
    } rows[] = {
        {RLIMIT_AS, "RLIMIT_AS (address space)"},   {RLIMIT_CORE, "RLIMIT_CORE (core file)"},
        {RLIMIT_CPU, "RLIMIT_CPU (CPU time)"},      {RLIMIT_DATA, "RLIMIT_DATA (data segment)"},
        {RLIMIT_FSIZE, "RLIMIT_FSIZE (file size)"}, {RLIMIT_LOCKS, "RLIMIT_LOCKS (locks)"},
        {RLIMIT_MEMLOCK, "RLIMIT_MEMLOCK (locked memory)"},
        {RLIMIT_NOFILE, "RLIMIT_NOFILE (open files)"},
        {RLIMIT_NPROC, "RLIMIT_NPROC (processes)"}, {RLIMIT_RSS, "RLIMIT_RSS (resident set)"},
        {RLIMIT_STACK, "RLIMIT_STACK (stack)"},
    };
    auto shown = [](rlim_t v) { return v == RLIM_INFINITY ? std::string("-1") : std::to_string(v); };
    std::string expected;
    bool anyUnlimited = false;
    for (const auto& row : rows) {
        rlimit rl {};
        ASSERT_EQ(::getrlimit(row.resource, &rl), 0);
        anyUnlimited = anyUnlimited || rl.rlim_cur == RLIM_INFINITY || rl.rlim_max == RLIM_INFINITY;
        expected += std::string(row.label) + ": the_rlimit.rlim_cur = " + shown(rl.rlim_cur) + "\n";
        expected += std::string(row.label) + ": the_rlimit.rlim_max = " + shown(rl.rlim_max) + "\n";
    }
    const std::string body = narrowBody("RLIMIT_INFO");
    EXPECT_EQ(body, expected);
    EXPECT_NE(body.find("RLIMIT_CORE (core file): the_rlimit.rlim_cur = " + std::to_string(knownSoft) + "\n"),
              std::string::npos);
    if (anyUnlimited) {
        EXPECT_NE(body.find(" = -1\n"), std::string::npos);
    }
}

TEST_F(StartupReportTest, SysinfoSectionRefreshesAndPrintsEveryField)
{
    std::memset(&gSysInfo, 0, sizeof gSysInfo);
    runReport();

    struct sysinfo now {};
    ASSERT_EQ(::sysinfo(&now), 0);
    EXPECT_EQ(gSysInfo.totalram, now.totalram);
    EXPECT_EQ(gSysInfo.mem_unit, now.mem_unit);

    std::istringstream body(narrowBody("SYSINFO_INFO"));
    std::vector<std::string> names;
    std::string line;
    std::string totalram;
    std::string memUnit;
    while (std::getline(body, line)) {
        const auto eq = line.find(" = ");
        ASSERT_NE(eq, std::string::npos) << line;
        const std::string value = line.substr(eq + 3);
        ASSERT_FALSE(value.empty()) << line;
        EXPECT_EQ(value.find_first_not_of("0123456789"), std::string::npos) << line;
        names.push_back(line.substr(0, eq));
        if (names.back() == "gSysInfo.totalram")
            totalram = value;
        if (names.back() == "gSysInfo.mem_unit")
            memUnit = value;
    }
    const std::vector<std::string> expectedNames = {
        "gSysInfo.uptime",    "gSysInfo.loads[0]", "gSysInfo.loads[1]", "gSysInfo.loads[2]",
        "gSysInfo.totalram",  "gSysInfo.freeram",  "gSysInfo.sharedram", "gSysInfo.bufferram",
        "gSysInfo.totalswap", "gSysInfo.freeswap", "gSysInfo.procs",    "gSysInfo.totalhigh",
        "gSysInfo.freehigh",  "gSysInfo.mem_unit",
    };
    EXPECT_EQ(names, expectedNames);
    EXPECT_EQ(totalram, std::to_string(now.totalram));
    EXPECT_EQ(memUnit, std::to_string(now.mem_unit));
}

TEST_F(StartupReportTest, SizesSectionListsTypesAndRecords)
{
    runReport();
    const std::pair<const char*, std::size_t> rows[] = {
        {"long", sizeof(long)},
        {"long long", sizeof(long long)},
        {"unsigned long long", sizeof(unsigned long long)},
        {"short", sizeof(short)},
        {"char", sizeof(char)},
        {"int", sizeof(int)},
        {"long int", sizeof(long int)},
        {"float", sizeof(float)},
        {"double", sizeof(double)},
        {"long double", sizeof(long double)},
        {"FILE *", sizeof(FILE*)},
        {"FILE", sizeof(FILE)},
        {"void *", sizeof(void*)},
        {"unsigned char *", sizeof(unsigned char*)},
        {"TestModuleRecord", sizeof(TestModuleRecord)},
        {"gTestModules", kNumSlots * sizeof(TestModuleRecord)},
        {"testconfig", 19680},
    };
    std::string expected;
    for (const auto& [label, size] : rows)
        expected += "sizeof(" + std::string(label) + ") = " + std::to_string(size) + "\n";
    EXPECT_EQ(narrowBody("DATATYPESIZE_INFO"), expected);
}

TEST(RunShellCommandTest, ChildOutputKeepsItsPlaceInStandardOutput)
{
    TempDir dir;
    const std::string path = dir.file("stdout.txt");
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ASSERT_GE(saved, 0);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
    EXPECT_EQ(readFile(path), "before|child|after");
}

TEST(TranslateEtcIssueTest, ExpandsEscapesLikeGetty)
{
    const utsname u = realUname();
    const std::string machine = u.machine, node = u.nodename, release = u.release, sys = u.sysname,
                      version = u.version;
    const struct {
        std::string content;
        std::string expected;
    } cases[] = {
        {"Plain text\n", "Plain text"},
        {"Kernel \\r on an \\m\n\n\n", "Kernel " + release + " on an " + machine},
        {"\\s/\\n/\\v", sys + "/" + node + "/" + version},
        {"\\l \\d \\t \\U \\u \\b\n", "\\l \\d \\t \\U \\u \\b"},
        {"odd \\x and \\% here", "odd \\x and \\% here"},
        // The first backslash is copied; the second starts an escape.
        {"\\\\r", "\\" + release},
        {"ends in \\", "ends in \\"},
        {"inner\n\nlines\n", "inner\n\nlines"},
        {"\n\n", ""},
        {"", ""},
        {"line\r\n", "line\r"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.file("issue");
        writeFile(path, c.content);
        EXPECT_EQ(TranslateEtcIssue(path.c_str()), c.expected) << "content: " << c.content;
    }
}

TEST(TranslateEtcIssueTest, ReadsOnlyTheFirst1024Bytes)
{
    TempDir dir;
    const std::string path = dir.file("issue");

    writeFile(path, std::string(1100, 'x'));
    EXPECT_EQ(TranslateEtcIssue(path.c_str()), std::string(1024, 'x'));

    // An escape cut by the limit leaves a lone backslash, not an expansion.
    writeFile(path, std::string(1023, 'y') + "\\r");
    EXPECT_EQ(TranslateEtcIssue(path.c_str()), std::string(1023, 'y') + "\\");

    // Expansions may make the result longer than what was read.
    writeFile(path, std::string(1022, 'z') + "\\r");
    EXPECT_EQ(TranslateEtcIssue(path.c_str()), std::string(1022, 'z') + realUname().release);
}

TEST(TranslateEtcIssueTest, MissingFileGivesEmptyTextAndATraceLine)
{
    TempDir dir;
    TraceCapture trace(dir.file("debug.log"));
    ASSERT_TRUE(trace.ok());
    const std::string missing = dir.file("no-such-issue");

    EXPECT_STREQ(TranslateEtcIssue(missing.c_str()), "");

    const std::string text = trace.text();
    const std::string head = "TranslateEtcIssue[";
    const std::string rest = "]: Failed to fopen(" + missing + ", rb), strerror(2): " + std::strerror(ENOENT) + "\n";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    const auto close = text.find(']');
    ASSERT_NE(close, std::string::npos);
    const std::string site = text.substr(head.size(), close - head.size());
    EXPECT_FALSE(site.empty());
    EXPECT_EQ(site.find_first_not_of("0123456789"), std::string::npos) << site;
    EXPECT_EQ(text.substr(close), rest);
}

// Runs TranslateEtcIssue in a child with its own host and domain names so the
// real system is untouched. Returns nullopt when namespaces are not allowed.
std::optional<std::string> translateWithNames(const std::string& issuePath, const std::string& host,
                                              const std::string& domain)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string out = "!";
        if (::unshare(CLONE_NEWUTS) == 0 && ::sethostname(host.data(), host.size()) == 0 &&
            ::setdomainname(domain.data(), domain.size()) == 0)
            out = std::string("=") + TranslateEtcIssue(issuePath.c_str());
        [[maybe_unused]] auto n = ::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string result;
    char buf[256];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        result.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (result.empty() || result[0] != '=')
        return std::nullopt;
    return result.substr(1);
}

TEST(TranslateEtcIssueTest, DomainEscapeNeedsARealDomain)
{
    TempDir dir;
    const std::string path = dir.file("issue");
    writeFile(path, "\\n.\\o\n");

    const struct {
        const char* domain;
        const char* expected;
    } cases[] = {
        {"lab.example", "kvx-node.lab.example"},
        {"(none)", "kvx-node.\\o"},
        {"", "kvx-node.\\o"},
    };
    for (const auto& c : cases) {
        const auto got = translateWithNames(path, "kvx-node", c.domain);
        if (!got)
            GTEST_SKIP() << "needs permission to create a UTS namespace";
        EXPECT_EQ(*got, c.expected) << "domain: " << c.domain;
    }
}

TEST(SystemInfoUnameTest, SecondLetterChoosesTheField)
{
    const utsname u = realUname();
    const struct {
        const char* option;
        std::string expected;
    } cases[] = {
        {"-s", u.sysname},
        {"-n", u.nodename},
        {"-r", u.release},
        {"-v", u.version},
        {"-o", u.version},
        {"-m", u.machine},
        {"-i", u.machine},
        {"-p", u.machine},
        {"-a", "uname() invalid option"},
        {"-R", "uname() invalid option"},
        {"r", "uname() invalid option"},
        {"", "uname() invalid option"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SystemInfo_uname(c.option), c.expected) << "option: " << c.option;
}

} // namespace
