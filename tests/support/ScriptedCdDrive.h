// A drive that follows a script instead of hardware: an audio disc with
// tracks of given lengths, a data disc, no disc, or calls that fail. Tests
// of the CD/DVD engine use it where the machine has no optical drive.
//
// The script is shared between the test and the drive the engine owns, so
// the test reads the recorded calls and the volume after the engine is gone.
//
// Threadsafety: the drive and the test may touch the script from different
// threads; every member function locks it. onCall runs unlocked.
#pragma once

#include "CdDrive.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CdScript {
public:
    enum Call : unsigned {
        kOpen = 1u << 0,
        kDiscStatus = 1u << 1,
        kTocHeader = 1u << 2,
        kTocEntry = 1u << 3,
        kStart = 1u << 4,
        kStop = 1u << 5,
        kPlay = 1u << 6,
        kSubChannel = 1u << 7,
        kVolumeRead = 1u << 8,
        kVolumeSet = 1u << 9,
    };
    // Audio tracks start after the two-second lead-in of every CD.
    static constexpr int kFirstTrackFrame = 2 * kCdFramesPerSecond;

    // The disc: a CdDiscStatus and, for an audio disc, the track lengths in
    // frames; tracks listed in dataTracks carry the data flag.
    int status = kCdsAudio;
    std::vector<int> trackFrames;
    std::vector<int> dataTracks;
    // Calls (Call bits) that fail with failErrno.
    unsigned failing = 0;
    int failErrno = 5; // EIO
    // Sub-channel reads that report a play in progress after each playMsf.
    int pollsPerPlay = 2;
    CdVolume volume { { 255, 255, 0, 0 } };
    // Sees every call's record (below) just after it is made.
    std::function<void(const std::string& call)> onCall;

    // Every call made, in order: "open", "close", "status", "tochdr",
    // "tocentry N", "start", "stop", "play M:S:F-M:S:F", "subchnl",
    // "volread", "volset A,B,C,D".
    std::vector<std::string> calls() const;
    // The volume as the drive holds it now.
    CdVolume currentVolume() const;

private:
    friend class ScriptedCdDrive;
    int record(unsigned call, const std::string& text);
    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    int m_pollsLeft = 0;
    int m_playingTrack = 0;
};

class ScriptedCdDrive final : public CdDrive {
public:
    explicit ScriptedCdDrive(std::shared_ptr<CdScript> script);

    int open(const char* path) override;
    void close() override;
    int discStatus(int* status) override;
    int readTocHeader(int* firstTrack, int* lastTrack) override;
    int readTocEntry(int track, CdTocEntry* entry) override;
    int start() override;
    int stop() override;
    int playMsf(const CdMsf& from, const CdMsf& to) override;
    int readSubChannel(CdSubChannel* sc) override;
    int readVolume(CdVolume* volume) override;
    int setVolume(const CdVolume& volume) override;

private:
    std::shared_ptr<CdScript> m_script;
    bool m_open = false;
};
