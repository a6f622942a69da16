#include "CTest_SerialPort.h"
#include "TestContext.h"
#include "EngineFixture.h"
#include "PtyLoopback.h"
#include "ScopedEuid.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <termios.h>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Counts = std::tuple<std::uint64_t, std::uint64_t>;

constexpr int kPort = 5;
constexpr int kSlot = kSlotSerialFirst + kPort;

// Where every serial port of the engine leads during a test. Never a real
// port: the first one is this machine's console.
std::string gDevice;
std::string deviceForTests(int)
{
    return gDevice;
}
std::string nowhere(int)
{
    return "/nonexistent/serial";
}

std::string hexLine(int block, int first, const std::string& bytes)
{
    char line[200];
    int len = std::snprintf(line, sizeof line, "[Block: %d][%d-%d]: ", block, first, first + 24);
    for (int k = first; k < first + 25; ++k)
        len += std::snprintf(line + len, sizeof line - static_cast<std::size_t>(len), "%2X ",
            static_cast<unsigned char>(bytes[static_cast<std::size_t>(k)]));
    return line;
}

// A line under RTS/CTS whose CTS never rises: what is written stays queued
// and never reaches the plug, a flush discards it, and a change of
// attributes that waits for the output (tcsetattr(TCSAFLUSH) on a serial
// port) waits until it is gone. A pseudo-terminal lets its output go at
// once, so the waiting is modelled here; release() ends a wait for good.
class CtsNeverRaised : public TermiosSerialLine {
public:
    long write(const void*, std::size_t n, int& err) override
    {
        std::lock_guard lock(m_mutex);
        m_queued += n;
        err = 0;
        return static_cast<long>(n);
    }
    int flush() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_queued = 0;
        }
        m_changed.notify_all();
        return TermiosSerialLine::flush();
    }
    int setAttributes(const SerialAttributes& attrs, SerialApply when) override
    {
        if (when == SerialApply::AfterFlush) {
            std::unique_lock lock(m_mutex);
            m_waited += m_queued != 0;
            m_changed.wait(lock, [this] { return m_queued == 0 || m_released; });
            if (m_queued != 0)
                return EINTR;
        }
        return TermiosSerialLine::setAttributes(attrs, when);
    }
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_released = true;
        }
        m_changed.notify_all();
    }
    // Changes that found output still queued.
    int waited()
    {
        std::lock_guard lock(m_mutex);
        return m_waited;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_queued = 0;
    int m_waited = 0;
    bool m_released = false;
};

Counts transferred()
{
    return { CTest_SerialPort::bytes_sent[kPort].load(), CTest_SerialPort::bytes_received[kPort].load() };
}

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
        gDevice = pty.slavePath();
        SetSerialDevicePathsForTests(deviceForTests);
        use(waits, kSlot);
        CTest_SerialPort::SetWaitHookForTests(WaitRecorder::hook);
        TestRun().setSlotActive(kSlot, true);
    }
    void TearDown() override
    {
        CTest_SerialPort::SetWaitHookForTests(nullptr);
        SetSerialDevicePathsForTests(nowhere);
        EngineFixture::TearDown();
    }
    termios slave()
    {
        termios t {};
        tcgetattr(pty.slaveFd(), &t);
        return t;
    }
    const _resultinfo& result() { return resultfile.results[kSlot]; }

    PtyLoopback pty;
    WaitRecorder waits;
};

TEST_F(SerialPortTest, PassesAtFixedSpeedsCountEveryBlockBothWays)
{
    const struct {
        int index, speed, loops;
    } cases[] = { { 0, 110, 1 }, { 1, 300, 3 }, { 6, 9600, 96 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.speed);
        std::memset(&resultfile, 0, sizeof resultfile);
        testconfig.serial_baud_index = c.index;
        const std::size_t before = pty.received().size(), traced = trace().size();
        const termios initial = slave();
        CTest_SerialPort engine(TestContext(), kPort, kSlot);
        ASSERT_EQ(engine.openPort(), 0);
        termios t = slave();
        EXPECT_EQ(std::tuple(cfgetispeed(&t), cfgetospeed(&t)),
            std::tuple(speed_t(SerialPortSpeeds[c.index]), speed_t(SerialPortSpeeds[c.index])));
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD), CS8 | CLOCAL | CREAD);
        EXPECT_EQ(std::tuple(t.c_iflag & (IXON | IXOFF | ICRNL), t.c_oflag & OPOST, t.c_lflag & (ICANON | ECHO | ISIG)),
            std::tuple(0u, 0u, 0u))
            << "every byte must come back unchanged";
        EXPECT_EQ(std::tuple(t.c_cc[VMIN], t.c_cc[VTIME]), std::tuple(cc_t { 0 }, cc_t { 3 }));
        ASSERT_EQ(engine.probe(), 0);
        EXPECT_EQ(slave().c_cc[VMIN], 100) << "blocks are read whole after the probe";
        engine.runPass();
        engine.closePort();

        const auto bytes = static_cast<std::uint64_t>(c.loops) * 300;
        EXPECT_EQ(transferred(), Counts(bytes, bytes));
        EXPECT_EQ(std::tuple(CTest_SerialPort::dis_bytes_sent[kPort].load(),
                      CTest_SerialPort::dis_bytes_received[kPort].load(), result().op_count, result().cycles,
                      result().errors),
            std::tuple(bytes, bytes, 2 * bytes, 1u, 0u));
        const std::string sent = pty.received().substr(before);
        ASSERT_EQ(sent.size(), 1 + bytes) << "the probe byte and three blocks a loop";
        EXPECT_EQ(sent[0], '\xAA');
        t = slave();
        EXPECT_TRUE(cfgetospeed(&t) == cfgetospeed(&initial) && t.c_cc[VMIN] == initial.c_cc[VMIN])
            << "the saved attributes come back at the end";

        const std::string text = trace(traced);
        EXPECT_EQ(count(text, "Number of loops = " + std::to_string(c.speed) + "/100 = " + std::to_string(c.loops)), 1);
        EXPECT_EQ(count(text, "Send 3 blocks of 100 random bytes. (Sample 1 of 100) \n"), 1);
        EXPECT_EQ(count(text, "Read and verify 3 blocks of 100 random bytes. (Sample 1 of 100) \n"), 1);
        // Loops 0, L/2 and L-1 dump each block, sent and received: every
        // loop at 110 and 300 bits/s.
        const int sampleLoops = c.loops < 3 ? c.loops : 3;
        EXPECT_EQ(std::tuple(count(text, "Dumping send buffer[Loop: "), count(text, "Dumping receive buffer[Loop: ")),
            std::tuple(3 * sampleLoops, 3 * sampleLoops));
        EXPECT_EQ(count(text, "Dumping send buffer[Loop: " + std::to_string(c.loops - 1) + "]:"), 3);
        const std::string block0 = sent.substr(1, 100);
        EXPECT_EQ(count(text, ", " + hexLine(0, 0, block0) + "\n"), 2) << "sent and received alike";
        EXPECT_EQ(count(text, ", " + hexLine(0, 75, block0) + " \n"), 2) << "the line ending at byte 99 ends the block";
        EXPECT_EQ(count(text, "Closing \"" + pty.slavePath() + "\""), 1);
    }
}

TEST_F(SerialPortTest, SweepsStartAt300AndWrapAfterTheirTopSpeed)
{
    const std::vector<int> to115200 { 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 };
    std::vector<int> to230400 = to115200;
    to230400.push_back(230400);
    for (const auto& [index, speeds] : { std::pair(11, to115200), std::pair(13, to230400) }) {
        SCOPED_TRACE(index);
        std::memset(&resultfile, 0, sizeof resultfile);
        testconfig.serial_baud_index = index;
        const std::size_t traced = trace().size();
        CTest_SerialPort engine(TestContext(), kPort, kSlot);
        EXPECT_EQ(CTest_SerialPort::iComSpeed[0].load(), 300) << "every port shows the sweep's first speed";
        ASSERT_EQ(engine.openPort(), 0);
        ASSERT_EQ(engine.probe(), 0);
        std::vector<int> shown, onLine;
        for (std::size_t pass = 0; pass < speeds.size(); ++pass) {
            EXPECT_EQ(result().cycles, 0u) << "a cycle is a whole sweep";
            shown.push_back(CTest_SerialPort::iComSpeed[kPort].load());
            const termios t = slave();
            onLine.push_back(BaudSpeed(static_cast<int>(cfgetospeed(&t))));
            engine.runPass();
        }
        EXPECT_EQ(shown, speeds);
        EXPECT_EQ(onLine, speeds);
        const termios t = slave();
        EXPECT_EQ(std::tuple(result().cycles, result().errors, CTest_SerialPort::iComSpeed[kPort].load(),
                      BaudSpeed(static_cast<int>(cfgetospeed(&t)))),
            std::tuple(1u, 0u, 300, 300));
        const std::string text = trace(traced);
        EXPECT_EQ(std::tuple(count(text, "Cycling baud speed to 600 bits/sec"),
                      count(text, "Cycling baud speed to 300 bits/sec"), count(text, "Number of loops = 110/")),
            std::tuple(1, 1, 0));
    }
}

TEST_F(SerialPortTest, MissingEchoGives58AfterTheTimeoutAndAStopEndsTheWait)
{
    pty.setEcho(false);
    {
        CTest_SerialPort engine(TestContext(), kPort, kSlot);
        ASSERT_EQ(engine.openPort(), 0);
        const auto t0 = Clock::now();
        EXPECT_EQ(engine.probe(), 58);
        EXPECT_GE(Clock::now() - t0, 300ms) << "the probe waits the configured timeout";
        EXPECT_EQ(std::tuple(result().errors, result().last_error, resultfile.classes[kSlot].serious),
            std::tuple(1u, 58u, 1u));
        std::string text = trace();
        EXPECT_EQ(count(text, "read: strerror(110) = *Connection timed out*"), 1);
        EXPECT_EQ(count(text, "Is your loopback plug present???"), 1);
        EXPECT_EQ(count(text, pty.slavePath() + " Speed: 9600baud, BlockSize: 1, test_bytessent: 1, fd:"), 1);
        EXPECT_EQ(count(text, ", Serial, Serial read error: data not received back"), 1);
        EXPECT_EQ(waits.waits().back(), 10000);

        // Every block read of a pass then fails the same way.
        const std::size_t traced = text.size();
        engine.runPass();
        EXPECT_EQ(std::tuple(result().errors, result().last_error, waits.waits().back()), std::tuple(2u, 58u, 3000));
        EXPECT_EQ(transferred(), Counts(300, 0)) << "the pass ends at its first error";
        text = trace(traced);
        EXPECT_EQ(count(text, "Number of bytes read = 0"), 1);
        EXPECT_EQ(count(text, "Speed: 9600baud, BlockSize: 100 BlockNum: 0, Transfered: 0, fd:"), 1);
        EXPECT_EQ(
            std::tuple(count(text, "Dumping send buffer[Loop: 0]:"), count(text, "Dumping receive")), std::tuple(1, 0));
    }

    // A long timeout must not hold the thread once a stop is asked for.
    testconfig.serial_timeout_ms = 20000;
    CTest_SerialPort engine(TestContext(), kPort, kSlot);
    ASSERT_EQ(engine.openPort(), 0);
    const _resultinfo before = result();
    Clock::time_point ended;
    std::thread runner([&] {
        engine.runPass();
        ended = Clock::now();
    });
    std::this_thread::sleep_for(300ms);
    const auto stopped = Clock::now();
    TestRun().setSlotActive(kSlot, false);
    runner.join();
    EXPECT_LT(ended - stopped, 5s) << "seen well within the 20 s timeout";
    EXPECT_EQ(std::tuple(result().errors, result().cycles), std::tuple(before.errors, before.cycles))
        << "a stopped pass is neither an error nor a cycle";
}

// Output that never leaves (no plug, or a plug without RTS-CTS, under
// RTS/CTS) must not hold a sweep at its speed change.
TEST_F(SerialPortTest, SweepWithCtsNeverRaisedMovesOn)
{
    testconfig.serial_baud_index = 11;
    testconfig.serial_disable_rts = 0;
    auto owned = std::make_unique<CtsNeverRaised>();
    CtsNeverRaised* line = owned.get();
    CTest_SerialPort engine(TestContext(), kPort, kSlot, std::move(owned));
    ASSERT_EQ(engine.openPort(), 0);
    EXPECT_EQ(::fcntl(line->fd(), F_GETFL) & O_NONBLOCK, 0) << "reads and writes block";
    std::atomic<bool> done { false };
    std::thread runner([&] {
        engine.probe();
        engine.runPass();
        done = true;
    });
    for (const auto end = Clock::now() + 5s; !done && Clock::now() < end;)
        std::this_thread::sleep_for(10ms);
    const bool ended = done;
    line->release();
    runner.join();
    ASSERT_TRUE(ended) << "the speed change waited for output that never leaves";
    EXPECT_EQ(line->waited(), 0);
    const termios t = slave();
    EXPECT_EQ(std::tuple(BaudSpeed(static_cast<int>(cfgetospeed(&t))), engine.pendingError(), result().last_error),
        std::tuple(600, 0, 202u))
        << "no echo (58), no modem lines (202), then the next speed";
    EXPECT_EQ(count(trace(), "Cycling baud speed to 600 bits/sec"), 1);
}

TEST_F(SerialPortTest, CorruptedEchoGives55WithTheBlocksDumped)
{
    const struct {
        int loop, block, byte;
        int dumps; // blocks of the loop dumped: all in a sample loop, else one whose first byte is bad
    } cases[] = { { 0, 0, 37, 1 }, { 5, 1, 0, 1 }, { 5, 2, 60, 0 }, { 95, 2, 99, 3 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.loop << "/" << c.block << "/" << c.byte);
        std::memset(&resultfile, 0, sizeof resultfile);
        pty.settle(); // the blocks the last case left unread come back first
        CTest_SerialPort engine(TestContext(), kPort, kSlot);
        ASSERT_EQ(engine.openPort(), 0);
        const auto start = pty.received().size();
        const int at = c.loop * 300 + c.block * 100;
        pty.corruptAt(static_cast<long>(start) + at + c.byte, 0x5A);
        const std::size_t traced = trace().size();
        engine.runPass();
        pty.corruptAt(-1, 0);

        EXPECT_EQ(std::tuple(result().errors, result().last_error, CTest_SerialPort::PortStatusOK[kPort].load(),
                      waits.waits().back()),
            std::tuple(1u, 55u, 0, 3000));
        EXPECT_EQ(transferred(), Counts((c.loop + 1) * 300, at + 100)) << "the pass ends with the loop of the error";
        const std::string block = pty.received().substr(start + static_cast<std::size_t>(at), 100);
        std::string back = block;
        back[static_cast<std::size_t>(c.byte)] ^= 0x5A;
        const auto sentByte = static_cast<unsigned char>(block[static_cast<std::size_t>(c.byte)]);
        char error[100];
        std::snprintf(error, sizeof error, "Error at byte %d of 100 (0x%2x trans., 0x%2x rec'd) \n", c.byte, sentByte,
            sentByte ^ 0x5Au);
        const std::string text = trace(traced);
        EXPECT_EQ(count(text, error), 1) << text;
        EXPECT_EQ(count(text, "BlockSize: 100, BlockNum: " + std::to_string(c.block) + ", Transfered: 100, fd: "), 1);
        const std::string loop = "Dumping receive buffer[Loop: " + std::to_string(c.loop) + "]:";
        EXPECT_EQ(count(text, loop), c.dumps);
        if (c.dumps) {
            // The received dump shows the byte as it came back, before the error.
            const int first = c.byte / 25 * 25;
            EXPECT_EQ(std::tuple(count(text, ", " + hexLine(c.block, first, back)),
                          count(text, ", " + hexLine(c.block, first, block))),
                std::tuple(1, 1));
            EXPECT_LT(text.rfind(loop), text.find("Error at byte"));
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
        CTest_SerialPort engine(TestContext(), kPort, kSlot, std::move(line));
        const std::size_t traced = trace().size();
        EXPECT_EQ(engine.checkHandshake(0), c.code);
        EXPECT_EQ(fake->calls(), c.calls);
        if (c.code == 0) {
            EXPECT_EQ(engine.checkHandshake(1), 0);
            EXPECT_EQ(count(trace(traced), c.line), 1) << "a sample every 100 loops";
            continue;
        }
        EXPECT_EQ(count(trace(traced), c.line), 1) << trace(traced);
        EXPECT_EQ(std::tuple(result().errors, result().last_error, waits.waits().back()),
            std::tuple(++errors, static_cast<unsigned>(c.code), 3000));
    }

    // A pseudo-terminal has no modem lines: the real check fails at once and
    // ends the pass after its first loop.
    testconfig.serial_baud_index = 1;
    CTest_SerialPort engine(TestContext(), kPort, kSlot);
    ASSERT_EQ(engine.openPort(), 0);
    EXPECT_TRUE(slave().c_cflag & CRTSCTS);
    ASSERT_EQ(engine.probe(), 0);
    engine.runPass();
    EXPECT_EQ(std::tuple(result().errors, result().last_error), std::tuple(errors + 1, 202u));
    EXPECT_EQ(transferred(), Counts(300, 300));
}

TEST_F(SerialPortTest, ThreadRunsFromStartLineToStop)
{
    WriteFile(dir.file("plain"), "not a tty");
    const struct {
        const char* name;
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
        { "detect only", 2, 7, 0, 50, pty.slavePath(), true, 2000, 4, { 2000, 1000, 2000, 500, 2000, 500, 2000, 500 },
            3, 0, ", Serial Port: ttyS5, Starting test (fixed baud 19200, RTS/CTS and DTR/DSR) \n", true },
        // Stopped while settling: no probe, nothing counted.
        { "sweep", 1, 13, 1, 100, pty.slavePath(), true, 1000, 1, { 2000, 1000 }, 0, 0,
            ", Serial Port: ttyS5, Starting test (baud cycling to 230400, No RTS/CTS and DTR/DSR) \n", true },
        // Failures before the port is usable: reported once, then idle.
        { "missing", 1, 6, 1, 100, dir.file("missing"), true, 10000, 1, { 2000, 10000 }, 0, 51,
            "src/CTest_SerialPort-th_test_serialport[", false },
        { "directory", 1, 6, 1, 100, dir.path(), true, 10000, 1, { 2000, 10000 }, 0, 52,
            "strerror(21) = *Is a directory*", false },
        { "no tty", 1, 6, 1, 100, dir.file("plain"), true, 10000, 1, { 2000, 10000 }, 0, 51,
            "tcgetattr: strerror(25) = *Inappropriate ioctl for device*", true },
        { "not root", 1, 6, 1, 100, pty.slavePath(), false, 10000, 1, { 2000, 10000 }, 0, 203,
            "Starting test (fixed baud 9600, No RTS/CTS and DTR/DSR)", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(&resultfile, 0, sizeof resultfile);
        testconfig.serial_port_mode[kPort] = c.mode;
        testconfig.serial_baud_index = c.index;
        testconfig.serial_disable_rts = c.noHandshake;
        testconfig.duty_cycle[kSlot] = c.duty;
        gDevice = c.path;
        WaitRecorder rec;
        rec.stopOn = c.stopOn;
        rec.stopAfter = c.stopAfter;
        // Flow control on the line at every wait after the start.
        std::vector<bool> flow;
        rec.atWait = [&](int ms) {
            if (ms == 1000 || (ms == 2000 && !rec.waits().empty()))
                flow.push_back(slave().c_cflag & CRTSCTS);
        };
        use(rec, kSlot);
        const std::size_t sent = pty.received().size(), traced = trace().size();
        {
            ScopedEuid user(c.root ? 0 : 65534);
            ASSERT_TRUE(user.ok());
            runThread(kSlot, kPort);
        }

        EXPECT_EQ(rec.waits(), c.waits);
        EXPECT_EQ(std::tuple(result().cycles, result().op_count, result().errors, result().last_error),
            std::tuple(c.cycles, std::uint64_t { c.cycles }, c.code ? 1u : 0u, c.code));
        EXPECT_EQ(std::tuple(CTest_SerialPort::PortStatusOK[kPort].load(), CTest_SerialPort::iComSpeed[kPort].load(),
                      CTest_SerialPort::dis_bytes_sent[kPort].load(), pty.received().size()),
            std::tuple(c.mode == 2 ? 1 : 0, c.code ? 9600 : 300, 0u, sent))
            << "detect only and sweeps run at 300; nothing is sent";
        for (bool f : flow)
            EXPECT_EQ(f, c.noHandshake == 0);
        EXPECT_FALSE(slave().c_cflag & CRTSCTS) << "the saved attributes come back";

        const std::string text = trace(traced);
        const auto line = text.find(c.line);
        const auto closing = text.find("]: Closing \"" + c.path + "\"");
        const auto stopping = text.find(", Serial Port: ttyS5, Stopping test \n");
        EXPECT_TRUE(line <= stopping && stopping != std::string::npos) << text;
        EXPECT_EQ(closing < stopping, c.opened);
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
