// The run context engine tests hand the engines they make themselves.
#pragma once

#include "ProcessRun.h"

// One per test binary; a test needing its own builds a ProcessRun.
inline RunContext& TestContext()
{
    static ProcessRun* const r = new ProcessRun;
    return r->ctx;
}

// The run of TestContext(): its slot flags, thread records and counts.
inline Run& TestRun()
{
    return TestContext().run;
}
