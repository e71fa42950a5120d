// TEMPORARY: placeholders until the real code lands; this file is deleted then.
#include <cstdlib>
#include "disc/cdrom.h"
int cdrom_open() { abort(); }
void cdrom_close() { abort(); }
int cdrom_read_toc() { abort(); }
int cdrom_read_toc_entry(uint8_t track, drive_toc_entry *buf, uint16_t len) { abort(); }
int cdrom_toc_entry_msf(uint8_t track, msf_t *msf, uint64_t *seconds) { abort(); }
int cdrom_stop() { abort(); }
int cdrom_eject() { abort(); }
int cdrom_pause() { abort(); }
int cdrom_resume() { abort(); }
int cdrom_volume(uint8_t left, uint8_t right) { abort(); }
int cdrom_play_tracks(uint8_t first, uint8_t last) { abort(); }
int cdrom_play_msf(const msf_t *start, const msf_t *end) { abort(); }
int cdrom_get_curtrack() { abort(); }
int cdrom_get_msf(msf_t *msf) { abort(); }
int cdrom_status() { abort(); }
int cdrom_get_curtime() { abort(); }
