#include "DebugTrace.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <sys/time.h>

FILE* g_fh_debug = nullptr;

void DPrintf(const char* fmt, ...)
{
    FILE* out = g_fh_debug ? g_fh_debug : stdout;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(out, fmt, ap);
    va_end(ap);
}

void VDPrintf(const char* fmt, ...)
{
    FILE* out = g_fh_debug ? g_fh_debug : stdout;
    va_list ap;
    va_start(ap, fmt);
    // One lock around prefix and message so lines of two threads never mix.
    flockfile(out);
    if (g_fh_debug) {
        timeval tv {};
        gettimeofday(&tv, nullptr);
        time_t secs = tv.tv_sec;
        char buf[32];
        if (ctime_r(&secs, buf)) {
            buf[24] = '\0';
            std::fprintf(out, "%s - %d ", buf, static_cast<int>(tv.tv_usec));
        }
    }
    std::vfprintf(out, fmt, ap);
    funlockfile(out);
    va_end(ap);
}

long long GetFileSize(const char* path)
{
    struct stat st { };
    if (::stat(path, &st) != 0) {
        DPrintf("%s, %s[%d]: inFileName = *%s*, err = *%s*\n", KVX_WHERE, path, std::strerror(errno));
        return 0;
    }
    return static_cast<long long>(st.st_size);
}
