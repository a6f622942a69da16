#include "ResultRecord.h"

#include "AtomicField.h"
#include "DebugTrace.h"
#include "FileOps.h"
#include "MessageBox.h"

#include <cstddef>
#include <algorithm>
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
        std::fprintf(
            stderr, "BinaryDataSave: %s: %s\n", stage == WriteStage::Open ? "fopen" : "fwrite", std::strerror(err));
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
    if (std::fread(data, static_cast<std::size_t>(size), static_cast<std::size_t>(count), f)
        != static_cast<std::size_t>(count)) {
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

int save_machineid(const char* dir)
{
    const std::string path = std::string(dir) + "/machineid.dat";
    char image[500] = {};
    std::memcpy(image, resultfile.machine_type, 100);
    std::memcpy(image + 100, resultfile.machine_serial, 100);
    std::memcpy(image + 200, resultfile.notes, 300);

    WriteStage stage = WriteStage::None;
    const int err = AtomicWriteFile(path, image, sizeof image, &stage);
    if (err != 0 && stage == WriteStage::Open) {
        ShowBox(BoxIcon::Warning, "Machine ID & Notes",
            Format("Could not save default machine ID to disk in file\n%s\nCheck the directory exists then\nCheck "
                   "that you have write access to this file & directory.\n",
                path.c_str()),
            { "OK" }, 0, 0);
    } else if (err != 0) {
        ShowBox(BoxIcon::Warning, "Machine ID & Notes",
            Format("Could not write values to disk in file\n%s\n", path.c_str()), { "OK" }, 0, 0);
    } else {
        ShowBox(BoxIcon::Information, "Machine ID & Notes",
            "Default values have been saved.\nThese values will now be reloaded\neach time KalvexTest is started",
            { "OK" }, 0, 0);
    }
    return err;
}

void SetMachineId(const std::string& type, const std::string& serial, const std::string& notes)
{
    auto store = [](char* field, std::size_t size, const std::string& text) {
        std::memset(field, 0, size);
        std::memcpy(field, text.data(), std::min(text.size(), size - 1));
    };
    store(resultfile.machine_type, sizeof resultfile.machine_type, type);
    store(resultfile.machine_serial, sizeof resultfile.machine_serial, serial);
    store(resultfile.notes, sizeof resultfile.notes, notes);
}

namespace {

template <std::size_t N> void terminate(char (&text)[N])
{
    text[N - 1] = '\0';
}

} // namespace

void TerminateResultTexts(_resultfile& r)
{
    terminate(r.os_text);
    terminate(r.notes);
    terminate(r.machine_type);
    terminate(r.machine_serial);
    terminate(r.network_name);
    terminate(r.cpu_info.vendor_id);
    terminate(r.cpu_info.model_name);
    terminate(r.cpu_info.cpu0_speed_text);
    terminate(r.cpu_info.cpu1_speed_text);
    terminate(r.video_info.card_name);
    for (auto& text : r.first_occurrence)
        terminate(text);
}
