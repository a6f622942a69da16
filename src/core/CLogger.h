// The event log: every event and error becomes one time-stamped line, kept in
// a ring of the newest lines and written to the log files.
//
// Threadsafety: AddLine, GetLine, GetNumberLines and ClearLog may be called
// from any thread; they are serialised by one mutex. AddLine never calls
// anything that logs, so it cannot deadlock on itself.
#pragma once

#include <ctime>
#include <memory>
#include <mutex>
#include <string>

class CLogger {
public:
    static constexpr int kMaxLines = 1001;
    static constexpr int kLineSize = 200;
    static constexpr int kNumTestNames = 18;
    // Names for the test index given to AddLine.
    static const char* const TestNames[kNumTestNames];

    // `name` is unused; the log takes its settings from the configuration.
    explicit CLogger(const char* name);
    ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    // Adds one event. `test` indexes TestNames, or is negative to use
    // `testName` (may be null); `errorCode` 0 is no error; `level` 0 summary,
    // 1 normal event, 3 and 4 activity trace details. Returns 0. Any thread.
    int AddLine(const char* text, int test, int errorCode, const char* testName, int level);

    // A held line: index 0 is the oldest, -1 the newest. Null when there is
    // no such line. `test` is set to 0 first in every case. Any thread.
    const char* GetLine(int index, int* test, long* time);
    int GetNumberLines();
    // Empties the ring. Any thread.
    void ClearLog();

    // Decides the log and trace file names and opens them; with
    // `followConfig` false the program directory and default names replace
    // the configured ones. GUI thread.
    void CreateLogFile(bool followConfig);

private:
    std::mutex m_mutex;
    std::unique_ptr<char[]> m_lines; // kMaxLines x kLineSize
    std::unique_ptr<int[]> m_lineTest;
    std::unique_ptr<std::int64_t[]> m_lineTime;
    int m_nextLine = 0;
    int m_firstLine = 0;
    int m_numLines = 0;
    // GetLine hands out a copy so a concurrent AddLine cannot change it.
    std::string m_lineCopy;
};

// Severity words of the event log lines, by severity class.
const char* SeverityText(int severityClass);
