#include "ScriptedCdDrive.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

std::string msfText(const CdMsf& a)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%d:%d", a.minute, a.second, a.frame);
    return buf;
}

// A descriptor number that looks real; nothing is opened.
constexpr int kFakeFd = 42;

} // namespace

std::vector<std::string> CdScript::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

CdVolume CdScript::currentVolume() const
{
    std::lock_guard lock(m_mutex);
    return volume;
}

int CdScript::record(unsigned call, const std::string& text)
{
    int rc = 0;
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(text);
        rc = (failing & call) ? failErrno : 0;
        hook = onCall;
    }
    if (hook)
        hook(text);
    return rc;
}

ScriptedCdDrive::ScriptedCdDrive(std::shared_ptr<CdScript> script)
    : m_script(std::move(script))
{
}

int ScriptedCdDrive::open(const char* /*path*/)
{
    if (const int rc = m_script->record(CdScript::kOpen, "open"))
        return -rc;
    m_open = true;
    return kFakeFd;
}

void ScriptedCdDrive::close()
{
    if (!m_open)
        return;
    m_open = false;
    m_script->record(0, "close");
}

int ScriptedCdDrive::discStatus(int* status)
{
    if (const int rc = m_script->record(CdScript::kDiscStatus, "status"))
        return rc;
    std::lock_guard lock(m_script->m_mutex);
    *status = m_script->status;
    return 0;
}

int ScriptedCdDrive::readTocHeader(int* firstTrack, int* lastTrack)
{
    if (const int rc = m_script->record(CdScript::kTocHeader, "tochdr"))
        return rc;
    std::lock_guard lock(m_script->m_mutex);
    if (m_script->trackFrames.empty())
        return EIO; // no table of contents without tracks
    *firstTrack = 1;
    *lastTrack = static_cast<int>(m_script->trackFrames.size());
    return 0;
}

int ScriptedCdDrive::readTocEntry(int track, CdTocEntry* entry)
{
    if (const int rc = m_script->record(CdScript::kTocEntry, "tocentry " + std::to_string(track)))
        return rc;
    std::lock_guard lock(m_script->m_mutex);
    const auto& lengths = m_script->trackFrames;
    const int count = static_cast<int>(lengths.size());
    const int index = track == kCdLeadOut ? count : track - 1;
    if (index < 0 || index > count)
        return EINVAL;
    int frame = CdScript::kFirstTrackFrame;
    for (int i = 0; i < index; ++i)
        frame += lengths[static_cast<std::size_t>(i)];
    entry->track = track;
    const auto& data = m_script->dataTracks;
    entry->control = std::find(data.begin(), data.end(), track) != data.end() ? kCdDataTrackFlag : 0;
    entry->address = CdMsfOf(frame);
    return 0;
}

int ScriptedCdDrive::start()
{
    return m_script->record(CdScript::kStart, "start");
}

int ScriptedCdDrive::stop()
{
    const int rc = m_script->record(CdScript::kStop, "stop");
    std::lock_guard lock(m_script->m_mutex);
    m_script->m_pollsLeft = 0;
    return rc;
}

int ScriptedCdDrive::playMsf(const CdMsf& from, const CdMsf& to)
{
    if (const int rc = m_script->record(CdScript::kPlay, "play " + msfText(from) + "-" + msfText(to)))
        return rc;
    std::lock_guard lock(m_script->m_mutex);
    m_script->m_pollsLeft = m_script->pollsPerPlay;
    // The track whose start is `from`.
    int frame = CdScript::kFirstTrackFrame;
    int track = 1;
    for (int len : m_script->trackFrames) {
        if (frame >= CdFrames(from))
            break;
        frame += len;
        ++track;
    }
    m_script->m_playingTrack = track;
    return 0;
}

int ScriptedCdDrive::readSubChannel(CdSubChannel* sc)
{
    if (const int rc = m_script->record(CdScript::kSubChannel, "subchnl"))
        return rc;
    std::lock_guard lock(m_script->m_mutex);
    sc->track = m_script->m_playingTrack;
    if (m_script->m_pollsLeft > 0) {
        --m_script->m_pollsLeft;
        sc->audioStatus = kCdAudioPlay;
    } else {
        sc->audioStatus = kCdAudioCompleted;
    }
    return 0;
}

int ScriptedCdDrive::readVolume(CdVolume* volume)
{
    if (const int rc = m_script->record(CdScript::kVolumeRead, "volread"))
        return rc;
    std::lock_guard lock(m_script->m_mutex);
    *volume = m_script->volume;
    return 0;
}

int ScriptedCdDrive::setVolume(const CdVolume& volume)
{
    char text[48];
    std::snprintf(text, sizeof text, "volset %d,%d,%d,%d", volume.channel[0], volume.channel[1], volume.channel[2],
        volume.channel[3]);
    if (const int rc = m_script->record(CdScript::kVolumeSet, text))
        return rc;
    std::lock_guard lock(m_script->m_mutex);
    m_script->volume = volume;
    return 0;
}
