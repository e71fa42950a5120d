// The track number and the clock: two toggles of the logo area that show
// what the player is doing, and what the user asked to see by switching
// them on.
#include "ui/ui.h"

#include <X11/StringDefs.h>

#include <cstdio>

#include "app/app.h"
#include "disc/cdrom.h"
#include "names/names.h"
#include "playback/playback.h"
#include "program/program.h"

static void set_label(Widget w, const char *text)
{
    Arg arg;
    XtSetArg(arg, XtNlabel, text);
    XtSetValues(w, &arg, 1);
}

static void show_number(Widget w, int n)
{
    char text[16];
    snprintf(text, sizeof text, "%d\n", n);
    set_label(w, text);
}

// Both signs read as a minus sign and the time: what is left, or how far
// the position lies outside the track.
static void format_remaining(char *text, size_t size, int seconds)
{
    if (seconds >= 0) {
        snprintf(text, size, "-%02d:%02d\n", seconds / 60, seconds % 60);
    } else {
        unsigned a = 0u - static_cast<unsigned>(seconds);
        snprintf(text, size, "-%02u:%02u\n", a / 60, a % 60);
    }
}

static void format_elapsed(char *text, size_t size, int seconds)
{
    if (seconds >= 0) {
        unsigned s = static_cast<unsigned>(seconds);
        snprintf(text, size, "%02u:%02u\n", s / 60, s % 60);
    } else {
        unsigned a = 0u - static_cast<unsigned>(seconds);
        snprintf(text, size, "-%02u:%02u\n", a / 60, a % 60);
    }
}

// The disc's length from the lead-out address, or dashes when there is no
// table of contents to read it from.
static void format_disc_length(char *text, size_t size)
{
    size_t leadout = static_cast<size_t>(CDI.max - CDI.min + 1);
    if (cdrom_status() == CDROM_STATUS_NOSTATUS || !tables_present() ||
        CDI.max < CDI.min || leadout >= CDI.addrs.size()) {
        snprintf(text, size, "--:--\n");
        return;
    }
    const msf_t &end = CDI.addrs[leadout];
    snprintf(text, size, "-%02u:%02u\n", static_cast<unsigned>(end.minute),
             static_cast<unsigned>(end.second));
}

// The clock's text.  `on` is the button's state; `elapsed` whether the
// time played is shown when the button is off.
static void clock_text(char *text, size_t size, bool on, bool elapsed)
{
    if (on && CDI.curtrack != 0) {
        if ((CDI.state & CDROM_PROGRAM) && !(CDI.state & CDROM_PAUSED)) {
            format_remaining(text, size, program_time_remaining());
        } else if (track_on_disc(CDI.curtrack)) {
            format_remaining(text, size, CDI.times[CDI.curtrack - CDI.min] - CDI.dur);
        } else {
            snprintf(text, size, "--:--\n");  // a track the tables don't know
        }
    } else if (elapsed) {
        format_elapsed(text, size, CDI.dur);
    } else if (on) {
        format_disc_length(text, size);
    } else {
        snprintf(text, size, "--:--\n");
    }
}

void track_display_update()
{
    window_title_update();
    if (trackButton)
        show_number(trackButton, CDI.curtrack);
}

void timer_display_update()
{
    if (!app_resources.displayTimer || !timerButton)
        return;
    if (!(CDI.state & CDROM_PAUSED))
        CDI.dur = cdrom_get_curtime();
    char text[32];
    clock_text(text, sizeof text, get_button_state(timerButton), CDI.state & CDROM_PLAYING);
    set_label(timerButton, text);
}

void cb_track_button(Widget w, XtPointer, XtPointer)
{
    bool on = get_button_state(w);
    if (CDI.state & CDROM_EJECTED)
        cdrom_new_disc(w);
    show_number(w, on ? CDI.max : CDI.curtrack);
}

void cb_timer_button(Widget w, XtPointer, XtPointer)
{
    if (CDI.state & CDROM_EJECTED)
        cdrom_new_disc(w);
    CDI.dur = cdrom_get_curtime();
    char text[32];
    clock_text(text, sizeof text, get_button_state(w), CDI.curtrack != 0);
    set_label(w, text);
}
