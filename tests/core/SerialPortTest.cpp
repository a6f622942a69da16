#include "CTest_SerialPort.h"
#include "EngineFixture.h"
#include "ProcessRun.h"
#include "ScopedEuid.h"

#include <algorithm>
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

// A loop-back plug on a pseudo-terminal: a thread on the master echoes
// (or not: no plug), one byte may come back corrupted. The slave is held
// open in raw mode, to read its attributes and so that nothing echoes locally.
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

// A real tty for data and attributes, with modem lines of its own (a
// pseudo-terminal has none): outputs read back unless stuck; the n-th read
// or write (1-based) may fail. `calls`: "G " per read, "S<bits> " per write.
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

std::string hexLine(int block, int first, const std::string& bytes)
{
    char line[200];
    int len = std::snprintf(line, sizeof line, "[Block: %d][%d-%d]: ", block, first, first + 24);
    for (int k = first; k < first + 25; ++k)
        len += std::snprintf(line + len, sizeof line - static_cast<std::size_t>(len), "%2X ",
            static_cast<unsigned char>(bytes[static_cast<std::size_t>(k)]));
    return line;
}

// A line under RTS/CTS whose CTS never rises: what is written stays queued,
// a flush discards it, and a change of attributes that waits for the output
// (tcsetattr(TCSAFLUSH) on a serial port) would wait for ever; here it fails.
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
    for (auto [index, speed, loops] : { std::tuple(0, 110, 1), { 1, 300, 3 }, { 6, 9600, 96 } }) {
        SCOPED_TRACE(speed);
        std::memset(&resultfile, 0, sizeof resultfile);
        testconfig.serial_baud_index = index;
        const std::size_t before = pty.received().size(), traced = trace().size();
        const termios initial = slave();
        CTest_SerialPort engine(pr.ctx, kPort, kSlot);
        ASSERT_EQ(engine.openPort(), 0);
        termios t = slave();
        EXPECT_EQ(std::tuple(cfgetispeed(&t), lineSpeed()), std::tuple(speed_t(SerialPortSpeeds[index]), speed));
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD), CS8 | CLOCAL | CREAD);
        EXPECT_EQ(std::tuple(t.c_iflag & (IXON | IXOFF | ICRNL), t.c_oflag & OPOST, t.c_lflag & (ICANON | ECHO | ISIG),
                      t.c_cc[VMIN], t.c_cc[VTIME]),
            std::tuple(0u, 0u, 0u, cc_t { 0 }, cc_t { 3 }))
            << "every byte must come back unchanged";
        ASSERT_EQ(engine.probe(), 0);
        EXPECT_EQ(slave().c_cc[VMIN], 100) << "blocks are read whole after the probe";
        engine.runPass();
        engine.closePort();

        const auto bytes = static_cast<std::uint64_t>(loops) * 300;
        EXPECT_EQ(std::tuple(transferred(), live().dis_bytes_sent.load(), live().dis_bytes_received.load(),
                      result().op_count, result().cycles, result().errors),
            std::tuple(Counts(bytes, bytes), bytes, bytes, 2 * bytes, 1u, 0u));
        const std::string sent = pty.received().substr(before);
        ASSERT_EQ(sent.size(), 1 + bytes) << "the probe byte and three blocks a loop";
        EXPECT_EQ(sent[0], '\xAA');
        t = slave();
        EXPECT_TRUE(cfgetospeed(&t) == cfgetospeed(&initial) && t.c_cc[VMIN] == initial.c_cc[VMIN])
            << "the saved attributes come back at the end";

        const std::string text = trace(traced);
        EXPECT_EQ(count(text, "Number of loops = " + std::to_string(speed) + "/100 = " + std::to_string(loops)), 1);
        EXPECT_EQ(std::pair(count(text, "Send 3 blocks of 100 random bytes. (Sample 1 of 100) \n"),
                      count(text, "Read and verify 3 blocks of 100 random bytes. (Sample 1 of 100) \n")),
            std::pair(1, 1));
        // Loops 0, L/2 and L-1 dump each block, sent and received.
        const int sampleLoops = std::min(loops, 3);
        EXPECT_EQ(std::tuple(count(text, "Dumping send buffer[Loop: "), count(text, "Dumping receive buffer[Loop: "),
                      count(text, "Dumping send buffer[Loop: " + std::to_string(loops - 1) + "]:")),
            std::tuple(3 * sampleLoops, 3 * sampleLoops, 3));
        const std::string block0 = sent.substr(1, 100);
        EXPECT_EQ(count(text, ", " + hexLine(0, 75, block0) + " \n"), 2) << "the line ending at byte 99 ends the block";
        EXPECT_EQ(count(text, "Closing \"" + pty.slavePath() + "\""), 1);
    }
}

TEST_F(SerialPortTest, SweepsStartAt300AndWrapAfterTheirTopSpeed)
{
    std::vector<int> speeds { 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 };
    for (int index : { 11, 13 }) {
        SCOPED_TRACE(index);
        if (index == 13)
            speeds.push_back(230400);
        std::memset(&resultfile, 0, sizeof resultfile);
        testconfig.serial_baud_index = index;
        const std::size_t traced = trace().size();
        CTest_SerialPort engine(pr.ctx, kPort, kSlot);
        EXPECT_EQ(pr.run.live<SerialLive>(kSlotSerialFirst).iComSpeed.load(), 300)
            << "every port shows the sweep's first speed";
        ASSERT_EQ(engine.openPort(), 0);
        ASSERT_EQ(engine.probe(), 0);
        std::vector<int> shown, onLine;
        for (std::size_t pass = 0; pass < speeds.size(); ++pass) {
            EXPECT_EQ(result().cycles, 0u) << "a cycle is a whole sweep";
            shown.push_back(live().iComSpeed.load());
            onLine.push_back(lineSpeed());
            engine.runPass();
        }
        EXPECT_EQ(shown, speeds);
        EXPECT_EQ(onLine, speeds);
        EXPECT_EQ(std::tuple(result().cycles, result().errors, live().iComSpeed.load(), lineSpeed()),
            std::tuple(1u, 0u, 300, 300));
        const std::string text = trace(traced);
        EXPECT_EQ(std::tuple(count(text, "Cycling baud speed to 600 bits/sec"),
                      count(text, "Cycling baud speed to 300 bits/sec"), count(text, "Number of loops = 110/")),
            std::tuple(1, 1, 0));
    }

    // Output that never leaves (no plug, or a plug without RTS-CTS, under
    // RTS/CTS) must not hold a sweep at its speed change.
    testconfig.serial_baud_index = 11;
    testconfig.serial_disable_rts = 0;
    auto owned = std::make_unique<CtsNeverRaised>();
    CtsNeverRaised* line = owned.get();
    nextLine = std::move(owned);
    CTest_SerialPort engine(pr.ctx, kPort, kSlot);
    ASSERT_EQ(engine.openPort(), 0);
    EXPECT_EQ(::fcntl(line->fd(), F_GETFL) & O_NONBLOCK, 0) << "reads and writes block";
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
        std::string text = trace();
        for (const std::string& line : { std::string("read: strerror(110) = *Connection timed out*"),
                 std::string("Is your loopback plug present???"),
                 pty.slavePath() + " Speed: 9600baud, BlockSize: 1, test_bytessent: 1, fd:",
                 std::string(", Serial, Serial read error: data not received back") })
            EXPECT_EQ(count(text, line), 1) << line;

        // Every block read of a pass then fails the same way.
        const std::size_t traced = text.size();
        engine.runPass();
        EXPECT_EQ(std::tuple(result().errors, lastError(kSlot), waits.waits().back(), transferred()),
            std::tuple(2u, 58u, 3000, Counts(300, 0)))
            << "the pass ends at its first error";
        text = trace(traced);
        EXPECT_EQ(count(text, "Speed: 9600baud, BlockSize: 100 BlockNum: 0, Transfered: 0, fd:"), 1);
        EXPECT_EQ(
            std::tuple(count(text, "Dumping send buffer[Loop: 0]:"), count(text, "Dumping receive")), std::tuple(1, 0));
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

TEST_F(SerialPortTest, CorruptedEchoGives55WithTheBlocksDumped)
{
    // The blocks of the loop dumped: all in a sample loop, else one whose first byte is bad.
    for (auto [loop, block, byte, dumps] :
        { std::tuple(0, 0, 37, 1), { 5, 1, 0, 1 }, { 5, 2, 60, 0 }, { 95, 2, 99, 3 } }) {
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
        const std::string sentBlock = pty.received().substr(start + static_cast<std::size_t>(at), 100);
        std::string back = sentBlock;
        back[static_cast<std::size_t>(byte)] ^= 0x5A;
        const auto sentByte = static_cast<unsigned char>(sentBlock[static_cast<std::size_t>(byte)]);
        char error[100];
        std::snprintf(error, sizeof error, "Error at byte %d of 100 (0x%2x trans., 0x%2x rec'd) \n", byte, sentByte,
            sentByte ^ 0x5Au);
        const std::string text = trace(traced);
        EXPECT_EQ(count(text, error), 1) << text;
        EXPECT_EQ(count(text, "BlockSize: 100, BlockNum: " + std::to_string(block) + ", Transfered: 100, fd: "), 1);
        const std::string dumped = "Dumping receive buffer[Loop: " + std::to_string(loop) + "]:";
        EXPECT_EQ(count(text, dumped), dumps);
        if (dumps) {
            // The received dump shows the byte as it came back, before the error.
            const int first = byte / 25 * 25;
            EXPECT_EQ(std::tuple(count(text, ", " + hexLine(block, first, back)),
                          count(text, ", " + hexLine(block, first, sentBlock))),
                std::tuple(1, 1));
            EXPECT_LT(text.rfind(dumped), text.find("Error at byte"));
        }
    }
}

TEST_F(SerialPortTest, HandshakeDrivesRtsThenDtrAndReadsEachBack)
{
    using Script = FakeModemSerialLine::Script;
    const struct {
        Script script;
        int code;
        const char* calls;
        const char* line;
    } cases[] = {
        { {}, 0, "G S2 G S6 G S4 G S6 G ", "RTS/DTR passed (Sample 1 of 100) \n" },
        { { .stuckHigh = kModemRts }, 130, "G S2 G ",
            "RTS/DTR: Error Code: 130, Error String: *Serial handshake error: RTS line could not be cleared" },
        { { .stuckLow = kModemRts }, 131, "G S2 G S6 G ", "RTS/DTR: Error Code: 131, Error String: *Serial" },
        { { .stuckHigh = kModemDtr }, 132, "G S2 G S6 G S4 G ", "RTS/DTR: Error Code: 132, Error String: *Serial" },
        { { .stuckLow = kModemDtr }, 133, "G S0 G S4 G S4 G S6 G ", "RTS/DTR: Error Code: 133, Error String: *Serial" },
        { { .failGetAt = 1 }, 202, "G ", "RTS/DTR: strerror(5): *Input/output error*" },
        { { .failSetAt = 2 }, 202, "G S2 G S6 ", "RTS/DTR: strerror(5): *Input/output error*" },
    };
    testconfig.serial_disable_rts = 0;
    unsigned errors = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        auto line = std::make_unique<FakeModemSerialLine>(c.script);
        const FakeModemSerialLine* fake = line.get();
        nextLine = std::move(line);
        CTest_SerialPort engine(pr.ctx, kPort, kSlot);
        const std::size_t traced = trace().size();
        EXPECT_EQ(engine.checkHandshake(0), c.code);
        EXPECT_EQ(fake->calls, c.calls);
        if (c.code == 0) {
            EXPECT_EQ(engine.checkHandshake(1), 0);
        }
        EXPECT_EQ(count(trace(traced), c.line), 1) << "a sample every 100 loops\n" << trace(traced);
        if (c.code) {
            EXPECT_EQ(std::tuple(result().errors, lastError(kSlot), waits.waits().back()),
                std::tuple(++errors, static_cast<unsigned>(c.code), 3000));
        }
    }

    // A pseudo-terminal has no modem lines: the real check fails at once and
    // ends the pass after its first loop.
    testconfig.serial_baud_index = 1;
    CTest_SerialPort engine(pr.ctx, kPort, kSlot);
    ASSERT_EQ(engine.openPort(), 0);
    EXPECT_TRUE(slave().c_cflag & CRTSCTS);
    ASSERT_EQ(engine.probe(), 0);
    engine.runPass();
    EXPECT_EQ(
        std::tuple(result().errors, lastError(kSlot), transferred()), std::tuple(errors + 1, 202u, Counts(300, 300)));
}

TEST_F(SerialPortTest, ThreadRunsFromStartLineToStop)
{
    WriteFile(dir.file("plain"), "not a tty");
    const std::string pts = pty.slavePath();
    const struct {
        int mode, index, noHandshake, duty;
        std::string path;
        bool root;
        int stopOn, stopAfter;
        std::vector<int> waits;
        unsigned cycles, code;
        const char* line; // the start line, or a line the failure logs
        bool opened;
    } cases[] = {
        // Detect only: one cycle and one operation per iteration, no data.
        { 2, 7, 0, 50, pts, true, 2000, 4, { 2000, 1000, 2000, 500, 2000, 500, 2000, 500 }, 3, 0,
            ", Serial Port: ttyS5, Starting test (fixed baud 19200, RTS/CTS and DTR/DSR) \n", true },
        // Stopped while settling: no probe, nothing counted.
        { 1, 13, 1, 100, pts, true, 1000, 1, { 2000, 1000 }, 0, 0,
            ", Serial Port: ttyS5, Starting test (baud cycling to 230400, No RTS/CTS and DTR/DSR) \n", true },
        // Failures before the port is usable: reported once, then idle.
        { 1, 6, 1, 100, dir.file("missing"), true, 10000, 1, { 2000, 10000 }, 0, 51,
            "src/CTest_SerialPort-th_test_serialport[", false },
        { 1, 6, 1, 100, dir.path(), true, 10000, 1, { 2000, 10000 }, 0, 52, "strerror(21) = *Is a directory*", false },
        { 1, 6, 1, 100, dir.file("plain"), true, 10000, 1, { 2000, 10000 }, 0, 51,
            "tcgetattr: strerror(25) = *Inappropriate ioctl for device*", true },
        { 1, 6, 1, 100, pts, false, 10000, 1, { 2000, 10000 }, 0, 203,
            "Starting test (fixed baud 9600, No RTS/CTS and DTR/DSR)", false },
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
        // Flow control on the line at every wait after the start.
        std::vector<bool> flow;
        rec.atWait = [&](int ms) {
            if (ms == 1000 || (ms == 2000 && !rec.waits().empty()))
                flow.push_back(slave().c_cflag & CRTSCTS);
        };
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
        for (bool f : flow)
            EXPECT_EQ(f, c.noHandshake == 0);
        EXPECT_FALSE(slave().c_cflag & CRTSCTS) << "the saved attributes come back";

        const std::string text = trace(traced);
        const auto stopping = text.find(", Serial Port: ttyS5, Stopping test \n");
        EXPECT_TRUE(text.find(c.line) <= stopping && stopping != std::string::npos) << text;
        EXPECT_EQ(text.find("]: Closing \"" + c.path + "\"") < stopping, c.opened);
        EXPECT_EQ(count(text, "Attributes for"), c.code ? 0 : 1);
        if (c.code && !c.opened && c.root) {
            // An open failure: its text, description and details, then the error.
            const auto detail = text.find(c.path + " Speed: 9600baud, fd:-1, Total: 0, ErrorCode: ");
            EXPECT_LT(detail, text.find(std::string(", Serial, ") + e_strings[c.code]));
        }
    }
    EXPECT_EQ(count(trace(), "strerror(2) = *No such file or directory*"), 1);
}

} // namespace
