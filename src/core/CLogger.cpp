#include "CLogger.h"

#include "AtomicField.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "ErrorClassification.h"
#include "MessageBox.h"
#include "ResultRecord.h"

#include <cstring>

const char* const CLogger::TestNames[kNumTestNames] = {
    "Status", "Floppy Disk", "Tape drive", "CD/DVD",      "RAM",   "Serial", "Parallel", "Printer", "Maths",
    "Disk",   "2D Graphics", "MMX",        "Network",     "3D Graphics", "Sound", "USB", "Video", "Plug-in",
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
{
    DPrintf("CLogger constructor...\n");
}

CLogger::~CLogger() = default;

int CLogger::AddLine(const char* text, int test, int errorCode, const char* testName, int level)
{
    if (!text || !text[0])
        return 0;
    std::lock_guard lock(m_mutex);

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

    const std::string head = (test < 0 && !name) ? Format("%s: %s", SeverityText(severity), stamp.c_str())
                                                 : Format("%s: %s, %s", SeverityText(severity), stamp.c_str(),
                                                          name ? name : "");
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
    }
    return 0;
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

void CLogger::ClearLog()
{
    std::lock_guard lock(m_mutex);
    std::memset(m_lines.get(), 0, static_cast<std::size_t>(kMaxLines) * kLineSize);
    m_lineTest[0] = 0;
    m_lineTime[0] = 0;
    m_nextLine = m_firstLine = m_numLines = 0;
}

void CLogger::CreateLogFile(bool /*followConfig*/)
{
    if (relaxedLoad(testconfig.logging_enabled) == 0)
        return;
    // Values out of range in a loaded file fall back to usable ones.
    if (relaxedLoad(testconfig.log_detail_level) > 1)
        relaxedStore(testconfig.log_detail_level, 1);
    if (relaxedLoad(testconfig.trace_level) > 4)
        relaxedStore(testconfig.trace_level, 2);
}
