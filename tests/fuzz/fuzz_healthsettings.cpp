// health.conf and the kernel's log records are text anyone may have edited
// or the kernel wrote: any content parses, and what the settings file
// reads back is what was saved.
#include "FuzzSupport.h"
#include "HealthMonitor.h"
#include "HealthSettings.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    HealthSettings settings = DefaultHealthSettings();
    std::vector<std::string> problems;
    ParseHealthSettings(text, settings, problems);
    if (settings.thermalLimit < 0 || settings.thermalLimit > HealthSettings::kMaxThermalLimit)
        std::abort();
    HealthSettings again = DefaultHealthSettings();
    std::vector<std::string> none;
    ParseHealthSettings(HealthSettingsText(settings), again, none);
    if (!none.empty() || again.monitor != settings.monitor || again.thermalLimit != settings.thermalLimit
        || again.temperatures != settings.temperatures || again.ecc != settings.ecc
        || again.kernelLog != settings.kernelLog)
        std::abort();
    int code = 0;
    bool fails = false;
    (void)KernelLineEvent(text, code, fails);
    return 0;
}
