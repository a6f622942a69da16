#include "CLogger.h"

#include "AtomicField.h"
#include "ConfigRecord.h"

CLogger::CLogger(const char* /*name*/) {}

CLogger::~CLogger() = default;

void CLogger::CreateLogFile(bool /*followConfig*/)
{
    std::lock_guard lock(m_mutex);
    if (relaxedLoad(testconfig.logging_enabled) == 0)
        return;
    // Values out of range in a loaded file fall back to usable ones.
    if (relaxedLoad(testconfig.log_detail_level) > 1)
        relaxedStore(testconfig.log_detail_level, 1);
    if (relaxedLoad(testconfig.trace_level) > 4)
        relaxedStore(testconfig.trace_level, 2);
}
