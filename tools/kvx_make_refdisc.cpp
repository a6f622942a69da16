// Writes the reference test disc of the CD/DVD test: KVX-Data-001.dat,
// KVX-Data-002.dat, ... with their block patterns, sized for a CD or a DVD,
// and an ISO 9660 image of them to burn when xorriso is installed.
#include "RefDiscFormat.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Files that fit a 650 MB CD-R and a 4.7 GB DVD-R with room for the file
// system.
constexpr int kDefaultCdFiles = 64;
constexpr int kDefaultDvdFiles = 110;

void usage(std::FILE* out)
{
    std::fprintf(out,
        "Usage: kvx-make-refdisc [--dvd] [--files N] [--iso FILE | --no-iso] DIR\n"
        "\n"
        "Writes the reference test files KVX-Data-001.dat, KVX-Data-002.dat, ... into DIR\n"
        "(created when missing), for the CD/DVD test's \"Veltrane Test CD/DVD\" mode:\n"
        "  CD (default)  N files of %d blocks (%d bytes each), N = %d\n"
        "  --dvd         N files of %d blocks (%d bytes each), N = %d\n"
        "  --files N     write N files instead\n"
        "Then, when xorriso is installed, writes an ISO image of DIR ready to burn:\n"
        "  --iso FILE    the image's name (default: DIR.iso beside DIR)\n"
        "  --no-iso      write no image\n",
        kRefBlocksCd, kRefBlocksCd * kRefBlockSize, kDefaultCdFiles, kRefBlocksDvd, kRefBlocksDvd * kRefBlockSize,
        kDefaultDvdFiles);
}

bool parseCount(const char* text, int* value)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < 1 || v > 999)
        return false;
    *value = static_cast<int>(v);
    return true;
}

// Writes one file under a temporary name and renames it, so an interrupted
// run never leaves a short file that the test would count as a read error.
bool writeFile(const std::string& dir, int number, int blocks)
{
    const std::string path = dir + "/" + RefFileName(number);
    const std::string part = path + ".part";
    std::FILE* f = std::fopen(part.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "kvx-make-refdisc: cannot create %s: %s\n", part.c_str(), std::strerror(errno));
        return false;
    }
    static std::uint8_t block[kRefPatterns][kRefBlockSize];
    for (int p = 0; p < kRefPatterns; ++p)
        FillRefBlock(block[p], p);
    bool ok = true;
    for (int b = 0; b < blocks && ok; ++b)
        ok = std::fwrite(block[b % kRefPatterns], 1, kRefBlockSize, f) == static_cast<std::size_t>(kRefBlockSize);
    ok = std::fflush(f) == 0 && ok;
    const int err = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(part.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "kvx-make-refdisc: cannot write %s: %s\n", path.c_str(), std::strerror(ok ? errno : err));
        std::remove(part.c_str());
        return false;
    }
    return true;
}

// The full path of `name` on the search path, or empty.
std::string findOnPath(const char* name)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return {};
}

int run(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (const int rc = ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ)) {
        std::fprintf(stderr, "kvx-make-refdisc: cannot run %s: %s\n", argv[0], std::strerror(rc));
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    bool dvd = false;
    bool noIso = false;
    int files = 0;
    std::string iso;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--dvd") {
            dvd = true;
        } else if (a == "--no-iso") {
            noIso = true;
        } else if (a == "--files" && i + 1 < argc) {
            if (!parseCount(argv[++i], &files)) {
                std::fprintf(stderr, "kvx-make-refdisc: --files takes a number from 1 to 999\n");
                return 2;
            }
        } else if (a == "--iso" && i + 1 < argc) {
            iso = argv[++i];
        } else if (!a.empty() && a[0] != '-' && dir.empty()) {
            dir = a;
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (dir.empty() || (noIso && !iso.empty())) {
        usage(stderr);
        return 2;
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (files == 0)
        files = dvd ? kDefaultDvdFiles : kDefaultCdFiles;
    const int blocks = dvd ? kRefBlocksDvd : kRefBlocksCd;

    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "kvx-make-refdisc: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
        return 1;
    }
    for (int k = 1; k <= files; ++k) {
        if (!writeFile(dir, k, blocks))
            return 1;
    }
    // Files left from a larger set would be read as part of this one.
    for (int k = files + 1;; ++k) {
        const std::string stale = dir + "/" + RefFileName(k);
        if (std::remove(stale.c_str()) != 0)
            break;
    }
    std::printf("%d %s files of %d bytes in %s\n", files, dvd ? "DVD" : "CD", blocks * kRefBlockSize, dir.c_str());

    if (noIso)
        return 0;
    const std::string xorriso = findOnPath("xorriso");
    if (xorriso.empty()) {
        std::fprintf(stderr,
            "kvx-make-refdisc: xorriso is not installed, so no ISO image was written; burn the "
            "files in %s with any burning program, into the disc's root\n",
            dir.c_str());
        return iso.empty() ? 0 : 1;
    }
    if (iso.empty())
        iso = dir + ".iso";
    const int rc = run({ xorriso, "-as", "mkisofs", "-quiet", "-r", "-J", "-V", dvd ? "KVX_TEST_DVD" : "KVX_TEST_CD",
        "-o", iso, dir });
    if (rc != 0) {
        std::fprintf(stderr, "kvx-make-refdisc: xorriso failed (%d); no image written\n", rc);
        std::remove(iso.c_str());
        return 1;
    }
    std::printf("ISO image ready to burn: %s\n", iso.c_str());
    return 0;
}
