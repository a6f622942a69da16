#include "HealthSettings.h"

#include "MachineReports.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string_view trimmed(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool wholeNumber(std::string_view text, int low, int high, int& out)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return false;
    out = value;
    return true;
}

} // namespace

HealthSettings DefaultHealthSettings()
{
    HealthSettings settings;
    settings.monitor = true;
    return settings;
}

void ParseHealthSettings(std::string_view text, HealthSettings& settings, std::vector<std::string>& problems)
{
    struct Switch {
        const char* key;
        bool HealthSettings::*field;
    };
    static constexpr Switch kSwitches[]
        = { { "monitor", &HealthSettings::monitor }, { "temperatures", &HealthSettings::temperatures },
              { "ecc", &HealthSettings::ecc }, { "kernel_log", &HealthSettings::kernelLog } };

    int number = 0;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, newline));
        text = newline == std::string_view::npos ? std::string_view {} : text.substr(newline + 1);
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            problems.push_back(where + "not a key=value line");
            continue;
        }
        const std::string key(trimmed(line.substr(0, equals)));
        const std::string_view value = trimmed(line.substr(equals + 1));
        bool known = false;
        for (const Switch& s : kSwitches) {
            if (key != s.key)
                continue;
            known = true;
            int on = 0;
            if (wholeNumber(value, 0, 1, on))
                settings.*s.field = on == 1;
            else
                problems.push_back(where + key + ": not 0 or 1");
        }
        if (key == "thermal_limit") {
            known = true;
            if (!wholeNumber(value, 0, HealthSettings::kMaxThermalLimit, settings.thermalLimit))
                problems.push_back(
                    where + key + ": not a whole number from 0 to " + std::to_string(HealthSettings::kMaxThermalLimit));
        }
        if (!known)
            problems.push_back(where + "unknown key " + key);
    }
}

std::string HealthSettingsText(const HealthSettings& settings)
{
    std::ostringstream out;
    out << "# KalvexTest hardware health settings\n"
        << "monitor=" << int(settings.monitor) << "\n"
        << "temperatures=" << int(settings.temperatures) << "\n"
        << "ecc=" << int(settings.ecc) << "\n"
        << "kernel_log=" << int(settings.kernelLog) << "\n"
        << "# degrees Celsius; 0 = no limit\n"
        << "thermal_limit=" << settings.thermalLimit << "\n";
    return out.str();
}

HealthSettings LoadHealthSettings(const std::string& path, std::vector<std::string>& problems)
{
    HealthSettings settings = DefaultHealthSettings();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno != ENOENT)
            problems.push_back(path + ": " + std::strerror(errno));
        return settings;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<std::string> found;
    ParseHealthSettings(text.str(), settings, found);
    for (std::string& problem : found)
        problems.push_back(path + ": " + problem);
    return settings;
}

bool SaveHealthSettings(const std::string& path, const HealthSettings& settings, std::string& error)
{
    const std::string text = HealthSettingsText(settings);
    return WriteReportFile(
        path, [&](FILE* f) { std::fputs(text.c_str(), f); }, error);
}
