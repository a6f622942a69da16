// /proc/cpuinfo differs per architecture and kernel; any text must fill the
// processor record without running past a field.
#include "FuzzSupport.h"
#include "SystemInfo.h"

#include <cstring>

namespace {

bool terminatedWithin(const char* field, size_t size)
{
    return std::memchr(field, '\0', size) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = WriteFuzzInput(data, size);
    static _CPUINFO info;
    std::memset(&info, 0, sizeof info);
    if (BuildCPUInfoStruct(&info, path.c_str()) != 0)
        std::abort();
    if (info.cpu_count < 0 || info.ht_status != 4)
        std::abort();
    if (!terminatedWithin(info.vendor_id, sizeof info.vendor_id)
        || !terminatedWithin(info.model_name, sizeof info.model_name)
        || !terminatedWithin(info.cpu0_speed_text, sizeof info.cpu0_speed_text)
        || !terminatedWithin(info.cpu1_speed_text, sizeof info.cpu1_speed_text))
        std::abort();
    static const _CPUINFO zero {};
    if (std::memcmp(info.reserved_0C, zero.reserved_0C, sizeof zero.reserved_0C) != 0
        || std::memcmp(info.reserved_8C, zero.reserved_8C, sizeof zero.reserved_8C) != 0
        || std::memcmp(info.reserved_E8, zero.reserved_E8, sizeof zero.reserved_E8) != 0)
        std::abort();
    return 0;
}
