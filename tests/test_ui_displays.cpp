// The track and time displays: their texts in each situation, and the
// two toggles' own callbacks.
#include "support/player_fixture.h"
#include "support/program_helpers.h"

#include <cstdio>

#include "app/app.h"
#include "disc/cdrom.h"
#include "drive/sim.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

namespace {

// Track 1 lasts 200 seconds, track 2 ninety minutes.
const std::vector<int> TWO_TRACKS = {200, 5400};

std::string clock_text()
{
    return label_of(timerButton);
}

// Paused, so the display keeps the dur the test sets.
void paused_on(int track, int dur)
{
    CDI.curtrack = static_cast<uint8_t>(track);
    CDI.state = CDROM_PLAYING | CDROM_PAUSED;
    CDI.dur = dur;
}

}  // namespace

TEST_F(PlayerTest, ElapsedTimeWhileTheClockIsOff)
{
    start_player(disc_of(TWO_TRACKS));

    paused_on(1, 75);
    timer_display_update();
    EXPECT_EQ(clock_text(), "01:15\n");
    EXPECT_EQ(CDI.dur, 75);  // paused: not measured again

    CDI.dur = -2;
    timer_display_update();
    EXPECT_EQ(clock_text(), "-00:02\n");
    CDI.dur = -75;
    timer_display_update();
    EXPECT_EQ(clock_text(), "-01:15\n");
    CDI.dur = 6000;
    timer_display_update();
    EXPECT_EQ(clock_text(), "100:00\n");
}

TEST_F(PlayerTest, ElapsedTimeIsMeasuredWhilePlaying)
{
    start_player(disc_of(TWO_TRACKS));
    click(playButton);
    sim_advance_ms(74000);
    CDI.dur = 999;

    timer_display_update();
    ASSERT_NE(CDI.dur, 999);
    EXPECT_EQ(CDI.dur, cdrom_get_curtime());
    char expected[32];
    snprintf(expected, sizeof expected, "%02d:%02d\n", CDI.dur / 60, CDI.dur % 60);
    EXPECT_EQ(clock_text(), expected);
    EXPECT_GE(CDI.dur, 74);
    EXPECT_LE(CDI.dur, 75);

    // Paused at that point the text stays, however far the clock runs on.
    click(pauseButton);
    std::string before = clock_text();
    sim_advance_ms(30000);
    timer_display_update();
    EXPECT_EQ(clock_text(), before);
}

TEST_F(PlayerTest, RemainingTimeWhileTheClockIsOn)
{
    start_player(disc_of(TWO_TRACKS));
    set_button_state(timerButton, True);

    paused_on(1, 75);
    timer_display_update();
    EXPECT_EQ(clock_text(), "-02:05\n");

    CDI.dur = 205;  // five seconds past the track's end
    timer_display_update();
    EXPECT_EQ(clock_text(), "-00:05\n");

    CDI.dur = 195;
    timer_display_update();
    EXPECT_EQ(clock_text(), "-00:05\n");

    paused_on(2, 0);
    timer_display_update();
    EXPECT_EQ(clock_text(), "-90:00\n");

    // Minutes are not cut to two digits: a position 600 seconds before the
    // track's start leaves a hundred minutes.
    paused_on(2, -600);
    timer_display_update();
    EXPECT_EQ(clock_text(), "-100:00\n");
}

TEST_F(PlayerTest, ProgramModeCountsDownTheProgramUnlessPaused)
{
    start_player(disc_of({100, 200, 300}));
    set_button_state(timerButton, True);
    program_add_track(2);
    program_add_track(3);
    CDI.state = CDROM_PROGRAM;
    CDI.curtrack = program_first_track();
    ASSERT_EQ(CDI.curtrack, 2);

    // Paused: the current track's time.
    CDI.state = CDROM_PROGRAM | CDROM_PLAYING | CDROM_PAUSED;
    CDI.dur = 50;
    timer_display_update();
    EXPECT_EQ(clock_text(), "-02:30\n");

    // Not paused: the rest of the whole program (the drive stands still,
    // so the elapsed time measured is 0).
    CDI.state = CDROM_PROGRAM;
    timer_display_update();
    EXPECT_EQ(CDI.dur, 0);
    EXPECT_EQ(clock_text(), "-08:20\n");
}

TEST_F(PlayerTest, NoCurrentTrackShowsTheDiscLengthOrDashes)
{
    start_player("track 1 00:02:00\ntrack 2 20:00:00\nleadout 45:30:40\n");
    EXPECT_EQ(clock_text(), "--:--\n");  // off and stopped

    // A drive that has finished playing knows the disc; one that reports
    // no status (as this one does before its first play) is not trusted.
    set_button_state(timerButton, True);
    sim_force_position(CD_AS_PLAY_COMPLETED, 0);
    timer_display_update();
    EXPECT_EQ(clock_text(), "-45:30\n");
    sim_force_position(CD_AS_NO_STATUS, 0);
    timer_display_update();
    EXPECT_EQ(clock_text(), "--:--\n");
    sim_force_position(-1, 0);

    // Nor is there a length without a table of contents.
    set_button_state(timerButton, False);
    click(ejectButton);
    ASSERT_FALSE(tables_present());
    set_button_state(timerButton, True);
    timer_display_update();
    EXPECT_EQ(clock_text(), "--:--\n");
}

TEST_F(PlayerTest, ATrackTheTablesLackShowsDashes)
{
    start_player(disc_of(TWO_TRACKS));
    set_button_state(timerButton, True);
    paused_on(9, 10);
    timer_display_update();
    EXPECT_EQ(clock_text(), "--:--\n");
}

TEST_F(PlayerTest, TimerButtonShowsElapsedWhenSwitchedOffWithATrack)
{
    start_player(disc_of(TWO_TRACKS));
    CDI.curtrack = 2;  // stopped, but a track is current
    timer_display_update();
    EXPECT_EQ(clock_text(), "--:--\n");

    click(timerButton);  // on: the track's remaining time
    EXPECT_TRUE(toggle_on(timerButton));
    EXPECT_EQ(clock_text(), "-90:00\n");
    click(timerButton);  // off: the elapsed time, though stopped
    EXPECT_EQ(clock_text(), "00:00\n");
}

TEST_F(PlayerTest, TimerButtonAfterAnEjectBringsTheDiscBackAndShowsDashes)
{
    start_player(disc_of(TWO_TRACKS));
    click(ejectButton);
    ASSERT_TRUE(CDI.state & CDROM_EJECTED);
    take_stdout();

    click(timerButton);
    EXPECT_NE(take_stdout().find("cdrom_new_disc: resetting disc\n"), std::string::npos);
    EXPECT_FALSE(CDI.state & CDROM_EJECTED);
    EXPECT_TRUE(toggle_on(timerButton));
    EXPECT_EQ(clock_text(), "--:--\n");
}

TEST_F(PlayerTest, TrackButtonShowsTheLastTrackWhileOn)
{
    std::vector<int> twelve(12, 60);
    start_player(disc_of(twelve));
    CDI.curtrack = 3;

    click(trackButton);
    EXPECT_TRUE(toggle_on(trackButton));
    EXPECT_EQ(label_of(trackButton), "12\n");

    // A track change puts the current track back, the button staying on.
    CDI.curtrack = 4;
    track_display_update();
    EXPECT_EQ(label_of(trackButton), "4\n");
    EXPECT_TRUE(toggle_on(trackButton));

    CDI.curtrack = 3;
    click(trackButton);
    EXPECT_EQ(label_of(trackButton), "3\n");
}

TEST_F(PlayerTest, TrackButtonAfterAnEjectHandlesTheNewDisc)
{
    start_player(disc_of({60, 60, 60}));
    click(ejectButton);
    take_stdout();

    click(trackButton);  // off before the click, so on now
    EXPECT_NE(take_stdout().find("cdrom_new_disc: resetting disc\n"), std::string::npos);
    EXPECT_FALSE(CDI.state & CDROM_EJECTED);
    EXPECT_EQ(label_of(trackButton), "0\n");  // max is 0 after the eject
}

TEST_F(PlayerTest, ClockIsLeftAloneWithoutDisplayTimer)
{
    start_player(disc_of(TWO_TRACKS), {"-xrm", "*displayTimer: False"});
    click(playButton);
    sim_advance_ms(20000);
    CDI.dur = 42;
    timer_display_update();
    EXPECT_EQ(CDI.dur, 42);
}
