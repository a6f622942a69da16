// Counting results and errors per slot, adding a run into the accumulated
// results, and clearing them.
#pragma once

#include "ResultRecord.h"

#include <cstdint>
#include <string>

class CLogger;
class RunContext;

// Records one error of `code` on `slot` in `results`: counts it, classifies
// it and logs it in `log` (if any) under the event log's test index
// `logTest`. Test threads.
void RecordError(_resultfile& results, CLogger* log, int slot, int code, int logTest);
// The same in ctx's results and event log.
void RecordError(const RunContext& ctx, int slot, int code, int logTest);

// An error of `code` on `slot` logged in its own words, `text`, under the
// name `name`: counted and classified like RecordError's. Any thread.
void RecordErrorText(const RunContext& ctx, int slot, int code, const char* name, const std::string& text);
// A warning in its own words: logged and classified on `slot`, not counted
// as an error of the slot. Any thread.
void RecordWarningText(const RunContext& ctx, int slot, int code, const char* name, const std::string& text);

// Counts one error of `code` in the slot's severity counters of `results`;
// code -1 clears the slot's four counters. Test threads, each for its own
// slot.
void UpdateErrorClassificationResults(_resultfile& results, int slot, int code);

// Counter updates that several threads of one slot may make at once.
void AddCycle(_resultfile& results, int slot);
void AddOperations(_resultfile& results, int slot, std::uint64_t n);
void AddMegabytes(_resultfile& results, int slot, std::uint32_t mb);

// dst[i] = a[i] + b[i]; last_error is b's unless that is 0.
void AddUpResults(_resultinfo* dst, const _resultinfo* a, const _resultinfo* b, int n);
void AddUpErrorClassifications(_classerror* dst, const _classerror* a, const _classerror* b, int n);

// Combines two times or durations: mode 0 the earlier, 1 the later, 2 the
// sum; a value of 0 or less counts as unset.
long AccumulateTime(long a, long b, int mode);

// Adds the finished run into the accumulated counters and times and, in the
// accumulate mode, saves resultfile to `dir`/.accum_result.cfg. GUI thread,
// no test thread running.
void AccumulateResults(const char* dir);

// Loads `dir`/.accum_result.cfg over resultfile when the pre-test log mode
// accumulates results and the file can be opened; otherwise clears the
// accumulated members. GUI thread.
void LoadAccumulatedResults(const char* dir);

// Zeroes current and accumulated results, times and the error summary, and
// empties the event log's line store. GUI thread.
void Clear_Results_Buffer();
// Zeroes the accumulated counters and times and the error summary.
void ClearAccumulatedResults();
// Zeroes the per-code occurrence counts and first occurrences.
void Clear_Error_Summary();
// Zeroes the current run's results, classes and run times.
void ClearCurrentResults();
