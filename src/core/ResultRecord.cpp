#include "ResultRecord.h"

#include "AtomicField.h"
#include "DebugTrace.h"
#include "FileOps.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

alignas(8) _resultfile resultfile;

int BinaryDataSave(const char* path, const void* data, int size, int count)
{
    WriteStage stage = WriteStage::None;
    int err = AtomicWriteFile(path, data, static_cast<std::size_t>(size) * static_cast<std::size_t>(count), &stage);
    if (err != 0)
        std::fprintf(stderr, "BinaryDataSave: %s: %s\n", stage == WriteStage::Open ? "fopen" : "fwrite",
                     std::strerror(err));
    return err;
}

int BinaryDataLoad(const char* path, void* data, int size, int count)
{
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        int err = errno;
        std::fprintf(stderr, "BinaryDataLoad: fopen: %s\n", std::strerror(err));
        return err;
    }
    int result = 0;
    errno = 0;
    if (std::fread(data, static_cast<std::size_t>(size), static_cast<std::size_t>(count), f) !=
        static_cast<std::size_t>(count)) {
        result = std::ferror(f) && errno ? errno : EIO;
        std::fprintf(stderr, "BinaryDataLoad: fread: %s\n", std::strerror(result));
    }
    std::fclose(f);
    return result;
}

void load_machineid(const char* dir)
{
    std::string path = std::string(dir) + "/machineid.dat";
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return;
    std::size_t got = std::fread(resultfile.machine_type, 1, sizeof resultfile.machine_type, f);
    if (got == sizeof resultfile.machine_type) {
        got = std::fread(resultfile.machine_serial, 1, sizeof resultfile.machine_serial, f);
        if (got == sizeof resultfile.machine_serial)
            std::fread(resultfile.notes, 1, sizeof resultfile.notes, f);
    }
    std::fclose(f);
    resultfile.machine_type[sizeof resultfile.machine_type - 1] = '\0';
    resultfile.machine_serial[sizeof resultfile.machine_serial - 1] = '\0';
    resultfile.notes[sizeof resultfile.notes - 1] = '\0';
}

void ClearAccumulatedResults()
{
    for (auto& r : resultfile.accum_results)
        recordClear(r);
    for (auto& c : resultfile.accum_classes)
        recordClear(c);
    relaxedStore(resultfile.accum_start_time, 0);
    relaxedStore(resultfile.accum_stop_time, 0);
    relaxedStore(resultfile.accum_duration, 0);
    relaxedStore(resultfile.reserved_15196, 0);
    for (auto& n : resultfile.error_occurrences)
        relaxedStore(n, 0);
    std::memset(resultfile.first_occurrence, 0, sizeof resultfile.first_occurrence);
}
