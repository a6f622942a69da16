#pragma once

#include "ParallelPort.h"

#include <algorithm>
#include <utility>
#include <vector>

// Test double: one port's three registers at a base address, with or without
// a loop-back plug (D0-D4 wired to S3-S7, the hardware inverting BUSY), or
// no port at all. Every access is recorded; an access without permission is
// counted instead of crashing the process as it would on the real thing.
class ParallelPortModel : public ParallelPortIO {
public:
    enum class Plug { Loopback, None };
    struct Script {
        unsigned base = 0x378; // where the port answers; 0: no port anywhere
        Plug plug = Plug::Loopback;
        int refuse = 0; // errno for every permission request; 0 grants
        int badStatusAt = 0; // the n-th status read (1-based) returns wrong lines
        int badDataAt = 0; // the n-th data read returns the latch inverted
        std::uint8_t control = 0x0C; // before the test; data is 0x5A
    };
    explicit ParallelPortModel(Script script)
        : m_script(script)
        , m_control(script.control)
    {
    }

    int permission(unsigned from, unsigned count, bool on) override
    {
        ++permissionCalls;
        if (m_script.refuse)
            return m_script.refuse;
        if (on)
            m_granted.emplace_back(from, count);
        else
            std::erase(m_granted, std::pair(from, count));
        return 0;
    }
    std::uint8_t in(unsigned port) override
    {
        if (!access(port))
            return 0xFF; // nothing drives the bus
        if (port == m_script.base) {
            // With the direction bit set the data lines float.
            const std::uint8_t v = (m_control & 0x20) ? 0xFF : m_data;
            return ++m_dataReads == m_script.badDataAt ? static_cast<std::uint8_t>(~v) : v;
        }
        if (port == m_script.base + 2)
            return m_control;
        // S0-S2 are unused and read high; an open plug reads all lines high.
        std::uint8_t raw = 0x7F;
        if (m_script.plug == Plug::Loopback)
            raw = static_cast<std::uint8_t>((((m_data & 0x1F) << 3) ^ 0x80) | 0x07);
        if (static_cast<int>(status.size()) + 1 == m_script.badStatusAt)
            raw ^= 0xF8;
        status.push_back(raw);
        return raw;
    }
    void out(std::uint8_t value, unsigned port) override
    {
        if (!access(port))
            return;
        if (port == m_script.base)
            dataWrites.push_back(m_data = value);
        else if (port == m_script.base + 2)
            controlWrites.push_back(m_control = value);
    }

    // What the test saw. `status` holds every status read's raw value.
    std::vector<std::uint8_t> dataWrites, controlWrites, status;
    int accesses = 0; // register reads and writes at any address
    int forbidden = 0; // of those, without permission
    int permissionCalls = 0;
    std::uint8_t data() const { return m_data; }
    std::uint8_t control() const { return m_control; }

private:
    // Counts the access; true when the port is one of ours.
    bool access(unsigned port)
    {
        ++accesses;
        if (std::ranges::none_of(m_granted, [port](auto g) { return port >= g.first && port < g.first + g.second; }))
            ++forbidden;
        return m_script.base != 0 && port >= m_script.base && port <= m_script.base + 2;
    }
    Script m_script;
    std::uint8_t m_data = 0x5A, m_control;
    int m_dataReads = 0;
    std::vector<std::pair<unsigned, unsigned>> m_granted;
};
