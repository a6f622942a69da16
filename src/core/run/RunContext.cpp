#include "RunContext.h"

#include "CdDrive.h"
#include "ParallelPort.h"
#include "SerialLine.h"

RunContext::RunContext(_testconfig& config, _resultfile& results, CLogger*& log, Run& run, std::string programDir)
    : config(config)
    , results(results)
    , log(log)
    , run(run)
    , programDir(std::move(programDir))
    , platform { [] { return MakeLinuxCdDrive(); }, [] { return MakeSerialLine(); },
        [](int port) { return SerialDevicePath(port); }, [] { return MakeParallelPortIO(); } }
{
}

ThreadEntry RunContext::entryFor(const EngineInfo& engine) const
{
    auto it = m_entries.find(&engine);
    return it != m_entries.end() ? it->second : engine.entry;
}

void RunContext::setEntry(const EngineInfo& engine, ThreadEntry entry)
{
    m_entries[&engine] = entry;
}
