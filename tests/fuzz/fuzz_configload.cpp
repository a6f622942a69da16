// Any file named as a configuration must load or be refused, never crash,
// and a refused file must leave the record as it was.
#include "ConfigFile.h"
#include "FuzzSupport.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static SilentSink sink;
    SetMessageSink(&sink);
    const std::string& path = WriteFuzzInput(data, size);

    static _testconfig target;
    static _testconfig before;
    std::memset(&target, 0x5A, sizeof target);
    std::memcpy(&before, &target, sizeof target);
    int rc = ConfigFileLoad(path.c_str(), "", &target);
    if (rc != 0 && std::memcmp(&before, &target, sizeof target) != 0)
        std::abort();
    if (rc == 0 && (size < sizeof target || std::memcmp(&target, data, sizeof target) != 0))
        std::abort();
    return 0;
}
