// Shared by the fuzz targets: a file to hand the parsers, and silent boxes.
#pragma once

#include "MessageBox.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

class SilentSink : public MessageSink {
public:
    int show(BoxIcon, const std::string&, const std::string&, const std::vector<std::string>&, int, int) override
    {
        return -1;
    }
};

// Writes the input into scratch file `index` (0 or 1) of this process and
// returns its path.
inline std::string MakeScratchFile()
{
    char tmpl[] = "/tmp/kvxfuzz.XXXXXX";
    int fd = ::mkstemp(tmpl);
    if (fd >= 0)
        ::close(fd);
    return std::string(tmpl);
}

inline const std::string& WriteFuzzInput(const uint8_t* data, size_t size, int index = 0)
{
    static const std::string paths[2] = { MakeScratchFile(), MakeScratchFile() };
    const std::string& path = paths[index & 1];
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}
