#include "CdDrive.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

static_assert(kCdsAudio == CDS_AUDIO && kCdsData1 == CDS_DATA_1 && kCdsXa22 == CDS_XA_2_2 && kCdsNoDisc == CDS_NO_DISC);
static_assert(kCdAudioPlay == CDROM_AUDIO_PLAY && kCdAudioCompleted == CDROM_AUDIO_COMPLETED);
static_assert(kCdLeadOut == CDROM_LEADOUT && kCdDataTrackFlag == CDROM_DATA_TRACK);

CdMsf fromKernel(const cdrom_msf0& a)
{
    return CdMsf { a.minute, a.second, a.frame };
}

class LinuxCdDrive final : public CdDrive {
public:
    ~LinuxCdDrive() override { close(); }

    int open(const char* path) override
    {
        close();
        m_fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        return m_fd >= 0 ? m_fd : -errno;
    }

    void close() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    int discStatus(int* status) override
    {
        // CDROM_DISC_STATUS answers in its return value.
        const int rc = ::ioctl(m_fd, CDROM_DISC_STATUS, CDSL_CURRENT);
        if (rc < 0)
            return errno;
        *status = rc;
        return 0;
    }

    int readTocHeader(int* firstTrack, int* lastTrack) override
    {
        cdrom_tochdr h {};
        if (::ioctl(m_fd, CDROMREADTOCHDR, &h) < 0)
            return errno;
        *firstTrack = h.cdth_trk0;
        *lastTrack = h.cdth_trk1;
        return 0;
    }

    int readTocEntry(int track, CdTocEntry* entry) override
    {
        cdrom_tocentry e {};
        e.cdte_track = static_cast<__u8>(track);
        e.cdte_format = CDROM_MSF;
        if (::ioctl(m_fd, CDROMREADTOCENTRY, &e) < 0)
            return errno;
        entry->track = e.cdte_track;
        entry->control = e.cdte_ctrl;
        entry->address = fromKernel(e.cdte_addr.msf);
        return 0;
    }

    int start() override { return ::ioctl(m_fd, CDROMSTART) < 0 ? errno : 0; }
    int stop() override { return ::ioctl(m_fd, CDROMSTOP) < 0 ? errno : 0; }

    int playMsf(const CdMsf& from, const CdMsf& to) override
    {
        cdrom_msf m {};
        m.cdmsf_min0 = static_cast<__u8>(from.minute);
        m.cdmsf_sec0 = static_cast<__u8>(from.second);
        m.cdmsf_frame0 = static_cast<__u8>(from.frame);
        m.cdmsf_min1 = static_cast<__u8>(to.minute);
        m.cdmsf_sec1 = static_cast<__u8>(to.second);
        m.cdmsf_frame1 = static_cast<__u8>(to.frame);
        return ::ioctl(m_fd, CDROMPLAYMSF, &m) < 0 ? errno : 0;
    }

    int readSubChannel(CdSubChannel* sc) override
    {
        cdrom_subchnl s {};
        s.cdsc_format = CDROM_MSF;
        if (::ioctl(m_fd, CDROMSUBCHNL, &s) < 0)
            return errno;
        sc->audioStatus = s.cdsc_audiostatus;
        sc->track = s.cdsc_trk;
        sc->index = s.cdsc_ind;
        sc->absolute = fromKernel(s.cdsc_absaddr.msf);
        sc->relative = fromKernel(s.cdsc_reladdr.msf);
        return 0;
    }

    int readVolume(CdVolume* volume) override
    {
        cdrom_volctrl v {};
        if (::ioctl(m_fd, CDROMVOLREAD, &v) < 0)
            return errno;
        volume->channel[0] = v.channel0;
        volume->channel[1] = v.channel1;
        volume->channel[2] = v.channel2;
        volume->channel[3] = v.channel3;
        return 0;
    }

    int setVolume(const CdVolume& volume) override
    {
        cdrom_volctrl v {};
        v.channel0 = volume.channel[0];
        v.channel1 = volume.channel[1];
        v.channel2 = volume.channel[2];
        v.channel3 = volume.channel[3];
        return ::ioctl(m_fd, CDROMVOLCTRL, &v) < 0 ? errno : 0;
    }

private:
    int m_fd = -1;
};

} // namespace

std::unique_ptr<CdDrive> MakeLinuxCdDrive()
{
    return std::make_unique<LinuxCdDrive>();
}
