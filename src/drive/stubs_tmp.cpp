// TEMPORARY: placeholders until the real code lands; this file is deleted then.
#include <cstdlib>
#include "drive/drive.h"
int drive_open(const char *path) { abort(); }
int drive_close(int handle) { abort(); }
int drive_read_toc_header(int handle, drive_toc_header *hdr) { abort(); }
int drive_read_toc_entry(int handle, uint8_t track, drive_toc_entry *entry) { abort(); }
int drive_read_position(int handle, drive_position *pos) { abort(); }
int drive_play_msf(int handle, const drive_msf *start, const drive_msf *end) { abort(); }
int drive_pause(int handle) { abort(); }
int drive_resume(int handle) { abort(); }
int drive_stop(int handle) { abort(); }
int drive_allow_removal(int handle) { abort(); }
int drive_eject(int handle) { abort(); }
int drive_set_volume(int handle, uint8_t left, uint8_t right) { abort(); }
