#include "ConfigRecord.h"

#include "AtomicField.h"

#include <cstring>

_testconfig testconfig;
_testconfig tempConfig;

void KalvexTest_SetUpDefault(_testconfig* cfg)
{
    _testconfig& c = *cfg;

    c.logging_enabled = 0;
    c.log_directory[0] = '\0';
    std::strcpy(c.log_file_name, "KVX_log");
    std::strcpy(c.trace_file_name, "KVX_log");
    c.auto_stop_time = 15.0f;
    c.log_detail_level = 1;
    c.view_errors_by_category = 0;
    c.pretest_log_mode = 0;
    c.log_file_format = 1;
    c.trace_level = 2;
    c.action_on_error = 1;
    c.log_file_option = 0;
    c.trace_header_written = 0;
    c.log_header_written = 0;
    c.pretest_action = 1;
    c.auto_stop_cycles = 0;

    // Slots from the end marker on are left alone on purpose.
    for (int slot = 0; slot < kSlotMarkerEnd; ++slot) {
        c.test_enabled[slot] = 0;
        c.duty_cycle[slot] = 50;
    }

    c.network_bad_packet_ratio = 2.0f;
    c.test_enabled[kSlotMaths] = 1;
    c.maths_integer = 1;
    c.maths_float = 1;
    c.test_enabled[kSlotMemory] = 1;
    c.memory_test_flag = 0;
    c.test_enabled[kSlotDiskGroup] = 1;
    c.test_enabled[kSlotNetworkGroup] = 1;
    c.test_enabled[kSlotNetworkFirst] = 1;
    c.network_test_type = 0;
    c.network_timeout_ms = 2000;
    c.network_error_option = 1;
    std::strcpy(c.network_address[0], "127.0.0.1");
    c.reserved_326C[0] = 1;

    for (int i = 0; i < kNumDisks; ++i) {
        if (i == 0)
            c.test_enabled[kSlotDiskFirst + i] = 1;
        c.disk_duty_cycle_override[i] = 0;
        c.disk_file_size_pct[i] = 1.0;
        c.disk_test_mode[i] = 0;
        c.disk_seek_count[i] = 100;
        c.reserved_1740[i] = 0;
        c.disk_path[i][0] = '\0';
    }

    c.reserved_4634 = 100;
    c.log_max_lines = 10000;
    c.test_enabled[kSlotCdGroup] = 1;
    for (int i = 0; i < kNumCdDrives; ++i)
        c.cd_drive_name[i][0] = '\0';

    for (int i = 0; i < kNumCdDrives; ++i) {
        c.cd_seek[i] = 100;
        c.reserved_4690[i] = 0;
        c.reserved_46A8[i] = 700;
        c.test_enabled[kSlotCdFirst + i] = (i == 0) ? 1 : 0;
        c.cd_test_mode[i] = (i == 0) ? 3 : 0;
    }

    c.cd_autoplay = 1;
    c.reserved_46A4[0] = 0;
    c.reserved_46F8 = 700;
    c.test_enabled[kSlot2D] = 1;
    c.twod_test_skip = 0;
    c.serial_baud_index = 6;
    c.serial_port_mode[0] = 1;
    c.serial_disable_rts = 0;
    for (int n = 1; n < kNumSerialPorts; ++n)
        c.serial_port_mode[n] = 0;
    c.serial_timeout_ms = 3500;
    c.reserved_2D88 = 1;
    c.parallel_port_number = 0;
    c.parallel_test_mode = 0;
}

int SlotDutyCycle(const _testconfig& cfg, int slot)
{
    if (slot < 0 || slot >= kNumSlots)
        return 1;
    return ClampDutyCycle(relaxedLoad(cfg.duty_cycle[slot]));
}
