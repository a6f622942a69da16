#include "CLogger.h"
#include "EngineInfo.h"
#include "ErrorClassification.h"
#include "HealthMonitor.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Startup.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <regex>
#include <set>

namespace {

class Accumulation : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override
    {
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(&testconfig, 0, sizeof testconfig);
        gLogger = new CLogger("dummyStr");
    }
    void TearDown() override { delete gLogger, gLogger = nullptr; }
    void accumulate() { AccumulateResults(dir.path().c_str()); }
    static auto times()
    {
        return std::tuple(resultfile.accum_start_time, resultfile.accum_stop_time, resultfile.accum_duration);
    }
};

TEST_F(Accumulation, TimesOfARunJoinTheAccumulatedOnes)
{
    const struct {
        int start, stop;
        std::tuple<int, int, int> after; // accumulated start, stop, duration
    } runs[] = {
        { 1000, 1600, { 1000, 1600, 600 } }, // the first run sets them
        { 400, 900, { 400, 1600, 1100 } }, { 2000, 0, { 400, 1600, 1100 } }, // not stopped: no duration
        { 0, 3000, { 400, 3000, 1100 } }, // stopped, but no test ever started
    };
    for (const auto& r : runs) {
        resultfile.run_start_time = r.start;
        resultfile.run_stop_time = r.stop;
        accumulate();
        EXPECT_EQ(times(), r.after) << r.start << ".." << r.stop;
    }
    const std::tuple<long, long, int, long> modes[] = { { 5, 0, 0, 5 }, { 5, -1, 1, 5 }, { 0, 7, 0, 7 },
        { -2, 7, 2, 7 }, { 5, 7, 0, 5 }, { 5, 7, 1, 7 }, { 5, 7, 2, 12 }, { 5, 7, 3, 0 } };
    for (auto [a, b, mode, sum] : modes)
        EXPECT_EQ(AccumulateTime(a, b, mode), sum) << a << " " << b << " mode " << mode;
}

TEST_F(Accumulation, CountersAddUpAndTheLastErrorIsKept)
{
    auto& acc = resultfile.accum_results[kSlotDiskFirst];
    auto& cur = resultfile.results[kSlotDiskFirst];
    acc = { 10, 20, 3, 17, 0xFFFFFFFFull };
    cur = { 1, 2, 0, 0, 1 };
    resultfile.accum_classes[kSlotDiskFirst] = { 1, 2, 3, 4 };
    resultfile.classes[kSlotDiskFirst] = { 10, 20, 30, 40 };
    accumulate();
    // A current last error of 0 keeps the accumulated one; operations add
    // as 64-bit values; the current run is cleared at the next start.
    EXPECT_EQ(std::tuple(acc.cycles, acc.mb, acc.errors, acc.last_error, acc.op_count, cur.cycles),
        std::tuple(11u, 22u, 3u, 17u, 0x100000000ull, 1u));
    const _classerror& c = resultfile.accum_classes[kSlotDiskFirst];
    EXPECT_EQ(std::tuple(c.information, c.warning, c.serious, c.critical), std::tuple(11u, 22u, 33u, 44u));
    cur.last_error = 55;
    accumulate();
    EXPECT_EQ(acc.last_error, 55u);
}

TEST_F(Accumulation, SavedOnlyInTheAccumulateModeAndRoundTrips)
{
    resultfile.results[kSlotMaths].cycles = 9;
    accumulate();
    EXPECT_FALSE(FileExists(dir.file(".accum_result.cfg")));

    testconfig.pretest_log_mode = 1;
    std::strcpy(resultfile.machine_type, "Bench PC");
    resultfile.error_occurrences[249] = 3;
    std::strcpy(resultfile.first_occurrence[249], "CRITICAL   : 2026-12-06 10:00:00, Disk");
    accumulate();
    const std::string saved = ReadFile(dir.file(".accum_result.cfg"));
    ASSERT_EQ(saved.size(), 28700u);
    EXPECT_EQ(saved, std::string(reinterpret_cast<const char*>(&resultfile), sizeof resultfile));

    auto before = std::make_unique<_resultfile>();
    std::memcpy(before.get(), &resultfile, sizeof resultfile);
    std::memset(&resultfile, 0, sizeof resultfile);
    LoadAccumulatedResults(dir.path().c_str());
    EXPECT_EQ(std::memcmp(before.get(), &resultfile, sizeof resultfile), 0);
    EXPECT_EQ(resultfile.accum_results[kSlotMaths].cycles, 18u);

    // A damaged file loads with its counters as they are and every text
    // ended inside its field.
    WriteFile(dir.file(".accum_result.cfg"), std::string(sizeof resultfile, 'A'));
    LoadAccumulatedResults(dir.path().c_str());
    EXPECT_EQ(resultfile.accum_results[kSlotMaths].cycles, 0x41414141u);
    EXPECT_EQ(std::tuple(std::strlen(resultfile.machine_type), std::strlen(resultfile.cpu_info.model_name),
                  std::strlen(resultfile.video_info.card_name), std::strlen(resultfile.first_occurrence[249]),
                  std::strlen(resultfile.os_text)),
        std::tuple(sizeof resultfile.machine_type - 1, sizeof resultfile.cpu_info.model_name - 1,
            sizeof resultfile.video_info.card_name - 1, sizeof resultfile.first_occurrence[249] - 1,
            sizeof resultfile.os_text - 1));

    // Other modes clear the accumulated members on load, not the current ones.
    testconfig.pretest_log_mode = 0;
    resultfile.results[3].cycles = 7;
    LoadAccumulatedResults(dir.path().c_str());
    EXPECT_EQ(std::tuple(resultfile.accum_results[kSlotMaths].cycles, resultfile.accum_duration,
                  resultfile.error_occurrences[249], resultfile.results[3].cycles),
        std::tuple(0u, 0, 0, 7u));
}

TEST_F(Accumulation, RecordedErrorsAreCountedClassifiedAndLogged)
{
    testconfig.log_detail_level = 1;
    e_classification[30] = kSevCritical;
    e_classification[37] = kSevWarning;
    std::strcpy(e_strings[30], "Memory verify error");
    RecordError(resultfile, gLogger, kSlotMemory, 30, 4);
    ASSERT_EQ(gLogger->GetNumberLines(), 1);
    int test = -1;
    const std::string line = gLogger->GetLine(-1, &test, nullptr);
    EXPECT_EQ(line.rfind("CRITICAL   : ", 0), 0u) << line;
    EXPECT_NE(line.find(", RAM, Memory verify error\n"), std::string::npos) << line;
    EXPECT_EQ(std::pair(test, resultfile.error_occurrences[30]), std::pair(4, 1));
    EXPECT_EQ(std::string(resultfile.first_occurrence[30]).rfind("CRITICAL   : ", 0), 0u);

    RecordError(resultfile, nullptr, kSlotMemory, 37, 4);
    RecordError(resultfile, nullptr, kSlotDiskFirst, 30, 9);
    const _classerror& m = resultfile.classes[kSlotMemory];
    EXPECT_EQ(std::tuple(m.critical, m.warning, resultfile.results[kSlotMemory].last_error), std::tuple(1u, 1u, 37u));
    // Clearing a slot's classes keeps its error count and the other slots.
    UpdateErrorClassificationResults(resultfile, kSlotMemory, -1);
    EXPECT_EQ(std::tuple(m.critical, m.warning, resultfile.results[kSlotMemory].errors), std::tuple(0u, 0u, 2u));
    EXPECT_EQ(resultfile.classes[kSlotDiskFirst].critical, 1u) << "other slots untouched";
    // NONE and unknown codes count as errors but in no severity counter.
    e_classification[20] = kSevNone;
    RecordError(resultfile, nullptr, kSlot2D, 20, 10);
    UpdateErrorClassificationResults(resultfile, kSlot2D, 300);
    const _classerror& c = resultfile.classes[kSlot2D];
    EXPECT_EQ(std::pair(c.information + c.warning + c.serious + c.critical, resultfile.results[kSlot2D].errors),
        std::pair(0u, 1u));
    e_classification[30] = e_classification[37] = 0;
    e_strings[30][0] = '\0';
}

TEST_F(Accumulation, ClearResultsBufferEmptiesEverything)
{
    resultfile.results[1].cycles = 1;
    resultfile.accum_results[1].cycles = 2;
    resultfile.classes[1].warning = 3;
    resultfile.accum_classes[1].warning = 4;
    resultfile.run_start_time = 5;
    resultfile.accum_duration = 6;
    resultfile.error_occurrences[7] = 7;
    std::strcpy(resultfile.machine_type, "kept");
    testconfig.log_detail_level = 1;
    gLogger->AddLine("a line", 0, 0, nullptr, 1);
    Clear_Results_Buffer();
    EXPECT_EQ(resultfile.results[1].cycles + resultfile.accum_results[1].cycles, 0u);
    EXPECT_EQ(resultfile.classes[1].warning + resultfile.accum_classes[1].warning, 0u);
    EXPECT_EQ(resultfile.run_start_time + resultfile.accum_duration + resultfile.error_occurrences[7], 0);
    EXPECT_EQ(gLogger->GetNumberLines(), 0);
    EXPECT_STREQ(resultfile.machine_type, "kept");
}

// A missing file changes nothing; a short one fills what it holds.
TEST_F(Accumulation, ShortOrMissingMachineIdFile)
{
    std::strcpy(resultfile.notes, "old notes");
    load_machineid(dir.path().c_str());
    EXPECT_STREQ(resultfile.notes, "old notes");
    WriteFile(dir.file("machineid.dat"), std::string(100, 'T') + std::string(50, 'S'));
    load_machineid(dir.path().c_str());
    EXPECT_EQ(std::string(resultfile.machine_type), std::string(99, 'T'));
    EXPECT_EQ(std::string(resultfile.machine_serial).substr(0, 50), std::string(50, 'S'));
    EXPECT_EQ(resultfile.machine_serial[99], '\0');
    EXPECT_STREQ(resultfile.notes, "old notes");
}

// The machine identity stays as edited when its file cannot be written.
TEST_F(Accumulation, UnwritableMachineIdDirectorySaysWhereAndKeepsValues)
{
    RecordingSink sink;
    SetMachineId("T", "S", "N");
    const std::string missing = dir.file("no/such/dir");
    EXPECT_NE(save_machineid(missing.c_str()), 0);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text,
        "Could not save default machine ID to disk in file\n" + missing
            + "/machineid.dat\nCheck the directory exists then\nCheck that you have write "
              "access to this file & directory.\n");
    EXPECT_STREQ(resultfile.machine_type, "T");
}

// A known run added to accumulated results and saved.
TEST_F(Accumulation, KnownRunIsSavedByteForByte)
{
    testconfig = ValidConfig();
    testconfig.pretest_log_mode = 1;
    std::strcpy(resultfile.machine_type, "Tower");
    std::strcpy(resultfile.notes, "new fan");
    resultfile.accum_results[kSlotMaths] = { 5, 0, 1, 30, 12345678 };
    resultfile.results[kSlotMaths] = { 2, 0, 2, 17, 1000 };
    resultfile.results[kSlotDiskFirst] = { 3, 0, 0, 0, 2000 };
    resultfile.accum_classes[kSlotMaths] = { 4, 3, 2, 1 };
    resultfile.classes[kSlotMaths] = { 1, 1, 1, 1 };
    resultfile.accum_start_time = 1772700000;
    resultfile.accum_stop_time = 1772703600;
    resultfile.accum_duration = 3600;
    resultfile.run_start_time = 1772790000;
    resultfile.run_stop_time = 1772794931;
    resultfile.error_occurrences[17] = 2;
    std::strcpy(resultfile.first_occurrence[17], "CRITICAL   : 2026-03-06 10:10:00, Maths");
    accumulate();
    const std::string saved = ReadFile(dir.file(".accum_result.cfg"));
    EXPECT_TRUE(GoldenFile(KVX_SOURCE_DIR "/tests/data/accum_result.cfg", saved) == saved);
}

// Each line of tests/data/classification-files.txt remade from its content.
TEST_F(Accumulation, ClassificationFilesReadValidLinesAndStopAtTheFirstBadOne)
{
    const char* const severities[] = { "NONE", "INFORMATION", "WARNING", "SERIOUS", "CRITICAL" };
    const std::string path = KVX_SOURCE_DIR "/tests/data/classification-files.txt";
    const std::string made = RemadeLines(path, [&](std::string line) {
        line.resize(line.find(" =>"));
        WriteFile(dir.file("KVXErrorClassification.txt"), std::regex_replace(line, std::regex("\\\\n"), "\n"));
        line += " => " + std::to_string(InitialiseErrorClassifications(dir.path().c_str())) + " |";
        for (int code = 0; code < kMaxErrorCodes; ++code)
            if (e_strings[code][0] || e_classification[code])
                line += " " + std::to_string(code) + " \"" + e_strings[code] + "\" "
                    + severities[e_classification[code]];
        return line;
    });
    EXPECT_EQ(GoldenFile(path, made), made);
    EXPECT_EQ(InitialiseErrorClassifications(dir.file("none").c_str()), 0) << "a missing file";
    EXPECT_EQ(std::pair(e_strings[1][0], e_classification[1]), std::pair('\0', 0)) << "leaves everything empty";
}

// The shipped file gives every code raised (by an engine, as its descriptor
// lists, by the run core or by the health monitor) a text and a severity, and nothing else but
// the reserved codes.
TEST(ShippedClassification, MatchesTheRaisedCodes)
{
    ASSERT_EQ(ReadErrorClassificationFile(KVX_SOURCE_DIR "/resources/KVXErrorClassification.txt"), -1);
    std::set<int> raised(std::begin(kCoreErrorCodes), std::end(kCoreErrorCodes));
    raised.insert(std::begin(kHealthErrorCodes), std::end(kHealthErrorCodes));
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
