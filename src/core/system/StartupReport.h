// The start-up report written into the debug trace: the distribution, the
// installed libraries, the X and shell environment, the resource limits and
// the sizes of the basic types and records.
#pragma once

#include <functional>

// Runs a shell command whose output lands in standard output (the debug file
// once redirected), flushing around it so the report stays in order.
// GUI thread, during start-up.
void RunShellCommand(const char* cmd);

// Writes the whole report with DPrintf, running each probe command through
// runCommand. Updates gSysInfo. GUI thread, during start-up.
void PrintStartUpDebugInfo(
    const std::function<void(const char*)>& runCommand = RunShellCommand, const char* etcIssuePath = "/etc/issue");
