// Whether this process may do what a test needs: as root, or holding the one
// capability the operation needs (an installed program gets them as file
// capabilities instead of running its whole GUI as root).
#pragma once

enum class Privilege {
    LockMemory, // mlock: CAP_IPC_LOCK
    RawNetwork, // raw ICMP socket: CAP_NET_RAW
    PortIo, // ioperm: CAP_SYS_RAWIO
};

// True when the effective user is root or the capability of `p` is in the
// effective set. Any thread.
bool HavePrivilege(Privilege p);
