#include "HealthMonitor.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "DebugTrace.h"
#include "MessageBox.h"
#include "ResultRecord.h"
#include "Results.h"
#include "RunContext.h"
#include "TestSlots.h"

#include <sensors/error.h>
#include <sensors/sensors.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr const char* kName = "Hardware health";

// ---- temperatures (libsensors) ----

void quietParseError(const char*, int) { }
void quietParseErrorWfn(const char*, const char*, int) { }

// The temperature inputs of every chip libsensors finds. libsensors keeps
// process-wide state: one of these at a time.
class Sensors {
public:
    // False with `why` when the library finds nothing to read.
    bool open(std::string& why)
    {
        sensors_parse_error = quietParseError;
        sensors_parse_error_wfn = quietParseErrorWfn;
        if (const int err = sensors_init(nullptr); err != 0) {
            why = std::string("sensor library: ") + sensors_strerror(err);
            return false;
        }
        m_open = true;
        int nr = 0;
        while (const sensors_chip_name* chip = sensors_get_detected_chips(nullptr, &nr)) {
            Chip c { chip, {}, {}, {} };
            char name[128];
            if (sensors_snprintf_chip_name(name, sizeof name, chip) < 0)
                continue;
            c.name = name;
            int f = 0;
            while (const sensors_feature* feature = sensors_get_features(chip, &f)) {
                if (feature->type != SENSORS_FEATURE_TEMP)
                    continue;
                if (const sensors_subfeature* input
                    = sensors_get_subfeature(chip, feature, SENSORS_SUBFEATURE_TEMP_INPUT))
                    c.inputs.push_back(input->number);
            }
            if (!c.inputs.empty())
                m_chips.push_back(std::move(c));
        }
        if (m_chips.empty()) {
            why = "no temperature sensors found";
            return false;
        }
        // Chips without a bus of their own may share a name: the sysfs
        // directory tells them apart.
        for (Chip& c : m_chips) {
            const auto same = std::count_if(
                m_chips.begin(), m_chips.end(), [&](const Chip& other) { return other.name == c.name; });
            if (same > 1 && c.chip->path)
                c.unique = c.name + " ("
                    + std::string(std::strrchr(c.chip->path, '/') ? std::strrchr(c.chip->path, '/') + 1 : c.chip->path)
                    + ")";
        }
        return true;
    }
    ~Sensors()
    {
        if (m_open)
            sensors_cleanup();
    }

    // Each chip's hottest readable input; chips with none are left out.
    std::vector<std::pair<std::string, double>> hottest() const
    {
        std::vector<std::pair<std::string, double>> out;
        for (const Chip& c : m_chips) {
            bool any = false;
            double max = 0;
            for (int number : c.inputs) {
                double value = 0;
                if (sensors_get_value(c.chip, number, &value) == 0 && (!any || value > max)) {
                    max = value;
                    any = true;
                }
            }
            if (any)
                out.emplace_back(c.unique.empty() ? c.name : c.unique, max);
        }
        return out;
    }

private:
    struct Chip {
        const sensors_chip_name* chip;
        std::string name;
        std::string unique; // the name with its directory, when shared
        std::vector<int> inputs;
    };
    bool m_open = false;
    std::vector<Chip> m_chips;
};

// ---- ECC (EDAC counters in sysfs) ----

bool readNumber(const std::string& path, std::uint64_t& value)
{
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f)
        return false;
    unsigned long long v = 0;
    const bool ok = std::fscanf(f, "%llu", &v) == 1;
    std::fclose(f);
    if (ok)
        value = v;
    return ok;
}

std::string readLine(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "re");
    if (!f)
        return {};
    char buf[256] = {};
    const bool ok = std::fgets(buf, sizeof buf, f) != nullptr;
    std::fclose(f);
    if (!ok)
        return {};
    std::string s(buf);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

// Entries of `dir` whose names start with `prefix` and go on with a digit,
// sorted.
std::vector<std::string> numbered(const std::string& dir, const char* prefix)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return names;
    const std::size_t n = std::strlen(prefix);
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > n && name.compare(0, n, prefix) == 0 && std::isdigit(static_cast<unsigned char>(name[n])))
            names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// One counted place: a controller's total or one DIMM (a rank, or a
// csrow's channel on older drivers).
struct EccCount {
    std::string controller; // "mc0"
    std::string dimm; // the DIMM's label, empty for the controller's total
    std::uint64_t ce = 0;
    std::uint64_t ue = 0;
};

std::vector<EccCount> readEdac(const std::string& root)
{
    std::vector<EccCount> counts;
    for (const std::string& mc : numbered(root, "mc")) {
        const std::string dir = root + "/" + mc;
        EccCount total { mc, {}, 0, 0 };
        if (!readNumber(dir + "/ce_count", total.ce) && !readNumber(dir + "/ue_count", total.ue))
            continue;
        readNumber(dir + "/ue_count", total.ue);
        counts.push_back(total);
        bool perDimm = false;
        for (const char* kind : { "dimm", "rank" }) {
            for (const std::string& dimm : numbered(dir, kind)) {
                const std::string d = dir + "/" + dimm;
                EccCount c { mc, readLine(d + "/dimm_label"), 0, 0 };
                if (c.dimm.empty())
                    c.dimm = dimm;
                const bool ce = readNumber(d + "/dimm_ce_count", c.ce);
                const bool ue = readNumber(d + "/dimm_ue_count", c.ue);
                if (ce || ue) {
                    counts.push_back(c);
                    perDimm = true;
                }
            }
        }
        if (perDimm)
            continue;
        for (const std::string& row : numbered(dir, "csrow")) {
            const std::string r = dir + "/" + row;
            for (int ch = 0; ch < 16; ++ch) {
                EccCount c { mc, readLine(r + "/ch" + std::to_string(ch) + "_dimm_label"), 0, 0 };
                if (!readNumber(r + "/ch" + std::to_string(ch) + "_ce_count", c.ce))
                    break;
                if (c.dimm.empty())
                    c.dimm = row + " channel " + std::to_string(ch);
                counts.push_back(c);
            }
        }
    }
    return counts;
}

// ---- the kernel log ----

// The message of one /dev/kmsg record ("6,339,5140900,-;text\n KEY=v\n").
std::string_view kmsgMessage(std::string_view record)
{
    const auto semicolon = record.find(';');
    const auto newline = record.find('\n');
    if (semicolon != std::string_view::npos && semicolon < newline)
        record.remove_prefix(semicolon + 1);
    return record.substr(0, record.find('\n'));
}

bool has(std::string_view text, const char* needle)
{
    return text.find(needle) != std::string_view::npos;
}

} // namespace

bool KernelLineEvent(std::string_view record, int& code, bool& fails)
{
    const std::string_view m = kmsgMessage(record);
    fails = true;
    if (has(m, "Hardware Error")) {
        code = kHealthKernelMachineCheck;
    } else if (has(m, "EDAC")) {
        if (has(m, " UE ") || has(m, "ncorrected"))
            code = kHealthKernelEdac;
        else if (has(m, " CE ") || has(m, "orrected"))
            code = kHealthKernelWarning, fails = false;
        else
            return false;
    } else if (has(m, "AER:") || has(m, "PCIe Bus Error")) {
        if (has(m, "severity=Corrected"))
            code = kHealthKernelWarning, fails = false;
        else
            code = kHealthKernelPcie;
    } else if ((has(m, "I/O error") && (has(m, "dev ") || has(m, "blk_update_request")))
        || has(m, "critical medium error")) {
        code = kHealthKernelIo;
    } else {
        return false;
    }
    return true;
}

// ---- the monitor ----

std::string ClockText(std::time_t t)
{
    tm local {};
    localtime_r(&t, &local);
    return Format("%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
}

const ChipTemperature* HealthReport::hottest() const
{
    const ChipTemperature* best = nullptr;
    for (const ChipTemperature& c : chips)
        if (!best || c.current > best->current)
            best = &c;
    return best;
}

std::string HealthStatusText(const HealthReport& report)
{
    if (!report.monitored)
        return {};
    std::string text;
    auto part = [&](const std::string& s) { text += (text.empty() ? "" : "  ") + s; };
    if (report.temperatures.watched) {
        if (const ChipTemperature* hot = report.hottest())
            part(Format("Hottest %.1f C %s (peak %.1f C)", hot->current, hot->chip.c_str(), hot->peak));
        else
            part("Temperatures not available");
    }
    if (report.ecc.watched)
        part(report.ecc.available ? Format("ECC %llu corrected, %llu uncorrected",
                 static_cast<unsigned long long>(report.correctedErrors),
                 static_cast<unsigned long long>(report.uncorrectedErrors))
                                  : std::string("ECC not available"));
    if (report.kernelLog.watched)
        part(report.kernelLog.available ? Format("Kernel %d hardware errors", report.failures)
                                        : std::string("Kernel log not available"));
    return text;
}

struct HealthMonitor::State {
    const RunContext* ctx = nullptr;
    HealthSettings settings;
    std::unique_ptr<Sensors> sensors;
    std::vector<EccCount> ecc;
    int kmsgFd = -1;
    // False once the source ends (a file or pipe in place of the kernel's
    // log): it is then read at each sample instead of polled.
    bool kmsgPolled = true;
    int slot = 0;
};

HealthMonitor::HealthMonitor() = default;

HealthMonitor::~HealthMonitor()
{
    // The run's context may be gone already: nothing is logged.
    shutDown();
    m_state.reset();
}

void HealthMonitor::shutDown()
{
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        (void)!::write(m_wakeFd, &one, sizeof one);
        m_thread.join();
    }
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_wakeFd = -1;
    if (m_state && m_state->kmsgFd >= 0) {
        ::close(m_state->kmsgFd);
        m_state->kmsgFd = -1;
    }
}

namespace {

void logLine(const RunContext& ctx, const std::string& text, int code = 0)
{
    if (ctx.log)
        ctx.log->AddLine(text.c_str(), -1, code, kName, 1);
}

} // namespace

void HealthMonitor::start(const RunContext& ctx)
{
    stop();
    const HealthSettings& settings = ctx.settings<HealthSettings>();
    {
        std::lock_guard lock(m_mutex);
        m_report = HealthReport {};
        m_report.monitored = settings.monitor;
        m_report.thermalLimit = settings.thermalLimit;
    }
    m_stopRequested = false;
    m_monitored = settings.monitor;
    if (!settings.monitor)
        return;

    m_state = std::make_unique<State>();
    State& s = *m_state;
    s.ctx = &ctx;
    s.settings = settings;
    s.slot = HealthSlot();
    HealthSource temperatures, ecc, kernelLog;

    temperatures.watched = settings.temperatures;
    if (settings.temperatures) {
        auto sensors = std::make_unique<Sensors>();
        temperatures.available = sensors->open(temperatures.note);
        if (temperatures.available)
            s.sensors = std::move(sensors);
    }
    ecc.watched = settings.ecc;
    if (settings.ecc) {
        s.ecc = readEdac(settings.edacRoot);
        ecc.available = !s.ecc.empty();
        if (!ecc.available)
            ecc.note = "no EDAC memory controllers in " + settings.edacRoot;
    }
    kernelLog.watched = settings.kernelLog;
    if (settings.kernelLog) {
        s.kmsgFd = ::open(settings.kmsgPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (s.kmsgFd < 0) {
            kernelLog.note = settings.kmsgPath + ": " + std::strerror(errno)
                + (errno == EPERM || errno == EACCES ? " (needs CAP_SYSLOG)" : "");
        } else {
            // Only what the kernel logs from now on belongs to this run.
            (void)::lseek(s.kmsgFd, 0, SEEK_END);
            kernelLog.available = true;
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_report.temperatures = temperatures;
        m_report.ecc = ecc;
        m_report.kernelLog = kernelLog;
    }

    auto notAvailable = [&](const char* what, const HealthSource& source) {
        if (source.watched && !source.available)
            logLine(ctx, std::string(what) + ": not available (" + source.note + ")");
    };
    notAvailable("Temperatures", temperatures);
    notAvailable("ECC", ecc);
    notAvailable("Kernel log", kernelLog);
    sample();
    if (temperatures.available) {
        std::string text = "Temperatures at start:";
        for (const ChipTemperature& c : report().chips)
            text += Format(" %s %.1f C,", c.chip.c_str(), c.start);
        text.pop_back();
        logLine(ctx, text);
    }
    if (ecc.available) {
        int controllers = 0;
        std::uint64_t ce = 0, ue = 0;
        for (const EccCount& c : s.ecc) {
            if (c.dimm.empty()) {
                ++controllers;
                ce += c.ce;
                ue += c.ue;
            }
        }
        logLine(ctx,
            Format("ECC: %d memory controllers, %llu corrected and %llu uncorrected errors before the run", controllers,
                static_cast<unsigned long long>(ce), static_cast<unsigned long long>(ue)));
    }
    if (kernelLog.available)
        logLine(ctx, "Kernel log: watching " + settings.kmsgPath + " for hardware errors");

    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { loop(); });
}

void HealthMonitor::stop()
{
    if (!m_state)
        return;
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        (void)!::write(m_wakeFd, &one, sizeof one);
        m_thread.join();
    }
    readKernelLog();
    sample();
    for (const ChipTemperature& c : report().chips)
        logLine(*m_state->ctx,
            Format("Peak temperature %s: %.1f C at %s", c.chip.c_str(), c.peak, ClockText(c.peakTime).c_str()));
    shutDown();
    m_state.reset();
}

HealthReport HealthMonitor::report() const
{
    std::lock_guard lock(m_mutex);
    return m_report;
}

void HealthMonitor::raise(int code, bool fails, const std::string& text)
{
    State& s = *m_state;
    {
        std::lock_guard lock(m_mutex);
        if (m_report.events.size() < HealthReport::kMaxEvents)
            m_report.events.push_back({ std::time(nullptr), code, fails, text });
        ++m_report.eventCount;
        if (fails)
            ++m_report.failures;
    }
    if (fails)
        RecordErrorText(*s.ctx, s.slot, code, kName, text);
    else
        RecordWarningText(*s.ctx, s.slot, code, kName, text);
}

void HealthMonitor::sample()
{
    State& s = *m_state;
    const std::time_t now = std::time(nullptr);
    if (s.sensors) {
        const auto readings = s.sensors->hottest();
        std::vector<std::string> over;
        {
            std::lock_guard lock(m_mutex);
            for (const auto& reading : readings) {
                const std::string& chip = reading.first;
                const double value = reading.second;
                auto it = std::find_if(m_report.chips.begin(), m_report.chips.end(),
                    [&](const ChipTemperature& c) { return c.chip == chip; });
                if (it == m_report.chips.end()) {
                    m_report.chips.push_back({ chip, value, value, value, now });
                    it = m_report.chips.end() - 1;
                }
                it->current = value;
                if (value > it->peak) {
                    it->peak = value;
                    it->peakTime = now;
                }
                if (s.settings.thermalLimit > 0 && value > s.settings.thermalLimit && !m_report.thermalStop) {
                    m_report.thermalStop = true;
                    over.push_back(Format("%s at %.1f C, over the thermal limit of %d C: run stopped", chip.c_str(),
                        value, s.settings.thermalLimit));
                }
            }
        }
        for (const std::string& text : over) {
            raise(kHealthThermalLimit, true, text);
            m_stopRequested = true;
        }
    }
    if (!s.ecc.empty()) {
        const std::vector<EccCount> now = readEdac(s.settings.edacRoot);
        // Each controller's rise not explained by its DIMMs is reported
        // for the controller.
        std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> unexplained;
        for (const EccCount& c : now) {
            auto before = std::find_if(s.ecc.begin(), s.ecc.end(),
                [&](const EccCount& b) { return b.controller == c.controller && b.dimm == c.dimm; });
            if (before == s.ecc.end())
                continue;
            const std::uint64_t ce = c.ce > before->ce ? c.ce - before->ce : 0;
            const std::uint64_t ue = c.ue > before->ue ? c.ue - before->ue : 0;
            auto& rest = unexplained[c.controller];
            if (c.dimm.empty()) {
                rest.first += ce;
                rest.second += ue;
                std::lock_guard lock(m_mutex);
                m_report.correctedErrors += ce;
                m_report.uncorrectedErrors += ue;
                continue;
            }
            rest.first -= std::min(rest.first, ce);
            rest.second -= std::min(rest.second, ue);
            if (ce > 0)
                raise(kHealthEccCorrected, false,
                    Format("%s DIMM %s: %llu corrected ECC errors (%llu in all)", c.controller.c_str(), c.dimm.c_str(),
                        static_cast<unsigned long long>(ce), static_cast<unsigned long long>(c.ce)));
            if (ue > 0)
                raise(kHealthEccUncorrected, true,
                    Format("%s DIMM %s: %llu uncorrected ECC errors (%llu in all)", c.controller.c_str(),
                        c.dimm.c_str(), static_cast<unsigned long long>(ue), static_cast<unsigned long long>(c.ue)));
        }
        for (const auto& [controller, rest] : unexplained) {
            if (rest.first > 0)
                raise(kHealthEccCorrected, false,
                    Format("%s, DIMM not named: %llu corrected ECC errors", controller.c_str(),
                        static_cast<unsigned long long>(rest.first)));
            if (rest.second > 0)
                raise(kHealthEccUncorrected, true,
                    Format("%s, DIMM not named: %llu uncorrected ECC errors", controller.c_str(),
                        static_cast<unsigned long long>(rest.second)));
        }
        s.ecc = now;
    }
    AddCycle(s.ctx->results, s.slot);
}

void HealthMonitor::readKernelLog()
{
    State& s = *m_state;
    if (s.kmsgFd < 0)
        return;
    char record[8192];
    for (;;) {
        const ssize_t n = ::read(s.kmsgFd, record, sizeof record - 1);
        if (n < 0 && errno == EPIPE)
            continue; // records were overwritten before we read them
        if (n == 0)
            s.kmsgPolled = false;
        if (n <= 0)
            return;
        int code = 0;
        bool fails = false;
        const std::string_view text(record, static_cast<std::size_t>(n));
        if (KernelLineEvent(text, code, fails))
            raise(code, fails, "Kernel: " + std::string(kmsgMessage(text)));
    }
}

void HealthMonitor::loop()
{
    State& s = *m_state;
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(std::max(100, s.settings.intervalMs));
    auto next = Clock::now() + interval;
    for (;;) {
        pollfd fds[2] = { { m_wakeFd, POLLIN, 0 }, { s.kmsgFd, POLLIN, 0 } };
        const bool polled = s.kmsgFd >= 0 && s.kmsgPolled;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        const int ready = ::poll(fds, polled ? 2 : 1, static_cast<int>(std::max<long long>(0, wait)));
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN)
            return;
        if (polled && (fds[1].revents & (POLLIN | POLLERR | POLLHUP)))
            readKernelLog();
        if (Clock::now() >= next) {
            if (!s.kmsgPolled)
                readKernelLog();
            sample();
            next += interval;
            if (next < Clock::now())
                next = Clock::now() + interval;
        }
    }
}
