#include "EngineInfo.h"
#include "ErrorClassification.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

namespace {

// One file's content, what reading it returns, and one code's text and
// severity afterwards.
struct FileCase {
    const char* content;
    int result;
    int code;
    const char* text;
    int severity;
};

TEST(ClassificationFile, ReadsValidLinesAndStopsAtTheFirstBadOne)
{
    const std::string longText(150, 't');
    const std::string longLine = "10,\"" + longText + "\",WARNING,\n11,\"next\",WARNING,\n";
    const FileCase cases[] = {
        { "# comment\n1,\"Float add\",CRITICAL,\n249,\"Last\",INFORMATION,\n", -1, 1, "Float add", kSevCritical },
        { "# comment\n1,\"Float add\",CRITICAL,\n249,\"Last\",INFORMATION,\n", -1, 249, "Last", kSevInformation },
        { "7,,,\"Text\",,WARNING,,,\n", -1, 7, "Text", kSevWarning }, // runs of commas are one separator
        { "8,\"Read, then verify\",SERIOUS,\n", -1, 8, "Read, then verify", kSevSerious },
        { "9,\"Two,,commas\",SERIOUS,\n", -1, 9, "Two,commas", kSevSerious },
        // A keyword ending the line ends the reading, after the text is stored.
        { "4,\"Kept text\",SERIOUS\n5,\"Never read\",SERIOUS,\n", 1, 4, "Kept text", kSevNone },
        // NONE only for the codes that may have it.
        { "20,\"Twenty\",NONE,\n5,\"Five\",NONE,\n6,\"Six\",SERIOUS,\n", 2, 5, "Five", kSevNone },
        // Later code-0 lines are skipped, not read; a line without a number too.
        { "0,\"No error\",NONE,\n0,\"Again\",CRITICAL,\nnot a number,\"x\",CRITICAL,\n3,\"Three\",WARNING,\n", -1, 0,
            "No error", kSevNone },
        { "0,\"No error\",NONE,\n0,\"Again\",CRITICAL,\nnot a number,\"x\",CRITICAL,\n3,\"Three\",WARNING,\n", -1, 3,
            "Three", kSevWarning },
        { "1,\"One\",WARNING,\n250,\"Too big\",WARNING,\n2,\"Two\",WARNING,\n", 2, 2, "", kSevNone },
        { "-1,\"Negative\",WARNING,\n2,\"Two\",WARNING,\n", 1, 2, "", kSevNone },
        { "1,unquoted,WARNING,\n", 1, 1, "", kSevNone },
        { "1,\"open only,WARNING,\n", 1, 1, "", kSevNone },
        { "1,\"x\",warning,\n", 1, 1, "x", kSevNone }, // keywords are case-sensitive
        { "1,\"x\",FATAL,\n", 1, 1, "x", kSevNone },
        { longLine.c_str(), -1, 10, nullptr, kSevWarning }, // cut to 99, the line stays good
        { longLine.c_str(), -1, 11, "next", kSevWarning },
        { "\n1,\"One\",WARNING,\n   \n2,\"Two\",SERIOUS,\n", -1, 2, "Two", kSevSerious },
    };
    TempDir dir;
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.content);
        WriteFile(dir.file("KVXErrorClassification.txt"), c.content);
        EXPECT_EQ(InitialiseErrorClassifications(dir.path().c_str()), c.result);
        EXPECT_EQ(std::string(e_strings[c.code]), c.text ? c.text : longText.substr(0, 99));
        EXPECT_EQ(e_classification[c.code], c.severity);
    }
    e_strings[1][0] = 'x';
    e_classification[1] = 4;
    EXPECT_EQ(InitialiseErrorClassifications(dir.file("none").c_str()), 0) << "a missing file";
    EXPECT_EQ(std::pair(e_strings[1][0], e_classification[1]), std::pair('\0', 0)) << "leaves everything empty";
}

// The shipped file gives every code raised (by an engine, as its descriptor
// lists, or by the run core) a text and a severity, and nothing else but
// the reserved codes.
TEST(ShippedClassification, MatchesTheRaisedCodes)
{
    ASSERT_EQ(ReadErrorClassificationFile(KVX_SOURCE_DIR "/resources/KVXErrorClassification.txt"), -1);
    std::set<int> raised(std::begin(kCoreErrorCodes), std::end(kCoreErrorCodes));
    bool enginesList = false;
    for (const EngineInfo* engine : Engines()) {
        raised.insert(engine->errorCodes.begin(), engine->errorCodes.end());
        enginesList = enginesList || !engine->errorCodes.empty();
    }
    for (int code : raised) {
        EXPECT_GT(std::strlen(e_strings[code]), 10u) << code;
        EXPECT_GE(e_classification[code], kSevInformation) << code;
    }
    for (int code : kReservedErrorCodes)
        EXPECT_EQ(raised.count(code), 0u) << code << " is raised, not reserved";
    if (!enginesList)
        GTEST_SKIP() << "no engine lists its error codes yet";
    for (int code = 0; code < kMaxErrorCodes; ++code) {
        const bool inFile = e_strings[code][0] != '\0';
        const bool reserved = std::count(std::begin(kReservedErrorCodes), std::end(kReservedErrorCodes), code) > 0;
        EXPECT_EQ(inFile, raised.count(code) > 0 || reserved) << code;
    }
}

} // namespace
