// bench_maths [seconds]: runs the CPU maths test at duty cycle 100 on every
// core for `seconds` (default 30), then a plain loop doing the same
// operations on the same kind of arrays, and prints how busy the cores were
// and the test's operation rate per core against the loop's.
#include "AtomicField.h"
#include "CLogger.h"
#include "CTest_Math.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "ResultRecord.h"
#include "BenchRun.h"
#include "Startup.h"
#include "TestSlots.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kMinBusyPercent = 97.0;
constexpr int kOpsPerPair = 10;

const char* const kOpNames[kNumMathOps] = {
    "integer addition",
    "integer subtraction",
    "integer multiplication",
    "integer division",
    "float addition",
    "float subtraction",
    "float multiplication",
    "float division",
};

std::atomic<std::uint64_t> g_sink { 0 };

double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The obvious loop over the whole array, timed once per pass.
template <class T, class Body> std::uint64_t referencePairs(const T* v, double seconds, Body body)
{
    const auto t0 = Clock::now();
    std::uint64_t pairs = 0;
    std::uint32_t acc = 0;
    while (since(t0) < seconds) {
        for (int p = 0; p < kMathArrayLen; p += 2)
            acc += body(v[p], v[p + 1]);
        pairs += kMathArrayLen / 2;
    }
    g_sink.fetch_add(acc, std::memory_order_relaxed);
    return pairs;
}

std::uint64_t reference(int op, double seconds)
{
    if (op < kMathFloatAdd) {
        const auto v = SetUpRandomIntArray();
        auto u = [](std::int32_t x) { return static_cast<std::uint32_t>(x); };
        switch (op) {
        case kMathIntAdd:
            return referencePairs(v.get(), seconds, [&](std::int32_t a, std::int32_t b) { return u(a) + u(b); });
        case kMathIntSub:
            return referencePairs(v.get(), seconds, [&](std::int32_t a, std::int32_t b) { return u(a) - u(b); });
        case kMathIntMul:
            return referencePairs(v.get(), seconds, [&](std::int32_t a, std::int32_t b) { return u(a) * u(b); });
        default:
            return referencePairs(v.get(), seconds, [&](std::int32_t a, std::int32_t b) { return u(a / b); });
        }
    }
    const auto v = SetUpRandomflArray();
    // The same derived value and NaN test as the test.
    auto check = [](double r, bool subtract) {
        const double d = subtract ? r - r - r - r - r : r + r + r + r + r;
        return static_cast<std::uint32_t>(d != d);
    };
    auto dbl = [](float x) { return static_cast<double>(x); };
    switch (op) {
    case kMathFloatAdd:
        return referencePairs(v.get(), seconds, [&](float a, float b) { return check(dbl(a) + dbl(b), false); });
    case kMathFloatSub:
        return referencePairs(v.get(), seconds, [&](float a, float b) { return check(dbl(a) - dbl(b), true); });
    case kMathFloatMul:
        return referencePairs(v.get(), seconds, [&](float a, float b) { return check(dbl(a) * dbl(b), false); });
    default:
        return referencePairs(v.get(), seconds, [&](float a, float b) { return check(dbl(a) / dbl(b), false); });
    }
}

void totals(const MathLive& live, std::uint64_t out[kNumMathOps])
{
    for (int op = 0; op < kNumMathOps; ++op)
        out[op] = live.TotalOperations(op);
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    if (seconds < 1) {
        std::fprintf(stderr, "usage: %s [seconds >= 1]\n", argv[0]);
        return 2;
    }
    const int cores = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));

    // The engines' trace lines would mix with the figures.
    g_fh_debug = std::fopen("/dev/null", "w");
    testconfig.duty_cycle[kSlotMaths] = 100;
    testconfig.maths_integer = 1;
    testconfig.maths_float = 1;
    resultfile.cpu_info.cpu_count = cores;
    // A logger with logging off: the sample lines cost what they cost in the
    // program.
    gLogger = new CLogger("bench");

    ProcessRun& process = benchProcess();
    std::vector<pthread_t> threads(static_cast<std::size_t>(cores));
    const int started = StartMathThreads(process.ctx, cores, threads.data());
    if (started != cores) {
        std::fprintf(stderr, "started %d maths threads of %d\n", started, cores);
        return 1;
    }
    // Measure from the first operation run on, past the start wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(CTest_Math::kStartWaitMs + 300));

    std::uint64_t before[kNumMathOps];
    std::uint64_t after[kNumMathOps];
    const MathLive& live = process.run.live<MathLive>(kSlotMaths);
    totals(live, before);
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = since(t0);
    const double cpu = cpuSeconds() - cpu0;
    totals(live, after);

    benchProcess().run.setSlotActive(kSlotMaths, false);
    for (pthread_t t : threads)
        pthread_join(t, nullptr);

    // Each run lasts half a second and all eight take turns, so each
    // operation had about an eighth of every core's time.
    const double opSeconds = wall * cores / kNumMathOps;
    const double refSeconds = std::max(0.5, static_cast<double>(seconds) / kNumMathOps);

    const double busy = 100.0 * cpu / (wall * cores);
    std::printf("maths test, duty cycle 100, %d threads on %d cores, %.1f s measured\n", started, cores, wall);
    std::printf(
        "CPU busy: %.1f %% (process CPU time / (wall time x cores)); needs >= %.0f %%\n\n", busy, kMinBusyPercent);
    std::printf("%-24s %16s %16s %7s\n", "operation", "test Mops/s/core", "loop Mops/s/core", "ratio");

    double ratioSum = 0.0;
    for (int op = 0; op < kNumMathOps; ++op) {
        std::vector<std::uint64_t> pairs(static_cast<std::size_t>(cores));
        std::vector<std::thread> ref;
        for (int c = 0; c < cores; ++c)
            ref.emplace_back([&, c] { pairs[static_cast<std::size_t>(c)] = reference(op, refSeconds); });
        for (auto& t : ref)
            t.join();
        std::uint64_t refPairs = 0;
        for (auto n : pairs)
            refPairs += n;
        const double refRate = static_cast<double>(refPairs) * kOpsPerPair / (refSeconds * cores) / 1e6;
        const double testRate = static_cast<double>(after[op] - before[op]) / opSeconds / 1e6;
        const double ratio = refRate > 0 ? testRate / refRate : 0.0;
        ratioSum += ratio;
        std::printf("%-24s %16.0f %16.0f %7.2f\n", kOpNames[op], testRate, refRate, ratio);
    }
    std::printf("%-24s %16s %16s %7.2f\n", "mean", "", "", ratioSum / kNumMathOps);
    std::printf("(operations: 10 per operand pair, as the test counts them)\n");

    delete gLogger;
    gLogger = nullptr;
    return busy >= kMinBusyPercent ? 0 : 1;
}
