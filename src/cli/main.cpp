// kalvextest-cli: the burn-in tests without a display, for servers and
// fleets.
#include "CliOptions.h"
#include "HeadlessRun.h"

#include "BuildInfo.h"

#include <cstdio>

int main(int argc, char** argv)
{
    CliOptions opts;
    std::string error;
    if (!ParseCliOptions(argc, argv, opts, error)) {
        std::fprintf(stderr, "kalvextest-cli: %s\nTry 'kalvextest-cli --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (opts.help) {
        std::fputs(CliUsage().c_str(), stdout);
        return kExitPassed;
    }
    if (opts.version) {
        std::printf("kalvextest-cli %s %s (%s)\n", kProduct, kVersion, kBuildNumber);
        return kExitPassed;
    }
    return RunHeadless(opts);
}
