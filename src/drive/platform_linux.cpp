// Linux CD-ROM drives, through the audio requests of <linux/cdrom.h>.
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>  // CDSL_CURRENT
#include <new>

#include "drive/drive.h"

struct linux_drive {
    int fd;
};

static int fd_of(void *drive)
{
    return static_cast<linux_drive *>(drive)->fd;
}

// Some drivers pass a drive's own failure back as a positive result with
// errno untouched; anything but 0 is a refusal.
static int request(void *drive, unsigned long req, unsigned long arg)
{
    int r = ioctl(fd_of(drive), req, arg);
    if (r == 0)
        return 0;
    if (r > 0)
        errno = EIO;
    return -1;
}

static int request(void *drive, unsigned long req, void *arg)
{
    return request(drive, req, reinterpret_cast<unsigned long>(arg));
}

// Without O_NONBLOCK every open would close an open tray.
static void *linux_open(const char *path)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    linux_drive *d = new (std::nothrow) linux_drive{fd};
    if (!d) {
        close(fd);
        errno = ENOMEM;
    }
    return d;
}

static void linux_close(void *drive)
{
    close(fd_of(drive));
    delete static_cast<linux_drive *>(drive);
}

// The header is asked for once a second while the drive is empty; a TOC
// request to an empty drive leaves a line in the kernel log each time, so
// the tray is asked about first.  Devices that cannot tell go on to the
// TOC request.
static int linux_toc_header(void *drive, drive_toc_header *hdr)
{
    int status = ioctl(fd_of(drive), CDROM_DRIVE_STATUS, CDSL_CURRENT);
    if (status == CDS_NO_DISC || status == CDS_TRAY_OPEN) {
        errno = ENOMEDIUM;
        return -1;
    }
    cdrom_tochdr h{};
    if (request(drive, CDROMREADTOCHDR, &h) < 0)
        return -1;
    hdr->first = h.cdth_trk0;
    hdr->last = h.cdth_trk1;
    return 0;
}

static int linux_toc_entry(void *drive, uint8_t track, drive_toc_entry *entry)
{
    cdrom_tocentry e{};
    e.cdte_track = track;
    e.cdte_format = CDROM_MSF;
    if (request(drive, CDROMREADTOCENTRY, &e) < 0)
        return -1;
    *entry = {};
    entry->addr_ctl = static_cast<uint8_t>(e.cdte_adr << 4 | e.cdte_ctrl);
    entry->track = track;
    entry->addr[1] = e.cdte_addr.msf.minute;
    entry->addr[2] = e.cdte_addr.msf.second;
    entry->addr[3] = e.cdte_addr.msf.frame;
    return 0;
}

// The kernel's audio status values are the CD_AS_* values.
static int linux_position(void *drive, drive_position *pos)
{
    cdrom_subchnl sc{};
    sc.cdsc_format = CDROM_MSF;
    if (request(drive, CDROMSUBCHNL, &sc) < 0)
        return -1;
    pos->audio_status = sc.cdsc_audiostatus;
    pos->track = sc.cdsc_trk;
    pos->absolute = {sc.cdsc_absaddr.msf.minute, sc.cdsc_absaddr.msf.second,
                     sc.cdsc_absaddr.msf.frame};
    return 0;
}

// A drive without an analog output refuses with EIO or EOPNOTSUPP; that
// is passed on like any other refusal.
static int linux_play_msf(void *drive, const msf_t *start, const msf_t *end)
{
    cdrom_msf m{};
    m.cdmsf_min0 = start->minute;
    m.cdmsf_sec0 = start->second;
    m.cdmsf_frame0 = start->frame;
    m.cdmsf_min1 = end->minute;
    m.cdmsf_sec1 = end->second;
    m.cdmsf_frame1 = end->frame;
    return request(drive, CDROMPLAYMSF, &m);
}

static int linux_pause(void *drive)
{
    return request(drive, CDROMPAUSE, 0UL);
}

static int linux_resume(void *drive)
{
    return request(drive, CDROMRESUME, 0UL);
}

static int linux_stop(void *drive)
{
    return request(drive, CDROMSTOP, 0UL);
}

static int linux_allow_removal(void *drive)
{
    return request(drive, CDROM_LOCKDOOR, 0UL);
}

static int linux_eject(void *drive)
{
    return request(drive, CDROMEJECT, 0UL);
}

static int linux_set_volume(void *drive, uint8_t left, uint8_t right)
{
    cdrom_volctrl v{};
    v.channel0 = left;
    v.channel1 = right;
    return request(drive, CDROMVOLCTRL, &v);
}

const drive_ops platform_drive_ops = {
    "linux",
    nullptr,
    linux_open,
    linux_close,
    linux_toc_header,
    linux_toc_entry,
    linux_position,
    linux_play_msf,
    linux_pause,
    linux_resume,
    linux_stop,
    linux_allow_removal,
    linux_eject,
    linux_set_volume,
    nullptr,
};

const char *const platform_default_paths[] = {"/dev/cdrom", "/dev/sr0", nullptr};
