// Drives that play through the sound card: a disc image (a cue sheet), or
// a real drive read digitally.  The audio engine (src/audio/) does the
// reading and playing; this file answers the player's requests as a drive
// answers them.
//
// An image's cue sheet is in a tray (drive/tray.h), as the simulated
// drive's disc file is: the disc is in while the sheet exists; after an
// eject it is back when the sheet is written or touched again.  A real
// drive's table of contents, presence and eject stay with the platform's
// requests: libcdio would cache the table and block on an empty drive.
#include "drive/digital.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "audio/audio.h"
#include "audio/deemphasis.h"
#include "drive/tray.h"

#ifndef ENOMEDIUM
#define ENOMEDIUM ENXIO
#endif

namespace {

drive_digital_settings settings;
std::string audio_device_name = "default";

// An image's tray outlives the handle: the player closes the drive on
// eject and opens it again to look for a disc.
struct image_tray {
    tray t;
    unsigned reported = 0;  // the generation of a bad sheet told; 0: none
    int wd = -1;            // the watch on the sheet's folder
    bool changed = true;    // the folder changed since the sheet was looked at
    int64_t looked_us = 0;
};

std::map<std::string, image_tray> trays;


// Every request looks at the sheet, and a walk of its path, cold on each
// play tick, was most of the tick's time.  The sheet's folder is watched
// instead, and the sheet looked at when the folder changed; and once a
// second all the same, for what a watch does not see: a folder above
// renamed, the target of a link, another machine's change to a network
// file system.
constexpr int64_t LOOK_AGAIN_US = 1000000;

int watch_fd()
{
    static const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    return fd;
}

void take_changes()
{
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while (watch_fd() >= 0 && (n = read(watch_fd(), buf, sizeof buf)) > 0) {
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const inotify_event *ev = reinterpret_cast<const inotify_event *>(buf + at);
            for (auto &entry : trays) {
                image_tray &t = entry.second;
                if (ev->wd < 0 || ev->wd == t.wd)  // wd -1: events were lost
                    t.changed = true;
                if (ev->wd == t.wd && (ev->mask & IN_IGNORED))
                    t.wd = -1;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
}

bool may_have_changed(const std::string &path, image_tray &t)
{
    take_changes();
    int64_t now = audio_clock_now_us();
    if (t.wd >= 0 && !t.changed && now - t.looked_us < LOOK_AGAIN_US)
        return false;
    if (t.wd < 0 && watch_fd() >= 0) {
        size_t slash = path.find_last_of('/');
        std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        t.wd = inotify_add_watch(watch_fd(), folder.c_str(),
                                 IN_ATTRIB | IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_DELETE |
                                     IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF);
    }
    t.changed = false;
    t.looked_us = now;
    return true;
}

struct digital_drive {
    std::string path;
    bool image = false;
    void *platform = nullptr;   // a real drive's platform handle
    audio_engine *engine = nullptr;
    audio_toc toc;
    bool readable = false;      // an image: the sheet and its files are good
    unsigned loaded = 0;        // an image: the tray's generation read; 0: none
    unsigned taken = 0;         // the generation whose table the holder read
    uint8_t left = 255, right = 255;
};

std::vector<digital_drive *> open_drives;  // for tests

// Tracks' names for the sound server's stream, as the names layer has them.
std::map<int, std::string> track_names;

std::string media_name(int track)
{
    auto it = track_names.find(track);
    return it != track_names.end() ? it->second : "Track " + std::to_string(track);
}

digital_drive *drive_of(void *d)
{
    return static_cast<digital_drive *>(d);
}

// Everything in this file runs on the player's thread (the event loop)
// and holds no lock: each audio_engine_* request takes the engine's lock
// for a moment itself, and none waits for the engine's threads.
void stop_engine(digital_drive &d)
{
    audio_engine_stop(d.engine);
    d.engine = nullptr;
}

void start_engine(digital_drive &d, audio_source src)
{
    d.toc = src.toc;
    if (settings.deemphasis)
        src = deemphasis_wrap(std::move(src));
    track_names.clear();  // a new disc: its names come afresh
    std::string name = audio_device_name;
    const audio_sink_ops *sink = audio_sink_for(&name);
    d.engine = audio_engine_start(src, sink, name);
    audio_engine_volume(d.engine, d.left, d.right);
}

// Reads the sheet and its files: a disc put in.
void load_image(digital_drive &d, image_tray &t)
{
    stop_engine(d);
    d.readable = false;
    d.loaded = t.t.generation;
    audio_source src;
    std::string why;
    std::vector<std::string> notes;
    bool opened = image_source_open(d.path, &src, &why, &notes);
    for (const std::string &note : notes)
        debug_log(1, "image: %s\n", audio_one_line(note).c_str());
    if (!opened) {
        // Once per version of the sheet: the poll opens again every second.
        if (t.reported != t.t.generation)
            fprintf(stderr, "murbel: %s: %s\n", d.path.c_str(), audio_one_line(why).c_str());
        fflush(stderr);
        t.reported = t.t.generation;
        return;
    }
    d.readable = true;
    start_engine(d, src);
}

void sync_image(digital_drive &d)
{
    image_tray &t = trays[d.path];
    if (may_have_changed(d.path, t))
        tray_look(t.t, d.path);
    if (!tray_has_disc(t.t)) {
        stop_engine(d);
        d.loaded = 0;  // a sheet moved away and back is the disc put in again
    } else if (d.loaded == t.t.generation) {
        return;
    } else if (t.reported == t.t.generation) {
        // Known bad: not parsed again (libcue leaks on a failed parse).
        d.loaded = t.t.generation;
        d.readable = false;
    } else {
        load_image(d, t);
    }
}

// The requests that need a disc fail as a drive's do without one.
bool no_disc(digital_drive &d)
{
    if (d.image) {
        sync_image(d);
        if (!tray_disc_usable(trays[d.path].t, d.readable))
            return true;
    }
    if (!d.engine) {
        errno = ENOMEDIUM;
        return true;
    }
    return false;
}

// The track a sector belongs to, its pregap counted in, as the
// sub-channel tells it.
int track_at(const audio_toc &toc, long lba)
{
    int t = toc.first;
    for (size_t i = 1; i < toc.gaps.size(); i++)
        if (toc.gaps[i] <= lba)
            t = toc.first + static_cast<int>(i);
    return t;
}

// ---- a real drive: the platform answers for the table of contents ----

// Reads the table through the platform and (re)starts the engine on it
// when it is new.
int read_drive_toc(digital_drive &d, drive_toc_header *hdr)
{
    if (platform_drive_ops.toc_header(d.platform, hdr) < 0)
        return -1;
    audio_toc toc;
    toc.first = hdr->first;
    for (int t = hdr->first; t <= hdr->last + 1; t++) {
        drive_toc_entry e{};
        uint8_t track = t > hdr->last ? DRIVE_LEADOUT : static_cast<uint8_t>(t);
        if (platform_drive_ops.toc_entry(d.platform, track, &e) < 0)
            return -1;
        long lba = msf_lba(drive_entry_msf(e));
        if (track == DRIVE_LEADOUT) {
            toc.leadout = lba;
        } else {
            toc.starts.push_back(lba);
            toc.gaps.push_back(lba);
            toc.data.push_back(e.addr_ctl & 0x04);
            toc.pre.push_back(e.addr_ctl & 0x01);  // recorded with pre-emphasis
        }
    }
    // A data session after the audio (an enhanced CD) begins with the
    // first session's lead-out and the second's lead-in, 11400 sectors that
    // cannot be read as audio: the audio ends before them.
    for (size_t i = 1; i < toc.starts.size(); i++)
        if (toc.data[i] && !toc.data[i - 1] && toc.starts[i] - 11400 > toc.starts[i - 1])
            toc.gaps[i] = toc.starts[i] - 11400;
    if (d.engine && toc.starts == d.toc.starts && toc.leadout == d.toc.leadout)
        return 0;
    stop_engine(d);
    audio_source src;
    std::string why;
    std::string dev = d.path;
    if (!cdda_source_open(dev, toc, settings.paranoia, settings.speed, &src, &why)) {
        fprintf(stderr, "murbel: %s: %s\n", d.path.c_str(), why.c_str());
        errno = EIO;
        return -1;
    }
    start_engine(d, src);
    return 0;
}

// ---- the operations ----

void digital_close(void *drive);

void *open_drive(const char *path, bool image)
{
    auto *d = new digital_drive;
    d->path = path;
    d->image = image;
    open_drives.push_back(d);
    if (image) {
        sync_image(*d);
        const tray &t = trays[d->path].t;
        if (tray_has_disc(t) && !d->readable) {
            digital_close(d);
            errno = EINVAL;
            return nullptr;
        }
        d->taken = t.generation;
        return d;
    }
    d->platform = platform_drive_ops.open(path);
    if (!d->platform) {
        int err = errno;
        digital_close(d);
        errno = err;
        return nullptr;
    }
    return d;
}

void *image_open(const char *path)
{
    return open_drive(path, true);
}

void *cdda_open(const char *path)
{
    return open_drive(path, false);
}

void digital_close(void *drive)
{
    digital_drive *d = drive_of(drive);
    stop_engine(*d);
    if (d->platform)
        platform_drive_ops.close(d->platform);
    open_drives.erase(std::find(open_drives.begin(), open_drives.end(), d));
    delete d;
}

int digital_toc_header(void *drive, drive_toc_header *hdr)
{
    digital_drive &d = *drive_of(drive);
    if (!d.image)
        return read_drive_toc(d, hdr);
    if (no_disc(d))
        return -1;
    d.taken = trays[d.path].t.generation;
    hdr->first = static_cast<uint8_t>(d.toc.first);
    hdr->last = static_cast<uint8_t>(d.toc.last());
    return 0;
}

int digital_toc_entry(void *drive, uint8_t track, drive_toc_entry *entry)
{
    digital_drive &d = *drive_of(drive);
    if (!d.image)
        return platform_drive_ops.toc_entry(d.platform, track, entry);
    if (no_disc(d))
        return -1;
    long lba;
    bool data = false;
    if (track == DRIVE_LEADOUT) {
        lba = d.toc.leadout;
    } else if (track >= d.toc.first && track <= d.toc.last()) {
        lba = d.toc.starts[track - d.toc.first];
        data = d.toc.data[track - d.toc.first];
    } else {
        errno = EINVAL;
        return -1;
    }
    *entry = {};
    entry->addr_ctl = data ? 0x14 : 0x10;  // Q mode 1; data or two-channel audio
    entry->track = track;
    drive_set_entry_msf(entry, msf_of_lba(lba));
    return 0;
}

int digital_position(void *drive, drive_position *pos)
{
    digital_drive &d = *drive_of(drive);
    if (no_disc(d))
        return -1;
    audio_position p = audio_engine_position(d.engine);
    long lba = p.frame / SECTOR_FRAMES;
    pos->absolute = msf_of_lba(lba);
    pos->track = 0;
    switch (p.state) {
    case AUDIO_PLAYING:
        pos->audio_status = CD_AS_PLAY_IN_PROGRESS;
        pos->track = static_cast<uint8_t>(track_at(d.toc, lba));
        audio_engine_media_name(d.engine, media_name(pos->track));
        break;
    case AUDIO_PAUSED:
        pos->audio_status = CD_AS_PLAY_PAUSED;
        pos->track = static_cast<uint8_t>(track_at(d.toc, lba));
        break;
    case AUDIO_COMPLETED:
        pos->audio_status = CD_AS_PLAY_COMPLETED;
        break;
    case AUDIO_ERROR:
        pos->audio_status = CD_AS_PLAY_ERROR;
        break;
    case AUDIO_IDLE:
        pos->audio_status = CD_AS_NO_STATUS;
        break;
    }
    return 0;
}

// Where the data track that holds lba, or the first one after it, begins;
// the lead-out when there is none.
long data_boundary(const audio_toc &toc, long lba, bool *inside)
{
    *inside = false;
    for (size_t i = 0; i < toc.starts.size(); i++) {
        if (!toc.data[i])
            continue;
        long next = i + 1 < toc.gaps.size() ? toc.gaps[i + 1] : toc.leadout;
        if (lba >= toc.gaps[i] && lba < next) {
            *inside = true;
            return toc.gaps[i];
        }
        if (toc.gaps[i] > lba)
            return toc.gaps[i];
    }
    return toc.leadout;
}

int digital_play_msf(void *drive, const msf_t *start, const msf_t *end)
{
    digital_drive &d = *drive_of(drive);
    if (no_disc(d))
        return -1;
    if (!msf_valid(*start) || !msf_valid(*end)) {
        errno = EINVAL;
        return -1;
    }
    long from = std::max(0L, msf_lba(*start));
    long to = std::max(0L, msf_lba(*end));
    if (from > to || to > d.toc.leadout) {
        errno = EINVAL;
        return -1;
    }
    // Data is never sent to the sound card: a drive refuses to play it.
    bool inside;
    long boundary = data_boundary(d.toc, from, &inside);
    if (inside) {
        errno = EIO;
        return -1;
    }
    audio_engine_media_name(d.engine, media_name(track_at(d.toc, from)));
    return audio_engine_play(d.engine, from, std::min(to, boundary));
}

int digital_pause(void *drive)
{
    digital_drive &d = *drive_of(drive);
    return no_disc(d) ? -1 : audio_engine_pause(d.engine);
}

int digital_resume(void *drive)
{
    digital_drive &d = *drive_of(drive);
    return no_disc(d) ? -1 : audio_engine_resume(d.engine);
}

int digital_stop(void *drive)
{
    digital_drive &d = *drive_of(drive);
    if (no_disc(d))
        return -1;
    audio_engine_halt(d.engine);
    return 0;
}

int digital_allow(void *drive)
{
    digital_drive &d = *drive_of(drive);
    return d.image ? 0 : platform_drive_ops.allow_removal(d.platform);
}

// Never libcdio's eject: on an image it would free its handle twice.
int digital_eject(void *drive)
{
    digital_drive &d = *drive_of(drive);
    if (d.image) {
        sync_image(d);
        tray_eject(trays[d.path].t);
    } else if (platform_drive_ops.eject(d.platform) < 0) {
        return -1;
    }
    stop_engine(d);
    return 0;
}

int digital_set_volume(void *drive, uint8_t left, uint8_t right)
{
    digital_drive &d = *drive_of(drive);
    if (d.image)
        sync_image(d);
    d.left = left;  // also for an engine started later, on a disc put in
    d.right = right;
    if (d.engine)
        audio_engine_volume(d.engine, left, right);
    return 0;
}

// A real drive's changes are the platform's, which does not tell them.
int digital_media_changed(void *drive)
{
    digital_drive &d = *drive_of(drive);
    if (!d.image)
        return 0;
    sync_image(d);
    return trays[d.path].t.generation != d.taken;
}

}  // namespace

const drive_ops image_drive_ops = {
    "image",          nullptr,           image_open,       digital_close,
    digital_toc_header, digital_toc_entry, digital_position, digital_play_msf,
    digital_pause,    digital_resume,    digital_stop,     digital_allow,
    digital_eject,    digital_set_volume, digital_media_changed,
};

const drive_ops cdda_drive_ops = {
    "cdda",           "cdda:",           cdda_open,        digital_close,
    digital_toc_header, digital_toc_entry, digital_position, digital_play_msf,
    digital_pause,    digital_resume,    digital_stop,     digital_allow,
    digital_eject,    digital_set_volume, digital_media_changed,
};

void drive_set_digital(const drive_digital_settings &s)
{
    settings = s;
    audio_device_name = s.audio_device ? s.audio_device : "default";
}

bool drive_digital_default()
{
    return settings.digital;
}

bool digital_settle(int ms)
{
    for (digital_drive *d : open_drives)
        if (d->engine && !audio_engine_settle(d->engine, ms))
            return false;
    return true;
}

bool digital_device_open()
{
    for (digital_drive *d : open_drives)
        if (d->engine && audio_engine_device_open(d->engine))
            return true;
    return false;
}

long digital_underruns()
{
    long n = 0;
    for (digital_drive *d : open_drives)
        if (d->engine)
            n += audio_engine_underruns(d->engine);
    return n;
}

void digital_set_track_name(int track, const std::string &name)
{
    if (name.empty())
        track_names.erase(track);
    else
        track_names[track] = name;
}

void digital_reset_trays()
{
    trays.clear();
}
