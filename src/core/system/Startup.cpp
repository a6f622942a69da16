#include "Startup.h"

#include "AtomicField.h"
#include "BuildInfo.h"
#include "CLogger.h"
#include "ConfigFile.h"
#include "DebugTrace.h"
#include "ErrorClassification.h"
#include "MessageBox.h"
#include "ResultRecord.h"
#include "Results.h"
#include "SystemInfo.h"
#include "TestSlots.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

char dirname[300];
bool gFollowConfigLogPath = true;
bool autorun_flag = false;
CLogger* gLogger = nullptr;
struct sysinfo gSysInfo;
int gUpdateWindowInterval = 3000;

namespace {

// The base of per-user configuration: $XDG_CONFIG_HOME, else ~/.config.
std::string userConfigHome()
{
    // Relative values are to be ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* pw = ::getpwuid(::geteuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    return home && home[0] == '/' ? std::string(home) + "/.config" : std::string();
}

} // namespace

std::string DataDirectoryFor(const std::string& programDir)
{
    // Files are created and replaced as the effective user, so judge as that user.
    struct stat st { };
    if (::stat(programDir.c_str(), &st) != 0 || (st.st_mode & S_ISVTX) == 0 || st.st_uid == ::geteuid()
        || ::faccessat(AT_FDCWD, programDir.c_str(), W_OK, AT_EACCESS) != 0)
        return programDir;
    const std::string base = userConfigHome();
    if (base.empty())
        return programDir;
    // A failure shows as the permission box for this directory.
    const std::string dir = base + "/kalvextest";
    ::mkdir(base.c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

bool CheckPathLengths(const std::string& programDir, const std::string& debugPath)
{
    if (programDir.size() > kMaxDirLen) {
        ShowQuitBox("Path too long",
            Format("The program directory\n*%s*\nis longer than %zu characters.\nPlease install %s in a "
                   "directory with a shorter path.",
                programDir.c_str(), kMaxDirLen, kProduct));
        return false;
    }
    if (debugPath.size() > kMaxDebugPathLen) {
        ShowQuitBox("Path too long",
            Format("The debug file path\n*%s*\nis longer than %zu characters.\nPlease "
                   "choose a shorter debug file name.",
                debugPath.c_str(), kMaxDebugPathLen));
        return false;
    }
    return true;
}

void CheckStartupPermissions(const std::string& programDir, const std::string& debugPath)
{
    if (::access(debugPath.c_str(), F_OK) == 0) {
        if (::access(debugPath.c_str(), W_OK) != 0)
            ShowQuitBox("Permission Error",
                Format("No permission writing to *%s*\n", debugPath.c_str())
                    + Format("Please check that you have access to *%s*", debugPath.c_str()));
    } else if (::access(programDir.c_str(), W_OK) != 0) {
        ShowQuitBox("Permission Error",
            Format("No permission creating file in *%s*\n", programDir.c_str())
                + Format("Please check that you have write access to *%s*", programDir.c_str()));
    }
}

void OpenDebugFile(const std::string& debugPath)
{
    g_fh_debug = std::fopen(debugPath.c_str(), "at");
    if (g_fh_debug)
        std::setvbuf(g_fh_debug, nullptr, _IONBF, 0);
}

Redirection RedirectStandardStreams(const StartupOptions& opts, const std::string& debugPath)
{
    Redirection r;
    if (!opts.redirect || opts.redirectMode == 0)
        return r;
    if (opts.redirectMode != 2) {
        r.stdoutRedirect = std::freopen(debugPath.c_str(), "a", stdout);
        if (r.stdoutRedirect)
            std::setvbuf(r.stdoutRedirect, nullptr, _IONBF, 0);
    }
    if (opts.redirectMode != 1) {
        r.stderrRedirect = std::freopen(debugPath.c_str(), "a", stderr);
        if (r.stderrRedirect)
            std::setvbuf(r.stderrRedirect, nullptr, _IONBF, 0);
    }
    return r;
}

void CloseRedirection(Redirection& r)
{
    if (r.stdoutRedirect)
        std::fclose(r.stdoutRedirect);
    if (r.stderrRedirect)
        std::fclose(r.stderrRedirect);
    r = {};
}

void TraceNonOptionsAndVersion(const StartupOptions& opts)
{
    if (!opts.nonOptions.empty()) {
        VDPrintf("non-option ARGV-elements: ");
        for (const auto& word : opts.nonOptions)
            VDPrintf("%s ", word.c_str());
        std::putchar('\n');
    }
    DPrintf("%s", VersionLine().c_str());
}

void KalvexTest_CleanUp()
{
    recordClear(testconfig);
    recordClear(resultfile);
    Clear_Results_Buffer();
    Clear_Error_Summary();
}

int InitEnv_Main(bool autorun, const char* configName, bool followConfigLogPath, const std::string& programDir,
    const std::string& dataDir)
{
    autorun_flag = autorun;

    std::snprintf(dirname, sizeof dirname, "%s", dataDir.empty() ? programDir.c_str() : dataDir.c_str());
    DPrintf("%s, %s[%d]: dirname = *%s*\n", KVX_WHERE, dirname);
    // Where this user's files start from when they are not in dirname yet.
    const char* shared = programDir == dirname ? "" : programDir.c_str();
    if (shared[0])
        DPrintf("%s, %s[%d]: shared program directory = *%s*\n", KVX_WHERE, shared);

    InitialiseErrorClassifications(programDir.c_str());

    delete gLogger;
    gLogger = new CLogger("dummyStr");

    KalvexTest_CleanUp();

    if (configName && configName[0]) {
        std::strncpy(configfilename, configName, sizeof configfilename - 1);
        configfilename[sizeof configfilename - 1] = '\0';
    }
    LoadStartupConfig(dirname, shared);

    const bool ownMachineId = ::access((std::string(dirname) + "/machineid.dat").c_str(), F_OK) == 0;
    load_machineid(ownMachineId || !shared[0] ? dirname : shared);

    LoadAccumulatedResults(dirname);

    std::memset(&resultfile.cpu_info, 0, sizeof resultfile.cpu_info);
    BuildCPUInfoStruct(&resultfile.cpu_info);
    FillOsText(resultfile.os_text, sizeof resultfile.os_text);
    BuildVideoInfoStruct(&resultfile.video_info);
    if (sysinfo(&gSysInfo) != 0)
        std::memset(&gSysInfo, 0, sizeof gSysInfo);

    gLogger->CreateLogFile(followConfigLogPath);

    ClearCurrentResults();

    std::memset(gFileSystemStructPtr, 0, sizeof gFileSystemStructPtr);
    gNumMntPoints = BuildFileSystemStruct(gFileSystemStructPtr);
    std::memset(gMultimediaStructPtr, 0, sizeof gMultimediaStructPtr);
    gNumMMDevices = BuildMultimediaStruct(gMultimediaStructPtr);

    return 0;
}

void ExitEnv_Main()
{
    delete gLogger;
    gLogger = nullptr;
}
