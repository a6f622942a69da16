// Everything an engine is given for a run: the configuration and results
// records, the event log, the run's slot states, the platform, its own
// settings and the program directory. The program builds one at start-up;
// a test builds its own, so no process-wide setter exists for tests.
//
// Threadsafety: filled before the run starts, then only read.
#pragma once

#include "EngineInfo.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <typeindex>

struct _testconfig;
struct _resultfile;
class CLogger;
class Run;
class CdDrive;
class SerialLine;
class ParallelPortIO;

// The hardware an engine reaches. Each member defaults to the real thing.
struct PlatformAccess {
    // A CD/DVD drive, not yet open.
    std::function<std::unique_ptr<CdDrive>()> cdDrive;
    // A line, not yet open, and the device path of serial port `port`.
    std::function<std::unique_ptr<SerialLine>()> serialLine;
    std::function<std::string(int port)> serialDevice;
    // The parallel port's registers.
    std::function<std::unique_ptr<ParallelPortIO>()> parallelPort;
};

class RunContext {
public:
    RunContext(_testconfig& config, _resultfile& results, CLogger*& log, Run& run, std::string programDir);

    _testconfig& config;
    _resultfile& results;
    // The event log; a reference to the pointer because the program makes
    // its log after the context.
    CLogger*& log;
    Run& run;
    std::string programDir;
    PlatformAccess platform;

    // An engine's own settings (timings, limits, fault hooks for tests),
    // by type: what was set, or T's defaults. Any thread, during a run.
    template <class T> const T& settings() const
    {
        auto it = m_settings.find(std::type_index(typeid(T)));
        if (it == m_settings.end()) {
            static const T defaults {};
            return defaults;
        }
        return *static_cast<const T*>(it->second.get());
    }
    template <class T> void setSettings(T value)
    {
        m_settings[std::type_index(typeid(T))] = std::make_shared<const T>(std::move(value));
    }

    // The thread entry the run starts for the engine's units: the one set
    // here (the program's graphics tests, a test's null engine) or the
    // descriptor's own.
    ThreadEntry entryFor(const EngineInfo& engine) const;
    void setEntry(const EngineInfo& engine, ThreadEntry entry);

private:
    std::map<std::type_index, std::shared_ptr<const void>> m_settings;
    std::map<const EngineInfo*, ThreadEntry> m_entries;
};
