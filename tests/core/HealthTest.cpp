// The hardware health monitor over fixture trees (EDAC counters in a
// temporary directory, hwmon chips bound over /sys/class in a child's own
// mount namespace) and over the real kernel log, and its settings file.
#include "CLogger.h"
#include "DesktopDriver.h"
#include "ErrorClassification.h"
#include "HealthMonitor.h"
#include "MessageBox.h"
#include "ProcessRun.h"
#include "Reports.h"
#include "RunControl.h"
#include "TempDir.h"
#include "TestSlots.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

void put(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, text + "\n");
}

struct QuietObserver : RunObserver {
    bool openGLAvailable() override { return false; }
    void createWindow(int) override { }
    void testStarted(int, bool) override { }
    void processEvents() override { }
    void closingProgress(const std::string&, int) override { }
    void stopTimeSet() override { }
    void deleteWindow(int) override { }
};

class Health : public ::testing::Test {
protected:
    TempDir dir;
    RecordingSink sink;
    QuietObserver observer;
    ProcessRun p;
    RunContext& ctx = p.ctx;

    void SetUp() override
    {
        std::snprintf(dirname, sizeof dirname, "%s", dir.path().c_str());
        ctx.programDir = dir.path();
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        testconfig.log_detail_level = 1;
        gLogger = new CLogger("dummyStr");
        ReadErrorClassificationFile(KVX_SOURCE_DIR "/resources/KVXErrorClassification.txt");
    }
    void TearDown() override
    {
        delete gLogger;
        gLogger = nullptr;
    }
    // Every source off but what the test turns on; quick samples.
    static HealthSettings watching()
    {
        HealthSettings s;
        s.monitor = true;
        s.temperatures = s.ecc = s.kernelLog = false;
        s.intervalMs = 50;
        return s;
    }
    std::string summaries() const
    {
        const ReportWriter report(ctx);
        return Captured([&](FILE* f) {
            report.writeAsciiResultSummary(f);
            report.writeAsciiErrorSummary(f, false, false, -1);
        });
    }
    std::string eventLog() const
    {
        return Captured([](FILE* f) { gLogger->WriteASCIILog(f); });
    }
};

TEST(HealthSettingsFile, ParsesWhatItSavesAndSaysWhatItRejects)
{
    const struct {
        const char* text;
        bool monitor;
        int limit;
        const char* problem;
    } cases[] = {
        { "monitor=0\nthermal_limit=95\n", false, 95, "" },
        { "# comment\n\n  thermal_limit = 80 \r\nkernel_log=1\n", true, 80, "" },
        { "thermal_limit=151\n", true, 0, "line 1: thermal_limit: not a whole number from 0 to 150" },
        { "thermal_limit=9x\nmonitor=0\n", false, 0, "line 1: thermal_limit: not a whole number from 0 to 150" },
        { "\nmonitor=yes\n", true, 0, "line 2: monitor: not 0 or 1" },
        { "fans=1\n", true, 0, "line 1: unknown key fans" },
        { "monitor\n", true, 0, "line 1: not a key=value line" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        HealthSettings s = DefaultHealthSettings();
        std::vector<std::string> problems;
        ParseHealthSettings(c.text, s, problems);
        EXPECT_EQ(std::tuple(s.monitor, s.thermalLimit), std::tuple(c.monitor, c.limit));
        EXPECT_EQ(problems.empty() ? "" : problems.front(), std::string(c.problem));
    }

    TempDir d;
    HealthSettings saved = DefaultHealthSettings();
    saved.ecc = false;
    saved.thermalLimit = 90;
    std::string error;
    ASSERT_TRUE(SaveHealthSettings(d.file(kHealthSettingsFile), saved, error)) << error;
    std::vector<std::string> problems;
    const HealthSettings back = LoadHealthSettings(d.file(kHealthSettingsFile), problems);
    EXPECT_EQ(std::tuple(back.monitor, back.temperatures, back.ecc, back.kernelLog, back.thermalLimit),
        std::tuple(true, true, false, true, 90));
    EXPECT_TRUE(problems.empty());
    EXPECT_TRUE(LoadHealthSettings(d.file("none.conf"), problems).monitor) << "no file: the defaults, watching";
    EXPECT_TRUE(problems.empty());
    EXPECT_FALSE(SaveHealthSettings(d.file("no/such/dir.conf"), saved, error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

// Two controllers: mc0 counts per DIMM, mc1 per csrow channel (older
// drivers). A corrected error warns with the DIMM's label and passes; an
// uncorrected one fails the run with it.
TEST_F(Health, EccRisesWarnOrFailWithTheDimmNamed)
{
    const std::string mc = dir.file("edac/mc");
    for (const char* f : { "mc0/ce_count", "mc0/ue_count", "mc0/dimm0/dimm_ce_count", "mc0/dimm0/dimm_ue_count",
             "mc0/dimm1/dimm_ce_count", "mc0/dimm1/dimm_ue_count", "mc1/ce_count", "mc1/ue_count",
             "mc1/csrow0/ch0_ce_count" })
        put(mc + "/" + f, "0");
    put(mc + "/mc0/dimm0/dimm_label", "CPU0_DIMM_A1");
    put(mc + "/mc0/dimm1/dimm_label", "CPU0_DIMM_B1");
    put(mc + "/mc1/csrow0/ch0_dimm_label", "DIMM_C1");
    HealthSettings s = watching();
    s.ecc = true;
    s.edacRoot = mc;
    ctx.setSettings(s);
    StartRun(ctx, observer);
    ASSERT_TRUE(ctx.run.health.report().ecc.available);

    put(mc + "/mc1/csrow0/ch0_ce_count", "2");
    put(mc + "/mc1/ce_count", "2");
    ASSERT_TRUE(WaitUntil([&] { return ctx.run.health.report().eventCount == 1; }, 5));
    HealthEvent e = ctx.run.health.report().events[0];
    EXPECT_EQ(std::tuple(e.code, e.fails), std::tuple(kHealthEccCorrected, false));
    EXPECT_NE(e.text.find("mc1 DIMM DIMM_C1: 2 corrected"), std::string::npos) << e.text;
    EXPECT_EQ(TotalErrors(ctx), 0) << "a corrected error does not fail the run";

    put(mc + "/mc0/dimm0/dimm_ue_count", "1");
    put(mc + "/mc0/ue_count", "1");
    ASSERT_TRUE(WaitUntil([&] { return ctx.run.health.report().eventCount == 2; }, 5));
    e = ctx.run.health.report().events[1];
    EXPECT_EQ(std::tuple(e.code, e.fails), std::tuple(kHealthEccUncorrected, true));
    EXPECT_NE(e.text.find("mc0 DIMM CPU0_DIMM_A1: 1 uncorrected"), std::string::npos) << e.text;
    EXPECT_EQ(TotalErrors(ctx), 1);

    StopRun(ctx, observer, true, 0);
    const std::string text = summaries();
    EXPECT_NE(text.find("Hardware health   "), std::string::npos) << text;
    EXPECT_NE(text.find("TEST RUN FAILED"), std::string::npos);
    EXPECT_NE(text.find("ECC:           2 corrected, 1 uncorrected errors during the run"), std::string::npos);
    EXPECT_NE(text.find("CRITICAL: Memory uncorrected ECC error (EDAC) - replace the DIMM named (x 1)\n"
                        "    mc0 DIMM CPU0_DIMM_A1: 1 uncorrected"),
        std::string::npos)
        << text;
    EXPECT_NE(eventLog().find("WARNING    : "), std::string::npos) << "the corrected errors are logged as a warning";
}

// libsensors reads only the real sysfs: a child binds a fixture over
// /sys/class in a mount namespace of its own. Two chips; the hottest input
// of each counts; the thermal limit stops the run once.
TEST_F(Health, TemperaturePeaksAndTheThermalLimitStopTheRun)
{
    const std::string cls = dir.file("class");
    put(cls + "/hwmon/hwmon0/name", "coretemp");
    put(cls + "/hwmon/hwmon0/temp1_label", "Package id 0");
    put(cls + "/hwmon/hwmon0/temp1_input", "45000");
    put(cls + "/hwmon/hwmon0/temp2_input", "52000");
    put(cls + "/hwmon/hwmon1/name", "nvme");
    put(cls + "/hwmon/hwmon1/temp1_input", "38850");
    put(cls + "/hwmon/hwmon2/name", "nvme"); // a second of that name
    put(cls + "/hwmon/hwmon2/temp1_input", "30000");
    HealthSettings s = watching();
    s.temperatures = true;
    s.thermalLimit = 90;
    ctx.setSettings(s);

    const std::string seen = InChild([&]() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount(cls.c_str(), "/sys/class", nullptr, MS_BIND, nullptr) != 0)
            return std::string("no mount namespace: ") + std::strerror(errno);
        HealthMonitor& health = ctx.run.health;
        health.start(ctx);
        std::string out;
        for (const ChipTemperature& c : health.report().chips)
            out += Format("%s start %.1f; ", c.chip.c_str(), c.start);
        auto sampled = [&](double current) {
            return WaitUntil([&] { return health.report().chips.at(0).current == current; }, 5);
        };
        put(cls + "/hwmon/hwmon0/temp1_input", "61000");
        const bool rose = sampled(61);
        put(cls + "/hwmon/hwmon0/temp1_input", "50000");
        const bool fell = sampled(52);
        out += Format("peak %.1f after %d%d; ", health.report().chips[0].peak, rose, fell);
        out += Format("complete %d; ", KVXComplete(ctx));
        put(cls + "/hwmon/hwmon0/temp2_input", "95000");
        WaitUntil([&] { return health.stopRequested(); }, 5);
        put(cls + "/hwmon/hwmon1/temp1_input", "91500");
        std::this_thread::sleep_for(150ms);
        const HealthReport r = health.report();
        for (const HealthEvent& e : r.events)
            out += Format("event %d %d %s; ", e.code, e.fails, e.text.c_str());
        out += Format("complete %d errors %u; ", KVXComplete(ctx), ctx.results.results[HealthSlot()].errors);
        health.stop();
        return out;
    });
    EXPECT_EQ(seen,
        "coretemp-virtual-0 start 52.0; nvme-virtual-0 (hwmon1) start 38.9; nvme-virtual-0 (hwmon2) start 30.0; "
        "peak 61.0 after 11; complete 0; "
        "event 210 1 coretemp-virtual-0 at 95.0 C, over the thermal limit of 90 C: run stopped; complete 1 errors 1; ");
}

// Lines the kernel logs after the run started fail it, with the kernel's
// words in the serious error summary; a line from before does not count.
TEST_F(Health, KernelHardwareErrorsAfterTheStartFailTheRun)
{
    const std::string token = std::to_string(::getpid()) + "-" + std::to_string(std::time(nullptr));
    auto kernelLog = [](const std::string& line) { WriteFile("/dev/kmsg", line + "\n"); };
    kernelLog("mce: [Hardware Error]: CPU 1: Machine Check: 0 Bank 5: before-" + token);
    HealthSettings s = watching();
    s.kernelLog = true;
    ctx.setSettings(s);
    StartRun(ctx, observer);
    ASSERT_TRUE(ctx.run.health.report().kernelLog.available) << ctx.run.health.report().kernelLog.note;
    kernelLog("mce: [Hardware Error]: CPU 0: Machine Check: 0 Bank 4: b200000000070f0f after-" + token);
    ASSERT_TRUE(WaitUntil([&] { return ctx.run.health.report().failures > 0; }, 5));
    StopRun(ctx, observer, true, 0);

    EXPECT_EQ(TotalErrors(ctx), 1);
    const std::string text = summaries();
    EXPECT_NE(text.find("CRITICAL: Kernel reported a machine check (Hardware Error) - check CPU and memory (x 1)\n"
                        "    Kernel: mce: [Hardware Error]: CPU 0: Machine Check: 0 Bank 4: b200000000070f0f after-"
                  + token),
        std::string::npos)
        << text;
    EXPECT_EQ(text.find("before-" + token), std::string::npos);
    EXPECT_NE(text.find("TEST RUN FAILED"), std::string::npos);
}

// What a kernel line means for the run: the hardware errors fail it, the
// corrected ones warn, everything else is not ours.
TEST(KernelLines, HardwareErrorsFailCorrectedOnesWarnOthersDoNot)
{
    const struct {
        const char* record;
        int code; // 0: not an event
        bool fails;
    } cases[] = {
        { "2,1043,912345,-;mce: [Hardware Error]: Machine check events logged\n SUBSYSTEM=mce\n",
            kHealthKernelMachineCheck, true },
        { "3,77,1,-;EDAC MC0: 1 UE memory read error on CPU_SrcID#0_Ha#0_Chan#1_DIMM#0", kHealthKernelEdac, true },
        { "4,78,1,-;EDAC MC0: 3 CE memory read error on CPU_SrcID#0_Ha#0_Chan#1_DIMM#0", kHealthKernelWarning, false },
        { "3,79,1,-;pcieport 0000:00:1c.0: AER: Uncorrected (Non-Fatal) error received: 0000:01:00.0",
            kHealthKernelPcie, true },
        { "4,80,1,-;pcieport 0000:00:1c.0: PCIe Bus Error: severity=Corrected, type=Physical Layer",
            kHealthKernelWarning, false },
        { "3,81,1,-;blk_update_request: I/O error, dev sda, sector 2048 op 0x0:(READ)", kHealthKernelIo, true },
        { "3,82,1,-;I/O error, dev nvme0n1, sector 0 op 0x1:(WRITE) flags 0x800", kHealthKernelIo, true },
        { "6,83,1,-;EDAC sbridge: Seeking for: PCI ID 8086:0ea0", 0, false },
        { "6,84,1,-;usb 1-1: new high-speed USB device number 2", 0, false },
        { "6,85,1,-;EXT4-fs (loop0): mounted filesystem with ordered data mode", 0, false },
    };
    for (const auto& c : cases) {
        int code = 0;
        bool fails = false;
        const bool event = KernelLineEvent(c.record, code, fails);
        EXPECT_EQ(std::tuple(event ? code : 0, event && fails), std::tuple(c.code, c.fails)) << c.record;
    }
}

} // namespace
