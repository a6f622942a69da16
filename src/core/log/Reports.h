// The result and serious error summaries of the reports, written from one
// snapshot of the records: a report stays consistent while test threads go
// on counting.
#pragma once

#include "ConfigRecord.h"
#include "ResultRecord.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class RunContext;

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

    // One line of the result summary: the slot and its display name.
    struct Row {
        int slot;
        std::string name;
        // What one counted operation stands for (a disk counts blocks).
        float operationSize;
    };
    const std::vector<Row>& rows() const { return m_rows; }

private:
    struct Times {
        std::string start; // "-" when the run never started
        std::string accumStart; // "(Accumulated results start time: ...)" or empty
        std::string stop;
        std::string duration; // "-" when unknown
        std::string accumDuration;
    };
    struct SeriousError {
        int code;
        int severity;
        int count;
    };

    std::string operationsOf(const Row& row) const;
    std::string lastErrorText(int slot) const;
    std::vector<SeriousError> seriousErrors() const;
    std::string firstOccurrence(int code) const;
    void writeNotesHtml(FILE* file) const;

    std::unique_ptr<_testconfig> m_config;
    std::unique_ptr<_resultfile> m_results;
    std::vector<Row> m_rows;
    Times m_times;
};
