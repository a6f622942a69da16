// The hardware health settings, kept apart from the configuration record
// (its layout is fixed) in a small key=value file beside it:
//
//   # KalvexTest hardware health settings
//   monitor=1
//   temperatures=1
//   ecc=1
//   kernel_log=1
//   thermal_limit=0
//
// Unknown keys and bad values are reported and the default kept; a save
// goes through a temporary file, so a crash never leaves half a file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kHealthSettingsFile = "health.conf";

struct HealthSettings {
    // Off in a run nobody configured (tests, benchmarks); the settings
    // file's defaults turn it on.
    bool monitor = false;
    bool temperatures = true;
    bool ecc = true;
    bool kernelLog = true;
    // Degrees Celsius; a reading above it stops the run. 0: no limit.
    int thermalLimit = 0;
    static constexpr int kMaxThermalLimit = 150;
    // How often the sensors and counters are read; the front end's refresh
    // interval.
    int intervalMs = 3000;
    // Where the sources are; tests point them at fixtures. (Temperatures
    // come from libsensors, which reads the real sysfs only.)
    std::string edacRoot = "/sys/devices/system/edac/mc";
    std::string kmsgPath = "/dev/kmsg";
};

// The settings a program starts with when it has no file: monitor on.
HealthSettings DefaultHealthSettings();

// Parses the file's text over `settings`; each bad line adds a problem
// ("line 3: thermal_limit: not a whole number from 0 to 150").
void ParseHealthSettings(std::string_view text, HealthSettings& settings, std::vector<std::string>& problems);
// The file's text for `settings`.
std::string HealthSettingsText(const HealthSettings& settings);

// Reads `path` over DefaultHealthSettings(); a missing file is no problem,
// an unreadable one is.
HealthSettings LoadHealthSettings(const std::string& path, std::vector<std::string>& problems);
// Writes `path` atomically. False with `error` ("path: strerror") on
// failure, the old file left as it was.
bool SaveHealthSettings(const std::string& path, const HealthSettings& settings, std::string& error);
