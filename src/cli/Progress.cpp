#include "Progress.h"

#include "AtomicField.h"
#include "MessageBox.h"
#include "ConfigRecord.h"
#include "ResultRecord.h"
#include "RunContext.h"
#include "Run.h"
#include "RunControl.h"
#include "TestSlots.h"

#include <cinttypes>

Progress::Progress(FILE* out, bool terminal, int intervalSec)
    : m_out(out)
    , m_terminal(terminal)
    , m_intervalSec(intervalSec)
{
}

std::string Progress::clock(long seconds)
{
    if (seconds < 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

std::vector<std::string> Progress::lines(const RunContext& ctx, std::time_t now) const
{
    const std::time_t start = relaxedLoad(ctx.results.run_start_time);
    const long elapsed = start ? static_cast<long>(now - start) : 0;
    const double minutes = relaxedLoad(ctx.config.auto_stop_time);
    const long left = minutes > 0 ? std::max(0L, static_cast<long>(minutes * 60) - elapsed) : -1;
    std::vector<std::string> out;
    for (int slot = 0; slot < kNumSlots; ++slot) {
        if (!performTest(ctx.config, slot))
            continue;
        const _resultinfo& r = ctx.results.results[slot];
        char line[400];
        std::snprintf(line, sizeof line,
            "%-28.28s %8" PRIu32 " cycles %15" PRIu64 " operations %6" PRIu32 " errors  %s elapsed  %s left",
            SlotDisplayName(ctx, slot).c_str(), relaxedLoad(r.cycles),
            static_cast<std::uint64_t>(relaxedLoad(r.op_count)), relaxedLoad(r.errors), clock(elapsed).c_str(),
            clock(left).c_str());
        out.push_back(line);
    }
    if (ctx.run.health.monitored()) {
        const HealthReport health = ctx.run.health.report();
        out.push_back(Format(
            "%-28.28s %6d errors  %s", SlotName(HealthSlot()), health.failures, HealthStatusText(health).c_str()));
    }
    return out;
}

void Progress::update(const RunContext& ctx, std::time_t now, bool force)
{
    const int interval = m_terminal ? 1 : m_intervalSec;
    if (!force && m_last && now - m_last < interval)
        return;
    m_last = now;
    const std::vector<std::string> view = lines(ctx, now);
    if (m_terminal) {
        // Up over the last view, each line cleared before it is written.
        if (m_drawn)
            std::fprintf(m_out, "\033[%dA", m_drawn);
        for (const std::string& line : view)
            std::fprintf(m_out, "\033[2K%s\n", line.c_str());
        m_drawn = static_cast<int>(view.size());
    } else {
        for (const std::string& line : view)
            std::fprintf(m_out, "kalvextest-cli: %s\n", line.c_str());
    }
    std::fflush(m_out);
}

void Progress::message(const std::string& text)
{
    if (m_terminal && m_drawn) {
        std::fprintf(m_out, "\033[%dA\033[J", m_drawn);
        m_drawn = 0;
        m_last = 0;
    }
    std::fprintf(m_out, "kalvextest-cli: %s\n", text.c_str());
    std::fflush(m_out);
}
