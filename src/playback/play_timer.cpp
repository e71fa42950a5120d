// The play tick that watches the drive, and what comes after a track.
#include "app/app.h"
#include "disc/cdrom.h"
#include "playback/internal.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

bool follow_drive_track()
{
    if (cdrom_disc_changed())
        return false;  // the player was reset for the disc now in
    int t = cdrom_get_curtrack();
    // A failed query, or a track the disc lacks, counts as no change.
    if (t == CDI.curtrack || !drive_track_usable(t))
        return true;
    if (t == 0) {
        cdrom_atend();
        return false;
    }
    tick_count = 0;
    CDI.dur = 0;
    timer_display_update();  // before the change, as the next tick shows it again
    CDI.curtrack = static_cast<uint8_t>(t);
    track_display_update();
    return true;
}

void cb_play_tick(XtPointer, XtIntervalId *id)
{
    // Xt recycles a fired timer's id: it must never be removed later.
    if (id && *id == play_timer)
        play_timer = TIMER_NONE;

    if (!follow_drive_track() || scan_tick_step(cb_play_tick))
        return;
    // The time display needs a further drive query: once a second.
    if (tick_count++ % 4 == 0)
        timer_display_update();
    play_timer_arm(250, cb_play_tick);
}

// Chooses the track after the one that ended; false when play is over
// (the player has been reset).
static bool choose_next()
{
    if (CDI.state & CDROM_SHUFFLE) {
        if (CDI.currand == CDI.total) {
            if (!(CDI.state & CDROM_CYCLE)) {
                debug_log(1, "cdrom_atend: shuffle done\n");
                cdrom_reset();
                return false;
            }
            debug_log(1, "cdrom_atend: shuffle cycling\n");
            shuffle_setup();
        }
        CDI.curtrack = disc_track_or(shuffle_get_track(), CDI.min);
    } else if (CDI.state & CDROM_PROGRAM) {
        uint8_t t = disc_track_or(program_next_track(), 0);
        if (t == 0) {
            if (!(CDI.state & CDROM_CYCLE)) {
                debug_log(1, "cdrom_atend: all done\n");
                cdrom_reset();
                return false;
            }
            debug_log(1, "cdrom_atend: cycling program\n");
            t = disc_track_or(program_first_track(), CDI.min);
        }
        CDI.curtrack = t;
    } else if (CDI.curtrack != 0 && CDI.curtrack < CDI.max && !track_is_data(CDI.curtrack + 1)) {
        // Never on into a data track (the data session of an enhanced CD).
        debug_log(1, "cdrom_atend: continuing\n");
        CDI.curtrack++;
    } else if (CDI.state & CDROM_CYCLE) {
        debug_log(1, "cdrom_atend: cycling\n");
        CDI.curtrack = disc_track_or(CDI.min, 0);
    } else {
        debug_log(1, "cdrom_atend: all done\n");
        cdrom_sync_state();
        cdrom_reset();
        return false;
    }
    return true;
}

void cdrom_atend()
{
    play_timer_stop();
    leds_off();
    debug_log(1, "cdrom_atend: at end\n");
    if (!choose_next())
        return;
    tick_count = 0;
    CDI.dur = 0;
    timer_display_update();
    cdrom_play();
    // Only a scan made while paused runs a paused player into the end of its
    // range: stay paused at the start of what comes next, as a step does.
    if (CDI.state & CDROM_PAUSED) {
        cdrom_pause();
        play_timer_stop();
    }
}
