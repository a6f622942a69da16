// A loop-back plug on a pseudo-terminal: everything written to the slave
// comes back from it, echoed by a thread on the master. The echo can be
// switched off (a missing plug) or made to corrupt one byte of the stream.
// The slave is held open in raw mode for the plug's lifetime, so attributes
// can be read while an engine works on it and nothing echoes locally.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
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
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        m_slavePath = ::ptsname(m_master);
        m_slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_slave < 0)
            throw std::runtime_error("cannot open " + m_slavePath);
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
    PtyLoopback(const PtyLoopback&) = delete;
    PtyLoopback& operator=(const PtyLoopback&) = delete;

    const std::string& slavePath() const { return m_slavePath; }
    // The harness's own descriptor on the slave, for reading attributes.
    int slaveFd() const { return m_slave; }

    void setEcho(bool on) { m_echo = on; }
    // Byte `offset` of the stream (counted from the first byte received)
    // comes back with its bits flipped by `mask`.
    void corruptAt(long offset, std::uint8_t mask)
    {
        m_mask = mask;
        m_corruptAt = offset;
    }
    // Waits until everything received has been answered and the line has
    // been quiet for a moment, so that no late echo of one case reaches
    // the next.
    void settle()
    {
        for (long last = -1;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            const long now = static_cast<long>(received().size());
            if (now == last && m_handled.load() == now)
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
        while (!m_stop) {
            pollfd p { m_master, POLLIN, 0 };
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) {
                ::usleep(5000);
                continue;
            }
            long start;
            {
                std::lock_guard lock(m_mutex);
                start = static_cast<long>(m_seen.size());
                m_seen.append(buf, static_cast<std::size_t>(n));
            }
            const long at = m_corruptAt.load() - start;
            if (at >= 0 && at < n)
                buf[at] = static_cast<char>(buf[at] ^ m_mask.load());
            for (ssize_t done = 0; m_echo && done < n;) {
                const ssize_t w = ::write(m_master, buf + done, static_cast<std::size_t>(n - done));
                if (w < 0 && errno != EINTR && errno != EAGAIN)
                    break;
                if (w > 0)
                    done += w;
            }
            m_handled += n;
        }
    }

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_echo { true };
    std::atomic<long> m_corruptAt { -1 };
    std::atomic<std::uint8_t> m_mask { 0 };
    std::atomic<long> m_handled { 0 };
    std::mutex m_mutex;
    std::string m_seen;
};
