// Work, then pause, so that an engine works `duty` percent of the time on
// any machine: each pause is sized from the measured time of the work
// before it, work x (100 - duty) / duty. A fixed count of operations or a
// fixed delay means a different load on every CPU, disk and network; a
// measured time means the same. Pauses owed are added up until they come to
// kQuantumMs, so work in small pieces (one echo exchange) is paced as well
// as work in large ones (a file pass); a pause that ran long is taken off
// the next. Duty 100 never pauses and never reads the clock.
//
// Typical usage, on the engine's thread:
//   DutyPacer pacer(SlotDutyCycle(testconfig, slot));
//   while (Active()) { work(); Pace(pacer); }   // CTest_Base::Pace
#pragma once

#include <chrono>
#include <functional>

class DutyPacer {
public:
    static constexpr double kQuantumMs = 50;
    using Clock = std::function<double()>; // milliseconds, steady

    // `duty` is clamped to 1..100. `clock` defaults to the steady clock.
    explicit DutyPacer(int duty, Clock clock = {});

    // At a point where the engine may pause: sleeps, with `sleep(ms)`, what
    // the work since the last pause owes once it comes to kQuantumMs.
    // Returns the milliseconds asked of `sleep` (0: none).
    template <class Sleep> int pace(Sleep&& sleep)
    {
        if (m_duty >= 100)
            return 0;
        const double now = m_clock();
        m_owedMs += (now - m_markMs) * m_ratio;
        m_markMs = now;
        if (m_owedMs < kQuantumMs)
            return 0;
        const int ms = static_cast<int>(m_owedMs + 0.5);
        sleep(ms);
        settle(now);
        return ms;
    }

    // A pause of the engine's own (its design's, or a wait for a device) of
    // `ms`, taken with `sleep(ms)`: it counts against what is owed, not as
    // work.
    template <class Sleep> void rest(int ms, Sleep&& sleep)
    {
        if (ms <= 0)
            return;
        if (m_duty >= 100) {
            sleep(ms);
            return;
        }
        const double now = m_clock();
        m_owedMs += (now - m_markMs) * m_ratio;
        sleep(ms);
        settle(now);
    }

    // Work starts now: what came before (a start wait, an allocation) is
    // owed nothing.
    void restart()
    {
        if (m_duty < 100)
            m_markMs = m_clock();
        m_owedMs = 0;
    }

    int duty() const { return m_duty; }

private:
    // The pause that began at `start` has ended: what it lasted is paid.
    void settle(double start)
    {
        m_markMs = m_clock();
        m_owedMs -= m_markMs - start;
        // A stop cuts a pause short and a long one may oversleep: neither
        // debt nor credit grows without bound.
        if (m_owedMs < -kQuantumMs)
            m_owedMs = -kQuantumMs;
    }

    int m_duty;
    double m_ratio; // pause per unit of work
    Clock m_clock;
    double m_markMs; // the end of the last pause: work since then is unpaid
    double m_owedMs = 0;
};
