// bench_duty [--out DIR] [seconds] [engine ...]: runs each engine alone in
// the real main window at duty cycles 1, 25, 50, 75 and 100, `seconds` a
// point (default 8; half going up the duties, half coming down), and
// measures the load it makes from outside the engine:
// maths CPU time of the test threads, memory bytes written + verified, disk
// bytes through read/write calls, network echo requests answered by the
// kernel, 2D drawing operations, 3D frames swapped. Prints each point as a
// percentage of the engine's duty-100 figure, writes duty_response.csv and
// plots it into duty_response.png in DIR (default: this program's
// directory). Engines: maths memory disk network 2d 3d (default all).
// Run as root under xvfb-run; the disk test writes into a 1 GiB ext4 image
// mounted in a private mount namespace, the network test talks to 127.0.0.1
// in a private network namespace, so neither disturbs nor is disturbed by
// anything else on the machine.
#include "AtomicField.h"
#include "CTest_Disk.h"
#include "CTest_Math.h"
#include "CTest_Memory.h"
#include "CTest_Network.h"
#include "ConfigFile.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "HealthSettings.h"
#include "KVXMainApp.h"
#include "ResultRecord.h"
#include "TestSlots.h"

#include <QApplication>
#include <QEventLoop>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <net/if.h>
#include <sched.h>
#include <sstream>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDuties[] = { 1, 25, 50, 75, 100 };
constexpr int kNumDuties = 5;
constexpr const char* kMemoryCapMb = "256";
constexpr int kStartTimeoutMs = 30000;
// A point counts as proportional within this many points of its duty cycle.
constexpr double kTolerance = 15.0;
// Measurement noise allowed between two neighbouring points that should rise.
constexpr double kMonotonicSlack = 2.0;

enum class Kind { Maths, Memory, Disk, Network, TwoD, ThreeD };

struct Engine {
    Kind kind;
    const char* name;
    const char* unit;
    std::vector<int> selected; // slots selected for its run
    std::vector<int> dutySlots; // duty cycles set
    int countSlot; // whose operation count shows the engine has begun
    std::string unavailable; // why it cannot run here, or empty
};

// ---------------------------------------------------------------- process

// Runs argv and waits; true when it exits 0. Its output goes to `log`.
bool runQuiet(std::vector<std::string> args, std::string* log = nullptr)
{
    char out[] = "/tmp/bench_duty.out.XXXXXX";
    const int fd = mkstemp(out);
    if (fd < 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, 1);
    posix_spawn_file_actions_adddup2(&actions, fd, 2);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = 0;
    const bool spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    if (spawned)
        waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    if (log) {
        std::ifstream in(out);
        std::stringstream text;
        text << in.rdbuf();
        *log = text.str();
    }
    close(fd);
    unlink(out);
    return spawned && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A network namespace of this process's own with its loopback up, so the
// ICMP counters count the network test's echoes alone. Before any thread.
std::string privateNetwork()
{
    if (unshare(CLONE_NEWNET) != 0)
        return std::string("no private network namespace: ") + std::strerror(errno);
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq req {};
    std::snprintf(req.ifr_name, sizeof req.ifr_name, "lo");
    bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &req) == 0;
    req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP);
    up = up && ioctl(s, SIOCSIFFLAGS, &req) == 0;
    if (s >= 0)
        close(s);
    return up ? std::string() : std::string("cannot bring up the private loopback: ") + std::strerror(errno);
}

// A 1 GiB ext4 image mounted at `dir` in a mount namespace of this process's
// own: the disk test fills it up to its reserve, not the machine's disk, and
// the mount goes with the process. Before any thread.
std::string scratchFileSystem(const std::string& image, const std::string& dir)
{
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("no private mount namespace: ") + std::strerror(errno);
    std::string log;
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::ofstream(image).close();
    fs::resize_file(image, 1ull << 30, ec);
    if (ec || !runQuiet({ "mkfs.ext4", "-q", "-F", image }, &log))
        return "mkfs.ext4 failed (e2fsprogs): " + log;
    if (!runQuiet({ "mount", "-o", "loop", image, dir }, &log))
        return "cannot loop-mount the disk image: " + log;
    return {};
}

double cpuSeconds(clockid_t clock)
{
    timespec t {};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// rchar + wchar of an io file: what the read and write calls moved, whether
// or not it reached the device.
std::uint64_t ioBytes(const char* path)
{
    std::ifstream in(path);
    std::string key;
    std::uint64_t value = 0, sum = 0;
    while (in >> key >> value)
        if (key == "rchar:" || key == "wchar:")
            sum += value;
    return sum;
}

// The kernel's count of echo requests received (each answered) in this
// process's network namespace.
std::uint64_t echoRequests()
{
    std::ifstream in("/proc/net/snmp");
    std::string header, values;
    while (std::getline(in, header) && std::getline(in, values)) {
        if (header.rfind("Icmp:", 0) != 0)
            continue;
        std::istringstream h(header), v(values);
        std::string name, value;
        while (h >> name && v >> value)
            if (name == "InEchos")
                return std::stoull(value);
    }
    return 0;
}

// ---------------------------------------------------------------- samples

std::uint64_t g_frames = 0; // 3D frames swapped (GUI thread)

struct Sample {
    Clock::time_point t;
    double cpu = 0, guiCpu = 0;
    std::uint64_t io = 0, guiIo = 0, ops = 0, echoes = 0, frames = 0;
};

Sample sample(int countSlot)
{
    Sample s;
    s.guiIo = ioBytes("/proc/thread-self/io");
    s.io = ioBytes("/proc/self/io");
    s.echoes = echoRequests();
    s.frames = g_frames;
    s.ops = relaxedLoad<std::uint64_t>(resultfile.results[countSlot].op_count);
    s.guiCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    s.cpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    s.t = Clock::now();
    return s;
}

// What the process does with no test running: the rates of the threads
// other than the GUI's (Qt's own) and of the whole process.
struct Baseline {
    double otherCpu = 0, otherIo = 0, cpu = 0;
};

double seconds(const Sample& a, const Sample& b)
{
    return std::chrono::duration<double>(b.t - a.t).count();
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Point {
    double value = 0; // in the engine's unit
    double cpuPercent = 0; // the whole process, less the idle baseline, of all cores
    std::uint64_t errors = 0;
};

Point measure(const Engine& e, const Sample& a, const Sample& b, const Baseline& base, int cores)
{
    const double dt = seconds(a, b);
    const double other = ((b.cpu - a.cpu) - (b.guiCpu - a.guiCpu)) / dt - base.otherCpu;
    Point p;
    p.cpuPercent = 100.0 * ((b.cpu - a.cpu) / dt - base.cpu) / cores;
    switch (e.kind) {
    case Kind::Maths:
        p.value = 100.0 * other / cores;
        break;
    case Kind::Memory:
        p.value = static_cast<double>(b.ops - a.ops) / dt / 1e6;
        break;
    case Kind::Disk:
        p.value = (static_cast<double>((b.io - a.io) - (b.guiIo - a.guiIo)) / dt - base.otherIo) / 1e6;
        break;
    case Kind::Network:
        p.value = static_cast<double>(b.echoes - a.echoes) / dt;
        break;
    case Kind::TwoD:
        p.value = static_cast<double>(b.ops - a.ops) / dt;
        break;
    case Kind::ThreeD:
        p.value = static_cast<double>(b.frames - a.frames) / dt;
        break;
    }
    p.value = std::max(0.0, p.value);
    return p;
}

// Counts the frames of the 3D window once it exists.
void watchFrames()
{
    for (QWidget* w : QApplication::allWidgets())
        if (auto* gl = qobject_cast<QOpenGLWidget*>(w); gl && !gl->property("benchWatched").toBool()) {
            gl->setProperty("benchWatched", true);
            QObject::connect(gl, &QOpenGLWidget::frameSwapped, gl, [] { ++g_frames; });
        }
}

// ---------------------------------------------------------------- the run

void select(const Engine& e, int duty)
{
    std::memset(testconfig.test_enabled, 0, sizeof testconfig.test_enabled);
    for (int slot : e.selected)
        testconfig.test_enabled[slot] = 1;
    for (int slot : e.dutySlots)
        testconfig.duty_cycle[slot] = duty;
    testconfig.pretest_action = 0;
    testconfig.action_on_error = 0;
    testconfig.auto_stop_time = 0.0f;
    testconfig.auto_stop_cycles = 0;
    // Unit 0 writes in the working directory: the scratch file system. One
    // pattern, so every cycle moves the same bytes; a file of a tenth of it.
    testconfig.disk_test_mode[0] = 1;
    testconfig.disk_file_size_pct[0] = 10.0;
    testconfig.disk_duty_cycle_override[0] = 0;
    std::snprintf(testconfig.network_address[0], sizeof testconfig.network_address[0], "127.0.0.1");
}

// The engines' start waits cut to nothing: they only delay the first
// measurement. What the engines do once started is left as it is.
void shortenStartWaits(RunContext& ctx)
{
    MathSettings maths = ctx.settings<MathSettings>();
    maths.startWaitMs = 0;
    ctx.setSettings(maths);
    MemorySettings memory = ctx.settings<MemorySettings>();
    memory.startWaitMs = memory.afterAllocationMs = 0;
    ctx.setSettings(memory);
    DiskSettings disk = ctx.settings<DiskSettings>();
    disk.startWaitMs = 0;
    ctx.setSettings(disk);
    NetworkSettings network = ctx.settings<NetworkSettings>();
    network.startWaitMs = network.setUpPauseMs = 0;
    ctx.setSettings(network);
}

// One point: start the run, wait for the engine's first operation, measure
// for `secs`, stop. False when the engine did not begin.
bool runPoint(KVXMainApp& app, const Engine& e, int duty, double secs, const Baseline& base, int cores, Point& out)
{
    select(e, duty);
    app.slotStartTest();
    if (!app.runActive())
        return false;
    const auto limit = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    const auto begun = [&] {
        if (e.kind == Kind::ThreeD) {
            watchFrames();
            return g_frames != 0;
        }
        return relaxedLoad<std::uint64_t>(resultfile.results[e.countSlot].op_count) != 0;
    };
    g_frames = 0;
    while (!begun() && Clock::now() < limit)
        spin(5);
    const bool ok = begun();
    if (ok) {
        // The 2D test counts a burst's drawing when the burst ends, and its
        // three kinds draw at rates far apart: the window runs from the end
        // of one cycle (lines, shapes, blits) to the end of another.
        const auto cycleEnd = [&] {
            if (e.kind != Kind::TwoD)
                return;
            const auto cycles = [&] { return relaxedLoad<std::uint32_t>(resultfile.results[e.countSlot].cycles); };
            const std::uint32_t seen = cycles();
            const auto more = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
            while (cycles() == seen && Clock::now() < more)
                spin(5);
        };
        cycleEnd();
        const Sample a = sample(e.countSlot);
        spin(static_cast<int>(secs * 1000));
        cycleEnd();
        const Sample b = sample(e.countSlot);
        out = measure(e, a, b, base, cores);
        out.errors = relaxedLoad<std::uint64_t>(resultfile.results[e.countSlot].errors);
    }
    app.slotStopTest();
    spin(200); // the live windows' deferred deletes
    return ok;
}

Baseline idleBaseline(double secs)
{
    const Sample a = sample(0);
    spin(static_cast<int>(secs * 1000));
    const Sample b = sample(0);
    const double dt = seconds(a, b);
    Baseline base;
    base.otherCpu = ((b.cpu - a.cpu) - (b.guiCpu - a.guiCpu)) / dt;
    base.otherIo = static_cast<double>((b.io - a.io) - (b.guiIo - a.guiIo)) / dt;
    base.cpu = (b.cpu - a.cpu) / dt;
    return base;
}

std::string selfDirectory()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

} // namespace

int main(int argc, char** argv)
{
    std::string outDir = selfDirectory();
    double secs = 8.0;
    std::vector<std::string> wanted;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        char* end = nullptr;
        const double number = std::strtod(a.c_str(), &end);
        if (a == "--out" && i + 1 < argc)
            outDir = argv[++i];
        else if (!a.empty() && *end == '\0') // "2d" is an engine
            secs = number;
        else
            wanted.push_back(a);
    }
    std::vector<Engine> engines = {
        { Kind::Maths, "maths", "% of all cores", { kSlotMaths }, { kSlotMaths }, kSlotMaths, {} },
        { Kind::Memory, "memory", "MB/s written+verified", { kSlotMemory }, { kSlotMemory }, kSlotMemory, {} },
        { Kind::Disk, "disk", "MB/s read+written", { kSlotDiskFirst, kSlotDiskGroup },
            { kSlotDiskFirst, kSlotDiskGroup }, kSlotDiskFirst, {} },
        { Kind::Network, "network", "echo exchanges/s", { kSlotNetworkFirst, kSlotNetworkGroup },
            { kSlotNetworkFirst, kSlotNetworkFirst + 1, kSlotNetworkFirst + 2, kSlotNetworkFirst + 3,
                kSlotNetworkGroup },
            kSlotNetworkFirst, {} },
        { Kind::TwoD, "2d", "drawing ops/s", { kSlot2D }, { kSlot2D }, kSlot2D, {} },
        { Kind::ThreeD, "3d", "frames/s", { kSlot3D }, { kSlot3D }, kSlot3D, {} },
    };
    for (const std::string& w : wanted)
        if (std::none_of(engines.begin(), engines.end(), [&](const Engine& e) { return w == e.name; })) {
            std::fprintf(stderr, "usage: %s [--out DIR] [seconds] [maths|memory|disk|network|2d|3d ...]\n", argv[0]);
            return 2;
        }
    if (!wanted.empty())
        engines.erase(
            std::remove_if(engines.begin(), engines.end(),
                [&](const Engine& e) { return std::find(wanted.begin(), wanted.end(), e.name) == wanted.end(); }),
            engines.end());
    if (secs < 1.0) {
        std::fprintf(stderr, "%s: at least 1 second a point\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "%s: no display; run it under xvfb-run -a -s \"-screen 0 1280x1024x24\"\n", argv[0]);
        return 2;
    }
    auto engine = [&](Kind k) -> Engine* {
        for (Engine& e : engines)
            if (e.kind == k)
                return &e;
        return nullptr;
    };

    char base[] = "/tmp/bench_duty.XXXXXX";
    if (!mkdtemp(base))
        return 2;
    const std::string work = base, programDir = work + "/program", scratch = work + "/disk";
    // Namespaces first: unshare refuses a process that has threads already.
    const bool root = geteuid() == 0;
    if (Engine* e = engine(Kind::Network))
        e->unavailable = root ? privateNetwork() : "needs root (raw ICMP sockets)";
    bool scratchMounted = false;
    if (Engine* e = engine(Kind::Disk)) {
        e->unavailable = root ? scratchFileSystem(work + "/disk.img", scratch) : "needs root to mount its file system";
        scratchMounted = e->unavailable.empty();
    }
    if (Engine* e = engine(Kind::Memory); e && !root)
        e->unavailable = "needs root (locked memory)";
    if (!std::getenv(CTest_Mem::kLimitVariable))
        setenv(CTest_Mem::kLimitVariable, kMemoryCapMb, 1);
    const std::string memoryCap = std::getenv(CTest_Mem::kLimitVariable);
    // The program sends its standard streams to its debug file; the figures
    // and the progress keep copies of the terminal's.
    FILE* out = fdopen(dup(STDOUT_FILENO), "w");
    FILE* err = fdopen(dup(STDERR_FILENO), "w");
    if (!out || !err)
        return 2;
    setvbuf(err, nullptr, _IONBF, 0);

    int status = 0;
    {
        QApplication qapp(argc, argv);
        if (Engine* e = engine(Kind::ThreeD)) {
            QOpenGLContext gl;
            if (!gl.create())
                e->unavailable = "no OpenGL on this display";
        }
        // The program as it starts, in a directory of its own, the defaults
        // saved as its last configuration, the health monitor off.
        std::error_code ec;
        fs::create_directories(programDir, ec);
        _testconfig cfg {};
        KalvexTest_SetUpDefault(&cfg);
        std::memcpy(cfg.magic, kConfigMagic, sizeof cfg.magic);
        cfg.version = kConfigVersion;
        std::ofstream(programDir + "/LastUsed.cfg", std::ios::binary)
            .write(reinterpret_cast<const char*>(&cfg), sizeof cfg);
        std::ofstream(programDir + "/" + kHealthSettingsFile) << "monitor=0\n";
        std::strcpy(configfilename, "LastUsed.cfg");
        static char name[] = "kalvextest";
        static char* appArgv[] = { name, nullptr };
        auto app = std::make_unique<KVXMainApp>(1, appArgv, QString::fromStdString(programDir));
        app->show();
        shortenStartWaits(app->context());
        if (scratchMounted && chdir(scratch.c_str()) != 0)
            engine(Kind::Disk)->unavailable = "cannot enter the scratch file system";

        const int cores = static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
        const Baseline idle = idleBaseline(2.0);
        std::fprintf(out,
            "duty response: each engine alone in the main window, %g s a point after its first "
            "operation (half going up the duties, half coming down), %d cores\n",
            secs, cores);
        std::fprintf(out,
            "memory test capped at %s MiB (%s); disk unit 0 on a 1 GiB ext4 image, fixed pattern, files of "
            "10 %%\n",
            memoryCap.c_str(), CTest_Mem::kLimitVariable);
        std::fprintf(out, "idle process: %.2f %% of all cores\n\n", 100.0 * idle.cpu / cores);
        std::fflush(out);

        std::vector<std::array<Point, kNumDuties>> points(engines.size());
        for (std::size_t i = 0; i < engines.size(); ++i) {
            Engine& e = engines[i];
            // Up, then down, half the time each: a point is the mean of its
            // two runs, so a steady drift of this VM's speed cancels out.
            for (int k = 0; k < 2 * kNumDuties && e.unavailable.empty(); ++k) {
                const int d = k < kNumDuties ? k : 2 * kNumDuties - 1 - k;
                std::fprintf(err, "%s at duty %d...\n", e.name, kDuties[d]);
                Point run;
                if (!runPoint(*app, e, kDuties[d], secs / 2, idle, cores, run))
                    e.unavailable = "did not begin within 30 s at duty " + std::to_string(kDuties[d]);
                Point& p = points[i][d];
                p.value += run.value / 2, p.cpuPercent += run.cpuPercent / 2;
                p.errors = std::max(p.errors, run.errors);
            }
        }
        if (app->runActive())
            app->stopTest(false);

        // The table, the CSV and the plot.
        std::error_code made;
        std::filesystem::create_directories(outDir, made);
        const std::string csvPath = outDir + "/duty_response.csv", pngPath = outDir + "/duty_response.png";
        std::ofstream csv(csvPath);
        csv << "engine,duty,load_percent,value,unit,process_cpu_percent,errors\n";
        std::fprintf(out, "%-8s %-30s", "engine", "duty-100 figure");
        for (int d : kDuties)
            std::fprintf(out, " %6d", d);
        std::fprintf(out, "  monotonic  within %.0f\n", kTolerance);
        for (std::size_t i = 0; i < engines.size(); ++i) {
            const Engine& e = engines[i];
            if (!e.unavailable.empty()) {
                std::fprintf(out, "%-8s not measured: %s\n", e.name, e.unavailable.c_str());
                continue;
            }
            const double full = points[i][kNumDuties - 1].value;
            char figure[64];
            std::snprintf(figure, sizeof figure, "%.1f %s", full, e.unit);
            std::fprintf(out, "%-8s %-30s", e.name, figure);
            bool monotonic = true, within = true;
            std::uint64_t errors = 0;
            double previous = -1e9;
            for (int d = 0; d < kNumDuties; ++d) {
                const Point& p = points[i][d];
                const double pct = full > 0 ? 100.0 * p.value / full : 0.0;
                std::fprintf(out, " %6.1f", pct);
                monotonic = monotonic && pct >= previous - kMonotonicSlack;
                previous = pct;
                if (kDuties[d] != 1 && kDuties[d] != 100)
                    within = within && std::fabs(pct - kDuties[d]) <= kTolerance;
                errors = std::max(errors, p.errors);
                csv << e.name << ',' << kDuties[d] << ',' << pct << ',' << p.value << ',' << e.unit << ','
                    << p.cpuPercent << ',' << p.errors << '\n';
            }
            std::fprintf(out, "  %-9s  %s%s\n", monotonic ? "yes" : "NO", within ? "yes" : "NO",
                errors ? "  (the test reported errors)" : "");
            if (!monotonic || !within)
                status = 1;
        }
        csv.close();
        std::fprintf(out,
            "\nload as a percentage of the engine's duty-100 figure; monotonic allows %.0f points of noise\n",
            kMonotonicSlack);
        std::fprintf(out, "CSV: %s\n", csvPath.c_str());
        std::string log;
        if (runQuiet({ "/usr/bin/python3", KVX_PLOT_SCRIPT, csvPath, pngPath }, &log))
            std::fprintf(out, "plot: %s\n", pngPath.c_str());
        else
            std::fprintf(out, "no plot (python3-matplotlib?): %s\n", log.c_str());

        const bool threadsLeft = AnyTestThreadAlive(app->run());
        app.reset();
        if (chdir("/") == 0 && scratchMounted)
            umount2(scratch.c_str(), MNT_DETACH);
        fs::remove_all(work, ec);
        std::fclose(out);
        std::fclose(err);
        // A thread left behind by a stop may still run: no global may be
        // destroyed under it.
        if (threadsLeft)
            std::_Exit(status);
    }
    return status;
}
