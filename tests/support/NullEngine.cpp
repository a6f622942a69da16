#include "NullEngine.h"

#include <chrono>
#include <new>

NullEngineScript gNullScript;

void ResetNullScript()
{
    gNullScript.~NullEngineScript();
    new (&gNullScript) NullEngineScript;
}

namespace {

class NullEngine : public CTest_Base {
public:
    NullEngine(const RunContext& ctx, int slot)
        : CTest_Base(ctx, slot, kSliceDefault)
    {
        if (slot != gNullScript.watchSlot)
            return;
        const int now = ++gNullScript.watchAlive;
        int most = gNullScript.watchMostAlive.load();
        while (now > most && !gNullScript.watchMostAlive.compare_exchange_weak(most, now)) { }
    }
    ~NullEngine() override
    {
        if (testID() == gNullScript.watchSlot)
            --gNullScript.watchAlive;
    }
    void test_entry(int) override
    {
        if (gNullScript.cyclesToRun < 0)
            return RunFrame(0, [this] { return oneCycle(); });
        // A fixed amount of work, then the test ends by itself.
        BeginTest(0);
        for (int i = 0; i < gNullScript.cyclesToRun; ++i)
            oneCycle(), CountCycle();
        EndTest();
    }
    bool oneCycle();
};

bool NullEngine::oneCycle()
{
    CountOperations(static_cast<std::uint64_t>(gNullScript.opsPerCycle));
    if (gNullScript.errorCode)
        RecordError(gNullScript.errorCode, 8);
    if (gNullScript.hangMs && (gNullScript.hangSlot < 0 || gNullScript.hangSlot == testID())) {
        CTest_Base::Sleep(gNullScript.hangMs);
        if (gNullScript.lateErrorCode)
            RecordError(gNullScript.lateErrorCode, 8);
    }
    if (gNullScript.delayMs) {
        const auto t0 = std::chrono::steady_clock::now();
        WaitMsecs(gNullScript.delayMs);
        gNullScript.lastWaitMs
            = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    }
    return true;
}

} // namespace

void* Test_Thread_Null(void* arg)
{
    CTest_Base::Sleep(gNullScript.beforeUpMs);
    return RunTestThread(static_cast<TestThreadRecord*>(arg), "Test_Thread_Null",
        [](const RunContext& ctx, int, int slot) -> std::unique_ptr<CTest_Base> {
            return std::make_unique<NullEngine>(ctx, slot);
        });
}

extern const EngineInfo kNullEngine = {
    .name = "Null engine",
    .firstSlot = 57,
    .units = 1,
    .switchSlot = -1,
    .stopLimitMs = 1000,
    .unitName = "unit",
    .unitText = nullptr,
    .preRunNote = [](const RunContext&) -> std::string { return "\n* The null engine needs nothing\n"; },
    .window = LiveWindowKind::None,
    .icon = nullptr,
    .entry = Test_Thread_Null,
    .makeLive = nullptr,
    .errorCodes = {},
    .commandName = "null",
};
