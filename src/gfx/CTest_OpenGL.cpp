#include "CTest_OpenGL.h"

#include "DutyPacer.h"

#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "Run.h"
#include "RepaintRelay.h"

#include <cstdio>

CTest_OpenGL::CTest_OpenGL(const RunContext& ctx, int testID)
    : CTest_Base(ctx, testID, kSliceGraphics)
    , m_live(ctx.run.live<Graphics3DLive>(testID))
    , m_testNumber(testID)
{
    std::snprintf(m_name, sizeof m_name, "%.99s", m_testName);
    gettimeofday(&m_live.startTime, nullptr);
}

void CTest_OpenGL::computeAnimateParam()
{
    auto& hour = m_live.hourOfDay;
    auto& z = m_live.zDisplacement;
    auto& direction = m_live.zDirection;
    auto& light = m_live.lightPositionAngle;

    int h = hour.load(std::memory_order_relaxed) + 10;
    hour.store(h >= 360 ? 0 : h, std::memory_order_relaxed);

    int d = z.load(std::memory_order_relaxed) + (direction.load(std::memory_order_relaxed) >= 1 ? 10 : -10);
    // Turned by where it is, not by a flip of the sign, so a value outside
    // the range (none should be) heads back into it.
    if (d <= -50)
        direction.store(1, std::memory_order_relaxed);
    else if (d >= 50)
        direction.store(-1, std::memory_order_relaxed);
    z.store(d, std::memory_order_relaxed);

    const int l = light.load(std::memory_order_relaxed) + 1;
    light.store(l >= 360 ? 0 : l, std::memory_order_relaxed);
}

void CTest_OpenGL::test_entry(int /*instance*/)
{
    MarkRunning();
    DPrintf("%s, %s[%d]: %s starts\n", KVX_WHERE, m_name);
    WaitMsecs(kStepMs);
    m_live.renderCount.store(0, std::memory_order_relaxed);
    LogStart();
    const int delay = DutyDelayMs(SlotDutyCycle(testconfig, m_testNumber));
    m_live.delayMs.store(delay, std::memory_order_relaxed);

    // A cycle is 200 frames really rendered: a window that is not repainted
    // (hidden, or never shown) counts none, and a jump past a multiple of
    // 200 between two looks still counts.
    // The frames are the work: each step's share of them is paced.
    DutyPacer pacer(SlotDutyCycle(testconfig, m_testNumber));
    int cyclesDone = 0;
    while (Active()) {
        computeAnimateParam();
        if (const auto repaint = m_live.repaint.current())
            repaint->request();
        WaitMsecs(kStepMs);
        const int due = m_live.renderCount.load(std::memory_order_relaxed) / kFramesPerCycle;
        for (; cyclesDone < due; ++cyclesDone)
            CountCycle();
        Pace(pacer);
    }
    EndTest();
}

void* Test_Thread_OpenGL(void* arg)
{
    return RunTestThread(static_cast<TestThreadRecord*>(arg), "Test_Thread_OpenGL",
        [](const RunContext& ctx, int, int slot) -> std::unique_ptr<CTest_Base> {
            return std::make_unique<CTest_OpenGL>(ctx, slot);
        });
}
