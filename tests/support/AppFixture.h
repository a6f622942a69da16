// Starting the real main window in a test, in a private program directory.
#pragma once

#include "ConfigFile.h"
#include "DebugTrace.h"
#include "KVXMainApp.h"
#include "TempDir.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

// Builds the main window as the program does, with `args` after the program
// name; -s keeps the test runner's own output out of the debug file.
inline std::unique_ptr<KVXMainApp> StartApp(const TempDir& dir, std::vector<std::string> args)
{
    args.insert(args.begin(), { "kalvextest", "-s" });
    static std::vector<std::string> keep;
    keep = args;
    static std::vector<char*> argv;
    argv.clear();
    for (auto& a : keep)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::strcpy(configfilename, "LastUsed.cfg");
    return std::make_unique<KVXMainApp>(static_cast<int>(keep.size()), argv.data(), QString::fromStdString(dir.path()));
}

// Writes a valid LastUsed.cfg made by `edit` from the defaults.
template <class Edit> void WriteStartConfig(const TempDir& dir, Edit edit)
{
    _testconfig cfg = ValidConfig();
    edit(cfg);
    WriteFile(dir.file("LastUsed.cfg"), ConfigBytes(cfg));
}

inline void CloseDebugFile()
{
    if (g_fh_debug) {
        std::fclose(g_fh_debug);
        g_fh_debug = nullptr;
    }
}
