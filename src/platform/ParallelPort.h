// The PC parallel port registers: data at the base address, status at base
// + 1, control at base + 2, reached by direct port I/O once the thread has
// permission for them.
//
// Threadsafety: an object is used by one thread; I/O permission belongs to
// the thread that asked for it.
#pragma once

#include <cstdint>
#include <memory>

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

// A new register interface for an engine: X86PortIO. Any thread.
std::unique_ptr<ParallelPortIO> MakeParallelPortIO();
