#include "AtomicField.h"
#include "ProcessRun.h"
#include "ResultRecord.h"
#include "TestSlots.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(SlotNames, EveryRangeAsShownToTheUser)
{
    const std::pair<int, const char*> cases[] = { { 0, "Start Marker" }, { 2, "CPU - MMX / SSE" }, { 25, "Disk" },
        { 26, "Disk end marker" }, { 27, "Floppy Disk" }, { 31, "Network" }, { 52, "CD/DVD" }, { 69, "Test" },
        { 84, "USB Plug 10" }, { 89, "Dummy" }, { 153, "Serial Port" }, { 157, "Marker End" } };
    for (auto [slot, name] : cases)
        EXPECT_STREQ(SlotName(slot), name) << slot;
    for (int i = 0; i < kNumNamedSlots; ++i)
        EXPECT_NE(SlotName(i), nullptr) << i;
}

TEST(SlotSelection, GroupMembersNeedTheSwitchExactlyOnePlainSlotsAnyValue)
{
    _testconfig config {};
    const std::pair<int, int> groups[]
        = { { 6, 26 }, { 25, 26 }, { 28, 32 }, { 33, 53 }, { 52, 53 }, { 90, 154 }, { 153, 154 } };
    for (auto [member, groupSwitch] : groups) {
        config.test_enabled[member] = 1;
        for (int value : { 0, 2, 255 }) {
            config.test_enabled[groupSwitch] = static_cast<std::uint8_t>(value);
            EXPECT_FALSE(performTest(config, member)) << member << " switch " << value;
        }
        config.test_enabled[groupSwitch] = 1;
        EXPECT_TRUE(performTest(config, member)) << member;
        EXPECT_FALSE(performTest(config, groupSwitch)) << "an end marker never runs";
        config.test_enabled[member] = 0;
        EXPECT_FALSE(performTest(config, member));
    }
    config.test_enabled[2] = 1;
    EXPECT_TRUE(performTest(config, 2) && !EngineFor(2)) << "selected without an engine still passes";
    config.test_enabled[kSlotParallel] = 3;
    EXPECT_TRUE(performTest(config, kSlotParallel)) << "any non-zero value selects a plain slot";
    EXPECT_FALSE(performTest(config, -1) || performTest(config, kNumSlots));
}

// The automatic stop, over a run of the test's own started at 1000.
class Completion : public ::testing::Test {
protected:
    ProcessRun p;
    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        resultfile.run_start_time = 1000;
    }
    void running(int slot, std::uint32_t cycles)
    {
        testconfig.test_enabled[slot] = 1;
        p.run.setSlotActive(slot, true);
        resultfile.results[slot].cycles = cycles;
    }
    bool complete(std::time_t now) { return KVXComplete(p.ctx, now); }
};

TEST_F(Completion, TimeRuleAtItsMinutesAndNoLimitsNever)
{
    running(kSlotMaths, 1000000);
    EXPECT_FALSE(complete(1000 + 10 * 365 * 86400));
    testconfig.auto_stop_time = 0.5f;
    EXPECT_EQ(std::tuple(complete(1029), complete(1030), complete(5000)), std::tuple(false, true, true));
}

TEST_F(Completion, CycleRuleNeedsEveryRunningSlot)
{
    testconfig.auto_stop_cycles = 10;
    running(kSlotMaths, 12);
    running(kSlotMemory, 9);
    EXPECT_FALSE(complete(1001));
    resultfile.results[kSlotMemory].cycles = 10;
    EXPECT_TRUE(complete(1001));
    // Selected but without an engine, and a test that ended by itself: passed over.
    testconfig.test_enabled[2] = testconfig.test_enabled[kSlot2D] = 1;
    resultfile.results[kSlot2D].cycles = 1;
    EXPECT_TRUE(complete(1001));
    // The time rule alone still completes a run whose cycles lag.
    resultfile.results[kSlotMemory].cycles = 2;
    testconfig.auto_stop_time = 1.0f;
    EXPECT_EQ(std::pair(complete(1059), complete(1060)), std::pair(false, true));
}

TEST_F(Completion, NothingSelectedCompletesAtTheFirstCheckWhenALimitIsSet)
{
    resultfile.run_start_time = 0; // no test ever started
    EXPECT_FALSE(complete(1001));
    testconfig.auto_stop_cycles = 10;
    EXPECT_TRUE(complete(1001));
    testconfig.auto_stop_cycles = 0;
    testconfig.auto_stop_time = 15.0f;
    EXPECT_TRUE(complete(1001)) << "elapsed time counts from 0";
}

} // namespace
