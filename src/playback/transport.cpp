// Play, pause and stop, and the play timer they start and remove.
#include "app/app.h"
#include "disc/cdrom.h"
#include "playback/internal.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

unsigned long last_timeout_ms = 0;

bool drive_track_usable(int t)
{
    return t == 0 || track_on_disc(t);
}

uint8_t disc_track_or(int t, int fallback)
{
    if (track_on_disc(t))
        return static_cast<uint8_t>(t);
    if (track_on_disc(fallback))
        return static_cast<uint8_t>(fallback);
    return 0;
}

void play_timer_arm(unsigned long ms, XtTimerCallbackProc proc)
{
    if (play_timer != TIMER_NONE)
        XtRemoveTimeOut(play_timer);
    play_timer = XtAppAddTimeOut(app_context, ms, proc, nullptr);
    last_timeout_ms = ms;
}

void play_timer_start()
{
    if (CDI.state & CDROM_PLAYING)
        play_timer_arm(250, cb_play_tick);
}

// Also ends a paused scan: its ticks live in play_timer once the first has
// fired, and a chain left behind would go on moving the drive.
void play_timer_stop()
{
    if (play_timer != TIMER_NONE) {
        XtRemoveTimeOut(play_timer);
        play_timer = TIMER_NONE;
    }
    scan_chain_end();
}

int cdrom_play()
{
    debug_log(1, "cdrom_play: starting track %d\n", CDI.curtrack);
    track_display_update();
    int last = (CDI.state & (CDROM_SHUFFLE | CDROM_PROGRAM)) ? CDI.curtrack : CDI.max;
    int rc = -1;
    // No current track (a drive picked up playing at start-up): the drive
    // is not asked for a track the disc lacks.
    if (track_on_disc(CDI.curtrack) && track_on_disc(last))
        rc = cdrom_play_tracks(CDI.curtrack, static_cast<uint8_t>(last));
    play_timer_start();
    return rc;
}

void cb_cdrom_play(Widget w, XtPointer, XtPointer)
{
    if (cdrom_open() == -1) {
        debug_log(1, "cb_cdrom_play: error from cdrom_open\n");
        set_button_state(playButton, False);
        set_button_state(ejectButton, True);
        return;
    }
    if (CDI.state & CDROM_EJECTED)
        cdrom_new_disc(w);
    if (CDI.state & CDROM_PLAYING) {
        debug_log(1, "cb_cdrom_play: already playing track %d\n", CDI.curtrack);
        // The click flipped the button off; the player still plays.
        set_button_state(playButton, True);
        return;
    }
    if (CDI.curtrack == 0) {
        CDI.curtrack = disc_track_or(CDI.min, 0);
        track_display_update();
    }
    CDI.state |= CDROM_PLAYING;
    // The stop button shows on while the disc is stopped; left on once play
    // starts, the next click on it would turn it off and not stop anything.
    set_button_state(stopButton, False);
    if (CDI.state & CDROM_PAUSED) {
        debug_log(1, "cb_cdrom_play: paused on track %d\n", CDI.curtrack);
        set_button_state(playButton, True);
        return;
    }
    tick_count = 0;
    CDI.dur = 0;
    if (CDI.state & CDROM_SHUFFLE) {
        // Played through (and reset), the order starts afresh rather than
        // running off its end.
        if (CDI.currand == CDI.total && CDI.total > 0)
            shuffle_setup();
        CDI.curtrack = disc_track_or(shuffle_get_track(), CDI.min);
    } else if (CDI.state & CDROM_PROGRAM) {
        // A selection the disc lacks cannot be played any more than one
        // that carries no track.
        uint8_t t = disc_track_or(program_first_track(), 0);
        if (t != 0) {
            CDI.curtrack = t;
            debug_log(1, "cb_cdrom_play: resetting timer button\n");
            set_button_state(timerButton, False);
        } else {
            debug_log(1, "cb_cdrom_play: cancelling program\n");
            program_cancel();
            CDI.curtrack = disc_track_or(CDI.min, 0);
        }
    }
    cdrom_play();
    timer_display_update();
}

static void pause_drive()
{
    CDI.state |= CDROM_PAUSED;
    debug_log(1, "cb_cdrom_pause: pausing on track %d\n", CDI.curtrack);
    if (cdrom_pause() != -1) {
        CDI.state |= CDROM_PLAYING;
        set_button_state(ejectButton, False);
        set_button_state(playButton, True);
        set_button_state(stopButton, False);
    }
    play_timer_stop();
}

static void resume_drive()
{
    CDI.state &= ~CDROM_PAUSED;
    // A paused scan still under way ends here; the play tick takes over
    // the scanning while a scan button stays on.
    play_timer_stop();
    if (CDI.state & CDROM_PROGRAM)
        CDI.curtrack = disc_track_or(program_first_track(), CDI.curtrack);
    if (CDI.curtrack == 0) {
        CDI.curtrack = disc_track_or(CDI.min, 0);
        track_display_update();
    }
    debug_log(1, "cb_cdrom_pause: resuming track %d\n", CDI.curtrack);
    if (cdrom_get_curtrack() == CDI.curtrack && CDI.dur > 0) {
        if (cdrom_resume() != -1) {
            CDI.state &= ~CDROM_EJECTED;
            set_button_state(ejectButton, False);
        }
        play_timer_start();
    } else if (cdrom_play() != -1) {
        CDI.state &= ~CDROM_EJECTED;
        set_button_state(ejectButton, False);
    }
}

void cb_cdrom_pause(Widget w, XtPointer, XtPointer)
{
    if (cdrom_open() == -1) {
        debug_log(1, "cb_cdrom_pause: error from cdrom_open\n");
        set_button_state(pauseButton, False);
        return;
    }
    if (CDI.state & CDROM_EJECTED)
        cdrom_new_disc(w);
    if (CDI.state & CDROM_PAUSED)
        resume_drive();
    else
        pause_drive();
}

void cb_cdrom_stop(Widget w, XtPointer, XtPointer)
{
    if (cdrom_open() == -1) {
        debug_log(1, "cb_cdrom_stop: error from cdrom_open\n");
        set_button_state(stopButton, False);
        set_button_state(ejectButton, True);
        return;
    }
    if (!get_button_state(w)) {
        debug_log(1, "cb_cdrom_stop: already stopped\n");
        return;
    }
    debug_log(1, "cb_cdrom_stop: resetting disc\n");
    cdrom_reset();
    if (CDI.state & CDROM_SHUFFLE) {
        debug_log(1, "cb_cdrom_shuffle: shuffle on\n");
        CDI.state |= CDROM_SHUFFLE;
        shuffle_setup();
    }
}

void cdrom_reset()
{
    play_timer_stop();
    if (CDI.curtrack != 0) {
        // Leave the drive stopped at the first track, not wherever it was.
        CDI.curtrack = CDI.min;
        cdrom_play();
        cdrom_stop();
        debug_log(1, "cdrom_reset: forcing immediate stop\n");
        leds_off();
        play_timer_stop();
        CDI.curtrack = 0;
    }
    CDI.state &= ~(CDROM_PLAYING | CDROM_PAUSED | CDROM_EJECTED);
    title_display_update();
    set_button_state(playButton, False);
    set_button_state(pauseButton, False);
    set_button_state(timerButton, False);
    track_display_update();
    timer_display_update();
}
