// A run over this process's records, the event log and the program
// directory, as a front end, a benchmark or a test builds one.
#pragma once

#include "ConfigRecord.h"
#include "ResultRecord.h"
#include "Run.h"
#include "RunContext.h"
#include "Startup.h"

struct ProcessRun {
    Run run;
    RunContext ctx { testconfig, resultfile, gLogger, run, dirname };
};
