#include "HeadlessRun.h"

#include "CliOptions.h"
#include "CliReports.h"
#include "Progress.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigFile.h"
#include "DebugTrace.h"
#include "EngineInfo.h"
#include "HealthSettings.h"
#include "MessageBox.h"
#include "ProcessRun.h"
#include "RunControl.h"
#include "Startup.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kTickMs = 250;
// A run in which no test is left running after this long ends by itself.
constexpr int kIdleEndSec = 10;

// Boxes become lines on standard error, dismissed: nobody is there to
// answer them.
class CliMessageSink : public MessageSink {
public:
    int show(BoxIcon, const std::string& caption, const std::string& text, const std::vector<std::string>&, int,
        int) override
    {
        std::string line = caption + ": " + text;
        for (char& c : line)
            if (c == '\n')
                c = ' ';
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        last = line;
        if (quiet || (!mute.empty() && caption.starts_with(mute))) {
            mute.clear();
            return -1;
        }
        std::fprintf(stderr, "kalvextest-cli: %s\n", line.c_str());
        return -1;
    }
    std::string last;
    bool quiet = false;
    // The caption of one box that is said otherwise.
    std::string mute;
};

class HeadlessObserver : public RunObserver {
public:
    explicit HeadlessObserver(Progress* progress)
        : m_progress(progress)
    {
    }
    bool openGLAvailable() override { return false; }
    void createWindow(int) override { }
    void testStarted(int, bool) override { }
    void processEvents() override { }
    void closingProgress(const std::string& text, int percent) override
    {
        if (m_progress)
            m_progress->message(text + " (" + std::to_string(percent) + " %)");
    }
    void stopTimeSet() override { }
    void deleteWindow(int) override { }

private:
    Progress* m_progress;
};

std::string executableDirectory()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string dir(path);
    const std::size_t slash = dir.rfind('/');
    return slash == 0 ? "/" : dir.substr(0, slash);
}

int usageError(const std::string& text)
{
    std::fprintf(stderr, "kalvextest-cli: %s\n", text.c_str());
    return kExitUsage;
}

// Errors found so far by this run's selected tests (not those of earlier
// runs the accumulate mode adds): what stops a run at the first error.
long runErrors(const RunContext& ctx)
{
    long errors = 0;
    for (int slot = 0; slot < kNumSlots; ++slot)
        if (performTest(ctx.config, slot))
            errors += relaxedLoad(ctx.results.results[slot].errors);
    return errors;
}

bool anySlotActive(const RunContext& ctx)
{
    for (int slot = 0; slot < kNumSlots; ++slot)
        if (performTest(ctx.config, slot) && ctx.run.slotActive(slot))
            return true;
    return false;
}

// The log's configuration saves (its line counts) keep the file's own
// choices: this run's options change only the running copy.
class ConfigKeeper {
public:
    explicit ConfigKeeper(const _testconfig& loaded)
        : m_loaded(std::make_unique<_testconfig>(loaded))
        , m_copy(std::make_unique<_testconfig>())
    {
    }
    void save(const char* dir)
    {
        std::lock_guard lock(m_mutex);
        recordCopy(*m_copy, testconfig);
        RestoreFileChoices(*m_loaded, *m_copy);
        ConfigFileSave(defaultconfigfile, dir, m_copy.get());
    }

private:
    std::mutex m_mutex;
    std::unique_ptr<const _testconfig> m_loaded;
    std::unique_ptr<_testconfig> m_copy;
};

} // namespace

int RunHeadless(const CliOptions& opts)
{
    // Only this thread takes the stop signals, through sigtimedwait: the
    // test threads, started later, inherit the mask, so no sleep or read of
    // theirs is cut short by one.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const std::string programDir = opts.programDir.empty() ? executableDirectory() : opts.programDir;
    if (::access(programDir.c_str(), F_OK) != 0)
        return usageError("program directory " + programDir + ": " + std::strerror(errno));
    const std::string dataDir = DataDirectoryFor(programDir);
    if (::access(dataDir.c_str(), W_OK) != 0)
        return usageError("cannot write to " + dataDir + ": " + std::strerror(errno));

    CliMessageSink sink;
    SetMessageSink(&sink);
    // No return path may leave the sink installed once it is gone.
    const std::unique_ptr<CliMessageSink, void (*)(CliMessageSink*)> sinkGuard(
        &sink, [](CliMessageSink*) { SetMessageSink(nullptr); });
    if (!opts.configFile.empty()) {
        if (opts.configFile.size() >= sizeof configfilename)
            return usageError("configuration path too long: " + opts.configFile);
        auto probe = std::make_unique<_testconfig>();
        sink.quiet = true;
        const int rc = ConfigFileLoad(opts.configFile.c_str(), "", probe.get());
        sink.quiet = false;
        if (rc != 0) {
            const std::string why = rc > 0                     ? std::strerror(rc)
                : ::access(opts.configFile.c_str(), F_OK) != 0 ? std::strerror(ENOENT)
                                                               : "not a configuration file";
            return usageError("cannot read configuration " + opts.configFile + ": " + why);
        }
    }
    const std::string debugPath = dataDir + "/debug-cli.log";
    if (!CheckPathLengths(dataDir, debugPath))
        return usageError(sink.last);

    // Bad options are told before anything is loaded or written.
    std::string error;
    {
        auto scratch = std::make_unique<_testconfig>();
        KalvexTest_SetUpDefault(scratch.get());
        if (!ApplyCliOptions(opts, *scratch, error))
            return usageError(error + "\nTry 'kalvextest-cli --help'.");
    }
    if (opts.configFile.empty() && ::access((dataDir + "/" + defaultconfigfile).c_str(), F_OK) != 0) {
        std::fprintf(stderr, "kalvextest-cli: no %s in %s yet: the default configuration is used\n", defaultconfigfile,
            dataDir.c_str());
        sink.mute = "Error loading";
    }

    OpenDebugFile(debugPath);
    InitEnv_Main(false, opts.configFile.c_str(), true, programDir, dataDir);
    ConfigKeeper keeper(testconfig);
    gLogger->SetConfigSaver([&keeper] { keeper.save(dirname); });

    if (!ApplyCliOptions(opts, testconfig, error)) {
        ExitEnv_Main();
        return usageError(error + "\nTry 'kalvextest-cli --help'.");
    }

    ProcessRun process;
    RunContext& ctx = process.ctx;
    {
        std::vector<std::string> problems;
        HealthSettings health = LoadHealthSettings(dataDir + "/" + kHealthSettingsFile, problems);
        for (const std::string& problem : problems) {
            std::fprintf(stderr, "kalvextest-cli: %s\n", problem.c_str());
            gLogger->AddLine(problem.c_str(), -1, 0, "Hardware health", 1);
        }
        if (opts.noHealth)
            health.monitor = false;
        if (opts.thermalLimit)
            health.thermalLimit = *opts.thermalLimit;
        ctx.setSettings(health);
    }
    gLogger->SetReportContext(&ctx);
    RunOutcome outcome;
    outcome.runId = NewRunId();

    // What cannot run here is left out of the run and reported with why.
    int toRun = 0;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        const EngineInfo* engine = EngineFor(slot);
        if (!engine || !performTest(testconfig, slot))
            continue;
        const char* why = !ctx.entryFor(*engine) ? "needs a display (run kalvextest)"
            : engine->missingPrivilege           ? engine->missingPrivilege()
                                                 : nullptr;
        if (!why) {
            ++toRun;
            continue;
        }
        const std::string name = SlotDisplayName(ctx, slot);
        outcome.notRun.push_back({ name, why });
        gLogger->AddLine(Format("Not run: %s", why).c_str(), -1, 0, name.c_str(), 1);
        testconfig.test_enabled[slot] = 0;
    }

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    std::unique_ptr<Progress> progress;
    if (!opts.quiet)
        progress = std::make_unique<Progress>(stderr, terminal, opts.progressIntervalSec);
    for (const NotRunTest& test : outcome.notRun)
        if (progress)
            progress->message(test.name + ": not run, " + test.reason);

    int status = kExitPassed;
    if (toRun == 0) {
        std::fprintf(
            stderr, "kalvextest-cli: nothing could run%s\n", outcome.notRun.empty() ? " (no test selected)" : "");
        status = kExitNothingRan;
    } else {
        HeadlessObserver observer(progress.get());
        const int configured = StartRun(ctx, observer);
        const std::time_t started = std::time(nullptr);
        bool automatic = true;
        const timespec tick { 0, kTickMs * 1000000L };
        for (;;) {
            siginfo_t info {};
            if (sigtimedwait(&stopSignals, &info, &tick) > 0) {
                outcome.interrupted = true;
                automatic = false;
                gLogger->AddLine(
                    Format("Test run interrupted by %s", info.si_signo == SIGINT ? "SIGINT" : "SIGTERM").c_str(), -1, 0,
                    "kalvextest-cli", 1);
                if (progress)
                    progress->message(std::string("interrupted by ") + (info.si_signo == SIGINT ? "SIGINT" : "SIGTERM")
                        + ", stopping");
                break;
            }
            const std::time_t now = std::time(nullptr);
            if (progress)
                progress->update(ctx, now);
            if (KVXComplete(ctx, now)) {
                if (ctx.run.health.stopRequested() && progress)
                    progress->message("over the thermal limit, stopping");
                break;
            }
            if (relaxedLoad(testconfig.action_on_error) == 2 && runErrors(ctx) > 0)
                break;
            if (now - started >= kIdleEndSec && !anySlotActive(ctx)) {
                if (progress)
                    progress->message("no test is running any more");
                break;
            }
        }
        if (progress)
            progress->update(ctx, std::time(nullptr), true);
        StopRun(ctx, observer, automatic, configured);
        // The verdict the program's banner and the reports give: the
        // summary's counts (this run's, or with earlier runs' in the
        // accumulate mode).
        status = outcome.interrupted ? kExitInterrupted : TotalErrors(ctx) > 0 ? kExitFailed : kExitPassed;
    }

    outcome.exitStatus = status;
    if (!WriteRunReports(ctx, opts, outcome) && status == kExitPassed)
        status = kExitFailed;

    const char* verdict = status == kExitPassed ? "PASSED"
        : status == kExitFailed                 ? "FAILED"
        : status == kExitInterrupted            ? "INTERRUPTED"
                                                : "NOTHING RUN";
    std::fprintf(stderr, "kalvextest-cli: %s\n", verdict);
    // What the runner itself costs beside the engines (the benchmark reads it).
    rusage self {};
    getrusage(RUSAGE_THREAD, &self);
    DPrintf("kalvextest-cli: runner thread CPU %ld.%06ld s user, %ld.%06ld s system\n",
        static_cast<long>(self.ru_utime.tv_sec), static_cast<long>(self.ru_utime.tv_usec),
        static_cast<long>(self.ru_stime.tv_sec), static_cast<long>(self.ru_stime.tv_usec));
    std::fflush(nullptr);
    // A thread abandoned at the stop may still run: nothing it uses may be
    // destroyed under it.
    if (AnyTestThreadAlive(process.run))
        std::_Exit(status);
    ExitEnv_Main();
    return status;
}
