// An ISO image mounted through FUSE with fuseiso, as this kernel allows;
// unmounted and its mount point removed at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

class FuseIsoMount {
public:
    FuseIsoMount(const std::string& iso, const std::string& at)
        : m_at((std::filesystem::create_directory(at), at))
        , m_mounted(std::system(("fuseiso -n '" + iso + "' '" + at + "'").c_str()) == 0)
    {
    }
    ~FuseIsoMount()
    {
        if (m_mounted)
            std::system(("fusermount -u '" + m_at + "'").c_str());
        ::rmdir(m_at.c_str());
    }
    bool mounted() const { return m_mounted; }

private:
    const std::string m_at;
    const bool m_mounted;
};
