// TEMPORARY: placeholders until the real code lands; this file is deleted then.
#include <cstdlib>
#include "playback/playback.h"
void cb_cdrom_play(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_cdrom_pause(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_cdrom_stop(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
int cdrom_play() { abort(); }
void cdrom_reset() { abort(); }
void play_timer_start() { abort(); }
void play_timer_stop() { abort(); }
void cdrom_sync_state() { abort(); }
void cdrom_new_disc(Widget w) { abort(); }
void cb_cdrom_eject(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cdrom_poll(XtPointer client_data, XtIntervalId *id) { abort(); }
void cb_cdrom_quit(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_cdrom_cycle(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_cdrom_previous(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_cdrom_next(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_play_tick(XtPointer client_data, XtIntervalId *id) { abort(); }
void cdrom_atend() { abort(); }
void cb_cdrom_rew(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cb_cdrom_ff(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void cdrom_rew_step() { abort(); }
void cdrom_ff_step() { abort(); }
void cb_scan_tick(XtPointer client_data, XtIntervalId *id) { abort(); }
void cb_cdrom_shuffle(Widget w, XtPointer client_data, XtPointer call_data) { abort(); }
void shuffle_setup() { abort(); }
uint8_t shuffle_get_track() { abort(); }
uint8_t shuffle_prev_track() { abort(); }
