// Faults the fault storm and the fuzzers found, each replayed as the
// shortest sequence that shows it.
#include "support/playback_helpers.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "disc/cdinfo.h"

namespace {

class StormRegression : public PlayerTest {};

// A paused fast-forward runs off the end of the disc with repeat on, so
// the end of the disc comes from the scan tick while the player is
// paused.  The player must not go on showing "paused" while the drive
// plays, and the play tick must not start a second scan chain beside the
// one it carries (storm seed 1, step 27).
TEST_F(StormRegression, EndOfDiscReachedInAPausedScanKeepsOneTickChain)
{
    start_player(short_disc(3) + "start paused 00:25:00\n");
    ASSERT_EQ(flags(), CDROM_PLAYING | CDROM_PAUSED);
    ASSERT_EQ(CDI.curtrack, 3);
    click(cycleButton);

    click(ffButton);  // on: clamps to the end of the last track
    ASSERT_NE(scan_timer, TIMER_NONE);
    fire_scan_timer();  // the drive has completed: the end of the disc
    ASSERT_EQ(CDI.curtrack, 1) << "repeat plays on from the first track";
    if (CDI.state & CDROM_PAUSED) {
        EXPECT_NE(cdrom_status(), CDROM_STATUS_PLAYING)
            << "the player shows paused while the drive plays";
    }

    for (int i = 0; i < 4 && play_timer != TIMER_NONE; i++) {
        fire_play_timer();
        EXPECT_FALSE(play_timer != TIMER_NONE && scan_timer != TIMER_NONE)
            << "a play tick and a scan tick pending at once, tick " << i;
    }
    expect_invariants();
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A null byte in the information file ends the text of its line: the
// title and program keep only what can be shown and saved, and a save
// writes back what was read (fuzz_cdinfo, crash-6092f714).
TEST_F(StormRegression, NullByteInTheInformationFileEndsTheLine)
{
    std::string dir = scratch + "/info";
    std::filesystem::create_directory(dir);
    start_drive(demo_disc(), {"-cdInfoDir", dir});
    std::ofstream(dir + "/cd.406", std::ios::binary)
        << std::string("Title:Live\0 at the Hall\nProgram: 3-1\0-2 x\nextra\n", 48);
    ASSERT_EQ(cdrom_open(), 0);
    EXPECT_EQ(title, "Live");
    EXPECT_EQ(program_string, "3-1");

    cb_save_program(nullptr, nullptr, nullptr);
    EXPECT_EQ(slurp(dir + "/cd.406"), "Title:Live\nProgram: 3-1\n");
    cdinfo_read();
    EXPECT_EQ(title, "Live");
    EXPECT_EQ(program_string, "3-1");
}

// Blanks other than spaces and tabs (a vertical tab, a form feed) make a
// line of the disc file blank, not a line without a first word
// (fuzz_disc, crash-f0551342).
TEST_F(StormRegression, DiscFileLineOfOtherBlanksIsBlank)
{
    start_drive("track 1 00:02:00\n\v\n \f \n\vtrack 2 01:00:00\nleadout 04:00:00\n");
    ASSERT_EQ(cdrom_open(), 0);
    EXPECT_EQ(CDI.min, 1);
    EXPECT_EQ(CDI.max, 2);
    EXPECT_EQ(take_stderr(), "");
}

}  // namespace
