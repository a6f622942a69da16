#include "ParallelPort.h"

#include <cerrno>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define KVX_PORT_IO 1
#else
#define KVX_PORT_IO 0
#endif

ParallelPortIO::~ParallelPortIO() = default;

#if KVX_PORT_IO

int X86PortIO::permission(unsigned from, unsigned count, bool on)
{
    return ::ioperm(from, count, on ? 1 : 0) == 0 ? 0 : errno;
}

std::uint8_t X86PortIO::in(unsigned port)
{
    return ::inb(static_cast<unsigned short>(port));
}

void X86PortIO::out(std::uint8_t value, unsigned port)
{
    ::outb(value, static_cast<unsigned short>(port));
}

#else

// No port I/O on this architecture: nothing is ever granted, so the engine
// never reaches the registers.
int X86PortIO::permission(unsigned, unsigned, bool)
{
    return ENOSYS;
}

std::uint8_t X86PortIO::in(unsigned)
{
    return 0xFF;
}

void X86PortIO::out(std::uint8_t, unsigned) { }

#endif

std::unique_ptr<ParallelPortIO> MakeParallelPortIO()
{
    return std::make_unique<X86PortIO>();
}
