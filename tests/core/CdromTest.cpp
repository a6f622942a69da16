#include "CTest_CDROM.h"
#include "CdDrive.h"
#include "EngineFixture.h"
#include "ProcessRun.h"
#include "RefDiscFormat.h"
#include "SystemInfo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// A drive following a script the test still reads after the engine is gone.
struct CdScript {
    int status = kCdsAudio;
    std::vector<int> trackFrames; // lengths; audio starts after a 2 s lead-in
    std::vector<int> dataTracks; // tracks with the data flag
    std::string failing; // the call (as recorded, up to a space) that fails with EIO
    CdVolume volume { { 255, 255, 0, 0 } };
    std::function<void(const std::string& call)> onCall; // sees each call just after it
    // Every call made, e.g. "tocentry N", "play M:S:F-M:S:F", "volset A,B,C,D".
    std::vector<std::string> calls;
    int pollsLeft = 0, playingTrack = 0;
};

class ScriptedCdDrive final : public CdDrive {
public:
    explicit ScriptedCdDrive(std::shared_ptr<CdScript> script)
        : s(std::move(script))
    {
    }
    int open(const char*) override
    {
        if (record("open"))
            return -EIO;
        m_open = true;
        return 42; // looks real; nothing is opened
    }
    void close() override
    {
        if (std::exchange(m_open, false))
            record("close");
    }
    int discStatus(int* status) override
    {
        if (record("status"))
            return EIO;
        *status = s->status;
        return 0;
    }
    int readTocHeader(int* first, int* last) override
    {
        if (record("tochdr") || s->trackFrames.empty())
            return EIO;
        *first = 1;
        *last = static_cast<int>(s->trackFrames.size());
        return 0;
    }
    int readTocEntry(int track, CdTocEntry* entry) override
    {
        if (record("tocentry " + std::to_string(track)))
            return EIO;
        const int count = static_cast<int>(s->trackFrames.size());
        const int index = track == kCdLeadOut ? count : track - 1;
        if (index < 0 || index > count)
            return EINVAL;
        entry->track = track;
        entry->control = std::ranges::count(s->dataTracks, track) ? kCdDataTrackFlag : 0;
        entry->address = CdMsfOf(trackStart(index));
        return 0;
    }
    int start() override { return record("start"); }
    int stop() override
    {
        s->pollsLeft = 0;
        return record("stop");
    }
    int playMsf(const CdMsf& from, const CdMsf& to) override
    {
        if (record("play " + msf(from) + "-" + msf(to)))
            return EIO;
        int track = 0;
        while (track < static_cast<int>(s->trackFrames.size()) && trackStart(track) < CdFrames(from))
            ++track;
        s->pollsLeft = 2; // sub-channel reads that still report the play
        s->playingTrack = track + 1;
        return 0;
    }
    int readSubChannel(CdSubChannel* sc) override
    {
        if (record("subchnl"))
            return EIO;
        sc->track = s->playingTrack;
        sc->audioStatus = s->pollsLeft-- > 0 ? kCdAudioPlay : kCdAudioCompleted;
        return 0;
    }
    int readVolume(CdVolume* volume) override
    {
        if (record("volread"))
            return EIO;
        *volume = s->volume;
        return 0;
    }
    int setVolume(const CdVolume& v) override
    {
        char text[48];
        std::snprintf(text, sizeof text, "volset %d,%d,%d,%d", v.channel[0], v.channel[1], v.channel[2], v.channel[3]);
        if (record(text))
            return EIO;
        s->volume = v;
        return 0;
    }

private:
    int record(const std::string& call)
    {
        s->calls.push_back(call);
        if (s->onCall)
            s->onCall(call);
        return call.substr(0, call.find(' ')) == s->failing ? EIO : 0;
    }
    int trackStart(int index) const
    {
        int frame = 2 * kCdFramesPerSecond;
        for (int i = 0; i < index; ++i)
            frame += s->trackFrames[static_cast<std::size_t>(i)];
        return frame;
    }
    static std::string msf(const CdMsf& a)
    {
        return std::to_string(a.minute) + ":" + std::to_string(a.second) + ":" + std::to_string(a.frame);
    }

    std::shared_ptr<CdScript> s;
    bool m_open = false;
};

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Cdrom : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        std::memset(gMultimediaStructPtr, 0, sizeof gMultimediaStructPtr);
        gNumMMDevices = 0;
        testconfig.duty_cycle[kSlotCdFirst] = 100;
        // Only the codes the engine lists get a text of their own.
        for (int code : EngineFor(kSlotCdFirst)->errorCodes)
            std::snprintf(e_strings[code], kErrorTextSize, "CD error %d", code), e_classification[code] = kSevSerious;
        pauses.clear();
        stopWhen = nullptr;
        script = std::make_shared<CdScript>();
        pr.ctx.setSettings(CdDvdSettings { .pause = [this](int, int ms) {
            pauses.push_back(ms);
            if (stopWhen && stopWhen(ms))
                pr.run.setSlotActive(hookSlot, false);
            return 0;
        } });
        pr.ctx.platform.cdDrive = [this] { return std::make_unique<ScriptedCdDrive>(script); };
    }
    // An engine for drive `unit` whose record names `device` and `mount`.
    std::unique_ptr<CTest_CDROM> engine(int unit, const std::string& mount, const std::string& device = "")
    {
        std::snprintf(gMultimediaStructPtr[unit].mount_point, 256, "%s", mount.c_str());
        std::snprintf(gMultimediaStructPtr[unit].name, 256, "%s", device.c_str());
        std::snprintf(testconfig.cd_drive_name[unit], 256, "/media/cd%d", unit);
        gNumMMDevices = std::max(gNumMMDevices, unit + 1);
        pr.run.setSlotActive(hookSlot = kSlotCdFirst + unit, true);
        return std::make_unique<CTest_CDROM>(pr.ctx, unit, kSlotCdFirst + unit);
    }
    CdDvdLive& live(int unit) { return pr.run.live<CdDvdLive>(kSlotCdFirst + unit); }
    int paused(int ms) const { return static_cast<int>(std::count(pauses.begin(), pauses.end(), ms)); }
    // The event log lines (errors and their details), oldest first.
    std::string events()
    {
        std::string all;
        for (int i = 0; i < gLogger->GetNumberLines(); ++i)
            all += gLogger->GetLine(i, nullptr, nullptr);
        return all;
    }
    static std::tuple<unsigned, unsigned, unsigned> counts(int unit)
    {
        const _resultinfo& r = resultfile.results[kSlotCdFirst + unit];
        return { r.cycles, r.errors, r.last_error };
    }
    void makeFiles(const std::string& where, const std::string& options)
    {
        ASSERT_EQ(std::system((KVX_REFDISC_TOOL " " + options + " " + where + " >/dev/null").c_str()), 0);
    }

    ProcessRun pr;
    std::shared_ptr<CdScript> script;
    // Every pause the engine asks for; `stopWhen` may end the test at one.
    std::vector<int> pauses;
    std::function<bool(int ms)> stopWhen;
    int hookSlot = kSlotCdFirst;
};

TEST_F(Cdrom, FilesPerDisc)
{
    // The maker's files, then the size limit between CD and DVD blocks.
    makeFiles(dir.file("cd"), "--files 2 --no-iso");
    int blocks = 0;
    EXPECT_EQ(std::pair(CTest_CDROM::DetermineNumFiles(dir.file("cd").c_str(), blocks), blocks), std::pair(2, 320));
    for (auto [size, want] : { std::pair { 29999999, 320 }, { 30000000, 1280 } }) {
        fs::resize_file(dir.file("cd/KVX-Data-001.dat"), static_cast<std::uintmax_t>(size));
        CTest_CDROM::DetermineNumFiles(dir.file("cd").c_str(), blocks);
        EXPECT_EQ(blocks, want) << size;
    }
}

TEST_F(Cdrom, ReferenceFilesWithBadBlocksShortFilesAndOneFile)
{
    makeFiles(dir.file("disc"), "--files 3 --no-iso");
    {
        // File 2, block 7 (pattern 2): three bytes changed.
        std::fstream f(dir.file("disc/KVX-Data-002.dat"), std::ios::in | std::ios::out | std::ios::binary);
        for (auto [at, byte] : { std::pair { 7 * kRefBlockSize + 10, '\x12' }, { 7 * kRefBlockSize + 900, '\x34' },
                 { 8 * kRefBlockSize - 1, '\x99' } })
            f.seekp(at), f.put(byte);
    }
    fs::resize_file(dir.file("disc/KVX-Data-003.dat"), 5 * kRefBlockSize + 100);
    testconfig.duty_cycle[kSlotCdFirst] = 99;
    engine(0, dir.file("disc"))->TestCDTest(0, true, 0);
    EXPECT_EQ(counts(0), std::tuple(1u, 2u, 84u));
    const std::string log = events();
    EXPECT_EQ(count(log, ", CD/DVD, /media/cd0: CD error 99\n"), 1) << log;
    EXPECT_EQ(count(log, "KVX-Data-002.dat, Block Offset: 229376, Errors: 3, Read: 99, Expected: 55\n"), 1) << log;
    EXPECT_EQ(count(log, "KVX-Data-003.dat, Block Size: 32768, Offset: 163840, Bytes read: 100, ErrorCode: 0\n"), 1)
        << log;

    // One file with seeking on: every seek lands in that file.
    fs::remove(dir.file("disc/KVX-Data-002.dat"));
    std::memset(&resultfile, 0, sizeof resultfile);
    engine(0, dir.file("disc"))->TestCDTest(0, true, 0x8005);
    const std::uint64_t bytes = (320u + 5) * kRefBlockSize; // the file read through, then 5 one-block seeks
    EXPECT_EQ(std::tuple(counts(0), live(0).Totalfiles.load(), live(0).currentFile(), live(0).op_count_read.load(),
                  resultfile.results[kSlotCdFirst].op_count),
        std::tuple(std::tuple(1u, 0u, 0u), 6, std::string("KVX-Data-001.dat"), bytes, bytes));

    // No reference files: 100 every 3 s until stopped.
    std::memset(&resultfile, 0, sizeof resultfile);
    stopWhen = [this](int ms) { return ms == 3000 && paused(3000) == 2; };
    engine(0, dir.file("empty"))->TestCDTest(0, false, 0);
    EXPECT_EQ(counts(0), std::tuple(0u, 2u, 100u));
}

TEST_F(Cdrom, DataDiscTreeOrderCapAndUnreadableFiles)
{
    const std::string root = dir.file("disc");
    for (auto [path, content] :
        { std::pair<std::string, std::string> { "b.txt", "\xFF\xFF\xFF" }, { "a/z.txt", std::string(4096, '\x02') },
            { "a/c/d.txt", std::string(10000, '\xC8') }, { "f.txt", "\x01" }, { "e/", "" } }) {
        fs::create_directories(fs::path(root + "/" + path).parent_path());
        if (path.back() != '/')
            WriteFile(root + "/" + path, content);
    }
    fs::create_directory_symlink("../..", root + "/a/c/up"); // a loop, not followed
    auto e = engine(0, root);
    std::vector<int> table(CTest_CDROM::kMaxChecksums, -7);
    ASSERT_EQ(e->ReadFiles(root.c_str(), table.data(), 0, 0), 0);
    EXPECT_EQ(std::vector<int>(table.begin(), table.begin() + 5), (std::vector<int> { 2000000, 8192, 765, 1, -7 }));
    // A sum cut short by a stop is no checksum.
    pr.run.setSlotActive(kSlotCdFirst, false);
    EXPECT_EQ(e->CheckSumFile((root + "/f.txt").c_str(), 0), -1);
    pr.run.setSlotActive(kSlotCdFirst, true);

    // A file that cannot be opened and one that cannot be read.
    fs::create_symlink("/proc/sys/vm/drop_caches", root + "/g-unopenable");
    fs::create_symlink("/proc/self/mem", root + "/h-unreadable");
    live(0).iChkSum = 0;
    ASSERT_EQ(e->ReadFiles(root.c_str(), table.data(), 0, 0), 0);
    EXPECT_EQ(std::vector<int>(table.begin() + 4, table.begin() + 7), (std::vector<int> { -1, -1, -7 }));
    EXPECT_EQ(counts(0), std::tuple(0u, 2u, 84u));
    const std::string log = events();
    EXPECT_EQ(count(log, ", CD/DVD, Error opening file " + root + "/g-unopenable\n"), 1) << log;
    EXPECT_EQ(
        count(log, "File: " + root + "/h-unreadable, Block Size: 4096, Offset: 0, Bytes read: -1, ErrorCode: 5"), 1)
        << log;
}

TEST_F(Cdrom, DataDiscPassesCompareChecksums)
{
    const std::string root = dir.file("disc");
    fs::create_directories(root + "/a");
    WriteFile(root + "/a/one.txt", "12345");
    WriteFile(root + "/z.txt", "abc");
    testconfig.duty_cycle[kSlotCdFirst] = 50; // 100 ms after each entry
    const int slot = kSlotCdFirst + 1;

    // Unchanged, then z.txt changed during the verifying pass.
    for (bool change : { false, true }) {
        std::memset(&resultfile, 0, sizeof resultfile);
        stopWhen = [&](int) {
            if (change && live(1).phase == CTest_CDROM::kPhaseVerifying)
                WriteFile(root + "/z.txt", "abd");
            return resultfile.results[slot].cycles >= 1;
        };
        engine(1, root)->DataCDTest(1);
        EXPECT_EQ(counts(1), std::tuple(1u, change ? 1u : 0u, change ? 82u : 0u)) << change;
    }
    EXPECT_EQ(count(events(), ", CD/DVD, /media/cd1: CD error 82\n"), 1) << events();

    // A configured drive that was not detected: 95 every 5 s.
    std::memset(&resultfile, 0, sizeof resultfile);
    auto e = engine(1, root);
    gNumMMDevices = 1;
    stopWhen = [](int ms) { return ms == 5000; };
    e->DataCDTest(1);
    EXPECT_EQ(counts(1), std::tuple(0u, 1u, 95u));

    // An empty drive pauses between its (empty) cycles.
    std::memset(&resultfile, 0, sizeof resultfile);
    fs::create_directory(dir.file("empty"));
    e = engine(1, dir.file("empty"));
    pauses.clear();
    stopWhen = [this](int) { return pauses.size() == 2; };
    std::thread t([&] { e->DataCDTest(1); });
    for (int i = 0; i < 300 && pr.run.slotActive(slot); ++i)
        std::this_thread::sleep_for(10ms);
    const bool spun = pr.run.slotActive(slot);
    pr.run.setSlotActive(slot, false);
    t.join();
    EXPECT_FALSE(spun) << "counted " << resultfile.results[slot].cycles << " cycles without a pause";
    EXPECT_EQ(std::pair(pauses, counts(1)), std::pair(std::vector<int> { 5000, 5000 }, std::tuple(2u, 0u, 0u)));
}

// Audio discs against the scripted drive.
class CdAudio : public Cdrom {
protected:
    void SetUp() override
    {
        Cdrom::SetUp();
        // 3:20:17, 2:00:00 and 0:59:74.
        script->trackFrames = { 3 * 4500 + 20 * 75 + 17, 2 * 4500, 59 * 75 + 74 };
        testconfig.duty_cycle[kSlotCdFirst] = 90; // 5 s after each track
        // Stop at the first idle pause, or when the second pass begins.
        stopWhen = [](int ms) { return ms == 10000; };
        script->onCall = [this](const std::string& call) {
            if (call == "tocentry 1" && count(joined(), "play ") == 3) {
                cyclesAtSecondPass = resultfile.results[kSlotCdFirst + 2].cycles;
                pr.run.setSlotActive(kSlotCdFirst + 2, false);
            }
        };
    }
    std::string joined()
    {
        std::string all;
        for (const auto& c : script->calls)
            all += c + "\n";
        return all;
    }
    void play() { engine(2, "", "/dev/scripted")->AudioCDTest(2); }
    int cyclesAtSecondPass = -1;
};

TEST_F(CdAudio, ThreeTracksPlayedThenOneCycleVolumesRestored)
{
    play();
    // Volume down, the three tracks played and polled, then stopped and the volume back.
    EXPECT_EQ(joined(), GoldenFile(KVX_SOURCE_DIR "/tests/data/cd_audio_calls.txt", joined()));
    EXPECT_EQ(std::pair(cyclesAtSecondPass, counts(2)), std::pair(1, std::tuple(1u, 0u, 0u)));
    EXPECT_EQ(pauses, (std::vector<int> { 3000, 2000, 2000, 5000, 2000, 2000, 5000, 2000, 2000, 5000 }));
}

TEST_F(CdAudio, DataDiscsAndFailingCallsAreReportedOnce)
{
    const struct {
        int status = kCdsAudio;
        const char* failing = "";
        std::vector<int> dataTracks = {};
        int code = 0, cycles = 0;
        const char* said = "";
    } cases[] = {
        { kCdsData1, "", {}, 47, 0, "(/dev/scripted): Data disc type" },
        { kCdsNoDisc, "", {}, 47, 0, "No media detected" },
        { kCdsAudio, "status", {}, 45, 0, "ioctl[CDROM_DISC_STATUS] : Input/output error" },
        { kCdsAudio, "tochdr", {}, 43, 0, "ioctl[CDROMREADTOCHDR] error: Input/output error" },
        { kCdsAudio, "start", {}, 18, 0, "ioctl[CDROMSTART] error: Input/output error" },
        { kCdsAudio, "tocentry", {}, 45, 1, "ioctl[CDROMREADTOCENTRY] error" },
        { kCdsAudio, "play", {}, 44, 1, "Length of current track (Track #1)" },
        { kCdsAudio, "subchnl", {}, 45, 1, "Stop playback of track: 1" },
        { kCdsAudio, "", { 1 }, 46, 1, "totaltracks: 3" },
        { kCdsAudio, "open", {}, 208, 1, "(/dev/scripted): open error: Input/output error" },
        { kCdsAudio, "volread", {}, 0, 1, "ioctl[CDROMVOLREAD] error" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        TearDown(), SetUp();
        script->status = c.status;
        script->failing = c.failing;
        script->dataTracks = c.dataTracks;
        stopWhen = [this](int ms) { return ms == 10000 && paused(10000) == 3; };
        play();
        // Play failures count each pass; an unopenable drive is one outage; the others idle.
        const unsigned errors = c.code == 0 ? 0u : (c.cycles && c.code != 208 ? 3u : 1u);
        EXPECT_EQ(counts(2),
            std::tuple(
                c.cycles && c.code ? 3u : static_cast<unsigned>(c.cycles), errors, static_cast<unsigned>(c.code)));
        // Said once; a failing play is said again on each pass.
        const int said = count(trace(), c.said);
        EXPECT_TRUE(c.cycles ? said >= 1 : said == 1) << said << "\n" << trace();
        EXPECT_EQ(count(events(), ", CD/DVD, /media/cd2: CD error " + std::to_string(c.code) + "\n"),
            static_cast<int>(errors));
        EXPECT_EQ(std::tuple(script->volume.channel[0], script->volume.channel[1]), std::tuple(255, 255));
        // The drive is stopped and closed whenever it was opened.
        const std::string calls = joined();
        const bool opened = c.failing != std::string("open");
        EXPECT_EQ(std::pair(calls.find("\nstop\n") != std::string::npos, calls.ends_with("close\n")),
            std::pair(opened, opened))
            << calls;
    }
}

TEST_F(Cdrom, NoDiscModeOpensTheDeviceEveryTenSecondsAndReportsAnOutageOnce)
{
    pr.ctx.platform.cdDrive = [] { return MakeLinuxCdDrive(); }; // opens real files
    // Missing, missing, back, missing: two outages.
    stopWhen = [&](int) {
        if (paused(10000) == 2)
            WriteFile(dir.file("sr0"), "");
        else
            fs::remove(dir.file("sr0"));
        return paused(10000) == 4;
    };
    engine(4, "", dir.file("sr0"))->NoCDTest(4);
    EXPECT_EQ(pauses, std::vector<int>(4, 10000));
    EXPECT_EQ(std::tuple(counts(4), live(4).op_count_read.load(), resultfile.results[kSlotCdFirst + 4].op_count),
        std::tuple(std::tuple(3u, 2u, 208u), std::uint64_t { 3 }, std::uint64_t { 1 }));
    EXPECT_EQ(count(events(), ", CD/DVD, /media/cd4: CD error 208\n"), 2) << events();
}

TEST_F(Cdrom, ThreadEntryRunsTheConfiguredMode)
{
    // Burn CD-RW does nothing and ends by itself.
    testconfig.cd_test_mode[2] = CTest_CDROM::kModeBurn;
    runThread(kSlotCdFirst + 2, 2, pr.ctx);
    EXPECT_EQ(pauses, std::vector<int> { 1000 });
    EXPECT_EQ(count(trace(), ", CD/DVD, Starting test: Burn CD-RW \n"), 1) << trace();
}

} // namespace
