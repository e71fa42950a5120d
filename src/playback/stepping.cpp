// Previous and next: one step along the disc, the shuffle order or the
// program, keeping the player playing, paused or stopped.
#include "app/app.h"
#include "disc/cdrom.h"
#include "playback/internal.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

static bool playing_unpaused()
{
    return (CDI.state & CDROM_PLAYING) && !(CDI.state & CDROM_PAUSED);
}

static void previous_track()
{
    if (CDI.program_head && playing_unpaused()) {
        if (program_peek_prev()) {
            debug_log(1, "cb_cdrom_previous: going to prev selection\n");
            CDI.curtrack = disc_track_or(program_prev_track(), CDI.curtrack);
        } else {
            debug_log(1, "cb_cdrom_previous: no previous selections in program\n");
        }
    } else if (CDI.curtrack > CDI.min) {
        CDI.curtrack--;
    }
}

// A paused player is left paused at the start of the new track.
static void start_paused()
{
    cdrom_play();
    cdrom_pause();
    play_timer_stop();
}

void cb_cdrom_previous(Widget, XtPointer, XtPointer)
{
    if (cdrom_open() == -1) {
        debug_log(1, "cb_cdrom_previous: error from cdrom_open\n");
        return;
    }
    CDI.state &= ~CDROM_EJECTED;
    set_button_state(ejectButton, False);
    play_timer_stop();
    // Early in a track previous goes back a track, later to this one's start.
    if (CDI.dur < app_resources.replayThreshold)
        previous_track();
    tick_count = 0;
    CDI.dur = 0;
    if (CDI.state & CDROM_SHUFFLE)
        CDI.curtrack = disc_track_or(shuffle_prev_track(), CDI.min);
    track_display_update();
    timer_display_update();
    if (CDI.state & CDROM_PAUSED) {
        debug_log(1, "cb_cdrom_previous: paused on track %d\n", CDI.curtrack);
        start_paused();
    } else if (CDI.state & CDROM_PLAYING) {
        debug_log(1, "cb_cdrom_previous: playing track %d\n", CDI.curtrack);
        cdrom_play();
    } else {
        debug_log(1, "cb_cdrom_previous: stopped on track %d\n", CDI.curtrack);
    }
}

// Moves curtrack on; false when there is nowhere to go.
static bool next_track()
{
    if (CDI.state & CDROM_SHUFFLE) {
        // The entry itself is drawn only when the next track is played.
        if (CDI.currand == CDI.total) {
            debug_log(1, "cb_cdrom_next: at last track\n");
            return false;
        }
    } else if (playing_unpaused() && CDI.program_head) {
        if (program_peek_next()) {
            debug_log(1, "cb_cdrom_next: going to next selection\n");
            CDI.curtrack = disc_track_or(program_next_track(), CDI.curtrack);
        } else {
            debug_log(1, "cb_cdrom_next: no further selections in program\n");
        }
    } else {
        if (CDI.curtrack >= CDI.max) {
            debug_log(1, "cb_cdrom_next: at last track\n");
            return false;
        }
        CDI.curtrack = CDI.curtrack == 0 ? disc_track_or(CDI.min, 0) : CDI.curtrack + 1;
    }
    return true;
}

void cb_cdrom_next(Widget w, XtPointer, XtPointer)
{
    if (cdrom_open() == -1) {
        debug_log(1, "cb_cdrom_next: error from cdrom_open\n");
        return;
    }
    if (CDI.state & CDROM_EJECTED)
        cdrom_new_disc(w);
    CDI.state &= ~CDROM_EJECTED;
    set_button_state(ejectButton, False);
    if (!next_track())
        return;
    play_timer_stop();
    tick_count = 0;
    CDI.dur = 0;
    track_display_update();
    timer_display_update();
    if (CDI.state & CDROM_PAUSED) {
        debug_log(1, "cb_cdrom_next: paused on track %d\n", CDI.curtrack);
        start_paused();
    } else if (CDI.state & CDROM_PLAYING) {
        if (CDI.state & CDROM_SHUFFLE)
            CDI.curtrack = disc_track_or(shuffle_get_track(), CDI.min);
        debug_log(1, "cb_cdrom_next: playing track %d\n", CDI.curtrack);
        cdrom_play();
    } else {
        debug_log(1, "cb_cdrom_next: stopped on track %d\n", CDI.curtrack);
    }
}
