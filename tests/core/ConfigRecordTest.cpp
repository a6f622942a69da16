#include "ConfigRecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

// The default values themselves are pinned by the golden LastUsed.cfg.
TEST(ConfigDefaults, LeaveUnsetBytesAlone)
{
    // A record full of a marker shows every byte the defaults do not own.
    auto c = std::make_unique<_testconfig>();
    std::memset(c.get(), 0xA5, sizeof *c);
    KalvexTest_SetUpDefault(c.get());
    auto all = [](const void* p, std::size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i < n; ++i)
            if (b[i] != 0xA5)
                return false;
        return true;
    };
    EXPECT_TRUE(all(c->magic, sizeof c->magic) && all(&c->version, 4));
    EXPECT_TRUE(all(c->log_prefix, sizeof c->log_prefix));
    EXPECT_TRUE(all(&c->test_enabled[157], 7) && all(&c->duty_cycle[157], 7 * 4));
    EXPECT_TRUE(all(c->reserved_1920, sizeof c->reserved_1920) && all(c->reserved_4ACD, sizeof c->reserved_4ACD));
    EXPECT_TRUE(all(&c->usb_plug_count, 4));
    EXPECT_TRUE(all(&c->log_line_count, 4) && all(&c->trace_line_count, 4)) << "counts survive a reset";
    EXPECT_TRUE(all(&c->reserved_326C[1], 12)) << "only the first reserved network word is written";
    // Only the first byte of each path and drive name is cleared.
    EXPECT_TRUE(c->disk_path[3][0] == 0 && all(&c->disk_path[3][1], 255));
    EXPECT_TRUE(c->cd_drive_name[19][0] == 0 && all(&c->cd_drive_name[19][1], 255));
}

TEST(ConfigDutyCycle, ClampedToUsableRange)
{
    struct {
        int in, out;
    } cases[] = { { -5, 1 }, { 0, 1 }, { 1, 1 }, { 50, 50 }, { 100, 100 }, { 101, 100 }, { 1 << 30, 100 } };
    for (auto c : cases)
        EXPECT_EQ(ClampDutyCycle(c.in), c.out) << c.in;

    auto cfg = std::make_unique<_testconfig>();
    std::memset(cfg.get(), 0, sizeof *cfg);
    cfg->duty_cycle[kSlotMemory] = 0;
    cfg->duty_cycle[kSlotMaths] = 250;
    EXPECT_EQ(SlotDutyCycle(*cfg, kSlotMemory), 1);
    EXPECT_EQ(SlotDutyCycle(*cfg, kSlotMaths), 100);
    EXPECT_EQ(SlotDutyCycle(*cfg, 164), 1) << "a slot out of range must not read past the array";
}

} // namespace
