#include "CliOptions.h"

#include "ConfigRecord.h"
#include "EngineInfo.h"
#include "HealthSettings.h"
#include "TestSlots.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <sstream>

namespace {

enum LongOnly {
    kOptDir = 1000,
    kOptTests,
    kOptDuty,
    kOptMinutes,
    kOptCycles,
    kOptStopOnError,
    kOptJson,
    kOptJunit,
    kOptProm,
    kOptReport,
    kOptHtml,
    kOptProgressInterval,
    kOptThermalLimit,
    kOptNoHealth,
};

std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, sep))
        parts.push_back(part);
    return parts;
}

bool parseLong(const char* text, long low, long high, long& value)
{
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < low || v > high)
        return false;
    value = v;
    return true;
}

bool parseDuty(const std::string& text, int& duty)
{
    long v = 0;
    if (!parseLong(text.c_str(), 1, 100, v))
        return false;
    duty = static_cast<int>(v);
    return true;
}

const EngineInfo* engineNamed(const std::string& name)
{
    for (const EngineInfo* engine : Engines())
        if (engine->commandName && name == engine->commandName)
            return engine;
    return nullptr;
}

std::string engineNames()
{
    std::string names;
    for (const EngineInfo* engine : Engines()) {
        if (!engine->commandName)
            continue;
        names += names.empty() ? "" : ", ";
        names += engine->commandName;
    }
    return names;
}

bool isNetworkHost(const EngineInfo& engine)
{
    return std::strcmp(engine.unitName, "host") == 0;
}

void select(_testconfig& cfg, const EngineInfo& engine, int unit)
{
    cfg.test_enabled[engine.slotOf(unit)] = 1;
    if (engine.switchSlot >= 0)
        cfg.test_enabled[engine.switchSlot] = 1;
}

// The unit of the network test that pings `host`: the one configured for it,
// or the first without an address, which then gets it.
int networkUnitFor(_testconfig& cfg, const EngineInfo& engine, const std::string& host, std::string& error)
{
    if (host.size() >= sizeof cfg.network_address[0]) {
        error = "network address too long: " + host;
        return -1;
    }
    for (int unit = 0; unit < engine.units; ++unit)
        if (host == cfg.network_address[unit])
            return unit;
    for (int unit = 0; unit < engine.units; ++unit) {
        if (cfg.network_address[unit][0] == '\0' || !cfg.test_enabled[engine.slotOf(unit)]) {
            std::snprintf(cfg.network_address[unit], sizeof cfg.network_address[unit], "%s", host.c_str());
            return unit;
        }
    }
    error = "more than " + std::to_string(engine.units) + " network hosts";
    return -1;
}

} // namespace

std::string CliUsage()
{
    return "Usage: kalvextest-cli [OPTION]...\n"
           "Runs the KalvexTest burn-in tests without a display and reports the verdict.\n"
           "\n"
           "  -C FILE                 configuration file (default: LastUsed.cfg)\n"
           "      --dir DIR           program directory (default: the executable's)\n"
           "      --tests LIST        tests to run, comma separated: "
        + engineNames()
        + ";\n"
          "                          a unit after a colon: disk:0, network:127.0.0.1, serial:1\n"
          "      --duty N            duty cycle 1-100 of every selected test\n"
          "      --duty TEST=N,...   duty cycle of each named test\n"
          "      --minutes N         stop after N minutes (decimals allowed)\n"
          "      --cycles N          stop when every test has done N cycles\n"
          "      --stop-on-error     stop at the first error\n"
          "      --json FILE         JSON report ('-' for standard output)\n"
          "      --junit FILE        JUnit XML report\n"
          "      --prom FILE         Prometheus text exposition\n"
          "      --report FILE       ASCII report (system information, event log, results)\n"
          "      --html FILE         HTML report\n"
          "      --thermal-limit C   stop the run when a temperature passes C degrees (0: none)\n"
          "      --no-health         do not watch temperatures, ECC counts and the kernel log\n"
          "      --progress-interval SECONDS\n"
          "                          progress line interval when standard error is no terminal\n"
          "  -q, --quiet             no progress\n"
          "  -h, --help              this text\n"
          "  -v, --version           the version\n"
          "\n"
          "The options change the configuration for this run only. 2D and 3D graphics\n"
          "need a display: run kalvextest for them.\n"
          "\n"
          "Exit status:\n"
          "  0    every test that ran passed\n"
          "  1    a test found an error\n"
          "  2    bad usage or unreadable configuration\n"
          "  3    nothing could run (for example no privilege for any selected test)\n"
          "  130  interrupted (SIGINT or SIGTERM)\n";
}

bool ParseCliOptions(int argc, char** argv, CliOptions& opts, std::string& error)
{
    static const option kLong[] = {
        { "dir", required_argument, nullptr, kOptDir },
        { "tests", required_argument, nullptr, kOptTests },
        { "duty", required_argument, nullptr, kOptDuty },
        { "minutes", required_argument, nullptr, kOptMinutes },
        { "cycles", required_argument, nullptr, kOptCycles },
        { "stop-on-error", no_argument, nullptr, kOptStopOnError },
        { "json", required_argument, nullptr, kOptJson },
        { "junit", required_argument, nullptr, kOptJunit },
        { "prom", required_argument, nullptr, kOptProm },
        { "report", required_argument, nullptr, kOptReport },
        { "html", required_argument, nullptr, kOptHtml },
        { "progress-interval", required_argument, nullptr, kOptProgressInterval },
        { "thermal-limit", required_argument, nullptr, kOptThermalLimit },
        { "no-health", no_argument, nullptr, kOptNoHealth },
        { "quiet", no_argument, nullptr, 'q' },
        { "help", no_argument, nullptr, 'h' },
        { "version", no_argument, nullptr, 'v' },
        { nullptr, 0, nullptr, 0 },
    };
    optind = 0;
    opterr = 0;
    for (;;) {
        const int c = getopt_long(argc, argv, ":C:qhv", kLong, nullptr);
        if (c == -1)
            break;
        const std::string arg = optarg ? optarg : "";
        long number = 0;
        switch (c) {
        case 'C':
            opts.configFile = arg;
            break;
        case kOptDir:
            opts.programDir = arg;
            break;
        case kOptTests: {
            std::vector<TestChoice> tests;
            for (const std::string& word : split(arg, ',')) {
                const std::size_t colon = word.find(':');
                TestChoice choice { word.substr(0, colon), colon == std::string::npos ? "" : word.substr(colon + 1) };
                if (choice.engine.empty() || (colon != std::string::npos && choice.unit.empty())) {
                    error = "bad --tests entry '" + word + "'";
                    return false;
                }
                tests.push_back(choice);
            }
            if (tests.empty()) {
                error = "--tests needs at least one test";
                return false;
            }
            opts.tests = tests;
            break;
        }
        case kOptDuty:
            for (const std::string& word : split(arg, ',')) {
                const std::size_t eq = word.find('=');
                DutyChoice duty { eq == std::string::npos ? "" : word.substr(0, eq), 0 };
                if (!parseDuty(eq == std::string::npos ? word : word.substr(eq + 1), duty.duty)
                    || (eq != std::string::npos && duty.engine.empty())) {
                    error = "bad --duty '" + word + "' (a duty cycle is 1-100)";
                    return false;
                }
                opts.duties.push_back(duty);
            }
            break;
        case kOptMinutes: {
            errno = 0;
            char* end = nullptr;
            const double minutes = std::strtod(arg.c_str(), &end);
            if (errno || end == arg.c_str() || *end || !std::isfinite(minutes) || minutes < 0 || minutes > 1e6) {
                error = "bad --minutes '" + arg + "'";
                return false;
            }
            opts.minutes = minutes;
            break;
        }
        case kOptCycles:
            if (!parseLong(arg.c_str(), 0, 2147483647L, number)) {
                error = "bad --cycles '" + arg + "'";
                return false;
            }
            opts.cycles = number;
            break;
        case kOptStopOnError:
            opts.stopOnError = true;
            break;
        case kOptJson:
            opts.json = arg;
            break;
        case kOptJunit:
            opts.junit = arg;
            break;
        case kOptProm:
            opts.prom = arg;
            break;
        case kOptReport:
            opts.report = arg;
            break;
        case kOptHtml:
            opts.html = arg;
            break;
        case kOptProgressInterval:
            if (!parseLong(arg.c_str(), 1, 86400, number)) {
                error = "bad --progress-interval '" + arg + "'";
                return false;
            }
            opts.progressIntervalSec = static_cast<int>(number);
            break;
        case kOptThermalLimit:
            if (!parseLong(arg.c_str(), 0, HealthSettings::kMaxThermalLimit, number)) {
                error = "bad --thermal-limit '" + arg + "' (0-" + std::to_string(HealthSettings::kMaxThermalLimit)
                    + " degrees)";
                return false;
            }
            opts.thermalLimit = static_cast<int>(number);
            break;
        case kOptNoHealth:
            opts.noHealth = true;
            break;
        case 'q':
            opts.quiet = true;
            break;
        case 'h':
            opts.help = true;
            return true;
        case 'v':
            opts.version = true;
            return true;
        case ':':
            error = std::string("option '") + argv[optind - 1] + "' needs an argument";
            return false;
        default:
            error = std::string("unknown option '") + argv[optind - 1] + "'";
            return false;
        }
    }
    if (optind < argc) {
        error = std::string("unexpected argument '") + argv[optind] + "'";
        return false;
    }
    int toStdout = 0;
    for (const std::string* path : { &opts.json, &opts.junit, &opts.prom, &opts.report, &opts.html })
        toStdout += *path == "-";
    if (toStdout > 1) {
        error = "only one report may go to standard output";
        return false;
    }
    return true;
}

bool ApplyCliOptions(const CliOptions& opts, _testconfig& cfg, std::string& error)
{
    if (opts.tests) {
        bool configured[kSlotMarkerEnd];
        for (int slot = 0; slot < kSlotMarkerEnd; ++slot)
            configured[slot] = performTest(cfg, slot);
        for (int slot = 0; slot < kSlotMarkerEnd; ++slot)
            cfg.test_enabled[slot] = 0;
        for (const TestChoice& choice : *opts.tests) {
            const EngineInfo* engine = engineNamed(choice.engine);
            if (!engine) {
                error = "unknown test '" + choice.engine + "' (tests: " + engineNames() + ")";
                return false;
            }
            if (choice.unit.empty()) {
                bool any = false;
                for (int unit = 0; unit < engine->units; ++unit) {
                    if (configured[engine->slotOf(unit)]) {
                        select(cfg, *engine, unit);
                        any = true;
                    }
                }
                if (!any)
                    select(cfg, *engine, 0);
                continue;
            }
            int unit = -1;
            if (isNetworkHost(*engine)) {
                unit = networkUnitFor(cfg, *engine, choice.unit, error);
                if (unit < 0)
                    return false;
            } else {
                long number = 0;
                if (!parseLong(choice.unit.c_str(), 0, engine->units - 1, number)) {
                    error = "no " + std::string(engine->unitName) + " '" + choice.unit + "' for " + choice.engine
                        + " (0-" + std::to_string(engine->units - 1) + ")";
                    return false;
                }
                unit = static_cast<int>(number);
            }
            select(cfg, *engine, unit);
        }
    }
    for (const DutyChoice& duty : opts.duties) {
        const EngineInfo* only = nullptr;
        if (!duty.engine.empty() && !(only = engineNamed(duty.engine))) {
            error = "unknown test '" + duty.engine + "' in --duty";
            return false;
        }
        for (const EngineInfo* engine : Engines()) {
            if (only && engine != only)
                continue;
            for (int unit = 0; unit < engine->units; ++unit)
                cfg.duty_cycle[engine->slotOf(unit)] = duty.duty;
        }
    }
    if (opts.minutes)
        cfg.auto_stop_time = static_cast<float>(*opts.minutes);
    if (opts.cycles)
        cfg.auto_stop_cycles = static_cast<std::int32_t>(*opts.cycles);
    if (opts.stopOnError)
        cfg.action_on_error = 2;
    return true;
}

void RestoreFileChoices(const _testconfig& loaded, _testconfig& cfg)
{
    std::memcpy(cfg.test_enabled, loaded.test_enabled, sizeof cfg.test_enabled);
    std::memcpy(cfg.duty_cycle, loaded.duty_cycle, sizeof cfg.duty_cycle);
    std::memcpy(cfg.network_address, loaded.network_address, sizeof cfg.network_address);
    cfg.auto_stop_time = loaded.auto_stop_time;
    cfg.auto_stop_cycles = loaded.auto_stop_cycles;
    cfg.action_on_error = loaded.action_on_error;
}
