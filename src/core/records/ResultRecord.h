// The process-wide results record. ".accum_result.cfg" is this record byte
// for byte, so its layout is a file format: the static_asserts pin it.
#pragma once

#include "ConfigRecord.h"
#include "SystemRecords.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

// 64-bit counters sit at 4-byte aligned offsets inside the 28700-byte record
// (not a multiple of 8); the global instance itself is 8-aligned.
typedef std::uint64_t kvx_u64_a4 __attribute__((aligned(4)));

struct _resultinfo {
    std::uint32_t cycles;
    std::uint32_t mb;
    std::uint32_t errors;
    std::uint32_t last_error;
    kvx_u64_a4 op_count;
};
static_assert(sizeof(_resultinfo) == 24 && offsetof(_resultinfo, op_count) == 16);

struct _classerror {
    std::uint32_t information;
    std::uint32_t warning;
    std::uint32_t serious;
    std::uint32_t critical;
};
static_assert(sizeof(_classerror) == 16);

constexpr int kNumErrorCodes = 250;

struct _resultfile {
    // Processor and operating system facts gathered at start-up.
    std::uint8_t reserved_0[30];
    char os_text[66];
    _CPUINFO cpu_info;
    char notes[300];
    _resultinfo results[kNumSlots];
    std::int32_t run_start_time;
    std::int32_t run_stop_time;
    std::int32_t reserved_4584;
    std::uint8_t reserved_4588[8];
    char machine_type[100];
    char machine_serial[100];
    std::uint8_t reserved_4796[52];
    _resultinfo accum_results[kNumSlots];
    char network_name[100];
    // The screen facts gathered at start-up.
    _VIDEOINFOPM video_info;
    _classerror classes[kNumSlots];
    _classerror accum_classes[kNumSlots];
    std::int32_t accum_start_time;
    std::int32_t accum_stop_time;
    std::int32_t accum_duration;
    std::int32_t reserved_15196;
    std::int32_t error_occurrences[kNumErrorCodes];
    char first_occurrence[kNumErrorCodes][50];
};

#define KVX_AT(field, off) static_assert(offsetof(_resultfile, field) == (off), #field)
KVX_AT(os_text, 30);
KVX_AT(cpu_info, 96);
KVX_AT(notes, 340);
KVX_AT(results, 640);
KVX_AT(run_start_time, 4576);
KVX_AT(run_stop_time, 4580);
KVX_AT(reserved_4584, 4584);
KVX_AT(reserved_4588, 4588);
KVX_AT(machine_type, 4596);
KVX_AT(machine_serial, 4696);
KVX_AT(reserved_4796, 4796);
KVX_AT(accum_results, 4848);
KVX_AT(network_name, 8784);
KVX_AT(video_info, 8884);
KVX_AT(classes, 9936);
KVX_AT(accum_classes, 12560);
KVX_AT(accum_start_time, 15184);
KVX_AT(accum_stop_time, 15188);
KVX_AT(accum_duration, 15192);
KVX_AT(reserved_15196, 15196);
KVX_AT(error_occurrences, 15200);
KVX_AT(first_occurrence, 16200);
#undef KVX_AT
static_assert(sizeof(_resultfile) == 28700);
static_assert(std::is_trivially_copyable_v<_resultfile>);
static_assert(std::is_standard_layout_v<_resultfile>);

alignas(8) extern _resultfile resultfile;

// Raw record files: `count` items of `size` bytes in one write or read.
// Return 0 or the errno (the failing step goes to standard error). A save
// replaces the file atomically; a short load leaves `data` partly written.
int BinaryDataSave(const char* path, const void* data, int size, int count);
int BinaryDataLoad(const char* path, void* data, int size, int count);

// Ends every text field of `r` inside its field, for a record read from a
// file that may be damaged or foreign: the reports print them as C strings.
void TerminateResultTexts(_resultfile& r);

// Reads "machineid.dat" from `dir` into the machine type, serial number and
// notes of resultfile; a missing file leaves them as they are. GUI thread.
void load_machineid(const char* dir);

// Writes the machine type, serial number and notes of resultfile to
// "machineid.dat" in `dir` (atomically) and tells the user how it went.
// Returns 0 or the errno. GUI thread.
int save_machineid(const char* dir);

// Stores the three machine identification texts into resultfile, cut to
// 99, 99 and 299 characters. GUI thread.
void SetMachineId(const std::string& type, const std::string& serial, const std::string& notes);
