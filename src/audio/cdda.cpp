// A real drive read digitally with libcdio-paranoia.  The drive is opened
// on the first read, in the reader thread: identifying it spins the disc
// up, which can take many seconds.  Each open of the drive by the player
// makes a new source, so a disc put in after an eject gets a fresh handle
// (libcdio keeps the table of contents per handle).
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "audio/audio.h"

namespace {

struct cdda {
    std::string device;
    bool paranoia;
    int speed;
    cdrom_drive_t *drive = nullptr;
    cdrom_paranoia_t *p = nullptr;
    long next = -1;  // the sector paranoia reads next

    ~cdda()
    {
        if (p)
            cdio_paranoia_free(p);
        if (drive)
            cdio_cddap_close(drive);
    }
};

// libcdio writes warnings of what it tries and fails to standard output,
// where the trace goes; a failed read is reported once, by the engine, in
// one line of its own.
void quiet(cdio_log_level_t, const char *) {}

// Runs inside the reader thread: identifying the drive may take seconds.
bool ready(cdda &c)
{
    if (c.drive)
        return true;
    cdio_log_set_handler(quiet);
    c.drive = cdio_cddap_identify(c.device.c_str(), CDDA_MESSAGE_FORGETIT, nullptr);
    if (!c.drive || cdio_cddap_open(c.drive) != 0) {
        if (c.drive)
            cdio_cddap_close(c.drive);
        c.drive = nullptr;
        errno = EIO;
        return false;
    }
    cdio_cddap_verbose_set(c.drive, CDDA_MESSAGE_FORGETIT, CDDA_MESSAGE_FORGETIT);
    // A slower drive is a quieter one; not every drive takes the request.
    if (c.speed > 0)
        cdio_cddap_speed_set(c.drive, c.speed);
    if (c.paranoia) {
        c.p = cdio_paranoia_init(c.drive);
        cdio_paranoia_modeset(c.p, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
    }
    return true;
}

// Runs inside the reader thread, the engine's lock let go; the drive and
// paranoia's state are that thread's alone.
int cdda_read(void *src, long lba, int count, int16_t *buf)
{
    cdda &c = *static_cast<cdda *>(src);
    if (!ready(c))
        return -1;
    if (!c.p) {
        long got = cdio_cddap_read(c.drive, buf, static_cast<lsn_t>(lba), count);
        if (got != count) {
            errno = EIO;
            return -1;
        }
        return 0;
    }
    if (c.next != lba)
        cdio_paranoia_seek(c.p, static_cast<int32_t>(lba), SEEK_SET);
    for (int i = 0; i < count; i++) {
        int16_t *sector = cdio_paranoia_read(c.p, nullptr);
        if (!sector) {
            c.next = -1;
            errno = EIO;
            return -1;
        }
        std::copy(sector, sector + SECTOR_FRAMES * 2, buf + i * SECTOR_FRAMES * 2);
    }
    c.next = lba + count;
    return 0;
}

// Whichever thread lets the engine go last; no read is under way.
void cdda_close(void *src)
{
    delete static_cast<cdda *>(src);
}

const audio_source_ops cdda_ops = {cdda_read, cdda_close};

}  // namespace

// The player's thread: touches no drive.
bool cdda_source_open(const std::string &device, const audio_toc &toc, bool paranoia, int speed,
                      audio_source *src, std::string *why)
{
    if (toc.starts.empty()) {
        *why = "no tracks";
        return false;
    }
    src->ops = &cdda_ops;
    src->impl = new cdda{device, paranoia, speed};
    src->toc = toc;
    return true;
}
