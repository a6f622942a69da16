// The CPU maths test (slot 1): one thread per processor adds, subtracts,
// multiplies and divides random integer and float operands, flags a float
// result that is not a number, counts its operations and throttles itself
// to the slot's duty cycle. The module also builds the random point array
// of the 2D graphics test.
//
// Typical usage:
//   1. The run controller (GUI thread) starts the descriptor's `threads`
//      (one per processor). Each thread gets a private TestThreadRecord
//      {test_id 1, instance n} for n = 0, 1, 2, ..., so no thread can read
//      another's number. Every thread counts itself in the run's
//      threadData[1].running, which the controller polls at stop time.
//   2. Test_Thread_Math (the thread entry of slot 1) runs RunTestThread
//      with a CTest_Math; test_entry(n) marks the slot active and runs
//      th_test_maths(n): a cycle is the eight operation runs of about half a
//      second each (those switched on), with duty-cycle pauses.
//   3. The controller asks for a stop by clearing threadActive[1]; every
//      maths thread leaves at its next check (within 100 operand pairs in a
//      run, one 100 ms slice in a pause), adds the run's operations and
//      ends.
//
// Threadsafety: all maths threads share the slot's MathLive (throttle, error
// flag, counters), results[1] and threadActive[1]; every one of them is
// atomic or reached through AtomicField.h. Thread n writes only row n of
// MathLive::mtrTestResults; the GUI thread reads any row at any time.
#pragma once

#include "RunContext.h"

#include "CTest_Base.h"
#include "DutyPacer.h"

#include "LiveStatus.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <pthread.h>

// The operation runs, in the column order of MathLive::mtrTestResults.
enum MathOp : int {
    kMathIntAdd,
    kMathIntSub,
    kMathIntMul,
    kMathIntDiv,
    kMathFloatAdd,
    kMathFloatSub,
    kMathFloatMul,
    kMathFloatDiv,
};
constexpr int kNumMathOps = 8;

// Elements of an operand array; the pairs (0,1), (2,3), ... are used in turn.
constexpr int kMathArrayLen = 20000;
// Elements of the 2D test's point array: 10,000 (x, y) pairs.
constexpr int kPointArrayLen = 20000;

// The pause after operation run `op` (either type) at duty cycle `duty`:
// 100 - duty after addition up to 70, after subtraction up to 80, after
// multiplication up to 90; never after division. Any thread.
int MathPauseAfter(int op, int duty);

// The codes of bad float results; the integer runs raise none.
enum MathError : int {
    kMathErrorAddSub = 1, // float addition or subtraction
    kMathErrorDiv = 3,
    kMathErrorMul = 4,
};

// Operand arrays for one run, built with rand(); null when out of memory.
// 20,000 values 1..RAND_MAX (a 0 becomes 1, so no zero divisor).
std::unique_ptr<std::int32_t[]> SetUpRandomIntArray();
// 20,000 values (r1 * 1000 + r2) + r3 / 10000 in single precision, all
// positive (a 0 becomes 1.0).
std::unique_ptr<float[]> SetUpRandomflArray();
// 10,000 (x, y) pairs for the 2D test: the first 9,998 with x in
// 0..width-margin-1 and y in 20..height-margin-1, the last two (0, 0). A
// window too small for those ranges gets x = 0 or y = 20.
std::unique_ptr<std::int32_t[]> SetUpRandomPtsArray(int margin, int width, int height);

// Rows of the counter table, so threads: far above any processor count
// seen; StartMathThreads starts no more.
constexpr int kMathMaxThreads = 1024;

// The live values of the maths slot, shared by all its threads.
struct MathLive : LiveStatus {
    // 100 - duty, written identically by every CTest_Math constructor.
    std::atomic<std::int32_t> delay { 0 };
    // 1 while a bad float result waits to be reported, and its code.
    std::atomic<std::int32_t> error { 0 };
    std::atomic<std::int32_t> lastError { 0 };
    // Maths engines alive: the first of a run clears the counter table, later
    // ones must not wipe rows that are already counting.
    std::atomic<int> engines { 0 };
    // Operation counts per thread (row) and MathOp (column). Written by the
    // row's thread once per run, read by the GUI thread.
    std::atomic<std::uint64_t> mtrTestResults[kMathMaxThreads][kNumMathOps] {};

    // Zeroes mtrTestResults. Call with no maths thread running.
    void ClearCounters();
    // The sum of column `op` over all rows. Any thread.
    std::uint64_t TotalOperations(int op) const;
};

struct MathSettings;

class CTest_Math : public CTest_Base {
public:
    static constexpr int kMaxThreads = kMathMaxThreads;
    static constexpr int kStartWaitMs = 1000;
    static constexpr int kRunMs = 500;
    // Pairs between two clock readings (and stop checks).
    static constexpr int kPairsPerCheck = 100;
    // Pairs between two sample lines.
    static constexpr int kPairsPerSample = 1000000;

    // Sets the slot's throttle parameters from the configuration and, when
    // no other maths engine is alive, clears its counters and error flag.
    // Test thread.
    CTest_Math(const RunContext& ctx, int testID);
    ~CTest_Math() override;

    // Counts the test as running, marks the slot active, runs th_test_maths.
    void test_entry(int threadNumber) override;
    // The test loop of thread `threadNumber`, until the slot is stopped.
    void th_test_maths(int threadNumber);

    // One operation run of about half a second (kRunMs). Returns 1 when it
    // ran, 0 when its operand array could not be allocated.
    int test_math_addition(int threadNumber);
    int test_math_subtraction(int threadNumber);
    int test_math_multiplication(int threadNumber);
    int test_math_division(int threadNumber);
    int test_math_fl_addition(int threadNumber);
    int test_math_fl_subtraction(int threadNumber);
    int test_math_fl_multiplication(int threadNumber);
    int test_math_fl_division(int threadNumber);

private:
    int runOp(int op, int threadNumber);
    template <class T, class Kernel> int runOperation(int threadNumber, MathOp op, Kernel kernel);
    void reportError();
    const MathSettings& settings() const;

    MathLive& m_live;
    // The duty cycle's pauses: this thread's own, sized by its work's time.
    DutyPacer m_pacer;
};

// Sees every operand array right after it is built (std::int32_t elements
// for the integer runs, float for the float runs) and may change it; integer
// divisors must stay non-zero. Called on every maths thread.
using MathOperandHook = std::function<void(int threadNumber, MathOp op, void* operands, int count)>;

// The maths engine's settings; the program keeps the defaults.
struct MathSettings {
    int runMs = CTest_Math::kRunMs; // one operation run
    int startWaitMs = CTest_Math::kStartWaitMs;
    MathOperandHook operandHook; // tests only
};

// Thread entry of the maths slot. `arg` is a TestThreadRecord whose test_id
// is the slot and instance the CPU thread number, read once, at the start;
// `running` is counted on the run's threadData[test_id], never on the
// record itself.
void* Test_Thread_Math(void* arg);

// Starts `count` maths threads (at most CTest_Math::kMaxThreads) numbered
// 0..count-1, as StartTestThreads does. Returns the number started. GUI
// thread, at the start of a run.
int StartMathThreads(const RunContext& ctx, int count, pthread_t* handles = nullptr);
