// The reports a machine reads after a run (JSON, JUnit XML, Prometheus text
// exposition), the text reports of "Save test log", and the file they are
// all written to without a reader ever seeing half of one.
//
// Typical usage, once the run has stopped:
//   MachineReports report(ctx, outcome);   // one snapshot of the records
//   WriteReportFile(path, [&](FILE* f) { report.writeJson(f); }, error);
#pragma once

#include "Reports.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

class CLogger;
class RunContext;

// A selected test the run did not start, by its display name ("3D Graphics").
struct NotRunTest {
    std::string name;
    std::string reason;
};

// What the records do not hold about a run.
struct RunOutcome {
    std::string runId;
    bool interrupted = false;
    std::vector<NotRunTest> notRun;
    int exitStatus = 0;
};

// A random 128-bit id as a UUID version 4 text.
std::string NewRunId();

// Where the JSON report reads the machine id from; tests point it elsewhere.
extern const char* gMachineIdPath;

class MachineReports {
public:
    // Copies the records of `ctx`. A summary row whose name a not-run test
    // carries is reported as not run. Any thread.
    MachineReports(const RunContext& ctx, RunOutcome outcome);

    // Each writes one whole document to `file`.
    void writeJson(FILE* file) const;
    void writeJUnit(FILE* file) const;
    void writePrometheus(FILE* file) const;

    // "PASS", "FAIL", "INTERRUPTED" or "NOT RUN" (no test ran).
    const char* verdict() const;

private:
    std::string healthJson() const;

    ReportWriter m_report;
    RunOutcome m_outcome;
    std::vector<ReportWriter::Row> m_ran; // the summary rows not in m_outcome.notRun
    std::string m_hostname;
    std::string m_machineId; // empty when unreadable
    SystemFacts m_system;
};

// Writes `path` through a temporary file in the same directory (fsync,
// rename), so a reader or a crash never sees half a file; "-" writes to
// standard output. Returns false and sets `error` ("path: strerror") on
// failure, leaving no temporary behind and an old file as it was.
bool WriteReportFile(const std::string& path, const std::function<void(FILE*)>& write, std::string& error);

// The "Save test log" content: system information, the event log held by
// `log` and the result summary, as text or as an HTML page.
void WriteTestLogReport(CLogger& log, FILE* file, bool html);
