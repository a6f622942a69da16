#include "CLogger.h"

#include "AtomicField.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "ErrorClassification.h"
#include "MessageBox.h"
#include "ResultRecord.h"
#include "ConfigFile.h"
#include "Startup.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

FILE* g_fpLogFile = nullptr;
FILE* g_fpActivityLog = nullptr;
char gCurrentLogFile[400];
char gCurrentTraceFile[400];
const char* const szLog_Detail_Level[2] = { "Result summary", "Normal" };
const char* gEtcIssuePath = "/etc/issue";
std::time_t (*gReportClock)() = [] { return std::time(nullptr); };

namespace {

void closeFile(FILE*& f)
{
    if (f)
        std::fclose(f);
    f = nullptr;
}

} // namespace

void WriteHtmlEventRow(FILE* f, const std::string& line)
{
    const char* colour = line.rfind("INFO", 0) == 0 ? "#00FF00" : line.rfind("WARN", 0) == 0 ? "#FFFF00" : "#FF0000";
    std::fprintf(f, "<tr>\n<td bgcolor=\"%s\"><strong><small>", colour);
    std::fputs(HtmlEscape(line).c_str(), f);
    std::fputs("</small></strong></td>\n<tr>\n", f);
}

const char* const CLogger::TestNames[kNumTestNames] = {
    "Status",
    "Floppy Disk",
    "Tape drive",
    "CD/DVD",
    "RAM",
    "Serial",
    "Parallel",
    "Printer",
    "Maths",
    "Disk",
    "2D Graphics",
    "MMX",
    "Network",
    "3D Graphics",
    "Sound",
    "USB",
    "Video",
    "Plug-in",
};

const char* SeverityText(int severityClass)
{
    switch (severityClass) {
    case 2:
        return "WARNING    ";
    case 3:
        return "SERIOUS    ";
    case 4:
        return "CRITICAL   ";
    default:
        return "INFORMATION";
    }
}

CLogger::CLogger(const char* /*name*/)
    : m_lines(new char[kMaxLines * kLineSize]())
    , m_lineTest(new int[kMaxLines]())
    , m_lineTime(new std::int64_t[kMaxLines]())
    , m_saveConfig([] { SaveLastUsedConfig(dirname); })
{
    DPrintf("CLogger constructor...\n");
}

CLogger::~CLogger()
{
    std::lock_guard lock(m_mutex);
    closeFile(g_fpLogFile);
    closeFile(g_fpActivityLog);
}

void CLogger::SetConfigSaver(std::function<void()> saver)
{
    m_saveConfig = std::move(saver);
}

void CLogger::saveConfig()
{
    if (m_saveConfig)
        m_saveConfig();
}

int CLogger::AddLine(const char* text, int test, int errorCode, const char* testName, int level)
{
    if (!text || !text[0])
        return 0;
    std::unique_lock lock(m_mutex);

    const int severity = (errorCode >= 0 && errorCode < kMaxErrorCodes) ? e_classification[errorCode] : 0;
    const time_t now = std::time(nullptr);
    tm local {};
    if (!localtime_r(&now, &local))
        return 0;
    const std::string stamp = Format("%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
        local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);

    std::string message(text, strnlen(text, kLineSize));
    for (char& ch : message) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b > 0x7F)
            ch = ' ';
    }
    const char* name = (test >= 0 && test < kNumTestNames) ? TestNames[test] : testName;
    const int limit = kLineSize - static_cast<int>(stamp.size()) - static_cast<int>(name ? std::strlen(name) : 0);
    if (limit > 0 && message.size() > static_cast<std::size_t>(limit))
        message.resize(static_cast<std::size_t>(limit));

    const std::string head = (test < 0 && !name)
        ? Format("%s: %s", SeverityText(severity), stamp.c_str())
        : Format("%s: %s, %s", SeverityText(severity), stamp.c_str(), name ? name : "");
    if (errorCode > 0 && errorCode < kNumErrorCodes) {
        if (relaxedAdd(resultfile.error_occurrences[errorCode], 1) == 0)
            std::snprintf(resultfile.first_occurrence[errorCode], sizeof resultfile.first_occurrence[errorCode], "%s",
                head.c_str());
    }
    const std::string line = head + ", " + message + "\n";

    if (relaxedLoad(testconfig.log_detail_level) == 1 && level == 1) {
        std::snprintf(&m_lines[static_cast<std::size_t>(m_nextLine) * kLineSize], kLineSize, "%s", line.c_str());
        m_lineTest[m_nextLine] = test;
        m_lineTime[m_nextLine] = now;
        m_nextLine = (m_nextLine + 1) % kMaxLines;
        if (m_nextLine == m_firstLine)
            m_firstLine = (m_firstLine + 1) % kMaxLines;
        if (m_numLines < kMaxLines - 1)
            ++m_numLines;
        ++m_totalLines;
    }
    if (relaxedLoad(testconfig.logging_enabled) != 0 && writeLogLine(line, level)) {
        lock.unlock();
        saveConfig();
    }
    return 0;
}

bool CLogger::writeLogLine(const std::string& line, int level)
{
    bool save = false;
    // A line for a file that is not open is dropped: the files are opened
    // by CreateLogFile whenever logging is switched on, and a line must not
    // open files in whatever directory happens to be current.
    const int detail = relaxedLoad(testconfig.log_detail_level);
    const bool toLog = level == 0 || (detail == 1 && level == 1);
    if (g_fpLogFile && toLog) {
        const int format = relaxedLoad(testconfig.log_file_format);
        if (relaxedLoad(testconfig.log_header_written) == 0) {
            writeDetailedHeaderLocked(g_fpLogFile, true, format == 2 ? 2 : 1);
            relaxedStore(testconfig.log_header_written, std::uint8_t { 1 });
            save = true;
        }
        if (format == 2)
            WriteHtmlEventRow(g_fpLogFile, line);
        else
            std::fputs(line.c_str(), g_fpLogFile);
        std::fflush(g_fpLogFile);
    }

    const int trace = relaxedLoad(testconfig.trace_level);
    const bool toTrace
        = (trace == 3 && (level <= 1 || level == 3)) || (trace == 4 && (level <= 1 || level == 3 || level == 4));
    if (g_fpActivityLog && toTrace && level >= 0) {
        if (relaxedLoad(testconfig.trace_header_written) == 0) {
            writeDetailedHeaderLocked(g_fpActivityLog, true, 4);
            relaxedStore(testconfig.trace_header_written, std::uint8_t { 1 });
            save = true;
        }
        std::fputs(line.c_str(), g_fpActivityLog);
        std::fflush(g_fpActivityLog);
    }
    return save;
}

const char* CLogger::GetLine(int index, int* test, long* time)
{
    if (test)
        *test = 0;
    std::lock_guard lock(m_mutex);
    if (index >= kMaxLines || index < -kMaxLines)
        return nullptr;
    const int slot = index >= 0 ? (m_firstLine + index) % kMaxLines : (m_nextLine + index + kMaxLines) % kMaxLines;
    const char* line = &m_lines[static_cast<std::size_t>(slot) * kLineSize];
    if (!line[0])
        return nullptr;
    if (test)
        *test = m_lineTest[slot];
    if (time)
        *time = static_cast<long>(m_lineTime[slot]);
    m_lineCopy = line;
    return m_lineCopy.c_str();
}

int CLogger::GetNumberLines()
{
    std::lock_guard lock(m_mutex);
    return m_numLines;
}

std::uint64_t CLogger::GetTotalLines()
{
    std::lock_guard lock(m_mutex);
    return m_totalLines;
}

std::uint64_t CLogger::CopyLinesSince(std::uint64_t since, std::vector<std::string>& lines, int* held)
{
    lines.clear();
    std::lock_guard lock(m_mutex);
    if (held)
        *held = m_numLines;
    // The held lines are the last m_numLines of the running total.
    const std::uint64_t oldest = m_totalLines - static_cast<std::uint64_t>(m_numLines);
    for (std::uint64_t n = std::max(since, oldest); n < m_totalLines; ++n) {
        const int slot = static_cast<int>((static_cast<std::uint64_t>(m_firstLine) + (n - oldest)) % kMaxLines);
        lines.emplace_back(&m_lines[static_cast<std::size_t>(slot) * kLineSize]);
    }
    return m_totalLines;
}

void CLogger::ClearLog()
{
    std::lock_guard lock(m_mutex);
    std::memset(m_lines.get(), 0, static_cast<std::size_t>(kMaxLines) * kLineSize);
    m_lineTest[0] = 0;
    m_lineTime[0] = 0;
    m_nextLine = m_firstLine = m_numLines = 0;
}

void CLogger::flushtologfile()
{
    std::lock_guard lock(m_mutex);
    flushLocked();
}

void CLogger::flushLocked()
{
    if (g_fpLogFile)
        std::fflush(g_fpLogFile);
    if (g_fpActivityLog)
        std::fflush(g_fpActivityLog);
}

int CLogger::WriteDetailedHeader(FILE* file, bool open, int format)
{
    std::lock_guard lock(m_mutex);
    return writeDetailedHeaderLocked(file, open, format);
}

int CLogger::writeDetailedHeaderLocked(FILE* file, bool open, int format)
{
    if (!file)
        return 0;
    if (format == 2 && open)
        std::fputs("<table border=\"1\" width=640>\n<tr>\n"
                   "<td bgcolor=\"#8F936C\"><strong>DETAILED EVENT LOG</strong></td>\n</tr>\n",
            file);
    else if (format == 2)
        std::fputs("</table>\n", file);
    else if ((format == 1 || format == 4) && open)
        std::fputs("******************\nDETAILED EVENT LOG\n******************\n", file);
    flushLocked();
    return 1;
}

namespace {

// The part of a name before its last '.'.
std::string cutExtension(const std::string& name)
{
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool isDirectory(const char* path)
{
    struct stat st { };
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

FILE* openLogFile(const char* path, const char* mode, LogFileResult& result)
{
    FILE* f = std::fopen(path, mode);
    if (!f) {
        const int err = errno;
        result.boxes.push_back({ Format("Error saving/creating *%s*", path),
            Format("File *%s* failed fopen() with error message \"%s\"\n", path, std::strerror(err))
                + Format("*%s* stores the log for %s.\nWithout this file, %s cannot proceed.", path, "KalvexTest",
                    "KalvexTest") });
    }
    return f;
}

void checkWritable(const char* path, LogFileResult& result)
{
    if (::access(path, F_OK) == 0 && ::access(path, W_OK) != 0)
        result.boxes.push_back({ "Permission Error",
            Format("No permission writing to *%s*\n", path)
                + Format("Please check that you have access to *%s*", path) });
}

} // namespace

void CLogger::CreateLogFile(bool followConfig)
{
    const LogFileResult result = OpenLogFiles(followConfig);
    if (result.saveConfig)
        saveConfig();
    for (const LogFileResult::Box& box : result.boxes)
        ShowQuitBox(box.caption, box.text);
}

LogFileResult CLogger::OpenLogFiles(bool followConfig)
{
    LogFileResult result;
    std::lock_guard lock(m_mutex);
    if (relaxedLoad(testconfig.logging_enabled) == 0)
        return result;
    // Values out of range in a loaded file fall back to usable ones.
    if (relaxedLoad(testconfig.log_detail_level) > 1)
        relaxedStore(testconfig.log_detail_level, 1);
    if (relaxedLoad(testconfig.trace_level) > 4)
        relaxedStore(testconfig.trace_level, 2);

    if (!testconfig.log_directory[0] || !followConfig) {
        std::snprintf(testconfig.log_directory, sizeof testconfig.log_directory, "%s", dirname);
        result.saveConfig = true;
    } else if (!isDirectory(testconfig.log_directory)) {
        result.boxes.push_back({ "Directory does not exist",
            Format("*%s* does not exist\n", testconfig.log_directory)
                + Format("Please check that you have the directory *%s*", testconfig.log_directory) });
    }
    if (!testconfig.log_file_name[0] || !followConfig) {
        std::strcpy(testconfig.log_file_name, "KVX_log");
        result.saveConfig = true;
    }
    if (!testconfig.trace_file_name[0] || !followConfig) {
        std::strcpy(testconfig.trace_file_name, "KVX_log");
        result.saveConfig = true;
    }

    const int traceLevel = relaxedLoad(testconfig.trace_level);
    const bool withTrace = traceLevel > 2;
    std::string logName = cutExtension(testconfig.log_file_name);
    std::string traceName = testconfig.trace_file_name;
    if (withTrace)
        traceName = cutExtension(traceName);
    if (relaxedLoad(testconfig.log_file_option) == 1) {
        const std::time_t now = gReportClock();
        tm local {};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "_%Y%m%d_%H%M%S", &local);
        logName += stamp;
        if (withTrace)
            traceName += stamp;
    }
    const std::string prefix = followConfig ? std::string(testconfig.log_prefix) : std::string();
    const std::string dir = testconfig.log_directory;
    const char* ext = relaxedLoad(testconfig.log_file_format) == 1 ? ".log" : ".htm";
    std::snprintf(
        gCurrentLogFile, sizeof gCurrentLogFile, "%s/%s%s%s", dir.c_str(), prefix.c_str(), logName.c_str(), ext);
    std::snprintf(
        gCurrentTraceFile, sizeof gCurrentTraceFile, "%s/%s%s.trace", dir.c_str(), prefix.c_str(), traceName.c_str());
    DPrintf("%s[%d]: gCurrentLogFile = %s\n", __func__, __LINE__, gCurrentLogFile);
    DPrintf("%s[%d]: gCurrentTraceFile = %s\n", __func__, __LINE__, gCurrentTraceFile);

    checkWritable(gCurrentLogFile, result);
    if (withTrace)
        checkWritable(gCurrentTraceFile, result);

    // Opened again: the previous handles are closed first.
    closeFile(g_fpLogFile);
    closeFile(g_fpActivityLog);
    const bool fresh = relaxedLoad(testconfig.pretest_log_mode) == 2;
    const char* mode = fresh ? "w+" : "a+";
    g_fpLogFile = openLogFile(gCurrentLogFile, mode, result);
    if (withTrace)
        g_fpActivityLog = openLogFile(gCurrentTraceFile, mode, result);
    if (fresh) {
        relaxedStore(testconfig.log_line_count, 0);
        relaxedStore(testconfig.trace_line_count, 0);
        relaxedStore(testconfig.log_header_written, std::uint8_t { 0 });
        relaxedStore(testconfig.trace_header_written, std::uint8_t { 0 });
        result.saveConfig = true;
    }

    // A program restarted on the same file goes on under the header already
    // there; a new or emptied file gets the system information and header.
    auto needsHeader = [](FILE* f, std::uint8_t written) {
        struct stat st { };
        return f && (written == 0 || (::fstat(::fileno(f), &st) == 0 && st.st_size == 0));
    };
    if (needsHeader(g_fpLogFile, relaxedLoad(testconfig.log_header_written))) {
        const bool html = relaxedLoad(testconfig.log_file_format) == 2;
        if (html)
            writeHtmlSystemInfoLocked(g_fpLogFile);
        else
            writeSystemInfoLocked(g_fpLogFile);
        if (relaxedLoad(testconfig.log_detail_level) != 0) {
            writeDetailedHeaderLocked(g_fpLogFile, true, html ? 2 : 1);
            relaxedStore(testconfig.log_header_written, std::uint8_t { 1 });
        }
        result.saveConfig = true;
    }
    if (withTrace && needsHeader(g_fpActivityLog, relaxedLoad(testconfig.trace_header_written))) {
        writeSystemInfoLocked(g_fpActivityLog);
        writeDetailedHeaderLocked(g_fpActivityLog, true, 1);
        relaxedStore(testconfig.trace_header_written, std::uint8_t { 1 });
        result.saveConfig = true;
    }
    return result;
}
