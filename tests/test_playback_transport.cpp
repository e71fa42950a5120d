// Play, pause and stop against the simulated drive.
#include "support/playback_helpers.h"

namespace {

const Lines kNone;

class TransportTest : public PlayerTest {
protected:
    void start(const std::string &disc = demo_disc())
    {
        start_player(disc);
        take_stdout();
        take_requests();
    }
    // Play from the start of the disc and let one tick measure the time.
    void play_for(int64_t ms)
    {
        click(playButton);
        sim_advance_ms(ms);
        fire_play_timer();
        take_stdout();
        take_requests();
    }
};

TEST_F(TransportTest, PlayFromStoppedPlaysFirstTrackToEndOfDisc)
{
    start();
    click(playButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cdrom_play: starting track 1"});
    EXPECT_EQ(take_requests(), Lines{"play 00:02:00 10:30:11"});
    EXPECT_EQ(flags(), CDROM_PLAYING);
    EXPECT_EQ(CDI.curtrack, 1);
    EXPECT_EQ(tick_count, 0);
    EXPECT_TRUE(toggle_on(playButton));
    EXPECT_EQ(label_of(trackButton), "1\n");
    EXPECT_NE(play_timer, TIMER_NONE);
    EXPECT_EQ(last_timeout_ms, 250u);
}

TEST_F(TransportTest, PlayWhilePlayingOrPausedChangesNothing)
{
    start();
    play_for(3000);

    click(playButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_play: already playing track 1"});
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(flags(), CDROM_PLAYING);
    EXPECT_NE(play_timer, TIMER_NONE);

    click(pauseButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_pause: pausing on track 1"});
    EXPECT_EQ(take_requests(), Lines{"pause"});
    EXPECT_EQ(flags(), CDROM_PLAYING | CDROM_PAUSED);
    EXPECT_EQ(play_timer, TIMER_NONE);

    click(playButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_play: already playing track 1"});
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(flags(), CDROM_PLAYING | CDROM_PAUSED);
    EXPECT_EQ(play_timer, TIMER_NONE);
}

TEST_F(TransportTest, PauseThenResumeOnTheSameTrackResumesTheDrive)
{
    start();
    play_for(5000);
    ASSERT_GT(CDI.dur, 0);
    set_button_state(ejectButton, True);

    click(pauseButton);
    EXPECT_TRUE(toggle_on(playButton));
    EXPECT_FALSE(toggle_on(ejectButton));
    take_stdout();
    take_requests();

    click(pauseButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_pause: resuming track 1"});
    EXPECT_EQ(take_requests(), Lines{"resume"});
    EXPECT_EQ(flags(), CDROM_PLAYING);
    EXPECT_NE(play_timer, TIMER_NONE);
    EXPECT_EQ(last_timeout_ms, 250u);
}

TEST_F(TransportTest, ResumeAfterAStepWhilePausedStartsTheTrackAfresh)
{
    start();
    play_for(5000);
    click(pauseButton);
    take_stdout();
    take_requests();

    click(nextButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_next: paused on track 2", "cdrom_play: starting track 2"}));
    EXPECT_EQ(take_requests(), (Lines{"play 04:10:33 10:30:11", "pause"}));
    EXPECT_EQ(CDI.dur, 0);
    EXPECT_EQ(play_timer, TIMER_NONE);

    click(pauseButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_pause: resuming track 2", "cdrom_play: starting track 2"}));
    EXPECT_EQ(take_requests(), Lines{"play 04:10:33 10:30:11"});
    EXPECT_EQ(flags(), CDROM_PLAYING);
    EXPECT_NE(play_timer, TIMER_NONE);
}

TEST_F(TransportTest, PauseRefusedWhenStoppedSetsOnlyThePausedFlag)
{
    start();
    click(pauseButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_pause: pausing on track 0"});
    EXPECT_NE(take_stderr().find("ioctl(cdrompause): "), std::string::npos);
    EXPECT_EQ(take_requests(), Lines{"pause"});
    EXPECT_EQ(flags(), CDROM_PAUSED);
    EXPECT_FALSE(toggle_on(playButton));

    // Play then only takes a track and marks the player playing.
    click(playButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_play: paused on track 1"});
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(flags(), CDROM_PLAYING | CDROM_PAUSED);
    EXPECT_EQ(CDI.curtrack, 1);

    // The next press of pause resumes by starting the track.
    click(pauseButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_pause: resuming track 1", "cdrom_play: starting track 1"}));
    EXPECT_EQ(take_requests(), Lines{"play 00:02:00 10:30:11"});
    EXPECT_EQ(flags(), CDROM_PLAYING);
    EXPECT_NE(play_timer, TIMER_NONE);
    expect_invariants();
}

TEST_F(TransportTest, StopResetsToNoTrackAndAStopAlreadyOnOnlyLogs)
{
    start();
    ASSERT_TRUE(toggle_on(stopButton));  // the idle drive at start-up
    play_for(3000);
    EXPECT_FALSE(toggle_on(stopButton));  // so that one click stops

    set_button_state(pauseButton, True);
    click(stopButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_stop: resetting disc", "cdrom_play: starting track 1",
                     "cdrom_reset: forcing immediate stop"}));
    EXPECT_EQ(take_requests(), (Lines{"play 00:02:00 10:30:11", "stop"}));
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(CDI.curtrack, 0);
    EXPECT_FALSE(toggle_on(playButton));
    EXPECT_FALSE(toggle_on(pauseButton));
    EXPECT_FALSE(toggle_on(timerButton));
    EXPECT_EQ(label_of(trackButton), "0\n");
    EXPECT_EQ(play_timer, TIMER_NONE);
    EXPECT_EQ(cdrom_status(), CDROM_STATUS_NOSTATUS);
    take_stdout();
    take_requests();

    click(stopButton);  // on already: the click turns it off
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_stop: already stopped"});
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(flags(), 0u);
}

TEST_F(TransportTest, ResetWithoutATrackAsksTheDriveNothing)
{
    start();
    CDI.state |= CDROM_EJECTED | CDROM_CYCLE;
    set_button_state(timerButton, True);
    click(stopButton);
    click(stopButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_stop: already stopped", "cb_cdrom_stop: resetting disc"}));
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(CDI.state, uint32_t{CDROM_CYCLE});
    EXPECT_FALSE(toggle_on(timerButton));
}

TEST_F(TransportTest, PlayWithNoDiscShowsTheEjectButton)
{
    start_drive(demo_disc(), {"-debug"});
    unlink(disc_path.c_str());
    cdrom_open();
    logo_form_create(mainForm);
    buttons_form_create(mainForm);
    program_form_create(mainForm);
    realize_main_window();
    set_button_state(ejectButton, False);
    take_stdout();

    click(playButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_play: error from cdrom_open"});
    EXPECT_FALSE(toggle_on(playButton));
    EXPECT_TRUE(toggle_on(ejectButton));
    EXPECT_EQ(flags(), CDROM_EJECTED);
    EXPECT_EQ(play_timer, TIMER_NONE);
}

}  // namespace
