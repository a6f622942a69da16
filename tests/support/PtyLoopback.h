// A loop-back plug on a pseudo-terminal: what is written to the slave comes
// back from it, echoed by a thread on the master, unless the echo is off (a
// missing plug); one byte of the stream can be corrupted. The slave is held
// open in raw mode, so that its attributes can be read while an engine works
// on it and nothing echoes locally.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

class PtyLoopback {
public:
    PtyLoopback()
        : m_master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0
            || (m_slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0)
            throw std::runtime_error("no pseudo-terminal");
        m_slavePath = ::ptsname(m_master);
        termios t {};
        ::tcgetattr(m_slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(m_slave, TCSANOW, &t);
        m_thread = std::thread([this] { run(); });
    }
    ~PtyLoopback()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_slave);
        ::close(m_master);
    }

    const std::string& slavePath() const { return m_slavePath; }
    int slaveFd() const { return m_slave; } // the harness's own, for reading attributes
    void setEcho(bool on) { m_echo = on; }
    // Byte `offset` of the stream (from the first byte received) comes back
    // with its bits flipped by `mask`.
    void corruptAt(long offset, std::uint8_t mask) { m_mask = mask, m_corruptAt = offset; }
    // Waits until all received was answered and the line was quiet for a
    // moment, so that no late echo of one case reaches the next.
    void settle()
    {
        for (long last = -1;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            const long now = static_cast<long>(received().size());
            if (now == last && m_handled == now)
                return;
            last = now;
        }
    }
    // Every byte received from the slave so far.
    std::string received()
    {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }

private:
    void run()
    {
        char buf[4096];
        for (pollfd p { m_master, POLLIN, 0 }; !m_stop;) {
            const ssize_t n = ::poll(&p, 1, 20) > 0 ? ::read(m_master, buf, sizeof buf) : 0;
            if (n < 0)
                ::usleep(5000);
            if (n <= 0)
                continue;
            std::unique_lock lock(m_mutex);
            const long at = m_corruptAt - static_cast<long>(m_seen.size());
            m_seen.append(buf, static_cast<std::size_t>(n));
            lock.unlock();
            if (at >= 0 && at < n)
                buf[at] = static_cast<char>(buf[at] ^ m_mask);
            for (ssize_t done = 0, w = 0; m_echo && done < n && (w >= 0 || errno == EINTR || errno == EAGAIN);)
                done += (w = ::write(m_master, buf + done, static_cast<std::size_t>(n - done))) > 0 ? w : 0;
            m_handled += n;
        }
    }

    int m_master, m_slave = -1;
    std::string m_slavePath;
    std::thread m_thread;
    std::atomic<bool> m_stop { false }, m_echo { true };
    std::atomic<long> m_corruptAt { -1 }, m_handled { 0 };
    std::atomic<std::uint8_t> m_mask { 0 };
    std::mutex m_mutex;
    std::string m_seen;
};
