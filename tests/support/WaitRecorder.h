// An engine's wait hook that records each wait (and the slot's error count
// then) without sleeping, and stops the slot at a chosen wait: runs of
// seconds take milliseconds and end at an exact point.
#pragma once

#include "AtomicField.h"
#include "ResultRecord.h"
#include "TestContext.h"
#include "TestSlots.h"

#include <functional>
#include <mutex>
#include <vector>

struct WaitRecorder {
    int slot = 0;
    ::Run* run = nullptr; // whose slot it stops; null: the test run
    int stopOn = -1; // stop at the stopAfter-th wait of this length
    int stopAfter = 1;
    // Runs on the engine's thread at every wait, before the stop check.
    std::function<void(int ms)> atWait;

    std::vector<int> waits()
    {
        std::lock_guard lock(m_mutex);
        return m_waits;
    }
    std::vector<unsigned> errorsAt()
    {
        std::lock_guard lock(m_mutex);
        return m_errorsAt;
    }

    static int hook(int ms) { return s_current ? s_current->onWait(ms) : 0; }
    // The recorder the hook answers to; null when none.
    static inline WaitRecorder* s_current = nullptr;

private:
    int onWait(int ms)
    {
        if (atWait)
            atWait(ms);
        std::lock_guard lock(m_mutex);
        m_waits.push_back(ms);
        m_errorsAt.push_back(relaxedLoad(resultfile.results[slot].errors));
        if (ms == stopOn && ++m_seen == stopAfter)
            (run ? *run : TestRun()).setSlotActive(slot, false);
        return 0;
    }
    std::mutex m_mutex;
    std::vector<int> m_waits;
    std::vector<unsigned> m_errorsAt;
    int m_seen = 0;
};
