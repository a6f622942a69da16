// "machineid.dat" is read into three fixed text fields that are shown in
// the main window and every report: whatever the file holds, each must end
// inside its field.
#include "FuzzSupport.h"
#include "ResultRecord.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string dir = [] {
        char tmpl[] = "/tmp/kvxfuzzdir.XXXXXX";
        return std::string(::mkdtemp(tmpl));
    }();
    static SilentSink sink;
    SetMessageSink(&sink);
    FILE* f = std::fopen((dir + "/machineid.dat").c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::memset(&resultfile, 0, sizeof resultfile);
    load_machineid(dir.c_str());
    if (!std::memchr(resultfile.machine_type, '\0', sizeof resultfile.machine_type)
        || !std::memchr(resultfile.machine_serial, '\0', sizeof resultfile.machine_serial)
        || !std::memchr(resultfile.notes, '\0', sizeof resultfile.notes))
        std::abort();
    return 0;
}
