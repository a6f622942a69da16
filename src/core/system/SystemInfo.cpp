#include "SystemInfo.h"

#include "CLogger.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "Startup.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <sys/utsname.h>
#include <unistd.h>

FileSystemStruct gFileSystemStructPtr[kMaxMountEntries];
int gNumMntPoints = 0;
MultimediaStruct gMultimediaStructPtr[kMaxMountEntries];
int gNumMMDevices = 0;

namespace {

constexpr std::size_t kMaxIssueBytes = 1024;
// Identifies the fopen failure in the trace; log readers search for it.
constexpr int kIssueOpenCallSite = 1;
constexpr int kLogTestStatus = 0; // "Status" in the event log's test names

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
        char line[512];
        std::snprintf(line, sizeof line, "%s[%d]: Failed to fopen(%s, rb), strerror(%d): %s", "TranslateEtcIssue",
            kIssueOpenCallSite, path, err, std::strerror(err));
        DPrintf("%s\n", line);
        // An activity detail; before start-up has made the event log there
        // is only the debug trace.
        if (gLogger)
            gLogger->AddLine(line, kLogTestStatus, 0, nullptr, 3);
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

void FillOsText(char* out, std::size_t size)
{
    if (!out || size == 0)
        return;
    utsname u {};
    if (::uname(&u) != 0) {
        out[0] = '\0';
        return;
    }
    std::snprintf(out, size, "%s (%s)", u.sysname, u.release);
}

namespace {

// Copies src into a fixed field, cut to fit and always terminated.
void copyText(char* dst, std::size_t size, const char* src)
{
    if (size == 0)
        return;
    const std::size_t n = src ? ::strnlen(src, size - 1) : 0;
    if (n)
        std::memcpy(dst, src, n);
    dst[n] = '\0';
}

template <std::size_t N> void copyText(char (&dst)[N], const char* src)
{
    copyText(dst, N, src);
}

bool startsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The leading decimal number of text, 0 when there is none. Out-of-range
// values are clamped rather than left to atoi.
int leadingInt(const char* text)
{
    const long v = std::strtol(text, nullptr, 10);
    return static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX));
}

// Points past "<key> :" and the blanks after it, or null without the colon.
const char* afterColon(const char* line, std::size_t keyLen)
{
    const char* p = line + keyLen;
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (*p != ':')
        return nullptr;
    ++p;
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    return p;
}

// The value of a "key : value" line up to a double quote or the line's end,
// one trailing newline dropped.
std::string cpuinfoValue(const char* line, std::size_t keyLen)
{
    const char* p = afterColon(line, keyLen);
    if (!p)
        return {};
    std::string value(p, std::strcspn(p, "\""));
    if (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

} // namespace

int BuildCPUInfoStruct(_CPUINFO* info, const char* path)
{
    FILE* f = std::fopen(path, "r");
    if (!f) {
        const int err = errno;
        info->ht_status = 4;
        return err;
    }
    // Speeds are kept for the first two processors only; lines before the
    // first "processor" line belong to none.
    int current = -1;
    char line[1024];
    while (std::fgets(line, sizeof(line), f)) {
        if (startsWith(line, "processor")) {
            if (const char* p = afterColon(line, std::strlen("processor"))) {
                char* end = nullptr;
                const long idx = std::strtol(p, &end, 10);
                if (end != p)
                    current = static_cast<int>(std::clamp<long>(idx, INT_MIN, INT_MAX));
            }
            info->cpu_count += 1;
        } else if (startsWith(line, "vendor_id")) {
            copyText(info->vendor_id, cpuinfoValue(line, std::strlen("vendor_id")).c_str());
        } else if (startsWith(line, "model name")) {
            copyText(info->model_name, cpuinfoValue(line, std::strlen("model name")).c_str());
        } else if (startsWith(line, "cpu MHz")) {
            if (current != 0 && current != 1)
                continue;
            const char* p = afterColon(line, std::strlen("cpu MHz"));
            if (!p)
                continue;
            char* end = nullptr;
            const float mhz = std::strtof(p, &end);
            if (end == p)
                continue;
            float& target = current == 0 ? info->cpu0_mhz : info->cpu1_mhz;
            char* text = current == 0 ? info->cpu0_speed_text : info->cpu1_speed_text;
            target = mhz;
            std::snprintf(text, sizeof(info->cpu0_speed_text), "%0.1f MHz", static_cast<double>(mhz));
        } else if (startsWith(line, "cache size")) {
            info->cache_size_kb = leadingInt(cpuinfoValue(line, std::strlen("cache size")).c_str());
            // The "cache size" line is the level 2 cache; no level 3 to show.
            info->l3_cache_kb = -1;
        } else if (startsWith(line, "flags")) {
            const std::string flags = cpuinfoValue(line, std::strlen("flags"));
            // Plain substring tests: "sse2" also counts as "sse".
            if (flags.find("mmx") != std::string::npos)
                info->has_mmx = 1;
            if (flags.find("3dnow!") != std::string::npos)
                info->has_3dnow = 1;
            if (flags.find("sse") != std::string::npos)
                info->has_sse = 1;
            if (flags.find("sse2") != std::string::npos)
                info->has_sse2 = 1;
            if (flags.find("sse3") != std::string::npos)
                info->has_sse3 = 1;
        }
    }
    std::fclose(f);
    info->ht_status = 4;
    return 0;
}

namespace {

// Whole file as text; empty when it cannot be read.
std::string readWholeFile(const char* path)
{
    std::string text;
    FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (!f)
        return text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    return text;
}

// Searches text for each key in turn, each search starting just after the
// previous key, and returns the rest of that line without leading tabs and
// blanks. keys holds one "%s" per key argument in ap.
std::string lookupKeys(const std::string& text, const char* keys, va_list ap)
{
    if (!keys)
        return {};
    int count = 0;
    for (const char* p = std::strstr(keys, "%s"); p; p = std::strstr(p + 2, "%s"))
        ++count;

    std::size_t pos = 0;
    bool found = !text.empty();
    for (int i = 0; i < count; ++i) {
        const char* key = va_arg(ap, const char*);
        if (!found)
            continue;
        const std::size_t at = key ? text.find(key, pos) : std::string::npos;
        if (at == std::string::npos) {
            found = false;
            continue;
        }
        pos = at + std::strlen(key);
    }
    if (!found)
        return {};
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    const std::size_t end = text.find('\n', pos);
    return text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
}

// Like lookupKeys, for a fixed list of keys.
std::string lookup(const std::string& text, const char* keys, ...)
{
    va_list ap;
    va_start(ap, keys);
    std::string value = lookupKeys(text, keys, ap);
    va_end(ap);
    return value;
}

constexpr const char* kXorgConf = "/etc/X11/xorg.conf";

thread_local std::string t_xorgValue;
thread_local std::string t_xdpyinfoValue;

} // namespace

std::string RunXdpyinfo()
{
    // Read through a pipe: a fixed scratch file in the working directory
    // could be a planted link, and we run as root.
    std::string out;
    FILE* p = ::popen("xdpyinfo 2>/dev/null", "re");
    if (!p)
        return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    ::pclose(p);
    return out;
}

const char* Get_xorg_conf_ByStringVaArgs(const char* keys, ...)
{
    va_list ap;
    va_start(ap, keys);
    t_xorgValue = lookupKeys(readWholeFile(kXorgConf), keys, ap);
    va_end(ap);
    return t_xorgValue.c_str();
}

const char* Get_xorg_conf_ByStringVaArgsIn(const char* path, const char* keys, ...)
{
    va_list ap;
    va_start(ap, keys);
    t_xorgValue = lookupKeys(readWholeFile(path), keys, ap);
    va_end(ap);
    return t_xorgValue.c_str();
}

const char* Get_xdpyinfo_ByStringVaArgs(const char* keys, ...)
{
    va_list ap;
    va_start(ap, keys);
    t_xdpyinfoValue = lookupKeys(RunXdpyinfo(), keys, ap);
    va_end(ap);
    return t_xdpyinfoValue.c_str();
}

const char* Get_xdpyinfo_ByStringVaArgsFrom(const XdpyinfoSource& source, const char* keys, ...)
{
    const std::string text = source ? source() : std::string();
    va_list ap;
    va_start(ap, keys);
    t_xdpyinfoValue = lookupKeys(text, keys, ap);
    va_end(ap);
    return t_xdpyinfoValue.c_str();
}

int BuildVideoInfoStruct(_VIDEOINFOPM* info, const char* xorgConf, const XdpyinfoSource& xdpyinfo)
{
    const std::string conf = readWholeFile(xorgConf);
    const std::string identifier = lookup(conf, "%s%s", "Section \"Device\"", "Identifier");
    if (!identifier.empty())
        copyText(info->card_name, identifier.c_str());
    const std::string board = lookup(conf, "%s%s", "Section \"Device\"", "BoardName");
    if (!board.empty()) {
        const std::string named = std::string(info->card_name) + " (" + board + ")";
        copyText(info->card_name, named.c_str());
    }

    // One run of xdpyinfo serves all three values.
    const std::string screens = xdpyinfo ? xdpyinfo() : std::string();
    const std::string dims = lookup(screens, "%s%s", "screen #0:", "dimensions:");
    info->width = leadingInt(dims.c_str());
    const std::size_t x = dims.find('x');
    info->height = x == std::string::npos ? 0 : leadingInt(dims.c_str() + x + 1);
    info->depth = leadingInt(lookup(screens, "%s%s", "screen #0:", "depth of root window:").c_str());
    return 0;
}

namespace {

// Callers hand in alias fields of this size.
constexpr std::size_t kAliasSize = 256;

const char* orEmpty(const char* s)
{
    return s ? s : "";
}

bool underMedia(const char* dir)
{
    return ::strncasecmp(dir, "/media/", 7) == 0;
}

bool onScsiDisk(const char* dev)
{
    return std::strncmp(dev, "/dev/sd", 7) == 0;
}

} // namespace

int GetDeviceType(const char* name, const mntent* entry, char* alias)
{
    const char* dev = orEmpty(name);
    const char* dir = orEmpty(entry->mnt_dir);
    const char* type = orEmpty(entry->mnt_type);

    if (std::strcmp(dir, "/") == 0) {
        std::snprintf(alias, kAliasSize, "Startup Disk [%s]", dev);
        return 0;
    }
    // Removable media land here whatever mounted them (subfs with
    // fs=cdfss/fs=floppyfss, or type auto with the removable_t context).
    if (underMedia(dir)) {
        std::snprintf(alias, kAliasSize, "Media (%s) [%s]", dir, dev);
        return 0;
    }
    if (std::strcmp(type, "auto") == 0 || std::strcmp(type, "iso9660") == 0) {
        // A USB disk outside /media is somebody's data disk, not media.
        if (onScsiDisk(dev))
            return -1;
        std::snprintf(alias, kAliasSize, "Media (%s) [%s]", dir, dev);
        return 0;
    }
    if (std::strcmp(type, "ext2") == 0 || std::strcmp(type, "ext3") == 0 || std::strcmp(type, "vfat") == 0) {
        std::snprintf(alias, kAliasSize, "Hard Disk (%s) [%s]", dir, dev);
        return 0;
    }
    return -1;
}

int GetMediaDeviceType(const char* name, const mntent* entry, char* alias)
{
    const char* dev = orEmpty(name);
    const char* dir = orEmpty(entry->mnt_dir);
    const char* type = orEmpty(entry->mnt_type);
    const char* opts = orEmpty(entry->mnt_opts);

    if (underMedia(dir)) {
        const bool subfsCd = std::strstr(opts, "fs=cdfss") && std::strcmp(type, "subfs") == 0;
        // Desktop mounters name the mount point after the drive: cdrom, cdrecorder...
        const char* last = std::strrchr(dir, '/') + 1;
        if (!subfsCd && std::strncmp(last, "cd", 2) != 0)
            return -1;
        std::snprintf(alias, kAliasSize, "CD/DVD (%s) [%s]", dir, dev);
        return 0;
    }
    if (std::strcmp(type, "iso9660") != 0 || onScsiDisk(dev))
        return -1;
    std::snprintf(alias, kAliasSize, "CD/DVD (%s) [%s]", dir, dev);
    return 0;
}

namespace {

template <class Entry> void fillFromMount(Entry& e, const mntent& m, const char* alias, bool mounted)
{
    copyText(e.name, m.mnt_fsname);
    copyText(e.mount_point, m.mnt_dir);
    copyText(e.type, m.mnt_type);
    copyText(e.opts, m.mnt_opts);
    e.freq = m.mnt_freq;
    e.pass = m.mnt_passno;
    copyText(e.alias, alias);
    e.mounted = mounted;
}

using Classifier = int (*)(const char*, const mntent*, char*);
using PathList = char (*)[256];

// Mount entries are at most a few hundred bytes; longer lines are cut.
constexpr std::size_t kMountLineSize = 4096;

FILE* openTable(const char* path, const char* func)
{
    FILE* f = ::setmntent(path, "r");
    if (!f) {
        const int err = errno;
        DPrintf("%s[%d]: setmntent(%s) error %d, %s\n", func, __LINE__, path, err, std::strerror(err));
    }
    return f;
}

// Reads `path` and hands each entry the classifier accepts, with its alias,
// to `accept` while `count()` stays below the list's size. `table` names the
// table in the trace. Accepted and refused entries are traced.
template <class Count, class Accept>
void scanTable(const char* path, const char* table, Classifier classify, const char* func, Count count, Accept accept)
{
    FILE* f = openTable(path, func);
    if (!f)
        return;
    mntent m {};
    char buf[kMountLineSize];
    while (count() < kMaxMountEntries && ::getmntent_r(f, &m, buf, sizeof(buf))) {
        char alias[256] = {};
        if (classify(m.mnt_fsname, &m, alias) != 0) {
            DPrintf("%s[%d]: Invalid entry in %s *%s*\n", func, __LINE__, table, m.mnt_dir);
            continue;
        }
        DPrintf("%s[%d]: Valid entry in %s *%s*\n", func, __LINE__, table, m.mnt_dir);
        accept(m, alias);
    }
    ::endmntent(f);
}

// Appends the fstab entries the classifier accepts, none of them mounted.
template <class Entry>
int readFstab(Entry* list, int count, const char* fstab, Classifier classify, PathList paths, const char* func)
{
    scanTable(
        fstab, "/etc/fstab", classify, func, [&] { return count; },
        [&](const mntent& m, const char* alias) {
            Entry& e = list[count];
            std::memset(&e, 0, sizeof(e));
            fillFromMount(e, m, alias, false);
            copyText(paths[count], 256, m.mnt_dir);
            ++count;
        });
    return count;
}

// Marks the listed entries that are mounted and measures them, and appends
// mounted candidates not listed yet when their mount point can be measured.
// With announce, each appended entry is traced as a new disk.
template <class Entry, class Print>
int readMtab(Entry* list, int count, const char* mtab, Classifier classify, PathList paths, const char* func,
    Print print, bool announce)
{
    scanTable(
        mtab, "/etc/mtab", classify, func, [&] { return count; },
        [&](const mntent& m, const char* alias) {
            int i = 0;
            while (i < count && std::strcmp(list[i].name, m.mnt_fsname) != 0
                && std::strcmp(list[i].mount_point, m.mnt_dir) != 0)
                ++i;
            if (i < count) {
                Entry& e = list[i];
                if (::statvfs(m.mnt_dir, &e.vfs) != 0)
                    std::memset(&e.vfs, 0, sizeof(e.vfs));
                fillFromMount(e, m, alias, true);
                copyText(paths[i], 256, m.mnt_dir);
                return;
            }
            struct statvfs vfs { };
            if (::statvfs(m.mnt_dir, &vfs) != 0)
                return;
            Entry& e = list[count];
            std::memset(&e, 0, sizeof(e));
            fillFromMount(e, m, alias, true);
            e.vfs = vfs;
            copyText(paths[count], 256, m.mnt_dir);
            if (announce) {
                DPrintf("==================== S T A R T ==================\n");
                print(&e);
                DPrintf("====================== E N D ====================\n");
                DPrintf("========== NEW DISK TEST DEVICES FOUND ==========\n");
            }
            ++count;
        });
    return count;
}

template <class Entry> void printEntry(const Entry* e)
{
    DPrintf("===============================START================================\n");
    DPrintf("%-15s\t%s\n", "Name:", e->name);
    DPrintf("%-15s\t%s\n", "Mount point:", e->mount_point);
    DPrintf("%-15s\t%s\n", "Type:", e->type);
    DPrintf("%-15s\t%s\n", "Opts:", e->opts);
    DPrintf("%-15s\t%d\n", "Freq:", e->freq);
    DPrintf("%-15s\t%d\n", "Pass #:", e->pass);
    DPrintf("%-15s\t%s\n", "Alias:", e->alias);
    DPrintf("%-15s\t%s\n", "Is it mounted?:", e->mounted ? "true" : "false");
    DPrintf("=================================END================================\n");
}

} // namespace

void PrintFileSystemInfo(const FileSystemStruct* fs)
{
    printEntry(fs);
}

void PrintMultimediaInfo(const MultimediaStruct* mm)
{
    printEntry(mm);
}

int BuildFileSystemStruct(FileSystemStruct* list, const char* fstab, const char* mtab)
{
    constexpr const char* func = "BuildFileSystemStruct";
    int count = readFstab(list, 0, fstab, GetDeviceType, testconfig.disk_path, func);
    count = readMtab(list, count, mtab, GetDeviceType, testconfig.disk_path, func, PrintFileSystemInfo, false);
    DPrintf("\n=================== FILESYSTEM_INFO_START ===================\n");
    for (int i = 0; i < count; ++i)
        PrintFileSystemInfo(&list[i]);
    DPrintf("\n=================== FILESYSTEM_INFO_END ===================\n");
    return count;
}

int UpdateFileSystemStruct(FileSystemStruct* list, const char* mtab)
{
    const int start = std::clamp(gNumMntPoints, 0, kMaxMountEntries);
    return readMtab(
        list, start, mtab, GetDeviceType, testconfig.disk_path, "UpdateFileSystemStruct", PrintFileSystemInfo, true);
}

int BuildMultimediaStruct(MultimediaStruct* list, const char* fstab, const char* mtab)
{
    constexpr const char* func = "BuildMultimediaStruct";
    int count = readFstab(list, 0, fstab, GetMediaDeviceType, testconfig.cd_drive_name, func);
    count = readMtab(list, count, mtab, GetMediaDeviceType, testconfig.cd_drive_name, func, PrintMultimediaInfo, false);
    DPrintf("\n=================== MULTIMEDIA_DEVICES_START ===================\n");
    for (int i = 0; i < count; ++i)
        PrintMultimediaInfo(&list[i]);
    DPrintf("\n=================== MULTIMEDIA_DEVICES_END ===================\n");
    return count;
}

int QueryMountedFileSystems(const char* path, FileSystemStruct* fs, const char* mtab)
{
    FILE* f = ::setmntent(mtab, "r");
    if (!f)
        return -1;
    int result = -1;
    mntent m {};
    char buf[kMountLineSize];
    while (::getmntent_r(f, &m, buf, sizeof(buf))) {
        if (std::strcmp(m.mnt_dir, path) != 0 && std::strcmp(m.mnt_fsname, path) != 0)
            continue;
        if (::statvfs(m.mnt_dir, &fs->vfs) != 0) {
            result = errno;
            std::memset(&fs->vfs, 0, sizeof(fs->vfs));
            std::perror("statvfs");
            break;
        }
        copyText(fs->name, m.mnt_fsname);
        copyText(fs->mount_point, m.mnt_dir);
        copyText(fs->type, m.mnt_type);
        copyText(fs->opts, m.mnt_opts);
        fs->freq = m.mnt_freq;
        fs->pass = m.mnt_passno;
        result = 0;
        break;
    }
    ::endmntent(f);
    return result;
}

int GetMountedFileSystemAvailDiskSize(const char* path, std::uint64_t* avail, std::uint64_t* total, const char* mtab)
{
    FileSystemStruct fs {};
    const int result = QueryMountedFileSystems(path, &fs, mtab);
    if (avail)
        *avail = result == 0 ? fs.vfs.f_bavail : 0;
    if (total)
        *total = result == 0 ? fs.vfs.f_blocks : 0;
    return result;
}
