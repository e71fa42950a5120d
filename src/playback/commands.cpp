#include "playback/commands.h"

#include <X11/Intrinsic.h>
#include <unistd.h>

#include <cstdint>

#include "app/app.h"
#include "disc/cdrom.h"
#include "playback/playback.h"
#include "ui/ui.h"

// A press of the button as a click or a key makes it, so that the looks
// (Previous and Next are held only while pressed) and the trace are theirs.
static void click(Widget w)
{
    if (!w)
        return;
    XEvent ev{};
    ev.type = ButtonPress;
    ev.xbutton.display = XtDisplay(w);
    ev.xbutton.window = XtWindow(w);
    ev.xbutton.button = Button1;
    ev.xbutton.time = XtLastTimestampProcessed(XtDisplay(w));
    press_button(w, &ev);
}

// The buttons in the order of enum command.
static Widget *const buttons[] = {&playButton, &pauseButton, &stopButton, &prevButton,
                                  &nextButton, &cycleButton, &shuffleButton, &quitButton};

void command_run(command c)
{
    // The click must turn the stop button on to stop anything.
    if (c == command::stop && stopButton && get_button_state(stopButton))
        set_button_state(stopButton, False);
    click(*buttons[static_cast<int>(c)]);
}

void command_volume(float place)
{
    volume_move_thumb(place);
}

void command_open_device(const std::string &device)
{
    static std::string opened;  // owns app_resources.device once set here
    disc_remove(false);
    opened = device;
    app_resources.device = opened.data();
    set_button_state(ejectButton, True);
    click(playButton);
}

void command_raise()
{
    if (!top_shell || !XtIsRealized(top_shell))
        return;
    Display *dpy = XtDisplay(top_shell);
    Window w = XtWindow(top_shell);
    XMapRaised(dpy, w);
    // A window manager decides who gets the focus: ask it politely.
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = 1;
    ev.xclient.data.l[1] = static_cast<long>(XtLastTimestampProcessed(dpy));
    XSendEvent(dpy, DefaultRootWindow(dpy), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    XFlush(dpy);
}

// Only while the drive still says the play failed: a play asked for since
// is not undone by an old fault.
static void cb_play_failed(XtPointer, int *fd, XtInputId *)
{
    uint64_t count;
    while (read(*fd, &count, sizeof count) > 0)
        ;
    if ((CDI.state & CDROM_PLAYING) && cdrom_status() == CDROM_STATUS_ERROR)
        command_run(command::stop);
}

void command_watch_play_failures(int fd)
{
    static XtAppContext watched_in = nullptr;  // once per context
    if (fd < 0 || watched_in == app_context)
        return;
    XtAppAddInput(app_context, fd, reinterpret_cast<XtPointer>(XtInputReadMask), cb_play_failed,
                  nullptr);
    watched_in = app_context;
}
