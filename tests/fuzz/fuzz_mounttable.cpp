// fstab and mtab lines come from users and mount helpers; any pair of tables
// must give at most 20 entries per list with terminated texts. The input
// holds the fstab text, a form feed, then the mtab text (without a form feed
// both tables get the whole input).
#include "ConfigRecord.h"
#include "DebugTrace.h"
#include "FuzzSupport.h"
#include "SystemInfo.h"

#include <cstring>

namespace {

bool terminated(const char* field, size_t size)
{
    return std::memchr(field, '\0', size) != nullptr;
}

template <class Entry> void checkList(const Entry* list, int count, const char (*paths)[256])
{
    if (count < 0 || count > kMaxMountEntries)
        std::abort();
    for (int i = 0; i < count; ++i) {
        const Entry& e = list[i];
        if (!terminated(e.name, sizeof e.name) || !terminated(e.mount_point, sizeof e.mount_point)
            || !terminated(e.type, sizeof e.type) || !terminated(e.opts, sizeof e.opts)
            || !terminated(e.alias, sizeof e.alias) || !terminated(paths[i], 256))
            std::abort();
        if (std::strcmp(paths[i], e.mount_point) != 0)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FILE* quiet = std::fopen("/dev/null", "w");
    g_fh_debug = quiet;

    const auto* split = static_cast<const uint8_t*>(std::memchr(data, '\f', size));
    const size_t fstabSize = split ? static_cast<size_t>(split - data) : size;
    const std::string& fstab = WriteFuzzInput(data, fstabSize);
    const std::string& mtab = split ? WriteFuzzInput(split + 1, size - fstabSize - 1, 1) : fstab;

    static FileSystemStruct disks[kMaxMountEntries];
    static MultimediaStruct drives[kMaxMountEntries];
    std::memset(disks, 0, sizeof disks);
    std::memset(drives, 0, sizeof drives);

    const int n = BuildFileSystemStruct(disks, fstab.c_str(), mtab.c_str());
    checkList(disks, n, testconfig.disk_path);
    gNumMntPoints = n;
    const int m = UpdateFileSystemStruct(disks, mtab.c_str());
    if (m < n)
        std::abort();
    checkList(disks, m, testconfig.disk_path);

    checkList(drives, BuildMultimediaStruct(drives, fstab.c_str(), mtab.c_str()), testconfig.cd_drive_name);
    return 0;
}
