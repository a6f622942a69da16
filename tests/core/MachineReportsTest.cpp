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
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/utsname.h>

namespace {

constexpr std::time_t kNow = 1772794931; // Fri Mar  6 11:02:11 2026 UTC
const char* const kOdd = "Odd \"<&>\"\\ \x02\xe9"; // quotes, markup, a control byte, Latin-1

// The output of python3 `script` `args`, and "exit N" when it failed.
std::string python(const TempDir& dir, const std::string& script, const std::string& args)
{
    WriteFile(dir.file("check.py"), script);
    FILE* p = ::popen(("python3 " + dir.file("check.py") + " " + args + " 2>&1").c_str(), "r");
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
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename());
    return names;
}

// A finished run: maths, disk and parallel passed, memory failed, 3D was
// selected but reported as not run, and a test with an odd name did not run.
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
        resultfile.cpu_info.cpu_count = resultfile.cpu_info.has_sse2 = 1;
        WriteFile(m_machineId, "0123456789abcdef0123456789abcdef\n");
        WriteFile(m_issue, "Debian GNU/Linux 12\n");
        gMachineIdPath = m_machineId.c_str();
        gEtcIssuePath = m_issue.c_str();
    }
    void TearDown() override
    {
        gReportClock = [] { return std::time(nullptr); };
        gMachineIdPath = "/etc/machine-id";
        gEtcIssuePath = "/etc/issue";
    }
    std::string m_machineId = dir.file("machine-id"), m_issue = dir.file("issue");
};

// JSON against its schema and golden file, JUnit XML as a parser reads it.
TEST_F(MachineReportsTest, JsonAndJUnitReadBackAsWritten)
{
    const MachineReports report(TestContext(), outcome);
    std::string json = Captured([&](FILE* f) { report.writeJson(f); });
    WriteFile(dir.file("report.json"), json);
    WriteFile(dir.file("junit.xml"), Captured([&](FILE* f) { report.writeJUnit(f); }));
    const std::string check = R"py(import json, sys, jsonschema, xml.etree.ElementTree as ET
schema = json.load(open(")py" KVX_SOURCE_DIR R"py(/docs/report.schema.json"))
doc = json.load(open(sys.argv[1], encoding="utf-8"))
jsonschema.Draft202012Validator(schema).validate(doc)
rows = {t["name"]: t for t in doc["tests"]}
why = "needs a display (run kalvextest)"
assert rows["Odd \"<&>\"\\ \x02\u00e9"]["reason"] == "no\nprivilege"
assert doc["host"]["notes"] == "fan Odd \"<&>\"\\ \x02\u00e9\tok", doc["host"]["notes"]

s = ET.parse(sys.argv[2]).getroot()
assert (s.get("tests"), s.get("failures"), s.get("skipped"), s.get("time")) == ("6", "1", "2", "3723"), s.attrib
cases = {c.get("name"): c for c in s.iter("testcase")}
assert cases["Memory (RAM)"].find("failure").get("message") == "30: Memory verify error"
assert cases["3D Graphics"].find("skipped").get("message") == why
assert cases["Odd \"<&>\"\\ \ufffd\u00e9"].find("skipped").get("message") == "no\nprivilege"
)py";
    EXPECT_EQ(python(dir, check, dir.file("report.json") + " " + dir.file("junit.xml")), "");

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

TEST_F(MachineReportsTest, PrometheusSamplesParseToTheRunsValues)
{
    const std::string text = Captured([&](FILE* f) { MachineReports(TestContext(), outcome).writePrometheus(f); });
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

// A failed write leaves the old report as it was and no temporary beside it.
TEST(WriteReportFile, ReplacesWholeOrNotAtAll)
{
    TempDir dir;
    const std::string path = dir.file("out/report.json");
    ASSERT_EQ(::mkdir(dir.file("out").c_str(), 0755), 0);
    WriteFile(path, "old");
    std::string error;
    ASSERT_TRUE(WriteReportFile(
        path, [](FILE* f) { std::fputs("new", f); }, error))
        << error;
    EXPECT_EQ(ReadFile(path), "new");
    WriteFile(path, "old");

    const std::string big(64 * 1024, 'x');
    const auto oldXfsz = std::signal(SIGXFSZ, SIG_IGN);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file("out").c_str(), 0555);
    for (auto [target, euid, sizeLimit, why] :
        { std::tuple<std::string, uid_t, rlim_t, const char*> { path, 65534, RLIM_INFINITY, "Permission denied" },
            { dir.file("gone/report.json"), 0, RLIM_INFINITY, "No such file or directory" },
            { path, 0, 4096, "File too large" } }) {
        rlimit saved {};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit limit { sizeLimit, saved.rlim_max };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        bool ok = true;
        {
            ScopedEuid user(euid);
            ok = user.ok()
                && WriteReportFile(
                    target, [&](FILE* f) { std::fputs(big.c_str(), f); }, error);
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_FALSE(ok) << why;
        EXPECT_EQ(error, target + ": " + why);
        EXPECT_EQ(ReadFile(path), "old") << why;
        EXPECT_EQ(entries(dir.file("out")), std::vector<std::string> { "report.json" }) << why;
    }
    std::signal(SIGXFSZ, oldXfsz);
    ::chmod(dir.file("out").c_str(), 0755);

    testing::internal::CaptureStdout();
    EXPECT_TRUE(WriteReportFile(
        "-", [](FILE* f) { std::fputs("to stdout", f); }, error));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "to stdout");
}

} // namespace
