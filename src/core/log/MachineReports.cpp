// JSON, JUnit XML and Prometheus reports of a run, the "Save test log" text,
// and the report file written through a temporary.
#include "MachineReports.h"

#include "BuildInfo.h"
#include "CLogger.h"
#include "ErrorClassification.h"
#include "MessageBox.h"
#include "ResultRecord.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

const char* gMachineIdPath = "/etc/machine-id";

namespace {

// Length of the valid UTF-8 sequence at `s`, or 0 when there is none.
std::size_t utf8Length(const unsigned char* s, std::size_t left)
{
    const unsigned char b = s[0];
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF; // the second byte's range
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        n = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0)
            lo = 0xA0;
        else if (b == 0xED)
            hi = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0)
            lo = 0x90;
        else if (b == 0xF4)
            hi = 0x8F;
    } else
        return 0;
    if (left < n || s[1] < lo || s[1] > hi)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if ((s[i] & 0xC0) != 0x80)
            return 0;
    return n;
}

// `text` as valid UTF-8. The records hold whatever the user or a device
// typed; a byte that starts no valid sequence is taken as Latin-1, the
// character set the HTML reports declare.
std::string validUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8Length(s + i, text.size() - i);
        if (n) {
            out.append(text, i, n);
            i += n;
        } else {
            out += static_cast<char>(0xC0 | (s[i] >> 6));
            out += static_cast<char>(0x80 | (s[i] & 0x3F));
            ++i;
        }
    }
    return out;
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (char ch : validUtf8(text)) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20)
                out += Format("\\u%04x", c);
            else
                out += ch;
        }
    }
    return out + "\"";
}

std::string jsonStringOrNull(const std::string& text)
{
    return text.empty() ? "null" : jsonString(text);
}

// For attribute values and text alike.
std::string xmlEscape(const std::string& text)
{
    std::string out;
    for (char ch : validUtf8(text)) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            if (c == '\t' || c == '\n' || c == '\r')
                out += Format("&#%d;", c);
            else if (c < 0x20)
                out += "\xEF\xBF\xBD"; // XML 1.0 has no way to write these
            else
                out += ch;
        }
    }
    return out;
}

std::string labelValue(const std::string& text)
{
    std::string out;
    for (char ch : validUtf8(text)) {
        if (ch == '\\')
            out += "\\\\";
        else if (ch == '"')
            out += "\\\"";
        else if (ch == '\n')
            out += "\\n";
        else
            out += ch;
    }
    return out;
}

std::string cText(const char* field, std::size_t size)
{
    return std::string(field, strnlen(field, size));
}

// ISO 8601 in UTC, "" for an unknown time.
std::string isoTime(std::time_t t)
{
    tm utc {};
    if (t == 0 || !gmtime_r(&t, &utc))
        return "";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buf;
}

std::string readMachineId()
{
    std::ifstream in(gMachineIdPath);
    std::string id;
    std::getline(in, id);
    while (!id.empty() && std::isspace(static_cast<unsigned char>(id.back())))
        id.pop_back();
    return id;
}

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        if (end > at)
            out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

std::string jsonList(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + jsonString(items[i]);
    return out + "]";
}

const char* jsonBool(bool b)
{
    return b ? "true" : "false";
}

} // namespace

std::string NewRunId()
{
    unsigned char b[16] = {};
    std::size_t got = 0;
    while (got < sizeof b) {
        const ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
        if (n > 0)
            got += static_cast<std::size_t>(n);
        else if (errno != EINTR)
            break;
    }
    if (got < sizeof b) {
        std::ifstream in("/dev/urandom", std::ios::binary);
        in.read(reinterpret_cast<char*>(b), sizeof b);
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40); // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80); // RFC 4122 variant
    std::string id;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            id += '-';
        id += Format("%02x", b[i]);
    }
    return id;
}

MachineReports::MachineReports(const RunContext& ctx, RunOutcome outcome)
    : m_report(ctx)
    , m_outcome(std::move(outcome))
    , m_machineId(readMachineId())
    , m_system(GatherSystemFacts(m_report.results()))
{
    m_hostname = m_system.networkName;
    for (const ReportWriter::Row& row : m_report.rows()) {
        const bool notRun = std::any_of(m_outcome.notRun.begin(), m_outcome.notRun.end(),
            [&](const NotRunTest& t) { return t.name.substr(0, ReportWriter::kNameWidth) == row.name; });
        if (!notRun)
            m_ran.push_back(row);
    }
}

const char* MachineReports::verdict() const
{
    if (m_outcome.interrupted)
        return "INTERRUPTED";
    bool anyTest = false;
    for (const ReportWriter::Row& row : m_ran) {
        if (m_report.failed(row))
            return "FAIL";
        anyTest = anyTest || row.slot != HealthSlot();
    }
    // The health monitor alone is no run of a test.
    return anyTest ? "PASS" : "NOT RUN";
}

void MachineReports::writeJson(FILE* file) const
{
    const _resultfile& r = m_report.results();
    const std::time_t start = m_report.startTime();
    const std::time_t stop = m_report.stopTime();
    std::string o = "{\n  \"schemaVersion\": 1,\n";
    o += Format("  \"program\": {\"name\": %s, \"version\": %s, \"build\": %s},\n", jsonString(kProduct).c_str(),
        jsonString(kVersion).c_str(), jsonString(kBuildNumber).c_str());
    o += "  \"host\": {\n";
    o += "    \"hostname\": " + jsonString(m_hostname) + ",\n";
    o += "    \"machineId\": " + jsonStringOrNull(m_machineId) + ",\n";
    o += "    \"machineType\": " + jsonString(cText(r.machine_type, sizeof r.machine_type)) + ",\n";
    o += "    \"machineSerial\": " + jsonString(cText(r.machine_serial, sizeof r.machine_serial)) + ",\n";
    o += "    \"notes\": " + jsonString(cText(r.notes, sizeof r.notes)) + "\n  },\n";
    o += "  \"run\": {\n";
    o += "    \"id\": " + jsonString(m_outcome.runId) + ",\n";
    o += "    \"start\": " + jsonStringOrNull(isoTime(start)) + ",\n";
    o += "    \"stop\": " + jsonStringOrNull(isoTime(stop)) + ",\n";
    o += "    \"durationSeconds\": "
        + (start && stop >= start ? std::to_string(static_cast<long long>(stop - start)) : std::string("null")) + ",\n";
    o += Format("    \"interrupted\": %s,\n", jsonBool(m_outcome.interrupted));
    o += Format("    \"verdict\": \"%s\",\n", verdict());
    o += Format("    \"exitStatus\": %d\n  },\n", m_outcome.exitStatus);

    o += "  \"tests\": [";
    const char* sep = "\n";
    for (const ReportWriter::Row& row : m_ran) {
        const _resultinfo& ri = r.accum_results[row.slot];
        const _classerror& c = r.accum_classes[row.slot];
        o += sep;
        sep = ",\n";
        o += "    {\n      \"name\": " + jsonString(row.name) + ",\n";
        o += "      \"unit\": " + jsonString(row.unit) + ",\n";
        o += Format("      \"result\": \"%s\",\n", m_report.failed(row) ? "FAIL" : "PASS");
        o += Format("      \"cycles\": %u,\n", ri.cycles);
        o += Format("      \"operations\": %.0f,\n", m_report.operationCount(row));
        o += Format("      \"errors\": {\"total\": %u, \"%s\": %u, \"%s\": %u, \"%s\": %u, \"%s\": %u},\n", ri.errors,
            szErrorClass[kSevCritical], c.critical, szErrorClass[kSevSerious], c.serious, szErrorClass[kSevWarning],
            c.warning, szErrorClass[kSevInformation], c.information);
        o += "      \"lastError\": "
            + (ri.last_error == 0 ? std::string("null")
                                  : Format("{\"code\": %u, \"text\": %s}", ri.last_error,
                                      jsonString(m_report.lastErrorText(row.slot)).c_str()))
            + "\n    }";
    }
    for (const NotRunTest& t : m_outcome.notRun) {
        o += sep;
        sep = ",\n";
        o += "    {\n      \"name\": " + jsonString(t.name) + ",\n      \"unit\": \"\",\n";
        o += "      \"result\": \"NOT RUN\",\n      \"reason\": " + jsonString(t.reason) + "\n    }";
    }
    o += m_ran.empty() && m_outcome.notRun.empty() ? "],\n" : "\n  ],\n";

    o += "  \"seriousErrors\": [";
    sep = "\n";
    const auto serious = m_report.seriousErrors();
    for (const ReportWriter::SeriousError& e : serious) {
        o += sep;
        sep = ",\n";
        o += Format("    {\"code\": %d, \"severity\": \"%s\", \"count\": %d, \"text\": %s, \"firstOccurrence\": %s}",
            e.code, szErrorClass[e.severity], e.count, jsonString(e_strings[e.code]).c_str(),
            jsonString(m_report.firstOccurrence(e.code)).c_str());
    }
    o += serious.empty() ? "],\n" : "\n  ],\n";
    o += "  \"health\": " + healthJson() + ",\n";

    const SystemFacts& s = m_system;
    const _CPUINFO& cpu = r.cpu_info;
    std::vector<std::string> speeds { s.cpu1Speed };
    if (cpu.cpu_count > 1)
        speeds.push_back(s.cpu2Speed);
    o += "  \"system\": {\n";
    o += "    \"distribution\": " + jsonString(s.issue) + ",\n";
    o += "    \"networkName\": " + jsonString(s.networkName) + ",\n";
    o += "    \"operatingSystem\": " + jsonString(s.os) + ",\n";
    o += "    \"cpu\": {\n";
    o += Format("      \"count\": %d,\n", cpu.cpu_count);
    o += "      \"logicalCount\": " + (cpu.ht_status == 1 ? std::to_string(cpu.logical_cpu_count) : "null") + ",\n";
    o += "      \"manufacturer\": " + jsonString(s.manufacturer) + ",\n";
    o += "      \"type\": " + jsonString(s.cpuType) + ",\n";
    o += "      \"features\": " + jsonList(words(s.features)) + ",\n";
    o += "      \"serial\": " + jsonString(s.serial) + ",\n";
    o += "      \"speeds\": " + jsonList(speeds) + ",\n";
    o += "      \"level2Cache\": " + jsonString(s.l2Cache) + ",\n";
    o += "      \"level3Cache\": " + jsonStringOrNull(s.l3Cache) + "\n    },\n";
    o += Format("    \"memoryKBytes\": %lu,\n", s.ramKb);
    o += "    \"video\": {\"card\": " + jsonString(s.videoCard) + ", \"resolution\": " + jsonString(s.resolution)
        + "}\n  }\n}\n";
    std::fputs(o.c_str(), file);
}

std::string MachineReports::healthJson() const
{
    const HealthReport& h = m_report.health();
    if (!h.monitored)
        return "null";
    auto source = [](const HealthSource& s) {
        return Format("\"watched\": %s, \"available\": %s, \"note\": %s", jsonBool(s.watched), jsonBool(s.available),
            jsonString(s.note).c_str());
    };
    std::string o = "{\n    \"temperatures\": {" + source(h.temperatures);
    o += ", \"thermalLimitCelsius\": " + (h.thermalLimit > 0 ? std::to_string(h.thermalLimit) : std::string("null"));
    o += Format(", \"thermalStop\": %s, \"chips\": [", jsonBool(h.thermalStop));
    const char* sep = "";
    for (const ChipTemperature& c : h.chips) {
        o += sep;
        sep = ", ";
        o += Format("{\"chip\": %s, \"startCelsius\": %.1f, \"lastCelsius\": %.1f, \"peakCelsius\": %.1f, "
                    "\"peakTime\": %s}",
            jsonString(c.chip).c_str(), c.start, c.current, c.peak, jsonString(isoTime(c.peakTime)).c_str());
    }
    o += "]},\n    \"ecc\": {" + source(h.ecc)
        + Format(", \"corrected\": %llu, \"uncorrected\": %llu},\n", static_cast<unsigned long long>(h.correctedErrors),
            static_cast<unsigned long long>(h.uncorrectedErrors));
    o += "    \"kernelLog\": {" + source(h.kernelLog) + "},\n";
    o += Format("    \"eventCount\": %llu,\n    \"events\": [", static_cast<unsigned long long>(h.eventCount));
    sep = "\n";
    for (const HealthEvent& e : h.events) {
        o += sep;
        sep = ",\n";
        const int sev = e.code >= 0 && e.code < kMaxErrorCodes ? e_classification[e.code] : 0;
        o += Format("      {\"time\": %s, \"code\": %d, \"severity\": \"%s\", \"failsRun\": %s, \"text\": %s}",
            jsonString(isoTime(e.time)).c_str(), e.code, szErrorClass[sev], jsonBool(e.fails),
            jsonString(e.text).c_str());
    }
    o += h.events.empty() ? "]\n  }" : "\n    ]\n  }";
    return o;
}

void MachineReports::writeJUnit(FILE* file) const
{
    const _resultfile& r = m_report.results();
    const std::time_t start = m_report.startTime();
    const std::time_t stop = m_report.stopTime();
    const long duration = start && stop >= start ? static_cast<long>(stop - start) : 0;
    int failures = 0;
    for (const ReportWriter::Row& row : m_ran)
        failures += m_report.failed(row) ? 1 : 0;
    std::string o = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    o += Format("<testsuite name=\"kalvextest\" tests=\"%zu\" failures=\"%d\" errors=\"0\" skipped=\"%zu\" "
                "time=\"%ld\" hostname=\"%s\"",
        m_ran.size() + m_outcome.notRun.size(), failures, m_outcome.notRun.size(), duration,
        xmlEscape(m_hostname).c_str());
    if (start) {
        // JUnit's timestamp carries no zone; it is UTC here.
        std::string t = isoTime(start);
        t.pop_back();
        o += " timestamp=\"" + t + "\"";
    }
    o += ">\n  <properties>\n";
    auto property = [&o](const char* name, const std::string& value) {
        o += Format("    <property name=\"%s\" value=\"%s\"/>\n", name, xmlEscape(value).c_str());
    };
    property("run_id", m_outcome.runId);
    property("host", m_hostname);
    property("interrupted", jsonBool(m_outcome.interrupted));
    property("verdict", verdict());
    property("exit_status", std::to_string(m_outcome.exitStatus));
    o += "  </properties>\n";
    for (const ReportWriter::Row& row : m_ran) {
        const _resultinfo& ri = r.accum_results[row.slot];
        o += "  <testcase classname=\"kalvextest\" name=\"" + xmlEscape(row.name) + "\"";
        if (!m_report.failed(row)) {
            o += "/>\n";
            continue;
        }
        const std::string message = Format("%u: %s", ri.last_error, m_report.lastErrorText(row.slot).c_str());
        o += ">\n    <failure message=\"" + xmlEscape(message) + "\">";
        o += Format("Errors: %u, cycles: %u, operations: %.0f", ri.errors, ri.cycles, m_report.operationCount(row));
        o += "</failure>\n  </testcase>\n";
    }
    for (const NotRunTest& t : m_outcome.notRun)
        o += "  <testcase classname=\"kalvextest\" name=\"" + xmlEscape(t.name) + "\">\n    <skipped message=\""
            + xmlEscape(t.reason) + "\"/>\n  </testcase>\n";
    o += "</testsuite>\n";
    std::fputs(o.c_str(), file);
}

void MachineReports::writePrometheus(FILE* file) const
{
    std::string o;
    auto family = [&o](const char* name, const char* help) {
        o += Format("# HELP %s %s\n# TYPE %s gauge\n", name, help, name);
    };
    auto labels = [](const std::string& test, const std::string& unit) {
        return "{test=\"" + labelValue(test) + "\",unit=\"" + labelValue(unit) + "\"}";
    };
    const bool passed = std::strcmp(verdict(), "PASS") == 0;
    family("kalvextest_run_info", "The run's id, host and verdict.");
    o += "kalvextest_run_info{run_id=\"" + labelValue(m_outcome.runId) + "\",host=\"" + labelValue(m_hostname)
        + "\",verdict=\"" + verdict() + "\"} 1\n";
    family("kalvextest_run_passed", "1 when every test that ran passed and the run was not interrupted.");
    o += Format("kalvextest_run_passed %d\n", passed ? 1 : 0);
    family("kalvextest_run_interrupted", "1 when the run was stopped by a signal.");
    o += Format("kalvextest_run_interrupted %d\n", m_outcome.interrupted ? 1 : 0);
    family("kalvextest_run_exit_status", "The runner's exit status.");
    o += Format("kalvextest_run_exit_status %d\n", m_outcome.exitStatus);
    const std::time_t start = m_report.startTime();
    const std::time_t stop = m_report.stopTime();
    if (start) {
        family("kalvextest_run_start_timestamp_seconds", "When the run started, in seconds since the epoch.");
        o += Format("kalvextest_run_start_timestamp_seconds %lld\n", static_cast<long long>(start));
        family("kalvextest_run_duration_seconds", "How long the run took.");
        o += Format("kalvextest_run_duration_seconds %lld\n", static_cast<long long>(stop >= start ? stop - start : 0));
    }
    struct Metric {
        const char* name;
        const char* help;
        std::string (*value)(const MachineReports&, const ReportWriter::Row&);
    };
    const Metric metrics[] = {
        { "kalvextest_test_passed", "1 when the test found no error.",
            [](const MachineReports& m, const ReportWriter::Row& row) {
                return std::string(m.m_report.failed(row) ? "0" : "1");
            } },
        { "kalvextest_test_errors", "Errors the test found.",
            [](const MachineReports& m, const ReportWriter::Row& row) {
                return std::to_string(m.m_report.results().accum_results[row.slot].errors);
            } },
        { "kalvextest_test_cycles", "Test cycles completed.",
            [](const MachineReports& m, const ReportWriter::Row& row) {
                return std::to_string(m.m_report.results().accum_results[row.slot].cycles);
            } },
        { "kalvextest_test_operations", "Operations done, as the result summary counts them.",
            [](const MachineReports& m, const ReportWriter::Row& row) {
                return Format("%.0f", m.m_report.operationCount(row));
            } },
    };
    for (const Metric& metric : metrics) {
        if (m_ran.empty())
            break;
        family(metric.name, metric.help);
        for (const ReportWriter::Row& row : m_ran)
            o += metric.name + labels(row.name, row.unit) + " " + metric.value(*this, row) + "\n";
    }
    if (!m_outcome.notRun.empty()) {
        family("kalvextest_test_not_run", "1 for a selected test the run did not start.");
        for (const NotRunTest& t : m_outcome.notRun)
            o += "kalvextest_test_not_run" + labels(t.name, "") + " 1\n";
    }
    const HealthReport& h = m_report.health();
    if (h.monitored) {
        family("kalvextest_health_source_available", "1 when the health source could be read during the run.");
        const std::pair<const char*, const HealthSource*> sources[]
            = { { "temperatures", &h.temperatures }, { "ecc", &h.ecc }, { "kernel_log", &h.kernelLog } };
        for (const auto& [name, source] : sources)
            if (source->watched)
                o += Format("kalvextest_health_source_available{source=\"%s\"} %d\n", name, source->available ? 1 : 0);
        if (!h.chips.empty()) {
            family("kalvextest_temperature_peak_celsius", "The chip's hottest reading during the run.");
            for (const ChipTemperature& c : h.chips)
                o += "kalvextest_temperature_peak_celsius{chip=\"" + labelValue(c.chip) + "\"} "
                    + Format("%.1f", c.peak) + "\n";
        }
        if (h.ecc.available) {
            family("kalvextest_ecc_corrected_errors", "Corrected ECC errors counted during the run.");
            o += Format("kalvextest_ecc_corrected_errors %llu\n", static_cast<unsigned long long>(h.correctedErrors));
            family("kalvextest_ecc_uncorrected_errors", "Uncorrected ECC errors counted during the run.");
            o += Format(
                "kalvextest_ecc_uncorrected_errors %llu\n", static_cast<unsigned long long>(h.uncorrectedErrors));
        }
    }
    std::fputs(o.c_str(), file);
}

namespace {

// The mode a new file gets from open(2): 0666 less the umask, read without
// changing it (umask(2) would race with other threads creating files).
mode_t newFileMode()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "Umask:") == 0)
            return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    return 0644;
}

} // namespace

bool WriteReportFile(const std::string& path, const std::function<void(FILE*)>& write, std::string& error)
{
    auto fail = [&](int err) {
        error = path + ": " + std::strerror(err);
        return false;
    };
    if (path == "-") {
        errno = 0;
        write(stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return fail(errno ? errno : EIO);
        return true;
    }
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty())
        return fail(EISDIR);
    std::string temp = (slash == std::string::npos ? "" : path.substr(0, slash + 1)) + "." + base + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    // A replaced file keeps its mode; a new one gets what open(2) would give.
    struct stat old { };
    (void)::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? old.st_mode & 07777 : newFileMode());
    FILE* f = ::fdopen(fd, "w");
    if (!f) {
        const int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        return fail(err);
    }
    errno = 0;
    try {
        write(f);
    } catch (...) {
        std::fclose(f);
        ::unlink(temp.c_str());
        throw;
    }
    int err = 0;
    if (std::fflush(f) != 0 || std::ferror(f))
        err = errno ? errno : EIO;
    if (!err && ::fsync(fd) != 0)
        err = errno;
    if (std::fclose(f) != 0 && !err)
        err = errno;
    if (!err && std::rename(temp.c_str(), path.c_str()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.c_str());
        return fail(err);
    }
    // The new name survives a crash once the directory is on disk too.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

void WriteTestLogReport(CLogger& log, FILE* file, bool html)
{
    if (html) {
        WriteHTMLPageHead(file);
        log.WriteHTMLSystemInfoToFile(file);
        log.WriteHTMLLog(file);
        log.savehtmlresultsummary(file);
        WriteHTMLPageFoot(file);
    } else {
        log.WriteSystemInfoToFile(file);
        log.WriteASCIILog(file);
        log.saveasciiresultsummary(file, true);
    }
}
