// The processor and screen records. Both are stored inside the results
// record and so in ".accum_result.cfg": their layouts are a file format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct _CPUINFO {
    std::int32_t cpu_count;
    float cpu0_mhz;
    float cpu1_mhz;
    std::uint8_t reserved_0C[12];
    std::int32_t has_mmx;
    std::int32_t has_sse;
    std::uint8_t reserved_20[8];
    char vendor_id[20];
    char model_name[50];
    char cpu0_speed_text[15];
    char cpu1_speed_text[15];
    std::uint8_t reserved_8C[44];
    std::int32_t cache_size_kb;
    std::uint8_t reserved_BC[4];
    // Processor serial number: a presence word and three 32-bit words.
    std::int32_t serial_present;
    std::uint32_t serial[3];
    std::int32_t has_sse2;
    std::int32_t has_3dnow;
    std::int32_t logical_cpu_count;
    std::int32_t ht_status;
    std::int32_t l3_cache_kb;
    std::int32_t has_sse3;
    std::uint8_t reserved_E8[12];
};

#define KVX_AT(field, off) static_assert(offsetof(_CPUINFO, field) == (off), #field)
KVX_AT(cpu_count, 0x00);
KVX_AT(cpu0_mhz, 0x04);
KVX_AT(cpu1_mhz, 0x08);
KVX_AT(has_mmx, 0x18);
KVX_AT(has_sse, 0x1C);
KVX_AT(vendor_id, 0x28);
KVX_AT(model_name, 0x3C);
KVX_AT(cpu0_speed_text, 0x6E);
KVX_AT(cpu1_speed_text, 0x7D);
KVX_AT(cache_size_kb, 0xB8);
KVX_AT(serial_present, 0xC0);
KVX_AT(serial, 0xC4);
KVX_AT(has_sse2, 0xD0);
KVX_AT(has_3dnow, 0xD4);
KVX_AT(logical_cpu_count, 0xD8);
KVX_AT(ht_status, 0xDC);
KVX_AT(l3_cache_kb, 0xE0);
KVX_AT(has_sse3, 0xE4);
#undef KVX_AT
static_assert(sizeof(_CPUINFO) == 244);

struct _VIDEOINFOPM {
    std::int32_t depth;
    std::int32_t width;
    std::int32_t height;
    std::uint8_t reserved_0C[256];
    char card_name[1052 - 0x10C];
};
static_assert(offsetof(_VIDEOINFOPM, card_name) == 0x10C);
static_assert(sizeof(_VIDEOINFOPM) == 1052);
static_assert(std::is_trivially_copyable_v<_CPUINFO> && std::is_trivially_copyable_v<_VIDEOINFOPM>);
