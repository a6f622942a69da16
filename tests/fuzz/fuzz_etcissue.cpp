// /etc/issue is free text with escapes; any content must translate safely.
#include "FuzzSupport.h"
#include "SystemInfo.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = WriteFuzzInput(data, size);
    const char* text = TranslateEtcIssue(path.c_str());
    if (!text)
        std::abort();
    return 0;
}
