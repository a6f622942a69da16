// The classification file is edited by hand; any content must be read up to
// its first bad line without overrunning the tables.
#include "ErrorClassification.h"
#include "FuzzSupport.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = WriteFuzzInput(data, size);
    const int rc = ReadErrorClassificationFile(path.c_str());
    if (rc < -1)
        std::abort();
    for (int code = 0; code < kMaxErrorCodes; ++code) {
        if (std::memchr(e_strings[code], '\0', kErrorTextSize) == nullptr)
            std::abort();
        if (e_classification[code] < 0 || e_classification[code] > 4)
            std::abort();
    }
    return 0;
}
