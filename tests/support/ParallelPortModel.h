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
        int badStatusCount = 1; // ... and this many reads from there on
        int badDataAt = 0; // the n-th data read returns the latch inverted
        std::uint8_t data = 0x5A; // register values before the test
        std::uint8_t control = 0x0C;
    };
    // Status lines S0-S2 are unused and read high; S7 (BUSY) is inverted by
    // the hardware, so an open plug reads as all lines high.
    static constexpr std::uint8_t kUnusedStatus = 0x07;
    static constexpr std::uint8_t kOpenStatus = 0x7F;

    explicit ParallelPortModel(Script script);

    int permission(unsigned from, unsigned count, bool on) override;
    std::uint8_t in(unsigned port) override;
    void out(std::uint8_t value, unsigned port) override;

    // What the test saw. `status` holds every status read's raw value.
    std::vector<std::uint8_t> dataWrites, controlWrites, status;
    int accesses = 0; // register reads and writes at any address
    int forbidden = 0; // of those, without permission
    int permissionCalls = 0;
    std::uint8_t data() const { return m_data; }
    std::uint8_t control() const { return m_control; }

private:
    bool granted(unsigned port) const;
    Script m_script;
    std::uint8_t m_data, m_control;
    int m_dataReads = 0;
    std::vector<std::pair<unsigned, unsigned>> m_granted;
};

inline ParallelPortModel::ParallelPortModel(Script script)
    : m_script(script)
    , m_data(script.data)
    , m_control(script.control)
{
}

inline bool ParallelPortModel::granted(unsigned port) const
{
    for (auto [from, count] : m_granted)
        if (port >= from && port < from + count)
            return true;
    return false;
}

inline int ParallelPortModel::permission(unsigned from, unsigned count, bool on)
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

inline std::uint8_t ParallelPortModel::in(unsigned port)
{
    ++accesses;
    if (!granted(port))
        ++forbidden;
    const unsigned base = m_script.base;
    if (base == 0 || port < base || port > base + 2)
        return 0xFF; // nothing drives the bus
    switch (port - base) {
    case 0: {
        // With the direction bit set the data lines float.
        std::uint8_t v = (m_control & 0x20) ? 0xFF : m_data;
        if (++m_dataReads == m_script.badDataAt)
            v = static_cast<std::uint8_t>(~v);
        return v;
    }
    case 1: {
        std::uint8_t raw = kOpenStatus;
        if (m_script.plug == Plug::Loopback)
            raw = static_cast<std::uint8_t>((((m_data & 0x1F) << 3) ^ 0x80) | kUnusedStatus);
        const int n = static_cast<int>(status.size()) + 1;
        if (m_script.badStatusAt && n >= m_script.badStatusAt && n < m_script.badStatusAt + m_script.badStatusCount)
            raw ^= 0xF8;
        status.push_back(raw);
        return raw;
    }
    default:
        return m_control;
    }
}

inline void ParallelPortModel::out(std::uint8_t value, unsigned port)
{
    ++accesses;
    if (!granted(port))
        ++forbidden;
    const unsigned base = m_script.base;
    if (base == 0 || port < base || port > base + 2)
        return;
    if (port == base) {
        m_data = value;
        dataWrites.push_back(value);
    } else if (port == base + 2) {
        m_control = value;
        controlWrites.push_back(value);
    }
}
