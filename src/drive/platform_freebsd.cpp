// FreeBSD CD-ROM drives, through the audio requests of <sys/cdio.h>.

// drive.h comes before <sys/cdio.h>: the latter defines the CD_AS_* names
// as macros, which would spoil drive.h's enumerators of the same values.
#include "drive/drive.h"

#include <sys/types.h>
#include <sys/cdio.h>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>

struct freebsd_drive {
    int fd;
};

static int fd_of(void *drive)
{
    return static_cast<freebsd_drive *>(drive)->fd;
}

// Anything but 0 is a refusal, even a positive result that left errno alone.
static int request(void *drive, unsigned long req, void *arg)
{
    int r = ioctl(fd_of(drive), req, arg);
    if (r == 0)
        return 0;
    if (r > 0)
        errno = EIO;
    return -1;
}

static void *freebsd_open(const char *path)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return nullptr;
    freebsd_drive *d = new (std::nothrow) freebsd_drive{fd};
    if (!d) {
        close(fd);
        errno = ENOMEM;
    }
    return d;
}

static void freebsd_close(void *drive)
{
    close(fd_of(drive));
    delete static_cast<freebsd_drive *>(drive);
}

static int freebsd_toc_header(void *drive, drive_toc_header *hdr)
{
    struct ioc_toc_header h = {};
    if (request(drive, CDIOREADTOCHEADER, &h) < 0)
        return -1;
    hdr->first = h.starting_track;
    hdr->last = h.ending_track;
    return 0;
}

static int freebsd_toc_entry(void *drive, uint8_t track, drive_toc_entry *entry)
{
    struct cd_toc_entry e = {};
    struct ioc_read_toc_entry rt = {};
    rt.address_format = CD_MSF_FORMAT;
    rt.starting_track = track;
    rt.data_len = sizeof e;  // one entry, 8 bytes
    rt.data = &e;
    if (request(drive, CDIOREADTOCENTRYS, &rt) < 0)
        return -1;
    *entry = {};
    entry->addr_ctl = static_cast<uint8_t>(e.addr_type << 4 | e.control);
    entry->track = e.track;
    entry->addr[1] = e.addr.msf.minute;
    entry->addr[2] = e.addr.msf.second;
    entry->addr[3] = e.addr.msf.frame;
    return 0;
}

// The 4-byte header and the 12-byte current-position block: 16 bytes.
static int freebsd_position(void *drive, drive_position *pos)
{
    struct cd_sub_channel_info info = {};
    struct ioc_read_subchannel rs = {};
    rs.address_format = CD_MSF_FORMAT;
    rs.data_format = CD_CURRENT_POSITION;
    rs.track = 0;
    rs.data_len = 16;
    rs.data = &info;
    if (request(drive, CDIOCREADSUBCHANNEL, &rs) < 0)
        return -1;
    pos->audio_status = info.header.audio_status;
    pos->track = info.what.position.track_number;
    pos->absolute = {info.what.position.absaddr.msf.minute,
                     info.what.position.absaddr.msf.second,
                     info.what.position.absaddr.msf.frame};
    return 0;
}

static int freebsd_play_msf(void *drive, const msf_t *start, const msf_t *end)
{
    struct ioc_play_msf m = {};
    m.start_m = start->minute;
    m.start_s = start->second;
    m.start_f = start->frame;
    m.end_m = end->minute;
    m.end_s = end->second;
    m.end_f = end->frame;
    return request(drive, CDIOCPLAYMSF, &m);
}

static int freebsd_pause(void *drive)
{
    return request(drive, CDIOCPAUSE, nullptr);
}

static int freebsd_resume(void *drive)
{
    return request(drive, CDIOCRESUME, nullptr);
}

static int freebsd_stop(void *drive)
{
    return request(drive, CDIOCSTOP, nullptr);
}

static int freebsd_allow_removal(void *drive)
{
    return request(drive, CDIOCALLOW, nullptr);
}

static int freebsd_eject(void *drive)
{
    return request(drive, CDIOCEJECT, nullptr);
}

static int freebsd_set_volume(void *drive, uint8_t left, uint8_t right)
{
    struct ioc_vol v = {};
    v.vol[0] = left;
    v.vol[1] = right;
    return request(drive, CDIOCSETVOL, &v);
}

const drive_ops platform_drive_ops = {
    "freebsd",
    nullptr,
    freebsd_open,
    freebsd_close,
    freebsd_toc_header,
    freebsd_toc_entry,
    freebsd_position,
    freebsd_play_msf,
    freebsd_pause,
    freebsd_resume,
    freebsd_stop,
    freebsd_allow_removal,
    freebsd_eject,
    freebsd_set_volume,
    nullptr,
};

const char *const platform_default_paths[] = {"/dev/cd0c", "/dev/mcd0c", nullptr};
