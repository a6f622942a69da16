#include "AtomicField.h"
#include "ResultRecord.h"
#include "TestSlots.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

TEST(SlotNames, TableAsShownToTheUser)
{
    struct {
        int slot;
        const char* name;
    } cases[] = { { 0, "Start Marker" }, { 1, "CPU - Maths" }, { 2, "CPU - MMX / SSE" }, { 3, "Memory (RAM)" },
        { 6, "Disk" }, { 25, "Disk" }, { 26, "Disk end marker" }, { 27, "Floppy Disk" }, { 31, "Network" },
        { 32, "Network end marker" }, { 52, "CD/DVD" }, { 53, "CD End Marker" }, { 69, "Test" },
        { 70, "Parallel Port" }, { 75, "USB Plug 1" }, { 84, "USB Plug 10" }, { 85, "USB End Marker" }, { 89, "Dummy" },
        { 90, "Serial Port" }, { 153, "Serial Port" }, { 154, "Serial end marker" }, { 156, "Advanced Net end marker" },
        { 157, "Marker End" } };
    for (auto c : cases)
        EXPECT_STREQ(SlotName(c.slot), c.name) << c.slot;
    for (int i = 0; i < kNumNamedSlots; ++i)
        EXPECT_NE(SlotName(i), nullptr) << i;
}

class SlotSelection : public ::testing::Test {
protected:
    void SetUp() override { std::memset(&testconfig, 0, sizeof testconfig); }
};

TEST_F(SlotSelection, GroupMembersNeedTheSwitchExactlyOne)
{
    struct {
        int member, groupSwitch;
    } groups[] = { { 6, 26 }, { 25, 26 }, { 28, 32 }, { 33, 53 }, { 52, 53 }, { 90, 154 }, { 153, 154 } };
    for (auto g : groups) {
        testconfig.test_enabled[g.member] = 1;
        for (int value : { 0, 2, 255 }) {
            testconfig.test_enabled[g.groupSwitch] = static_cast<std::uint8_t>(value);
            EXPECT_FALSE(performTest(g.member)) << g.member << " switch " << value;
        }
        testconfig.test_enabled[g.groupSwitch] = 1;
        EXPECT_TRUE(performTest(g.member)) << g.member;
        EXPECT_FALSE(performTest(g.groupSwitch)) << "an end marker never runs";
        testconfig.test_enabled[g.member] = 0;
        EXPECT_FALSE(performTest(g.member));
    }
}

TEST_F(SlotSelection, PlainSlotsFollowTheirFlag)
{
    testconfig.test_enabled[2] = 1;
    EXPECT_TRUE(performTest(2)) << "selected without an engine still passes";
    EXPECT_EQ(ChildProc[2], nullptr);
    testconfig.test_enabled[kSlotParallel] = 3;
    EXPECT_TRUE(performTest(kSlotParallel)) << "any non-zero value selects a plain slot";
    EXPECT_FALSE(performTest(-1));
    EXPECT_FALSE(performTest(kNumSlots));
}

class Completion : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        for (auto& a : thread_active)
            relaxedStore(a, 0);
        resultfile.run_start_time = 1000;
    }
    void running(int slot, std::uint32_t cycles)
    {
        testconfig.test_enabled[slot] = 1;
        relaxedStore(thread_active[slot], 1);
        resultfile.results[slot].cycles = cycles;
    }
};

TEST_F(Completion, NoLimitsNeverComplete)
{
    running(kSlotMaths, 1000000);
    EXPECT_FALSE(KVXComplete(1000 + 10 * 365 * 86400));
}

TEST_F(Completion, TimeRuleAtHalfAMinute)
{
    testconfig.auto_stop_time = 0.5f;
    EXPECT_FALSE(KVXComplete(1029));
    EXPECT_TRUE(KVXComplete(1030));
    EXPECT_TRUE(KVXComplete(5000));
}

TEST_F(Completion, CycleRuleNeedsEveryRunningSlot)
{
    testconfig.auto_stop_cycles = 10;
    running(kSlotMaths, 12);
    running(kSlotMemory, 9);
    EXPECT_FALSE(KVXComplete(1001));
    resultfile.results[kSlotMemory].cycles = 10;
    EXPECT_TRUE(KVXComplete(1001));
    // The time rule alone still completes a run whose cycles lag.
    resultfile.results[kSlotMemory].cycles = 2;
    testconfig.auto_stop_time = 1.0f;
    EXPECT_TRUE(KVXComplete(1060));
}

TEST_F(Completion, CycleRulePassesOverSlotsWithoutARunningTest)
{
    testconfig.auto_stop_cycles = 10;
    running(kSlotMaths, 10);
    // Selected but without an engine, and a test that ended by itself.
    testconfig.test_enabled[2] = 1;
    testconfig.test_enabled[kSlot2D] = 1;
    resultfile.results[kSlot2D].cycles = 1;
    EXPECT_TRUE(KVXComplete(1001));
}

TEST_F(Completion, NothingSelectedCompletesAtTheFirstCheckWhenALimitIsSet)
{
    resultfile.run_start_time = 0; // no test ever started
    EXPECT_FALSE(KVXComplete(1001));
    testconfig.auto_stop_cycles = 10;
    EXPECT_TRUE(KVXComplete(1001));
    testconfig.auto_stop_cycles = 0;
    testconfig.auto_stop_time = 15.0f;
    EXPECT_TRUE(KVXComplete(1001)) << "elapsed time counts from 0";
}

} // namespace
