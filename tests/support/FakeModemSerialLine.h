#pragma once

#include "SerialLine.h"

#include <cerrno>
#include <cstdio>
#include <string>

// Test double: a real tty for data and attributes (a pseudo-terminal has no
// modem lines) with modem lines of its own. Outputs written are read back
// unless a line is stuck; a failing call can be scripted.
class FakeModemSerialLine : public TermiosSerialLine {
public:
    struct Script {
        int stuckHigh = 0; // bits that read back set whatever was written
        int stuckLow = 0; // bits that read back clear
        int failGetAt = 0; // the n-th TIOCMGET (1-based) fails; 0 never
        int failSetAt = 0; // the n-th TIOCMSET fails with EIO
    };
    explicit FakeModemSerialLine(Script script)
        : m_script(script)
    {
    }
    int getModemLines(int& bits) override
    {
        m_calls += "G ";
        if (++m_gets == m_script.failGetAt)
            return EIO;
        bits = (m_bits | m_script.stuckHigh) & ~m_script.stuckLow;
        return 0;
    }
    int setModemLines(int bits) override
    {
        char text[16];
        std::snprintf(text, sizeof text, "S%x ", static_cast<unsigned>(bits));
        m_calls += text;
        if (++m_sets == m_script.failSetAt)
            return EIO;
        m_bits = bits;
        return 0;
    }

    // The calls in order: 'G' for a read, 'S' followed by the bits written.
    const std::string& calls() const { return m_calls; }

private:
    Script m_script;
    int m_bits = kModemDtr | kModemRts;
    int m_gets = 0, m_sets = 0;
    std::string m_calls;
};
