// The one run of a benchmark process; its threads may outlive main's scopes.
#pragma once

#include "ProcessRun.h"

inline ProcessRun& benchProcess()
{
    static ProcessRun* const process = new ProcessRun;
    return *process;
}
