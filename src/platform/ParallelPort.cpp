#include "ParallelPort.h"

#include <atomic>
#include <cerrno>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define KVX_PORT_IO 1
#else
#define KVX_PORT_IO 0
#endif

namespace {
std::atomic<ParallelPortMaker> g_maker { nullptr };
} // namespace

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

ParallelPortModel::ParallelPortModel(Script script)
    : m_script(script)
    , m_data(script.data)
    , m_control(script.control)
{
}

bool ParallelPortModel::granted(unsigned port) const
{
    for (auto [from, count] : m_granted)
        if (port >= from && port < from + count)
            return true;
    return false;
}

int ParallelPortModel::permission(unsigned from, unsigned count, bool on)
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

std::uint8_t ParallelPortModel::in(unsigned port)
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

void ParallelPortModel::out(std::uint8_t value, unsigned port)
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

std::unique_ptr<ParallelPortIO> MakeParallelPortIO()
{
    if (const ParallelPortMaker maker = g_maker.load(std::memory_order_acquire))
        return maker();
    return std::make_unique<X86PortIO>();
}

void SetParallelPortMakerForTests(ParallelPortMaker maker)
{
    g_maker.store(maker, std::memory_order_release);
}
