// What the hardware health monitor costs: the CPU time of the process while
// only the monitor works, as a share of one core, at the default refresh
// interval and, to see the cost of one sample, at 100 ms.
//
//   bench_health [seconds]   (default 60; as root)
//
// The monitor reads what a large server would give it: four sensor chips of
// six inputs each (a fixture bound over /sys/class in a mount namespace of
// this process), two memory controllers with eight DIMMs each (a fixture
// EDAC tree) and the real kernel log. Exits 1 when the share at the default
// interval reaches 0.5 %.
#include "HealthMonitor.h"
#include "ProcessRun.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

void put(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text << "\n";
}

double cpuSeconds()
{
    rusage r {};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec)
        + static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

struct Figure {
    double share; // of one core
    double cpu; // seconds
    std::uint32_t samples;
};

Figure measure(ProcessRun& p, HealthSettings settings, int seconds)
{
    p.ctx.setSettings(settings);
    p.run.health.start(p.ctx);
    const std::uint32_t before = p.ctx.results.results[HealthSlot()].cycles;
    const double cpu = cpuSeconds();
    const auto wall = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = cpuSeconds() - cpu;
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    const std::uint32_t samples = p.ctx.results.results[HealthSlot()].cycles - before;
    p.run.health.stop();
    return { used / took, used, samples };
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_health [seconds]\n");
        return 2;
    }
    char tmpl[] = "/tmp/bench_health.XXXXXX";
    if (!mkdtemp(tmpl))
        return 2;
    const fs::path dir = tmpl;
    for (int chip = 0; chip < 4; ++chip) {
        const fs::path hw = dir / "class/hwmon" / ("hwmon" + std::to_string(chip));
        const char* names[] = { "coretemp", "nvme", "acpitz", "k10temp" };
        put(hw / "name", names[chip]);
        for (int input = 1; input <= 6; ++input)
            put(hw / ("temp" + std::to_string(input) + "_input"), std::to_string(40000 + 1000 * input));
    }
    for (int mc = 0; mc < 2; ++mc) {
        const fs::path m = dir / "edac/mc" / ("mc" + std::to_string(mc));
        put(m / "ce_count", "0");
        put(m / "ue_count", "0");
        for (int dimm = 0; dimm < 8; ++dimm) {
            const fs::path d = m / ("dimm" + std::to_string(dimm));
            put(d / "dimm_ce_count", "0");
            put(d / "dimm_ue_count", "0");
            put(d / "dimm_label", "CPU" + std::to_string(mc) + "_DIMM_" + std::to_string(dimm));
        }
    }
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount((dir / "class").c_str(), "/sys/class", nullptr, MS_BIND, nullptr) != 0) {
        std::fprintf(stderr, "bench_health: needs root for its mount namespace: %s\n", std::strerror(errno));
        fs::remove_all(dir);
        return 2;
    }

    ProcessRun p;
    HealthSettings settings = DefaultHealthSettings();
    settings.edacRoot = (dir / "edac/mc").string();
    const HealthReport check = [&] {
        p.ctx.setSettings(settings);
        p.run.health.start(p.ctx);
        HealthReport r = p.run.health.report();
        p.run.health.stop();
        return r;
    }();
    std::printf("sources: %zu chips, ECC %s, kernel log %s\n", check.chips.size(),
        check.ecc.available ? "available" : "not available", check.kernelLog.available ? "available" : "not available");

    const Figure normal = measure(p, settings, seconds);
    settings.intervalMs = 100;
    const Figure fast = measure(p, settings, std::max(5, seconds / 6));
    fs::remove_all(dir);

    std::printf("interval %d ms: %.3f %% of one core (%u samples in %d s)\n", DefaultHealthSettings().intervalMs,
        100 * normal.share, normal.samples, seconds);
    std::printf("interval 100 ms: %.3f %% of one core (%u samples), %.0f us per sample\n", 100 * fast.share,
        fast.samples, fast.samples ? fast.cpu * 1e6 / fast.samples : 0.0);
    return normal.share < 0.005 ? 0 : 1;
}
