// Keeping the player in step with the drive: the start-up sync, a new
// disc, eject, the one-second poll, and the quit and cycle buttons.
#include <cstdlib>

#include "app/app.h"
#include "disc/cdrom.h"
#include "playback/internal.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

static void show_no_disc()
{
    title = "No Disc";
    title_display_update();
}

void cdrom_sync_state()
{
    switch (cdrom_status()) {
    case CDROM_STATUS_PAUSED: {
        set_button_state(playButton, True);
        set_button_state(pauseButton, True);
        CDI.state |= CDROM_PLAYING;
        int t = cdrom_get_curtrack();
        if (drive_track_usable(t))
            CDI.curtrack = static_cast<uint8_t>(t);
        track_display_update();
        timer_display_update();  // before the flag: it still reads dur from the drive
        CDI.state |= CDROM_PAUSED;
        break;
    }
    case CDROM_STATUS_PLAYING:
        set_button_state(playButton, True);
        CDI.state |= CDROM_PLAYING;
        play_timer_start();  // its first tick takes over the drive's track
        break;
    case -1:
        set_button_state(ejectButton, True);
        CDI.state |= CDROM_EJECTED;
        show_no_disc();
        break;
    default:
        set_button_state(stopButton, True);
        break;
    }
}

void cdrom_new_disc(Widget w)
{
    debug_log(1, "cdrom_new_disc: resetting disc\n");
    cdrom_reset();
    CDI.state &= ~CDROM_EJECTED;
    set_button_state(ejectButton, False);
    if (!get_button_state(w))
        set_button_state(w, True);
    if (CDI.state & CDROM_SHUFFLE) {
        debug_log(1, "cb_cdrom_shuffle: shuffle on\n");
        CDI.state |= CDROM_SHUFFLE;
        shuffle_setup();
    }
}

void cb_cdrom_eject(Widget w, XtPointer, XtPointer)
{
    if (cdrom_open() == -1) {
        debug_log(1, "cb_cdrom_eject: error from cdrom_open\n");
        return;
    }
    if (!get_button_state(w))
        return;
    if (CDI.state & CDROM_EJECTED) {
        debug_log(1, "cb_cdrom_eject: already ejected\n");
        return;
    }
    debug_log(1, "cb_cdrom_eject: ejecting on track %d\n", CDI.curtrack);
    disc_remove(true);
}

void disc_remove(bool eject)
{
    cdrom_reset();
    CDI.max = 0;
    program_cancel();
    if (eject)
        cdrom_eject();  // a refusal still leaves the player without a disc
    CDI.state |= CDROM_EJECTED;
    cdrom_close();
    show_no_disc();
}

// Another disc put in a drive, or a disc image's cue sheet rewritten: the
// play stops and the new disc is read, as after an eject.
bool cdrom_disc_changed()
{
    if ((CDI.state & CDROM_EJECTED) || !cdrom_media_changed())
        return false;
    debug_log(1, "cdrom_disc_changed: new disc on track %d\n", CDI.curtrack);
    // A new disc is idle: no stop is asked of it at the old one's addresses.
    CDI.curtrack = 0;
    leds_off();
    disc_remove(false);
    return true;
}

void cdrom_poll(XtPointer, XtIntervalId *)
{
    cdrom_disc_changed();
    if (CDI.state & CDROM_EJECTED) {
        if (cdrom_open() == -1) {
            debug_log(1, "cdrom_open: cdrom not ready\n");
        } else {
            CDI.state &= ~CDROM_EJECTED;
            cdrom_sync_state();
        }
    }
    XtAppAddTimeOut(app_context, 1000, cdrom_poll, nullptr);
}

// The drive is not told to stop: a playing disc plays on after the player.
void cb_cdrom_quit(Widget, XtPointer, XtPointer)
{
    debug_log(1, "cb_cdrom_quit: bye\n");
    play_timer_stop();
    cdrom_close();
    exit(0);
}

void cb_cdrom_cycle(Widget, XtPointer, XtPointer)
{
    if (!(CDI.state & CDROM_CYCLE)) {
        debug_log(1, "cb_cdrom_cycle: cycle on\n");
        CDI.state |= CDROM_CYCLE;
    } else {
        debug_log(1, "cb_cdrom_cycle: cycle off\n");
        CDI.state &= ~CDROM_CYCLE;
    }
}
