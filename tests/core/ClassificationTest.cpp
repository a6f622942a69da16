#include "ErrorClassification.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>

namespace {

class ClassificationFile : public ::testing::Test {
protected:
    TempDir dir;
    int read(const std::string& content)
    {
        WriteFile(dir.file("KVXErrorClassification.txt"), content);
        return InitialiseErrorClassifications(dir.path().c_str());
    }
};

TEST_F(ClassificationFile, ValidLinesFillBothTables)
{
    EXPECT_EQ(read("# comment\n1,\"Float add\",CRITICAL,\n30,\"Memory\",SERIOUS,\n249,\"Last\",INFORMATION,\n"
                   "2,\"Warn\",WARNING,\n"),
        -1);
    EXPECT_STREQ(e_strings[1], "Float add");
    EXPECT_EQ(e_classification[1], kSevCritical);
    EXPECT_EQ(e_classification[30], kSevSerious);
    EXPECT_EQ(e_classification[249], kSevInformation);
    EXPECT_EQ(e_classification[2], kSevWarning);
    EXPECT_STREQ(e_strings[3], "") << "codes the file does not give stay empty";
}

TEST_F(ClassificationFile, RunsOfCommasAreOneSeparator)
{
    EXPECT_EQ(read("7,,,\"Text\",,WARNING,,,\n"), -1);
    EXPECT_STREQ(e_strings[7], "Text");
    EXPECT_EQ(e_classification[7], kSevWarning);
}

TEST_F(ClassificationFile, QuotedTextKeepsItsCommas)
{
    EXPECT_EQ(read("8,\"Read, then verify\",SERIOUS,\n9,\"Two,,commas\",SERIOUS,\n"), -1);
    EXPECT_STREQ(e_strings[8], "Read, then verify");
    EXPECT_STREQ(e_strings[9], "Two,commas") << "a run of commas inside a text is one";
}

TEST_F(ClassificationFile, KeywordEndingTheLineEndsTheReading)
{
    EXPECT_EQ(read("4,\"Kept text\",SERIOUS\n5,\"Never read\",SERIOUS,\n"), 1);
    EXPECT_STREQ(e_strings[4], "Kept text") << "the text is stored before the keyword is checked";
    EXPECT_EQ(e_classification[4], kSevNone);
    EXPECT_STREQ(e_strings[5], "");
}

TEST_F(ClassificationFile, NoneOnlyForTheCodesThatMayHaveIt)
{
    EXPECT_EQ(read("20,\"Twenty\",NONE,\n5,\"Five\",NONE,\n6,\"Six\",SERIOUS,\n"), 2);
    EXPECT_STREQ(e_strings[20], "Twenty");
    EXPECT_STREQ(e_strings[5], "Five");
    EXPECT_EQ(e_classification[5], kSevNone);
    EXPECT_STREQ(e_strings[6], "");
}

TEST_F(ClassificationFile, CodeZeroIsTakenOnce)
{
    EXPECT_EQ(
        read("0,\"No error\",NONE,\n0,\"Again\",CRITICAL,\nnot a number,\"x\",CRITICAL,\n3,\"Three\",WARNING,\n"), -1);
    EXPECT_STREQ(e_strings[0], "No error");
    EXPECT_EQ(e_classification[0], kSevNone) << "later code-0 lines are skipped, not read";
    EXPECT_EQ(e_classification[3], kSevWarning);
}

TEST_F(ClassificationFile, CodeOutOfRangeEndsTheReading)
{
    EXPECT_EQ(read("1,\"One\",WARNING,\n250,\"Too big\",WARNING,\n2,\"Two\",WARNING,\n"), 2);
    EXPECT_STREQ(e_strings[2], "");
    EXPECT_EQ(read("-1,\"Negative\",WARNING,\n2,\"Two\",WARNING,\n"), 1);
}

TEST_F(ClassificationFile, BadTextsAndKeywordsEndTheReading)
{
    EXPECT_EQ(read("1,unquoted,WARNING,\n"), 1);
    EXPECT_EQ(read("1,\"open only,WARNING,\n"), 1);
    EXPECT_EQ(read("1,\"x\",warning,\n"), 1) << "keywords are case-sensitive";
    EXPECT_EQ(read("1,\"x\",\n"), 1);
    EXPECT_EQ(read("1,\"x\",FATAL,\n"), 1);
}

TEST_F(ClassificationFile, MissingFileLeavesEverythingEmpty)
{
    e_strings[1][0] = 'x';
    e_classification[1] = 4;
    EXPECT_EQ(InitialiseErrorClassifications(dir.path().c_str()), 0);
    EXPECT_STREQ(e_strings[1], "");
    EXPECT_EQ(e_classification[1], 0);
}

TEST_F(ClassificationFile, OverlongTextIsCutTo99Characters)
{
    const std::string text(150, 't');
    EXPECT_EQ(read("10,\"" + text + "\",WARNING,\n11,\"next\",WARNING,\n"), -1);
    EXPECT_EQ(std::string(e_strings[10]), text.substr(0, 99));
    EXPECT_EQ(e_classification[10], kSevWarning) << "a long text does not spoil its line";
    EXPECT_STREQ(e_strings[11], "next");
}

TEST_F(ClassificationFile, BlankLinesAreSkipped)
{
    EXPECT_EQ(read("\n1,\"One\",WARNING,\n   \n2,\"Two\",SERIOUS,\n"), -1);
    EXPECT_EQ(e_classification[2], kSevSerious);
    EXPECT_STREQ(e_strings[0], "");
}

// The file the program ships: read whole, and every code a test raises has a
// text and a severity.
TEST(ShippedClassification, CoversEveryRaisedCode)
{
    ASSERT_EQ(ReadErrorClassificationFile(KVX_SOURCE_DIR "/resources/KVXErrorClassification.txt"), -1);
    const std::set<int> raised = { 1, 3, 4, 9, 11, 12, 13, 14, 15, 16, 17, 18, 30, 31, 33, 34, 35, 37, 38, 39, 41, 43,
        44, 45, 46, 47, 50, 51, 52, 53, 54, 55, 57, 58, 61, 64, 82, 83, 84, 95, 96, 97, 98, 99, 100, 101, 123, 124, 130,
        131, 132, 133, 162, 200, 202, 203, 205, 206, 207, 208 };
    for (int code : raised) {
        EXPECT_GT(std::strlen(e_strings[code]), 10u) << code;
        EXPECT_GE(e_classification[code], kSevInformation) << code;
    }
}

} // namespace
