// Drive access, the table of contents, and the requests that steer the
// drive's own audio playback.  Every request answers -1 at once while the
// drive is closed; a refused request is reported perror-style.
#include "disc/cdrom.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/app.h"
#include "disc/cdinfo.h"
#include "disc/disc_change.h"
#include "drive/drive.h"
#include "playback/playback.h"
#include "ui/ui.h"

// perror with a given errno, so that a report names the error that
// happened rather than one left by a later call.
std::vector<bool> data_tracks;

bool track_is_data(int t)
{
    return track_on_disc(t) && static_cast<size_t>(t - CDI.min) < data_tracks.size() &&
           data_tracks[t - CDI.min];
}

static void report(const char *prefix, int err)
{
    errno = err;
    perror(prefix);
}

// Open the device: the "device" resource, or the platform's paths in turn.
static int open_device()
{
    drive_digital_settings digital;
    digital.digital = app_resources.digitalAudio;
    digital.paranoia = app_resources.paranoia;
    digital.deemphasis = app_resources.deemphasis;
    digital.speed = app_resources.cdSpeed;
    if (app_resources.audioDevice && *app_resources.audioDevice)
        digital.audio_device = app_resources.audioDevice;
    drive_set_digital(digital);

    if (app_resources.device) {
        int fd = drive_open(app_resources.device);
        if (fd < 0)
            perror(app_resources.device);
        return fd < 0 ? -1 : fd;
    }
    for (const char *const *p = platform_default_paths; *p; p++) {
        int fd = drive_open(*p);
        if (fd >= 0)
            return fd;
    }
    perror("open: ");
    return -1;
}

int cdrom_open()
{
    if (cdrom_fd != -1)
        return CDI.curtrack;

    int fd = open_device();
    if (fd < 0)
        return -1;
    cdrom_fd = fd;

    if (cdrom_read_toc() == -1) {
        cdrom_close();
        return -1;
    }
    // A drive that cannot say where it is stays open, unread: the next
    // call finds it open and goes on with the tables it has.
    if (cdrom_get_curtrack() == -1)
        return -1;

    cdinfo_read();
    disc_changed(disc_event::came);
    title_display_update();
    if (CDI.state & CDROM_SHUFFLE)
        shuffle_setup();
    return CDI.curtrack;
}

static void release_tables()
{
    CDI.times.clear();
    CDI.times.shrink_to_fit();
    CDI.addrs.clear();
    CDI.addrs.shrink_to_fit();
    data_tracks.clear();
}

void cdrom_close()
{
    if (cdrom_fd == -1)
        return;
    release_tables();
    drive_close(cdrom_fd);
    cdrom_fd = -1;
    info_read = false;
    disc_changed(disc_event::went);
}

static void make_tables(size_t ntracks)
{
    try {
        CDI.times.assign(ntracks, 0);
        CDI.addrs.assign(ntracks + 1, msf_t{0, 0, 0});
        data_tracks.assign(ntracks, false);
    } catch (const std::bad_alloc &) {
        report("calloc", ENOMEM);
        exit(1);
    }
}

int cdrom_read_toc()
{
    if (cdrom_fd == -1)
        return -1;
    info_read = false;

    drive_toc_header hdr{};
    if (drive_read_toc_header(cdrom_fd, &hdr) == -1) {
        perror("ioctl(cdromreadtochdr): ");
        return -1;
    }
    // Track numbers run from 1 to 99; anything else would size the tables
    // wrongly, so such a header counts as unreadable.
    if (hdr.first == 0 || hdr.last < hdr.first || hdr.last > 99) {
        report("ioctl(cdromreadtochdr): ", EINVAL);
        return -1;
    }
    CDI.min = hdr.first;
    CDI.max = hdr.last;

    release_tables();
    make_tables(CDI.max - CDI.min + 1);

    long prev = 0;
    for (int t = CDI.min; t <= CDI.max; t++) {
        drive_toc_entry entry{};
        if (cdrom_read_toc_entry(static_cast<uint8_t>(t), &entry, sizeof entry) == -1)
            return -1;
        msf_t &a = CDI.addrs[t - CDI.min];
        a = drive_entry_msf(entry);
        data_tracks[t - CDI.min] = entry.addr_ctl & 0x04;
        long s = msf_seconds(a);
        if (t > CDI.min)
            CDI.times[t - 1 - CDI.min] = static_cast<uint16_t>(s - prev);
        prev = s;
    }

    msf_t leadout{};
    uint64_t lead_seconds = 0;
    if (cdrom_toc_entry_msf(DRIVE_LEADOUT, &leadout, &lead_seconds) == -1)
        return -1;
    CDI.addrs[CDI.max - CDI.min + 1] = leadout;
    CDI.times[CDI.max - CDI.min] = static_cast<uint16_t>(static_cast<long>(lead_seconds) - prev);
    return 0;
}

// The drive layer hands out one entry per request, which is all any
// caller asks for.
int cdrom_read_toc_entry(uint8_t track, drive_toc_entry *buf, uint16_t len)
{
    if (cdrom_fd == -1)
        return -1;
    if (!buf || len < sizeof(drive_toc_entry)) {
        report("ioctl(cdromreadtocentry)", EINVAL);
        return -1;
    }
    if (drive_read_toc_entry(cdrom_fd, track, buf) == -1) {
        perror("ioctl(cdromreadtocentry)");
        return -1;
    }
    return 0;
}

int cdrom_toc_entry_msf(uint8_t track, msf_t *msf, uint64_t *seconds)
{
    drive_toc_entry entry{};
    if (cdrom_read_toc_entry(track, &entry, sizeof entry) == -1)
        return -1;
    *msf = drive_entry_msf(entry);
    *seconds = static_cast<uint64_t>(msf_seconds(*msf));
    return 0;
}

// A request that takes nothing and answers only success or failure.
static int simple_request(int (*request)(int), const char *prefix)
{
    if (cdrom_fd == -1)
        return -1;
    if (request(cdrom_fd) == -1) {
        perror(prefix);
        return -1;
    }
    return 0;
}

int cdrom_stop()
{
    return simple_request(drive_stop, "ioctl(cdromstop)");
}

int cdrom_eject()
{
    if (simple_request(drive_allow_removal, "ioctl(cdromallow)") == -1)
        return -1;
    return simple_request(drive_eject, "ioctl(cdromeject)");
}

int cdrom_pause()
{
    return simple_request(drive_pause, "ioctl(cdrompause)");
}

int cdrom_resume()
{
    return simple_request(drive_resume, "ioctl(cdromresume)");
}

int cdrom_volume(uint8_t left, uint8_t right)
{
    if (cdrom_fd == -1)
        return -1;
    if (drive_set_volume(cdrom_fd, left, right) == -1) {
        perror("ioctl(cdromvolctrl)");
        return -1;
    }
    return 0;
}

// One frame before addr: the frame borrows from the second, the second
// from the minute; the minute lends no further.
static msf_t frame_before(msf_t addr)
{
    addr.frame = static_cast<uint8_t>(addr.frame - 1);
    if (addr.frame >= MSF_FRAMES_PER_SECOND) {
        addr.frame = MSF_FRAMES_PER_SECOND - 1;
        addr.second = static_cast<uint8_t>(addr.second - 1);
    }
    if (addr.second >= MSF_SECONDS_PER_MINUTE) {
        addr.second = MSF_SECONDS_PER_MINUTE - 1;
        addr.minute = static_cast<uint8_t>(addr.minute - 1);
    }
    return addr;
}

int cdrom_play_tracks(uint8_t first, uint8_t last)
{
    if (cdrom_fd == -1)
        return -1;
    if (!track_on_disc(first) || !track_on_disc(last)) {
        report("ioctl(cdromplaymsftrk)", EINVAL);
        return -1;
    }
    msf_t start = CDI.addrs[first - CDI.min];
    msf_t end = frame_before(CDI.addrs[last - CDI.min + 1]);
    if (drive_play_msf(cdrom_fd, &start, &end) == -1) {
        perror("ioctl(cdromplaymsftrk)");
        return -1;
    }
    return 0;
}

int cdrom_play_msf(const msf_t *start, const msf_t *end)
{
    if (cdrom_fd == -1)
        return -1;
    if (drive_play_msf(cdrom_fd, start, end) == -1) {
        perror("ioctl(cdromplaymsf)");
        return -1;
    }
    return 0;
}

// The sub-channel query behind the three status operations.  Its report
// names the platform's first default device, whichever device is open.
static int read_position(drive_position *pos)
{
    if (cdrom_fd == -1)
        return -1;
    if (drive_read_position(cdrom_fd, pos) == -1) {
        int err = errno;
        fputs("ioctl(cdromsubchnl): ", stderr);
        report(platform_default_paths[0], err);
        return -1;
    }
    return 0;
}

int cdrom_get_curtrack()
{
    drive_position pos{};
    if (read_position(&pos) == -1)
        return -1;
    switch (pos.audio_status) {
    case CD_AS_PLAY_IN_PROGRESS:
    case CD_AS_PLAY_PAUSED:
        return pos.track;
    case CD_AS_PLAY_COMPLETED:
        return 0;
    case CD_AS_NO_STATUS:
        debug_log(1, "cdrom_get_curtrack: no status\n");
        return 0;
    default:
        return -1;
    }
}

int cdrom_get_msf(msf_t *msf)
{
    drive_position pos{};
    if (read_position(&pos) == -1)
        return -1;
    *msf = pos.absolute;
    return 0;
}

int cdrom_status()
{
    drive_position pos{};
    if (read_position(&pos) == -1)
        return -1;
    switch (pos.audio_status) {
    case CD_AS_AUDIO_INVALID:
        return CDROM_STATUS_INVALID;
    case CD_AS_PLAY_IN_PROGRESS:
        return CDROM_STATUS_PLAYING;
    case CD_AS_PLAY_PAUSED:
        return CDROM_STATUS_PAUSED;
    case CD_AS_PLAY_COMPLETED:
        return CDROM_STATUS_COMPLETED;
    case CD_AS_PLAY_ERROR:
        return CDROM_STATUS_ERROR;
    case CD_AS_NO_STATUS:
        return CDROM_STATUS_NOSTATUS;
    default:
        return -1;
    }
}

// Elapsed seconds in the current track, counting its first second as 1;
// frames play no part.
int cdrom_get_curtime()
{
    if (cdrom_open() == -1) {
        debug_log(1, "cdrom_get_curtime: error from cdrom_open\n");
        return 0;
    }
    int status = cdrom_status();
    if (status != CDROM_STATUS_PLAYING && status != CDROM_STATUS_PAUSED)
        return 0;
    msf_t pos{};
    if (cdrom_get_msf(&pos) == -1) {
        debug_log(1, "get_curtime: error reading location\n");
        return 0;
    }
    int track = cdrom_get_curtrack();
    if (track == -1 || track != CDI.curtrack || !track_on_disc(track))
        return 0;
    const msf_t &start = CDI.addrs[track - CDI.min];
    return static_cast<int32_t>(msf_seconds(pos) - msf_seconds(start) + 1);
}

// Quiet: asked every tick, and most drives cannot tell.
bool cdrom_media_changed()
{
    return cdrom_fd != -1 && drive_media_changed(cdrom_fd) == 1;
}
