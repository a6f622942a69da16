// The privilege check against real credentials: root, a dropped effective
// uid, and a non-root process that holds one capability.
#include "Privileges.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

// Runs `body` in a child and returns its exit status (0 = all held).
template <class Body> int inChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

int bits(bool lock, bool raw, bool io)
{
    return (lock ? 1 : 0) | (raw ? 2 : 0) | (io ? 4 : 0);
}

int heldNow()
{
    return bits(
        HavePrivilege(Privilege::LockMemory), HavePrivilege(Privilege::RawNetwork), HavePrivilege(Privilege::PortIo));
}

TEST(Privileges, RootNobodyAndASingleCapability)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to change credentials";
    EXPECT_EQ(heldNow(), 7);

    // Dropping the effective uid clears the effective capabilities too.
    EXPECT_EQ(inChild([] { return ::seteuid(kNobody) == 0 ? heldNow() : 99; }), 0);

    // A non-root process given CAP_NET_RAW only (as a file capability would).
    EXPECT_EQ(inChild([] {
        if (::prctl(PR_SET_KEEPCAPS, 1L, 0L, 0L, 0L) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0)
            return 99;
        __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] {};
        if (::syscall(SYS_capget, &header, data) != 0)
            return 98;
        data[0].effective = 1u << CAP_NET_RAW;
        if (::syscall(SYS_capset, &header, data) != 0)
            return 97;
        return heldNow();
    }),
        bits(false, true, false));
}

} // namespace
