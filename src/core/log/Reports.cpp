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
#include "ProcessRun.h"
#include "Reports.h"
#include "Results.h"
#include "RunContext.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TestSlots.h"
#include "EngineInfo.h"

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

} // namespace

SystemFacts GatherSystemFacts(const _resultfile& results)
{
    SystemFacts f;
    f.issue = TranslateEtcIssue(gEtcIssuePath);
    f.machineType = std::string(results.machine_type, strnlen(results.machine_type, sizeof results.machine_type));
    f.machineSerial
        = std::string(results.machine_serial, strnlen(results.machine_serial, sizeof results.machine_serial));
    f.networkName = SystemInfo_uname("-n");
    const std::time_t now = gReportClock();
    char buf[32];
    f.time = ctime_r(&now, buf) ? buf : "\n";
    // Each call reuses the same buffer: copy one before asking for the next.
    const std::string kernel = SystemInfo_uname("-s");
    const std::string release = SystemInfo_uname("-r");
    f.os = kernel + " (" + release + ")";
    const _CPUINFO& c = results.cpu_info;
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
    const _VIDEOINFOPM& v = results.video_info;
    f.videoCard = std::string(v.card_name, strnlen(v.card_name, sizeof v.card_name));
    f.resolution = Format("%dx%dx%d", v.width, v.height, v.depth);
    return f;
}

namespace {

// The health events of `code`, as the serious error summary lists them
// under the code's line: at most kShown, then how many more.
std::vector<std::string> healthEventTexts(const HealthReport& health, int code)
{
    constexpr int kShown = 10;
    std::vector<std::string> texts;
    int more = 0;
    for (const HealthEvent& e : health.events) {
        if (e.code != code)
            continue;
        if (static_cast<int>(texts.size()) < kShown)
            texts.push_back(e.text);
        else
            ++more;
    }
    if (more > 0)
        texts.push_back(Format("... and %d more", more));
    return texts;
}

} // namespace

namespace {

// The block's facts; the network name is kept in the results record too.
SystemFacts gatherFacts()
{
    SystemFacts f = GatherSystemFacts(resultfile);
    std::snprintf(resultfile.network_name, sizeof resultfile.network_name, "%s", f.networkName.c_str());
    f.networkName = resultfile.network_name;
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

} // namespace

// The engines whose units read their texts from the system tables; used
// for descriptors that give no unitText of their own.
extern const EngineInfo kDiskEngine, kNetworkEngine, kCdDvdEngine, kSerialPortEngine, kParallelPortEngine;

namespace {

std::string unitTextOf(const RunContext& ctx, const EngineInfo& engine, int unit)
{
    if (engine.unitText)
        return engine.unitText(ctx, unit);
    if (&engine == &kDiskEngine)
        return std::string(": ") + gFileSystemStructPtr[unit].alias;
    if (&engine == &kNetworkEngine)
        return std::string(": ") + ctx.config.network_address[unit];
    if (&engine == &kCdDvdEngine)
        return std::string(": ") + gMultimediaStructPtr[unit].alias;
    if (&engine == &kSerialPortEngine)
        return Format(": ttyS%d", unit);
    if (&engine == &kParallelPortEngine)
        return Format(": lp%d", relaxedLoad(ctx.config.parallel_port_number));
    return "";
}

bool isSwitchSlot(int slot)
{
    for (const EngineInfo* engine : Engines())
        if (engine->switchSlot == slot)
            return true;
    return false;
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

namespace {

// The process's own records, for the log's report calls of a log whose
// front end set no run.
const RunContext& processContext(const RunContext* set)
{
    if (set)
        return *set;
    static ProcessRun* const run = new ProcessRun;
    return run->ctx;
}

} // namespace

ReportWriter::ReportWriter(const RunContext& ctx)
    : m_config(std::make_unique<_testconfig>())
    , m_results(std::make_unique<_resultfile>())
{
    recordCopy(*m_config, ctx.config);
    recordCopy(*m_results, ctx.results);
    m_health = ctx.run.health.report();
    const _testconfig& cfg = *m_config;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (slot == HealthSlot() && m_health.monitored) {
            m_rows.push_back({ slot, SlotName(slot), 1.0f, "" });
            continue;
        }
        if (!cfg.test_enabled[slot] || isSwitchSlot(slot))
            continue;
        const EngineInfo* engine = EngineFor(slot);
        std::string name = SlotName(slot);
        std::string unitText;
        float operationSize = 1.0f;
        if (engine) {
            if (engine->switchSlot >= 0 && cfg.test_enabled[engine->switchSlot] != 1)
                continue;
            const int unit = engine->unitOf(slot);
            unitText = unitTextOf(ctx, *engine, unit);
            name += unitText;
            if (engine == &kDiskEngine)
                operationSize = static_cast<float>(gFileSystemStructPtr[unit].vfs.f_bsize);
        } else if (!SummaryListsPlainSlot(slot, cfg.usb_plug_count)) {
            continue;
        }
        if (unitText.compare(0, 2, ": ") == 0)
            unitText.erase(0, 2);
        m_rows.push_back({ slot, name.substr(0, kNameWidth), operationSize, unitText });
    }

    const _resultfile& r = *m_results;
    const long start = r.run_start_time;
    long stop = r.run_stop_time;
    if (stop == 0)
        stop = static_cast<long>(gReportClock());
    const bool accumulated = cfg.pretest_log_mode == 1 && r.accum_start_time != 0;
    m_start = start;
    m_stop = stop;
    m_times.start = start ? ctimeText(start) : "-";
    if (accumulated)
        m_times.accumStart = "(Accumulated results start time: " + ctimeText(r.accum_start_time) + ")";
    m_times.stop = ctimeText(stop);
    m_times.duration = (start && stop - start >= 0) ? durationText(stop - start) : "-";
    if (accumulated)
        m_times.accumDuration = "(Accumulated results duration: " + durationText(r.accum_duration) + ")";
}

ReportWriter::~ReportWriter() = default;

std::string ReportWriter::operationsOf(const Row& row) const
{
    return ReportOperationsText(static_cast<float>(m_results->accum_results[row.slot].op_count) * row.operationSize);
}

double ReportWriter::operationCount(const Row& row) const
{
    return static_cast<double>(m_results->accum_results[row.slot].op_count) * row.operationSize;
}

bool ReportWriter::failed(const Row& row) const
{
    return m_results->accum_results[row.slot].errors != 0;
}

std::string ReportWriter::lastErrorText(int slot) const
{
    const std::uint32_t code = m_results->accum_results[slot].last_error;
    return code < kMaxErrorCodes ? e_strings[code] : "";
}

std::vector<std::pair<std::string, std::string>> ReportWriter::healthLines() const
{
    std::vector<std::pair<std::string, std::string>> lines;
    const HealthReport& h = m_health;
    if (!h.monitored)
        return lines;
    auto state = [](const HealthSource& source) -> std::string {
        if (!source.watched)
            return "not watched";
        return source.available ? "" : "not available (" + source.note + ")";
    };
    if (const std::string st = state(h.temperatures); !st.empty()) {
        lines.emplace_back("Temperatures", st);
    } else {
        const char* label = "Temperatures";
        for (const ChipTemperature& c : h.chips) {
            lines.emplace_back(label,
                Format("%s %.1f C at the start, peak %.1f C at %s", c.chip.c_str(), c.start, c.peak,
                    ClockText(c.peakTime).c_str()));
            label = "";
        }
        lines.emplace_back("Thermal limit",
            h.thermalLimit > 0 ? Format("%d C%s", h.thermalLimit, h.thermalStop ? ", passed: run stopped" : "")
                               : std::string("none"));
    }
    const std::string ecc = state(h.ecc);
    lines.emplace_back("ECC",
        !ecc.empty() ? ecc
                     : Format("%llu corrected, %llu uncorrected errors during the run",
                         static_cast<unsigned long long>(h.correctedErrors),
                         static_cast<unsigned long long>(h.uncorrectedErrors)));
    const std::string kernel = state(h.kernelLog);
    int kernelErrors = 0;
    for (const HealthEvent& e : h.events)
        kernelErrors += e.code >= kHealthKernelMachineCheck && e.code <= kHealthKernelIo ? 1 : 0;
    lines.emplace_back(
        "Kernel log", !kernel.empty() ? kernel : Format("%d hardware errors reported during the run", kernelErrors));
    return lines;
}

void ReportWriter::writeNotesHtml(FILE* f) const
{
    std::fputs(HtmlEscape(m_results->machine_type).c_str(), f);
    std::fputs("<br>", f);
    std::fputs(HtmlEscape(m_results->machine_serial).c_str(), f);
    std::fputs("<br>", f);
    for (const char* p = m_results->notes; *p; ++p) {
        if (*p == '\n')
            std::fputs("<br>", f);
        else
            std::fputs(HtmlEscape(std::string(1, *p)).c_str(), f);
    }
}

void ReportWriter::writeAsciiResultSummary(FILE* file) const
{
    if (!file)
        return;
    const bool byCategory = m_config->view_errors_by_category != 0;
    const Times& t = m_times;
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
    bool runFailed = false;
    for (const Row& row : m_rows) {
        const _resultinfo& r = m_results->accum_results[row.slot];
        const bool fail = failed(row);
        runFailed = runFailed || fail;
        std::fprintf(file, "%25s   %-9d%-16s%-8s", row.name.c_str(), static_cast<int>(r.cycles),
            operationsOf(row).c_str(), fail ? "FAIL" : "PASS");
        if (byCategory) {
            const _classerror& c = m_results->accum_classes[row.slot];
            std::fprintf(file, "%-10d%-10d%-10d%-10d\n", static_cast<int>(c.critical), static_cast<int>(c.serious),
                static_cast<int>(c.warning), static_cast<int>(c.information));
        } else {
            std::fprintf(file, "%-9d%-s\n", static_cast<int>(r.errors), lastErrorText(row.slot).c_str());
        }
    }
    std::fputs(runFailed ? "TEST RUN FAILED\n" : "TEST RUN PASSED\n", file);
    if (const auto lines = healthLines(); !lines.empty()) {
        std::fputs("\nHARDWARE HEALTH\n", file);
        for (const auto& [label, text] : lines)
            std::fprintf(file, "%-14s %s\n", label.empty() ? "" : (label + ":").c_str(), text.c_str());
    }
    if (m_results->notes[0])
        std::fprintf(
            file, "\nNotes:\n%s\n%s\n%s\n", m_results->machine_type, m_results->machine_serial, m_results->notes);
}

void ReportWriter::writeHtmlResultSummary(FILE* file) const
{
    if (!file)
        return;
    const bool byCategory = m_config->view_errors_by_category != 0;
    const Times& t = m_times;
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
    bool runFailed = false;
    for (const Row& row : m_rows) {
        const _resultinfo& r = m_results->accum_results[row.slot];
        const bool fail = failed(row);
        runFailed = runFailed || fail;
        std::fputs("<tr>\n", file);
        std::fprintf(
            file, "<td width=\"25%%\" bgcolor=\"#A7AA8A\"><strong>%18s</strong></td>\n", HtmlEscape(row.name).c_str());
        std::fprintf(
            file, "<td width=\"12%%\" bgcolor=\"#FEFFA5\"><strong>%-9d</strong></td>\n", static_cast<int>(r.cycles));
        std::fprintf(
            file, "<td width=\"17%%\" bgcolor=\"#FEFFA5\"><strong>%-16s</strong></td>\n", operationsOf(row).c_str());
        std::fprintf(file, "<td width=\"11%%\" bgcolor=\"#FEFFA5\"><strong>%s</strong></td>\n", fail ? "FAIL" : "PASS");
        if (byCategory) {
            const _classerror& c = m_results->accum_classes[row.slot];
            for (std::uint32_t n : { c.critical, c.serious, c.warning, c.information })
                std::fprintf(
                    file, "<td width=\"10%%\" bgcolor=\"#FEFFA5\"><strong>%-10d</strong></td>\n", static_cast<int>(n));
        } else {
            std::fprintf(file, "<td width=\"10%%\" bgcolor=\"#FEFFA5\"><strong>%-9d</strong></td>\n",
                static_cast<int>(r.errors));
            std::fprintf(file, "<td width=\"25%%\" bgcolor=\"#FEFFA5\"><strong>%s</strong></td>\n",
                HtmlEscape(lastErrorText(row.slot)).c_str());
        }
        std::fputs("</tr>\n", file);
    }
    std::fputs(kTableClose, file);

    std::fputs(kTableOpen, file);
    std::fputs("<tr>\n", file);
    std::fputs(runFailed ? "<td bgcolor=\"#FF0000\"><strong>TEST RUN FAILED</strong></td>\n"
                         : "<td bgcolor=\"#8F936C\"><strong>TEST RUN PASSED</strong></td>\n",
        file);
    std::fputs("</tr>\n", file);
    std::fputs(kTableClose, file);

    if (const auto lines = healthLines(); !lines.empty()) {
        std::fputs(kTableOpen, file);
        titleRow(file, "HARDWARE HEALTH");
        for (const auto& [label, text] : lines)
            labelValueRow(file, label.c_str(), HtmlEscape(text));
        std::fputs(kTableClose, file);
    }

    if (m_results->machine_type[0] || m_results->machine_serial[0] || m_results->notes[0]) {
        std::fputs(kTableOpen, file);
        if (m_results->notes[0]) {
            std::fputs("<tr>\n", file);
            std::fputs("<td width=\"25%\" bgcolor=\"#A7AA8A\"><strong>Notes</strong></td>\n", file);
            std::fputs("<td width=\"75%\" bgcolor=\"#FEFFA5\"><strong>", file);
            writeNotesHtml(file);
            std::fputs("</strong></td>\n", file);
            std::fputs("</tr>\n", file);
        }
        std::fputs(kTableClose, file);
    }
}

std::vector<ReportWriter::SeriousError> ReportWriter::seriousErrors() const
{
    std::vector<SeriousError> list;
    for (int code = 0; code < kMaxErrorCodes; ++code) {
        const int sev = e_classification[code];
        const int count = m_results->error_occurrences[code];
        if ((sev == kSevSerious || sev == kSevCritical) && count > 0)
            list.push_back({ code, sev, count });
    }
    return list;
}

std::string ReportWriter::firstOccurrence(int code) const
{
    const char* f = m_results->first_occurrence[code];
    return std::string(f, strnlen(f, sizeof m_results->first_occurrence[code]));
}

void ReportWriter::writeAsciiErrorSummary(FILE* file, bool script, bool separator, int failures) const
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
    for (const SeriousError& e : seriousErrors()) {
        std::fprintf(file, "%s, %s: %s (x %d)\n", firstOccurrence(e.code).c_str(), szErrorClass[e.severity],
            e_strings[e.code], e.count);
        for (const std::string& text : healthEventTexts(m_health, e.code))
            std::fprintf(file, "    %s\n", text.c_str());
    }
}

void ReportWriter::writeHtmlErrorSummary(FILE* file, bool script, int failures) const
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
        for (const std::string& text : healthEventTexts(m_health, e.code))
            std::fprintf(file, "&nbsp;&nbsp;&nbsp;&nbsp;%s</br>\n", HtmlEscape(text).c_str());
        std::fputs("</tr>\n", file);
    }
    std::fputs(kTableClose, file);
    std::fputs(kSpacer, file);
}

void CLogger::SetReportContext(const RunContext* ctx)
{
    m_reportContext = ctx;
}

int CLogger::saveasciiresultsummary(FILE* file, bool /*flag*/)
{
    const ReportWriter report(processContext(m_reportContext));
    std::lock_guard lock(m_mutex);
    report.writeAsciiResultSummary(file);
    flushLocked();
    return 1;
}

int CLogger::savehtmlresultsummary(FILE* file)
{
    const ReportWriter report(processContext(m_reportContext));
    std::lock_guard lock(m_mutex);
    report.writeHtmlResultSummary(file);
    flushLocked();
    return 1;
}

void CLogger::saveasciierrorsummary(FILE* file, bool script, bool separator, int failures)
{
    const ReportWriter report(processContext(m_reportContext));
    std::lock_guard lock(m_mutex);
    report.writeAsciiErrorSummary(file, script, separator, failures);
    if (file && !separator)
        flushLocked();
}

void CLogger::savehtmlerrorsummary(FILE* file, bool script, int failures)
{
    const ReportWriter report(processContext(m_reportContext));
    std::lock_guard lock(m_mutex);
    report.writeHtmlErrorSummary(file, script, failures);
    if (file)
        flushLocked();
}

int CLogger::saveresultsummary()
{
    {
        std::lock_guard lock(m_mutex);
        const bool html = relaxedLoad(testconfig.log_file_format) == 2;
        if (html)
            writeDetailedHeaderLocked(g_fpLogFile, false, 2);
        relaxedStore(testconfig.log_header_written, std::uint8_t { 0 });
        const ReportWriter report(processContext(m_reportContext));
        if (html)
            report.writeHtmlResultSummary(g_fpLogFile);
        else
            report.writeAsciiResultSummary(g_fpLogFile);
        if (g_fpLogFile)
            flushLocked();
        relaxedAdd(testconfig.log_line_count, 30);
        if (relaxedLoad(testconfig.trace_level) >= 3) {
            relaxedStore(testconfig.trace_header_written, std::uint8_t { 0 });
            report.writeAsciiResultSummary(g_fpActivityLog);
            if (g_fpActivityLog)
                flushLocked();
            relaxedAdd(testconfig.trace_line_count, 30);
        }
    }
    saveConfig();
    return 1;
}

void CLogger::saveerrorsummary(bool script, bool separator, int failures)
{
    {
        std::lock_guard lock(m_mutex);
        const ReportWriter report(processContext(m_reportContext));
        if (relaxedLoad(testconfig.log_file_format) == 2) {
            if (!separator) {
                relaxedStore(testconfig.log_header_written, std::uint8_t { 0 });
                report.writeHtmlErrorSummary(g_fpLogFile, script, failures);
                if (g_fpLogFile)
                    flushLocked();
                relaxedAdd(testconfig.log_line_count, 30);
            }
        } else {
            relaxedStore(testconfig.log_header_written, std::uint8_t { 0 });
            report.writeAsciiErrorSummary(g_fpLogFile, script, separator, failures);
            if (g_fpLogFile && !separator)
                flushLocked();
            relaxedAdd(testconfig.log_line_count, 30);
        }
        if (relaxedLoad(testconfig.trace_level) >= 3) {
            relaxedStore(testconfig.trace_header_written, std::uint8_t { 0 });
            report.writeAsciiErrorSummary(g_fpActivityLog, script, separator, failures);
            if (g_fpActivityLog && !separator)
                flushLocked();
            relaxedAdd(testconfig.trace_line_count, 30);
        }
    }
    saveConfig();
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
