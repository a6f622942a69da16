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

// Writes the input into one scratch file per process and returns its path.
inline const std::string& WriteFuzzInput(const uint8_t* data, size_t size)
{
    static const std::string path = [] {
        char tmpl[] = "/tmp/kvxfuzz.XXXXXX";
        int fd = ::mkstemp(tmpl);
        if (fd >= 0)
            ::close(fd);
        return std::string(tmpl);
    }();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}
