// The headless runner's command line, and how it changes the configuration
// for one run.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct _testconfig;

// The exit statuses, as --help and the manual list them.
enum ExitStatus : int {
    kExitPassed = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitNothingRan = 3,
    kExitInterrupted = 130,
};

// One word of --tests: an engine's command name and, after a colon, a unit
// (a number, or a network address).
struct TestChoice {
    std::string engine;
    std::string unit;
};

struct DutyChoice {
    std::string engine; // empty: every selected test
    int duty = 0;
};

struct CliOptions {
    std::string configFile; // -C
    std::string programDir; // --dir
    std::optional<std::vector<TestChoice>> tests;
    std::vector<DutyChoice> duties;
    std::optional<double> minutes;
    std::optional<long> cycles;
    bool stopOnError = false;
    std::string json, junit, prom, report, html;
    int progressIntervalSec = 10;
    std::optional<int> thermalLimit; // over the health settings file's
    bool noHealth = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Parses argv. On bad usage returns false with the reason in `error`.
bool ParseCliOptions(int argc, char** argv, CliOptions& opts, std::string& error);

// The --help text.
std::string CliUsage();

// Applies the run's choices to `cfg`: the tests (all others deselected),
// duty cycles, the stop rules. Returns false with the reason for a test or
// unit this program does not have.
bool ApplyCliOptions(const CliOptions& opts, _testconfig& cfg, std::string& error);

// Puts back into `cfg` every field ApplyCliOptions (or leaving out a test
// that cannot run) may change, as `loaded` has it.
void RestoreFileChoices(const _testconfig& loaded, _testconfig& cfg);
