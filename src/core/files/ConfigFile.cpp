#include "ConfigFile.h"

#include "AtomicField.h"
#include "DebugTrace.h"
#include "FileOps.h"
#include "MessageBox.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unistd.h>

char configfilename[100] = "LastUsed.cfg";
const char defaultconfigfile[13] = "LastUsed.cfg";

namespace {

std::mutex g_saveMutex;

std::string joinPath(const char* dir, const char* name)
{
    return std::string(dir) + "/" + name;
}

int saveFailed(const char* step, const std::string& path, const char* name, int err)
{
    std::fprintf(stderr, "ConfigFileSave: %s: %s\n", step, std::strerror(err));
    ShowQuitBox(Format("Error saving/creating *%s*", path.c_str()),
        Format("File *%s* failed %s() with error message \"%s\"\n", path.c_str(), step, std::strerror(err))
            + Format("*%s* stores the preferences for %s.\nWithout this file, %s cannot proceed.", name, "KalvexTest",
                "KalvexTest"));
    return err;
}

} // namespace

int ConfigFileSave(const char* name, const char* dir, const _testconfig* cfg)
{
    std::lock_guard lock(g_saveMutex);
    const std::string path = joinPath(dir, name);

    bool forbidden = false;
    if (::access(path.c_str(), F_OK) == 0) {
        if (::access(path.c_str(), W_OK) != 0) {
            ShowQuitBox(Format("Error saving *%s*", name),
                Format("Error saving *%s* because we don't have write permission\nfor this file.  *%s* "
                       "stores the preferences for %s.\nWithout modifying this file, %s cannot proceed.",
                    path.c_str(), name, "KalvexTest", "KalvexTest"));
            // Replacing by rename would get round the file's own protection.
            forbidden = true;
        }
    } else {
        const char* checkDir = dir[0] ? dir : "/";
        if (::access(checkDir, W_OK) != 0) {
            ShowQuitBox(Format("Error creating *%s*", name),
                Format("Error creating *%s* because we do not have write permission\nto the directory "
                       "*%s*.\n*%s* stores the preferences for %s.\nWithout this file, %s cannot proceed.",
                    name, dir, name, "KalvexTest", "KalvexTest"));
        }
    }
    if (forbidden)
        return saveFailed("fopen", path, name, EACCES);

    // Snapshot first: test threads may update the logging fields meanwhile.
    auto snapshot = std::make_unique<_testconfig>();
    recordCopy(*snapshot, *cfg);

    WriteStage stage = WriteStage::None;
    int err = AtomicWriteFile(path, snapshot.get(), sizeof(_testconfig), &stage);
    if (err != 0)
        return saveFailed(stage == WriteStage::Open ? "fopen" : "fwrite", path, name, err);
    return 0;
}

int ConfigFileLoad(const char* name, const char* dir, _testconfig* cfg)
{
    const std::string path = dir[0] ? joinPath(dir, name) : std::string(name);
    if (::access(path.c_str(), F_OK) != 0)
        return -1;

    std::string error;
    int result = 0;
    auto readFailed = [&](FILE* f) {
        // A short file is no system error; say so instead of "Success".
        int err = std::ferror(f) ? errno : 0;
        const char* why = err ? std::strerror(err) : "Unexpected end of file";
        std::fprintf(stderr, "ConfigFileLoad: fread: %s\n", why);
        error = Format("File *%s* failed fread() with error message \"%s\"\n", path.c_str(), why);
        result = err ? err : -1;
    };

    if (::access(path.c_str(), R_OK) != 0) {
        result = errno;
        error = Format("File *%s* failed access() with error message \"%s\"\n", path.c_str(), std::strerror(errno));
    } else if (FILE* f = std::fopen(path.c_str(), "rb"); !f) {
        result = errno;
        std::fprintf(stderr, "ConfigFileLoad: fopen: %s\n", std::strerror(result));
        error = Format("File *%s* failed fopen() with error message \"%s\"\n", path.c_str(), std::strerror(result));
    } else {
        auto buffer = std::make_unique<_testconfig>();
        unsigned char head[12];
        errno = 0;
        if (std::fread(head, 1, sizeof head, f) != sizeof head) {
            readFailed(f);
        } else if (std::memcmp(head, kConfigMagic, sizeof kConfigMagic) != 0) {
            error = Format("This file does not appear to be a KVX configuration file\nCheck the file name is "
                           "correct\n%s\n",
                path.c_str());
            result = -1;
        } else if (std::int32_t version; std::memcpy(&version, head + 8, 4), version != kConfigVersion) {
            error = Format("File *%s* (version %d) is an incompatible config file\n", path.c_str(), version);
            result = -1;
        } else {
            std::rewind(f);
            errno = 0;
            if (std::fread(buffer.get(), 1, sizeof(_testconfig), f) != sizeof(_testconfig))
                readFailed(f);
            else
                recordCopy(*cfg, *buffer);
        }
        std::fclose(f);
    }

    if (result != 0) {
        ShowBox(BoxIcon::Critical, Format("Error reading *%s*", path.c_str()),
            error
                + Format("*%s* stores the preferences for %s.\nWithout reading this file, %s cannot proceed.",
                    path.c_str(), "KalvexTest", "KalvexTest"),
            { "OK" }, 0, 0);
    }
    return result;
}

int SaveLastUsedConfig(const char* dir)
{
    return ConfigFileSave(defaultconfigfile, dir, &testconfig);
}

ConfigSaveTarget ConfigSaveTargetFor(const std::string& path)
{
    ConfigSaveTarget t;
    std::string base = path;
    if (auto slash = path.rfind('/'); slash != std::string::npos) {
        t.directory = slash == 0 ? "/" : path.substr(0, slash);
        base = path.substr(slash + 1);
    } else {
        t.directory = ".";
    }
    t.name = base.substr(0, base.find('.')) + ".cfg";
    return t;
}

namespace {

// One start-up candidate into testconfig; ConfigFileLoad's result.
int loadStartupFile(const char* name, const char* dir, const char* sharedDir)
{
    if (std::strchr(name, '/'))
        return ConfigFileLoad(name, "", &testconfig);
    if (!sharedDir[0] || ::access(joinPath(dir, name).c_str(), F_OK) == 0)
        return ConfigFileLoad(name, dir, &testconfig);
    // Another user's file this user may not read is none of this user's business.
    if (::access(joinPath(sharedDir, name).c_str(), R_OK) != 0)
        return -1;
    const int rc = ConfigFileLoad(name, sharedDir, &testconfig);
    if (rc != 0)
        return rc;
    // Logs left in the shared directory by default belong to whoever made
    // them; this user's go beside this user's settings.
    if (std::strcmp(testconfig.log_directory, sharedDir) == 0)
        std::snprintf(testconfig.log_directory, sizeof testconfig.log_directory, "%s", dir);
    if (std::strcmp(name, defaultconfigfile) == 0)
        ConfigFileSave(defaultconfigfile, dir, &testconfig);
    return 0;
}

} // namespace

void LoadStartupConfig(const char* dir, const char* sharedDir)
{
    if (loadStartupFile(configfilename, dir, sharedDir) == 0)
        return;

    DPrintf("%s, %s[%d]: Config does not exist...\n", KVX_WHERE);
    // A file named on the command line that cannot be used must not cost
    // the user the settings kept in LastUsed.cfg.
    if (std::strcmp(configfilename, defaultconfigfile) != 0
        && loadStartupFile(defaultconfigfile, dir, sharedDir) == 0) {
        std::string text = Format("Due to problems with the configuration file\n%s\nThe settings in %s will be "
                                  "used instead",
            configfilename, defaultconfigfile);
        DPrintf("%s\n", text.c_str());
        ShowBox(BoxIcon::Critical, Format("Error loading *%s*", configfilename), text, { "OK" }, 0, 0);
        std::strcpy(configfilename, defaultconfigfile);
        return;
    }

    std::string text = Format("Due to problems with the configuration file\n%s\nDefault config values will be used "
                              "instead",
        configfilename);
    DPrintf("%s\n", text.c_str());
    ShowBox(BoxIcon::Critical, Format("Error loading *%s*", configfilename), text, { "OK" }, 0, 0);

    auto defaults = std::make_unique<_testconfig>();
    recordCopy(*defaults, testconfig);
    KalvexTest_SetUpDefault(defaults.get());
    std::memcpy(defaults->magic, kConfigMagic, sizeof kConfigMagic);
    defaults->version = kConfigVersion;
    recordCopy(testconfig, *defaults);
    ConfigFileSave(defaultconfigfile, dir, &testconfig);
    std::strcpy(configfilename, defaultconfigfile);
}
