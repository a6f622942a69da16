// Relaxed atomic access to fields of the shared records. The GUI thread and
// the test threads read and write the same fields without locks; going
// through std::atomic_ref keeps each access whole and free of data races.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

template <class T> inline T relaxedLoad(const T& field)
{
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

template <class T> inline void relaxedStore(T& field, T value)
{
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

template <class T> inline T relaxedAdd(T& field, T delta)
{
    return std::atomic_ref<T>(field).fetch_add(delta, std::memory_order_relaxed);
}

// A thread's last word on a `running` count: what it did before is seen by
// whoever reads the count with acquireLoad (the stop waits on it).
template <class T> inline T releaseAdd(T& field, T delta)
{
    return std::atomic_ref<T>(field).fetch_add(delta, std::memory_order_release);
}

template <class T> inline T acquireLoad(const T& field)
{
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_acquire);
}

// Whole-record copies in 32-bit words (every record is a multiple of 4 bytes
// and at least 4-aligned), so a copy taken while other threads update single
// fields sees each field either old or new, never torn.
template <class Rec> inline void recordCopy(Rec& dst, const Rec& src)
{
    static_assert(sizeof(Rec) % 4 == 0 && alignof(Rec) >= 4);
    auto* d = reinterpret_cast<std::uint32_t*>(&dst);
    auto* s = reinterpret_cast<std::uint32_t*>(const_cast<Rec*>(&src));
    for (std::size_t i = 0; i < sizeof(Rec) / 4; ++i)
        relaxedStore(d[i], relaxedLoad(s[i]));
}

template <class Rec> inline void recordClear(Rec& dst)
{
    static_assert(sizeof(Rec) % 4 == 0 && alignof(Rec) >= 4);
    auto* d = reinterpret_cast<std::uint32_t*>(&dst);
    for (std::size_t i = 0; i < sizeof(Rec) / 4; ++i)
        relaxedStore(d[i], std::uint32_t { 0 });
}
