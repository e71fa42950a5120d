// The shuffle button, the random order and the two ways through it.
#include "support/playback_helpers.h"

#include <algorithm>
#include <ctime>

namespace {

const Lines kNone;

class ShuffleTest : public PlayerTest {
protected:
    void start(const std::string &disc)
    {
        start_player(disc);
        take_stdout();
        take_requests();
    }
};

TEST_F(ShuffleTest, TurningShuffleOnBuildsAPermutationOfTheDisc)
{
    start(short_disc(5));
    click(shuffleButton);
    Lines trace = trace_lines(take_stdout());
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0], "cb_cdrom_shuffle: shuffle on");
    std::string listed = "shuffle_setup: ";
    for (uint8_t t : shuffle_order)
        listed += std::to_string(t) + " ";
    EXPECT_EQ(trace[1], listed);

    EXPECT_TRUE(CDI.state & CDROM_SHUFFLE);
    EXPECT_EQ(CDI.total, 5);
    EXPECT_EQ(CDI.currand, 0);
    std::vector<uint8_t> sorted = shuffle_order;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(ShuffleTest, PlayInShuffleModePlaysTheFirstEntryAlone)
{
    start(ten_track_disc());
    click(shuffleButton);
    click(playButton);
    uint8_t t = shuffle_order[0];
    EXPECT_EQ(CDI.curtrack, t);
    EXPECT_EQ(CDI.currand, 1);
    char want[64];
    int start = t == 1 ? 2 : (t - 1) * 240, end = t * 240;
    snprintf(want, sizeof want, "play %02d:%02d:00 %02d:%02d:74", start / 60, start % 60,
             (end - 1) / 60, (end - 1) % 60);
    EXPECT_EQ(take_requests(), Lines{want});
}

TEST_F(ShuffleTest, OneTrackDiscHasNoOrder)
{
    start(short_disc(1));
    click(shuffleButton);
    EXPECT_EQ(CDI.currand, -1);
    EXPECT_EQ(shuffle_get_track(), 1);
    EXPECT_EQ(shuffle_get_track(), 1);
    EXPECT_EQ(shuffle_prev_track(), 1);
    EXPECT_EQ(CDI.currand, -1);
    EXPECT_NE(CDI.currand, CDI.total);

    click(playButton);
    EXPECT_EQ(take_requests(), Lines{"play 00:02:00 00:11:74"});
}

TEST_F(ShuffleTest, PreviousAndNextMoveThroughTheOrder)
{
    start(short_disc(5));
    click(shuffleButton);
    std::vector<uint8_t> o = shuffle_order;

    EXPECT_EQ(shuffle_get_track(), o[0]);
    EXPECT_EQ(shuffle_prev_track(), o[0]);  // at the start it stays there
    EXPECT_EQ(CDI.currand, 1);

    EXPECT_EQ(shuffle_get_track(), o[1]);
    EXPECT_EQ(shuffle_get_track(), o[2]);
    EXPECT_EQ(CDI.currand, 3);
    EXPECT_EQ(shuffle_prev_track(), o[1]);
    EXPECT_EQ(CDI.currand, 2);
    EXPECT_EQ(shuffle_get_track(), o[2]);

    EXPECT_EQ(shuffle_get_track(), o[3]);
    EXPECT_EQ(shuffle_get_track(), o[4]);
    EXPECT_EQ(CDI.currand, CDI.total);
    take_stderr();
    EXPECT_EQ(shuffle_get_track(), CDI.min);
    EXPECT_EQ(take_stderr(), "shuffle_get_track: ran off end\n");
    EXPECT_EQ(CDI.currand, CDI.total);
}

TEST_F(ShuffleTest, TheButtonRingsAndStaysOffWhilePlayingOrPaused)
{
    start(short_disc(5));
    click(playButton);
    take_stdout();

    click(shuffleButton);
    EXPECT_FALSE(toggle_on(shuffleButton));
    EXPECT_FALSE(CDI.state & CDROM_SHUFFLE);
    EXPECT_EQ(trace_lines(take_stdout()), kNone);

    click(pauseButton);
    take_stdout();
    click(shuffleButton);
    EXPECT_FALSE(toggle_on(shuffleButton));
    EXPECT_FALSE(CDI.state & CDROM_SHUFFLE);
    EXPECT_EQ(CDI.total, 0);
}

TEST_F(ShuffleTest, OffKeepsTheOrderAndOnAgainDrawsAFreshOne)
{
    start(short_disc(5));
    click(shuffleButton);
    shuffle_get_track();
    shuffle_get_track();
    std::vector<uint8_t> o = shuffle_order;
    take_stdout();

    click(shuffleButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_shuffle: shuffle off"});
    EXPECT_FALSE(CDI.state & CDROM_SHUFFLE);
    EXPECT_EQ(shuffle_order, o);
    EXPECT_EQ(CDI.currand, 2);

    click(shuffleButton);
    EXPECT_TRUE(CDI.state & CDROM_SHUFFLE);
    EXPECT_EQ(CDI.currand, 0);
}

TEST_F(ShuffleTest, BuildsInTheSameClockSecondGiveTheSameOrder)
{
    start(ten_track_disc());
    for (int attempt = 0; attempt < 3; attempt++) {
        time_t before = time(nullptr);
        shuffle_setup();
        std::vector<uint8_t> first = shuffle_order;
        shuffle_setup();
        if (time(nullptr) != before)
            continue;  // the clock moved on between the builds: try again
        EXPECT_EQ(shuffle_order, first);
        return;
    }
    FAIL() << "the clock kept moving";
}

TEST_F(ShuffleTest, ShuffleOnInProgramModeLeavesProgramModeFirst)
{
    start(short_disc(5));
    click(pgmButton);
    ASSERT_TRUE(CDI.state & CDROM_PROGRAM);
    program_add_track(2);
    take_stdout();

    click(shuffleButton);
    Lines trace = trace_lines(take_stdout());
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace.front(), "cb_cdrom_shuffle: cancelling program");
    EXPECT_NE(std::find(trace.begin(), trace.end(), "cb_cdrom_shuffle: shuffle on"), trace.end());
    EXPECT_FALSE(CDI.state & CDROM_PROGRAM);
    EXPECT_TRUE(CDI.state & CDROM_SHUFFLE);
    EXPECT_EQ(CDI.lastprog, 0);
}

TEST_F(ShuffleTest, ShuffleOnWithNoDiscBuildsAnEmptyOrderUntilADiscComes)
{
    start(short_disc(5));
    click(ejectButton);
    take_stdout();

    click(shuffleButton);
    EXPECT_EQ(trace_lines(take_stdout()), Lines{"cb_cdrom_shuffle: shuffle on"});
    EXPECT_EQ(CDI.total, 0);
    EXPECT_EQ(CDI.currand, 0);
    EXPECT_TRUE(shuffle_order.empty());

    write_disc(ten_track_disc());
    touch_later(disc_path);
    cdrom_poll(nullptr, nullptr);
    EXPECT_EQ(CDI.total, 10);
    EXPECT_EQ(CDI.currand, 0);
    EXPECT_EQ(shuffle_order.size(), 10u);
    expect_invariants();
}

}  // namespace
