#include "CLogger.h"
#include "ErrorClassification.h"
#include "NullEngine.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

constexpr std::time_t kNow = 1772794931; // Fri Mar  6 11:02:11 2026 UTC

class Reports : public ::testing::Test {
protected:
    TempDir dir;
    CLogger log { "dummyStr" };

    void SetUp() override
    {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        gReportClock = [] { return kNow; };
        std::snprintf(dirname, sizeof dirname, "%s", dir.path().c_str());
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
        std::memset(e_strings, 0, sizeof e_strings);
        std::memset(e_classification, 0, sizeof e_classification);
        std::strcpy(e_strings[0], "No error");
        for (auto [code, text, severity] :
            { std::tuple { 30, "Memory verify error", kSevCritical }, { 37, "Network timeout", kSevWarning },
                { 38, "Network send failed", kSevSerious }, { 12, "No information", kSevInformation } }) {
            std::strcpy(e_strings[code], text);
            e_classification[code] = severity;
        }
        // The network group is off: no network rows. USB plugs 1 and 2 of 1.
        for (int slot : { int(kSlotMaths), int(kSlotMemory), int(kSlotDiskFirst), int(kSlotDiskGroup),
                 int(kSlotNetworkFirst), int(kSlotParallel), kSlotSerialFirst + 3, int(kSlotSerialGroup), 75, 76 })
            testconfig.test_enabled[slot] = 1;
        testconfig.parallel_port_number = 1;
        testconfig.usb_plug_count = 1;
        std::strcpy(gFileSystemStructPtr[0].alias, "Startup Disk [/dev/vda1]");
        gFileSystemStructPtr[0].vfs.f_bsize = 4096;

        resultfile.accum_results[kSlotMaths] = { 5, 0, 0, 0, 12345678 };
        resultfile.accum_results[kSlotMemory] = { 2, 0, 1, 30, 123456789 };
        resultfile.accum_classes[kSlotMemory].critical = 1;
        resultfile.accum_results[kSlotDiskFirst] = { 3, 0, 0, 0, 2000 };
        resultfile.accum_results[kSlotParallel] = { 7, 0, 0, 0, 123456789012ull };
        resultfile.accum_results[kSlotSerialFirst + 3] = { 1, 0, 0, 0, 999 };
        resultfile.run_start_time = static_cast<std::int32_t>(kNow - 3723);
        resultfile.run_stop_time = static_cast<std::int32_t>(kNow);
    }
    void TearDown() override
    {
        gReportClock = [] { return std::time(nullptr); };
    }
};

// Rows come from the engine list: adding one (the null engine) needs no
// other code. A USB plug beyond the configured count has no row.
TEST_F(Reports, AsciiResultSummaryNormalView)
{
    testconfig.test_enabled[kNullEngine.firstSlot] = 1;
    const std::string text = Captured([&](FILE* f) { log.saveasciiresultsummary(f, true); });
    EXPECT_EQ(GoldenFile(KVX_SOURCE_DIR "/tests/data/result_summary.txt", text), text);
    EXPECT_NE(text.find("\n              Null engine   0 "), std::string::npos);
}

TEST_F(Reports, AsciiResultSummaryByCategoryWithNotes)
{
    testconfig.view_errors_by_category = 1;
    resultfile.accum_results[kSlotMemory].errors = 0;
    resultfile.accum_classes[kSlotMemory].critical = 0;
    resultfile.accum_classes[kSlotMaths] = { 4, 3, 2, 1 };
    std::strcpy(resultfile.machine_type, "Tower");
    std::strcpy(resultfile.machine_serial, "SN9");
    std::strcpy(resultfile.notes, "new fan");
    testconfig.test_enabled[kSlotDiskGroup] = 0;
    const std::string text = Captured([&](FILE* f) { log.saveasciiresultsummary(f, false); });
    EXPECT_EQ(GoldenFile(KVX_SOURCE_DIR "/tests/data/result_summary_by_category.txt", text), text);
}

TEST_F(Reports, SeriousErrorSummaryListsOnlySeriousAndCritical)
{
    resultfile.error_occurrences[30] = 3;
    std::strcpy(resultfile.first_occurrence[30], "CRITICAL   : 2026-03-06 10:10:00, RAM");
    resultfile.error_occurrences[38] = 1;
    std::strcpy(resultfile.first_occurrence[38], "SERIOUS    : 2026-03-06 10:20:00, Network");
    resultfile.error_occurrences[37] = 9;
    resultfile.error_occurrences[12] = 2;
    // Plain and script summaries, their separators, and the plain one with no serious error left.
    std::string text;
    const auto summary = [&](bool script, bool separator, int failed) {
        text += Captured([&](FILE* f) { log.saveasciierrorsummary(f, script, separator, failed); });
    };
    summary(false, false, -1);
    summary(true, false, 2);
    summary(false, true, 0);
    summary(true, true, 0);
    resultfile.error_occurrences[30] = resultfile.error_occurrences[38] = 0;
    summary(false, false, -1);
    EXPECT_EQ(GoldenFile(KVX_SOURCE_DIR "/tests/data/error_summary.txt", text), text);
}

TEST_F(Reports, HtmlResultSummary)
{
    resultfile.accum_results[kSlotMemory].errors = 0;
    testconfig.test_enabled[kSlotDiskGroup] = 0;
    testconfig.test_enabled[kSlotParallel] = 0;
    testconfig.test_enabled[kSlotSerialGroup] = 0;
    testconfig.test_enabled[75] = 0;
    std::strcpy(resultfile.notes, "line1\nline <2>");
    const std::string text = Captured([&](FILE* f) { log.savehtmlresultsummary(f); });
    EXPECT_EQ(GoldenFile(KVX_SOURCE_DIR "/tests/data/result_summary.html", text), text);
}

TEST_F(Reports, SystemInformationBlockDescribesThisMachine)
{
    WriteFile(dir.file("issue"), "Debian GNU/Linux 12 \\n \\l\n\n");
    const std::string issuePath = dir.file("issue");
    gEtcIssuePath = issuePath.c_str();
    testconfig.log_detail_level = 1;
    std::strcpy(resultfile.machine_serial, "SN-7");
    // Another machine's processors and screen, as captured there.
    const std::string data = KVX_SOURCE_DIR "/tests/data/";
    ASSERT_EQ(BuildCPUInfoStruct(&resultfile.cpu_info, (data + "cpuinfo/intel-core2quad-q6600.txt").c_str()), 0);
    const std::string xdpyinfo = ReadFile(data + "xdpyinfo/nvidia-1920x1080x24.txt");
    ASSERT_EQ(BuildVideoInfoStruct(
                  &resultfile.video_info, (data + "xorg/nvidia-xconfig.conf").c_str(), [&] { return xdpyinfo; }),
        0);

    testconfig.logging_enabled = 1;
    testconfig.trace_level = 2;
    // What differs from machine to machine stands as a name in the golden files.
    utsname u {};
    ::uname(&u);
    const auto named = [&](std::string text) {
        const std::string ram = std::to_string(static_cast<unsigned long>(::sysconf(_SC_PHYS_PAGES)) * 4);
        for (const auto& [value, name] : { std::pair<std::string, std::string> { u.nodename, "@NODE@" },
                 { std::string(u.sysname) + " (" + u.release + ")", "@OS@" }, { ram, "@RAM@" } })
            for (auto at = text.find(value); at != std::string::npos; at = text.find(value, at + name.size()))
                text.replace(at, value.size(), name);
        return text;
    };
    const std::string text = named(Captured([&](FILE* f) { log.WriteSystemInfoToFile(f); }));
    EXPECT_EQ(GoldenFile(KVX_SOURCE_DIR "/tests/data/system_info.txt", text), text);
    EXPECT_EQ(testconfig.log_line_count, 23);
    EXPECT_EQ(testconfig.trace_line_count, 0);
    EXPECT_STREQ(resultfile.network_name, u.nodename);
    const std::string html = named(Captured([&](FILE* f) { log.WriteHTMLSystemInfoToFile(f); }));
    EXPECT_EQ(GoldenFile(KVX_SOURCE_DIR "/tests/data/system_info.html", html), html);
    gEtcIssuePath = "/etc/issue";
}

TEST_F(Reports, SummariesGoToTheOpenFilesAndCountLines)
{
    testconfig.logging_enabled = 1;
    testconfig.log_file_format = 1;
    testconfig.trace_level = 3;
    testconfig.log_header_written = 1;
    testconfig.trace_header_written = 1;
    g_fpLogFile = std::fopen(dir.file("log.log").c_str(), "w+");
    g_fpActivityLog = std::fopen(dir.file("log.trace").c_str(), "w+");
    log.saveresultsummary();
    log.saveerrorsummary(false, false, -1);
    EXPECT_EQ(testconfig.log_line_count, 60);
    EXPECT_EQ(testconfig.trace_line_count, 60);
    EXPECT_EQ(testconfig.log_header_written, 0) << "the next event line starts a new header";
    EXPECT_EQ(testconfig.trace_header_written, 0);
    std::fclose(g_fpLogFile);
    std::fclose(g_fpActivityLog);
    g_fpLogFile = g_fpActivityLog = nullptr;
    const std::string text = ReadFile(dir.file("log.log"));
    EXPECT_LT(text.find("TEST RUN FAILED"), text.find("SERIOUS ERROR SUMMARY"));
    EXPECT_EQ(ReadFile(dir.file("log.trace")), text);
    EXPECT_TRUE(FileExists(dir.file("LastUsed.cfg")));
}

} // namespace
