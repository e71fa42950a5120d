// The play tick and the end of a track.
#include "support/playback_helpers.h"

namespace {

const Lines kNone;

// The play request of one track of short_disc().
std::string short_track_request(int t)
{
    char buf[64];
    int at = 2 + 10 * (t - 1);
    snprintf(buf, sizeof buf, "play 00:%02d:00 00:%02d:74", at, at + 9);
    return buf;
}

class TimerTest : public PlayerTest {
protected:
    void start(const std::string &disc)
    {
        start_player(disc);
        take_stdout();
        take_requests();
    }
    void flush()
    {
        take_stdout();
        take_requests();
    }
};

TEST_F(TimerTest, TickFollowsTheDriveOntoTheNextTrack)
{
    start(demo_disc());
    click(playButton);
    sim_advance_ms(249000);  // track 2 starts 248.44 s after track 1
    flush();

    fire_play_timer();
    EXPECT_EQ(CDI.curtrack, 2);
    EXPECT_EQ(label_of(trackButton), "2\n");
    EXPECT_EQ(tick_count, 1);  // reset by the change, then one plain tick
    EXPECT_EQ(CDI.dur, 2);     // 04:11:00 measured by that plain tick
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_NE(play_timer, TIMER_NONE);
    EXPECT_EQ(last_timeout_ms, 250u);
}

TEST_F(TimerTest, PlainTicksRefreshTheTimeOnceInFourAndTurnTheIndicator)
{
    start(demo_disc());
    click(playButton);
    std::vector<int> durs;
    for (int i = 0; i < 6; i++) {
        int before = led_index;
        sim_advance_ms(1000);
        fire_play_timer();
        EXPECT_EQ(((led_index - before) % 8 + 8) % 8, 1) << "tick " << i;
        durs.push_back(CDI.dur);
    }
    // Refreshed on the first and fifth tick only.
    EXPECT_EQ(durs, (std::vector<int>{2, 2, 2, 2, 6, 6}));
    EXPECT_EQ(tick_count, 6);
}

TEST_F(TimerTest, AFailedOrStrangeTrackAnswerIsNoChange)
{
    start(demo_disc());
    click(playButton);
    fire_play_timer();
    flush();

    sim_force_position(CD_AS_PLAY_ERROR, 0);  // the query gives -1
    fire_play_timer();
    EXPECT_EQ(CDI.curtrack, 1);
    EXPECT_NE(play_timer, TIMER_NONE);

    sim_force_position(CD_AS_PLAY_IN_PROGRESS, 42);  // not on this disc
    fire_play_timer();
    EXPECT_EQ(CDI.curtrack, 1);
    EXPECT_NE(play_timer, TIMER_NONE);
    EXPECT_EQ(trace_lines(take_stdout()), kNone);
    EXPECT_EQ(flags(), CDROM_PLAYING);
    expect_invariants();
}

TEST_F(TimerTest, EndOfTheDiscWithoutRepeatStopsThePlayer)
{
    start(demo_disc());
    click(playButton);
    sim_advance_ms(500000);  // into the last track
    fire_play_timer();
    ASSERT_EQ(CDI.curtrack, 3);
    set_button_state(stopButton, False);
    set_button_state(pauseButton, True);
    set_button_state(timerButton, True);
    sim_advance_ms(200000);
    flush();

    fire_play_timer();
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cdrom_atend: at end", "cdrom_atend: all done", "cdrom_play: starting track 1",
                     "cdrom_reset: forcing immediate stop"}));
    EXPECT_EQ(take_requests(), (Lines{"play 00:02:00 10:30:11", "stop"}));
    EXPECT_TRUE(toggle_on(stopButton));  // from the drive's status
    EXPECT_FALSE(toggle_on(playButton));
    EXPECT_FALSE(toggle_on(pauseButton));
    EXPECT_FALSE(toggle_on(timerButton));
    EXPECT_EQ(CDI.curtrack, 0);
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(play_timer, TIMER_NONE);
}

TEST_F(TimerTest, EndOfTheDiscWithRepeatStartsAgain)
{
    start(demo_disc());
    click(cycleButton);
    click(playButton);
    sim_advance_ms(500000);
    fire_play_timer();
    sim_advance_ms(200000);
    flush();

    fire_play_timer();
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cdrom_atend: at end", "cdrom_atend: cycling", "cdrom_play: starting track 1"}));
    EXPECT_EQ(take_requests(), Lines{"play 00:02:00 10:30:11"});
    EXPECT_EQ(CDI.curtrack, 1);
    EXPECT_EQ(CDI.dur, 0);
    EXPECT_EQ(flags(), CDROM_PLAYING);
    EXPECT_NE(play_timer, TIMER_NONE);
}

TEST_F(TimerTest, ShuffleGoesThroughTheOrderThenStops)
{
    start(short_disc(2));
    click(shuffleButton);
    click(playButton);
    std::vector<uint8_t> order = shuffle_order;
    ASSERT_EQ(CDI.curtrack, order[0]);
    sim_advance_ms(11000);
    flush();

    fire_play_timer();
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cdrom_atend: at end", "cdrom_play: starting track " + std::to_string(order[1])}));
    EXPECT_EQ(take_requests(), Lines{short_track_request(order[1])});
    EXPECT_EQ(CDI.curtrack, order[1]);

    sim_advance_ms(11000);
    fire_play_timer();
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cdrom_atend: at end", "cdrom_atend: shuffle done",
                     "cdrom_play: starting track 1", "cdrom_reset: forcing immediate stop"}));
    EXPECT_EQ(take_requests(), (Lines{short_track_request(1), "stop"}));
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(CDI.curtrack, 0);
    EXPECT_TRUE(CDI.state & CDROM_SHUFFLE);

    // Play again: a fresh order, not a run off the end of the old one.
    take_stderr();
    click(playButton);
    EXPECT_EQ(take_stderr(), "");
    EXPECT_EQ(CDI.currand, 1);
    EXPECT_EQ(CDI.curtrack, shuffle_order[0]);
}

TEST_F(TimerTest, ShuffleWithRepeatDrawsANewOrder)
{
    start(short_disc(2));
    click(cycleButton);
    click(shuffleButton);
    click(playButton);
    sim_advance_ms(11000);
    fire_play_timer();
    sim_advance_ms(11000);
    flush();

    fire_play_timer();
    Lines trace = trace_lines(take_stdout());
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0], "cdrom_atend: at end");
    EXPECT_EQ(trace[1], "cdrom_atend: shuffle cycling");
    EXPECT_EQ(trace[2].compare(0, 15, "shuffle_setup: "), 0);
    EXPECT_EQ(trace[3], "cdrom_play: starting track " + std::to_string(shuffle_order[0]));
    EXPECT_EQ(CDI.currand, 1);
    EXPECT_EQ(CDI.curtrack, shuffle_order[0]);
    EXPECT_EQ(take_requests(), Lines{short_track_request(shuffle_order[0])});
    EXPECT_NE(play_timer, TIMER_NONE);
}

TEST_F(TimerTest, ProgramPlaysItsSelectionsThenStopsWithoutAStatusQuery)
{
    start(short_disc(4));
    program_add_track(3);
    program_add_track(2);
    CDI.state |= CDROM_PROGRAM;
    set_button_state(stopButton, False);
    flush();

    click(playButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_play: resetting timer button", "cdrom_play: starting track 3"}));
    EXPECT_EQ(take_requests(), Lines{short_track_request(3)});

    sim_advance_ms(11000);
    fire_play_timer();
    EXPECT_EQ(CDI.curtrack, 2);
    EXPECT_EQ(take_requests(), Lines{short_track_request(2)});
    take_stdout();

    sim_advance_ms(11000);
    fire_play_timer();
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cdrom_atend: at end", "cdrom_atend: all done", "cdrom_play: starting track 1",
                     "cdrom_reset: forcing immediate stop"}));
    EXPECT_FALSE(toggle_on(stopButton));
    EXPECT_EQ(flags(), 0u);
}

TEST_F(TimerTest, ProgramWithRepeatStartsAtTheFirstSelectionAgain)
{
    start(short_disc(4));
    program_add_track(4);
    CDI.state |= CDROM_PROGRAM;
    click(cycleButton);
    click(playButton);
    sim_advance_ms(11000);
    flush();

    fire_play_timer();
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cdrom_atend: at end", "cdrom_atend: cycling program",
                     "cdrom_play: starting track 4"}));
    EXPECT_EQ(take_requests(), Lines{short_track_request(4)});
    EXPECT_EQ(flags(), CDROM_PLAYING);
}

TEST_F(TimerTest, RewindHeldOnStepsEveryTickAndTurnsTheIndicatorBack)
{
    start(std::string(demo_disc()) + "start playing 05:00:00\n");
    fire_play_timer();
    click(rewButton);
    ASSERT_TRUE(toggle_on(rewButton));
    flush();

    int before = led_index;
    fire_play_timer();
    EXPECT_EQ(take_requests(), Lines{"play 04:58:00 10:29:12"});
    EXPECT_EQ(((before - led_index) % 8 + 8) % 8, 1);
    EXPECT_EQ(tick_count, 0);
    EXPECT_EQ(last_timeout_ms, 61u);
    EXPECT_NE(play_timer, TIMER_NONE);

    click(rewButton);  // off: one last step
    EXPECT_EQ(take_requests(), Lines{"play 04:57:00 10:29:12"});
    fire_play_timer();
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(last_timeout_ms, 250u);
}

}  // namespace
