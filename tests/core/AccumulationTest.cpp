#include "AtomicField.h"
#include "CLogger.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Startup.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

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
    void TearDown() override
    {
        delete gLogger;
        gLogger = nullptr;
    }
};

TEST_F(Accumulation, TimesOfARunJoinTheAccumulatedOnes)
{
    resultfile.accum_start_time = 400;
    resultfile.accum_stop_time = 900;
    resultfile.accum_duration = 500;
    resultfile.run_start_time = 1000;
    resultfile.run_stop_time = 1600;
    AccumulateResults(dir.path().c_str());
    EXPECT_EQ(resultfile.accum_start_time, 400);
    EXPECT_EQ(resultfile.accum_stop_time, 1600);
    EXPECT_EQ(resultfile.accum_duration, 1100);
}

TEST_F(Accumulation, FirstRunSetsTheTimesAndAnUnstoppedRunAddsNoDuration)
{
    resultfile.run_start_time = 1000;
    resultfile.run_stop_time = 1600;
    AccumulateResults(dir.path().c_str());
    EXPECT_EQ(resultfile.accum_start_time, 1000);
    EXPECT_EQ(resultfile.accum_duration, 600);
    resultfile.run_start_time = 2000;
    resultfile.run_stop_time = 0;
    AccumulateResults(dir.path().c_str());
    EXPECT_EQ(resultfile.accum_duration, 600);
    EXPECT_EQ(resultfile.accum_stop_time, 1600);
    // Stopped, but no test ever started.
    resultfile.run_start_time = 0;
    resultfile.run_stop_time = 3000;
    AccumulateResults(dir.path().c_str());
    EXPECT_EQ(resultfile.accum_duration, 600);
}

TEST(AccumulateTime, Modes)
{
    EXPECT_EQ(AccumulateTime(5, 0, 0), 5);
    EXPECT_EQ(AccumulateTime(5, -1, 1), 5);
    EXPECT_EQ(AccumulateTime(0, 7, 0), 7);
    EXPECT_EQ(AccumulateTime(-2, 7, 2), 7);
    EXPECT_EQ(AccumulateTime(5, 7, 0), 5);
    EXPECT_EQ(AccumulateTime(5, 7, 1), 7);
    EXPECT_EQ(AccumulateTime(5, 7, 2), 12);
    EXPECT_EQ(AccumulateTime(5, 7, 3), 0);
}

TEST_F(Accumulation, CountersAddUpAndTheLastErrorIsKept)
{
    auto& acc = resultfile.accum_results[kSlotDiskFirst];
    auto& cur = resultfile.results[kSlotDiskFirst];
    acc = { 10, 20, 3, 17, 0xFFFFFFFFull };
    cur = { 1, 2, 0, 0, 1 };
    resultfile.accum_classes[kSlotDiskFirst] = { 1, 2, 3, 4 };
    resultfile.classes[kSlotDiskFirst] = { 10, 20, 30, 40 };
    AccumulateResults(dir.path().c_str());
    EXPECT_EQ(acc.cycles, 11u);
    EXPECT_EQ(acc.mb, 22u);
    EXPECT_EQ(acc.errors, 3u);
    EXPECT_EQ(acc.last_error, 17u) << "a current last error of 0 keeps the accumulated one";
    EXPECT_EQ(acc.op_count, 0x100000000ull) << "operations add as 64-bit values";
    EXPECT_EQ(cur.cycles, 1u) << "the current run is cleared at the next start, not here";
    const _classerror& c = resultfile.accum_classes[kSlotDiskFirst];
    EXPECT_EQ(c.information, 11u);
    EXPECT_EQ(c.warning, 22u);
    EXPECT_EQ(c.serious, 33u);
    EXPECT_EQ(c.critical, 44u);

    cur.last_error = 55;
    AccumulateResults(dir.path().c_str());
    EXPECT_EQ(acc.last_error, 55u);
}

TEST_F(Accumulation, SavedOnlyInTheAccumulateModeAndRoundTrips)
{
    resultfile.results[kSlotMaths].cycles = 9;
    AccumulateResults(dir.path().c_str());
    EXPECT_FALSE(FileExists(dir.file(".accum_result.cfg")));

    testconfig.pretest_log_mode = 1;
    std::strcpy(resultfile.machine_type, "Bench PC");
    resultfile.error_occurrences[249] = 3;
    std::strcpy(resultfile.first_occurrence[249], "CRITICAL   : 2026-12-06 10:00:00, Disk");
    AccumulateResults(dir.path().c_str());
    const std::string saved = ReadFile(dir.file(".accum_result.cfg"));
    ASSERT_EQ(saved.size(), 28700u);
    EXPECT_EQ(saved, std::string(reinterpret_cast<const char*>(&resultfile), sizeof resultfile));

    auto before = std::make_unique<_resultfile>();
    std::memcpy(before.get(), &resultfile, sizeof resultfile);
    std::memset(&resultfile, 0, sizeof resultfile);
    LoadAccumulatedResults(dir.path().c_str());
    EXPECT_EQ(std::memcmp(before.get(), &resultfile, sizeof resultfile), 0);
    EXPECT_EQ(resultfile.accum_results[kSlotMaths].cycles, 18u);
}

TEST_F(Accumulation, DamagedFileLoadsWithEveryTextEndedInsideItsField)
{
    testconfig.pretest_log_mode = 1;
    WriteFile(dir.file(".accum_result.cfg"), std::string(sizeof resultfile, 'A'));
    LoadAccumulatedResults(dir.path().c_str());
    EXPECT_EQ(resultfile.accum_results[kSlotMaths].cycles, 0x41414141u) << "the counters are taken as they are";
    EXPECT_EQ(std::strlen(resultfile.machine_type), sizeof resultfile.machine_type - 1);
    EXPECT_EQ(std::strlen(resultfile.cpu_info.model_name), sizeof resultfile.cpu_info.model_name - 1);
    EXPECT_EQ(std::strlen(resultfile.video_info.card_name), sizeof resultfile.video_info.card_name - 1);
    EXPECT_EQ(std::strlen(resultfile.first_occurrence[249]), sizeof resultfile.first_occurrence[249] - 1);
    EXPECT_EQ(std::strlen(resultfile.os_text), sizeof resultfile.os_text - 1);
}

TEST_F(Accumulation, OtherModesClearTheAccumulatedMembersOnLoad)
{
    resultfile.accum_results[3].cycles = 4;
    resultfile.accum_duration = 10;
    resultfile.error_occurrences[5] = 2;
    resultfile.results[3].cycles = 7;
    LoadAccumulatedResults(dir.path().c_str());
    EXPECT_EQ(resultfile.accum_results[3].cycles, 0u);
    EXPECT_EQ(resultfile.accum_duration, 0);
    EXPECT_EQ(resultfile.error_occurrences[5], 0);
    EXPECT_EQ(resultfile.results[3].cycles, 7u);
}

TEST_F(Accumulation, ClearingASlotsClassesKeepsItsErrorCount)
{
    e_classification[30] = kSevCritical;
    e_classification[37] = kSevWarning;
    RecordError(kSlotMemory, 30, 4);
    RecordError(kSlotMemory, 37, 4);
    RecordError(kSlotDiskFirst, 30, 9);
    EXPECT_EQ(resultfile.classes[kSlotMemory].critical, 1u);
    EXPECT_EQ(resultfile.classes[kSlotMemory].warning, 1u);
    EXPECT_EQ(resultfile.results[kSlotMemory].last_error, 37u);
    UpdateErrorClassificationResults(kSlotMemory, -1);
    EXPECT_EQ(resultfile.classes[kSlotMemory].critical, 0u);
    EXPECT_EQ(resultfile.classes[kSlotMemory].warning, 0u);
    EXPECT_EQ(resultfile.results[kSlotMemory].errors, 2u);
    EXPECT_EQ(resultfile.classes[kSlotDiskFirst].critical, 1u) << "other slots untouched";
    // NONE and unknown codes count as errors but in no severity counter.
    e_classification[20] = kSevNone;
    RecordError(kSlot2D, 20, 10);
    UpdateErrorClassificationResults(kSlot2D, 300);
    const _classerror& c = resultfile.classes[kSlot2D];
    EXPECT_EQ(c.information + c.warning + c.serious + c.critical, 0u);
    EXPECT_EQ(resultfile.results[kSlot2D].errors, 1u);
    e_classification[30] = e_classification[37] = 0;
}

TEST_F(Accumulation, RecordedErrorsReachTheEventLog)
{
    testconfig.log_detail_level = 1;
    e_classification[30] = kSevCritical;
    std::strcpy(e_strings[30], "Memory verify error");
    RecordError(kSlotMemory, 30, 4);
    ASSERT_EQ(gLogger->GetNumberLines(), 1);
    int test = -1;
    const std::string line = gLogger->GetLine(-1, &test, nullptr);
    EXPECT_EQ(line.rfind("CRITICAL   : ", 0), 0u) << line;
    EXPECT_NE(line.find(", RAM, Memory verify error\n"), std::string::npos) << line;
    EXPECT_EQ(test, 4);
    EXPECT_EQ(resultfile.error_occurrences[30], 1);
    EXPECT_EQ(std::string(resultfile.first_occurrence[30]).rfind("CRITICAL   : ", 0), 0u);
    e_classification[30] = 0;
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

} // namespace
