// The CD/DVD test (slots 33..52, drive n on slot 33 + n): each selected
// drive runs one mode in a thread of its own: audio CD playback through the
// drive, a data disc read twice with per-file checksums compared, the
// reference test disc read back against its block patterns (with optional
// random seeks), or the check that a drive without a disc still opens.
//
// Typical usage:
//   1. The run controller starts Test_Thread_CDROM (ChildProc of slots
//      33..52) with instance n; it creates a CTest_CDROM(n, 33 + n).
//   2. test_entry(n) marks the slot active and runs th_test_cdrom(n): a
//      start pause, "Starting test: <mode>", the mode of cd_test_mode[n]
//      until the slot is stopped, "Stopping test".
//   3. The GUI thread reads the drive's CdDvdLive for its live window and
//      asks for a stop by clearing thread_active[33 + n]; every mode checks
//      it between operations and inside its pauses (200 ms slices).
//
// Threadsafety: each drive's thread writes only its own CdDvdLive; the GUI
// thread reads any at any time (atomics, and a lock for the current file's
// name). The drive object belongs to the engine's thread.
#pragma once

#include "RunContext.h"

#include "CTest_Base.h"
#include "LiveStatus.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/time.h>

class CdDrive;
struct dirent;

// Every error the CD/DVD test raises.
enum CdDvdError : int {
    kCdErrorNoMemory = 11,
    kCdErrorSpinUp = 18,
    kCdErrorTocHeader = 43,
    kCdErrorPlay = 44,
    kCdErrorDriveCall = 45, // disc status, TOC entry or sub-channel
    kCdErrorDataTrack = 46,
    kCdErrorNoAudioDisc = 47,
    kCdErrorChecksum = 82,
    kCdErrorOpenFile = 83,
    kCdErrorReadFile = 84,
    kCdErrorNoSuchDrive = 95,
    kCdErrorBlockCompare = 99,
    kCdErrorNoRefFiles = 100,
    kCdErrorSeek = 162,
    kCdErrorNoDrive = 208,
};

// One drive's live values, written by its engine, read by its window.
struct CdDvdLive : LiveStatus {
    static constexpr int kCurrentFileSize = 260;

    std::atomic<std::int32_t> phase { 0 };
    std::atomic<std::int32_t> progress_CD { 0 }; // percent of the file or seek run
    std::atomic<std::uint64_t> op_count_read { 0 }; // bytes read; audio: see the audio mode
    std::atomic<std::uint64_t> op_count_write { 0 }; // always 0
    std::atomic<std::int32_t> CurrentBlock { 0 }; // block of the last random seek
    std::atomic<std::int32_t> Totalfiles { 0 }; // files opened
    std::atomic<std::int32_t> iChkSum { 0 }; // next checksum of the data mode
    std::atomic<std::int32_t> totaltracks { 0 };
    std::atomic<std::int32_t> track_num { 0 };

    // The name of the file being read ("Searching for files" before the
    // first). Any thread.
    std::string currentFile() const;
    void setCurrentFile(const char* name);
    // When the drive's test started. Any thread.
    timeval updateStartTime() const;
    void setUpdateStartTime(const timeval& t);
    // Back to the values of a drive that has not started.
    void clear();

private:
    mutable std::mutex m_textMutex;
    char m_currentFile[kCurrentFileSize] = {};
    timeval m_updateStartTime {};
};

// What a run may change of the CD/DVD test.
struct CdDvdSettings {
    // Sees every pause the engine asks for (its unit and length in ms) and
    // returns the length to sleep instead; empty: real pauses.
    std::function<int(int unit, int ms)> pause;
};

// Every code in CdDvdError, for the engine's descriptor.
inline constexpr int kCdDvdErrorCodes[] = { kCdErrorNoMemory, kCdErrorSpinUp, kCdErrorTocHeader, kCdErrorPlay,
    kCdErrorDriveCall, kCdErrorDataTrack, kCdErrorNoAudioDisc, kCdErrorChecksum, kCdErrorOpenFile, kCdErrorReadFile,
    kCdErrorNoSuchDrive, kCdErrorBlockCompare, kCdErrorNoRefFiles, kCdErrorSeek, kCdErrorNoDrive };

class CTest_CDROM : public CTest_Base {
public:
    static constexpr int kMaxDrives = 20;
    // Checksums one data pass keeps (and files it reads).
    static constexpr int kMaxChecksums = 10000;
    static constexpr int kChecksumBlock = 4096;

    enum Mode : int { kModeNoTest, kModeAudio, kModeData, kModeReference, kModeNoDisc, kModeBurn, kNumModes };
    enum Phase : int {
        kPhaseStarting,
        kPhaseChecksums,
        kPhaseVerifying,
        kPhaseReadingTestCd,
        kPhaseOpeningFile,
        kPhaseSearching,
        kPhaseDriveDetected,
        kPhaseNoDrive,
        kPhaseRandomSeeking,
        kNumPhases = 18,
    };

    // Mode names by cd_test_mode, and status texts by phase.
    static const char* const PatternText[kNumModes];
    static const char* const status_text[kNumPhases];

    // The drive comes from the context's platform. The first engine alive
    // clears every drive's live values, later ones only their own, so a
    // drive starting late cannot wipe another's counts. Test thread.
    CTest_CDROM(const RunContext& ctx, int unit, int testID);
    ~CTest_CDROM() override;

    // Marks the slot active and runs th_test_cdrom(unit). Test thread.
    void test_entry(int unit) override;
    // The start pause and log, the configured mode, the stop log.
    void th_test_cdrom(int unit);

    // The modes; each returns when the slot is stopped.
    void AudioCDTest(int unit);
    void DataCDTest(int unit);
    // With `oneCycle` the mode returns after one pass over the files. `seek`
    // replaces the configured cd_seek value when not 0.
    void TestCDTest(int unit, bool oneCycle, int seek);
    void NoCDTest(int unit);

    // Walks `directory` depth-first in alphabetical order and stores (verify
    // 0) or compares (verify 1) the checksum of each file at index
    // iChkSum of `checksums`, up to kMaxChecksums. `message`, when
    // given (CLogger::kLineSize bytes), receives the detail text of the last
    // checksum difference found, or stays as it was. Links to directories
    // are not followed. Returns 0, or 1 when the path buffer cannot be
    // allocated.
    int ReadFiles(const char* directory, int* checksums, int verify, int unit, char* message = nullptr);
    // The 32-bit byte sum of a file, or -1 when it cannot be opened or read
    // to the end (the test stopping half-way included).
    int CheckSumFile(const char* path, int unit);
    // The number of consecutive reference files from number 1 in
    // `directory`, and the blocks per file from the first file's size.
    static int DetermineNumFiles(const char* directory, int& blocksPerFile);
    // The number of bytes of a kRefBlockSize block that differ from
    // `pattern` (0..4), with the expected and read values of the last one.
    static int CheckBlock(const unsigned char* block, int pattern, unsigned char& expected, unsigned char& read);
    // Logs "<drive>: <text of code>" as a CD/DVD event with the code.
    static void AddStdCDErrorMsg(int code, const char* driveName);

private:
    void pause(int ms);
    void reportError(int code);
    void logLine(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Logs the detail of an error at `level` and copies it into `message`
    // (CLogger::kLineSize bytes) when that is given.
    void detailError(int level, char* message, const char* format, ...) __attribute__((format(printf, 4, 5)));
    bool unitOk(int unit) const { return unit >= 0 && unit < kMaxDrives; }
    int duty() const;
    // Reads the block at `offset` of an open reference file and checks it
    // against its pattern. Returns 1 after a short read, else 0.
    int readRefBlock(std::FILE* f, unsigned char* buffer, int unit, const char* path, long offset);
    void seekRun(int unit, const std::string& mountPoint, int files, int blocks, int seeks, unsigned char* buffer);

    int m_unit;
    CdDvdLive& m_live;
    std::unique_ptr<CdDrive> m_drive;
    char m_driveName[256];
    std::string m_device;
    std::string m_mountPoint;
};

// Thread entry of slots 33..52 (ChildProc); `arg` is the slot's
// TestThreadRecord, instance the drive number.
void* Test_Thread_CDROM(void* arg);

// scandir filter: every entry but "." and "..".
int file_select(const dirent* entry);
// The type of `path` by stat (links followed); a failing stat is written to
// standard error and gives false.
bool isDir(const char* path);
bool isFile(const char* path);
