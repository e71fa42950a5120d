// Start-up: the toolkit, the display, the application resources and the
// debug trace.
#include "app/app.h"

#include <X11/IntrinsicP.h>
#include <X11/Shell.h>
#include <X11/StringDefs.h>
#include <X11/Xatom.h>
#include <X11/Xaw/Form.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fallback_resources.h"
#include "ui/bitmaps/logo.xbm"
#include "ui/ui.h"

XtAppContext app_context;
Widget top_shell;
Widget mainForm;
AppResources app_resources;

#define offset(field) XtOffsetOf(AppResources, field)
// Each non-string resource defaults to the value already in its field, so
// a resource the database does not give keeps the default written first.
static XtResource resources[] = {
    {"file", "File", XtRString, sizeof(char *), offset(file), XtRString, nullptr},
    {"device", "Device", XtRString, sizeof(char *), offset(device), XtRString, nullptr},
    {"debug", "Debug", XtRBoolean, sizeof(Boolean), offset(debug), XtRBoolean,
     &app_resources.debug},
    {"displayTimer", "DisplayTimer", XtRBoolean, sizeof(Boolean), offset(displayTimer),
     XtRBoolean, &app_resources.displayTimer},
    {"volBase", "VolBase", XtRFloat, sizeof(float), offset(volBase), XtRFloat,
     &app_resources.volBase},
    {"volPcent", "VolPcent", XtRFloat, sizeof(float), offset(volPcent), XtRFloat,
     &app_resources.volPcent},
    {"replayThreshold", "replayThreshold", XtRInt, sizeof(int), offset(replayThreshold),
     XtRInt, &app_resources.replayThreshold},
    {"scanSkipInterval", "scanSkipInterval", XtRInt, sizeof(int), offset(scanSkipInterval),
     XtRInt, &app_resources.scanSkipInterval},
    {"scanPauseInterval", "scanPauseInterval", XtRFloat, sizeof(float),
     offset(scanPauseInterval), XtRFloat, &app_resources.scanPauseInterval},
    {"pauseSkipInterval", "pauseSkipInterval", XtRInt, sizeof(int), offset(pauseSkipInterval),
     XtRInt, &app_resources.pauseSkipInterval},
    {"pausePauseInterval", "pausePauseInterval", XtRFloat, sizeof(float),
     offset(pausePauseInterval), XtRFloat, &app_resources.pausePauseInterval},
    {"cdInfoDir", "cdInfoDir", XtRString, sizeof(char *), offset(cdInfoDir), XtRString,
     nullptr},
    {"digitalAudio", "DigitalAudio", XtRBoolean, sizeof(Boolean), offset(digitalAudio),
     XtRBoolean, &app_resources.digitalAudio},
    {"paranoia", "Paranoia", XtRBoolean, sizeof(Boolean), offset(paranoia), XtRBoolean,
     &app_resources.paranoia},
    {"deemphasis", "Deemphasis", XtRBoolean, sizeof(Boolean), offset(deemphasis), XtRBoolean,
     &app_resources.deemphasis},
    {"cdSpeed", "CdSpeed", XtRInt, sizeof(int), offset(cdSpeed), XtRInt,
     &app_resources.cdSpeed},
    {"audioDevice", "AudioDevice", XtRString, sizeof(char *), offset(audioDevice), XtRString,
     const_cast<char *>("default")},
    {"cddbPath", "CddbPath", XtRString, sizeof(char *), offset(cddbPath), XtRString,
     const_cast<char *>("~/.cddb:/var/lib/cddb")},
    {"lookup", "Lookup", XtRBoolean, sizeof(Boolean), offset(lookup), XtRBoolean,
     &app_resources.lookup},
    {"lookupServer", "LookupServer", XtRString, sizeof(char *), offset(lookupServer),
     XtRString, const_cast<char *>("https://musicbrainz.org")},
    {"coverArtServer", "CoverArtServer", XtRString, sizeof(char *), offset(coverArtServer),
     XtRString, const_cast<char *>("https://coverartarchive.org")},
};
#undef offset

// XrmOptionDescRec wants writable strings; the toolkit never writes them.
#define S(text) const_cast<char *>(text)
static XrmOptionDescRec options[] = {
    {S("-file"), S(".file"), XrmoptionSepArg, nullptr},
    {S("-device"), S(".device"), XrmoptionSepArg, nullptr},
    {S("-debug"), S(".debug"), XrmoptionNoArg, S("True")},
    {S("-displayTimer"), S(".displayTimer"), XrmoptionNoArg, S("True")},
    {S("-volBase"), S(".volBase"), XrmoptionSepArg, nullptr},
    {S("-volPcent"), S(".volPcent"), XrmoptionSepArg, nullptr},
    {S("-cdInfoDir"), S(".cdInfoDir"), XrmoptionSepArg, nullptr},
    {S("-digital"), S(".digitalAudio"), XrmoptionNoArg, S("True")},
    {S("-audioDevice"), S(".audioDevice"), XrmoptionSepArg, nullptr},
    {S("-lookup"), S(".lookup"), XrmoptionNoArg, S("True")},
};
#undef S

static void set_default_resources()
{
    app_resources = AppResources{};
    app_resources.debug = False;
    app_resources.displayTimer = True;
    app_resources.volBase = 187.0f;
    app_resources.volPcent = 0.267f;
    app_resources.replayThreshold = 4;
    app_resources.pauseSkipInterval = 15;
    app_resources.scanSkipInterval = 1;
    app_resources.scanPauseInterval = 0.062f;
    app_resources.pausePauseInterval = 0.5f;
    app_resources.digitalAudio = False;
    app_resources.paranoia = True;
    app_resources.deemphasis = True;
    app_resources.cdSpeed = 8;
    app_resources.lookup = False;
}

// The toolkit sleeps until its next timer in whole milliseconds, rounded
// down, and then polls without sleeping through the rest: close to a
// millisecond of busy waiting on every timer, four times a second while a
// disc plays.  Letting the kernel wake the process up to 2 ms late puts
// the wake-up past the deadline instead; the player's timers (250 ms
// ticks, 62 ms scan steps, the one-second poll) do not mind.
static void allow_late_wakeups()
{
#ifdef PR_SET_TIMERSLACK
    prctl(PR_SET_TIMERSLACK, 2000000UL);
#endif
}

Widget init_toolkit(int argc, char **argv)
{
    set_default_resources();
    allow_late_wakeups();
    XtToolkitInitialize();
    app_context = XtCreateApplicationContext();
    XtAppSetFallbackResources(app_context, fallback_resources);

    Display *dpy = XtOpenDisplay(app_context, nullptr, "murbel", "Murbel", options,
                                 XtNumber(options), &argc, argv);
    if (!dpy) {
        fputs("can't open display\n", stderr);
        exit(1);
    }

    top_shell = XtAppCreateShell("murbel", "Murbel", applicationShellWidgetClass, dpy,
                                 nullptr, 0);
    Pixmap icon = XCreateBitmapFromData(dpy, RootWindowOfScreen(XtScreen(top_shell)),
                                        reinterpret_cast<const char *>(logo_bits),
                                        logo_width, logo_height);
    XtVaSetValues(top_shell, XtNiconPixmap, icon, nullptr);

    XtGetApplicationResources(top_shell, &app_resources, resources, XtNumber(resources),
                              nullptr, 0);
    if (!app_resources.cdInfoDir) {
        if (const char *dir = getenv("MURBELINFODIR"))
            app_resources.cdInfoDir = strdup(dir);
    }

    return XtCreateWidget("mainForm", formWidgetClass, top_shell, nullptr, 0);
}

// _NET_WM_PID beside the toolkit's WM_CLIENT_MACHINE tells window managers
// (and tools such as xdotool) which process owns a window; set on each
// shell before it is mapped.
static void set_wm_pid(Widget shell, XtPointer, XtPointer)
{
    if (!XtIsRealized(shell))
        return;
    Display *dpy = XtDisplay(shell);
    long pid = getpid();  // format 32 properties are longs in Xlib
    XChangeProperty(dpy, XtWindow(shell), XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL,
                    32, PropModeReplace, reinterpret_cast<unsigned char *>(&pid), 1);
}

// Popup shells are realized before they pop up; XtPopup calls their
// popup callbacks before it maps them.
static void watch_popups(Widget w)
{
    if (!XtIsWidget(w))
        return;
    for (Cardinal i = 0; i < w->core.num_popups; i++) {
        XtAddCallback(w->core.popup_list[i], XtNpopupCallback, set_wm_pid, nullptr);
        watch_popups(w->core.popup_list[i]);
    }
    WidgetList children = nullptr;
    Cardinal n = 0;
    if (XtIsComposite(w))
        XtVaGetValues(w, XtNchildren, &children, XtNnumChildren, &n, nullptr);
    for (Cardinal i = 0; i < n; i++)
        watch_popups(children[i]);
}

void realize_main_window()
{
    XtManageChild(mainForm);
    watch_popups(top_shell);
    XtSetMappedWhenManaged(top_shell, False);
    XtRealizeWidget(top_shell);
    wm_protocols_set(top_shell);
    set_wm_pid(top_shell, nullptr, nullptr);
    XtSetMappedWhenManaged(top_shell, True);
    XtMapWidget(top_shell);
    window_title_update();  // the UTF-8 name needs the window
}

void debug_log(int level, const char *fmt, ...)
{
    if (!level || !app_resources.debug)
        return;
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stdout, fmt, ap);
    va_end(ap);
    fflush(stdout);
}

unsigned long interval_ms(float seconds)
{
    double ms = static_cast<double>(seconds) * 1000.0;
    if (!(ms > 0.0))  // negative or NaN: fire at once
        return 0;
    if (ms > 3600000.0)
        return 3600000;
    return static_cast<unsigned long>(ms);
}
