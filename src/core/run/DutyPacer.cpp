#include "DutyPacer.h"

#include <algorithm>

DutyPacer::DutyPacer(int duty, Clock clock)
    : m_duty(std::clamp(duty, 1, 100))
    , m_ratio(static_cast<double>(100 - m_duty) / m_duty)
    , m_clock(clock ? std::move(clock) : Clock([] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }))
    , m_markMs(m_clock())
{
}
