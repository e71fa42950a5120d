// The drive layer: the handful of CD audio requests the player needs,
// carried by one backend per kind of device.  A backend fills one table of
// operations; the backend is chosen from the device path when the drive is
// opened.  Every failure returns -1 with errno set, so that the callers'
// perror-style reports print the system's own text.
#pragma once

#include <cstdint>
#include <string>

#include "drive/msf.h"

struct drive_toc_header {
    uint8_t first, last;
};

// One table-of-contents entry as drives return it in MSF form (8 bytes):
// addr[1..3] hold minute, second and frame; addr[0] is a filler.
struct drive_toc_entry {
    uint8_t reserved0;
    uint8_t addr_ctl;
    uint8_t track;
    uint8_t reserved1;
    uint8_t addr[4];
};

inline msf_t drive_entry_msf(const drive_toc_entry &e)
{
    return msf_t{e.addr[1], e.addr[2], e.addr[3]};
}

inline void drive_set_entry_msf(drive_toc_entry *e, const msf_t &m)
{
    e->addr[1] = m.minute;
    e->addr[2] = m.second;
    e->addr[3] = m.frame;
}

// Audio status values, as drives report them in the sub-channel header.
enum : uint8_t {
    CD_AS_AUDIO_INVALID = 0x00,
    CD_AS_PLAY_IN_PROGRESS = 0x11,
    CD_AS_PLAY_PAUSED = 0x12,
    CD_AS_PLAY_COMPLETED = 0x13,
    CD_AS_PLAY_ERROR = 0x14,
    CD_AS_NO_STATUS = 0x15,
};

// The lead-out is asked for as this track number.
constexpr uint8_t DRIVE_LEADOUT = 170;

// The sub-channel's current position: what the player uses of it.
struct drive_position {
    uint8_t audio_status;
    uint8_t track;
    msf_t absolute;
};

// One backend.  An operation left null answers "unsupported" (ENOTSUP).
// The backends that play the audio themselves (a drive read digitally, a
// disc image: drive/digital.h) fill the same table.
struct drive_ops {
    const char *name;
    // Path prefix that selects this backend ("sim:"); null for the
    // platform's device nodes, which take every other path.
    const char *prefix;
    // Returns the backend's handle, or null with errno set.  The path has
    // the prefix removed.
    void *(*open)(const char *path);
    void (*close)(void *drive);
    int (*toc_header)(void *drive, drive_toc_header *hdr);
    int (*toc_entry)(void *drive, uint8_t track, drive_toc_entry *entry);
    int (*position)(void *drive, drive_position *pos);
    int (*play_msf)(void *drive, const msf_t *start, const msf_t *end);
    int (*pause)(void *drive);
    int (*resume)(void *drive);
    int (*stop)(void *drive);
    int (*allow_removal)(void *drive);
    int (*eject)(void *drive);
    int (*set_volume)(void *drive, uint8_t left, uint8_t right);
    // 1 when the disc in the drive is not the one whose table of contents
    // was read through this handle (put in behind the player's back), else
    // 0.  Null where the drive cannot tell: its disc counts as unchanged.
    int (*media_changed)(void *drive);
};

// The platform's backend and its default device paths, in the order they
// are tried (null-terminated).  Exactly one platform file defines them.
extern const drive_ops platform_drive_ops;
extern const char *const platform_default_paths[];

// The front door.  A drive is named by a small non-negative handle.
int drive_open(const char *path);
int drive_close(int handle);
int drive_read_toc_header(int handle, drive_toc_header *hdr);
int drive_read_toc_entry(int handle, uint8_t track, drive_toc_entry *entry);
int drive_read_position(int handle, drive_position *pos);
int drive_play_msf(int handle, const msf_t *start, const msf_t *end);
int drive_pause(int handle);
int drive_resume(int handle);
int drive_stop(int handle);
int drive_allow_removal(int handle);
int drive_eject(int handle);
int drive_set_volume(int handle, uint8_t left, uint8_t right);
int drive_media_changed(int handle);

// A disc image: a path ending in ".cue", in either case.
bool drive_is_image_path(const char *path);

// Where an open drive's disc is read from, for the layers that read more
// of it than the requests above (CD-Text, a cue sheet's names, a cover
// beside an image): a drive's device node, or a disc image's cue sheet;
// neither for the simulated drive.
struct drive_source {
    std::string device;
    std::string image;
};
drive_source drive_source_of(int handle);

// How the backends that play the audio themselves are set up (from the
// application resources).  With digital set, drive paths are read
// digitally too; "cdda:PATH" always is, and a path ending in ".cue" is a
// disc image.
struct drive_digital_settings {
    bool digital = false;
    bool paranoia = true;
    bool deemphasis = true;  // filter tracks recorded with pre-emphasis
    int speed = 8;
    const char *audio_device = "default";
};
void drive_set_digital(const drive_digital_settings &settings);
