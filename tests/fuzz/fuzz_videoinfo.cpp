// The video card comes from the X server configuration, the screen from
// xdpyinfo's output; both are free text. The first input byte splits the
// rest between the two.
#include "FuzzSupport.h"
#include "SystemInfo.h"
#include "SystemRecords.h"

#include <algorithm>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t split = std::min<size_t>(data[0] * (size - 1) / 255, size - 1);
    const std::string& xorg = WriteFuzzInput(data + 1, split);
    const std::string xdpyinfo(reinterpret_cast<const char*>(data + 1 + split), size - 1 - split);

    static _VIDEOINFOPM info;
    std::memset(&info, 0, sizeof info);
    BuildVideoInfoStruct(&info, xorg.c_str(), [&] { return xdpyinfo; });
    if (!std::memchr(info.card_name, '\0', sizeof info.card_name))
        std::abort();
    return 0;
}
