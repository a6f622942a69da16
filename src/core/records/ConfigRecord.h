// The test configuration record. A configuration file is this record written
// byte for byte, so every offset and reserved stretch below is a file format:
// the static_asserts pin them. Integers are 32-bit little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

constexpr int kNumSlots = 164;
constexpr int kNumDisks = 20;
constexpr int kNumCdDrives = 20;
constexpr int kNumNetworkAddresses = 4;
constexpr int kNumSerialPorts = 64;

// Slot numbers the configuration refers to directly.
enum : int {
    kSlotMaths = 1,
    kSlotMemory = 3,
    kSlot2D = 4,
    kSlot3D = 5,
    kSlotDiskFirst = 6,
    kSlotDiskGroup = 26,
    kSlotNetworkFirst = 28,
    kSlotNetworkGroup = 32,
    kSlotCdFirst = 33,
    kSlotCdGroup = 53,
    kSlotParallel = 70,
    kSlotSerialFirst = 90,
    kSlotSerialGroup = 154,
    // The first slot the defaults leave alone.
    kSlotMarkerEnd = 157,
};

constexpr char kConfigMagic[8] = { 'K', 'V', 'X', 'C', 'F', 'G', 'L', '\0' };
constexpr std::int32_t kConfigVersion = 1;

struct _testconfig {
    char magic[8];
    std::int32_t version;
    std::uint8_t test_enabled[kNumSlots];
    std::int32_t duty_cycle[kNumSlots];
    char disk_path[kNumDisks][256];
    std::int32_t reserved_1740[kNumDisks];
    std::int32_t disk_test_mode[kNumDisks];
    double disk_file_size_pct[kNumDisks];
    std::int32_t reserved_1880[kNumDisks];
    std::int32_t disk_duty_cycle_override[kNumDisks];
    std::uint8_t reserved_1920[13];
    char cd_drive_name[kNumCdDrives][256];
    std::uint8_t pad_2D2D[3];
    std::int32_t cd_test_mode[kNumCdDrives];
    std::int32_t reserved_2D80;
    std::int32_t cd_autoplay;
    std::int32_t reserved_2D88;
    std::uint8_t reserved_2D8C[24];
    char log_directory[400];
    std::uint8_t reserved_2F34[4];
    std::int32_t log_file_format;
    std::int32_t action_on_error;
    std::int32_t reserved_2F40;
    float auto_stop_time;
    std::int32_t auto_stop_cycles;
    char network_address[kNumNetworkAddresses][200];
    std::int32_t reserved_326C[4];
    float network_bad_packet_ratio;
    std::int32_t network_error_option;
    std::uint8_t reserved_3284[4];
    std::int32_t serial_port_mode[kNumSerialPorts];
    std::int32_t serial_baud_index;
    std::int32_t log_file_option;
    std::int32_t parallel_port_number;
    std::int32_t reserved_3394[5];
    std::int32_t network_timeout_ms;
    std::int32_t maths_integer;
    std::int32_t maths_float;
    std::int32_t reserved_33B4[4];
    std::int32_t serial_timeout_ms;
    std::uint8_t reserved_33C8[835];
    std::uint8_t twod_test_skip;
    std::int32_t pretest_log_mode;
    std::int32_t usb_plug_count;
    std::uint8_t reserved_3714[4];
    std::int32_t memory_test_flag;
    std::uint8_t reserved_371C[12];
    std::int32_t parallel_test_mode;
    std::uint8_t reserved_372C[408];
    std::int32_t serial_disable_rts;
    std::int32_t pretest_action;
    std::uint8_t reserved_38CC[2412];
    char log_prefix[100];
    std::uint8_t view_errors_by_category;
    std::uint8_t pad_429D[3];
    std::int32_t logging_enabled;
    std::int32_t log_detail_level;
    std::int32_t trace_level;
    std::int32_t log_max_lines;
    char log_file_name[400];
    std::int32_t log_line_count;
    std::uint8_t log_header_written;
    char trace_file_name[400];
    std::uint8_t pad_45D5[3];
    std::int32_t trace_line_count;
    std::uint8_t trace_header_written;
    std::uint8_t reserved_45DD[7];
    std::int32_t disk_seek_count[kNumDisks];
    std::int32_t reserved_4634;
    std::int32_t cd_seek[kNumCdDrives];
    std::uint8_t reserved_4688[8];
    std::uint8_t reserved_4690[kNumCdDrives];
    std::uint8_t reserved_46A4[4];
    std::int32_t reserved_46A8[kNumCdDrives];
    std::int32_t reserved_46F8;
    std::uint8_t reserved_46FC[976];
    std::uint8_t network_test_type;
    std::uint8_t reserved_4ACD[531];
};

#define KVX_AT(field, off) static_assert(offsetof(_testconfig, field) == (off), #field)
KVX_AT(magic, 0x0000);
KVX_AT(version, 0x0008);
KVX_AT(test_enabled, 0x000C);
KVX_AT(duty_cycle, 0x00B0);
KVX_AT(disk_path, 0x0340);
KVX_AT(reserved_1740, 0x1740);
KVX_AT(disk_test_mode, 0x1790);
KVX_AT(disk_file_size_pct, 0x17E0);
KVX_AT(reserved_1880, 0x1880);
KVX_AT(disk_duty_cycle_override, 0x18D0);
KVX_AT(reserved_1920, 0x1920);
KVX_AT(cd_drive_name, 0x192D);
KVX_AT(pad_2D2D, 0x2D2D);
KVX_AT(cd_test_mode, 0x2D30);
KVX_AT(reserved_2D80, 0x2D80);
KVX_AT(cd_autoplay, 0x2D84);
KVX_AT(reserved_2D88, 0x2D88);
KVX_AT(reserved_2D8C, 0x2D8C);
KVX_AT(log_directory, 0x2DA4);
KVX_AT(reserved_2F34, 0x2F34);
KVX_AT(log_file_format, 0x2F38);
KVX_AT(action_on_error, 0x2F3C);
KVX_AT(reserved_2F40, 0x2F40);
KVX_AT(auto_stop_time, 0x2F44);
KVX_AT(auto_stop_cycles, 0x2F48);
KVX_AT(network_address, 0x2F4C);
KVX_AT(reserved_326C, 0x326C);
KVX_AT(network_bad_packet_ratio, 0x327C);
KVX_AT(network_error_option, 0x3280);
KVX_AT(reserved_3284, 0x3284);
KVX_AT(serial_port_mode, 0x3288);
KVX_AT(serial_baud_index, 0x3388);
KVX_AT(log_file_option, 0x338C);
KVX_AT(parallel_port_number, 0x3390);
KVX_AT(reserved_3394, 0x3394);
KVX_AT(network_timeout_ms, 0x33A8);
KVX_AT(maths_integer, 0x33AC);
KVX_AT(maths_float, 0x33B0);
KVX_AT(reserved_33B4, 0x33B4);
KVX_AT(serial_timeout_ms, 0x33C4);
KVX_AT(reserved_33C8, 0x33C8);
KVX_AT(twod_test_skip, 0x370B);
KVX_AT(pretest_log_mode, 0x370C);
KVX_AT(usb_plug_count, 0x3710);
KVX_AT(reserved_3714, 0x3714);
KVX_AT(memory_test_flag, 0x3718);
KVX_AT(reserved_371C, 0x371C);
KVX_AT(parallel_test_mode, 0x3728);
KVX_AT(reserved_372C, 0x372C);
KVX_AT(serial_disable_rts, 0x38C4);
KVX_AT(pretest_action, 0x38C8);
KVX_AT(reserved_38CC, 0x38CC);
KVX_AT(log_prefix, 0x4238);
KVX_AT(view_errors_by_category, 0x429C);
KVX_AT(pad_429D, 0x429D);
KVX_AT(logging_enabled, 0x42A0);
KVX_AT(log_detail_level, 0x42A4);
KVX_AT(trace_level, 0x42A8);
KVX_AT(log_max_lines, 0x42AC);
KVX_AT(log_file_name, 0x42B0);
KVX_AT(log_line_count, 0x4440);
KVX_AT(log_header_written, 0x4444);
KVX_AT(trace_file_name, 0x4445);
KVX_AT(pad_45D5, 0x45D5);
KVX_AT(trace_line_count, 0x45D8);
KVX_AT(trace_header_written, 0x45DC);
KVX_AT(reserved_45DD, 0x45DD);
KVX_AT(disk_seek_count, 0x45E4);
KVX_AT(reserved_4634, 0x4634);
KVX_AT(cd_seek, 0x4638);
KVX_AT(reserved_4688, 0x4688);
KVX_AT(reserved_4690, 0x4690);
KVX_AT(reserved_46A4, 0x46A4);
KVX_AT(reserved_46A8, 0x46A8);
KVX_AT(reserved_46F8, 0x46F8);
KVX_AT(reserved_46FC, 0x46FC);
KVX_AT(network_test_type, 0x4ACC);
KVX_AT(reserved_4ACD, 0x4ACD);
#undef KVX_AT
static_assert(sizeof(_testconfig) == 19680);
static_assert(std::is_trivially_copyable_v<_testconfig>);
static_assert(std::is_standard_layout_v<_testconfig>);

// Bit 15 of a cd_seek entry switches additional seeking on; bits 0..14 are
// the seek count.
constexpr std::int32_t kCdSeekOnBit = 0x8000;

// The active configuration, and the dialogs' scratch copy.
extern _testconfig testconfig;
extern _testconfig tempConfig;

// Writes the default settings into `cfg`; magic, version, log_prefix, slots
// 157..163 and the reserved bytes nobody sets keep what they held. GUI thread.
void KalvexTest_SetUpDefault(_testconfig* cfg);

// A duty cycle fit for the delay formulas: files may hold 0, negatives or
// values above 100, which must never reach a division.
constexpr int ClampDutyCycle(int duty)
{
    return duty < 1 ? 1 : (duty > 100 ? 100 : duty);
}

// The clamped duty cycle of `slot` in `cfg`, read atomically. Any thread.
int SlotDutyCycle(const _testconfig& cfg, int slot);
