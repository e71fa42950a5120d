// The tray of a drive whose disc is a file: the simulated drive's disc
// file, a disc image's cue sheet.  The disc is in while the file exists;
// a file that changed (written, touched, replaced or taken away) is a disc
// put in or taken out, which also closes the tray; after an eject the tray
// stays open until that happens.  A tray outlives the drive's handles,
// because the player closes the drive on eject and opens it again later.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>

// What tells one version of the file from another.
struct tray_file_id {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    time_t sec = 0;
    long nsec = 0;
};

struct tray {
    tray_file_id id;           // as last looked at
    bool seen = false;         // id is meaningful
    bool open = false;         // ejected, and the file unchanged since
    unsigned generation = 0;   // one more for each change looked at
};

// Looks at the file at path; true when it changed since the last look
// (the first look counts as a change).
bool tray_look(tray &t, const std::string &path);
// A disc is in: the file exists and the tray is closed.  As last looked at.
bool tray_has_disc(const tray &t);
void tray_eject(tray &t);
// Whether requests that need a disc may go on; when not, errno is what a
// drive gives: ENOMEDIUM with no disc in, EINVAL for one it cannot read.
bool tray_disc_usable(const tray &t, bool readable);
