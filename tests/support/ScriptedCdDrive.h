// A drive that follows a script instead of hardware: an audio disc with
// tracks of given lengths, a data disc, no disc, or a call that fails. The
// script is shared with the test, which reads the recorded calls and the
// volume after the engine is gone. Engines run on the test's thread here.
#pragma once

#include "CdDrive.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct CdScript {
    int status = kCdsAudio;
    std::vector<int> trackFrames; // lengths; audio starts after a 2 s lead-in
    std::vector<int> dataTracks; // tracks with the data flag
    std::string failing; // the call (as recorded, up to a space) that fails with EIO
    CdVolume volume { { 255, 255, 0, 0 } };
    std::function<void(const std::string& call)> onCall; // sees each call just after it
    // Every call made: "open", "close", "status", "tochdr", "tocentry N",
    // "start", "stop", "play M:S:F-M:S:F", "subchnl", "volread", "volset A,B,C,D".
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
