#include "Results.h"

#include "AtomicField.h"
#include "CLogger.h"
#include "DebugTrace.h"
#include "ErrorClassification.h"
#include "RunContext.h"
#include "Startup.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

void RecordError(_resultfile& results, CLogger* log, int slot, int code, int logTest)
{
    if (slot < 0 || slot >= kNumSlots)
        return;
    relaxedAdd(results.results[slot].errors, 1u);
    relaxedStore(results.results[slot].last_error, static_cast<std::uint32_t>(code));
    UpdateErrorClassificationResults(results, slot, code);
    if (log && code >= 0 && code < kMaxErrorCodes)
        log->AddLine(e_strings[code], logTest, code, nullptr, 1);
}

void RecordError(const RunContext& ctx, int slot, int code, int logTest)
{
    RecordError(ctx.results, ctx.log, slot, code, logTest);
}

void RecordErrorText(const RunContext& ctx, int slot, int code, const char* name, const std::string& text)
{
    if (slot < 0 || slot >= kNumSlots)
        return;
    relaxedAdd(ctx.results.results[slot].errors, 1u);
    relaxedStore(ctx.results.results[slot].last_error, static_cast<std::uint32_t>(code));
    RecordWarningText(ctx, slot, code, name, text);
}

void RecordWarningText(const RunContext& ctx, int slot, int code, const char* name, const std::string& text)
{
    UpdateErrorClassificationResults(ctx.results, slot, code);
    if (ctx.log)
        ctx.log->AddLine(text.c_str(), -1, code, name, 1);
}

void UpdateErrorClassificationResults(_resultfile& results, int slot, int code)
{
    if (slot < 0 || slot >= kNumSlots)
        return;
    _classerror& c = results.classes[slot];
    if (code == -1) {
        recordClear(c);
        return;
    }
    if (code < 0 || code >= kMaxErrorCodes)
        return;
    switch (e_classification[code]) {
    case kSevInformation:
        relaxedAdd(c.information, 1u);
        break;
    case kSevWarning:
        relaxedAdd(c.warning, 1u);
        break;
    case kSevSerious:
        relaxedAdd(c.serious, 1u);
        break;
    case kSevCritical:
        relaxedAdd(c.critical, 1u);
        break;
    default:
        break;
    }
}

void AddCycle(_resultfile& results, int slot)
{
    relaxedAdd(results.results[slot].cycles, 1u);
}

void AddOperations(_resultfile& results, int slot, std::uint64_t n)
{
    relaxedAdd<std::uint64_t>(results.results[slot].op_count, n);
}

void AddMegabytes(_resultfile& results, int slot, std::uint32_t mb)
{
    relaxedAdd(results.results[slot].mb, mb);
}

void AddUpResults(_resultinfo* dst, const _resultinfo* a, const _resultinfo* b, int n)
{
    for (int i = 0; i < n; ++i) {
        _resultinfo r;
        r.cycles = relaxedLoad(a[i].cycles) + relaxedLoad(b[i].cycles);
        r.mb = relaxedLoad(a[i].mb) + relaxedLoad(b[i].mb);
        r.errors = relaxedLoad(a[i].errors) + relaxedLoad(b[i].errors);
        const std::uint32_t current = relaxedLoad(b[i].last_error);
        r.last_error = current != 0 ? current : relaxedLoad(a[i].last_error);
        r.op_count = relaxedLoad<std::uint64_t>(a[i].op_count) + relaxedLoad<std::uint64_t>(b[i].op_count);
        recordCopy(dst[i], r);
    }
}

void AddUpErrorClassifications(_classerror* dst, const _classerror* a, const _classerror* b, int n)
{
    for (int i = 0; i < n; ++i) {
        _classerror c;
        c.information = relaxedLoad(a[i].information) + relaxedLoad(b[i].information);
        c.warning = relaxedLoad(a[i].warning) + relaxedLoad(b[i].warning);
        c.serious = relaxedLoad(a[i].serious) + relaxedLoad(b[i].serious);
        c.critical = relaxedLoad(a[i].critical) + relaxedLoad(b[i].critical);
        recordCopy(dst[i], c);
    }
}

long AccumulateTime(long a, long b, int mode)
{
    if (b <= 0)
        return a;
    if (a <= 0)
        return b;
    switch (mode) {
    case 0:
        return a < b ? a : b;
    case 1:
        return a > b ? a : b;
    case 2:
        return a + b;
    default:
        return 0;
    }
}

void AccumulateResults(const char* dir)
{
    auto results = std::make_unique<_resultinfo[]>(kNumSlots);
    AddUpResults(results.get(), resultfile.accum_results, resultfile.results, kNumSlots);
    for (int i = 0; i < kNumSlots; ++i)
        recordCopy(resultfile.accum_results[i], results[static_cast<std::size_t>(i)]);

    auto classes = std::make_unique<_classerror[]>(kNumSlots);
    AddUpErrorClassifications(classes.get(), resultfile.accum_classes, resultfile.classes, kNumSlots);
    for (int i = 0; i < kNumSlots; ++i)
        recordCopy(resultfile.accum_classes[i], classes[static_cast<std::size_t>(i)]);

    const long start = relaxedLoad(resultfile.run_start_time);
    const long stop = relaxedLoad(resultfile.run_stop_time);
    relaxedStore(resultfile.accum_start_time,
        static_cast<std::int32_t>(AccumulateTime(relaxedLoad(resultfile.accum_start_time), start, 0)));
    relaxedStore(resultfile.accum_stop_time,
        static_cast<std::int32_t>(AccumulateTime(relaxedLoad(resultfile.accum_stop_time), stop, 1)));
    // A run in which no test started has no start time: it adds no duration
    // (stop - 0 would add decades).
    if (stop != 0 && start != 0)
        relaxedStore(resultfile.accum_duration,
            static_cast<std::int32_t>(AccumulateTime(relaxedLoad(resultfile.accum_duration), stop - start, 2)));

    if (relaxedLoad(testconfig.pretest_log_mode) == 1) {
        const std::string path = std::string(dir) + "/.accum_result.cfg";
        auto snapshot = std::make_unique<_resultfile>();
        recordCopy(*snapshot, resultfile);
        BinaryDataSave(path.c_str(), snapshot.get(), sizeof(_resultfile), 1);
    }
}

void LoadAccumulatedResults(const char* dir)
{
    if (relaxedLoad(testconfig.pretest_log_mode) != 1) {
        ClearAccumulatedResults();
        return;
    }
    const std::string path = std::string(dir) + "/.accum_result.cfg";
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        DPrintf("%s\n", std::strerror(errno));
        return;
    }
    std::fclose(f);
    BinaryDataLoad(path.c_str(), &resultfile, sizeof resultfile, 1);
    TerminateResultTexts(resultfile);
}

void ClearAccumulatedResults()
{
    for (auto& r : resultfile.accum_results)
        recordClear(r);
    for (auto& c : resultfile.accum_classes)
        recordClear(c);
    relaxedStore(resultfile.accum_start_time, 0);
    relaxedStore(resultfile.accum_stop_time, 0);
    relaxedStore(resultfile.accum_duration, 0);
    relaxedStore(resultfile.reserved_15196, 0);
    Clear_Error_Summary();
}

void Clear_Error_Summary()
{
    for (auto& n : resultfile.error_occurrences)
        relaxedStore(n, 0);
    std::memset(resultfile.first_occurrence, 0, sizeof resultfile.first_occurrence);
}

void ClearCurrentResults()
{
    for (auto& r : resultfile.results)
        recordClear(r);
    for (auto& c : resultfile.classes)
        recordClear(c);
    relaxedStore(resultfile.run_start_time, 0);
    relaxedStore(resultfile.run_stop_time, 0);
    relaxedStore(resultfile.reserved_4584, 0);
}

void Clear_Results_Buffer()
{
    ClearCurrentResults();
    ClearAccumulatedResults();
    if (gLogger)
        gLogger->ClearLog();
}
