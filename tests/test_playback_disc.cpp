// The start-up sync, eject, the drive poll, a disc found by a command,
// quit and cycle.
#include "support/playback_helpers.h"

namespace {

const Lines kNone;

Lines starting_with(const Lines &all, const std::string &word)
{
    Lines out;
    for (const auto &l : all)
        if (l.compare(0, word.size(), word) == 0)
            out.push_back(l);
    return out;
}

class DiscTest : public PlayerTest {
protected:
    // Start-up as main does, with the drive empty (no disc file).
    void start_empty()
    {
        start_drive(demo_disc(), {"-debug"});
        unlink(disc_path.c_str());
        cdrom_open();
        logo_form_create(mainForm);
        buttons_form_create(mainForm);
        program_form_create(mainForm);
        realize_main_window();
        process_events();
    }
};

TEST_F(DiscTest, StartUpWithTheDrivePlayingPicksUpItsPlay)
{
    start_player(std::string(demo_disc()) + "start playing 04:20:00\n");
    EXPECT_TRUE(toggle_on(playButton));
    EXPECT_FALSE(toggle_on(pauseButton));
    EXPECT_EQ(flags(), CDROM_PLAYING);
    EXPECT_NE(play_timer, TIMER_NONE);
    EXPECT_EQ(CDI.curtrack, 0);

    fire_play_timer();
    EXPECT_EQ(CDI.curtrack, 2);
    EXPECT_EQ(label_of(trackButton), "2\n");
    EXPECT_NE(play_timer, TIMER_NONE);
}

TEST_F(DiscTest, StartUpWithTheDrivePausedFillsTrackAndTimeAtOnce)
{
    start_player(std::string(demo_disc()) + "start paused 04:20:00\n");
    EXPECT_TRUE(toggle_on(playButton));
    EXPECT_TRUE(toggle_on(pauseButton));
    EXPECT_EQ(flags(), CDROM_PLAYING | CDROM_PAUSED);
    EXPECT_EQ(CDI.curtrack, 2);
    EXPECT_EQ(label_of(trackButton), "2\n");
    EXPECT_EQ(CDI.dur, 11);  // measured before the paused flag went up
    EXPECT_EQ(play_timer, TIMER_NONE);
}

TEST_F(DiscTest, PausedDriveReportingATrackTheDiscLacksLeavesNoTrack)
{
    sim_force_position(CD_AS_PLAY_PAUSED, 42);
    start_player(demo_disc());
    EXPECT_EQ(flags(), CDROM_PLAYING | CDROM_PAUSED);
    EXPECT_EQ(CDI.curtrack, 0);
    expect_invariants();
}

TEST_F(DiscTest, StartUpWithTheDriveIdleShowsStop)
{
    start_player(demo_disc());
    EXPECT_TRUE(toggle_on(stopButton));
    EXPECT_FALSE(toggle_on(playButton));
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(play_timer, TIMER_NONE);
}

TEST_F(DiscTest, StartUpEmptyThenThePollFindsADisc)
{
    start_empty();
    EXPECT_TRUE(toggle_on(ejectButton));
    EXPECT_EQ(flags(), CDROM_EJECTED);
    EXPECT_EQ(title, std::optional<std::string>("No Disc"));
    EXPECT_EQ(label_of(titleBar), "No Disc");
    take_stdout();

    cdrom_poll(nullptr, nullptr);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cdrom_open: cdrom not ready"});
    EXPECT_EQ(flags(), CDROM_EJECTED);

    write_disc(demo_disc());
    cdrom_poll(nullptr, nullptr);
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(CDI.max, 3);
    EXPECT_TRUE(toggle_on(stopButton));
    EXPECT_TRUE(toggle_on(ejectButton));  // the poll leaves it alone
}

TEST_F(DiscTest, EjectWhilePlayingThenThePollFindsTheNextDisc)
{
    start_player(ten_track_disc() + "start playing 25:00:00\n");
    fire_play_timer();
    ASSERT_EQ(CDI.curtrack, 7);
    take_stdout();
    take_requests();

    click(ejectButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cb_cdrom_eject: ejecting on track 7", "cdrom_play: starting track 1",
                     "cdrom_reset: forcing immediate stop", "program mode cancelled"}));
    EXPECT_EQ(take_requests(), (Lines{"play 00:02:00 39:59:74", "stop", "allow", "eject"}));
    EXPECT_EQ(CDI.curtrack, 0);
    EXPECT_EQ(CDI.max, 0);
    EXPECT_EQ(flags(), CDROM_EJECTED);
    EXPECT_FALSE(CDI.state & CDROM_PROGRAM);
    EXPECT_EQ(cdrom_fd, -1);
    EXPECT_FALSE(tables_present());
    EXPECT_EQ(title, std::optional<std::string>("No Disc"));
    EXPECT_TRUE(toggle_on(ejectButton));
    EXPECT_FALSE(toggle_on(playButton));
    EXPECT_EQ(play_timer, TIMER_NONE);

    // A second click turns the button off; the drive is still empty.
    click(ejectButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_eject: error from cdrom_open"});
    EXPECT_EQ(flags(), CDROM_EJECTED);

    cdrom_poll(nullptr, nullptr);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cdrom_open: cdrom not ready"});

    touch_later(disc_path);
    set_button_state(stopButton, False);
    cdrom_poll(nullptr, nullptr);
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(CDI.max, 10);
    EXPECT_TRUE(toggle_on(stopButton));
}

TEST_F(DiscTest, EjectClickedOffWithADiscInDoesNothing)
{
    start_player(demo_disc());
    click(ejectButton);
    touch_later(disc_path);
    take_stdout();
    take_requests();

    click(ejectButton);  // off
    EXPECT_EQ(starting_with(trace_lines(take_stdout()), "cb_cdrom_eject"), kNone);
    EXPECT_EQ(starting_with(take_requests(), "eject"), kNone);
    EXPECT_EQ(flags(), CDROM_EJECTED);

    click(ejectButton);  // on again, with the disc noticed only by open
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_eject: already ejected"});
}

TEST_F(DiscTest, PlayAfterAnUnnoticedDiscChangeStartsTheNewDisc)
{
    start_player(demo_disc());
    click(ejectButton);
    write_disc(ten_track_disc());
    touch_later(disc_path);
    take_stdout();
    take_requests();

    click(playButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cdrom_new_disc: resetting disc", "cdrom_play: starting track 1"}));
    EXPECT_EQ(starting_with(take_requests(), "play"), Lines{"play 00:02:00 39:59:74"});
    EXPECT_EQ(flags(), CDROM_PLAYING);
    EXPECT_EQ(CDI.max, 10);
    EXPECT_FALSE(toggle_on(ejectButton));
    EXPECT_TRUE(toggle_on(playButton));
}

TEST_F(DiscTest, NextAfterEjectTreatsTheDiscAsNewThenSteps)
{
    start_player(demo_disc());
    click(ejectButton);
    touch_later(disc_path);
    take_stdout();

    click(nextButton);
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cdrom_new_disc: resetting disc", "cb_cdrom_next: stopped on track 1"}));
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(CDI.curtrack, 1);
    EXPECT_TRUE(toggle_on(nextButton));
    EXPECT_FALSE(toggle_on(ejectButton));
}

TEST_F(DiscTest, NewDiscInShuffleModeGetsItsOwnOrder)
{
    start_player(demo_disc());
    click(shuffleButton);
    click(ejectButton);
    write_disc(ten_track_disc());
    touch_later(disc_path);
    take_stdout();

    click(playButton);
    Lines trace = trace_lines(take_stdout());
    EXPECT_EQ(starting_with(trace, "cb_cdrom_shuffle"), Lines{"cb_cdrom_shuffle: shuffle on"});
    EXPECT_EQ(starting_with(trace, "shuffle_setup").size(), 2u);  // by open and by new disc
    EXPECT_EQ(CDI.total, 10);
    EXPECT_EQ(CDI.currand, 1);
    EXPECT_EQ(CDI.curtrack, shuffle_order[0]);
}

// Another disc in the drive while one plays (its file rewritten): the
// tick stops the play without a request to the new disc, which is idle
// and knows nothing of the old one's addresses, and the poll reads it.
TEST_F(DiscTest, ADiscChangedWhilePlayingStopsThePlayAndThePollReadsTheNewDisc)
{
    start_player(demo_disc());
    click(playButton);
    sim_advance_ms(300000);
    fire_play_timer();
    ASSERT_EQ(CDI.curtrack, 2);
    take_stdout();
    take_requests();

    write_disc(ten_track_disc());
    touch_later(disc_path);
    fire_play_timer();
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cdrom_disc_changed: new disc on track 2", "program mode cancelled"}));
    EXPECT_EQ(take_requests(), kNone);
    EXPECT_EQ(flags(), CDROM_EJECTED);
    EXPECT_EQ(CDI.curtrack, 0);
    EXPECT_EQ(play_timer, TIMER_NONE);
    EXPECT_FALSE(toggle_on(playButton));

    cdrom_poll(nullptr, nullptr);
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(CDI.max, 10);
    EXPECT_TRUE(toggle_on(stopButton));
    EXPECT_FALSE(toggle_on(ejectButton));
    expect_invariants();
}

TEST_F(DiscTest, CycleFlipsOnlyItsFlag)
{
    start_player(demo_disc());
    click(playButton);
    uint32_t before = CDI.state;
    take_stdout();
    take_requests();

    click(cycleButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_cycle: cycle on"});
    EXPECT_EQ(CDI.state, before | CDROM_CYCLE);
    click(cycleButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_cycle: cycle off"});
    EXPECT_EQ(CDI.state, before);
    EXPECT_EQ(take_requests(), kNone);
}

TEST_F(DiscTest, QuitWhilePlayingLeavesTheDrivePlaying)
{
    start_player(demo_disc());
    click(playButton);
    take_stdout();
    take_requests();

    EXPECT_EXIT(click(quitButton), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_quit: bye"});
    EXPECT_EQ(take_requests(), kNone);  // neither stop nor pause
}

}  // namespace
