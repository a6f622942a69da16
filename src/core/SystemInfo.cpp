#include "SystemInfo.h"

#include "DebugTrace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxIssueBytes = 1024;
// Identifies the fopen failure in the trace; log readers search for it.
constexpr int kIssueOpenCallSite = 1;

// getdomainname() answers "(none)" when no domain was ever set.
std::string domainName()
{
    char buf[256] = {};
    if (::getdomainname(buf, sizeof(buf) - 1) != 0)
        return {};
    if (std::strcmp(buf, "(none)") == 0)
        return {};
    return buf;
}

} // namespace

const char* SystemInfo_uname(const char* option)
{
    thread_local std::string s_text;

    utsname u {};
    if (::uname(&u) != 0) {
        s_text = std::string("Error \"uname ") + (option ? option : "(null)") + "\"";
        return s_text.c_str();
    }
    const char letter = (option && option[0]) ? option[1] : '\0';
    switch (letter) {
    case 's':
        s_text = u.sysname;
        break;
    case 'n':
        s_text = u.nodename;
        break;
    case 'r':
        s_text = u.release;
        break;
    case 'v':
    case 'o':
        s_text = u.version;
        break;
    case 'm':
    case 'i':
    case 'p':
        s_text = u.machine;
        break;
    default:
        s_text = "uname() invalid option";
        break;
    }
    return s_text.c_str();
}

const char* TranslateEtcIssue(const char* path)
{
    thread_local std::string s_text;
    s_text.clear();

    FILE* f = std::fopen(path, "rb");
    if (!f) {
        const int err = errno;
        // Goes to the event log at level 3 once that is wired in.
        DPrintf("%s[%d]: Failed to fopen(%s, rb), strerror(%d): %s\n", "TranslateEtcIssue", kIssueOpenCallSite,
                path, err, std::strerror(err));
        return s_text.c_str();
    }
    char buf[kMaxIssueBytes] = {};
    const std::size_t got = std::fread(buf, 1, sizeof(buf), f);
    std::fclose(f);
    // The text is handed out as a C string, so a NUL ends it here too.
    const std::size_t n = ::strnlen(buf, got);

    utsname u {};
    if (::uname(&u) != 0)
        u = utsname {};

    for (std::size_t i = 0; i < n; ++i) {
        const char c = buf[i];
        if (c != '\\' || i + 1 >= n) {
            s_text += c;
            continue;
        }
        const char e = buf[i + 1];
        switch (e) {
        case 'm':
            s_text += u.machine;
            break;
        case 'n':
            s_text += u.nodename;
            break;
        case 'r':
            s_text += u.release;
            break;
        case 's':
            s_text += u.sysname;
            break;
        case 'v':
            s_text += u.version;
            break;
        case 'o': {
            const std::string domain = domainName();
            if (domain.empty()) {
                s_text += "\\o";
            } else {
                s_text += domain;
            }
            break;
        }
        case 'U':
        case 'b':
        case 'd':
        case 'l':
        case 't':
        case 'u':
            // Depend on the terminal and the login session; meaningless here.
            s_text += '\\';
            s_text += e;
            break;
        default:
            // Not an escape: keep the backslash and read the next character
            // as ordinary text (it may itself start an escape).
            s_text += c;
            continue;
        }
        ++i;
    }

    while (!s_text.empty() && s_text.back() == '\n')
        s_text.pop_back();
    return s_text.c_str();
}
