// One run without a display: start-up as the program does it, the run with
// its progress, the stop on time, cycles, error or signal, the reports and
// the exit status.
#pragma once

struct CliOptions;

// Runs what `opts` asks for and returns the process's exit status
// (ExitStatus). SIGINT and SIGTERM stop the run cleanly.
int RunHeadless(const CliOptions& opts);
