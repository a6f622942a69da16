#include "SerialLine.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// The speed table holds the kernel's codes as plain numbers.
static_assert(B110 == kB110 && B300 == kB300 && B600 == kB600 && B1200 == kB1200 && B2400 == kB2400);
static_assert(B4800 == kB4800 && B9600 == kB9600 && B19200 == kB19200 && B38400 == kB38400);
static_assert(B57600 == kB57600 && B115200 == kB115200 && B230400 == kB230400);
static_assert(TIOCM_DTR == kModemDtr && TIOCM_RTS == kModemRts);

namespace {

static_assert(sizeof(termios) <= 96 && alignof(termios) <= 8);

termios& tio(unsigned char* raw)
{
    return *reinterpret_cast<termios*>(raw);
}
const termios& tio(const unsigned char* raw)
{
    return *reinterpret_cast<const termios*>(raw);
}

} // namespace

SerialAttributes::SerialAttributes()
    : m_raw {}
{
    new (m_raw) termios {};
}

void SerialAttributes::makeRaw(bool hardwareFlow)
{
    termios& t = tio(m_raw);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE);
    t.c_cflag |= CS8;
    if (hardwareFlow)
        t.c_cflag |= CRTSCTS;
    else
        t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    // Every byte must come back as sent: no flow control characters, no
    // CR/NL mapping, no stripping or marking, no break or parity handling.
    t.c_iflag &= ~static_cast<tcflag_t>(
        IXON | IXOFF | IXANY | IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK | IUCLC | IMAXBEL);
    // ONLCR is asked for, but without OPOST nothing is post-processed.
    t.c_oflag |= ONLCR;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | IEXTEN);
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
}

void SerialAttributes::setTiming(int vmin, int vtime)
{
    termios& t = tio(m_raw);
    t.c_cc[VMIN] = static_cast<cc_t>(vmin < 0 ? 0 : (vmin > 255 ? 255 : vmin));
    t.c_cc[VTIME] = static_cast<cc_t>(vtime < 0 ? 0 : (vtime > 255 ? 255 : vtime));
}

void SerialAttributes::setSpeed(int code)
{
    termios& t = tio(m_raw);
    cfsetispeed(&t, static_cast<speed_t>(code));
    cfsetospeed(&t, static_cast<speed_t>(code));
}

int SerialAttributes::inputSpeed() const
{
    return static_cast<int>(cfgetispeed(&tio(m_raw)));
}

int SerialAttributes::outputSpeed() const
{
    return static_cast<int>(cfgetospeed(&tio(m_raw)));
}

bool SerialAttributes::hardwareFlow() const
{
    return (tio(m_raw).c_cflag & CRTSCTS) != 0;
}

bool SerialAttributes::transparent() const
{
    const termios& t = tio(m_raw);
    return (t.c_cflag & (CSIZE | PARENB | CSTOPB | CLOCAL | CREAD)) == (CS8 | CLOCAL | CREAD)
        && (t.c_iflag & (IXON | IXOFF | IXANY | ISTRIP | INLCR | IGNCR | ICRNL | INPCK | PARMRK)) == 0
        && (t.c_oflag & OPOST) == 0 && (t.c_lflag & (ISIG | ICANON | ECHO | ECHOE | IEXTEN)) == 0;
}

int SerialAttributes::vmin() const
{
    return tio(m_raw).c_cc[VMIN];
}

int SerialAttributes::vtime() const
{
    return tio(m_raw).c_cc[VTIME];
}

SerialLine::~SerialLine() = default;

TermiosSerialLine::~TermiosSerialLine()
{
    close();
}

int TermiosSerialLine::open(const char* path)
{
    close();
    // Without O_NONBLOCK the open of a port left without CLOCAL waits for
    // carrier detect, maybe for ever; reads and writes block as usual.
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int e = errno;
        ::close(fd);
        return e;
    }
    m_fd = fd;
    return 0;
}

int TermiosSerialLine::getAttributes(SerialAttributes& attrs)
{
    return ::tcgetattr(m_fd, &tio(attrs.m_raw)) == 0 ? 0 : errno;
}

int TermiosSerialLine::setAttributes(const SerialAttributes& attrs, SerialApply when)
{
    const int action = when == SerialApply::Now ? TCSANOW : TCSAFLUSH;
    return ::tcsetattr(m_fd, action, &tio(attrs.m_raw)) == 0 ? 0 : errno;
}

int TermiosSerialLine::flush()
{
    return ::tcflush(m_fd, TCIOFLUSH) == 0 ? 0 : errno;
}

int TermiosSerialLine::waitReady(SerialReady what, int timeoutMs)
{
    pollfd p { m_fd, static_cast<short>(what == SerialReady::Read ? POLLIN : POLLOUT), 0 };
    for (;;) {
        const int n = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -errno;
        if (n == 0)
            return 0;
        // A hang-up or error shows on the next read or write with its errno.
        return 1;
    }
}

long TermiosSerialLine::read(void* buf, std::size_t n, int& err)
{
    ssize_t r;
    do
        r = ::read(m_fd, buf, n);
    while (r < 0 && errno == EINTR);
    err = r < 0 ? errno : 0;
    return static_cast<long>(r);
}

long TermiosSerialLine::write(const void* buf, std::size_t n, int& err)
{
    ssize_t r;
    do
        r = ::write(m_fd, buf, n);
    while (r < 0 && errno == EINTR);
    err = r < 0 ? errno : 0;
    return static_cast<long>(r);
}

int TermiosSerialLine::getModemLines(int& bits)
{
    return ::ioctl(m_fd, TIOCMGET, &bits) == 0 ? 0 : errno;
}

int TermiosSerialLine::setModemLines(int bits)
{
    return ::ioctl(m_fd, TIOCMSET, &bits) == 0 ? 0 : errno;
}

void TermiosSerialLine::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::string SerialDevicePath(int port)
{
    char path[64];
    std::snprintf(path, sizeof path, "/dev/ttyS%d", port);
    return path;
}

std::unique_ptr<SerialLine> MakeSerialLine()
{
    return std::make_unique<TermiosSerialLine>();
}
