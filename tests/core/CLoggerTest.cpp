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
    EXPECT_EQ(log.GetLine(1001, &test, nullptr), nullptr);
    EXPECT_EQ(test, 0) << "test index is reset even when there is no line";

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

TEST_F(EventRing, OnlyNormalEventsAtNormalDetailEnterTheRing)
{
    log.AddLine("trace detail", 8, 0, nullptr, 3);
    log.AddLine("summary", 8, 0, nullptr, 0);
    log.AddLine("", 8, 0, nullptr, 1);
    log.AddLine(nullptr, 8, 0, nullptr, 1);
    testconfig.log_detail_level = 0;
    log.AddLine("event", 8, 0, nullptr, 1);
    EXPECT_EQ(log.GetNumberLines(), 0);
}

TEST_F(EventRing, LineFormat)
{
    e_classification[17] = kSevWarning;
    log.AddLine("block differs", 9, 17, nullptr, 1);
    EXPECT_TRUE(newest().starts_with("WARNING    : ") && newest().ends_with(", Disk, block differs\n")) << newest();
    const std::string head = resultfile.first_occurrence[17];
    log.AddLine("again", 4, 17, nullptr, 1);
    EXPECT_EQ(resultfile.error_occurrences[17], 2);
    EXPECT_EQ(std::string(resultfile.first_occurrence[17]), head) << "the first occurrence keeps its head";
    EXPECT_TRUE(head.ends_with(", Disk")) << head;
    e_classification[17] = 0;

    log.AddLine("named", -1, 0, "Disk: Startup Disk", 1);
    EXPECT_TRUE(newest().ends_with(", Disk: Startup Disk, named\n"));
    log.AddLine("anonymous", -1, 0, nullptr, 1);
    EXPECT_EQ(newest().find(", anonymous\n"), 32u) << "INFORMATION: 2026-12-06 10:00:00, anonymous";
    log.AddLine("a\tb\nc %s %d \x7f\x80", 8, 0, nullptr, 1);
    EXPECT_TRUE(newest().ends_with(", Maths, a b c %s %d \x7f \n")) << newest();
    log.AddLine(std::string(300, 'm').c_str(), 10, 0, nullptr, 1);
    EXPECT_EQ(newest().size(), 199u) << "cut to the ring's line size";
}

} // namespace
