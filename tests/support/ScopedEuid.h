// Runs a scope under another effective user id (every thread's) and goes
// back to root at its end, even when an assertion leaves early. Needs root.
#pragma once

#include <sys/types.h>
#include <unistd.h>

class ScopedEuid {
public:
    explicit ScopedEuid(uid_t uid)
        : m_ok(::seteuid(uid) == 0)
    {
    }
    ~ScopedEuid()
    {
        if (m_ok)
            (void)::seteuid(0);
    }
    ScopedEuid(const ScopedEuid&) = delete;
    ScopedEuid& operator=(const ScopedEuid&) = delete;
    bool ok() const { return m_ok; }

private:
    bool m_ok;
};
