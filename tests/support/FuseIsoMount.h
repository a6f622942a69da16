// An ISO image mounted the way this kernel allows: through FUSE, with
// fuseiso; unmounted and its mount point removed again at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

class FuseIsoMount {
public:
    FuseIsoMount(const std::string& iso, const std::string& at)
        : m_at(at)
    {
        std::filesystem::create_directory(at);
        m_mounted = std::system(("fuseiso -n '" + iso + "' '" + at + "'").c_str()) == 0;
    }
    ~FuseIsoMount()
    {
        if (m_mounted)
            std::system(("fusermount -u '" + m_at + "'").c_str());
        ::rmdir(m_at.c_str());
    }
    FuseIsoMount(const FuseIsoMount&) = delete;
    FuseIsoMount& operator=(const FuseIsoMount&) = delete;
    bool mounted() const { return m_mounted; }

private:
    std::string m_at;
    bool m_mounted = false;
};
