// The event log. Every test thread and the run control report events and
// errors through it.
#pragma once

#include <mutex>

class CLogger {
public:
    // `name` is unused; the log takes its settings from the configuration.
    explicit CLogger(const char* name);
    ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    // Decides the log and trace file names and opens them; with
    // `followConfig` false the program directory and default names replace
    // the configured ones. GUI thread.
    void CreateLogFile(bool followConfig);

private:
    std::mutex m_mutex;
};
