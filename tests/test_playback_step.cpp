// Previous and next in the disc's order, the shuffle order and the program.
#include "support/playback_helpers.h"

namespace {

const Lines kNone;

class StepTest : public PlayerTest {
protected:
    // The drive already playing at `at`; two ticks take over its track and
    // measure the elapsed time.
    void start_playing_at(const std::string &disc, const std::string &at)
    {
        start_player(disc + "start playing " + at + "\n");
        fire_play_timer();
        fire_play_timer();
        flush();
    }
    void flush()
    {
        take_stdout();
        take_requests();
    }
};

TEST_F(StepTest, PreviousEarlyInATrackGoesBackATrack)
{
    start_playing_at(demo_disc(), "04:12:33");
    ASSERT_EQ(CDI.curtrack, 2);
    ASSERT_EQ(CDI.dur, 3);

    click(prevButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_previous: playing track 1", "cdrom_play: starting track 1"}));
    EXPECT_EQ(take_requests(), Lines{"play 00:02:00 10:30:11"});
    EXPECT_EQ(CDI.curtrack, 1);
    EXPECT_EQ(tick_count, 0);
    EXPECT_NE(play_timer, TIMER_NONE);
}

TEST_F(StepTest, PreviousLaterInATrackStartsItAgain)
{
    start_playing_at(demo_disc(), "04:20:33");
    ASSERT_EQ(CDI.dur, 11);

    click(prevButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_previous: playing track 2", "cdrom_play: starting track 2"}));
    EXPECT_EQ(take_requests(), Lines{"play 04:10:33 10:30:11"});
    EXPECT_EQ(CDI.curtrack, 2);
    EXPECT_EQ(tick_count, 0);
}

TEST_F(StepTest, PreviousOnTheFirstTrackStartsItAgain)
{
    start_playing_at(demo_disc(), "00:03:00");
    ASSERT_EQ(CDI.curtrack, 1);

    click(prevButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_previous: playing track 1", "cdrom_play: starting track 1"}));
    EXPECT_EQ(take_requests(), Lines{"play 00:02:00 10:30:11"});
}

TEST_F(StepTest, PreviousWhilePausedLeavesTheDrivePausedOnTheNewTrack)
{
    start_player(std::string(demo_disc()) + "start paused 07:01:00\n");
    ASSERT_EQ(CDI.curtrack, 3);
    set_button_state(ejectButton, True);
    CDI.state |= CDROM_EJECTED;
    CDI.dur = 0;
    flush();

    click(prevButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_previous: paused on track 2", "cdrom_play: starting track 2"}));
    EXPECT_EQ(take_requests(), (Lines{"play 04:10:33 10:30:11", "pause"}));
    EXPECT_EQ(flags(), CDROM_PLAYING | CDROM_PAUSED);
    EXPECT_FALSE(toggle_on(ejectButton));
    EXPECT_EQ(play_timer, TIMER_NONE);
    EXPECT_EQ(cdrom_status(), CDROM_STATUS_PAUSED);
}

TEST_F(StepTest, NextOnTheLastTrackOnlyLogs)
{
    start_playing_at(demo_disc(), "07:10:00");
    ASSERT_EQ(CDI.curtrack, 3);
    int dur = CDI.dur;

    click(nextButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_next: at last track"});
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(CDI.curtrack, 3);
    EXPECT_EQ(CDI.dur, dur);
    EXPECT_NE(play_timer, TIMER_NONE);  // the drive plays on, watched
}

TEST_F(StepTest, NextWhilePlayingPlaysTheFollowingTrack)
{
    start_playing_at(demo_disc(), "00:30:00");
    click(nextButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_next: playing track 2", "cdrom_play: starting track 2"}));
    EXPECT_EQ(take_requests(), Lines{"play 04:10:33 10:30:11"});
    EXPECT_EQ(label_of(trackButton), "2\n");
}

TEST_F(StepTest, NextWhileStoppedOnlyMovesTheCurrentTrack)
{
    start_player(demo_disc());
    flush();

    click(nextButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_next: stopped on track 1"});
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(CDI.curtrack, 1);
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(play_timer, TIMER_NONE);

    click(prevButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_previous: stopped on track 1"});
    EXPECT_EQ(take_requests(), kNone);
}

TEST_F(StepTest, StepsWithNoDiscOnlyLog)
{
    start_player(demo_disc());
    click(ejectButton);
    flush();

    click(nextButton);
    click(prevButton);
    EXPECT_EQ(trace_lines(take_stdout()), (Lines{"cb_cdrom_next: error from cdrom_open",
                                                 "cb_cdrom_previous: error from cdrom_open"}));
    EXPECT_EQ(flags(), CDROM_EJECTED);
    EXPECT_EQ(CDI.curtrack, 0);
}

TEST_F(StepTest, ShufflePreviousReturnsToThePreviousEntryEvenLate)
{
    start_player(short_disc(5));
    click(shuffleButton);
    click(playButton);
    click(nextButton);
    std::vector<uint8_t> order = shuffle_order;
    ASSERT_EQ(CDI.curtrack, order[1]);
    sim_advance_ms(6000);
    fire_play_timer();
    ASSERT_GE(CDI.dur, app_resources.replayThreshold);
    flush();

    click(prevButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_previous: playing track " + std::to_string(order[0]),
                     "cdrom_play: starting track " + std::to_string(order[0])}));
    EXPECT_EQ(CDI.currand, 1);

    // At the first entry, it starts again.
    click(prevButton);
    EXPECT_EQ(CDI.curtrack, order[0]);
    EXPECT_EQ(CDI.currand, 1);
}

TEST_F(StepTest, ShuffleNextWithTheOrderUsedUpOnlyLogs)
{
    start_player(short_disc(3));
    click(shuffleButton);
    click(playButton);
    click(nextButton);
    click(nextButton);
    ASSERT_EQ(CDI.currand, CDI.total);
    uint8_t playing = CDI.curtrack;
    flush();

    click(nextButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_next: at last track"});
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(CDI.curtrack, playing);
}

TEST_F(StepTest, ProgramStepsWhilePlayingFollowTheSelections)
{
    start_player(short_disc(5));
    program_add_track(4);
    program_add_track(2);
    CDI.state |= CDROM_PROGRAM;
    click(playButton);
    ASSERT_EQ(CDI.curtrack, 4);
    flush();

    click(prevButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_previous: no previous selections in program",
                     "cb_cdrom_previous: playing track 4", "cdrom_play: starting track 4"}));

    click(nextButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_next: going to next selection", "cb_cdrom_next: playing track 2",
                     "cdrom_play: starting track 2"}));
    EXPECT_EQ(take_requests(), (Lines{"play 00:32:00 00:41:74", "play 00:12:00 00:21:74"}));

    click(nextButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_next: no further selections in program",
                     "cb_cdrom_next: playing track 2", "cdrom_play: starting track 2"}));

    click(prevButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_previous: going to prev selection",
                     "cb_cdrom_previous: playing track 4", "cdrom_play: starting track 4"}));
}

TEST_F(StepTest, ProgramNextWhilePausedStepsAlongTheDisc)
{
    start_player(short_disc(5));
    program_add_track(4);
    program_add_track(2);
    CDI.state |= CDROM_PROGRAM;
    click(playButton);
    click(pauseButton);
    flush();

    click(nextButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_next: paused on track 5", "cdrom_play: starting track 5"}));
    EXPECT_EQ(take_requests(), (Lines{"play 00:42:00 00:51:74", "pause"}));
}

}  // namespace
