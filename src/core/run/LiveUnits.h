// The live values of a test with several units (disks, drives, hosts,
// ports), which the windows read. Each engine clears them as it is built:
// the first engine alive clears every unit (a new run starts clean), later
// ones only their own, so a unit started late cannot wipe the counts of
// units already running.
#pragma once

#include <atomic>

class LiveUnits {
public:
    // Calls clear(u) for every unit below `count`, or only for `unit` when
    // another engine is alive (and `unit` is below `count`). Any thread.
    template <class Clear> void enter(int unit, int count, Clear clear)
    {
        if (m_alive.fetch_add(1) == 0) {
            for (int u = 0; u < count; ++u)
                clear(u);
        } else if (unit >= 0 && unit < count) {
            clear(unit);
        }
    }
    // The engine is gone. Any thread.
    void leave() { m_alive.fetch_sub(1); }

private:
    std::atomic<int> m_alive { 0 };
};
