// One run's shared state: each slot's live status (written by the slot's
// engine, read by its window). The program keeps one Run for its whole
// life, so a thread abandoned at a stop still writes into memory that
// exists; a test makes its own.
#pragma once

#include "ConfigRecord.h"
#include "LiveStatus.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

class Run {
public:
    // Makes the live status of every engine slot. Any thread, before the
    // run's threads start.
    Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // The live status of `slot` as its engine's type. Engines write it
    // (their own thread); windows read it.
    template <class L> L& live(int slot) const
    {
        L* status = slot >= 0 && slot < kNumSlots ? dynamic_cast<L*>(m_live[slot].get()) : nullptr;
        if (!status) {
            // A slot asked for with another engine's type: a bug of ours.
            std::fprintf(stderr, "Run::live: slot %d has no such live status\n", slot);
            std::abort();
        }
        return *status;
    }

private:
    std::unique_ptr<LiveStatus> m_live[kNumSlots];
};
