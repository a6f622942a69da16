// A mount table of this process's own, inherited by the programs it starts:
// drives are numbered by their place in it, so other runs' media must not
// show up there. Mounts made afterwards vanish with the last process using it.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mntent.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <vector>

// Returns an empty string on success, else why it failed.
inline std::string UsePrivateMountTable()
{
    if (::unshare(CLONE_NEWNS) != 0)
        return std::string("unshare: ") + std::strerror(errno);
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("making / private: ") + std::strerror(errno);
    // Media present now belong to someone else; in this table only, they go.
    std::vector<std::string> media;
    if (FILE* f = ::setmntent("/proc/self/mounts", "r")) {
        mntent m {};
        char buf[4096];
        while (::getmntent_r(f, &m, buf, sizeof buf))
            if (std::strncmp(m.mnt_dir, "/media/", 7) == 0)
                media.emplace_back(m.mnt_dir);
        ::endmntent(f);
    }
    for (auto it = media.rbegin(); it != media.rend(); ++it)
        if (::umount2(it->c_str(), MNT_DETACH) != 0 && errno != EINVAL)
            return "detaching " + *it + ": " + std::strerror(errno);
    return {};
}
