#include "CliReports.h"

#include "CliOptions.h"

#include "CLogger.h"
#include "RunContext.h"

#include <cstdio>
#include <functional>

bool WriteRunReports(const RunContext& ctx, const CliOptions& opts, const RunOutcome& outcome)
{
    const MachineReports reports(ctx, outcome);
    const std::pair<const std::string*, std::function<void(FILE*)>> files[] = {
        { &opts.json, [&](FILE* f) { reports.writeJson(f); } },
        { &opts.junit, [&](FILE* f) { reports.writeJUnit(f); } },
        { &opts.prom, [&](FILE* f) { reports.writePrometheus(f); } },
        { &opts.report, [&](FILE* f) { WriteTestLogReport(*ctx.log, f, false); } },
        { &opts.html, [&](FILE* f) { WriteTestLogReport(*ctx.log, f, true); } },
    };
    bool ok = true;
    for (const auto& [path, write] : files) {
        if (path->empty())
            continue;
        std::string error;
        if (!WriteReportFile(*path, write, error)) {
            std::fprintf(stderr, "kalvextest-cli: report not written: %s\n", error.c_str());
            ok = false;
        }
    }
    return ok;
}
