#include "ErrorClassification.h"

#include "DebugTrace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

char e_strings[kMaxErrorCodes][kErrorTextSize];
int e_classification[kMaxErrorCodes];

int InitialiseErrorClassifications(const char* dir)
{
    std::memset(e_strings, 0, sizeof e_strings);
    std::memset(e_classification, 0, sizeof e_classification);

    std::string path = std::string(dir) + "/KVXErrorClassification.txt";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) {
        int err = errno;
        DPrintf("%s, %s[%d]: fopen(%s): %s\n", KVX_WHERE, path.c_str(), std::strerror(err));
        return err;
    }
    // The entries are read by the results code; here the file only has to
    // be present and readable.
    std::fclose(f);
    return 0;
}
