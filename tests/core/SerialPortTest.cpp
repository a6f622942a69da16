#include "CTest_SerialPort.h"
#include "EngineFixture.h"
#include "ProcessRun.h"
#include "ScopedEuid.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A loop-back plug on a pseudo-terminal; the raw slave is held open to read its attributes.
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
    // Byte `offset` of the stream comes back with its bits flipped by `mask`.
    void corruptAt(long offset, std::uint8_t mask) { m_mask = mask, m_corruptAt = offset; }
    // So that no late echo of one case reaches the next.
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

// Modem lines a pseudo-terminal lacks; the n-th read or write may fail. `calls`: "G " per read, "S<bits> " per write.
struct FakeModemSerialLine : TermiosSerialLine {
    struct Script {
        int stuckHigh = 0, stuckLow = 0, failGetAt = 0, failSetAt = 0;
    };
    explicit FakeModemSerialLine(Script s)
        : script(s)
    {
    }
    int getModemLines(int& b) override
    {
        calls += "G ";
        if (++gets == script.failGetAt)
            return EIO;
        b = (bits | script.stuckHigh) & ~script.stuckLow;
        return 0;
    }
    int setModemLines(int b) override
    {
        calls += "S" + std::to_string(b) + " ";
        return ++sets == script.failSetAt ? EIO : (bits = b, 0);
    }
    Script script;
    int bits = kModemDtr | kModemRts, gets = 0, sets = 0;
    std::string calls;
};

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Counts = std::tuple<std::uint64_t, std::uint64_t>;

constexpr int kPort = 5;
constexpr int kSlot = kSlotSerialFirst + kPort;

// CTS never rises: output stays queued, and a TCSAFLUSH change would wait for ever (here it fails).
class CtsNeverRaised : public TermiosSerialLine {
public:
    long write(const void*, std::size_t n, int& err) override
    {
        queued += n;
        err = 0;
        return static_cast<long>(n);
    }
    int flush() override
    {
        queued = 0;
        return TermiosSerialLine::flush();
    }
    int setAttributes(const SerialAttributes& attrs, SerialApply when) override
    {
        if (when == SerialApply::AfterFlush && queued != 0)
            return ++stuck, EINTR;
        return TermiosSerialLine::setAttributes(attrs, when);
    }
    std::size_t queued = 0;
    int stuck = 0; // changes that would never have returned
};

class SerialPortTest : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        testconfig.serial_port_mode[kPort] = 1;
        testconfig.serial_baud_index = 6;
        testconfig.serial_timeout_ms = 300;
        testconfig.serial_disable_rts = 1;
        testconfig.duty_cycle[kSlot] = 100;
        // Never a real port: the first one is this machine's console.
        device = pty.slavePath();
        pr.ctx.platform.serialDevice = [this](int) { return device; };
        pr.ctx.platform.serialLine = [this]() -> std::unique_ptr<SerialLine> {
            return nextLine ? std::move(nextLine) : std::make_unique<TermiosSerialLine>();
        };
        pr.ctx.setSettings(SerialSettings { .wait = WaitRecorder::hook });
        use(waits, kSlot, pr.run);
        pr.run.setSlotActive(kSlot, true);
    }
    termios slave()
    {
        termios t {};
        tcgetattr(pty.slaveFd(), &t);
        return t;
    }
    int lineSpeed()
    {
        const termios t = slave();
        return BaudSpeed(static_cast<int>(cfgetospeed(&t)));
    }
    const _resultinfo& result() const { return resultfile.results[kSlot]; }
    SerialLive& live() { return pr.run.live<SerialLive>(kSlot); }
    Counts transferred() { return { live().bytes_sent.load(), live().bytes_received.load() }; }

    PtyLoopback pty;
    WaitRecorder waits;
    ProcessRun pr;
    std::string device;
    std::unique_ptr<SerialLine> nextLine; // the next engine's line, when not the real one
};

TEST_F(SerialPortTest, PassesAtFixedSpeedsCountEveryBlockBothWays)
{
    for (auto [index, speed, loops] : { std::tuple(0, 110, 1), { 6, 9600, 96 } }) {
        SCOPED_TRACE(speed);
        std::memset(&resultfile, 0, sizeof resultfile);
        testconfig.serial_baud_index = index;
        const std::size_t before = pty.received().size();
        const termios initial = slave();
        CTest_SerialPort engine(pr.ctx, kPort, kSlot);
        ASSERT_EQ(engine.openPort(), 0);
        termios t = slave();
        EXPECT_EQ(std::tuple(cfgetispeed(&t), lineSpeed()), std::tuple(speed_t(SerialPortSpeeds[index]), speed));
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD), CS8 | CLOCAL | CREAD);
        EXPECT_EQ(std::pair(t.c_cc[VMIN], t.c_cc[VTIME]), std::pair(cc_t { 0 }, cc_t { 3 }));
        ASSERT_EQ(engine.probe(), 0);
        EXPECT_EQ(slave().c_cc[VMIN], 100) << "blocks are read whole after the probe";
        engine.runPass();
        engine.closePort();

        const auto bytes = static_cast<std::uint64_t>(loops) * 300;
        EXPECT_EQ(std::tuple(transferred(), live().dis_bytes_sent.load(), live().dis_bytes_received.load(),
                      result().op_count, result().cycles, result().errors),
            std::tuple(Counts(bytes, bytes), bytes, bytes, 2 * bytes, 1u, 0u));
        ASSERT_EQ(pty.received().size() - before, 1 + bytes) << "the probe byte and three blocks a loop";
        t = slave();
        EXPECT_TRUE(cfgetospeed(&t) == cfgetospeed(&initial) && t.c_cc[VMIN] == initial.c_cc[VMIN])
            << "the saved attributes come back at the end";
    }
}

TEST_F(SerialPortTest, SweepsStartAt300AndWrapAfterTheirTopSpeed)
{
    std::vector<int> speeds { 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 };
    for (int index : { 11, 13 }) { // the larger sweep steps over the smaller one's end
        SCOPED_TRACE(index);
        if (index == 13)
            speeds.push_back(230400);
        std::memset(&resultfile, 0, sizeof resultfile);
        testconfig.serial_baud_index = index;
        CTest_SerialPort engine(pr.ctx, kPort, kSlot);
        ASSERT_EQ(engine.openPort(), 0);
        ASSERT_EQ(engine.probe(), 0);
        std::vector<int> shown, onLine;
        for (std::size_t pass = 0; pass < speeds.size(); ++pass) {
            shown.push_back(live().iComSpeed.load());
            onLine.push_back(lineSpeed());
            engine.runPass();
        }
        EXPECT_EQ(shown, speeds);
        EXPECT_EQ(onLine, speeds);
        EXPECT_EQ(std::tuple(result().cycles, result().errors, live().iComSpeed.load(), lineSpeed()),
            std::tuple(1u, 0u, 300, 300));
    }

    // Output that never leaves under RTS/CTS must not hold a sweep at its speed change.
    testconfig.serial_baud_index = 11;
    testconfig.serial_disable_rts = 0;
    auto owned = std::make_unique<CtsNeverRaised>();
    CtsNeverRaised* line = owned.get();
    nextLine = std::move(owned);
    CTest_SerialPort engine(pr.ctx, kPort, kSlot);
    ASSERT_EQ(engine.openPort(), 0);
    EXPECT_EQ(::fcntl(line->fd(), F_GETFL) & O_NONBLOCK, 0) << "reads and writes block";
    EXPECT_TRUE(slave().c_cflag & CRTSCTS);
    engine.probe();
    engine.runPass();
    EXPECT_EQ(
        std::tuple(line->stuck, lineSpeed(), engine.pendingError(), result().last_error), std::tuple(0, 600, 0, 202u))
        << "no echo (58), no modem lines (202), then the next speed";
}

TEST_F(SerialPortTest, MissingEchoGives58AfterTheTimeoutAndAStopEndsTheWait)
{
    pty.setEcho(false);
    {
        CTest_SerialPort engine(pr.ctx, kPort, kSlot);
        ASSERT_EQ(engine.openPort(), 0);
        const auto t0 = Clock::now();
        EXPECT_EQ(engine.probe(), 58);
        EXPECT_GE(Clock::now() - t0, 300ms) << "the probe waits the configured timeout";
        EXPECT_EQ(
            std::tuple(result().errors, lastError(kSlot), resultfile.classes[kSlot].serious, waits.waits().back()),
            std::tuple(1u, 58u, 1u, 10000));
        EXPECT_EQ(count(trace(), ", Serial, Serial read error: data not received back"), 1);

        // Every block read of a pass then fails the same way.
        engine.runPass();
        EXPECT_EQ(std::tuple(result().errors, lastError(kSlot), waits.waits().back(), transferred()),
            std::tuple(2u, 58u, 3000, Counts(300, 0)))
            << "the pass ends at its first error";
    }

    // A long timeout must not hold the thread once a stop is asked for.
    testconfig.serial_timeout_ms = 20000;
    CTest_SerialPort engine(pr.ctx, kPort, kSlot);
    ASSERT_EQ(engine.openPort(), 0);
    const _resultinfo before = result();
    Clock::time_point ended;
    std::thread runner([&] {
        engine.runPass();
        ended = Clock::now();
    });
    std::this_thread::sleep_for(300ms);
    const auto stopped = Clock::now();
    pr.run.setSlotActive(kSlot, false);
    runner.join();
    EXPECT_LT(ended - stopped, 5s) << "seen well within the 20 s timeout";
    EXPECT_EQ(std::tuple(result().errors, result().cycles), std::tuple(before.errors, before.cycles))
        << "a stopped pass is neither an error nor a cycle";
}

TEST_F(SerialPortTest, CorruptedEchoGives55AtTheBadByte)
{
    for (auto [loop, block, byte] : { std::tuple(0, 0, 37), { 5, 2, 60 }, { 95, 2, 99 } }) {
        SCOPED_TRACE(::testing::Message() << loop << "/" << block << "/" << byte);
        std::memset(&resultfile, 0, sizeof resultfile);
        pty.settle(); // the blocks the last case left unread come back first
        CTest_SerialPort engine(pr.ctx, kPort, kSlot);
        ASSERT_EQ(engine.openPort(), 0);
        const auto start = pty.received().size();
        const int at = loop * 300 + block * 100;
        pty.corruptAt(static_cast<long>(start) + at + byte, 0x5A);
        const std::size_t traced = trace().size();
        engine.runPass();
        pty.corruptAt(-1, 0);

        EXPECT_EQ(std::tuple(result().errors, lastError(kSlot), live().PortStatusOK.load(), waits.waits().back(),
                      transferred()),
            std::tuple(1u, 55u, 0, 3000, Counts((loop + 1) * 300, at + 100)))
            << "the pass ends with the loop of the error";
        const auto sentByte = static_cast<unsigned char>(pty.received()[start + static_cast<std::size_t>(at + byte)]);
        char error[100];
        std::snprintf(error, sizeof error, "Error at byte %d of 100 (0x%2x trans., 0x%2x rec'd) \n", byte, sentByte,
            sentByte ^ 0x5Au);
        EXPECT_EQ(count(trace(traced), error), 1) << trace(traced);
    }
}

TEST_F(SerialPortTest, HandshakeDrivesRtsThenDtrAndReadsEachBack)
{
    using Script = FakeModemSerialLine::Script;
    const struct {
        Script script;
        int code;
        const char* calls;
    } cases[] = {
        { {}, 0, "G S2 G S6 G S4 G S6 G " },
        { { .stuckHigh = kModemRts }, 130, "G S2 G " },
        { { .stuckLow = kModemRts }, 131, "G S2 G S6 G " },
        { { .stuckHigh = kModemDtr }, 132, "G S2 G S6 G S4 G " },
        { { .stuckLow = kModemDtr }, 133, "G S0 G S4 G S4 G S6 G " },
        { { .failGetAt = 1 }, 202, "G " },
        { { .failSetAt = 2 }, 202, "G S2 G S6 " },
    };
    testconfig.serial_disable_rts = 0;
    unsigned errors = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        auto line = std::make_unique<FakeModemSerialLine>(c.script);
        const FakeModemSerialLine* fake = line.get();
        nextLine = std::move(line);
        CTest_SerialPort engine(pr.ctx, kPort, kSlot);
        EXPECT_EQ(engine.checkHandshake(0), c.code);
        EXPECT_EQ(fake->calls, c.calls);
        if (c.code) {
            EXPECT_EQ(std::tuple(result().errors, lastError(kSlot), waits.waits().back()),
                std::tuple(++errors, static_cast<unsigned>(c.code), 3000));
        }
    }
}

TEST_F(SerialPortTest, ThreadRunsFromStartLineToStop)
{
    const std::string pts = pty.slavePath();
    const struct {
        int mode, index, noHandshake, duty;
        std::string path;
        bool root;
        int stopOn, stopAfter;
        std::vector<int> waits;
        unsigned cycles, code;
        const char* line; // the start line, or a line the failure logs
    } cases[] = {
        // Detect only: one cycle and one operation per iteration, no data.
        { 2, 7, 0, 50, pts, true, 2000, 4, { 2000, 1000, 2000, 500, 2000, 500, 2000, 500 }, 3, 0,
            ", Serial Port: ttyS5, Starting test (fixed baud 19200, RTS/CTS and DTR/DSR) \n" },
        // Stopped while settling: no probe, nothing counted.
        { 1, 13, 1, 100, pts, true, 1000, 1, { 2000, 1000 }, 0, 0,
            ", Serial Port: ttyS5, Starting test (baud cycling to 230400, No RTS/CTS and DTR/DSR) \n" },
        // Failures before the port is usable: reported once, then idle.
        { 1, 6, 1, 100, dir.file("missing"), true, 10000, 1, { 2000, 10000 }, 0, 51,
            "src/CTest_SerialPort-th_test_serialport[" },
        { 1, 6, 1, 100, pts, false, 10000, 1, { 2000, 10000 }, 0, 203,
            "Starting test (fixed baud 9600, No RTS/CTS and DTR/DSR)" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.code));
        std::memset(&resultfile, 0, sizeof resultfile);
        testconfig.serial_port_mode[kPort] = c.mode;
        testconfig.serial_baud_index = c.index;
        testconfig.serial_disable_rts = c.noHandshake;
        testconfig.duty_cycle[kSlot] = c.duty;
        device = c.path;
        WaitRecorder rec;
        rec.stopOn = c.stopOn;
        rec.stopAfter = c.stopAfter;
        use(rec, kSlot, pr.run);
        const std::size_t sent = pty.received().size(), traced = trace().size();
        {
            ScopedEuid user(c.root ? 0 : 65534);
            ASSERT_TRUE(user.ok());
            runThread(kSlot, kPort, pr.ctx);
        }

        EXPECT_EQ(rec.waits(), c.waits);
        EXPECT_EQ(std::tuple(result().cycles, result().op_count, result().errors, lastError(kSlot)),
            std::tuple(c.cycles, std::uint64_t { c.cycles }, c.code ? 1u : 0u, c.code));
        EXPECT_EQ(std::tuple(live().PortStatusOK.load(), live().iComSpeed.load(), live().dis_bytes_sent.load(),
                      pty.received().size()),
            std::tuple(c.mode == 2 ? 1 : 0, c.code ? 9600 : 300, 0u, sent))
            << "detect only and sweeps run at 300; nothing is sent";
        EXPECT_FALSE(slave().c_cflag & CRTSCTS) << "the saved attributes come back";

        const std::string text = trace(traced);
        const auto stopping = text.find(", Serial Port: ttyS5, Stopping test \n");
        EXPECT_TRUE(text.find(c.line) <= stopping && stopping != std::string::npos) << text;
    }
}

} // namespace
