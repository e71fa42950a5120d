// Rewind and fast-forward: the addresses asked for, and the two timers
// that repeat the steps.
#include "support/playback_helpers.h"

#include <cerrno>

namespace {

const Lines kNone;

std::string msf_at(int secs, int frame = 0)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%02d:%02d:%02d", secs / 60, secs % 60, frame);
    return buf;
}

// Start and end of a track of ten_track_disc(), in seconds.
int start_secs(int t)
{
    return t == 1 ? 2 : (t - 1) * 240;
}

int end_secs(int t)
{
    return t * 240;
}

class ScanTest : public PlayerTest {
protected:
    // The ten-track disc with the drive playing or paused at `at`.
    void start_at(const std::string &how, const std::string &at)
    {
        start_player(ten_track_disc() + "start " + how + " " + at + "\n");
        if (how == "playing")
            fire_play_timer();
        flush();
    }
    void flush()
    {
        take_stdout();
        take_requests();
    }
    // Whether any timeout comes due within the next ms milliseconds.
    bool timer_due_within(int ms)
    {
        usleep(ms * 1000);
        return XtAppPending(app_context) & XtIMTimer;
    }
};

TEST_F(ScanTest, FastForwardWhilePlayingSkipsOneSecond)
{
    start_at("playing", "12:34:50");
    ASSERT_EQ(CDI.curtrack, 4);
    tick_count = 3;

    click(ffButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_ff: moving forward in track 4"});
    EXPECT_EQ(take_requests(), Lines{"play 12:35:50 39:59:00"});
    EXPECT_EQ(tick_count, 0);
    EXPECT_EQ(scan_timer, TIMER_NONE);
}

TEST_F(ScanTest, FastForwardCarriesIntoTheNextMinute)
{
    start_at("playing", "12:59:50");
    click(ffButton);
    EXPECT_EQ(take_requests(), Lines{"play 13:00:50 39:59:00"});
}

TEST_F(ScanTest, RewindWhilePausedSkipsFifteenSecondsAndPausesAgain)
{
    start_at("paused", "12:00:30");
    ASSERT_EQ(CDI.curtrack, 4);

    click(rewButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_rew: moving backward in track 4"});
    EXPECT_EQ(take_requests(), (Lines{"play 11:45:30 39:59:00", "pause"}));
    EXPECT_EQ(flags(), CDROM_PLAYING | CDROM_PAUSED);
    EXPECT_EQ(cdrom_status(), CDROM_STATUS_PAUSED);
    EXPECT_NE(scan_timer, TIMER_NONE);
    EXPECT_EQ(last_timeout_ms, 500u);
}

TEST_F(ScanTest, RewindStopsJustAfterTheStartOfTheFirstTrack)
{
    start_at("playing", "00:02:40");
    ASSERT_EQ(CDI.curtrack, 1);
    click(rewButton);
    EXPECT_EQ(take_requests(), Lines{"play 00:03:00 39:59:00"});
}

TEST_F(ScanTest, RewindCrossesIntoThePreviousTrackAndTheTickFollows)
{
    start_at("playing", "12:00:30");
    click(rewButton);
    click(rewButton);  // off again, a second step
    EXPECT_EQ(take_requests(), (Lines{"play 11:59:30 39:59:00", "play 11:58:30 39:59:00"}));
    EXPECT_EQ(CDI.curtrack, 4);
    fire_play_timer();
    EXPECT_EQ(CDI.curtrack, 3);
    EXPECT_EQ(label_of(trackButton), "3\n");
}

TEST_F(ScanTest, AnUnreadablePositionMakesNoStep)
{
    start_at("playing", "12:00:30");
    tick_count = 2;
    sim_refuse("subchannel", EIO);
    click(rewButton);
    click(ffButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_rew: moving backward in track 4", "rew: error reading location",
                     "cb_cdrom_ff: moving forward in track 4", "ff: error reading location"}));
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(tick_count, 2);
}

TEST_F(ScanTest, StoppedScanButtonsDoNothing)
{
    start_player(ten_track_disc());
    flush();
    click(ffButton);
    click(rewButton);
    EXPECT_EQ(trace_lines(take_stdout()), kNone);
    EXPECT_EQ(take_requests(), kNone);
}

TEST_F(ScanTest, HeldWhilePausedTheScanTickRepeatsThenEnds)
{
    start_at("paused", "12:00:30");
    click(ffButton);
    EXPECT_EQ(take_requests(), (Lines{"play 12:15:30 39:59:00", "pause"}));
    EXPECT_EQ(CDI.dur, 16);  // read while the paused flag was down
    EXPECT_EQ(last_timeout_ms, 500u);
    EXPECT_EQ(play_timer, TIMER_NONE);

    int before = led_index;
    fire_scan_timer();
    EXPECT_EQ(take_requests(), (Lines{"play 12:30:30 39:59:00", "pause", "pause"}));
    EXPECT_EQ(((led_index - before) % 8 + 8) % 8, 1);
    EXPECT_EQ(last_timeout_ms, 61u);
    EXPECT_NE(play_timer, TIMER_NONE);
    EXPECT_NE(scan_timer, TIMER_NONE);  // still marks the scan under way

    fire_scan_chain_timer();
    EXPECT_EQ(take_requests(), (Lines{"play 12:45:30 39:59:00", "pause", "pause"}));
    EXPECT_EQ(last_timeout_ms, 61u);

    click(ffButton);  // off: one more step, no second chain
    EXPECT_EQ(take_requests(), (Lines{"play 13:00:30 39:59:00", "pause"}));
    EXPECT_EQ(last_timeout_ms, 61u);

    fire_scan_chain_timer();
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(scan_timer, TIMER_NONE);
    EXPECT_EQ(play_timer, TIMER_NONE);
    EXPECT_EQ(flags(), CDROM_PLAYING | CDROM_PAUSED);
    EXPECT_FALSE(timer_due_within(600));
}

TEST_F(ScanTest, ResumingDuringAPausedScanHandsItToThePlayTick)
{
    start_at("paused", "12:00:30");
    click(ffButton);
    flush();

    click(pauseButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_pause: resuming track 4"});
    EXPECT_EQ(take_requests(), Lines{"resume"});
    EXPECT_EQ(scan_timer, TIMER_NONE);
    ASSERT_NE(play_timer, TIMER_NONE);
    EXPECT_EQ(last_timeout_ms, 250u);

    // The play tick scans on with the playing skip.
    fire_play_timer();
    EXPECT_EQ(take_requests(), Lines{"play 12:16:30 39:59:00"});
    EXPECT_EQ(last_timeout_ms, 61u);

    // Nothing else is left to fire: the paused scan's timeout went too.
    XtRemoveTimeOut(play_timer);
    play_timer = TIMER_NONE;
    EXPECT_FALSE(timer_due_within(600));
}

TEST_F(ScanTest, StopDuringAPausedScanEndsIt)
{
    start_at("paused", "12:00:30");
    click(rewButton);
    flush();

    click(stopButton);
    EXPECT_EQ(take_requests(), (Lines{"play 00:02:00 39:59:74", "stop"}));
    EXPECT_EQ(scan_timer, TIMER_NONE);
    EXPECT_EQ(play_timer, TIMER_NONE);
    EXPECT_FALSE(timer_due_within(600));
    EXPECT_EQ(take_requests(), kNone);
}

TEST_F(ScanTest, SkipsOfAMinuteOrMoreStayOnTheDisc)
{
    start_at("paused", "12:00:30");
    app_resources.pauseSkipInterval = 90;
    click(rewButton);
    EXPECT_EQ(take_requests(), (Lines{"play 10:30:30 39:59:00", "pause"}));

    app_resources.pauseSkipInterval = 900;  // back past the disc's start
    click(rewButton);
    EXPECT_EQ(take_requests(), (Lines{"play 00:00:30 39:59:00", "pause"}));
    expect_invariants();
}

TEST_F(ScanTest, ANegativeSkipStandsStill)
{
    start_at("paused", "12:00:30");
    app_resources.pauseSkipInterval = -5;
    click(ffButton);
    EXPECT_EQ(take_requests(), (Lines{"play 12:00:30 39:59:00", "pause"}));
}

TEST_F(ScanTest, FastForwardNeverPassesTheEndOfTheDisc)
{
    start_at("paused", "35:50:00");
    ASSERT_EQ(CDI.curtrack, 9);
    app_resources.pauseSkipInterval = 600;
    click(ffButton);
    EXPECT_EQ(take_requests(), (Lines{"play 39:59:00 39:59:00", "pause"}));
}

TEST_F(ScanTest, ShuffleFastForwardNearTheTrackEndAsksForAnEmptyRange)
{
    start_player(ten_track_disc());
    click(shuffleButton);
    click(playButton);
    int x = CDI.curtrack;
    sim_advance_ms((end_secs(x) - start_secs(x)) * 1000 - 500);
    flush();

    click(ffButton);
    std::string e = msf_at(end_secs(x) - 1);
    EXPECT_EQ(take_requests(), Lines{"play " + e + " " + e});
}

TEST_F(ScanTest, ShuffleStepWithoutADriveTrackUsesTheCurrentTrack)
{
    start_player(ten_track_disc());
    click(shuffleButton);
    click(playButton);
    int x = CDI.curtrack;
    sim_advance_ms(100000);
    flush();

    sim_force_position(CD_AS_PLAY_IN_PROGRESS, 0);
    click(ffButton);
    EXPECT_EQ(take_requests(), Lines{"play " + msf_at(start_secs(x) + 101) + " " +
                                     msf_at(end_secs(x) - 1)});
    EXPECT_EQ(CDI.curtrack, x);

    // Neither the drive nor the player has a track: the disc bounds it.
    sim_force_position(CD_AS_PLAY_ERROR, 0);
    CDI.curtrack = 0;
    click(ffButton);  // off
    EXPECT_EQ(take_requests(), Lines{"play " + msf_at(start_secs(x) + 102) + " 39:59:00"});
}

}  // namespace
