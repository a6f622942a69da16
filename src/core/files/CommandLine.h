// The command line: GNU long options, optional arguments taken from the next
// word (which is not consumed and so is also listed as a non-option word).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct StartupOptions {
    bool redirect = true;
    int redirectMode = 3; // 0 none, 1 stdout, 2 stderr, other both
    bool autorun = false;
    int autostartMs = 0;
    std::string debugFileName = "debug.log";
    bool followConfigLogPath = true;
    char configName[100] = {};
    std::vector<std::string> nonOptions;
    bool versionRequested = false; // parsing stopped at -v
    bool helpRequested = false; // parsing stopped at --help
};

constexpr int kMinAutostartMs = 3000;

// Parses argv as the options table says, printing each option's line to
// `out`. Stops at -v after printing the version line (versionRequested set)
// and at --help after printing the usage (helpRequested set); the caller
// then exits with status 0. Boxes for a missing -C name go through
// the message sink. GUI thread, before anything else runs.
void ParseCommandLine(int argc, char** argv, StartupOptions& opts, FILE* out);

// True when the command line asks for the version or the help text, judged
// as the parser would; lets main() answer before connecting to a display.
bool CommandLineRequestsInfo(int argc, char** argv);
