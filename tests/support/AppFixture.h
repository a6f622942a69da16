// Starting the real main window in a test, in a private program directory.
#pragma once

#include "ConfigFile.h"
#include "DebugTrace.h"
#include "HealthSettings.h"
#include "KVXMainApp.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

// Builds the main window as the program does; -s keeps the test runner's own
// output out of the debug file. The health monitor stays off unless the
// test wrote its own settings file.
inline std::unique_ptr<KVXMainApp> StartApp(const TempDir& dir)
{
    static char name[] = "kalvextest", quiet[] = "-s";
    static char* argv[] = { name, quiet, nullptr };
    std::strcpy(configfilename, "LastUsed.cfg");
    if (!FileExists(dir.file(kHealthSettingsFile)))
        WriteFile(dir.file(kHealthSettingsFile), "monitor=0\n");
    return std::make_unique<KVXMainApp>(2, argv, QString::fromStdString(dir.path()));
}

inline void CloseDebugFile()
{
    if (g_fh_debug) {
        std::fclose(g_fh_debug);
        g_fh_debug = nullptr;
    }
}

// The main window started in a private program directory, message boxes
// recorded; a run still going is stopped at the end.
class AppTest : public ::testing::Test {
protected:
    // Starts from a valid LastUsed.cfg made by `edit` from the defaults.
    template <class Edit> void start(Edit edit)
    {
        _testconfig cfg = ValidConfig();
        edit(cfg);
        WriteFile(dir.file("LastUsed.cfg"), ConfigBytes(cfg));
        app = StartApp(dir);
    }
    void TearDown() override
    {
        if (app && app->runActive())
            app->stopTest(false);
        app.reset();
        CloseDebugFile();
    }

    TempDir dir;
    RecordingSink sink;
    std::unique_ptr<KVXMainApp> app;
};
