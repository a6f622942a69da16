#include "ConfigRecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

std::unique_ptr<_testconfig> freshDefaults()
{
    auto c = std::make_unique<_testconfig>();
    std::memset(c.get(), 0, sizeof *c);
    KalvexTest_SetUpDefault(c.get());
    return c;
}

TEST(ConfigDefaults, SelectTheDocumentedTests)
{
    auto c = freshDefaults();
    for (int slot = 0; slot < kNumSlots; ++slot) {
        const bool on = slot == 1 || slot == 3 || slot == 4 || slot == 6 || slot == 26 || slot == 28 || slot == 32
            || slot == 33 || slot == 53;
        EXPECT_EQ(c->test_enabled[slot], on ? 1 : 0) << "slot " << slot;
        EXPECT_EQ(c->duty_cycle[slot], slot <= 156 ? 50 : 0) << "slot " << slot;
    }
}

TEST(ConfigDefaults, ValuesOfTheSettings)
{
    auto c = freshDefaults();
    EXPECT_FLOAT_EQ(c->auto_stop_time, 15.0f);
    EXPECT_EQ(c->auto_stop_cycles, 0);
    EXPECT_EQ(c->action_on_error, 1);
    EXPECT_EQ(c->log_file_format, 1);
    EXPECT_EQ(c->trace_level, 2) << "stored as the combo index plus 2";
    EXPECT_EQ(c->log_detail_level, 1);
    EXPECT_EQ(c->log_max_lines, 10000);
    EXPECT_STREQ(c->log_file_name, "KVX_log");
    EXPECT_STREQ(c->trace_file_name, "KVX_log");
    EXPECT_EQ(c->pretest_action, 1);
    EXPECT_STREQ(c->network_address[0], "127.0.0.1");
    EXPECT_EQ(c->network_timeout_ms, 2000);
    EXPECT_EQ(c->network_error_option, 1);
    EXPECT_FLOAT_EQ(c->network_bad_packet_ratio, 2.0f);
    EXPECT_EQ(c->reserved_326C[0], 1);
    EXPECT_EQ(c->maths_integer, 1);
    EXPECT_EQ(c->maths_float, 1);
    EXPECT_EQ(c->serial_baud_index, 6);
    EXPECT_EQ(c->serial_timeout_ms, 3500);
    EXPECT_EQ(c->serial_port_mode[0], 1);
    EXPECT_EQ(c->serial_port_mode[1], 0);
    EXPECT_EQ(c->cd_autoplay, 1);
    EXPECT_EQ(c->reserved_2D88, 1);
    EXPECT_EQ(c->reserved_4634, 100);
    EXPECT_EQ(c->reserved_46F8, 700);
    for (int i = 0; i < kNumDisks; ++i) {
        EXPECT_DOUBLE_EQ(c->disk_file_size_pct[i], 1.0);
        EXPECT_EQ(c->disk_seek_count[i], 100);
        EXPECT_EQ(c->cd_seek[i], 100) << "seeking off, count 100";
        EXPECT_EQ(c->cd_seek[i] & kCdSeekOnBit, 0);
        EXPECT_EQ(c->reserved_46A8[i], 700);
        EXPECT_EQ(c->cd_test_mode[i], i == 0 ? 3 : 0);
    }
}

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
    EXPECT_TRUE(all(c->magic, sizeof c->magic));
    EXPECT_TRUE(all(&c->version, 4));
    EXPECT_TRUE(all(c->log_prefix, sizeof c->log_prefix));
    EXPECT_TRUE(all(&c->test_enabled[157], 7));
    EXPECT_TRUE(all(&c->duty_cycle[157], 7 * 4));
    EXPECT_TRUE(all(c->reserved_1880, sizeof c->reserved_1880));
    EXPECT_TRUE(all(c->reserved_1920, sizeof c->reserved_1920));
    EXPECT_TRUE(all(c->reserved_33C8, sizeof c->reserved_33C8));
    EXPECT_TRUE(all(c->reserved_38CC, sizeof c->reserved_38CC));
    EXPECT_TRUE(all(c->reserved_46FC, sizeof c->reserved_46FC));
    EXPECT_TRUE(all(c->reserved_4ACD, sizeof c->reserved_4ACD));
    EXPECT_TRUE(all(&c->usb_plug_count, 4));
    EXPECT_TRUE(all(&c->log_line_count, 4));
    EXPECT_TRUE(all(&c->trace_line_count, 4));
    EXPECT_TRUE(all(&c->reserved_326C[1], 12)) << "only the first reserved network word is written";
    // Only the first byte of each path and drive name is cleared.
    EXPECT_EQ(c->disk_path[3][0], 0);
    EXPECT_TRUE(all(&c->disk_path[3][1], 255));
    EXPECT_EQ(c->cd_drive_name[19][0], 0);
    EXPECT_TRUE(all(&c->cd_drive_name[19][1], 255));
    EXPECT_EQ(c->reserved_46A4[0], 0);
    EXPECT_TRUE(all(&c->reserved_46A4[1], 3));
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
