// The volume scrollbar: the start-up volume, jumps, scroll clicks, the
// clamps and where the thumb is put.
#include "support/player_fixture.h"

#include <X11/StringDefs.h>
#include <X11/Xaw/Scrollbar.h>

#include <cstdint>

#include "app/app.h"
#include "disc/cdrom.h"
#include "drive/sim.h"
#include "ui/ui.h"

namespace {

float thumb_top()
{
    float top = -1;
    XtVaGetValues(volumeScrollbar, XtNtopOfThumb, &top, nullptr);
    return top;
}

float thumb_shown()
{
    float shown = -1;
    XtVaGetValues(volumeScrollbar, XtNshown, &shown, nullptr);
    return shown;
}

void jump(float fraction)
{
    cb_volume_jump(volumeScrollbar, nullptr, &fraction);
}

void scroll(int amount)
{
    cb_volume_scroll(volumeScrollbar, nullptr,
                     reinterpret_cast<XtPointer>(static_cast<intptr_t>(amount)));
}

void set_length(Dimension length)
{
    Arg arg;
    XtSetArg(arg, XtNlength, length);
    XtSetValues(volumeScrollbar, &arg, 1);
}

// A scrollbar event at pixel X along the bar.
XEvent pointer_at(int x, int type)
{
    XEvent ev{};
    ev.type = type;
    ev.xbutton.display = XtDisplay(volumeScrollbar);
    ev.xbutton.window = XtWindow(volumeScrollbar);
    ev.xbutton.x = x;
    ev.xbutton.y = 3;
    ev.xbutton.button = Button1;
    return ev;
}

}  // namespace

TEST_F(PlayerTest, StartUpVolumeAndThumb)
{
    start_player(demo_disc());

    EXPECT_EQ(volume, 238);
    EXPECT_EQ(sim_last_volume_left(), 238);
    EXPECT_EQ(sim_last_volume_right(), 238);
    EXPECT_FLOAT_EQ(thumb_top(), 0.75f);
    EXPECT_FLOAT_EQ(thumb_shown(), 1.0f);
    // The start-up setting is not traced.
    EXPECT_EQ(take_stdout().find("volume="), std::string::npos);
}

TEST_F(PlayerTest, StartUpVolumeFollowsVolBase)
{
    start_player(demo_disc(), {"-volBase", "100"});
    EXPECT_EQ(volume, 216);  // 100 + trunc(155 x 0.75)
    EXPECT_EQ(sim_last_volume_left(), 216);
    EXPECT_FLOAT_EQ(thumb_top(), 0.75f);
}

// No clamp at start-up; what the drive is given stays on its scale rather
// than wrapping round to a whisper.
TEST_F(PlayerTest, StartUpVolumeAboveTheScale)
{
    start_player(demo_disc(), {"-volBase", "300"});
    EXPECT_EQ(volume, 267);
    EXPECT_EQ(sim_last_volume_left(), 255);
    EXPECT_EQ(sim_last_volume_right(), 255);
}

TEST_F(PlayerTest, JumpsMapTheThumbOntoTheScale)
{
    start_player(demo_disc());
    take_stdout();

    struct {
        float fraction;
        int volume;
    } cases[] = {{0.0f, 187}, {0.25f, 203}, {0.5f, 220}, {0.75f, 237}, {1.0f, 255}};
    for (auto c : cases) {
        jump(c.fraction);
        EXPECT_EQ(volume, c.volume) << c.fraction;
        EXPECT_EQ(sim_last_volume_left(), c.volume) << c.fraction;
        EXPECT_EQ(sim_last_volume_right(), c.volume) << c.fraction;
    }
    EXPECT_EQ(take_stdout(), "volume=187\nvolume=203\nvolume=220\nvolume=237\nvolume=255\n");
}

TEST_F(PlayerTest, JumpsAreClamped)
{
    start_player(demo_disc(), {"-volBase", "-50", "-volPcent", "2"});
    jump(0.0f);
    EXPECT_EQ(volume, 1);
    jump(0.1f);  // -50 + 25 x 2 = 0
    EXPECT_EQ(volume, 1);
    jump(0.102f);  // -50 + 26 x 2 = 2, the first volume kept as it is
    EXPECT_EQ(volume, 2);
    jump(1.0f);
    EXPECT_EQ(volume, 255);
    EXPECT_EQ(sim_last_volume_left(), 255);
}

TEST_F(PlayerTest, ScrollStepsGrowWithVolumeAndPointer)
{
    start_player(demo_disc());
    set_length(100);
    take_stdout();

    // Forward at pixel 75 of 100 from 238: a step of 178.5.
    scroll(75);
    EXPECT_EQ(volume, 59);
    EXPECT_EQ(sim_last_volume_left(), 59);
    EXPECT_NEAR(thumb_top(), 59 / 255.0, 1e-6);
    EXPECT_FLOAT_EQ(thumb_shown(), 1.0f);  // the thumb's size is kept
    EXPECT_EQ(take_stdout(), "volume=59\n");

    volume = 200;
    scroll(-10);  // backward at pixel 10: up by 20
    EXPECT_EQ(volume, 220);
    EXPECT_NEAR(thumb_top(), 220 / 255.0, 1e-6);

    volume = 100;
    scroll(0);  // at the bar's start the step is still 1
    EXPECT_EQ(volume, 99);
}

TEST_F(PlayerTest, ScrollsAreClamped)
{
    start_player(demo_disc());
    set_length(100);

    volume = 1;
    scroll(10);  // 0 becomes 1
    EXPECT_EQ(volume, 1);
    EXPECT_EQ(sim_last_volume_left(), 1);

    volume = 250;
    scroll(-8);  // 270 becomes 255
    EXPECT_EQ(volume, 255);
    EXPECT_NEAR(thumb_top(), 1.0, 1e-6);

    volume = 2;
    scroll(1);  // the step of 1 gives 1
    EXPECT_EQ(volume, 1);
}

// The bar can be squeezed to nothing by a layout; it then counts as one
// pixel long.  Xt refuses a realized window of zero size, so the bar is
// squeezed before the window is realized.
TEST_F(PlayerTest, ZeroLengthBarCountsAsOnePixel)
{
    start_drive(demo_disc());
    cdrom_open();
    logo_form_create(mainForm);
    buttons_form_create(mainForm);
    set_length(0);
    Dimension length = 1;
    XtVaGetValues(volumeScrollbar, XtNlength, &length, nullptr);
    ASSERT_EQ(length, 0);

    volume = 100;
    scroll(1);  // 1/1 x 100: down by 100
    EXPECT_EQ(volume, 1);
    volume = 100;
    scroll(-1);
    EXPECT_EQ(volume, 200);
}

// The scrollbar's own actions reach the two callbacks.
TEST_F(PlayerTest, ScrollbarActionsSetTheVolume)
{
    start_player(demo_disc());
    set_length(100);
    process_events();

    XEvent release = pointer_at(75, ButtonRelease);
    String forward[] = {const_cast<String>("Forward")};
    XtCallActionProc(volumeScrollbar, "StartScroll", &release, forward, 1);
    XtCallActionProc(volumeScrollbar, "NotifyScroll", &release, nullptr, 0);
    XtCallActionProc(volumeScrollbar, "EndScroll", &release, nullptr, 0);
    EXPECT_EQ(volume, 59);

    XEvent drag = pointer_at(50, MotionNotify);
    drag.xmotion.x = 50;
    drag.xmotion.y = 3;
    drag.xmotion.same_screen = True;
    String continuous[] = {const_cast<String>("Continuous")};
    XtCallActionProc(volumeScrollbar, "StartScroll", &drag, continuous, 1);
    XtCallActionProc(volumeScrollbar, "MoveThumb", &drag, nullptr, 0);
    XtCallActionProc(volumeScrollbar, "NotifyThumb", &drag, nullptr, 0);
    XtCallActionProc(volumeScrollbar, "EndScroll", &drag, nullptr, 0);
    // The thumb stays where the drag put it, and the volume matches it.
    float top = thumb_top();
    EXPECT_NE(top, 59 / 255.0f);
    int expected = static_cast<int>(static_cast<float>(static_cast<int>(top * 255.0f)) * 0.267f +
                                    187.0f);
    EXPECT_EQ(volume, expected);
    EXPECT_EQ(sim_last_volume_left(), expected);
}
