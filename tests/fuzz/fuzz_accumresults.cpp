// The accumulated results file is read back over the whole results record
// and then printed in every report; a damaged or foreign file must neither
// crash the loader nor the report writers.
#include "CLogger.h"
#include "ConfigRecord.h"
#include "FuzzSupport.h"
#include "ResultRecord.h"
#include "Results.h"
#include "Startup.h"

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
    static CLogger* logger = [] {
        KalvexTest_SetUpDefault(&testconfig);
        testconfig.logging_enabled = 0;
        return new CLogger("fuzz");
    }();
    gLogger = logger;

    FILE* f = std::fopen((dir + "/.accum_result.cfg").c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::memset(&resultfile, 0, sizeof resultfile);
    // Every slot selected, so every row of the summaries is printed.
    for (int slot = 0; slot < kNumSlots; ++slot)
        testconfig.test_enabled[slot] = 1;
    testconfig.pretest_log_mode = 1;
    LoadAccumulatedResults(dir.c_str());

    static FILE* sinkFile = std::fopen("/dev/null", "w");
    logger->WriteSystemInfoToFile(sinkFile);
    logger->WriteHTMLSystemInfoToFile(sinkFile);
    logger->saveasciiresultsummary(sinkFile, true);
    logger->savehtmlresultsummary(sinkFile);
    logger->saveasciierrorsummary(sinkFile, false, false, 1);
    logger->savehtmlerrorsummary(sinkFile, false, 1);
    return 0;
}
