// The result and serious error summaries of the reports, written from one
// snapshot of the records: a report stays consistent while test threads go
// on counting.
#pragma once

#include "ConfigRecord.h"
#include "HealthMonitor.h"
#include "ResultRecord.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class RunContext;

// The facts of the system information block, as its texts show them.
struct SystemFacts {
    std::string issue;
    std::string machineType;
    std::string machineSerial;
    std::string networkName;
    std::string time; // ctime form, with its newline
    std::string os;
    std::string cpus;
    std::string manufacturer;
    std::string cpuType;
    std::string features;
    std::string serial;
    std::string cpu1Speed;
    std::string cpu2Speed; // empty with one CPU
    std::string l2Cache;
    std::string l3Cache; // empty when there is none to show
    unsigned long ramKb;
    std::string videoCard;
    std::string resolution;
};

// Gathers them from the start-up facts in `results` and this machine now.
SystemFacts GatherSystemFacts(const _resultfile& results);

class ReportWriter {
public:
    // Copies the configuration and results of `ctx` and works out the
    // summary's rows from the engine list. Any thread.
    explicit ReportWriter(const RunContext& ctx);
    ~ReportWriter();

    // Each writes to `file` and does nothing without one.
    void writeAsciiResultSummary(FILE* file) const;
    void writeHtmlResultSummary(FILE* file) const;
    void writeAsciiErrorSummary(FILE* file, bool script, bool separator, int failures) const;
    void writeHtmlErrorSummary(FILE* file, bool script, int failures) const;

    // One line of the result summary: the slot and its display name, cut
    // to kNameWidth characters.
    static constexpr std::size_t kNameWidth = 24;
    struct Row {
        int slot;
        std::string name;
        // What one counted operation stands for (a disk counts blocks).
        float operationSize;
        // The unit's own text ("Startup Disk [/dev/vda1]"), empty for none.
        std::string unit;
    };
    const std::vector<Row>& rows() const { return m_rows; }

    // The snapshot the summaries are written from.
    const _testconfig& config() const { return *m_config; }
    const _resultfile& results() const { return *m_results; }
    // Seconds since the epoch; the start is 0 when the run never started,
    // the stop is the snapshot's time while the run goes on.
    std::time_t startTime() const { return m_start; }
    std::time_t stopTime() const { return m_stop; }

    // The row's counts as the summary shows them.
    bool failed(const Row& row) const;
    double operationCount(const Row& row) const;
    std::string lastErrorText(int slot) const;

    // The errors the serious error summary lists, by code.
    struct SeriousError {
        int code;
        int severity;
        int count;
    };
    std::vector<SeriousError> seriousErrors() const;
    std::string firstOccurrence(int code) const;

    // The health monitor's findings at the snapshot.
    const HealthReport& health() const { return m_health; }
    // The hardware health block, as label and text lines ("Temperatures",
    // "coretemp-isa-0000 45.0 C at the start, peak 61.0 C at 12:03:04");
    // empty when the run was not watched.
    std::vector<std::pair<std::string, std::string>> healthLines() const;

private:
    struct Times {
        std::string start; // "-" when the run never started
        std::string accumStart; // "(Accumulated results start time: ...)" or empty
        std::string stop;
        std::string duration; // "-" when unknown
        std::string accumDuration;
    };
    std::string operationsOf(const Row& row) const;
    void writeNotesHtml(FILE* file) const;

    std::unique_ptr<_testconfig> m_config;
    std::unique_ptr<_resultfile> m_results;
    HealthReport m_health;
    std::vector<Row> m_rows;
    Times m_times;
    std::time_t m_start = 0;
    std::time_t m_stop = 0;
};
