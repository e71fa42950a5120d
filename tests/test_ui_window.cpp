// The main window's widget tree, its images, the callbacks wired to the
// buttons, the button looks and the scanning indicator.
#include "support/player_fixture.h"

#include <X11/Shell.h>
#include <X11/StringDefs.h>
#include <X11/Xaw/Command.h>
#include <X11/Xaw/Dialog.h>
#include <X11/Xaw/Form.h>
#include <X11/Xaw/Label.h>
#include <X11/Xaw/Scrollbar.h>
#include <X11/Xaw/Toggle.h>
#include <X11/Xaw/Viewport.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "disc/cdrom.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

namespace {

std::vector<std::string> child_names(Widget w)
{
    WidgetList children = nullptr;
    Cardinal count = 0;
    XtVaGetValues(w, XtNchildren, &children, XtNnumChildren, &count, nullptr);
    std::vector<std::string> names;
    for (Cardinal i = 0; i < count; i++)
        names.push_back(XtName(children[i]));
    return names;
}

Pixmap bitmap_of(Widget w)
{
    Pixmap p = 0;
    XtVaGetValues(w, XtNbitmap, &p, nullptr);
    return p;
}

struct Size {
    unsigned width, height, depth;
};

Size pixmap_size(Widget w, Pixmap p)
{
    Window root;
    int x, y;
    unsigned width = 0, height = 0, border, depth = 0;
    XGetGeometry(XtDisplay(w), p, &root, &x, &y, &width, &height, &border, &depth);
    return {width, height, depth};
}

// A bitmap's pixels, to tell which frame the indicator shows.
std::vector<unsigned long> bits_of(Widget w, Pixmap p)
{
    Size size = pixmap_size(w, p);
    std::vector<unsigned long> bits;
    XImage *image = XGetImage(XtDisplay(w), p, 0, 0, size.width, size.height, 1, XYPixmap);
    if (!image)
        return bits;
    for (unsigned y = 0; y < size.height; y++)
        for (unsigned x = 0; x < size.width; x++)
            bits.push_back(XGetPixel(image, static_cast<int>(x), static_cast<int>(y)));
    XDestroyImage(image);
    return bits;
}

// The one procedure and client data of a callback list.
XtCallbackRec only_callback(Widget w, const char *resource)
{
    XtCallbackList list = nullptr;
    XtVaGetValues(w, resource, &list, nullptr);
    if (!list || !list[0].callback || list[1].callback)
        return {nullptr, nullptr};
    return list[0];
}

void expect_widget(Widget w, const char *name, WidgetClass cls, Widget parent)
{
    ASSERT_NE(w, nullptr) << name;
    EXPECT_STREQ(XtName(w), name);
    EXPECT_EQ(XtClass(w), cls) << name;
    EXPECT_EQ(XtParent(w), parent) << name;
}

}  // namespace

TEST_F(PlayerTest, LogoAreaIsBuiltInOrderWithItsNamesAndClasses)
{
    start_player(demo_disc());

    Widget logoForm = XtNameToWidget(mainForm, "logoForm");
    expect_widget(logoForm, "logoForm", formWidgetClass, mainForm);
    EXPECT_EQ(child_names(logoForm),
              (std::vector<std::string>{"logoLabel", "versionLabel", "ledsLabel", "trackButton",
                                        "timerButton", "volumeScrollbar", "titleBarViewport"}));
    expect_widget(XtNameToWidget(logoForm, "logoLabel"), "logoLabel", labelWidgetClass, logoForm);
    expect_widget(XtNameToWidget(logoForm, "versionLabel"), "versionLabel", labelWidgetClass,
                  logoForm);
    expect_widget(ledsLabel, "ledsLabel", labelWidgetClass, logoForm);
    expect_widget(trackButton, "trackButton", toggleWidgetClass, logoForm);
    expect_widget(timerButton, "timerButton", toggleWidgetClass, logoForm);
    expect_widget(volumeScrollbar, "volumeScrollbar", scrollbarWidgetClass, logoForm);

    Widget viewport = XtNameToWidget(logoForm, "titleBarViewport");
    expect_widget(viewport, "titleBarViewport", viewportWidgetClass, logoForm);
    Widget titleForm = XtNameToWidget(viewport, "titleForm");
    expect_widget(titleForm, "titleForm", formWidgetClass, viewport);
    expect_widget(titleBar, "titleBar", commandWidgetClass, titleForm);
    expect_widget(titleShell, "titleShell", transientShellWidgetClass, titleBar);
    EXPECT_EQ(XtNameToWidget(titleBar, "titleShell"), titleShell);
    expect_widget(titleDialog, "titleDialog", dialogWidgetClass, titleShell);
    expect_widget(XtNameToWidget(titleDialog, "Done"), "Done", commandWidgetClass, titleDialog);

    // The dialog waits, popped down, until the title bar is clicked.
    XWindowAttributes attrs{};
    if (XtIsRealized(titleShell)) {
        XGetWindowAttributes(XtDisplay(titleShell), XtWindow(titleShell), &attrs);
        EXPECT_NE(attrs.map_state, IsViewable);
    }

    Widget version = XtNameToWidget(logoForm, "versionLabel");
    EXPECT_EQ(label_of(version), "Murbel 2.20");
    XtJustify justify = XtJustifyCenter;
    XtVaGetValues(version, XtNjustify, &justify, nullptr);
    EXPECT_EQ(justify, XtJustifyRight);
    EXPECT_EQ(label_of(trackButton), "0\n");  // no current track at start
    EXPECT_EQ(label_of(titleBar), "No Title");
}

TEST_F(PlayerTest, ButtonRowHoldsTheTwelveButtonsInOrder)
{
    start_player(demo_disc());

    Widget buttonsForm = XtNameToWidget(mainForm, "buttonsForm");
    expect_widget(buttonsForm, "buttonsForm", formWidgetClass, mainForm);
    EXPECT_EQ(child_names(buttonsForm),
              (std::vector<std::string>{"playButton", "pauseButton", "stopButton", "prevButton",
                                        "nextButton", "ejectButton", "quitButton", "cycleButton",
                                        "shuffleButton", "rewButton", "ffButton", "pgmButton"}));
    // The main form's children: the two areas here, then the program window.
    std::vector<std::string> main_children = child_names(mainForm);
    ASSERT_GE(main_children.size(), 2u);
    EXPECT_EQ(main_children[0], "logoForm");
    EXPECT_EQ(main_children[1], "buttonsForm");

    struct {
        Widget w;
        const char *name;
        XtCallbackProc callback;
    } expected[] = {
        {playButton, "playButton", cb_cdrom_play},
        {pauseButton, "pauseButton", cb_cdrom_pause},
        {stopButton, "stopButton", cb_cdrom_stop},
        {prevButton, "prevButton", cb_cdrom_previous},
        {nextButton, "nextButton", cb_cdrom_next},
        {ejectButton, "ejectButton", cb_cdrom_eject},
        {quitButton, "quitButton", cb_cdrom_quit},
        {cycleButton, "cycleButton", cb_cdrom_cycle},
        {shuffleButton, "shuffleButton", cb_cdrom_shuffle},
        {rewButton, "rewButton", cb_cdrom_rew},
        {ffButton, "ffButton", cb_cdrom_ff},
        {pgmButton, "pgmButton", cb_cdrom_program},
    };
    std::vector<Pixmap> images;
    for (auto &e : expected) {
        expect_widget(e.w, e.name, toggleWidgetClass, buttonsForm);
        EXPECT_EQ(XtNameToWidget(buttonsForm, e.name), e.w);
        XtCallbackRec cb = only_callback(e.w, XtNcallback);
        EXPECT_EQ(cb.callback, e.callback) << e.name;
        EXPECT_EQ(cb.closure, nullptr) << e.name;
        Pixmap image = bitmap_of(e.w);
        ASSERT_NE(image, 0u) << e.name;
        Size size = pixmap_size(e.w, image);
        EXPECT_EQ(size.width, 16u) << e.name;
        EXPECT_EQ(size.height, 16u) << e.name;
        EXPECT_EQ(size.depth, 1u) << e.name;
        for (Pixmap other : images)
            EXPECT_NE(image, other) << e.name << " shares another button's image";
        images.push_back(image);
    }
}

TEST_F(PlayerTest, DisplaysScrollbarAndTitleHaveTheirCallbacks)
{
    start_player(demo_disc());

    EXPECT_EQ(only_callback(trackButton, XtNcallback).callback, cb_track_button);
    EXPECT_EQ(only_callback(timerButton, XtNcallback).callback, cb_timer_button);
    EXPECT_EQ(only_callback(volumeScrollbar, XtNjumpProc).callback, cb_volume_jump);
    EXPECT_EQ(only_callback(volumeScrollbar, XtNscrollProc).callback, cb_volume_scroll);
    EXPECT_EQ(only_callback(titleBar, XtNcallback).callback, cb_title_bar);
    XtCallbackRec done = only_callback(XtNameToWidget(titleDialog, "Done"), XtNcallback);
    EXPECT_EQ(done.callback, cb_title_done);
    EXPECT_EQ(done.closure, static_cast<XtPointer>(titleDialog));
}

TEST_F(PlayerTest, LogoIsTheLogoBitmapAndTheIndicatorStartsOff)
{
    start_player(demo_disc());

    Widget logo = XtNameToWidget(mainForm, "logoForm.logoLabel");
    ASSERT_NE(logo, nullptr);
    Size size = pixmap_size(logo, bitmap_of(logo));
    EXPECT_EQ(size.width, 56u);
    EXPECT_EQ(size.height, 38u);
    EXPECT_EQ(size.depth, 1u);

    EXPECT_EQ(bits_of(ledsLabel, bitmap_of(ledsLabel)), bits_of(ledsLabel, led_off_frame));
    for (int i = 0; i < 8; i++) {
        Size frame = pixmap_size(ledsLabel, led_frames[i]);
        EXPECT_EQ(frame.width, 21u);
        EXPECT_EQ(frame.height, 21u);
        for (int j = 0; j < i; j++)
            EXPECT_NE(bits_of(ledsLabel, led_frames[i]), bits_of(ledsLabel, led_frames[j]));
        EXPECT_NE(bits_of(ledsLabel, led_frames[i]), bits_of(ledsLabel, led_off_frame));
    }
}

TEST_F(PlayerTest, ClicksReachTheirCommands)
{
    start_player(demo_disc());

    click(cycleButton);
    EXPECT_TRUE(CDI.state & CDROM_CYCLE);
    click(shuffleButton);
    EXPECT_TRUE(CDI.state & CDROM_SHUFFLE);
    click(shuffleButton);
    EXPECT_FALSE(CDI.state & CDROM_SHUFFLE);

    click(playButton);
    EXPECT_TRUE(CDI.state & CDROM_PLAYING);
    EXPECT_EQ(CDI.curtrack, 1);
    click(pauseButton);
    EXPECT_TRUE(CDI.state & CDROM_PAUSED);
    set_button_state(stopButton, False);
    click(stopButton);
    EXPECT_FALSE(CDI.state & (CDROM_PLAYING | CDROM_PAUSED));
    EXPECT_EQ(CDI.curtrack, 0);

    click(pgmButton);
    EXPECT_TRUE(CDI.state & CDROM_PROGRAM);
    click(ejectButton);
    EXPECT_TRUE(CDI.state & CDROM_EJECTED);
    EXPECT_EQ(label_of(titleBar), "No Disc");
}

TEST_F(PlayerTest, ButtonStateChangesTheLookOnly)
{
    start_player(demo_disc());
    take_stdout();

    set_button_state(cycleButton, True);
    EXPECT_TRUE(toggle_on(cycleButton));
    EXPECT_TRUE(get_button_state(cycleButton));
    EXPECT_FALSE(CDI.state & CDROM_CYCLE);  // the callback did not run
    set_button_state(cycleButton, False);
    EXPECT_FALSE(get_button_state(cycleButton));
    EXPECT_EQ(take_stdout(), "");

    set_button_state(playButton, True);
    EXPECT_FALSE(CDI.state & CDROM_PLAYING);
    EXPECT_TRUE(get_button_state(playButton));

    EXPECT_FALSE(get_button_state(nullptr));
    set_button_state(nullptr, True);  // nothing to do, no crash
}

TEST_F(PlayerTest, WithoutDisplayTimerThereIsNoTimerButton)
{
    start_player(demo_disc(), {"-xrm", "*displayTimer: False"});

    EXPECT_EQ(timerButton, nullptr);
    Widget logoForm = XtNameToWidget(mainForm, "logoForm");
    EXPECT_EQ(XtNameToWidget(logoForm, "timerButton"), nullptr);
    EXPECT_EQ(child_names(logoForm),
              (std::vector<std::string>{"logoLabel", "versionLabel", "ledsLabel", "trackButton",
                                        "volumeScrollbar", "titleBarViewport"}));
    ASSERT_NE(volumeScrollbar, nullptr);
    ASSERT_NE(titleBar, nullptr);

    set_button_state(timerButton, True);
    EXPECT_FALSE(get_button_state(timerButton));
    timer_display_update();

    // Commands that switch the clock off or on still work.
    click(playButton);
    EXPECT_TRUE(CDI.state & CDROM_PLAYING);
    set_button_state(stopButton, False);
    click(stopButton);
    EXPECT_EQ(CDI.curtrack, 0);
    click(pgmButton);
    EXPECT_TRUE(CDI.state & CDROM_PROGRAM);
}

// A one-bit screen would get the stipple and the plain thumb; at the
// usual depths the scrollbar keeps the toolkit's own looks.
TEST_F(PlayerTest, DeepScreenKeepsTheScrollbarDefaults)
{
    start_player(demo_disc());

    Widget logoForm = XtNameToWidget(mainForm, "logoForm");
    Cardinal depth = 0;
    XtVaGetValues(logoForm, XtNdepth, &depth, nullptr);
    ASSERT_GT(depth, 1u);
    Pixmap background = 0;
    XtVaGetValues(volumeScrollbar, XtNbackgroundPixmap, &background, nullptr);
    EXPECT_EQ(background, static_cast<Pixmap>(XtUnspecifiedPixmap));
}

namespace {

// The indicator's frame slot on show; -1 for the off frame.
int shown_slot()
{
    std::vector<unsigned long> shown = bits_of(ledsLabel, bitmap_of(ledsLabel));
    for (int i = 0; i < 8; i++)
        if (bits_of(ledsLabel, led_frames[i]) == shown)
            return i;
    return bits_of(ledsLabel, led_off_frame) == shown ? -1 : -2;
}

std::vector<int> turn(int direction, int times)
{
    std::vector<int> slots;
    for (int i = 0; i < times; i++) {
        leds_animate(direction);
        slots.push_back(shown_slot());
    }
    return slots;
}

}  // namespace

TEST_F(PlayerTest, IndicatorTurnsForwardAndBackward)
{
    start_player(demo_disc());
    ASSERT_EQ(led_index, 1);

    EXPECT_EQ(turn(1, 9), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 0, 1}));
    // A change of direction shows the last frame once more.
    EXPECT_EQ(turn(-1, 4), (std::vector<int>{1, 0, 7, 6}));
    EXPECT_EQ(turn(1, 2), (std::vector<int>{6, 7}));

    int index = led_index;
    leds_off();
    EXPECT_EQ(shown_slot(), -1);
    EXPECT_EQ(led_index, index);
    EXPECT_EQ(turn(1, 1), (std::vector<int>{0}));
}

TEST_F(PlayerTest, IndicatorTurnsBackwardFromTheStart)
{
    start_player(demo_disc());
    EXPECT_EQ(turn(-1, 10), (std::vector<int>{0, 7, 6, 5, 4, 3, 2, 1, 0, 7}));
}

TEST_F(PlayerTest, NoDiscAtStartShowsNoDisc)
{
    start_drive(demo_disc(), {"-debug"});
    unlink(disc_path.c_str());
    cdrom_open();
    logo_form_create(mainForm);
    buttons_form_create(mainForm);
    program_form_create(mainForm);
    realize_main_window();

    EXPECT_EQ(label_of(trackButton), "0\n");
    EXPECT_EQ(label_of(titleBar), "No Disc");
    EXPECT_TRUE(toggle_on(ejectButton));
    EXPECT_EQ(label_of(timerButton), "--:--\n");
}
