// The runner's progress on standard error: on a terminal a live view, one
// line per test, redrawn in place; otherwise plain lines now and then, for
// logs and pipes.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

class RunContext;

class Progress {
public:
    // `intervalSec`: how often the plain lines come.
    Progress(FILE* out, bool terminal, int intervalSec);

    // Shows the run's state at `now` when it is time to, or at once with
    // `force` (the last view before the stop).
    void update(const RunContext& ctx, std::time_t now, bool force = false);
    // A line of its own (the live view is drawn again below it).
    void message(const std::string& text);

    // "01:02:03"; "-" for a negative time.
    static std::string clock(long seconds);

private:
    std::vector<std::string> lines(const RunContext& ctx, std::time_t now) const;

    FILE* m_out;
    bool m_terminal;
    int m_intervalSec;
    std::time_t m_last = 0;
    int m_drawn = 0; // lines of the live view on the terminal now
};
