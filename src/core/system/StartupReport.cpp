#include "StartupReport.h"

#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "Run.h"
#include "TestSlots.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <sys/sysinfo.h>

namespace {

struct CommandSection {
    const char* name;
    const char* command;
};

// rpm is missing on some distributions; its sections then stay empty.
constexpr CommandSection kPackageSections[] = {
    { "QT_LIBRARIES", "rpm -qa | grep -i qt" },
    { "GCC_COMPILERS", "rpm -qa | grep -i gcc" },
    { "LIBC_VERSION", "rpm -qa | grep -i libc" },
    { "KDE_LIBRARIES", "rpm -qa | grep -i kde" },
    { "X11_LIBRARIES", "rpm -qa | grep -i x11" },
    { "LD_DYNAMIC_LOADER_LIBRARIES_CACHE", "ldconfig -p" },
};

constexpr CommandSection kDisplaySections[] = {
    { "XDPY_CONF_INFO", "xdpyinfo" },
    { "XORG_CONF_INFO", "cat /etc/X11/xorg.conf" },
    { "GLX_INFO", "glxinfo" },
    { "PRINTENV_INFO", "printenv" },
    { "UNAME_INFO", "uname -a" },
    { "IFCONFIG_INFO", "ifconfig" },
};

constexpr CommandSection kSystemSections[] = {
    { "FSTAB_INFO", "cat /etc/fstab" },
    { "MTAB_INFO", "cat /etc/mtab" },
    { "DF_INFO", "df -ahPT" },
    { "CPU_INFO", "cat /proc/cpuinfo" },
    { "MEM_INFO", "cat /proc/meminfo" },
    { "ULIMIT_INFO", "ulimit -a" },
};

constexpr const char* kWideStart = "============================= S T A R T ============================\n";
constexpr const char* kWideEnd = "=============================== E N D ==============================\n";
constexpr const char* kNarrowStart = "========================== S T A R T ===========================\n";
constexpr const char* kNarrowEnd = "============================ E N D =============================\n";

void printTitle(const char* name, bool leadingNewline)
{
    DPrintf("%s========================== %s ==========================\n", leadingNewline ? "\n" : "", name);
}

void openSection(const char* name, const char* startLine)
{
    printTitle(name, true);
    DPrintf("%s", startLine);
}

void closeSection(const char* name, const char* endLine)
{
    DPrintf("%s", endLine);
    printTitle(name, false);
}

void printPackageSections(const std::function<void(const char*)>& runCommand)
{
    for (const CommandSection& s : kPackageSections) {
        DPrintf("\n====================== CHECKING_%s_START ======================\n", s.name);
        runCommand(s.command);
        DPrintf("======================= CHECKING_%s_END =======================\n", s.name);
    }
}

template <std::size_t N>
void printCommandSections(const CommandSection (&sections)[N], const char* startLine, const char* endLine,
    const std::function<void(const char*)>& runCommand)
{
    for (const CommandSection& s : sections) {
        openSection(s.name, startLine);
        runCommand(s.command);
        closeSection(s.name, endLine);
    }
}

struct LimitRow {
    decltype(RLIMIT_AS) resource;
    const char* label;
    // The data segment's error line has always read without its ')';
    // existing log parsers match it that way.
    const char* errorLabel;
};

constexpr LimitRow kLimits[] = {
    { RLIMIT_AS, "RLIMIT_AS (address space)", nullptr },
    { RLIMIT_CORE, "RLIMIT_CORE (core file)", nullptr },
    { RLIMIT_CPU, "RLIMIT_CPU (CPU time)", nullptr },
    { RLIMIT_DATA, "RLIMIT_DATA (data segment)", "RLIMIT_DATA (data segment" },
    { RLIMIT_FSIZE, "RLIMIT_FSIZE (file size)", nullptr },
    { RLIMIT_LOCKS, "RLIMIT_LOCKS (locks)", nullptr },
    { RLIMIT_MEMLOCK, "RLIMIT_MEMLOCK (locked memory)", nullptr },
    { RLIMIT_NOFILE, "RLIMIT_NOFILE (open files)", nullptr },
    { RLIMIT_NPROC, "RLIMIT_NPROC (processes)", nullptr },
    { RLIMIT_RSS, "RLIMIT_RSS (resident set)", nullptr },
    { RLIMIT_STACK, "RLIMIT_STACK (stack)", nullptr },
};

void printLimits()
{
    openSection("RLIMIT_INFO", kNarrowStart);
    for (const LimitRow& row : kLimits) {
        rlimit the_rlimit {};
        if (::getrlimit(row.resource, &the_rlimit) != 0) {
            const int err = errno;
            DPrintf("%s: Error(%d), %s\n", row.errorLabel ? row.errorLabel : row.label, err, std::strerror(err));
            continue;
        }
        // Signed so that RLIM_INFINITY reads -1 rather than a huge number.
        DPrintf("%s: the_rlimit.rlim_cur = %lld\n", row.label, static_cast<long long>(the_rlimit.rlim_cur));
        DPrintf("%s: the_rlimit.rlim_max = %lld\n", row.label, static_cast<long long>(the_rlimit.rlim_max));
    }
    closeSection("RLIMIT_INFO", kNarrowEnd);
}

void printSysInfo()
{
    openSection("SYSINFO_INFO", kNarrowStart);
    if (::sysinfo(&gSysInfo) != 0) {
        const int err = errno;
        DPrintf("sysinfo error: Error(%d), %s\n", err, std::strerror(err));
    }
    DPrintf("gSysInfo.uptime = %ld\n", gSysInfo.uptime);
    DPrintf("gSysInfo.loads[0] = %lu\n", gSysInfo.loads[0]);
    DPrintf("gSysInfo.loads[1] = %lu\n", gSysInfo.loads[1]);
    DPrintf("gSysInfo.loads[2] = %lu\n", gSysInfo.loads[2]);
    DPrintf("gSysInfo.totalram = %lu\n", gSysInfo.totalram);
    DPrintf("gSysInfo.freeram = %lu\n", gSysInfo.freeram);
    DPrintf("gSysInfo.sharedram = %lu\n", gSysInfo.sharedram);
    DPrintf("gSysInfo.bufferram = %lu\n", gSysInfo.bufferram);
    DPrintf("gSysInfo.totalswap = %lu\n", gSysInfo.totalswap);
    DPrintf("gSysInfo.freeswap = %lu\n", gSysInfo.freeswap);
    DPrintf("gSysInfo.procs = %d\n", gSysInfo.procs);
    DPrintf("gSysInfo.totalhigh = %lu\n", gSysInfo.totalhigh);
    DPrintf("gSysInfo.freehigh = %lu\n", gSysInfo.freehigh);
    DPrintf("gSysInfo.mem_unit = %u\n", gSysInfo.mem_unit);
    closeSection("SYSINFO_INFO", kNarrowEnd);
}

struct SizeRow {
    const char* label;
    std::size_t size;
};

#define KVX_SIZEOF(x)                                                                                                  \
    SizeRow                                                                                                            \
    {                                                                                                                  \
        "sizeof(" #x ")", sizeof(x)                                                                                    \
    }

const SizeRow kSizes[] = {
    KVX_SIZEOF(long),
    KVX_SIZEOF(long long),
    KVX_SIZEOF(unsigned long long),
    KVX_SIZEOF(short),
    KVX_SIZEOF(char),
    KVX_SIZEOF(int),
    KVX_SIZEOF(long int),
    KVX_SIZEOF(float),
    KVX_SIZEOF(double),
    KVX_SIZEOF(long double),
    { "sizeof(FILE *)", sizeof(FILE*) },
    KVX_SIZEOF(FILE),
    { "sizeof(void *)", sizeof(void*) },
    { "sizeof(unsigned char *)", sizeof(unsigned char*) },
    KVX_SIZEOF(TestModuleRecord),
    SizeRow { "sizeof(gTestModules)", sizeof(Run::modules) },
    KVX_SIZEOF(testconfig),
};

#undef KVX_SIZEOF

void printSizes()
{
    openSection("DATATYPESIZE_INFO", kNarrowStart);
    for (const SizeRow& row : kSizes)
        DPrintf("%s = %d\n", row.label, static_cast<int>(row.size));
    closeSection("DATATYPESIZE_INFO", kNarrowEnd);
}

} // namespace

void RunShellCommand(const char* cmd)
{
    // The child writes straight to the descriptor; our buffered text must be
    // out first, and nothing of ours may overtake its output afterwards.
    std::fflush(stdout);
    std::fflush(stderr);
    [[maybe_unused]] const int rc = std::system(cmd);
    std::fflush(stdout);
}

void PrintStartUpDebugInfo(const std::function<void(const char*)>& runCommand, const char* etcIssuePath)
{
    DPrintf("###################### START_UP_DEBUG_BEGINS ######################\n");
    DPrintf("%s", TranslateEtcIssue(etcIssuePath));

    printPackageSections(runCommand);
    printCommandSections(kDisplaySections, kWideStart, kWideEnd, runCommand);
    printCommandSections(kSystemSections, kNarrowStart, kNarrowEnd, runCommand);

    printLimits();
    printSysInfo();
    printSizes();

    DPrintf("###################### START_UP_DEBUG_FINISHES ######################\n");
}
