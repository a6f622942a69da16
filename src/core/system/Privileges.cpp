#include "Privileges.h"

#include <cstdint>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int capabilityOf(Privilege p)
{
    switch (p) {
    case Privilege::LockMemory:
        return CAP_IPC_LOCK;
    case Privilege::RawNetwork:
        return CAP_NET_RAW;
    case Privilege::PortIo:
        return CAP_SYS_RAWIO;
    }
    return -1;
}

bool effectiveCapability(int cap)
{
    if (cap < 0 || cap >= 64)
        return false;
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] {};
    // No libcap: the raw call is all this needs.
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    return (data[cap / 32].effective >> (cap % 32)) & 1u;
}

} // namespace

bool HavePrivilege(Privilege p)
{
    return ::geteuid() == 0 || effectiveCapability(capabilityOf(p));
}
