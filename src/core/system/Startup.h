// Process start-up and exit: the program directory, the debug trace file,
// the redirection of the standard streams, and the process-wide environment.
#pragma once

#include "CommandLine.h"

#include <cstdio>
#include <string>
#include <sys/sysinfo.h>

class CLogger;

// The directory of the files the program writes (settings, accumulated
// results, machine identity, debug trace), no trailing slash: the program
// directory, or this user's own directory when that one is shared.
extern char dirname[300];
extern bool gFollowConfigLogPath;
extern bool autorun_flag;
extern CLogger* gLogger;
extern struct sysinfo gSysInfo;
extern int gUpdateWindowInterval;

// Longest program directory and debug path the fixed buffers hold.
constexpr std::size_t kMaxDirLen = 299;
constexpr std::size_t kMaxDebugPathLen = 399;

// Refuses (box with "Quit") a program directory or debug path too long for
// the fixed buffers. Returns false when start-up cannot go on.
bool CheckPathLengths(const std::string& programDir, const std::string& debugPath);

// The write permission check of the debug file and the program directory,
// with its "Permission Error" boxes. GUI thread, before anything is written.
void CheckStartupPermissions(const std::string& programDir, const std::string& debugPath);

// Opens the debug trace for appending, unbuffered, into g_fh_debug; failure
// is silent and leaves it null.
void OpenDebugFile(const std::string& debugPath);

// Reopens standard output and/or standard error on the debug path as the
// options say. The reopened streams are returned for closing at exit.
struct Redirection {
    FILE* stdoutRedirect = nullptr;
    FILE* stderrRedirect = nullptr;
};
Redirection RedirectStandardStreams(const StartupOptions& opts, const std::string& debugPath);
void CloseRedirection(Redirection& r);

// Lists the words left after the options and prints the version line.
void TraceNonOptionsAndVersion(const StartupOptions& opts);

// Where the user running the program keeps the files it writes. The program
// directory itself, unless it is shared: sticky, writable by this user and
// owned by another (an installed copy used by a group of technicians), where
// nobody may replace another's files. Then $XDG_CONFIG_HOME/kalvextest
// (~/.config/kalvextest), created 0700. GUI thread, at start-up.
std::string DataDirectoryFor(const std::string& programDir);

// Prepares the process-wide environment in its fixed order. Shipped files
// are read from `programDir`; the user's files live in `dataDir` (empty: the
// program directory). When that is another directory and holds no settings
// or machine identity yet, those start from the program directory's copies.
// GUI thread.
int InitEnv_Main(bool autorun, const char* configName, bool followConfigLogPath, const std::string& programDir,
    const std::string& dataDir = {});

// Zeroes the configuration, results and thread records and clears results.
void KalvexTest_CleanUp();

// Deletes the event log (closing its files).
void ExitEnv_Main();
