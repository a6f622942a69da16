#include "CTest_ParallelPort.h"
#include "TestContext.h"
#include "EngineFixture.h"
#include "ScopedEuid.h"
#include "TraceCapture.h"

#include <cerrno>
#include <vector>

namespace {

constexpr int kSlot = kSlotParallel;
using Model = ParallelPortModel;
using Bytes = std::vector<std::uint8_t>;

// The engine owns its register interface; the test keeps the model and
// lends it, so that what happened can be read after the thread is gone.
Model* gModel = nullptr;
struct Borrowed : ParallelPortIO {
    int permission(unsigned from, unsigned count, bool on) override { return gModel->permission(from, count, on); }
    std::uint8_t in(unsigned port) override { return gModel->in(port); }
    void out(std::uint8_t value, unsigned port) override { gModel->out(value, port); }
};

std::string format(const char* fmt, int a, int b, int c, int d = 0, int e = 0)
{
    char line[200];
    std::snprintf(line, sizeof line, fmt, a, b, c, d, e);
    return line;
}

// The first event line ending in `end`, from the test name on.
std::string firstLine(const std::string& text, const std::string& end)
{
    const auto at = text.find(end);
    if (at == std::string::npos)
        return "";
    const auto name = text.find(", ", text.rfind('\n', at) + 1);
    return text.substr(name, at + end.size() - name);
}

class ParallelPortTest : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        testconfig.duty_cycle[kSlot] = 100;
        SetParallelPortMakerForTests([]() -> std::unique_ptr<ParallelPortIO> { return std::make_unique<Borrowed>(); });
        CTest_ParallelPort::SetWaitHookForTests(WaitRecorder::hook);
    }
    void TearDown() override
    {
        CTest_ParallelPort::SetWaitHookForTests(nullptr);
        SetParallelPortMakerForTests(nullptr);
        gModel = nullptr;
        EngineFixture::TearDown();
    }
    // Runs slot 70's thread entry on `model` until `rec` stops it.
    void run(Model* model, WaitRecorder& rec)
    {
        gModel = model;
        use(rec, kSlot);
        runThread(kSlot, 0);
    }
    const _resultinfo& result() { return resultfile.results[kSlot]; }
};

TEST_F(ParallelPortTest, LoopbackPassesCountEveryValueAndACyclePer150000)
{
    Model model({ .control = 0x1C }); // interrupt enabled before the test
    WaitRecorder rec;
    // Stop at the pause after the pass that reaches 300,000 values.
    rec.atWait = [&](int) {
        if (CTest_ParallelPort::bytes_sent[0].load() >= 300000)
            TestRun().setSlotActive(kSlot, false);
    };
    run(&model, rec);

    const std::uint64_t sent = CTest_ParallelPort::bytes_sent[0].load();
    EXPECT_EQ(sent, 300000u);
    EXPECT_EQ(std::tuple(CTest_ParallelPort::bytes_received[0].load(), CTest_ParallelPort::dis_bytes_sent[0].load(),
                  CTest_ParallelPort::dis_bytes_received[0].load()),
        std::tuple(sent, sent, sent));
    EXPECT_EQ(std::tuple(result().cycles, result().op_count, result().errors), std::tuple(2u, 2 * sent, 0u));
    EXPECT_EQ(std::tuple(CTest_ParallelPort::io_port.load(), CTest_ParallelPort::PortDetect.load(),
                  CTest_ParallelPort::bt_delay_parport.load()),
        std::tuple(0x378, 1, 0));
    EXPECT_EQ(model.forbidden, 0);

    // Detection first, then 5-bit values only; interrupt off while testing;
    // both registers as they were afterwards, and the permission dropped.
    ASSERT_EQ(model.dataWrites.size(), sent + 2);
    EXPECT_EQ(model.dataWrites[0], 0xAA);
    for (std::size_t i = 1; i <= sent; ++i)
        ASSERT_LT(model.dataWrites[i], 32) << i;
    EXPECT_EQ(model.dataWrites.back(), 0x5A);
    EXPECT_EQ(model.controlWrites, (Bytes { 0x0C, 0x0C, 0x1C }));
    EXPECT_EQ(std::tuple(model.data(), model.control(), model.permissionCalls), std::tuple(0x5A, 0x1C, 6));

    // A sample every 100 loops, from the same values the check used.
    const std::string text = trace();
    EXPECT_EQ(count(text, ", Parallel Port, Starting test \n"), 1);
    EXPECT_EQ(count(text, ", Parallel Port, Stopping test \n"), 1);
    const int s0 = model.dataWrites[1], s100 = model.dataWrites[101];
    EXPECT_EQ(firstLine(text, ", Loop: 0\n"), ", Parallel Port: lp0, " + format("Sent: %d, Loop: %d\n", s0, 0, 0));
    EXPECT_EQ(firstLine(text, ", Loop:0\n"),
        ", Parallel Port: lp0, " + format("Sent: %d, Rec: %d, Att: 1, RawByte: %d, Loop:0\n", s0, s0, model.status[0]));
    EXPECT_EQ(firstLine(text, ", Loop:100\n"),
        ", Parallel Port: lp0, "
            + format("Sent: %d, Rec: %d, Att: 1, RawByte: %d, Loop:100\n", s100, s100, model.status[100]));
    EXPECT_EQ(count(text, "Att: 2"), 0);
}

TEST_F(ParallelPortTest, MismatchesAreReadTwiceBeforeTheyCount)
{
    // No plug: the lines float high and read back as 31, so the first other
    // value fails twice.
    {
        Model model({ .plug = Model::Plug::None });
        WaitRecorder rec;
        rec.stopOn = 2000;
        rec.stopAfter = 2; // the start, then the wait after the report
        run(&model, rec);
        EXPECT_EQ(rec.waits(), (std::vector<int> { 2000, 0, 2000 }));
        EXPECT_EQ(rec.errorsAt(), (std::vector<unsigned> { 0, 0, 1 })) << "reported after the pass's pause";
        EXPECT_EQ(std::tuple(result().errors, result().last_error, resultfile.classes[kSlot].serious, result().cycles),
            std::tuple(1u, 61u, 1u, 0u));
        const std::uint64_t sent = CTest_ParallelPort::bytes_sent[0].load();
        EXPECT_EQ(CTest_ParallelPort::bytes_received[0].load(), sent + 1) << "one re-read";
        EXPECT_EQ(result().op_count, 2 * sent + 1);
        const int bad = model.dataWrites[sent];
        EXPECT_NE(bad, 31);
        const std::string text = trace();
        const auto first = text.find(
            format("Sent: %d, Rec: 31, Att: 1, RawByte: 127, Loop:%d\n", bad, static_cast<int>(sent) - 1, 0));
        const auto description = text.find(", Parallel Port: lp0, Parallel loop-back error");
        // (a sample loop logs the second attempt at level 4 before that)
        const auto second = text.find(
            format("Sent: %d, Rec: 31, Att: 2, RawByte: 127, Loop:%d\n", bad, static_cast<int>(sent) - 1, 0),
            description);
        const auto reported = text.find(", Parallel, Parallel loop-back error", second);
        EXPECT_TRUE(first < description && description < second && second < reported && reported != std::string::npos)
            << text;
    }

    // Stopped in the pause after that pass: the error is still reported,
    // once, before the test ends.
    {
        std::memset(&resultfile, 0, sizeof resultfile);
        Model model({ .plug = Model::Plug::None });
        WaitRecorder rec;
        rec.stopOn = 0;
        const std::size_t traced = trace().size();
        run(&model, rec);
        EXPECT_EQ(rec.waits(), (std::vector<int> { 2000, 0 }));
        EXPECT_EQ(std::tuple(result().errors, result().last_error), std::tuple(1u, 61u));
        const std::string text = trace(traced);
        EXPECT_EQ(count(text, ", Parallel, Parallel loop-back error"), 1);
        EXPECT_LT(text.find(", Parallel, Parallel loop-back error"), text.find(", Parallel Port, Stopping test"));
    }

    // A bad first read that the second one clears: logged, not counted.
    std::memset(&resultfile, 0, sizeof resultfile);
    Model model({ .badStatusAt = 6 });
    WaitRecorder rec;
    rec.stopOn = 0; // the pause after the first pass
    const std::size_t traced = trace().size();
    run(&model, rec);
    EXPECT_EQ(std::tuple(result().errors, CTest_ParallelPort::bytes_sent[0].load(),
                  CTest_ParallelPort::bytes_received[0].load(), result().op_count),
        std::tuple(0u, std::uint64_t { 1000 }, std::uint64_t { 1001 }, std::uint64_t { 2001 }));
    const int s4 = model.dataWrites[5], s5 = model.dataWrites[6];
    const std::string text = trace(traced);
    EXPECT_EQ(
        count(text, format("Sent: %d, Rec: %d, Att: %d, RawByte: %d, Loop:%d\n", s5, s5 ^ 31, 1, model.status[5], 5)),
        1);
    EXPECT_EQ(count(text, format("(Last byte sent: %d, Rec: %d, RawByte: %d)\n", s4, s4, model.status[4])), 1);
    EXPECT_EQ((model.status[6] ^ 0x80) >> 3, s5) << "the second look matched";
    EXPECT_EQ(count(text, "Att: 2"), 0);
}

TEST_F(ParallelPortTest, UndetectedPortsReport64Every10Seconds)
{
    const struct {
        const char* name;
        Model::Script script;
        bool root = true;
        std::vector<int> waits { 2000, 10000, 10000, 10000 };
        std::vector<unsigned> errorsAt { 0, 1, 2, 3 };
        unsigned code = 64;
    } cases[] = {
        { "absent", { .base = 0 } },
        { "another port's base", { .base = 0x278 } },
        { "permission refused", { .refuse = ENOSYS } },
        { "not root", {}, false, { 2000, 10000, 10000, 10000 }, { 0, 1, 1, 1 }, 203 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(&resultfile, 0, sizeof resultfile);
        Model model(c.script);
        WaitRecorder rec;
        rec.stopOn = 10000;
        rec.stopAfter = 3;
        const std::size_t traced = trace().size();
        TraceCapture debug;
        ::testing::internal::CaptureStderr();
        {
            ScopedEuid user(c.root ? 0 : 65534);
            ASSERT_TRUE(user.ok());
            run(&model, rec);
        }
        const std::string err = ::testing::internal::GetCapturedStderr();

        EXPECT_EQ(rec.waits(), c.waits);
        EXPECT_EQ(rec.errorsAt(), c.errorsAt);
        EXPECT_EQ(std::tuple(result().last_error, result().cycles, CTest_ParallelPort::PortDetect.load()),
            std::tuple(c.code, 0u, 0));
        const std::string text = trace(traced);
        EXPECT_EQ(count(text, "th_test_parallelport["), c.code == 64 ? 3 : 0);
        EXPECT_EQ(count(text, "]: Cannot detect port /dev/lp0\n"), c.code == 64 ? 3 : 0);
        EXPECT_EQ(count(text, "Stopping test"), 1);
        if (c.script.refuse) {
            EXPECT_EQ(model.accesses, 0) << "no register touched without permission";
            EXPECT_EQ(count(debug.text(), "strerror(38) = *Function not implemented*"), 3);
            EXPECT_EQ(count(err, "Failed ioperm on lp"), 3);
        } else if (c.root) {
            EXPECT_EQ(model.forbidden, 0);
            EXPECT_EQ(count(err, "Failed ioperm"), 0);
        } else {
            EXPECT_EQ(std::tuple(model.accesses, model.permissionCalls), std::tuple(0, 0));
        }
    }
}

TEST_F(ParallelPortTest, DetectOnlyMovesOnlyTheDisplayCopies)
{
    testconfig.parallel_test_mode = 1;
    testconfig.duty_cycle[kSlot] = 10; // a loop-back pause of 4.5 s; detect only keeps to 2 s
    Model model({ .badDataAt = 4 }); // init and detection read twice; the second iteration reads back wrong
    WaitRecorder rec;
    rec.stopOn = 2000;
    rec.stopAfter = 4;
    std::vector<int> detected;
    rec.atWait = [&](int) { detected.push_back(CTest_ParallelPort::PortDetect.load()); };
    run(&model, rec);

    EXPECT_EQ(rec.waits(), (std::vector<int> { 2000, 2000, 2000, 2000 }));
    EXPECT_EQ(detected, (std::vector<int> { 0, 1, 0, 1 }));
    EXPECT_EQ(rec.errorsAt(), (std::vector<unsigned> { 0, 0, 1, 1 })) << "reported at once";
    EXPECT_EQ(std::tuple(result().cycles, result().op_count, result().errors, result().last_error),
        std::tuple(3u, std::uint64_t { 3 }, 1u, 64u));
    EXPECT_EQ(std::tuple(CTest_ParallelPort::dis_bytes_sent[0].load(), CTest_ParallelPort::dis_bytes_received[0].load(),
                  CTest_ParallelPort::bytes_sent[0].load(), CTest_ParallelPort::bytes_received[0].load()),
        std::tuple(3u, 3u, 0u, 0u));
    EXPECT_TRUE(model.status.empty()) << "no loop-back reads";
    ASSERT_EQ(model.dataWrites.size(), 5u); // detection, three values, restore
    const int v = model.dataWrites[2];
    EXPECT_EQ(count(trace(), format("Port detect details, Sent: %d, Rec: %d, Cycle: %d\n", v, v ^ 0xFF, 1)), 1);
}

TEST_F(ParallelPortTest, PortNumbersChooseTheBaseAddress)
{
    const struct {
        int port;
        unsigned base;
        int index;
    } cases[]
        = { { 0, 0x378, 0 }, { 1, 0x278, 1 }, { 2, 0x3BC, 2 }, { 3, 0x378, 0 }, { -1, 0x378, 0 }, { 7, 0x378, 0 } };
    TestRun().setSlotActive(kSlot, true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        // Data lines set to input and the interrupt on: both must be dealt with.
        Model model({ .base = c.base, .control = 0x3C });
        gModel = &model;
        CTest_ParallelPort engine(TestContext(), c.port, kSlot);
        EXPECT_EQ(std::string(engine.devicePath()), "/dev/lp" + std::to_string(c.port));
        EXPECT_EQ(std::string(engine.displayName()), "Parallel Port: lp" + std::to_string(c.port));
        EXPECT_EQ(CTest_ParallelPort::ParallelPortIndex(c.port), c.index);
        ASSERT_EQ(engine.enable_pp_IO(), 0);
        engine.lp_init(c.port);
        EXPECT_EQ(CTest_ParallelPort::io_port.load(), static_cast<int>(c.base));
        EXPECT_TRUE(engine.detectOnce());
        engine.loopbackPass();
        EXPECT_EQ(CTest_ParallelPort::bytes_sent[c.index].load(), 1000u);
        EXPECT_EQ(engine.pendingError(), 0);
        engine.lp_restore();
        engine.disable_pp_IO();
        EXPECT_EQ(std::tuple(model.control(), model.forbidden), std::tuple(0x3C, 0));
    }
}

TEST_F(ParallelPortTest, RealPortAccessRefusedHereGives64)
{
    {
        X86PortIO io;
        if (io.permission(0x378, 3, true) == 0) {
            io.permission(0x378, 3, false);
            GTEST_SKIP() << "this machine grants port I/O; the test would drive a real parallel port";
        }
    }
    SetParallelPortMakerForTests(nullptr);
    WaitRecorder rec;
    rec.stopOn = 10000;
    ::testing::internal::CaptureStderr();
    run(nullptr, rec);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(
        std::tuple(result().errors, result().last_error, CTest_ParallelPort::io_port.load()), std::tuple(1u, 64u, 0));
}

} // namespace
