// A time of day that a test thread and the GUI thread both read and write
// without a lock (the display intervals of the live windows). Each half is
// whole; a reader may see the halves of two different stores, which the
// windows accept as they accept a torn 64-bit counter.
#pragma once

#include <atomic>
#include <cstdint>
#include <sys/time.h>

struct LiveTimeval {
    std::atomic<std::int64_t> sec { 0 };
    std::atomic<std::int64_t> usec { 0 };

    void store(const timeval& t)
    {
        sec.store(t.tv_sec, std::memory_order_relaxed);
        usec.store(t.tv_usec, std::memory_order_relaxed);
    }
    timeval load() const
    {
        timeval t {};
        t.tv_sec = static_cast<time_t>(sec.load(std::memory_order_relaxed));
        t.tv_usec = static_cast<suseconds_t>(usec.load(std::memory_order_relaxed));
        return t;
    }
    void storeNow()
    {
        timeval t {};
        gettimeofday(&t, nullptr);
        store(t);
    }
    void clear() { store(timeval {}); }
};
