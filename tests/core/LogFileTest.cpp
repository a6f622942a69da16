#include "CLogger.h"
#include "ConfigFile.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class LogFiles : public ::testing::Test {
protected:
    TempDir dir;
    RecordingSink sink;
    std::unique_ptr<CLogger> log;

    void SetUp() override
    {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        gReportClock = [] { return std::time_t { 1772794931 }; }; // 2026-03-06 11:02:11 UTC
        std::snprintf(dirname, sizeof dirname, "%s", dir.path().c_str());
        std::memset(&resultfile, 0, sizeof resultfile);
        testconfig = ValidConfig();
        testconfig.logging_enabled = 1;
        log = std::make_unique<CLogger>("dummyStr");
    }
    void TearDown() override
    {
        log.reset();
        gReportClock = [] { return std::time(nullptr); };
    }
    std::string logText() { return ReadFile(dir.file("KVX_log.log")); }
    void restart(bool followConfig = true)
    {
        log = std::make_unique<CLogger>("dummyStr");
        log->CreateLogFile(followConfig);
    }
};

TEST_F(LogFiles, NewLogGetsSystemInformationThenEventLines)
{
    testconfig.log_detail_level = 7; // out of range in a loaded file: repaired
    testconfig.trace_level = 9;
    log->CreateLogFile(true);
    EXPECT_EQ(std::pair(testconfig.log_detail_level, testconfig.trace_level), std::pair(1, 2));
    EXPECT_STREQ(testconfig.log_directory, dir.path().c_str()) << "an empty directory becomes the program's";
    EXPECT_STREQ(gCurrentLogFile, dir.file("KVX_log.log").c_str());
    log->AddLine("Starting test\n", -1, 0, "CPU - Maths", 3);
    log->AddLine("an event with 100% and %s", 8, 0, nullptr, 1);
    const std::string text = logText();
    EXPECT_EQ(text.rfind("Veltrane KalvexTest Log file  -  ", 0), 0u);
    EXPECT_LT(text.find("SYSTEM INFORMATION\n"), text.find("DETAILED EVENT LOG\n"));
    EXPECT_EQ(count(text, "DETAILED EVENT LOG\n"), 1u);
    EXPECT_NE(text.find(", Maths, an event with 100% and %s\n"), std::string::npos);
    EXPECT_EQ(text.find("Starting test"), std::string::npos) << "level 3 belongs to the trace only";
    // The header flag and line count survive in LastUsed.cfg.
    _testconfig saved;
    ASSERT_EQ(ConfigFileLoad("LastUsed.cfg", dir.path().c_str(), &saved), 0);
    EXPECT_EQ(std::pair(saved.log_header_written, saved.log_line_count), std::pair(std::uint8_t { 1 }, 23));
}

TEST_F(LogFiles, RestartAppendsUnderTheSameHeaderCreateNewEmptiesTheFile)
{
    log->CreateLogFile(true);
    log->AddLine("before restart", 8, 0, nullptr, 1);
    restart();
    log->AddLine("after restart", 8, 0, nullptr, 1);
    std::string text = logText();
    EXPECT_EQ(count(text, "DETAILED EVENT LOG\n") + count(text, "SYSTEM INFORMATION\n"), 2u);
    EXPECT_LT(text.find("before restart"), text.find("after restart"));

    testconfig.pretest_log_mode = 2;
    restart();
    text = logText();
    EXPECT_EQ(text.find("after restart"), std::string::npos);
    EXPECT_EQ(count(text, "SYSTEM INFORMATION\n"), 1u);
    EXPECT_EQ(testconfig.log_line_count, 23) << "counts restart with the file";
}

TEST_F(LogFiles, DetailAndTraceLevelsChooseTheLines)
{
    testconfig.log_detail_level = 0;
    log->CreateLogFile(true);
    log->AddLine("normal event", 8, 0, nullptr, 1);
    log->AddLine("summary line", 8, 0, nullptr, 0);
    EXPECT_EQ(logText().find("normal event"), std::string::npos);
    EXPECT_NE(logText().find("summary line"), std::string::npos);

    for (int traceLevel : { 3, 4 }) {
        testconfig.trace_level = traceLevel;
        testconfig.pretest_log_mode = 2;
        restart();
        log->AddLine("event line", 8, 0, nullptr, 0);
        log->AddLine("detail three", 8, 0, nullptr, 3);
        log->AddLine("detail four", 8, 0, nullptr, 4);
        const std::string trace = ReadFile(dir.file("KVX_log.trace"));
        EXPECT_TRUE(trace.find("event line") != std::string::npos && trace.find("detail three") != std::string::npos);
        EXPECT_EQ(trace.find("detail four") != std::string::npos, traceLevel == 4) << traceLevel;
    }
}

TEST_F(LogFiles, NamesStampsAndHtml)
{
    std::strcpy(testconfig.log_file_name, "mylog.txt");
    testconfig.log_file_option = 1;
    std::strcpy(testconfig.log_prefix, "bench-");
    log->CreateLogFile(true);
    EXPECT_STREQ(gCurrentLogFile, dir.file("bench-mylog_20260306_110211.log").c_str());
    EXPECT_TRUE(FileExists(gCurrentLogFile));
    // The debug option's reset: program directory, default names, no prefix.
    testconfig.log_file_format = 2;
    restart(false);
    EXPECT_STREQ(gCurrentLogFile, dir.file("KVX_log_20260306_110211.htm").c_str());
    e_classification[37] = kSevWarning;
    e_classification[30] = kSevCritical;
    log->AddLine("fine <b>", 8, 0, nullptr, 1);
    log->AddLine("slow", 12, 37, nullptr, 1);
    log->AddLine("broken", 4, 30, nullptr, 1);
    e_classification[37] = e_classification[30] = 0;
    const std::string text = ReadFile(gCurrentLogFile);
    for (const char* part : { "<td bgcolor=\"#00FF00\"><strong><small>INFORMATION: ", "fine &lt;b&gt;",
             "<td bgcolor=\"#FFFF00\"><strong><small>WARNING    : ",
             "<td bgcolor=\"#FF0000\"><strong><small>CRITICAL   : ",
             "<td bgcolor=\"#8F936C\"><strong>DETAILED EVENT LOG</strong></td>\n" })
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

// Engines must still log while a box waits for the user.
class BlockingSink : public RecordingSink {
public:
    std::promise<void> shown;
    std::promise<void> release;
    int show(BoxIcon icon, const std::string& caption, const std::string& text, const std::vector<std::string>& buttons,
        int defaultButton, int escapeButton) override
    {
        const int answer = RecordingSink::show(icon, caption, text, buttons, defaultButton, escapeButton);
        if (boxes.size() == 1) {
            shown.set_value();
            release.get_future().wait();
        }
        return answer;
    }
};

TEST_F(LogFiles, NeitherABoxNorASaveHoldsTheLogAndAMissingDirectoryOpensNothing)
{
    // The saves of the header flag run with the log free for other threads.
    std::vector<std::future<int>> probes;
    std::vector<bool> free;
    log->SetConfigSaver([&] {
        probes.push_back(std::async(std::launch::async, [&] { return log->GetNumberLines(); }));
        free.push_back(probes.back().wait_for(5s) == std::future_status::ready);
    });
    log->CreateLogFile(true);
    testconfig.log_header_written = 0;
    log->AddLine("header again", 8, 0, nullptr, 1);
    EXPECT_EQ(free, std::vector<bool>({ true, true })) << "configuration saved under the log's lock";
    log->SetConfigSaver({});

    BlockingSink box;
    std::snprintf(testconfig.log_directory, sizeof testconfig.log_directory, "%s", dir.file("gone").c_str());
    std::thread gui([&] { log->CreateLogFile(true); });
    box.shown.get_future().wait();
    auto line = std::async(std::launch::async, [&] { return log->AddLine("while the box is open", 8, 0, nullptr, 1); });
    const bool logged = line.wait_for(10s) == std::future_status::ready;
    box.release.set_value();
    gui.join();
    EXPECT_TRUE(logged) << "a box asked for by a log file failure holds the log";
    ASSERT_EQ(box.boxes.size(), 2u);
    EXPECT_EQ(box.boxes[0].caption, "Directory does not exist");
    EXPECT_EQ(box.boxes[1].caption, "Error saving/creating *" + dir.file("gone/KVX_log.log") + "*");
    EXPECT_EQ(box.boxes[1].buttons, std::vector<std::string> { "Quit" });
    EXPECT_EQ(g_fpLogFile, nullptr);
    log->AddLine("dropped", 8, 0, nullptr, 1); // must not crash without a file
    testconfig.logging_enabled = 0;
    restart();
    EXPECT_EQ(box.boxes.size(), 2u) << "logging off opens nothing";
}

class EventRing : public ::testing::Test {
protected:
    CLogger log { "dummyStr" };
    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        testconfig.log_detail_level = 1;
    }
    std::string newest()
    {
        const char* l = log.GetLine(-1, nullptr, nullptr);
        return l ? l : "";
    }
};

TEST_F(EventRing, KeepsTheNewest1000LinesAndCountsOn)
{
    for (int i = 1; i <= 1001; ++i)
        log.AddLine(std::to_string(i).c_str(), 8, 0, nullptr, 1);
    EXPECT_EQ(log.GetNumberLines(), 1000);
    int test = -1;
    long when = 0;
    const std::string oldest = log.GetLine(0, &test, &when);
    EXPECT_TRUE(oldest.ends_with(", 2\n") && test == 8 && when > 0) << oldest;
    EXPECT_TRUE(newest().ends_with(", 1001\n"));

    std::vector<std::string> lines;
    int held = 0;
    EXPECT_EQ(log.CopyLinesSince(999, lines, &held), 1001u);
    EXPECT_EQ(held, 1000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].ends_with(", 1000\n") && lines[1].ends_with(", 1001\n")) << lines[0] << lines[1];
    log.CopyLinesSince(0, lines, &held);
    ASSERT_EQ(lines.size(), 1000u) << "only what the ring still holds";
    log.ClearLog();
    EXPECT_EQ(log.GetLine(-1, nullptr, nullptr), nullptr);
    log.AddLine("after", 8, 0, nullptr, 1);
    EXPECT_EQ(log.CopyLinesSince(1001, lines, &held), 1002u) << "a clear does not reset the total";
    EXPECT_EQ(std::pair(lines.size(), held), std::pair(std::size_t { 1 }, 1));
}

TEST_F(EventRing, OnlyNormalEventsAtNormalDetailEnterInTheirFormat)
{
    log.AddLine("trace detail", 8, 0, nullptr, 3);
    log.AddLine("summary", 8, 0, nullptr, 0);
    log.AddLine("", 8, 0, nullptr, 1);
    log.AddLine(nullptr, 8, 0, nullptr, 1);
    testconfig.log_detail_level = 0;
    log.AddLine("event", 8, 0, nullptr, 1);
    EXPECT_EQ(log.GetNumberLines(), 0);
    testconfig.log_detail_level = 1;

    e_classification[17] = kSevWarning;
    log.AddLine("block differs", 9, 17, nullptr, 1);
    EXPECT_TRUE(newest().starts_with("WARNING    : ") && newest().ends_with(", Disk, block differs\n")) << newest();
    const std::string head = resultfile.first_occurrence[17];
    log.AddLine("again", 4, 17, nullptr, 1);
    EXPECT_EQ(resultfile.error_occurrences[17], 2);
    EXPECT_EQ(std::string(resultfile.first_occurrence[17]), head) << "the first occurrence keeps its head";
    e_classification[17] = 0;

    log.AddLine("a\tb\nc %s %d \x7f\x80", 8, 0, nullptr, 1);
    EXPECT_TRUE(newest().ends_with(", Maths, a b c %s %d \x7f \n")) << newest();
    log.AddLine(std::string(300, 'm').c_str(), 10, 0, nullptr, 1);
    EXPECT_EQ(newest().size(), 199u) << "cut to the ring's line size";
}

} // namespace
