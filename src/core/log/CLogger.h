// The event log: every event and error becomes one time-stamped line, kept in
// a ring of the newest lines and, with logging on, written to the event log
// file (ASCII or HTML) and the activity trace. The report writers put the
// system information, result summary and serious error summary into the
// same files.
//
// Threadsafety: AddLine, GetLine, GetNumberLines, ClearLog and the summary
// writers may be called from any thread; they are serialised by one mutex.
// Nothing holding that mutex shows a box or saves the configuration: a
// thread that logs must never wait on the user or on the disk holding
// LastUsed.cfg. Those happen after the lock is released (the configuration
// saver) or in the caller of OpenLogFiles (the boxes). CreateLogFile runs
// in the GUI thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RunContext;

// The open event log and trace files (null when closed) and their paths.
extern FILE* g_fpLogFile;
extern FILE* g_fpActivityLog;
extern char gCurrentLogFile[400];
extern char gCurrentTraceFile[400];

// Names of the two log detail levels.
extern const char* const szLog_Detail_Level[2];

// Where the reports take the distribution text and the time from; tests
// point these at fixtures.
extern const char* gEtcIssuePath;
extern std::time_t (*gReportClock)();

// What opening the log files leaves to the caller: the boxes for files the
// log cannot work without (each a "Quit" box, in order) and whether the
// configuration changed and wants saving.
struct LogFileResult {
    struct Box {
        std::string caption;
        std::string text;
    };
    std::vector<Box> boxes;
    bool saveConfig = false;
};

class CLogger {
public:
    static constexpr int kMaxLines = 1001;
    static constexpr int kLineSize = 200;
    static constexpr int kNumTestNames = 18;
    // Names for the test index given to AddLine.
    static const char* const TestNames[kNumTestNames];

    // `name` is unused; the log takes its settings from the configuration.
    explicit CLogger(const char* name);
    // Closes the log files.
    ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    // Adds one event. `test` indexes TestNames, or is negative to use
    // `testName` (may be null); `errorCode` 0 is no error; `level` 0 summary,
    // 1 normal event, 3 and 4 activity trace details. Returns 0. Any thread.
    int AddLine(const char* text, int test, int errorCode, const char* testName, int level);

    // A held line: index 0 is the oldest, -1 the newest. Null when there is
    // no such line. `test` is set to 0 first in every case. The text stays
    // valid until the next GetLine. Any thread.
    const char* GetLine(int index, int* test, long* time);
    int GetNumberLines();
    // Lines that have entered the ring since the log was made. Unlike the
    // number held, it keeps growing once the ring is full, and ClearLog
    // leaves it alone. Any thread.
    std::uint64_t GetTotalLines();
    // Copies, oldest first, the held lines that entered the ring as line
    // `since` of that running total or later; `held` gets the number of
    // lines held. Returns the running total. All under one lock, so a reader
    // gets one consistent picture while threads add lines. Any thread.
    std::uint64_t CopyLinesSince(std::uint64_t since, std::vector<std::string>& lines, int* held);
    // Empties the ring. Any thread.
    void ClearLog();

    // Decides the log and trace file names and opens both files; with
    // `followConfig` false the program directory and default names replace
    // the configured ones. Shows no box and saves nothing. Any thread.
    LogFileResult OpenLogFiles(bool followConfig);
    // OpenLogFiles, then saves the configuration and shows the boxes it
    // asks for, with the log unlocked. GUI thread.
    void CreateLogFile(bool followConfig);
    // What saves the configuration when the log changed a field kept in it
    // (header written, line counts); called without the log's lock, from
    // the thread that logged. Default: LastUsed.cfg in the program directory.
    void SetConfigSaver(std::function<void()> saver);
    // The run whose records and health findings the reports show; null:
    // the process's records without a run's findings. Set before a run.
    void SetReportContext(const RunContext* ctx);
    // Flushes both open files.
    void flushtologfile();
    // The "DETAILED EVENT LOG" header (format 1 ASCII, 2 HTML, 4 trace);
    // with `open` false and HTML, the table's end. Returns 0 without a file.
    int WriteDetailedHeader(FILE* file, bool open, int format);

    // Report writers; each writes to `file` and does nothing without one.
    int WriteSystemInfoToFile(FILE* file);
    int WriteHTMLSystemInfoToFile(FILE* file);
    int saveasciiresultsummary(FILE* file, bool flag);
    int savehtmlresultsummary(FILE* file);
    void saveasciierrorsummary(FILE* file, bool script, bool separator, int failures);
    void savehtmlerrorsummary(FILE* file, bool script, int failures);
    // The summaries into the open log and trace files, with the line counts;
    // then saves the configuration (outside the lock).
    int saveresultsummary();
    void saveerrorsummary(bool script, bool separator, int failures);
    // Adds the finished run into the accumulated results (and saves them in
    // the accumulate mode). GUI thread, no test running.
    void SaveLogs();
    // The held event lines, oldest first.
    void WriteASCIILog(FILE* file);
    void WriteHTMLLog(FILE* file);

private:
    // Returns whether the configuration wants saving.
    bool writeLogLine(const std::string& line, int level);
    void saveConfig();
    int writeDetailedHeaderLocked(FILE* file, bool open, int format);
    int writeSystemInfoLocked(FILE* file);
    int writeHtmlSystemInfoLocked(FILE* file);
    void flushLocked();

    std::recursive_mutex m_mutex;
    std::unique_ptr<char[]> m_lines; // kMaxLines x kLineSize
    std::unique_ptr<int[]> m_lineTest;
    std::unique_ptr<std::int64_t[]> m_lineTime;
    int m_nextLine = 0;
    int m_firstLine = 0;
    int m_numLines = 0;
    std::uint64_t m_totalLines = 0;
    std::string m_lineCopy;
    // Set before threads log; called without m_mutex.
    std::function<void()> m_saveConfig;
    const RunContext* m_reportContext = nullptr;
};

// Severity words of the event log lines, by severity class.
const char* SeverityText(int severityClass);

// The operations text of the reports: whole below a million, else scaled
// to Million ... Quadrillion.
std::string ReportOperationsText(float value);

// One event line as a coloured row of the HTML log: green for
// INFORMATION, yellow for WARNING, red otherwise.
void WriteHtmlEventRow(FILE* file, const std::string& line);

// The head and foot of a stand-alone HTML result page, around the blocks.
void WriteHTMLPageHead(FILE* file);
void WriteHTMLPageFoot(FILE* file);

// Text safe to put between HTML tags.
std::string HtmlEscape(const std::string& text);
