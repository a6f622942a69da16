#include "CLogger.h"
#include "ErrorClassification.h"
#include "MachineReports.h"
#include "MessageBox.h"
#include "ResultRecord.h"
#include "ScopedEuid.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TempDir.h"
#include "TestContext.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <dirent.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>

namespace {

constexpr std::time_t kNow = 1772794931; // Fri Mar  6 11:02:11 2026 UTC
const char* const kOdd = "Odd \"<&>\"\\ \x02\xe9"; // quotes, markup, a control byte, Latin-1

std::string capture(const std::function<void(FILE*)>& write)
{
    char* buf = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&buf, &len);
    write(f);
    std::fclose(f);
    std::string s(buf, len);
    std::free(buf);
    return s;
}

// Runs python3 on `script` with the file as its argument: its output, and
// "exit N" when it failed.
std::string python(const TempDir& dir, const std::string& script, const std::string& file)
{
    WriteFile(dir.file("check.py"), script);
    FILE* p = ::popen(("python3 " + dir.file("check.py") + " " + file + " 2>&1").c_str(), "r");
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p))
        out += buf;
    const int status = ::pclose(p);
    return status == 0 ? out : out + "exit " + std::to_string(status);
}

std::vector<std::string> entries(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    while (dirent* e = d ? ::readdir(d) : nullptr)
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
            names.emplace_back(e->d_name);
    if (d)
        ::closedir(d);
    return names;
}

// A finished run: maths, disk, parallel and serial passed, memory failed,
// 3D was selected but reported as not run, and a test with an odd name.
class MachineReportsTest : public ::testing::Test {
protected:
    TempDir dir;
    RunOutcome outcome { "3f1c2a4e-9b7d-4c21-8e5f-0a1b2c3d4e5f", false,
        { { "3D Graphics", "needs a display (run kalvextest)" }, { kOdd, "no\nprivilege" } }, 1 };

    void SetUp() override
    {
        gReportClock = [] { return kNow; };
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(e_strings, 0, sizeof e_strings);
        std::memset(e_classification, 0, sizeof e_classification);
        std::strcpy(e_strings[30], "Memory verify error");
        e_classification[30] = kSevCritical;
        for (int slot : { int(kSlotMaths), int(kSlotMemory), int(kSlot3D), int(kSlotDiskFirst), int(kSlotDiskGroup),
                 int(kSlotParallel) })
            testconfig.test_enabled[slot] = 1;
        testconfig.parallel_port_number = 1;
        std::strcpy(gFileSystemStructPtr[0].alias, "Startup Disk [/dev/vda1]");
        gFileSystemStructPtr[0].vfs.f_bsize = 4096;
        resultfile.accum_results[kSlotMaths] = { 5, 0, 0, 0, 12345678 };
        resultfile.accum_results[kSlotMemory] = { 2, 0, 1, 30, 123456789 };
        resultfile.accum_classes[kSlotMemory].critical = 1;
        resultfile.accum_results[kSlotDiskFirst] = { 3, 0, 0, 0, 2000 };
        resultfile.accum_results[kSlotParallel] = { 7, 0, 0, 0, 123456789012ull };
        resultfile.error_occurrences[30] = 1;
        std::strcpy(resultfile.first_occurrence[30], "CRITICAL   : 2026-03-06 10:10:00, RAM");
        resultfile.run_start_time = static_cast<std::int32_t>(kNow - 3723);
        resultfile.run_stop_time = static_cast<std::int32_t>(kNow);
        std::strcpy(resultfile.machine_type, "Tower");
        std::snprintf(resultfile.notes, sizeof resultfile.notes, "fan %s\tok", kOdd);
        _CPUINFO& c = resultfile.cpu_info;
        c.cpu_count = 1;
        c.has_sse = c.has_sse2 = 1;
        std::strcpy(c.model_name, "Test CPU @ 2.00GHz");
        std::strcpy(c.cpu0_speed_text, "2000.0 MHz");
        c.cache_size_kb = 512;
        c.l3_cache_kb = -1;
        std::strcpy(resultfile.video_info.card_name, "Xvfb");
        resultfile.video_info.width = 1280;
        resultfile.video_info.height = 1024;
        WriteFile(dir.file("machine-id"), "0123456789abcdef0123456789abcdef\n");
        WriteFile(dir.file("issue"), "Debian GNU/Linux 12\n");
        m_machineId = dir.file("machine-id");
        m_issue = dir.file("issue");
        gMachineIdPath = m_machineId.c_str();
        gEtcIssuePath = m_issue.c_str();
    }
    void TearDown() override
    {
        gReportClock = [] { return std::time(nullptr); };
        gMachineIdPath = "/etc/machine-id";
        gEtcIssuePath = "/etc/issue";
    }
    std::string m_machineId, m_issue;
};

TEST_F(MachineReportsTest, JsonIsValidAgainstTheSchemaAndMatchesTheGolden)
{
    std::string json = capture([&](FILE* f) { MachineReports(TestContext(), outcome).writeJson(f); });
    WriteFile(dir.file("report.json"), json);
    const std::string check = R"py(import json, sys, jsonschema
schema = json.load(open(")py" KVX_SOURCE_DIR R"py(/docs/report.schema.json"))
doc = json.load(open(sys.argv[1], encoding="utf-8"))
jsonschema.Draft202012Validator(schema).validate(doc)
rows = {t["name"]: t for t in doc["tests"]}
assert [t["name"] for t in doc["tests"]].count("3D Graphics") == 1, "a not-run row replaces its summary row"
assert rows["Memory (RAM)"]["result"] == "FAIL" and rows["Memory (RAM)"]["lastError"] == {"code": 30, "text": "Memory verify error"}
why = "needs a display (run kalvextest)"
assert rows["3D Graphics"] == {"name": "3D Graphics", "unit": "", "result": "NOT RUN", "reason": why}
assert rows["Odd \"<&>\"\\ \x02\u00e9"]["reason"] == "no\nprivilege"
assert doc["host"]["notes"] == "fan Odd \"<&>\"\\ \x02\u00e9\tok", doc["host"]["notes"]
assert doc["run"]["verdict"] == "FAIL" and doc["run"]["durationSeconds"] == 3723
)py";
    EXPECT_EQ(python(dir, check, dir.file("report.json")), "");

    // What differs from machine to machine stands as a name in the golden file.
    utsname u {};
    ::uname(&u);
    const std::string ram = std::to_string(static_cast<unsigned long>(::sysconf(_SC_PHYS_PAGES)) * 4);
    for (const auto& [value, name] :
        { std::pair<std::string, std::string> { '"' + std::string(u.nodename) + '"', "\"@NODE@\"" },
            { std::string(u.sysname) + " (" + u.release + ")", "@OS@" }, { ": " + ram + ",", ": @RAM@," } })
        for (auto at = json.find(value); at != std::string::npos; at = json.find(value, at + name.size()))
            json.replace(at, value.size(), name);
    EXPECT_EQ(GoldenFile(KVX_SOURCE_DIR "/tests/data/machine_report.json", json), json);
}

TEST_F(MachineReportsTest, JUnitCountsFailuresAndSkips)
{
    WriteFile(dir.file("junit.xml"), capture([&](FILE* f) { MachineReports(TestContext(), outcome).writeJUnit(f); }));
    const std::string check = R"py(import sys, xml.etree.ElementTree as ET
s = ET.parse(sys.argv[1]).getroot()
assert s.tag == "testsuite" and s.get("name") == "kalvextest", s.attrib
assert (s.get("tests"), s.get("failures"), s.get("skipped"), s.get("time")) == ("6", "1", "2", "3723"), s.attrib
cases = {c.get("name"): c for c in s.iter("testcase")}
assert cases["Memory (RAM)"].find("failure").get("message") == "30: Memory verify error"
assert cases["3D Graphics"].find("skipped").get("message") == "needs a display (run kalvextest)"
assert cases["Odd \"<&>\"\\ \ufffd\u00e9"].find("skipped").get("message") == "no\nprivilege"
assert cases["CPU - Maths"].find("failure") is None and cases["CPU - Maths"].find("skipped") is None
props = {p.get("name"): p.get("value") for p in s.iter("property")}
assert props["run_id"] == "3f1c2a4e-9b7d-4c21-8e5f-0a1b2c3d4e5f" and props["interrupted"] == "false", props
)py";
    EXPECT_EQ(python(dir, check, dir.file("junit.xml")), "");
}

TEST_F(MachineReportsTest, PrometheusSamplesParseToTheRunsValues)
{
    const std::string text = capture([&](FILE* f) { MachineReports(TestContext(), outcome).writePrometheus(f); });
    const std::regex sample(R"re(([a-z_]+)(\{(?:[a-z_]+="(?:[^"\\\n]|\\[\\"n])*",?)*\})? (-?[0-9.]+))re");
    std::map<std::string, std::string> values;
    std::set<std::string> typed;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (line.rfind("# TYPE ", 0) == 0)
            typed.insert(line.substr(7, line.find(' ', 7) - 7));
        else if (line.rfind("# HELP ", 0) != 0) {
            ASSERT_TRUE(std::regex_match(line, m, sample)) << line;
            EXPECT_TRUE(typed.count(m[1])) << "sample before its TYPE: " << line;
            EXPECT_TRUE(values.emplace(m[1].str() + m[2].str(), m[3]).second) << "repeated: " << line;
        }
    }
    const std::map<std::string, std::string> expected { { "kalvextest_run_passed", "0" },
        { "kalvextest_run_interrupted", "0" }, { "kalvextest_run_exit_status", "1" },
        { "kalvextest_run_start_timestamp_seconds", std::to_string(kNow - 3723) },
        { "kalvextest_run_duration_seconds", "3723" },
        { R"m(kalvextest_test_passed{test="Memory (RAM)",unit=""})m", "0" },
        { R"m(kalvextest_test_errors{test="Memory (RAM)",unit=""})m", "1" },
        { R"m(kalvextest_test_passed{test="CPU - Maths",unit=""})m", "1" },
        { R"m(kalvextest_test_cycles{test="Parallel Port: lp1",unit="lp1"})m", "7" },
        { R"m(kalvextest_test_operations{test="Disk: Startup Disk [/dev",unit="Startup Disk [/dev/vda1]"})m",
            "8192000" },
        { "kalvextest_test_not_run{test=\"Odd \\\"<&>\\\"\\\\ \x02\xc3\xa9\",unit=\"\"}", "1" } };
    for (const auto& [key, value] : expected)
        EXPECT_EQ(values[key], value) << key << "\n" << text;
    EXPECT_EQ(values.count(R"m(kalvextest_test_passed{test="3D Graphics",unit=""})m"), 0u) << "3D did not run";
}

// The verdict a run gets, in each report.
TEST_F(MachineReportsTest, Verdicts)
{
    struct {
        bool interrupted;
        bool memoryFails;
        bool nothingRan;
        const char* verdict;
    } cases[] = { { false, true, false, "FAIL" }, { false, false, false, "PASS" },
        { true, false, false, "INTERRUPTED" }, { false, false, true, "NOT RUN" } };
    for (const auto& c : cases) {
        resultfile.accum_results[kSlotMemory].errors = c.memoryFails ? 1 : 0;
        outcome.interrupted = c.interrupted;
        if (c.nothingRan)
            std::memset(testconfig.test_enabled, 0, sizeof testconfig.test_enabled);
        const MachineReports report(TestContext(), outcome);
        EXPECT_STREQ(report.verdict(), c.verdict);
        EXPECT_NE(capture([&](FILE* f) { report.writeJson(f); }).find(Format("\"verdict\": \"%s\"", c.verdict)),
            std::string::npos);
        EXPECT_NE(capture([&](FILE* f) {
            report.writePrometheus(f);
        }).find(Format("kalvextest_run_passed %d\n", std::strcmp(c.verdict, "PASS") == 0)),
            std::string::npos)
            << c.verdict;
    }
}

TEST(NewRunId, IsARandomVersion4Uuid)
{
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    const std::string a = NewRunId(), b = NewRunId();
    EXPECT_TRUE(std::regex_match(a, uuid)) << a;
    EXPECT_NE(a, b);
}

// A failed write leaves the old report as it was and no temporary beside it.
TEST(WriteReportFile, ReplacesWholeOrNotAtAll)
{
    TempDir dir;
    const std::string path = dir.file("out/report.json");
    ASSERT_EQ(::mkdir(dir.file("out").c_str(), 0755), 0);
    WriteFile(path, "old");
    ::chmod(path.c_str(), 0640);
    std::string error;
    ASSERT_TRUE(WriteReportFile(
        path, [](FILE* f) { std::fputs("new", f); }, error))
        << error;
    EXPECT_EQ(ReadFile(path), "new");
    struct stat st { };
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "a replaced report keeps its mode";
    WriteFile(path, "old");

    const std::string big(64 * 1024, 'x');
    auto writeBig = [&](FILE* f) { std::fwrite(big.data(), 1, big.size(), f); };
    struct {
        const char* what;
        std::string path;
        std::function<void(FILE*)> write;
        const char* error;
        uid_t euid;
        rlim_t fileLimit;
    } cases[] = {
        { "directory not writable", path, writeBig, "Permission denied", 65534, RLIM_INFINITY },
        { "missing directory", dir.file("gone/report.json"), writeBig, "No such file or directory", 0, RLIM_INFINITY },
        { "file size limit", path, writeBig, "File too large", 0, 4096 },
    };
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file("out").c_str(), 0555);
    const auto oldXfsz = std::signal(SIGXFSZ, SIG_IGN);
    for (auto& c : cases) {
        rlimit saved {};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit { c.fileLimit, saved.rlim_max };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        bool ok = true;
        {
            ScopedEuid user(c.euid);
            if (c.euid) {
                ASSERT_TRUE(user.ok());
            }
            ok = WriteReportFile(c.path, c.write, error);
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_FALSE(ok) << c.what;
        EXPECT_EQ(error, c.path + ": " + c.error) << c.what;
        EXPECT_EQ(ReadFile(path), "old") << c.what;
        EXPECT_EQ(entries(dir.file("out")), std::vector<std::string> { "report.json" }) << c.what;
    }
    std::signal(SIGXFSZ, oldXfsz);
    ::chmod(dir.file("out").c_str(), 0755);
    EXPECT_THROW(WriteReportFile(
                     path, [](FILE*) { throw std::runtime_error("writer"); }, error),
        std::runtime_error);
    EXPECT_EQ(entries(dir.file("out")), std::vector<std::string> { "report.json" });

    testing::internal::CaptureStdout();
    EXPECT_TRUE(WriteReportFile(
        "-", [](FILE* f) { std::fputs("to stdout", f); }, error));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "to stdout");
}

// "Save test log": system information, event log, result summary in order.
TEST_F(MachineReportsTest, TestLogReportHoldsTheThreeBlocks)
{
    CLogger log { "dummyStr" };
    for (bool html : { false, true }) {
        const std::string text = capture([&](FILE* f) { WriteTestLogReport(log, f, html); });
        const auto info = text.find("SYSTEM INFORMATION"), events = text.find("DETAILED EVENT LOG"),
                   summary = text.find("RESULT SUMMARY");
        EXPECT_LT(info, events) << html;
        EXPECT_LT(events, summary) << html;
        EXPECT_NE(summary, std::string::npos);
        EXPECT_NE(text.find("TEST RUN FAILED"), std::string::npos);
        if (html) {
            EXPECT_EQ(text.rfind("</html>\n"), text.size() - 8);
        }
    }
}

} // namespace
