#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigFile.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

std::time_t fixedClock()
{
    return 1772794931; // 2026-03-06 11:02:11 UTC
}

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
        gReportClock = fixedClock;
        std::snprintf(dirname, sizeof dirname, "%s", dir.path().c_str());
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(&testconfig, 0, sizeof testconfig);
        KalvexTest_SetUpDefault(&testconfig);
        std::memcpy(testconfig.magic, kConfigMagic, 8);
        testconfig.version = 1;
        testconfig.logging_enabled = 1;
        log = std::make_unique<CLogger>("dummyStr");
    }
    void TearDown() override
    {
        log.reset();
        gReportClock = [] { return std::time(nullptr); };
    }
    std::string logText() { return ReadFile(dir.file("KVX_log.log")); }
    void restart()
    {
        log = std::make_unique<CLogger>("dummyStr");
        log->CreateLogFile(true);
    }
};

TEST_F(LogFiles, NewLogGetsSystemInformationThenEventLines)
{
    log->CreateLogFile(true);
    EXPECT_STREQ(testconfig.log_directory, dir.path().c_str()) << "an empty directory becomes the program's";
    EXPECT_STREQ(gCurrentLogFile, dir.file("KVX_log.log").c_str());
    log->AddLine("Starting test\n", -1, 0, "CPU - Maths", 3);
    log->AddLine("an event with 100% and %s", 8, 0, nullptr, 1);
    const std::string text = logText();
    EXPECT_EQ(text.rfind("Veltrane KalvexTest Log file  -  ", 0), 0u);
    EXPECT_NE(text.find("SYSTEM INFORMATION\n"), std::string::npos);
    EXPECT_EQ(count(text, "DETAILED EVENT LOG\n"), 1u);
    EXPECT_NE(text.find(", Maths, an event with 100% and %s\n"), std::string::npos);
    EXPECT_EQ(text.find("Starting test"), std::string::npos) << "level 3 belongs to the trace only";
    EXPECT_EQ(testconfig.log_header_written, 1);
    // The header flag survives in LastUsed.cfg.
    _testconfig saved;
    ASSERT_EQ(ConfigFileLoad("LastUsed.cfg", dir.path().c_str(), &saved), 0);
    EXPECT_EQ(saved.log_header_written, 1);
    EXPECT_EQ(saved.log_line_count, 23);
}

TEST_F(LogFiles, RestartedProgramAppendsUnderTheSameHeader)
{
    log->CreateLogFile(true);
    log->AddLine("before restart", 8, 0, nullptr, 1);
    restart();
    log->AddLine("after restart", 8, 0, nullptr, 1);
    const std::string text = logText();
    EXPECT_EQ(count(text, "DETAILED EVENT LOG\n"), 1u);
    EXPECT_EQ(count(text, "SYSTEM INFORMATION\n"), 1u);
    EXPECT_LT(text.find("before restart"), text.find("after restart"));
}

TEST_F(LogFiles, CreateNewModeStartsAnEmptyFile)
{
    log->CreateLogFile(true);
    log->AddLine("old run", 8, 0, nullptr, 1);
    testconfig.pretest_log_mode = 2;
    restart();
    const std::string text = logText();
    EXPECT_EQ(text.find("old run"), std::string::npos);
    EXPECT_EQ(count(text, "SYSTEM INFORMATION\n"), 1u);
    EXPECT_EQ(testconfig.log_line_count, 23) << "counts restart with the file";
}

TEST_F(LogFiles, ResultSummaryDetailKeepsEventsOut)
{
    testconfig.log_detail_level = 0;
    log->CreateLogFile(true);
    log->AddLine("normal event", 8, 0, nullptr, 1);
    log->AddLine("summary line", 8, 0, nullptr, 0);
    const std::string text = logText();
    EXPECT_EQ(text.find("normal event"), std::string::npos);
    EXPECT_NE(text.find("summary line"), std::string::npos);
    EXPECT_EQ(log->GetNumberLines(), 0);
    EXPECT_EQ(text.find("DETAILED EVENT LOG\n******************\nSYSTEM"), std::string::npos);
}

TEST_F(LogFiles, TraceLevelsChooseTheDetailLines)
{
    for (int traceLevel : { 3, 4 }) {
        testconfig.trace_level = traceLevel;
        testconfig.pretest_log_mode = 2;
        restart();
        log->AddLine("event line", 8, 0, nullptr, 1);
        log->AddLine("detail three", 8, 0, nullptr, 3);
        log->AddLine("detail four", 8, 0, nullptr, 4);
        const std::string trace = ReadFile(dir.file("KVX_log.trace"));
        EXPECT_NE(trace.find("SYSTEM INFORMATION\n"), std::string::npos);
        EXPECT_NE(trace.find("event line"), std::string::npos);
        EXPECT_NE(trace.find("detail three"), std::string::npos);
        EXPECT_EQ(trace.find("detail four") != std::string::npos, traceLevel == 4) << traceLevel;
    }
}

TEST_F(LogFiles, MultipleFilesOptionStampsTheName)
{
    std::strcpy(testconfig.log_file_name, "mylog.txt");
    testconfig.log_file_option = 1;
    std::strcpy(testconfig.log_prefix, "bench-");
    log->CreateLogFile(true);
    EXPECT_STREQ(gCurrentLogFile, dir.file("bench-mylog_20260306_110211.log").c_str());
    EXPECT_TRUE(FileExists(gCurrentLogFile));
    // The debug option's reset: program directory, default names, no prefix.
    restart();
    log = std::make_unique<CLogger>("dummyStr");
    log->CreateLogFile(false);
    EXPECT_STREQ(gCurrentLogFile, dir.file("KVX_log_20260306_110211.log").c_str());
}

TEST_F(LogFiles, HtmlLogColoursAndEscapesLines)
{
    testconfig.log_file_format = 2;
    e_classification[37] = kSevWarning;
    e_classification[30] = kSevCritical;
    log->CreateLogFile(true);
    EXPECT_STREQ(gCurrentLogFile, dir.file("KVX_log.htm").c_str());
    log->AddLine("fine <b>", 8, 0, nullptr, 1);
    log->AddLine("slow", 12, 37, nullptr, 1);
    log->AddLine("broken", 4, 30, nullptr, 1);
    const std::string text = ReadFile(gCurrentLogFile);
    EXPECT_NE(text.find("<td bgcolor=\"#00FF00\"><strong><small>INFORMATION: "), std::string::npos);
    EXPECT_NE(text.find("fine &lt;b&gt;"), std::string::npos);
    EXPECT_NE(text.find("<td bgcolor=\"#FFFF00\"><strong><small>WARNING    : "), std::string::npos);
    EXPECT_NE(text.find("<td bgcolor=\"#FF0000\"><strong><small>CRITICAL   : "), std::string::npos);
    EXPECT_NE(text.find("<td bgcolor=\"#8F936C\"><strong>DETAILED EVENT LOG</strong></td>\n"), std::string::npos);
    e_classification[37] = e_classification[30] = 0;
}

TEST_F(LogFiles, LongTestNameLeaves170CharactersOfMessage)
{
    log->CreateLogFile(true);
    log->AddLine(std::string(300, 'm').c_str(), 10, 0, nullptr, 1);
    const std::string text = logText();
    const auto at = text.find(", 2D Graphics, ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(text.find('\n', at) - (at + 15), 170u);
}

TEST_F(LogFiles, MissingDirectoryIsReportedThenTheOpenFails)
{
    std::snprintf(testconfig.log_directory, sizeof testconfig.log_directory, "%s", dir.file("gone").c_str());
    log->CreateLogFile(true);
    ASSERT_GE(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[0].caption, "Directory does not exist");
    EXPECT_EQ(sink.boxes[0].text,
        "*" + dir.file("gone") + "* does not exist\nPlease check that you have the directory *" + dir.file("gone")
            + "*");
    EXPECT_EQ(sink.boxes[1].caption, "Error saving/creating *" + dir.file("gone/KVX_log.log") + "*");
    EXPECT_EQ(g_fpLogFile, nullptr);
    log->AddLine("dropped", 8, 0, nullptr, 1); // must not crash without a file
}

TEST_F(LogFiles, LoggingOffOpensNothing)
{
    testconfig.logging_enabled = 0;
    log->CreateLogFile(true);
    log->AddLine("x", 8, 0, nullptr, 1);
    EXPECT_FALSE(FileExists(dir.file("KVX_log.log")));
}

TEST_F(LogFiles, OutOfRangeLevelsAreRepairedOnCreate)
{
    testconfig.log_detail_level = 7;
    testconfig.trace_level = 9;
    log->CreateLogFile(true);
    EXPECT_EQ(testconfig.log_detail_level, 1);
    EXPECT_EQ(testconfig.trace_level, 2);
}

} // namespace
