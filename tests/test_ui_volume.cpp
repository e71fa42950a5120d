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

// A drag: the scrollbar moves its thumb, then calls back.
void drag(float fraction)
{
    XawScrollbarSetThumb(volumeScrollbar, fraction, -1.0f);
    jump(fraction);
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

// The volume at thumb fraction F by the one formula of the bar.
static int volume_at(float f, float base = 187.0f, float pcent = 0.267f)
{
    int v = static_cast<int>(static_cast<float>(static_cast<int>(f * 255.0f)) * pcent + base);
    return v > 255 ? 255 : v < 2 ? 1 : v;
}

TEST_F(PlayerTest, StartUpVolumeAndThumb)
{
    start_player(demo_disc());

    EXPECT_EQ(volume, 238);
    EXPECT_EQ(sim_last_volume_left(), 238);
    EXPECT_EQ(sim_last_volume_right(), 238);
    // Where the bar's formula gives 238 (191 steps give 237).
    EXPECT_FLOAT_EQ(thumb_top(), 192 / 255.0f);
    EXPECT_EQ(volume_at(thumb_top()), 238);
    EXPECT_FLOAT_EQ(thumb_shown(), 1.0f);
    // The start-up setting is not traced.
    EXPECT_EQ(take_stdout().find("volume="), std::string::npos);
}

// A volBase without the volPcent to match puts the start-up volume beyond
// the bar's reach: the thumb goes to the nearest end.
TEST_F(PlayerTest, StartUpVolumeFollowsVolBase)
{
    start_player(demo_disc(), {"-volBase", "100"});
    EXPECT_EQ(volume, 216);  // 100 + trunc(155 x 0.75)
    EXPECT_EQ(sim_last_volume_left(), 216);
    EXPECT_FLOAT_EQ(thumb_top(), 1.0f);  // the bar reaches 168
}

// No clamp at start-up; what the drive is given stays on its scale rather
// than wrapping round to a whisper.
TEST_F(PlayerTest, StartUpVolumeAboveTheScale)
{
    start_player(demo_disc(), {"-volBase", "300"});
    EXPECT_EQ(volume, 267);
    EXPECT_EQ(sim_last_volume_left(), 255);
    EXPECT_EQ(sim_last_volume_right(), 255);
    EXPECT_FLOAT_EQ(thumb_top(), 1.0f);
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

// A scroll click moves the thumb as far as the pointer is along the bar
// (at least a step of the 0..255 scale), button 1 toward the quiet end;
// the volume is then the thumb's, by the formula a drag uses.
TEST_F(PlayerTest, ScrollsMoveTheThumbByThePointersDistance)
{
    start_player(demo_disc());
    set_length(100);
    take_stdout();

    struct {
        int amount;
        int place;  // of 255, after the click
    } steps[] = {
        {75, 192 - 191},  // forward at pixel 75 of 100: 191.25 steps down
        {-10, 1 + 25},    // backward at pixel 10: 25.5 steps up
        {0, 25},          // at the bar's start the step is still 1
        {-1, 27},         // 2.55 steps
        {-100, 255},      // the whole bar and more: held at the end
        {-50, 255},
        {30, 255 - 76},
        {100, 0},
        {7, 0},
    };
    std::string trace;
    for (auto s : steps) {
        scroll(s.amount);
        EXPECT_NEAR(thumb_top(), s.place / 255.0, 1e-6) << s.amount;
        EXPECT_EQ(volume, volume_at(s.place / 255.0f)) << s.amount;
        EXPECT_EQ(sim_last_volume_left(), volume) << s.amount;
        trace += "volume=" + std::to_string(volume) + "\n";
    }
    EXPECT_FLOAT_EQ(thumb_shown(), 1.0f);  // the thumb's size is kept
    EXPECT_EQ(take_stdout(), trace);
}

TEST_F(PlayerTest, ScrollsAreClamped)
{
    start_player(demo_disc(), {"-volBase", "-50", "-volPcent", "2"});
    set_length(100);

    jump(0.1f);  // the place 25, volume 0 held at 1
    EXPECT_EQ(volume, 1);
    scroll(1);  // two steps down: -4, held at 1
    EXPECT_EQ(volume, 1);
    EXPECT_EQ(sim_last_volume_left(), 1);
    scroll(-100);
    EXPECT_EQ(volume, 255);  // -50 + 510, held at 255
    EXPECT_NEAR(thumb_top(), 1.0, 1e-6);
}

// The volume keys move the thumb a sixteenth of the scale: down and up
// again comes back to the same place and volume from anywhere not within
// a step of an end, the start-up setting included.
TEST_F(PlayerTest, KeyStepsAreEvenBothWays)
{
    start_player(demo_disc());
    take_stdout();

    volume_step(-1);
    EXPECT_EQ(volume, 233);
    EXPECT_NEAR(thumb_top(), 176 / 255.0, 1e-6);
    volume_step(1);
    EXPECT_EQ(volume, 238);
    EXPECT_NEAR(thumb_top(), 192 / 255.0, 1e-6);
    EXPECT_EQ(take_stdout(), "volume=233\nvolume=238\n");

    for (int k = 16; k <= 239; k++) {
        drag(k / 255.0f);
        int before = volume;
        float top = thumb_top();
        volume_step(-1);
        EXPECT_NEAR(thumb_top(), top - 16 / 255.0, 1e-6) << k;
        volume_step(1);
        EXPECT_EQ(volume, before) << k;
        EXPECT_NEAR(thumb_top(), top, 1e-6) << k;
        volume_step(1);
        EXPECT_NEAR(thumb_top(), top + 16 / 255.0, 1e-6) << k;
        volume_step(-1);
        EXPECT_EQ(volume, before) << k;
    }

    drag(0.02f);  // the place 5: down stops at the end
    volume_step(-1);
    EXPECT_EQ(volume, 187);
    EXPECT_FLOAT_EQ(thumb_top(), 0.0f);
    drag(1.0f);
    volume_step(1);
    EXPECT_EQ(volume, 255);
    EXPECT_FLOAT_EQ(thumb_top(), 1.0f);
}

// Whatever moved it last, the thumb and the volume tell the same: the
// volume is the thumb's by the formula of a drag.
TEST_F(PlayerTest, EveryWayOfChangingTheVolumeAgreesWithTheThumb)
{
    start_player(demo_disc());
    set_length(73);
    enum { JUMP, SCROLL, KEY };
    struct {
        int way;
        float value;
    } moves[] = {{KEY, -1},     {SCROLL, 20},  {JUMP, 0.6f},   {KEY, 1},     {KEY, 1},
                 {SCROLL, -3},  {JUMP, 0.33f}, {SCROLL, 0},    {KEY, -1},    {SCROLL, -72},
                 {KEY, 1},      {JUMP, 0.0f},  {KEY, -1},      {SCROLL, -5}, {JUMP, 0.999f},
                 {SCROLL, 36},  {KEY, -1},     {SCROLL, -36}};
    int i = 0;
    for (auto m : moves) {
        if (m.way == JUMP)
            drag(m.value);
        else if (m.way == SCROLL)
            scroll(static_cast<int>(m.value));
        else
            volume_step(static_cast<int>(m.value));
        EXPECT_EQ(volume, volume_at(thumb_top())) << "move " << i;
        EXPECT_EQ(sim_last_volume_left(), volume) << "move " << i;
        i++;
    }
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

    scroll(1);  // one pixel of one: the whole bar down
    EXPECT_EQ(volume, 187);
    EXPECT_FLOAT_EQ(thumb_top(), 0.0f);
    scroll(-1);
    EXPECT_EQ(volume, 255);
    EXPECT_FLOAT_EQ(thumb_top(), 1.0f);
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
    EXPECT_EQ(volume, 187);  // 191 of the 192 steps down

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
    EXPECT_NE(top, 1 / 255.0f);
    int expected = static_cast<int>(static_cast<float>(static_cast<int>(top * 255.0f)) * 0.267f +
                                    187.0f);
    EXPECT_EQ(volume, expected);
    EXPECT_EQ(sim_last_volume_left(), expected);
}
