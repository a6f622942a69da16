// An optical drive as the CD/DVD test uses it: one method per CD-ROM ioctl
// on the open device. Every call returns 0 or the errno of the failing call,
// so a test double can fail any step exactly as a drive does.
//
// Typical usage: open() the device, ask discStatus(), read the table of
// contents, start the drive, play a range and poll readSubChannel() until
// the play is over, stop, close(). The descriptor is closed by close() or by
// the destructor.
//
// Threadsafety: one drive object per test thread; none of it is shared.
#pragma once

#include <cstdint>
#include <memory>

// Minute, second and frame of a disc address (75 frames a second).
struct CdMsf {
    int minute = 0;
    int second = 0;
    int frame = 0;
};

constexpr int kCdFramesPerSecond = 75;
constexpr int kCdFramesPerMinute = 60 * kCdFramesPerSecond;

// Frames from the start of the disc.
constexpr int CdFrames(const CdMsf& a)
{
    return a.minute * kCdFramesPerMinute + a.second * kCdFramesPerSecond + a.frame;
}
constexpr CdMsf CdMsfOf(int frames)
{
    return CdMsf { frames / kCdFramesPerMinute, frames % kCdFramesPerMinute / kCdFramesPerSecond,
        frames % kCdFramesPerSecond };
}

// Track number that reads the lead-out entry of the table of contents.
constexpr int kCdLeadOut = 0xAA;
// Control flag of a data track in a table-of-contents entry.
constexpr int kCdDataTrackFlag = 0x04;

// What discStatus() reports (the kernel's CDS_* values).
enum CdDiscStatus : int {
    kCdsNoInfo = 0,
    kCdsNoDisc = 1,
    kCdsTrayOpen = 2,
    kCdsDriveNotReady = 3,
    kCdsDiscOk = 4,
    kCdsAudio = 100,
    kCdsData1 = 101,
    kCdsData2 = 102,
    kCdsXa21 = 103,
    kCdsXa22 = 104,
    kCdsMixed = 105,
};

// Audio state in a sub-channel report (the kernel's CDROM_AUDIO_* values).
enum CdAudioStatus : int {
    kCdAudioInvalid = 0x00,
    kCdAudioPlay = 0x11,
    kCdAudioPaused = 0x12,
    kCdAudioCompleted = 0x13,
    kCdAudioError = 0x14,
    kCdAudioNoStatus = 0x15,
};

struct CdTocEntry {
    int track = 0;
    int control = 0;
    CdMsf address;
};

struct CdSubChannel {
    int audioStatus = kCdAudioNoStatus;
    int track = 0;
    int index = 0;
    CdMsf absolute;
    CdMsf relative;
};

struct CdVolume {
    std::uint8_t channel[4] = {};
};

class CdDrive {
public:
    virtual ~CdDrive() = default;

    // Opens `path` read-only and non-blocking (a drive without a disc opens
    // too). Returns the descriptor, or -errno.
    virtual int open(const char* path) = 0;
    // Closes the device; harmless when it is not open.
    virtual void close() = 0;

    // The kind of disc in the drive, a CdDiscStatus.
    virtual int discStatus(int* status) = 0;
    // First and last track numbers.
    virtual int readTocHeader(int* firstTrack, int* lastTrack) = 0;
    // The entry of `track` (or kCdLeadOut), address in minutes/seconds/frames.
    virtual int readTocEntry(int track, CdTocEntry* entry) = 0;
    virtual int start() = 0;
    virtual int stop() = 0;
    // Plays audio from `from` up to `to`; the drive plays on by itself.
    virtual int playMsf(const CdMsf& from, const CdMsf& to) = 0;
    // The current audio state and position.
    virtual int readSubChannel(CdSubChannel* sc) = 0;
    virtual int readVolume(CdVolume* volume) = 0;
    virtual int setVolume(const CdVolume& volume) = 0;
};

// The real drive: Linux CD-ROM ioctls on the device descriptor.
std::unique_ptr<CdDrive> MakeLinuxCdDrive();
