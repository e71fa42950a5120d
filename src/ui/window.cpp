// The main window's upper areas: the logo area with its displays and the
// row of transport buttons, their images, and the scanning indicator.
// Placement, fonts and colours come from the resource database.
#include "ui/ui.h"

#include <X11/IntrinsicP.h>
#include <X11/Shell.h>
#include <X11/StringDefs.h>
#include <X11/Xaw/Command.h>
#include <X11/Xaw/Dialog.h>
#include <X11/Xaw/Form.h>
#include <X11/Xaw/Label.h>
#include <X11/Xaw/Scrollbar.h>
#include <X11/Xaw/Toggle.h>
#include <X11/Xaw/Viewport.h>

#include <cstdio>

#include "app/app.h"
#include "disc/cdrom.h"
#include "names/names.h"
#include "playback/playback.h"
#include "program/program.h"

#include "ui/bitmaps/check.xbm"
#include "ui/bitmaps/clear.xbm"
#include "ui/bitmaps/cycle.xbm"
#include "ui/bitmaps/eject.xbm"
#include "ui/bitmaps/ff.xbm"
#include "ui/bitmaps/led0.xbm"
#include "ui/bitmaps/led1.xbm"
#include "ui/bitmaps/led2.xbm"
#include "ui/bitmaps/led3.xbm"
#include "ui/bitmaps/led4.xbm"
#include "ui/bitmaps/led5.xbm"
#include "ui/bitmaps/led6.xbm"
#include "ui/bitmaps/led7.xbm"
#include "ui/bitmaps/led_off.xbm"
#include "ui/bitmaps/logo.xbm"
#include "ui/bitmaps/next.xbm"
#include "ui/bitmaps/pause.xbm"
#include "ui/bitmaps/pgm.xbm"
#include "ui/bitmaps/play.xbm"
#include "ui/bitmaps/prev.xbm"
#include "ui/bitmaps/quit.xbm"
#include "ui/bitmaps/rew.xbm"
#include "ui/bitmaps/shuffle.xbm"
#include "ui/bitmaps/stop.xbm"

Widget trackButton, timerButton, volumeScrollbar;
Widget titleBar, titleShell, titleDialog;
Widget playButton, pauseButton, stopButton, prevButton, nextButton;
Widget ejectButton, quitButton, cycleButton, shuffleButton;
Widget rewButton, ffButton, pgmButton;
Widget ledsLabel;
Pixmap led_frames[8];
Pixmap led_off_frame;

static const char *const VERSION = "2.2";
static const int PATCHLEVEL = 0;

static Pixmap make_bitmap(Widget w, const unsigned char *bits, unsigned width, unsigned height)
{
    return XCreateBitmapFromData(XtDisplay(w), RootWindowOfScreen(XtScreen(w)),
                                 reinterpret_cast<const char *>(bits), width, height);
}

static void set_bitmap(Widget w, Pixmap bitmap)
{
    Arg arg;
    XtSetArg(arg, XtNbitmap, bitmap);
    XtSetValues(w, &arg, 1);
}

static void set_label(Widget w, const char *text)
{
    Arg arg;
    XtSetArg(arg, XtNlabel, text);
    XtSetValues(w, &arg, 1);
}

// The window manager's close (a title bar's button, Alt+F4) arrives as a
// WM_DELETE_WINDOW message on each shell that takes part in the protocol;
// without one the window manager cuts the connection.  The resource file
// binds the message to WMProtocols() in each shell's translations.
static Atom wm_delete_window;

static void wm_protocols_action(Widget w, XEvent *event, String *, Cardinal *)
{
    if (event->type != ClientMessage ||
        static_cast<Atom>(event->xclient.data.l[0]) != wm_delete_window)
        return;
    if (w == titleShell)
        title_cancel();
    else if (w == top_shell)
        press_button(quitButton, event);
}

void wm_protocols_set(Widget shell)
{
    Display *dpy = XtDisplay(shell);
    wm_delete_window = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    // A resource file of an older version, found before the compiled-in
    // copy, lacks the binding: the close would then do nothing at all.
    XtAugmentTranslations(shell, XtParseTranslationTable("<Message>WM_PROTOCOLS: WMProtocols()"));
    XSetWMProtocols(dpy, XtWindow(shell), &wm_delete_window, 1);
}

static XtActionsRec actions[] = {
    {"done", title_done_action},           // accept the title dialog (bound to keys by resources)
    {"WMProtocols", wm_protocols_action},  // the window manager's close of a shell
};

static void volume_scrollbar_create(Widget logoForm)
{
    Cardinal depth = 0;
    Arg arg;
    XtSetArg(arg, XtNdepth, &depth);
    XtGetValues(logoForm, &arg, 1);

    // A one-bit screen has no grey: the bar gets a stipple and a plain thumb.
    Arg args[2];
    Cardinal n = 0;
    if (depth == 1) {
        XtSetArg(args[n], XtNbackgroundPixmap, make_bitmap(logoForm, check_bits, check_width,
                                                           check_height));
        n++;
        XtSetArg(args[n], XtNthumb, make_bitmap(logoForm, clear_bits, clear_width,
                                                clear_height));
        n++;
    }
    volumeScrollbar = XtCreateManagedWidget("volumeScrollbar", scrollbarWidgetClass, logoForm,
                                            args, n);
    XtAddCallback(volumeScrollbar, XtNjumpProc, cb_volume_jump, nullptr);
    XtAddCallback(volumeScrollbar, XtNscrollProc, cb_volume_scroll, nullptr);
    volume_init();
}

static void title_create(Widget logoForm)
{
    Widget viewport = XtCreateManagedWidget("titleBarViewport", viewportWidgetClass, logoForm,
                                            nullptr, 0);
    Widget titleForm = XtCreateManagedWidget("titleForm", formWidgetClass, viewport, nullptr, 0);

    // Resizable, so that each new title gets the width it needs (the
    // viewport scrolls it); the Form refuses a child that is not.
    std::string text = names_title_text();
    Arg args[2];
    XtSetArg(args[0], XtNlabel, text.c_str());
    XtSetArg(args[1], XtNresizable, True);
    titleBar = XtCreateManagedWidget("titleBar", commandWidgetClass, titleForm, args, 2);
    Arg arg;
    titleShell = XtCreatePopupShell("titleShell", transientShellWidgetClass, titleBar, nullptr, 0);
    XtSetArg(arg, XtNlabel, "Title: ");
    titleDialog = XtCreateManagedWidget("titleDialog", dialogWidgetClass, titleShell, &arg, 1);
    Widget done = XtCreateManagedWidget("Done", commandWidgetClass, titleDialog, nullptr, 0);

    XtAppAddActions(app_context, actions, XtNumber(actions));
    XtAddCallback(titleBar, XtNcallback, cb_title_bar, nullptr);
    XtAddCallback(done, XtNcallback, cb_title_done, titleDialog);
}

void logo_form_create(Widget parent)
{
    Widget logoForm = XtCreateManagedWidget("logoForm", formWidgetClass, parent, nullptr, 0);
    Widget logoLabel = XtCreateManagedWidget("logoLabel", labelWidgetClass, logoForm, nullptr, 0);
    Pixmap logo = make_bitmap(logoLabel, logo_bits, logo_width, logo_height);

    char version[32];
    snprintf(version, sizeof version, "Murbel %s%d", VERSION, PATCHLEVEL);
    Arg args[2];
    XtSetArg(args[0], XtNjustify, XtJustifyRight);
    XtSetArg(args[1], XtNlabel, version);
    XtCreateManagedWidget("versionLabel", labelWidgetClass, logoForm, args, 2);
    set_bitmap(logoLabel, logo);

    leds_create(logoForm);

    trackButton = XtCreateManagedWidget("trackButton", toggleWidgetClass, logoForm, nullptr, 0);
    XtAddCallback(trackButton, XtNcallback, cb_track_button, nullptr);
    char track[16];
    snprintf(track, sizeof track, "%d\n", CDI.curtrack);
    set_label(trackButton, track);

    if (app_resources.displayTimer) {
        timerButton = XtCreateManagedWidget("timerButton", toggleWidgetClass, logoForm, nullptr, 0);
        XtAddCallback(timerButton, XtNcallback, cb_timer_button, nullptr);
        timer_display_update();
    }

    volume_scrollbar_create(logoForm);
    title_create(logoForm);
}

// The scanning indicator.

// The label keeps one bitmap of its own, and each frame is copied into it:
// a new bitmap through XtSetValues costs a round trip to the server (the
// label asks for its size) and an Expose, four times a second.
static Pixmap led_shown;
static GC led_gc;

static void led_show(Pixmap frame)
{
    XCopyArea(XtDisplay(ledsLabel), frame, led_shown, led_gc, 0, 0, led_off_width,
              led_off_height, 0, 0);
    if (XtIsRealized(ledsLabel))
        XtClass(ledsLabel)->core_class.expose(ledsLabel, nullptr, nullptr);
}

void leds_create(Widget parent)
{
    static const unsigned char *const frames[8] = {led0_bits, led1_bits, led2_bits, led3_bits,
                                                   led4_bits, led5_bits, led6_bits, led7_bits};
    static_assert(led0_width == led_off_width && led0_height == led_off_height,
                  "every frame fills the indicator");
    ledsLabel = XtCreateManagedWidget("ledsLabel", labelWidgetClass, parent, nullptr, 0);
    for (int i = 0; i < 8; i++)
        led_frames[i] = make_bitmap(ledsLabel, frames[i], led0_width, led0_height);
    led_off_frame = make_bitmap(ledsLabel, led_off_bits, led_off_width, led_off_height);
    led_shown = make_bitmap(ledsLabel, led_off_bits, led_off_width, led_off_height);
    if (led_gc)
        XFreeGC(XtDisplay(ledsLabel), led_gc);
    XGCValues values;
    values.graphics_exposures = False;  // a NoExpose event would wake the loop
    led_gc = XCreateGC(XtDisplay(ledsLabel), led_shown, GCGraphicsExposures, &values);
    set_bitmap(ledsLabel, led_shown);
}

void leds_animate(int direction)
{
    if (!ledsLabel)
        return;
    // Only the index modulo 8 matters; keeping it reduced stops it growing.
    if (direction == -1) {
        led_index = (led_index % 8 + 8 + 7) % 8;
        led_show(led_frames[led_index]);
    } else {
        led_index = (led_index % 8 + 8) % 8;
        led_show(led_frames[led_index]);
        led_index = (led_index + 1) % 8;
    }
}

void leds_off()
{
    if (ledsLabel)
        led_show(led_off_frame);
}

// The transport buttons.

struct ButtonSpec {
    const char *name;
    Widget *handle;
    const unsigned char *bits;
    XtCallbackProc callback;
    bool momentary;  // a command, drawn pressed only while it is held
};

static const ButtonSpec buttons[] = {
    {"playButton", &playButton, play_bits, cb_cdrom_play, false},
    {"pauseButton", &pauseButton, pause_bits, cb_cdrom_pause, false},
    {"stopButton", &stopButton, stop_bits, cb_cdrom_stop, false},
    {"prevButton", &prevButton, prev_bits, cb_cdrom_previous, true},
    {"nextButton", &nextButton, next_bits, cb_cdrom_next, true},
    {"ejectButton", &ejectButton, eject_bits, cb_cdrom_eject, false},
    {"quitButton", &quitButton, quit_bits, cb_cdrom_quit, false},
    {"cycleButton", &cycleButton, cycle_bits, cb_cdrom_cycle, false},
    {"shuffleButton", &shuffleButton, shuffle_bits, cb_cdrom_shuffle, false},
    {"rewButton", &rewButton, rew_bits, cb_cdrom_rew, false},
    {"ffButton", &ffButton, ff_bits, cb_cdrom_ff, false},
    {"pgmButton", &pgmButton, pgm_bits, cb_cdrom_program, false},
};

// Previous and next change no state of their own: the toggle goes on when
// pressed and off again once its callback has run on the release.
static const char momentary_translations[] = "<EnterWindow>: highlight(Always)\n"
                                             "<LeaveWindow>: unhighlight()\n"
                                             "<Btn1Down>: set()\n"
                                             "<Btn1Up>: notify() unset()";

void buttons_form_create(Widget parent)
{
    Widget buttonsForm = XtCreateManagedWidget("buttonsForm", formWidgetClass, parent, nullptr, 0);
    XtTranslations momentary = XtParseTranslationTable(momentary_translations);
    for (const ButtonSpec &b : buttons) {
        Widget w = XtCreateManagedWidget(b.name, toggleWidgetClass, buttonsForm, nullptr, 0);
        set_bitmap(w, make_bitmap(w, b.bits, play_width, play_height));
        XtAddCallback(w, XtNcallback, b.callback, nullptr);
        if (b.momentary)
            XtVaSetValues(w, XtNtranslations, momentary, nullptr);
        *b.handle = w;
    }
    keys_create(parent);
    cdrom_sync_state();
}

void set_button_state(Widget button, Boolean on)
{
    if (!button)
        return;
    Arg arg;
    XtSetArg(arg, XtNstate, on ? True : False);
    XtSetValues(button, &arg, 1);
}

Boolean get_button_state(Widget button)
{
    if (!button)
        return False;
    Boolean on = False;
    Arg arg;
    XtSetArg(arg, XtNstate, &on);
    XtGetValues(button, &arg, 1);
    return on;
}
