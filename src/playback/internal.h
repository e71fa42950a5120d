// Helpers shared by the playback files; not part of the subsystem's contract.
#pragma once

#include <X11/Intrinsic.h>

#include <cstdint>

// Arm the play timer (the one recorded timer of the play and scan chains),
// removing a pending one first so that no timer is ever left unrecorded.
void play_timer_arm(unsigned long ms, XtTimerCallbackProc proc);

// End a paused scan: its first timeout is removed while still pending and
// the scan_timer marker cleared.
void scan_chain_end();

// A drive's track answer the player may take over: 0 (no track) or a
// track of the disc.  -1 and tracks the disc lacks are not.
bool drive_track_usable(int t);

// t when it is a track of the disc, else fallback when that is one, else 0:
// curtrack never holds a track the tables lack.
uint8_t disc_track_or(int t, int fallback);

// The step a tick makes while Rewind or Fast Forward is held, the next
// tick (again) armed after it; false when neither is held.
bool scan_tick_step(XtTimerCallbackProc again);

// Take over the drive's current track as a tick sees it; false when the
// range has ended and cdrom_atend took over, or the disc changed (the tick
// must not re-arm).
bool follow_drive_track();
