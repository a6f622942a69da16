#include "CTest_ParallelPort.h"
#include "EngineFixture.h"
#include "ProcessRun.h"
#include "ScopedEuid.h"

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace {

// One port's registers, with a loop-back plug (D0-D4 to S3-S7, BUSY inverted) or none; accesses are recorded.
class ParallelPortModel : public ParallelPortIO {
public:
    enum class Plug { Loopback, None };
    struct Script {
        unsigned base = 0x378; // where the port answers; 0: no port anywhere
        Plug plug = Plug::Loopback;
        int refuse = 0; // errno for every permission request; 0 grants
        int badStatusAt = 0; // the n-th status read (1-based) returns wrong lines
        int badDataAt = 0; // the n-th data read returns the latch inverted
        std::uint8_t control = 0x0C; // before the test; data is 0x5A
    };
    explicit ParallelPortModel(Script script)
        : m_script(script)
        , m_control(script.control)
    {
    }

    int permission(unsigned from, unsigned count, bool on) override
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
    std::uint8_t in(unsigned port) override
    {
        if (!access(port))
            return 0xFF; // nothing drives the bus
        if (port == m_script.base) {
            // With the direction bit set the data lines float.
            const std::uint8_t v = (m_control & 0x20) ? 0xFF : m_data;
            return ++m_dataReads == m_script.badDataAt ? static_cast<std::uint8_t>(~v) : v;
        }
        if (port == m_script.base + 2)
            return m_control;
        // S0-S2 are unused and read high; an open plug reads all lines high.
        std::uint8_t raw = 0x7F;
        if (m_script.plug == Plug::Loopback)
            raw = static_cast<std::uint8_t>((((m_data & 0x1F) << 3) ^ 0x80) | 0x07);
        if (static_cast<int>(status.size()) + 1 == m_script.badStatusAt)
            raw ^= 0xF8;
        status.push_back(raw);
        return raw;
    }
    void out(std::uint8_t value, unsigned port) override
    {
        if (!access(port))
            return;
        if (port == m_script.base)
            dataWrites.push_back(m_data = value);
        else if (port == m_script.base + 2)
            controlWrites.push_back(m_control = value);
    }

    // What the test saw. `status` holds every status read's raw value.
    std::vector<std::uint8_t> dataWrites, controlWrites, status;
    int accesses = 0; // register reads and writes at any address
    int forbidden = 0; // of those, without permission
    int permissionCalls = 0;
    std::uint8_t data() const { return m_data; }
    std::uint8_t control() const { return m_control; }

private:
    // Counts the access; true when the port is one of ours.
    bool access(unsigned port)
    {
        ++accesses;
        if (std::ranges::none_of(m_granted, [port](auto g) { return port >= g.first && port < g.first + g.second; }))
            ++forbidden;
        return m_script.base != 0 && port >= m_script.base && port <= m_script.base + 2;
    }
    Script m_script;
    std::uint8_t m_data = 0x5A, m_control;
    int m_dataReads = 0;
    std::vector<std::pair<unsigned, unsigned>> m_granted;
};

constexpr int kSlot = kSlotParallel;
using Model = ParallelPortModel;
using Bytes = std::vector<std::uint8_t>;

// Lent to the engine, so that the model outlives its thread.
struct Borrowed : ParallelPortIO {
    explicit Borrowed(Model* m)
        : model(m)
    {
    }
    int permission(unsigned from, unsigned count, bool on) override { return model->permission(from, count, on); }
    std::uint8_t in(unsigned port) override { return model->in(port); }
    void out(std::uint8_t value, unsigned port) override { model->out(value, port); }
    Model* model;
};

class ParallelPortTest : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        testconfig.duty_cycle[kSlot] = 100;
        pr.ctx.platform.parallelPort = [this] { return std::make_unique<Borrowed>(model); };
        pr.ctx.setSettings(ParallelSettings { .wait = WaitRecorder::hook });
    }
    // Runs slot 70's thread entry on `m` until `rec` stops it.
    void run(Model* m, WaitRecorder& rec)
    {
        model = m;
        use(rec, kSlot, pr.run);
        runThread(kSlot, 0, pr.ctx);
    }
    const _resultinfo& result() const { return resultfile.results[kSlot]; }
    ParallelLive& live() { return pr.run.live<ParallelLive>(kSlot); }

    ProcessRun pr;
    Model* model = nullptr;
};

TEST_F(ParallelPortTest, LoopbackPassesCountEveryValueAndACyclePer150000)
{
    Model model({ .control = 0x1C }); // interrupt enabled before the test
    WaitRecorder rec;
    // Stop at the pause after the pass that reaches 300,000 values.
    rec.atWait = [&](int) {
        if (live().bytes_sent[0].load() >= 300000)
            pr.run.setSlotActive(kSlot, false);
    };
    run(&model, rec);

    const std::uint64_t sent = live().bytes_sent[0].load();
    EXPECT_EQ(std::tuple(sent, live().bytes_received[0].load(), live().dis_bytes_sent[0].load(),
                  live().dis_bytes_received[0].load()),
        std::tuple(300000u, sent, sent, sent));
    EXPECT_EQ(std::tuple(result().cycles, result().op_count, result().errors), std::tuple(2u, 2 * sent, 0u));
    EXPECT_EQ(
        std::tuple(live().io_port.load(), live().PortDetect.load(), live().bt_delay_parport.load(), model.forbidden),
        std::tuple(0x378, 1, 0, 0));

    // Detection first, then 5-bit values only; interrupt off while testing;
    // both registers as they were afterwards, and the permission dropped.
    ASSERT_EQ(model.dataWrites.size(), sent + 2);
    EXPECT_EQ(model.dataWrites[0] * 256 + model.dataWrites.back(), 0xAA5A);
    for (std::size_t i = 1; i <= sent; ++i)
        ASSERT_LT(model.dataWrites[i], 32) << i;
    EXPECT_EQ(model.controlWrites, (Bytes { 0x0C, 0x0C, 0x1C }));
    EXPECT_EQ(std::tuple(model.data(), model.control(), model.permissionCalls), std::tuple(0x5A, 0x1C, 6));
}

TEST_F(ParallelPortTest, MismatchesAreReadTwiceBeforeTheyCount)
{
    // No plug reads back 31, so the first other value fails twice; reported after the pass's pause, or once when
    // stopped in it.
    for (int stopAfter : { 2, 1 }) {
        SCOPED_TRACE(stopAfter);
        std::memset(&resultfile, 0, sizeof resultfile);
        Model model({ .plug = Model::Plug::None });
        WaitRecorder rec;
        rec.stopOn = stopAfter == 2 ? 2000 : 0;
        rec.stopAfter = stopAfter == 2 ? 2 : 1;
        const std::size_t traced = trace().size();
        run(&model, rec);
        EXPECT_EQ(rec.waits(), stopAfter == 2 ? (std::vector<int> { 2000, 0, 2000 }) : (std::vector<int> { 2000, 0 }));
        EXPECT_EQ(rec.errorsAt().back(), stopAfter == 2 ? 1u : 0u) << "reported after the pass's pause";
        EXPECT_EQ(std::tuple(result().errors, lastError(kSlot), resultfile.classes[kSlot].serious, result().cycles),
            std::tuple(1u, 61u, 1u, 0u));
        const std::uint64_t sent = live().bytes_sent[0].load();
        EXPECT_EQ(std::pair(live().bytes_received[0].load(), result().op_count), std::pair(sent + 1, 2 * sent + 1))
            << "one re-read";
        EXPECT_NE(model.dataWrites[sent], 31);
        const std::string text = trace(traced);
        EXPECT_LT(text.find(", Parallel, Parallel loop-back error"), text.find(", Parallel Port, Stopping test"));
        EXPECT_EQ(count(text, ", Parallel, Parallel loop-back error"), 1);
    }

    // A bad first read that the second one clears: logged, not counted.
    std::memset(&resultfile, 0, sizeof resultfile);
    Model model({ .badStatusAt = 6 });
    WaitRecorder rec;
    rec.stopOn = 0; // the pause after the first pass
    run(&model, rec);
    EXPECT_EQ(
        std::tuple(result().errors, live().bytes_sent[0].load(), live().bytes_received[0].load(), result().op_count),
        std::tuple(0u, std::uint64_t { 1000 }, std::uint64_t { 1001 }, std::uint64_t { 2001 }));
}

TEST_F(ParallelPortTest, UndetectedPortsReport64Every10Seconds)
{
    const struct {
        const char* name;
        Model::Script script;
        bool root = true;
        std::vector<unsigned> errorsAt { 0, 1, 2, 3 };
        unsigned code = 64;
    } cases[] = {
        { "absent", { .base = 0 } },
        { "another port's base", { .base = 0x278 } },
        { "permission refused", { .refuse = ENOSYS } },
        { "not root", {}, false, { 0, 1, 1, 1 }, 203 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(&resultfile, 0, sizeof resultfile);
        Model model(c.script);
        WaitRecorder rec;
        rec.stopOn = 10000;
        rec.stopAfter = 3;
        {
            ScopedEuid user(c.root ? 0 : 65534);
            ASSERT_TRUE(user.ok());
            run(&model, rec);
        }

        EXPECT_EQ(rec.waits(), (std::vector<int> { 2000, 10000, 10000, 10000 }));
        EXPECT_EQ(rec.errorsAt(), c.errorsAt);
        EXPECT_EQ(std::tuple(lastError(kSlot), result().cycles, live().PortDetect.load()), std::tuple(c.code, 0u, 0));
        // No register is touched without permission.
        EXPECT_EQ(model.forbidden, 0);
        EXPECT_EQ(std::pair(model.accesses == 0, model.permissionCalls == 0),
            std::pair(c.script.refuse != 0 || !c.root, !c.root));
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
    rec.atWait = [&](int) { detected.push_back(live().PortDetect.load()); };
    run(&model, rec);

    EXPECT_EQ(rec.waits(), (std::vector<int> { 2000, 2000, 2000, 2000 }));
    EXPECT_EQ(detected, (std::vector<int> { 0, 1, 0, 1 }));
    EXPECT_EQ(rec.errorsAt(), (std::vector<unsigned> { 0, 0, 1, 1 })) << "reported at once";
    EXPECT_EQ(std::tuple(result().cycles, result().op_count, result().errors, lastError(kSlot)),
        std::tuple(3u, std::uint64_t { 3 }, 1u, 64u));
    EXPECT_EQ(std::tuple(live().dis_bytes_sent[0].load(), live().dis_bytes_received[0].load(),
                  live().bytes_sent[0].load(), live().bytes_received[0].load()),
        std::tuple(3u, 3u, 0u, 0u));
    EXPECT_EQ(model.dataWrites.size(), 5u); // detection, three values, restore
}

TEST_F(ParallelPortTest, PortNumbersChooseTheBaseAddressAndCounts)
{
    pr.run.setSlotActive(kSlot, true);
    for (auto [port, base, index] :
        { std::tuple(1, 0x278u, 1), { 2, 0x3BCu, 2 }, { 3, 0x378u, 0 }, { -1, 0x378u, 0 } }) {
        SCOPED_TRACE(port);
        Model m({ .base = base, .control = 0x3C }); // data lines set to input, interrupt on
        model = &m;
        CTest_ParallelPort engine(pr.ctx, port, kSlot);
        ASSERT_EQ(engine.enable_pp_IO(), 0);
        engine.lp_init(port);
        EXPECT_TRUE(engine.detectOnce());
        engine.loopbackPass();
        engine.lp_restore();
        engine.disable_pp_IO();
        EXPECT_EQ(std::tuple(live().io_port.load(), live().bytes_sent[index].load(), engine.pendingError(), m.control(),
                      m.forbidden),
            std::tuple(static_cast<int>(base), std::uint64_t { 1000 }, 0, 0x3C, 0));
    }
}

} // namespace
