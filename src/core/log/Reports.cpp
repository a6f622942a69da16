// The report blocks of the event log: system information, result summary,
// serious error summary, and the export of the held event lines.
#include "AtomicField.h"
#include "BuildInfo.h"
#include "CLogger.h"
#include "ConfigFile.h"
#include "DebugTrace.h"
#include "ErrorClassification.h"
#include "MessageBox.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TestSlots.h"

#include <cmath>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kTableOpen = "<table border=\"1\" width=640>\n";
constexpr const char* kTableClose = "</table>\n";
constexpr const char* kSpacer = "&nbsp\n";

void titleRow(FILE* f, const char* title)
{
    std::fputs("<tr>\n", f);
    std::fprintf(f, "<td colspan=\"2\" width=\"100%%\" bgcolor=\"#A7AA8A\"><strong>%s</strong></td>\n", title);
    std::fputs("</tr>\n", f);
}

void labelValueRow(FILE* f, const char* label, const std::string& value)
{
    std::fputs("<tr>\n", f);
    std::fprintf(f, "<td width=\"40%%\" bgcolor=\"#A7AA8A\"><strong>%s</strong></td>\n", label);
    std::fprintf(f, "<td width=\"60%%\" bgcolor=\"#FEFFA5\"><strong>%s</strong></td>\n", value.c_str());
    std::fputs("</tr>\n", f);
}

// ctime text without its newline.
std::string ctimeText(std::time_t t)
{
    char buf[32];
    if (!ctime_r(&t, buf))
        return "-";
    std::string s = buf;
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

std::string durationText(long seconds)
{
    return Format("%03dh %02dm %02ds", static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
        static_cast<int>(seconds % 60));
}

// The facts of the system information block, gathered once per block.
struct SystemFacts {
    std::string issue;
    std::string machineType;
    std::string machineSerial;
    std::string networkName;
    std::string time; // ctime form, with its newline
    std::string os;
    std::string cpus;
    std::string manufacturer;
    std::string cpuType;
    std::string features;
    std::string serial;
    std::string cpu1Speed;
    std::string cpu2Speed; // empty with one CPU
    std::string l2Cache;
    std::string l3Cache; // empty when there is none to show
    unsigned long ramKb;
    std::string videoCard;
    std::string resolution;
};

SystemFacts gatherFacts()
{
    SystemFacts f;
    f.issue = TranslateEtcIssue(gEtcIssuePath);
    f.machineType = resultfile.machine_type;
    f.machineSerial = resultfile.machine_serial;
    std::snprintf(resultfile.network_name, sizeof resultfile.network_name, "%s", SystemInfo_uname("-n"));
    f.networkName = resultfile.network_name;
    const std::time_t now = gReportClock();
    char buf[32];
    f.time = ctime_r(&now, buf) ? buf : "\n";
    // Each call reuses the same buffer: copy one before asking for the next.
    const std::string kernel = SystemInfo_uname("-s");
    const std::string release = SystemInfo_uname("-r");
    f.os = kernel + " (" + release + ")";
    const _CPUINFO& c = resultfile.cpu_info;
    f.cpus = c.ht_status == 1 ? Format("%d (%d logical)", c.cpu_count, c.logical_cpu_count) : Format("%d", c.cpu_count);
    f.manufacturer = std::string(c.vendor_id, strnlen(c.vendor_id, sizeof c.vendor_id));
    f.cpuType = std::string(c.model_name, strnlen(c.model_name, sizeof c.model_name));
    if (c.has_mmx)
        f.features += "MMX ";
    if (c.has_sse)
        f.features += "SSE ";
    if (c.has_sse2)
        f.features += "SSE2 ";
    if (c.has_sse3)
        f.features += "SSE3 ";
    if (c.has_3dnow)
        f.features += "3DNow! ";
    if (!f.features.empty())
        f.features.pop_back();
    if (!c.serial_present) {
        f.serial = "Not available or disabled";
    } else {
        f.serial = Format("%4.4X-%4.4X-%4.4X-%4.4X-%4.4X-%4.4X", c.serial[0] >> 16, c.serial[0] & 0xFFFF,
            c.serial[1] >> 16, c.serial[1] & 0xFFFF, c.serial[2] >> 16, c.serial[2] & 0xFFFF);
    }
    f.cpu1Speed = std::string(c.cpu0_speed_text, strnlen(c.cpu0_speed_text, sizeof c.cpu0_speed_text));
    if (c.cpu_count > 1)
        f.cpu2Speed = std::string(c.cpu1_speed_text, strnlen(c.cpu1_speed_text, sizeof c.cpu1_speed_text));
    f.l2Cache = c.cache_size_kb == -1 ? std::string("Unknown") : Format("%dKB", c.cache_size_kb);
    if (c.l3_cache_kb != -1)
        f.l3Cache = Format("%dKB", c.l3_cache_kb);
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    f.ramKb = static_cast<unsigned long>(pages > 0 ? pages : 0) * 4;
    const _VIDEOINFOPM& v = resultfile.video_info;
    f.videoCard = std::string(v.card_name, strnlen(v.card_name, sizeof v.card_name));
    f.resolution = Format("%dx%dx%d", v.width, v.height, v.depth);
    return f;
}

void countSystemInfoLines()
{
    if (relaxedLoad(testconfig.trace_level) != 2)
        relaxedAdd(testconfig.trace_line_count, 23);
    if (relaxedLoad(testconfig.logging_enabled))
        relaxedAdd(testconfig.log_line_count, 23);
}

const char* detailLevelName()
{
    const int level = relaxedLoad(testconfig.log_detail_level);
    return szLog_Detail_Level[level == 0 ? 0 : 1];
}

// One row of the result summary, or nothing for a slot the summary leaves out.
struct SummaryRow {
    int slot;
    std::string name;
};

std::vector<SummaryRow> summaryRows()
{
    std::vector<SummaryRow> rows;
    const auto& on = testconfig.test_enabled;
    for (int slot = 0; slot <= 156; ++slot) {
        if (!relaxedLoad(on[slot]) || slot == 26 || slot == 32 || slot == 53 || slot == 154)
            continue;
        int switchSlot = 0;
        if (SlotGroup(slot, nullptr, &switchSlot) && relaxedLoad(on[switchSlot]) != 1)
            continue;
        std::string name = SlotName(slot);
        if (slot >= 6 && slot <= 25)
            name += std::string(": ") + gFileSystemStructPtr[slot - 6].alias;
        else if (slot >= 28 && slot <= 31)
            name += std::string(": ") + testconfig.network_address[slot - 28];
        else if (slot >= 33 && slot <= 52)
            name += std::string(": ") + gMultimediaStructPtr[slot - 33].alias;
        else if (slot >= 90 && slot <= 153)
            name += Format(": ttyS%d", slot - 90);
        else if (slot == kSlotParallel)
            name += Format(": lp%d", relaxedLoad(testconfig.parallel_port_number));
        else if (slot >= 75 && slot <= 84 && slot - 75 >= relaxedLoad(testconfig.usb_plug_count))
            continue;
        rows.push_back({ slot, name.substr(0, 24) });
    }
    return rows;
}

std::string operationsOf(int slot)
{
    float value = static_cast<float>(relaxedLoad<std::uint64_t>(resultfile.accum_results[slot].op_count));
    if (slot >= 6 && slot <= 25)
        value *= static_cast<float>(gFileSystemStructPtr[slot - 6].vfs.f_bsize);
    return ReportOperationsText(value);
}

std::string lastErrorText(int slot)
{
    const std::uint32_t code = relaxedLoad(resultfile.accum_results[slot].last_error);
    return code < kMaxErrorCodes ? e_strings[code] : "";
}

struct RunTimes {
    std::string start; // "-" when the run never started
    std::string accumStart; // "(Accumulated results start time: ...)" or empty
    std::string stop;
    std::string duration; // "-" when unknown
    std::string accumDuration;
};

RunTimes runTimes()
{
    RunTimes t;
    const long start = relaxedLoad(resultfile.run_start_time);
    long stop = relaxedLoad(resultfile.run_stop_time);
    if (stop == 0)
        stop = static_cast<long>(gReportClock());
    const bool accumulated
        = relaxedLoad(testconfig.pretest_log_mode) == 1 && relaxedLoad(resultfile.accum_start_time) != 0;
    t.start = start ? ctimeText(start) : "-";
    if (accumulated)
        t.accumStart = "(Accumulated results start time: " + ctimeText(relaxedLoad(resultfile.accum_start_time)) + ")";
    t.stop = ctimeText(stop);
    t.duration = (start && stop - start >= 0) ? durationText(stop - start) : "-";
    if (accumulated)
        t.accumDuration
            = "(Accumulated results duration: " + durationText(relaxedLoad(resultfile.accum_duration)) + ")";
    return t;
}

void writeNotesHtml(FILE* f)
{
    std::fputs(HtmlEscape(resultfile.machine_type).c_str(), f);
    std::fputs("<br>", f);
    std::fputs(HtmlEscape(resultfile.machine_serial).c_str(), f);
    std::fputs("<br>", f);
    for (const char* p = resultfile.notes; *p; ++p) {
        if (*p == '\n')
            std::fputs("<br>", f);
        else
            std::fputs(HtmlEscape(std::string(1, *p)).c_str(), f);
    }
}

} // namespace

std::string ReportOperationsText(float value)
{
    if (value < 1e6f)
        return Format("%llu", static_cast<unsigned long long>(value));
    struct Scale {
        float divisor;
        const char* name;
        const char* fractionFormat;
    } scales[] = { { 1e15f, "Quadrillion", "%.1f Quadrillion" }, { 1e12f, "Trillion", "%.3f Trillion" },
        { 1e9f, "Billion", "%.3f Billion" }, { 1e6f, "Million", "%.3f Million" } };
    for (const Scale& s : scales) {
        if (value >= s.divisor) {
            const float q = value / s.divisor;
            if (std::lround(q) < 100)
                return Format(s.fractionFormat, static_cast<double>(q));
            return Format("%llu %s", static_cast<unsigned long long>(q), s.name);
        }
    }
    return "";
}

void WriteHTMLPageHead(FILE* file)
{
    std::fprintf(file,
        "<html>\n<head>\n"
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\n"
        "<title>Kalvex Test Results - From Veltrane Software (%s)</title>\n"
        "</head>\n<body>\n",
        kHomePage);
}

void WriteHTMLPageFoot(FILE* file)
{
    std::fprintf(file, "<p><small>Results Produced by <a href=\"%s\">Veltrane KalvexTest</a> (%s)</small></p>\n",
        kHomePage, kHomePage);
    std::fputs("</body>\n</html>\n", file);
}

std::string HtmlEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
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
        default:
            out += ch;
        }
    }
    return out;
}

int CLogger::WriteSystemInfoToFile(FILE* file)
{
    std::lock_guard lock(m_mutex);
    return writeSystemInfoLocked(file);
}

int CLogger::writeSystemInfoLocked(FILE* file)
{
    if (!file) {
        DPrintf("%s[%d]: NULL file handler...\n", __func__, __LINE__);
        return 1;
    }
    const SystemFacts s = gatherFacts();
    std::fprintf(file, "Veltrane KalvexTest Log file  -  %s\n", kHomePage);
    std::fprintf(file, "%s\n", std::string(56, '=').c_str());
    std::fprintf(file, "\n%s %s (%s) %s\n", kProduct, kVersion, kBuildNumber, kPlatform);
    std::fprintf(file, "Logging detail level: %s\n", detailLevelName());
    std::fputs("\n******************\nSYSTEM INFORMATION\n******************\n", file);
    std::fprintf(file, "%s\n\n", s.issue.c_str());
    if (!s.machineType.empty()) {
        std::fprintf(file, "\nMachine type: %s\n", s.machineType.c_str());
        if (!s.machineSerial.empty())
            std::fprintf(file, "Machine serial #: %s\n", s.machineSerial.c_str());
    } else if (!s.machineSerial.empty()) {
        std::fprintf(file, "\nMachine serial #: %s\n", s.machineSerial.c_str());
    }
    std::fprintf(file, "Network Name: %s\n", s.networkName.c_str());
    std::fprintf(file, "Time: %s", s.time.c_str());
    std::fprintf(file, "Operating system: %s\n", s.os.c_str());
    std::fprintf(file, "Number of CPUs: %s\n", s.cpus.c_str());
    std::fprintf(file, "CPU manufacturer: %s\n", s.manufacturer.c_str());
    std::fprintf(file, "CPU type: %s\n", s.cpuType.c_str());
    std::fprintf(file, "CPU features: %s\n", s.features.c_str());
    std::fprintf(file, "CPU Serial #: %s\n", s.serial.c_str());
    std::fprintf(file, "CPU1 speed: %s\n", s.cpu1Speed.c_str());
    if (resultfile.cpu_info.cpu_count > 1)
        std::fprintf(file, "CPU2 speed: %s\n", s.cpu2Speed.c_str());
    std::fprintf(file, "CPU Level 2 Cache: %s\n", s.l2Cache.c_str());
    if (!s.l3Cache.empty())
        std::fprintf(file, "CPU Level 3 Cache: %s\n", s.l3Cache.c_str());
    std::fprintf(file, "RAM: %lu KBytes\n", s.ramKb);
    std::fprintf(file, "Video card: %s\n", s.videoCard.c_str());
    std::fprintf(file, "Video resolution: %s\n\n", s.resolution.c_str());
    countSystemInfoLines();
    return 1;
}

int CLogger::WriteHTMLSystemInfoToFile(FILE* file)
{
    std::lock_guard lock(m_mutex);
    return writeHtmlSystemInfoLocked(file);
}

int CLogger::writeHtmlSystemInfoLocked(FILE* file)
{
    if (!file)
        return 1;
    const SystemFacts s = gatherFacts();
    std::fputs(kTableOpen, file);
    std::fputs("<tr>\n", file);
    std::fprintf(file,
        "<td colspan=\"2\" width=\"100%%\" bgcolor=\"#A7AA8A\"><H2><em>KalvexTest results (Detail: "
        "%s)</em></H2></td>\n",
        detailLevelName());
    std::fputs("</tr>\n<tr>\n", file);
    std::fprintf(file, "<td colspan=\"2\" width=\"100%%\" bgcolor=\"#A7AA8A\"><strong>%s %s (%s) %s</strong></td>\n",
        kProduct, kVersion, kBuildNumber, kPlatform);
    std::fputs("</tr>\n", file);
    std::fputs(kTableClose, file);
    std::fputs(kSpacer, file);
    std::fputs(kTableOpen, file);
    titleRow(file, "SYSTEM INFORMATION");
    if (!s.machineType.empty())
        labelValueRow(file, "Machine type", HtmlEscape(s.machineType));
    if (!s.machineSerial.empty())
        labelValueRow(file, "Machine serial #", HtmlEscape(s.machineSerial));
    std::string time = s.time;
    if (!time.empty() && time.back() == '\n')
        time.pop_back();
    labelValueRow(file, "Network Name", HtmlEscape(s.networkName));
    labelValueRow(file, "Time", time);
    labelValueRow(file, "Operating system", HtmlEscape(s.os));
    labelValueRow(file, "Number of CPUs", s.cpus);
    labelValueRow(file, "CPU manufacturer", HtmlEscape(s.manufacturer));
    labelValueRow(file, "CPU type", HtmlEscape(s.cpuType));
    labelValueRow(file, "CPU features", s.features);
    labelValueRow(file, "CPU Serial #", s.serial);
    labelValueRow(file, "CPU1 speed", s.cpu1Speed);
    if (resultfile.cpu_info.cpu_count > 1)
        labelValueRow(file, "CPU2 speed", s.cpu2Speed);
    labelValueRow(file, "CPU Level 2 cache size", s.l2Cache);
    labelValueRow(file, "RAM", Format("%lu KBytes", s.ramKb));
    labelValueRow(file, "Video card", HtmlEscape(s.videoCard));
    labelValueRow(file, "Video resolution", s.resolution);
    std::fputs(kTableClose, file);
    std::fputs(kSpacer, file);
    countSystemInfoLines();
    return 1;
}

int CLogger::saveasciiresultsummary(FILE* file, bool /*flag*/)
{
    std::lock_guard lock(m_mutex);
    return writeAsciiResultSummaryLocked(file);
}

int CLogger::writeAsciiResultSummaryLocked(FILE* file)
{
    if (!file)
        return 1;
    const bool byCategory = relaxedLoad(testconfig.view_errors_by_category) != 0;
    const RunTimes t = runTimes();
    std::fputs("\n**************\nRESULT SUMMARY\n**************\n", file);
    std::fprintf(file, "Test Start time: %s %s\n", t.start.c_str(), t.accumStart.c_str());
    std::fprintf(file, "Test Stop time: %s\n", t.stop.c_str());
    std::fprintf(file, "Test Duration: %s %s\n", t.duration.c_str(), t.accumDuration.c_str());
    if (byCategory)
        std::fputs("\nTest Name                   Cycles   Operations      Result Critical  Serious   Warning   "
                   "Information\n",
            file);
    else
        std::fprintf(file, "\n%25s   %-9s%-16s%-8s%-9s%-s\n", "Test Name", "Cycles", "Operations", "Result", "Errors",
            "Last Error");
    bool failed = false;
    for (const SummaryRow& row : summaryRows()) {
        const _resultinfo& r = resultfile.accum_results[row.slot];
        const bool fail = relaxedLoad(r.errors) != 0;
        failed = failed || fail;
        std::fprintf(file, "%25s   %-9d%-16s%-8s", row.name.c_str(), static_cast<int>(relaxedLoad(r.cycles)),
            operationsOf(row.slot).c_str(), fail ? "FAIL" : "PASS");
        if (byCategory) {
            const _classerror& c = resultfile.accum_classes[row.slot];
            std::fprintf(file, "%-10d%-10d%-10d%-10d\n", static_cast<int>(relaxedLoad(c.critical)),
                static_cast<int>(relaxedLoad(c.serious)), static_cast<int>(relaxedLoad(c.warning)),
                static_cast<int>(relaxedLoad(c.information)));
        } else {
            std::fprintf(file, "%-9d%-s\n", static_cast<int>(relaxedLoad(r.errors)), lastErrorText(row.slot).c_str());
        }
    }
    std::fputs(failed ? "TEST RUN FAILED\n" : "TEST RUN PASSED\n", file);
    if (resultfile.notes[0])
        std::fprintf(
            file, "\nNotes:\n%s\n%s\n%s\n", resultfile.machine_type, resultfile.machine_serial, resultfile.notes);
    flushLocked();
    return 1;
}

int CLogger::savehtmlresultsummary(FILE* file)
{
    std::lock_guard lock(m_mutex);
    return writeHtmlResultSummaryLocked(file);
}

int CLogger::writeHtmlResultSummaryLocked(FILE* file)
{
    if (!file)
        return 1;
    const bool byCategory = relaxedLoad(testconfig.view_errors_by_category) != 0;
    const RunTimes t = runTimes();
    std::fputs(kSpacer, file);
    std::fputs("<tr>\n", file);
    std::fputs(kTableOpen, file);
    titleRow(file, "RESULT SUMMARY");
    labelValueRow(file, "Test Start time", t.start + " " + t.accumStart);
    labelValueRow(file, "Test Stop time", t.stop + " ");
    labelValueRow(file, "Test Duration", t.duration + " " + t.accumDuration);
    std::fputs(kTableClose, file);

    std::fputs(kTableOpen, file);
    std::fputs("<tr>\n", file);
    auto header = [file](const char* width, const char* text) {
        std::fprintf(file, "<td width=\"%s\" bgcolor=\"#A7AA8A\"><strong>%s</strong></td>\n", width, text);
    };
    header("25%", "Test");
    header("15%", "Cycles");
    header("20%", "Operations");
    header("11%", "Result");
    if (byCategory) {
        header("10%", "Critical");
        header("10%", "Serious");
        header("10%", "Warning");
        header("10%", "Information");
    } else {
        header("15%", "Errors");
        header("25%", "Last Error");
    }
    std::fputs("</tr>\n", file);
    bool failed = false;
    for (const SummaryRow& row : summaryRows()) {
        const _resultinfo& r = resultfile.accum_results[row.slot];
        const bool fail = relaxedLoad(r.errors) != 0;
        failed = failed || fail;
        std::fputs("<tr>\n", file);
        std::fprintf(
            file, "<td width=\"25%%\" bgcolor=\"#A7AA8A\"><strong>%18s</strong></td>\n", HtmlEscape(row.name).c_str());
        std::fprintf(file, "<td width=\"12%%\" bgcolor=\"#FEFFA5\"><strong>%-9d</strong></td>\n",
            static_cast<int>(relaxedLoad(r.cycles)));
        std::fprintf(file, "<td width=\"17%%\" bgcolor=\"#FEFFA5\"><strong>%-16s</strong></td>\n",
            operationsOf(row.slot).c_str());
        std::fprintf(file, "<td width=\"11%%\" bgcolor=\"#FEFFA5\"><strong>%s</strong></td>\n", fail ? "FAIL" : "PASS");
        if (byCategory) {
            const _classerror& c = resultfile.accum_classes[row.slot];
            for (std::uint32_t n :
                { relaxedLoad(c.critical), relaxedLoad(c.serious), relaxedLoad(c.warning), relaxedLoad(c.information) })
                std::fprintf(
                    file, "<td width=\"10%%\" bgcolor=\"#FEFFA5\"><strong>%-10d</strong></td>\n", static_cast<int>(n));
        } else {
            std::fprintf(file, "<td width=\"10%%\" bgcolor=\"#FEFFA5\"><strong>%-9d</strong></td>\n",
                static_cast<int>(relaxedLoad(r.errors)));
            std::fprintf(file, "<td width=\"25%%\" bgcolor=\"#FEFFA5\"><strong>%s</strong></td>\n",
                HtmlEscape(lastErrorText(row.slot)).c_str());
        }
        std::fputs("</tr>\n", file);
    }
    std::fputs(kTableClose, file);

    std::fputs(kTableOpen, file);
    std::fputs("<tr>\n", file);
    std::fputs(failed ? "<td bgcolor=\"#FF0000\"><strong>TEST RUN FAILED</strong></td>\n"
                      : "<td bgcolor=\"#8F936C\"><strong>TEST RUN PASSED</strong></td>\n",
        file);
    std::fputs("</tr>\n", file);
    std::fputs(kTableClose, file);

    if (resultfile.machine_type[0] || resultfile.machine_serial[0] || resultfile.notes[0]) {
        std::fputs(kTableOpen, file);
        if (resultfile.notes[0]) {
            std::fputs("<tr>\n", file);
            std::fputs("<td width=\"25%\" bgcolor=\"#A7AA8A\"><strong>Notes</strong></td>\n", file);
            std::fputs("<td width=\"75%\" bgcolor=\"#FEFFA5\"><strong>", file);
            writeNotesHtml(file);
            std::fputs("</strong></td>\n", file);
            std::fputs("</tr>\n", file);
        }
        std::fputs(kTableClose, file);
    }
    flushLocked();
    return 1;
}

void CLogger::saveasciierrorsummary(FILE* file, bool script, bool separator, int failures)
{
    std::lock_guard lock(m_mutex);
    writeAsciiErrorSummaryLocked(file, script, separator, failures);
}

namespace {

struct SeriousError {
    int code;
    int severity;
    int count;
};

std::vector<SeriousError> seriousErrors()
{
    std::vector<SeriousError> list;
    for (int code = 0; code < kMaxErrorCodes; ++code) {
        const int sev = e_classification[code];
        const int count = relaxedLoad(resultfile.error_occurrences[code]);
        if ((sev == kSevSerious || sev == kSevCritical) && count > 0)
            list.push_back({ code, sev, count });
    }
    return list;
}

std::string firstOccurrence(int code)
{
    const char* f = resultfile.first_occurrence[code];
    return std::string(f, strnlen(f, sizeof resultfile.first_occurrence[code]));
}

} // namespace

void CLogger::writeAsciiErrorSummaryLocked(FILE* file, bool script, bool separator, int failures)
{
    if (!file)
        return;
    if (separator) {
        std::fprintf(file, "\n%s\n", std::string(101, script ? '=' : '-').c_str());
        return;
    }
    if (script) {
        std::fputs(
            "\n****************************\nSCRIPT SERIOUS ERROR SUMMARY\n****************************\n", file);
        if (failures > 0)
            std::fputs("SCRIPTED TESTS FAILED\n", file);
        else if (failures == 0)
            std::fputs("SCRIPTED TESTS PASSED\n", file);
    } else {
        std::fputs("\n*********************\nSERIOUS ERROR SUMMARY\n*********************\n", file);
    }
    for (const SeriousError& e : seriousErrors())
        std::fprintf(file, "%s, %s: %s (x %d)\n", firstOccurrence(e.code).c_str(), szErrorClass[e.severity],
            e_strings[e.code], e.count);
    flushLocked();
}

void CLogger::savehtmlerrorsummary(FILE* file, bool script, int failures)
{
    std::lock_guard lock(m_mutex);
    writeHtmlErrorSummaryLocked(file, script, failures);
}

void CLogger::writeHtmlErrorSummaryLocked(FILE* file, bool script, int failures)
{
    if (!file)
        return;
    std::fputs(kTableOpen, file);
    if (script) {
        titleRow(file, "SCRIPT SERIOUS ERROR SUMMARY");
        if (failures > 0)
            std::fputs("<tr>\n<td colspan=\"2\" width=\"100%\" bgcolor=\"#FF0000\"><strong>SCRIPTED TESTS "
                       "FAILED</strong></td>\n</tr>\n",
                file);
        else if (failures == 0)
            titleRow(file, "SCRIPTED TESTS PASSED");
    } else {
        titleRow(file, "SERIOUS ERROR SUMMARY");
    }
    for (const SeriousError& e : seriousErrors()) {
        std::fputs("<tr>\n", file);
        std::fprintf(file, "<td width=\"100%%\" bgcolor=\"#FEFFA5\"><strong>%s, %s: %s (x %d)</br>\n",
            firstOccurrence(e.code).c_str(), szErrorClass[e.severity], HtmlEscape(e_strings[e.code]).c_str(), e.count);
        std::fputs("</tr>\n", file);
    }
    std::fputs(kTableClose, file);
    std::fputs(kSpacer, file);
    flushLocked();
}

int CLogger::saveresultsummary()
{
    std::lock_guard lock(m_mutex);
    if (relaxedLoad(testconfig.log_file_format) == 2) {
        writeDetailedHeaderLocked(g_fpLogFile, false, 2);
        relaxedStore(testconfig.log_header_written, std::uint8_t { 0 });
        writeHtmlResultSummaryLocked(g_fpLogFile);
    } else {
        relaxedStore(testconfig.log_header_written, std::uint8_t { 0 });
        writeAsciiResultSummaryLocked(g_fpLogFile);
    }
    relaxedAdd(testconfig.log_line_count, 30);
    if (relaxedLoad(testconfig.trace_level) >= 3) {
        relaxedStore(testconfig.trace_header_written, std::uint8_t { 0 });
        writeAsciiResultSummaryLocked(g_fpActivityLog);
        relaxedAdd(testconfig.trace_line_count, 30);
    }
    SaveLastUsedConfig(dirname);
    return 1;
}

void CLogger::saveerrorsummary(bool script, bool separator, int failures)
{
    std::lock_guard lock(m_mutex);
    if (relaxedLoad(testconfig.log_file_format) == 2) {
        if (!separator) {
            relaxedStore(testconfig.log_header_written, std::uint8_t { 0 });
            writeHtmlErrorSummaryLocked(g_fpLogFile, script, failures);
            relaxedAdd(testconfig.log_line_count, 30);
        }
    } else {
        relaxedStore(testconfig.log_header_written, std::uint8_t { 0 });
        writeAsciiErrorSummaryLocked(g_fpLogFile, script, separator, failures);
        relaxedAdd(testconfig.log_line_count, 30);
    }
    if (relaxedLoad(testconfig.trace_level) >= 3) {
        relaxedStore(testconfig.trace_header_written, std::uint8_t { 0 });
        writeAsciiErrorSummaryLocked(g_fpActivityLog, script, separator, failures);
        relaxedAdd(testconfig.trace_line_count, 30);
    }
    SaveLastUsedConfig(dirname);
}

void CLogger::SaveLogs()
{
    AccumulateResults(dirname);
}

void CLogger::WriteASCIILog(FILE* file)
{
    if (!file)
        return;
    std::lock_guard lock(m_mutex);
    std::fputs("\n******************\nDETAILED EVENT LOG\n******************\n", file);
    for (int i = 0; i < m_numLines; ++i) {
        const char* line = &m_lines[static_cast<std::size_t>((m_firstLine + i) % kMaxLines) * kLineSize];
        std::fprintf(file, "%s\n", line);
    }
}

void CLogger::WriteHTMLLog(FILE* file)
{
    if (!file)
        return;
    std::lock_guard lock(m_mutex);
    std::fputs(kTableOpen, file);
    std::fputs("<tr>\n<td bgcolor=\"#8F936C\"><strong>DETAILED EVENT LOG</strong></td>\n<tr>\n", file);
    for (int i = 0; i < m_numLines; ++i) {
        const char* line = &m_lines[static_cast<std::size_t>((m_firstLine + i) % kMaxLines) * kLineSize];
        WriteHtmlEventRow(file, line);
    }
    std::fputs(kTableClose, file);
}
