// The reports a headless run writes: the machine-readable ones and the
// program's ASCII and HTML test logs, each file written whole or not at all.
#pragma once

#include "MachineReports.h"

struct CliOptions;
class RunContext;

// Writes every report `opts` asks for. Says on standard error what could
// not be written and returns false then.
bool WriteRunReports(const RunContext& ctx, const CliOptions& opts, const RunOutcome& outcome);
