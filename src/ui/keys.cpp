// The keyboard: every command of the button row, the title and the volume.
// The bindings are translations of the main form in the resource file;
// each action presses its button the way a click does, so the toggle
// states, the callbacks and the trace are a click's.  The main form takes
// the keys typed anywhere in the main window, and the title dialog's text
// field takes them all while the dialog is up.
#include "ui/ui.h"

#include <X11/StringDefs.h>
#include <X11/XKBlib.h>
#include <X11/Xaw/Toggle.h>

#include <cstdint>

#include "app/app.h"
#include "disc/cdrom.h"

static Widget key_form;  // where the bindings live

static Widget shell_of(Widget w)
{
    while (w && !XtIsShell(w))
        w = XtParent(w);
    return w;
}

// A held key repeats; a held button does not.  With detectable repeat the
// server sends presses only while the key is down, so a press of a key
// already down (and pressed again lately: a lost release must not swallow
// a real press) is a repeat.
static bool key_down[256];
static Time key_time[256];

static bool is_repeat(XEvent *event)
{
    if (!event || event->type != KeyPress)
        return false;
    unsigned code = event->xkey.keycode & 0xff;
    bool repeat = key_down[code] && event->xkey.time - key_time[code] < 1000;
    key_down[code] = true;
    key_time[code] = event->xkey.time;
    return repeat;
}

static void key_released(Widget, XtPointer, XEvent *event, Boolean *)
{
    if (event->type == KeyRelease)
        key_down[event->xkey.keycode & 0xff] = false;
}

// A click on previous, next or the title bar only holds the button while
// the pointer does; the other toggles stay as the click left them.
static bool is_momentary(Widget w)
{
    return w == prevButton || w == nextButton || !XtIsSubclass(w, toggleWidgetClass);
}

void press_button(Widget w, XEvent *event)
{
    if (!w || !XtIsSensitive(w))
        return;
    if (is_momentary(w)) {
        XtCallActionProc(w, "set", event, nullptr, 0);
        XtCallActionProc(w, "notify", event, nullptr, 0);
        XtCallActionProc(w, "unset", event, nullptr, 0);
    } else {
        XtCallActionProc(w, "toggle", event, nullptr, 0);
        XtCallActionProc(w, "notify", event, nullptr, 0);
    }
}

#define BUTTON_ACTION(name, button)                                  \
    static void name(Widget, XEvent *event, String *, Cardinal *)    \
    {                                                                \
        if (!is_repeat(event))                                       \
            press_button(button, event);                             \
    }

BUTTON_ACTION(pause_action, pauseButton)
BUTTON_ACTION(stop_action, stopButton)
BUTTON_ACTION(previous_action, prevButton)
BUTTON_ACTION(next_action, nextButton)
BUTTON_ACTION(rewind_action, rewButton)
BUTTON_ACTION(fast_forward_action, ffButton)
BUTTON_ACTION(eject_action, ejectButton)
BUTTON_ACTION(cycle_action, cycleButton)
BUTTON_ACTION(shuffle_action, shuffleButton)
BUTTON_ACTION(program_action, pgmButton)
BUTTON_ACTION(quit_action, quitButton)
BUTTON_ACTION(title_action, titleBar)

// Stopped, the one play/pause key plays; playing or paused, it pauses or
// resumes, as the pause button does.
static void play_pause_action(Widget, XEvent *event, String *, Cardinal *)
{
    if (is_repeat(event))
        return;
    press_button(CDI.state & CDROM_PLAYING ? pauseButton : playButton, event);
}

static void volume_up_action(Widget, XEvent *, String *, Cardinal *)
{
    volume_step(1);
}

static void volume_down_action(Widget, XEvent *, String *, Cardinal *)
{
    volume_step(-1);
}

static XtActionsRec actions[] = {
    {"PlayPause", play_pause_action},     // play when stopped, else pause or resume
    {"Pause", pause_action},              // the pause button
    {"Stop", stop_action},                // the stop button
    {"Previous", previous_action},        // the previous button
    {"Next", next_action},                // the next button
    {"Rewind", rewind_action},            // the rewind toggle: on, or off again
    {"FastForward", fast_forward_action}, // the fast-forward toggle
    {"Eject", eject_action},              // the eject button
    {"Cycle", cycle_action},              // repeat on or off
    {"Shuffle", shuffle_action},          // shuffle on or off
    {"Program", program_action},          // the program button
    {"Quit", quit_action},                // the quit button
    {"Title", title_action},              // open the title dialog
    {"VolumeUp", volume_up_action},       // louder by a sixteenth of the scale
    {"VolumeDown", volume_down_action},   // quieter by as much
};

void keys_create(Widget form)
{
    key_form = form;
    XtAppAddActions(app_context, actions, XtNumber(actions));
    XkbSetDetectableAutoRepeat(XtDisplay(form), True, nullptr);
    XtAddEventHandler(form, KeyReleaseMask, False, key_released, nullptr);
    keys_focus(nullptr);
}

void keys_focus(Widget target)
{
    if (!key_form)
        return;
    Widget shell = shell_of(key_form);
    if (!target) {
        XtSetKeyboardFocus(shell, key_form);
        return;
    }
    // Keys typed in the main window go to TARGET too, and the bindings of
    // the main form rest meanwhile.
    XtSetKeyboardFocus(shell, target);
    XtSetKeyboardFocus(shell_of(target), target);
}
