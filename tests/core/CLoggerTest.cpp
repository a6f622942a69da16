#include "CLogger.h"
#include "ConfigRecord.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

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

TEST_F(EventRing, KeepsTheNewest1000Lines)
{
    for (int i = 1; i <= 1001; ++i)
        log.AddLine(std::to_string(i).c_str(), 8, 0, nullptr, 1);
    EXPECT_EQ(log.GetNumberLines(), 1000);
    int test = -1;
    long when = 0;
    const std::string oldest = log.GetLine(0, &test, &when);
    EXPECT_EQ(oldest.substr(oldest.size() - 4), ", 2\n");
    EXPECT_EQ(test, 8);
    EXPECT_GT(when, 0);
    EXPECT_EQ(newest().substr(newest().size() - 7), ", 1001\n");
    EXPECT_EQ(log.GetLine(1001, &test, nullptr), nullptr);
    EXPECT_EQ(test, 0) << "test index is reset even when there is no line";

    // The running total goes on past the ring's size, so a reader can ask
    // for what came after the lines it has.
    EXPECT_EQ(log.GetTotalLines(), 1001u);
    std::vector<std::string> lines;
    int held = 0;
    EXPECT_EQ(log.CopyLinesSince(999, lines, &held), 1001u);
    EXPECT_EQ(held, 1000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].ends_with(", 1000\n") && lines[1].ends_with(", 1001\n")) << lines[0] << lines[1];
    log.CopyLinesSince(0, lines, &held);
    ASSERT_EQ(lines.size(), 1000u) << "only what the ring still holds";
    EXPECT_TRUE(lines.front().ends_with(", 2\n")) << lines.front();
    log.ClearLog();
    log.AddLine("after", 8, 0, nullptr, 1);
    EXPECT_EQ(log.CopyLinesSince(1001, lines, &held), 1002u) << "a clear does not reset the total";
    EXPECT_EQ(std::pair(lines.size(), held), std::pair(std::size_t { 1 }, 1));
    EXPECT_EQ(log.CopyLinesSince(1002, lines, nullptr), 1002u);
    EXPECT_TRUE(lines.empty());
}

TEST_F(EventRing, OnlyNormalEventsAtNormalDetailEnterTheRing)
{
    log.AddLine("trace detail", 8, 0, nullptr, 3);
    log.AddLine("summary", 8, 0, nullptr, 0);
    EXPECT_EQ(log.GetNumberLines(), 0);
    testconfig.log_detail_level = 0;
    log.AddLine("event", 8, 0, nullptr, 1);
    EXPECT_EQ(log.GetNumberLines(), 0);
    log.AddLine("", 8, 0, nullptr, 1);
    log.AddLine(nullptr, 8, 0, nullptr, 1);
    testconfig.log_detail_level = 1;
    log.AddLine("", 8, 0, nullptr, 1);
    EXPECT_EQ(log.GetNumberLines(), 0);
}

TEST_F(EventRing, LineHeadSeverityAndNames)
{
    e_classification[17] = kSevWarning;
    log.AddLine("block differs", 9, 17, nullptr, 1);
    EXPECT_EQ(newest().substr(0, 13), "WARNING    : ");
    EXPECT_NE(newest().find(", Disk, block differs\n"), std::string::npos);
    log.AddLine("named", -1, 0, "Disk: Startup Disk", 1);
    EXPECT_NE(newest().find(", Disk: Startup Disk, named\n"), std::string::npos);
    log.AddLine("anonymous", -1, 0, nullptr, 1);
    // "INFORMATION: 2026-12-06 10:00:00, anonymous"
    EXPECT_EQ(newest().find(", anonymous\n"), 32u) << newest();
    e_classification[17] = 0;
}

TEST_F(EventRing, ControlBytesBecomeBlanksAndPercentStays)
{
    log.AddLine("a\tb\nc %s %d \x7f\x80", 8, 0, nullptr, 1);
    const std::string l = newest();
    EXPECT_NE(l.find(", Maths, a b c %s %d \x7f \n"), std::string::npos) << l;
}

TEST_F(EventRing, RingLinesAreCutTo199Characters)
{
    const std::string text(300, 'm');
    log.AddLine(text.c_str(), 10, 0, nullptr, 1); // "2D Graphics"
    const std::string l = newest();
    EXPECT_EQ(l.size(), 199u);
    EXPECT_NE(l.find(", 2D Graphics, mmm"), std::string::npos);
}

TEST_F(EventRing, FirstOccurrenceKeepsItsHeadLaterOnesOnlyCount)
{
    log.AddLine("first", 9, 42, nullptr, 1);
    const std::string head = resultfile.first_occurrence[42];
    log.AddLine("second", 4, 42, nullptr, 1);
    EXPECT_EQ(resultfile.error_occurrences[42], 2);
    EXPECT_EQ(std::string(resultfile.first_occurrence[42]), head);
    EXPECT_NE(head.find(", Disk"), std::string::npos);
}

TEST_F(EventRing, ClearEmptiesTheRing)
{
    log.AddLine("x", 8, 0, nullptr, 1);
    log.ClearLog();
    EXPECT_EQ(log.GetNumberLines(), 0);
    EXPECT_EQ(log.GetLine(-1, nullptr, nullptr), nullptr);
}

} // namespace
