// Playback control: the transport commands, disc changes and the poll,
// the play timer, scanning and shuffle.
#pragma once

#include <X11/Intrinsic.h>

#include <cstdint>

// Play, pause and stop.
void cb_cdrom_play(Widget w, XtPointer client_data, XtPointer call_data);
void cb_cdrom_pause(Widget w, XtPointer client_data, XtPointer call_data);
void cb_cdrom_stop(Widget w, XtPointer client_data, XtPointer call_data);
int cdrom_play();
void cdrom_reset();
void play_timer_start();
void play_timer_stop();

// Disc changes, the drive poll, quit and cycle.
void cdrom_sync_state();
void cdrom_new_disc(Widget w);
void cb_cdrom_eject(Widget w, XtPointer client_data, XtPointer call_data);
// The disc goes from the player, with the drive's eject or (another
// device opened) without it.
void disc_remove(bool eject);
void cdrom_poll(XtPointer client_data, XtIntervalId *id);
// A disc changed in the drive behind the player's back is taken out as an
// eject takes it, for the poll to find the new one; true when that was so.
bool cdrom_disc_changed();
void cb_cdrom_quit(Widget w, XtPointer client_data, XtPointer call_data);
void cb_cdrom_cycle(Widget w, XtPointer client_data, XtPointer call_data);

// Track stepping.
void cb_cdrom_previous(Widget w, XtPointer client_data, XtPointer call_data);
void cb_cdrom_next(Widget w, XtPointer client_data, XtPointer call_data);

// Play timer and end of track.
void cb_play_tick(XtPointer client_data, XtIntervalId *id);
void cdrom_atend();

// Scanning.
void cb_cdrom_rew(Widget w, XtPointer client_data, XtPointer call_data);
void cb_cdrom_ff(Widget w, XtPointer client_data, XtPointer call_data);
void cdrom_rew_step();
void cdrom_ff_step();
void cb_scan_tick(XtPointer client_data, XtIntervalId *id);

// Shuffle.
void cb_cdrom_shuffle(Widget w, XtPointer client_data, XtPointer call_data);
void shuffle_setup();
uint8_t shuffle_get_track();
uint8_t shuffle_prev_track();

// The interval, in ms, of the play or scan timer armed last: the toolkit
// does not tell a timeout's interval back.
extern unsigned long last_timeout_ms;

// A jump to FRAME frames into the current track, the way a scan step
// plays from its new place; -1 when there is no track to jump in.
int cdrom_seek(long frame);
