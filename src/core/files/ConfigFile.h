// Configuration files: the configuration record written byte for byte.
#pragma once

#include "ConfigRecord.h"

#include <string>

// Name of the configuration in use (shown by the main window) and the name
// every automatic save goes to.
extern char configfilename[100];
extern const char defaultconfigfile[13];

// Saves `cfg` as dir/name. The file is replaced atomically, so a failed save
// leaves the previous file as it was. Returns 0 or the errno (after a box).
// Saves are serialised; any thread.
int ConfigFileSave(const char* name, const char* dir, const _testconfig* cfg);

// Loads dir/name (name alone when dir is empty) into `cfg`. Returns 0, -1
// for a missing file (silently) or a file that is no configuration, or the
// errno. `cfg` changes only on success. Any failure but a missing file shows
// the "Error reading" box.
int ConfigFileLoad(const char* name, const char* dir, _testconfig* cfg);

// Saves the active configuration to "LastUsed.cfg" in `dir`.
int SaveLastUsedConfig(const char* dir);

// The save command's naming rule: the directory of `path` and its base name
// up to the first '.', followed by ".cfg" ("my.settings.cfg" -> "my.cfg").
struct ConfigSaveTarget {
    std::string directory;
    std::string name;
};
ConfigSaveTarget ConfigSaveTargetFor(const std::string& path);

// Start-up: loads `configfilename` into testconfig: a name with a '/' is a
// path as given, a plain name lies in `dir` or, while `dir` has no such file,
// in `sharedDir` (when given; a "LastUsed.cfg" taken from there is copied to
// `dir`). When a file named on the command line fails, "LastUsed.cfg" is
// used instead; when that fails too (or was the file), tells the user,
// applies the defaults and saves them as "LastUsed.cfg". GUI thread.
void LoadStartupConfig(const char* dir, const char* sharedDir = "");
