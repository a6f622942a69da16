#include "CTest_Math.h"

#include "EngineInfo.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Run.h"
#include "Startup.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <type_traits>
#include <unistd.h>

namespace {

constexpr int kLogTestMaths = 8; // "Maths" in the event log's test names
constexpr int kOpsPerPair = 10;
constexpr int kIdlePauseMs = 5000;

const char* const kSampleFormat[kNumMathOps] = {
    "Adding values %d & %d (sample set: %d of %d).\n",
    "Subtracting values %d & %d (sample set: %d of %d).\n",
    "Multiplying values %d & %d (sample set: %d of %d).\n",
    "Dividing values %d & %d (sample set: %d of %d).\n",
    "Adding float values %f & %f (sample set: %d of %d).\n",
    "Subtracting float values %f & %f (sample set: %d of %d).\n",
    "Multiplying float values %f & %f (sample set: %d of %d).\n",
    "Dividing float values %f & %f (sample set: %d of %d).\n",
};
// Error code of a result that is not a number; the integer runs raise none.
constexpr int kNanCode[kNumMathOps] = { 0, 0, 0, 0, kMathErrorAddSub, kMathErrorAddSub, kMathErrorMul, kMathErrorDiv };
// Integer results end here so that the compiler cannot drop the work.
std::atomic<std::uint32_t> g_sink { 0 };

// The coarse clock costs a few nanoseconds against tens for the precise one,
// and its resolution (a few ms) is plenty for a 500 ms run; monotonic, so a
// clock step cannot stretch or cut a run.
constexpr clockid_t kRunClock = CLOCK_MONOTONIC_COARSE;

long elapsedMs(const timespec& from, const timespec& to)
{
    return static_cast<long>(to.tv_sec - from.tv_sec) * 1000 + (to.tv_nsec - from.tv_nsec) / 1000000;
}

constexpr std::uint32_t u32(std::int32_t v)
{
    return static_cast<std::uint32_t>(v);
}

// The kernels: kPairsPerCheck operand pairs each, a fixed count so that the
// compiler vectorises them. Integer results wrap (unsigned) instead of
// overflowing; float results are formed in double, which has the range to
// hold any sum, difference, product or quotient of two floats, so NaN shows
// up exactly where it would in extended precision.
constexpr int kPairs = CTest_Math::kPairsPerCheck;

template <class Op> int intKernel(const std::int32_t* v, std::uint32_t& acc, Op op)
{
    std::uint32_t s = 0;
    for (int k = 0; k < kPairs; ++k)
        s += op(v[2 * k], v[2 * k + 1]);
    acc += s;
    return 0;
}

typedef double Double2 __attribute__((vector_size(16)));
using Mask2 = decltype(Double2 {} != Double2 {});

// The derived value is r + r + r + r + r (r - r - r - r - r for
// subtraction, which also turns an infinite difference into NaN); a result
// is bad when its derived value is unequal to itself.
template <bool Subtract, class Op> int floatKernel(const float* v, Op op)
{
    double derived[kPairs];
    for (int k = 0; k < kPairs; ++k) {
        const double r = op(static_cast<double>(v[2 * k]), static_cast<double>(v[2 * k + 1]));
        derived[k] = Subtract ? r - r - r - r - r : r + r + r + r + r;
    }
    // Two at a time by hand: the compiler won't vectorise a compare-and-or
    // of doubles on plain x86-64, and this half would then cost as much as
    // the arithmetic.
    Mask2 bad = {};
    for (int k = 0; k < kPairs; k += 2) {
        Double2 d;
        std::memcpy(&d, derived + k, sizeof d);
        bad |= d != d;
    }
    return (bad[0] | bad[1]) != 0;
}

} // namespace

int MathPauseAfter(int op, int duty)
{
    const int d = ClampDutyCycle(duty);
    static constexpr int kLimit[4] = { 70, 80, 90, 0 }; // add, sub, mul, div
    if (op < 0 || op >= kNumMathOps)
        return 0;
    return d <= kLimit[op % 4] ? 100 - d : 0;
}

std::unique_ptr<std::int32_t[]> SetUpRandomIntArray()
{
    std::unique_ptr<std::int32_t[]> a(new (std::nothrow) std::int32_t[kMathArrayLen]);
    if (!a)
        return a;
    for (int i = 0; i < kMathArrayLen; ++i) {
        const int r = std::rand();
        a[i] = r == 0 ? 1 : r;
    }
    return a;
}

std::unique_ptr<float[]> SetUpRandomflArray()
{
    std::unique_ptr<float[]> a(new (std::nothrow) float[kMathArrayLen]);
    if (!a)
        return a;
    for (int i = 0; i < kMathArrayLen; ++i) {
        const int r1 = std::rand();
        const int r2 = std::rand();
        const int r3 = std::rand();
        float v = static_cast<float>(r1 * 1000.0);
        v = static_cast<float>(static_cast<double>(v) + r2);
        v = static_cast<float>(r3 / 10000.0 + static_cast<double>(v));
        a[i] = v == 0.0f ? 1.0f : v;
    }
    return a;
}

std::unique_ptr<std::int32_t[]> SetUpRandomPtsArray(int margin, int width, int height)
{
    std::unique_ptr<std::int32_t[]> a(new (std::nothrow) std::int32_t[kPointArrayLen]());
    if (!a)
        return a;
    // Guards a modulus of zero or less; real windows never come near it.
    const int xRange = std::max(1, width - margin);
    const int yRange = std::max(1, height - margin - 20);
    for (int i = 0; i < kPointArrayLen / 2 - 2; ++i) {
        a[2 * i] = std::rand() % xRange;
        a[2 * i + 1] = std::rand() % yRange + 20;
    }
    return a;
}

void MathLive::ClearCounters()
{
    for (auto& row : mtrTestResults)
        for (auto& c : row)
            c.store(0, std::memory_order_relaxed);
}

std::uint64_t MathLive::TotalOperations(int op) const
{
    std::uint64_t sum = 0;
    if (op < 0 || op >= kNumMathOps)
        return 0;
    for (const auto& row : mtrTestResults)
        sum += row[op].load(std::memory_order_relaxed);
    return sum;
}

CTest_Math::CTest_Math(const RunContext& ctx, int testID)
    : CTest_Base(ctx, testID, kSliceDefault)
    , m_live(ctx.run.live<MathLive>(testID))
    , m_pacer(SlotDutyCycle(testconfig, testID))
{
    std::snprintf(m_testName, sizeof m_testName, "%s", "CPU - Maths");
    // The first engine of a run starts it clean; a flag left by a cycle that
    // was cut short belongs to the previous run.
    if (m_live.engines.fetch_add(1) == 0) {
        m_live.ClearCounters();
        m_live.error.store(0, std::memory_order_relaxed);
    }
    m_live.delay.store(100 - m_pacer.duty(), std::memory_order_relaxed);
}

CTest_Math::~CTest_Math()
{
    m_live.engines.fetch_sub(1);
}

const MathSettings& CTest_Math::settings() const
{
    return m_ctx.settings<MathSettings>();
}

void CTest_Math::test_entry(int threadNumber)
{
    MarkRunning();
    th_test_maths(threadNumber);
}

int CTest_Math::runOp(int op, int threadNumber)
{
    switch (op) {
    case kMathIntAdd:
        return test_math_addition(threadNumber);
    case kMathIntSub:
        return test_math_subtraction(threadNumber);
    case kMathIntMul:
        return test_math_multiplication(threadNumber);
    case kMathIntDiv:
        return test_math_division(threadNumber);
    case kMathFloatAdd:
        return test_math_fl_addition(threadNumber);
    case kMathFloatSub:
        return test_math_fl_subtraction(threadNumber);
    case kMathFloatMul:
        return test_math_fl_multiplication(threadNumber);
    case kMathFloatDiv:
        return test_math_fl_division(threadNumber);
    default:
        return 0;
    }
}

void CTest_Math::th_test_maths(int threadNumber)
{
    DPrintf("%s, %s[%d]: %s thread %d starts\n", KVX_WHERE, m_testName, threadNumber);
    WaitOnGlobal(settings().startWaitMs);
    LogStart();

    // Read once: a switch turned off mid-run must not leave a loop that
    // counts empty cycles.
    const bool intOn = relaxedLoad(testconfig.maths_integer) != 0;
    const bool floatOn = relaxedLoad(testconfig.maths_float) != 0;
    char line[CLogger::kLineSize];
    std::snprintf(line, sizeof line, "Math Integer Test: %s, Math Float Test: %s.\n", intOn ? "ON" : "OFF",
        floatOn ? "ON" : "OFF");
    if (gLogger)
        gLogger->AddLine(line, -1, 0, m_testName, 3);

    if (!intOn && !floatOn) {
        while (Active())
            WaitMsecs(kIdlePauseMs);
        EndTest();
        return;
    }

    const int duty = 100 - m_live.delay.load(std::memory_order_relaxed);
    m_pacer.restart();
    const bool enabled[2] = { intOn, floatOn };

    for (;;) {
        if (!Active())
            break;
        bool stopped = false;
        for (int group = 0; group < 2 && !stopped; ++group) {
            if (!enabled[group])
                continue;
            for (int op = group * 4; op < group * 4 + 4; ++op) {
                runOp(op, threadNumber);
                m_pacer.rest(MathPauseAfter(op, duty), [this](int ms) { WaitMsecs(ms); });
                if (!Active()) {
                    stopped = true;
                    break;
                }
            }
        }
        if (stopped)
            break;
        reportError();
        if (!Active())
            break;
        CountCycle();
    }
    // A stop cuts the cycle short before its report: what its runs found
    // is still reported, once.
    reportError();
    EndTest();
}

void CTest_Math::reportError()
{
    // Exchange, so that a flag set once is reported by one thread once.
    if (m_live.error.exchange(0, std::memory_order_acquire) != 0)
        RecordError(m_live.lastError.load(std::memory_order_relaxed), kLogTestMaths);
}

template <class T, class Kernel> int CTest_Math::runOperation(int threadNumber, MathOp op, Kernel kernel)
{
    std::unique_ptr<T[]> operands;
    if constexpr (std::is_same_v<T, float>)
        operands = SetUpRandomflArray();
    else
        operands = SetUpRandomIntArray();
    if (!operands)
        return 0;
    const MathSettings& set = settings();
    if (set.operandHook)
        set.operandHook(threadNumber, op, operands.get(), kMathArrayLen);
    if constexpr (!std::is_same_v<T, float>)
        std::srand(static_cast<unsigned>(std::time(nullptr)));

    const long runMs = set.runMs;
    const T* v = operands.get();

    timespec start {};
    clock_gettime(kRunClock, &start);
    std::uint64_t pairs = 0;
    int blocksUntilSample = 0;
    int sample = 0;
    int p = 0;
    std::uint32_t acc = 0;
    int bad = 0;

    // One block is the kPairsPerCheck pairs between two clock readings; the
    // stop flag is read with the clock, a fraction of a microsecond apart,
    // and inline (Active() is a call into another unit).
    const int& activeFlag = m_ctx.run.threadActive[m_testID];
    while (relaxedLoad(activeFlag) == 1) {
        bad |= kernel(v + p, acc);
        pairs += kPairsPerCheck;
        // Work, then the duty cycle's pause, sized by the work's time.
        Pace(m_pacer);

        timespec now {};
        clock_gettime(kRunClock, &now);
        if (elapsedMs(start, now) >= runMs)
            break;
        if (blocksUntilSample == 0) {
            char line[CLogger::kLineSize];
            if constexpr (std::is_same_v<T, float>)
                std::snprintf(line, sizeof line, kSampleFormat[op], static_cast<double>(v[p]),
                    static_cast<double>(v[p + 1]), sample, kPairsPerSample);
            else
                std::snprintf(line, sizeof line, kSampleFormat[op], v[p], v[p + 1], sample, kPairsPerSample);
            if (gLogger)
                gLogger->AddLine(line, -1, 0, m_testName, 4);
            ++sample;
            blocksUntilSample = kPairsPerSample / kPairsPerCheck;
        }
        --blocksUntilSample;
        p += 2 * kPairs;
        if (p == kMathArrayLen)
            p = 0;
    }

    if (bad) {
        m_live.lastError.store(kNanCode[op], std::memory_order_relaxed);
        m_live.error.store(1, std::memory_order_release);
    }
    g_sink.fetch_add(acc, std::memory_order_relaxed);
    const std::uint64_t n = pairs * kOpsPerPair;
    if (threadNumber >= 0 && threadNumber < kMaxThreads)
        m_live.mtrTestResults[threadNumber][op].fetch_add(n, std::memory_order_relaxed);
    CountOperations(n);
    return 1;
}

static_assert(kMathArrayLen % (2 * kPairs) == 0, "blocks must tile the operand array");
static_assert(CTest_Math::kPairsPerSample % kPairs == 0 && kPairs % 2 == 0);

int CTest_Math::test_math_addition(int threadNumber)
{
    return runOperation<std::int32_t>(threadNumber, kMathIntAdd, [](const std::int32_t* v, std::uint32_t& acc) {
        return intKernel(v, acc, [](std::int32_t a, std::int32_t b) { return u32(a) + u32(b); });
    });
}

int CTest_Math::test_math_subtraction(int threadNumber)
{
    return runOperation<std::int32_t>(threadNumber, kMathIntSub, [](const std::int32_t* v, std::uint32_t& acc) {
        return intKernel(v, acc, [](std::int32_t a, std::int32_t b) { return u32(a) - u32(b); });
    });
}

int CTest_Math::test_math_multiplication(int threadNumber)
{
    return runOperation<std::int32_t>(threadNumber, kMathIntMul, [](const std::int32_t* v, std::uint32_t& acc) {
        return intKernel(v, acc, [](std::int32_t a, std::int32_t b) { return u32(a) * u32(b); });
    });
}

int CTest_Math::test_math_division(int threadNumber)
{
    return runOperation<std::int32_t>(threadNumber, kMathIntDiv, [](const std::int32_t* v, std::uint32_t& acc) {
        return intKernel(v, acc, [](std::int32_t a, std::int32_t b) { return u32(a / b); });
    });
}

int CTest_Math::test_math_fl_addition(int threadNumber)
{
    return runOperation<float>(threadNumber, kMathFloatAdd,
        [](const float* v, std::uint32_t&) { return floatKernel<false>(v, [](double a, double b) { return a + b; }); });
}

int CTest_Math::test_math_fl_subtraction(int threadNumber)
{
    return runOperation<float>(threadNumber, kMathFloatSub,
        [](const float* v, std::uint32_t&) { return floatKernel<true>(v, [](double a, double b) { return a - b; }); });
}

int CTest_Math::test_math_fl_multiplication(int threadNumber)
{
    return runOperation<float>(threadNumber, kMathFloatMul,
        [](const float* v, std::uint32_t&) { return floatKernel<false>(v, [](double a, double b) { return a * b; }); });
}

int CTest_Math::test_math_fl_division(int threadNumber)
{
    return runOperation<float>(threadNumber, kMathFloatDiv,
        [](const float* v, std::uint32_t&) { return floatKernel<false>(v, [](double a, double b) { return a / b; }); });
}

void* Test_Thread_Math(void* arg)
{
    return RunTestThread(static_cast<TestThreadRecord*>(arg), "Test_Thread_Math",
        [](const RunContext& ctx, int, int testID) -> std::unique_ptr<CTest_Base> {
            return std::make_unique<CTest_Math>(ctx, testID);
        });
}

extern const EngineInfo kMathEngine;

int StartMathThreads(const RunContext& ctx, int count, pthread_t* handles)
{
    return StartTestThreads(ctx, kMathEngine.firstSlot, 0, std::clamp(count, 0, CTest_Math::kMaxThreads), handles);
}

namespace {
constexpr int kMathErrors[] = { kMathErrorAddSub, kMathErrorDiv, kMathErrorMul };

// One thread per processor the machine has, up to kMaxThreads.
int mathThreads(const RunContext& ctx)
{
    int cpus = relaxedLoad(ctx.results.cpu_info.cpu_count);
    if (cpus <= 0)
        cpus = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
    if (cpus > CTest_Math::kMaxThreads)
        DPrintf("%s, %s[%d]: %d processors; maths threads for the first %d only\n", KVX_WHERE, cpus,
            CTest_Math::kMaxThreads);
    return std::clamp(cpus, 1, CTest_Math::kMaxThreads);
}

} // namespace

extern const EngineInfo kMathEngine = {
    .name = "CPU - Maths",
    .firstSlot = kSlotMaths,
    .units = 1,
    .switchSlot = -1,
    .stopLimitMs = 1000,
    .unitName = "processor",
    .unitText = nullptr,
    .preRunNote = nullptr,
    .window = LiveWindowKind::Maths,
    .icon = ":/icons/maths.png",
    .entry = Test_Thread_Math,
    .makeLive = []() -> std::unique_ptr<LiveStatus> { return std::make_unique<MathLive>(); },
    .errorCodes = kMathErrors,
    .threads = mathThreads,
    .commandName = "maths",
};
