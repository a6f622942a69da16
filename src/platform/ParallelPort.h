// The PC parallel port registers: data at the base address, status at base
// + 1, control at base + 2, reached by direct port I/O once the thread has
// permission for them.
//
// Threadsafety: an object is used by one thread; I/O permission belongs to
// the thread that asked for it. The factory seam is set by tests before any
// test thread starts.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class ParallelPortIO {
public:
    virtual ~ParallelPortIO();
    // Grants (or drops) access to `count` ports from `from` for the calling
    // thread: 0 or an errno value. No register may be touched unless this
    // succeeded for it.
    virtual int permission(unsigned from, unsigned count, bool on) = 0;
    virtual std::uint8_t in(unsigned port) = 0;
    virtual void out(std::uint8_t value, unsigned port) = 0;
};

// ioperm/inb/outb on x86 Linux; elsewhere every permission is refused
// (ENOSYS) and no register is reached.
class X86PortIO : public ParallelPortIO {
public:
    int permission(unsigned from, unsigned count, bool on) override;
    std::uint8_t in(unsigned port) override;
    void out(std::uint8_t value, unsigned port) override;
};

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

// A new register interface for an engine: X86PortIO unless a test installed
// a maker. Any thread.
std::unique_ptr<ParallelPortIO> MakeParallelPortIO();
using ParallelPortMaker = std::unique_ptr<ParallelPortIO> (*)();
void SetParallelPortMakerForTests(ParallelPortMaker maker);
