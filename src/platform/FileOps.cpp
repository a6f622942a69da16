#include "FileOps.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

int writeAll(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (w == 0)
            return EIO;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return 0;
}

mode_t currentUmask()
{
    // umask can only be read by setting it; restore at once.
    mode_t m = ::umask(022);
    ::umask(m);
    return m;
}

} // namespace

int AtomicWriteFile(const std::string& path, const void* data, std::size_t size, WriteStage* stage)
{
    auto fail = [stage](WriteStage s, int err) {
        if (stage)
            *stage = s;
        return err;
    };
    if (stage)
        *stage = WriteStage::None;

    std::string dir = ".";
    std::string base = path;
    if (auto slash = path.rfind('/'); slash != std::string::npos) {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        base = path.substr(slash + 1);
    }
    std::string tmpl = (dir == "/" ? std::string("/") : dir + "/") + "." + base + ".XXXXXX";

    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(WriteStage::Open, errno);

    struct stat st { };
    mode_t mode = (::stat(path.c_str(), &st) == 0) ? (st.st_mode & 07777) : (0666 & ~currentUmask());
    ::fchmod(fd, mode);

    int err = writeAll(fd, static_cast<const char*>(data), size);
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(tmpl.c_str(), path.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(tmpl.c_str());
        return fail(WriteStage::Write, err);
    }

    // Make the rename itself durable; a failure here does not lose the data.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return 0;
}

int FileSystemSpace(const char* path, std::uint64_t* avail, std::uint64_t* total, std::uint64_t* blockSize)
{
    struct statvfs v { };
    if (::statvfs(path, &v) != 0)
        return errno;
    if (avail)
        *avail = v.f_bavail;
    if (total)
        *total = v.f_blocks;
    if (blockSize)
        *blockSize = v.f_bsize;
    return 0;
}
