// bench_disk [--only test|plain] [directory] [MiB] [rounds]: the disk test's
// file write and verify at duty cycle 100 against a plain buffered write and
// read of a file of the same size, block by block with the same block size,
// in the same directory (default: the current one), 256 MiB, 5 rounds taken
// in turn. Prints the median rates, the CPU time of each pass and the
// ratios; exits 1 when the test's write and verify together reach less than
// 70 % of the plain write and read. With --only, runs one side alone (for a
// whole-process comparison of the two).
#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Disk.h"
#include "BenchRun.h"
#include "ConfigRecord.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "SystemInfo.h"
#include "TestSlots.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kTargetPercent = 70.0;
constexpr int kUnit = 0; // writes in the working directory
constexpr int kSlot = kSlotDiskFirst + kUnit;

double since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// User and system time of this thread: what a pass costs whatever share of
// the processors the machine gives it.
double cpuNow()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Timed {
    double wall, cpu;
};
template <class F> Timed timed(F f)
{
    const auto t0 = Clock::now();
    const double c0 = cpuNow();
    f();
    return { since(t0), cpuNow() - c0 };
}

double median(const std::vector<Timed>& runs, double Timed::*field)
{
    std::vector<double> v;
    for (const Timed& t : runs)
        v.push_back(t.*field);
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The obvious loops: fwrite and fread of whole blocks through stdio.
bool plainWrite(const char* name, const unsigned char* block, std::size_t bs, std::uint64_t blocks)
{
    FILE* f = std::fopen(name, "wb");
    if (!f)
        return false;
    bool ok = true;
    for (std::uint64_t b = 0; b < blocks && ok; ++b)
        ok = std::fwrite(block, 1, bs, f) == bs;
    return std::fclose(f) == 0 && ok;
}

bool plainRead(const char* name, unsigned char* block, std::size_t bs, std::uint64_t blocks)
{
    FILE* f = std::fopen(name, "rb");
    if (!f)
        return false;
    bool ok = true;
    for (std::uint64_t b = 0; b < blocks && ok; ++b)
        ok = std::fread(block, 1, bs, f) == bs;
    std::fclose(f);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::string only;
    if (argc > 2 && std::strcmp(argv[1], "--only") == 0) {
        only = argv[2];
        argc -= 2, argv += 2;
    }
    const bool runTest = only != "plain", runPlain = only != "test";
    const std::string dir = fs::absolute(argc > 1 ? argv[1] : ".").string();
    const std::uint64_t mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 256;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    struct statvfs v { };
    if (::statvfs(dir.c_str(), &v) != 0 || v.f_bsize == 0 || v.f_blocks < 100 || mib == 0) {
        std::fprintf(stderr, "bench_disk: cannot measure %s\n", dir.c_str());
        return 2;
    }
    const std::size_t bs = v.f_bsize;
    const std::uint64_t blocks = mib * 1048576 / bs; // the file holds N - 1 blocks

    // The unit's file system is `dir`, listed in a private mount table.
    const std::string mtab = dir + "/.bench_disk_mtab";
    if (FILE* m = std::fopen(mtab.c_str(), "w")) {
        std::fprintf(m, "bench %s ext4 rw 0 0\n", dir.c_str());
        std::fclose(m);
    }
    FileSystemStruct& fsRec = gFileSystemStructPtr[kUnit];
    std::snprintf(fsRec.name, sizeof fsRec.name, "bench");
    std::snprintf(fsRec.mount_point, sizeof fsRec.mount_point, "%s", dir.c_str());
    fsRec.vfs = v;
    testconfig.duty_cycle[kSlotDiskGroup] = 100;
    testconfig.disk_test_mode[kUnit] = 1;
    testconfig.disk_file_size_pct[kUnit]
        = (static_cast<double>(blocks + 1) + 0.5) / static_cast<double>(v.f_blocks / 100);
    gLogger = new CLogger("bench"); // logging off: lines are formatted, not written
    if (::chdir(dir.c_str()) != 0)
        return 2;
    benchProcess().run.setSlotActive(kSlot, true);

    int status = 0;
    {
        ProcessRun& process = benchProcess();
        DiskSettings settings;
        settings.mountTable = mtab;
        process.ctx.setSettings(settings);
        CTest_Disk disk(process.ctx, kUnit, kSlot);
        if (!disk.StartUp() || disk.fileBlocks() != blocks + 1) {
            std::fprintf(stderr, "bench_disk: the test would not start here (free space?)\n");
            std::remove(mtab.c_str());
            return 2;
        }
        const std::string testFile = disk.FileName(1);
        const std::string plainFile = dir + "/.bench_disk_plain";
        std::vector<unsigned char> block(bs);
        for (std::size_t j = 0; j < bs; ++j)
            block[j] = static_cast<unsigned char>(j);

        std::vector<Timed> tw, tv, pw, pr;
        bool ok = true;
        for (int r = 0; r < rounds && ok; ++r) {
            if (runTest) {
                tw.push_back(timed([&] {
                    ok &= disk.test_harddisk_writefile(testFile.c_str(), blocks + 1, CTest_Disk::kModeCurrent) == 0;
                }));
                tv.push_back(
                    timed([&] { ok &= disk.test_harddisk_verifyfile(testFile.c_str(), 1, 1, blocks + 1) == 0; }));
                std::remove(testFile.c_str());
            }
            if (runPlain) {
                pw.push_back(timed([&] { ok &= plainWrite(plainFile.c_str(), block.data(), bs, blocks); }));
                pr.push_back(timed([&] { ok &= plainRead(plainFile.c_str(), block.data(), bs, blocks); }));
                std::remove(plainFile.c_str());
            }
        }
        disk.ShutDown();
        if (!ok) {
            std::fprintf(stderr, "bench_disk: a pass failed\n");
            status = 2;
        } else {
            const double mb = static_cast<double>(blocks * bs) / 1048576.0;
            std::printf("bench_disk: %.0f MiB files of %zu-byte blocks in %s, %d rounds, medians\n", mb, bs,
                dir.c_str(), rounds);
            std::printf("%-16s %10s %10s %8s %11s %11s %8s\n", "", "test MB/s", "plain MB/s", "ratio", "test CPU s",
                "plain CPU s", "ratio");
            auto row = [&](const char* what, double factor, const std::vector<Timed>& a, const std::vector<Timed>& b) {
                const double aw = a.empty() ? 0 : median(a, &Timed::wall), bw = b.empty() ? 0 : median(b, &Timed::wall);
                const double ac = a.empty() ? 0 : median(a, &Timed::cpu), bc = b.empty() ? 0 : median(b, &Timed::cpu);
                std::printf("%-16s %10.1f %10.1f %7.1f%% %11.3f %11.3f %7.1f%%\n", what, aw > 0 ? factor * mb / aw : 0,
                    bw > 0 ? factor * mb / bw : 0, aw > 0 ? 100.0 * bw / aw : 0, ac, bc, ac > 0 ? 100.0 * bc / ac : 0);
                return aw > 0 ? 100.0 * bw / aw : 0;
            };
            row("write", 1, tw, pw);
            row("verify / read", 1, tv, pr);
            std::vector<Timed> both, plainBoth;
            for (std::size_t r = 0; r < tw.size(); ++r)
                both.push_back({ tw[r].wall + tv[r].wall, tw[r].cpu + tv[r].cpu });
            for (std::size_t r = 0; r < pw.size(); ++r)
                plainBoth.push_back({ pw[r].wall + pr[r].wall, pw[r].cpu + pr[r].cpu });
            const double ratio = row("write + verify", 2, both, plainBoth);
            if (runTest && runPlain) {
                std::printf("target: write + verify >= %.0f %% of the plain write + read\n", kTargetPercent);
                status = ratio >= kTargetPercent ? 0 : 1;
            }
        }
    }
    std::remove(mtab.c_str());
    benchProcess().run.setSlotActive(kSlot, false);
    delete gLogger;
    gLogger = nullptr;
    return status;
}
