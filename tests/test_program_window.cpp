// The program window: its widgets, the program button and its latch, the
// stored program, the number buttons with "+10" and the tens display, All,
// Cancel, Save and clicks on the selections.
#include "support/player_fixture.h"
#include "support/program_helpers.h"

#include <X11/Xaw/Command.h>
#include <X11/Xaw/Form.h>
#include <X11/Xaw/Toggle.h>
#include <X11/Xaw/Viewport.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/app.h"
#include "disc/cdrom.h"
#include "drive/sim.h"
#include "program/program.h"
#include "ui/ui.h"

class ProgramWindow : public PlayerTest {
protected:
    // A player whose information directory holds FILE_TEXT for the disc.
    void start_with_info(const std::vector<int> &lengths, const std::string &file_text)
    {
        info_dir = scratch + "/info";
        std::filesystem::create_directory(info_dir);
        if (!file_text.empty())
            write_file(info_dir + "/cd." + std::to_string(disc_number_of(lengths)), file_text);
        start_player(disc_of(lengths), {"-cdInfoDir", info_dir});
    }
    void enter()
    {
        click(pgmButton);
        ASSERT_TRUE(CDI.state & CDROM_PROGRAM);
        ASSERT_EQ(pgm_latch, 1);
    }
    Widget button(const char *name) { return XtNameToWidget(programForm, name); }
    Widget number(int n) { return select_buttons[n - 1]; }

    std::string info_dir;
};

static bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

TEST_F(ProgramWindow, IsBuiltHiddenWithItsNamedWidgets)
{
    start_player(demo_disc());

    EXPECT_STREQ(XtName(programForm), "programForm");
    EXPECT_EQ(XtParent(programForm), mainForm);
    EXPECT_EQ(XtClass(programForm), formWidgetClass);
    EXPECT_FALSE(XtIsManaged(programForm));

    Widget viewport = XtNameToWidget(programForm, "programDisplayViewport");
    ASSERT_NE(viewport, nullptr);
    EXPECT_EQ(XtClass(viewport), viewportWidgetClass);
    EXPECT_EQ(XtNameToWidget(viewport, "programDisplayForm"), programDisplayForm);
    EXPECT_STREQ(XtName(program_anchor), "programSelection");
    EXPECT_EQ(XtParent(program_anchor), programDisplayForm);
    EXPECT_EQ(label_of(program_anchor), " ");
    EXPECT_TRUE(toggle_on(program_anchor));

    EXPECT_EQ(from_vert(button("Clear")), viewport);
    EXPECT_EQ(from_horiz(button("Cancel")), button("Clear"));
    EXPECT_EQ(from_horiz(button("Save")), button("Cancel"));
    Widget select_form = button("selectForm");
    ASSERT_NE(select_form, nullptr);
    EXPECT_EQ(from_vert(select_form), button("Clear"));

    const char *names[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "+10", "  "};
    for (int i = 0; i < 11; i++) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(XtName(select_buttons[i]), names[i]);
        EXPECT_EQ(XtParent(select_buttons[i]), select_form);
        EXPECT_EQ(XtClass(select_buttons[i]), commandWidgetClass);
        if (i >= 1 && i <= 8) {
            EXPECT_EQ(from_horiz(select_buttons[i]), select_buttons[i - 1]);
        }
    }
    EXPECT_EQ(tens_display, select_buttons[10]);
    EXPECT_EQ(from_vert(select_buttons[9]), select_buttons[0]);
    EXPECT_EQ(from_vert(tens_display), select_buttons[0]);
    EXPECT_EQ(from_horiz(tens_display), select_buttons[9]);
    Widget all = XtNameToWidget(select_form, "All");
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(from_vert(all), select_buttons[0]);
    EXPECT_EQ(from_horiz(all), select_buttons[6]);
}

TEST_F(ProgramWindow, NumberButtonsFollowASevenTrackDisc)
{
    start_player(disc_of(lengths_of(7)));
    enter();
    EXPECT_TRUE(XtIsManaged(programForm));
    for (int n = 1; n <= 9; n++)
        EXPECT_EQ(XtIsSensitive(number(n)), n <= 7) << n;
    EXPECT_FALSE(XtIsSensitive(select_buttons[9]));
    EXPECT_FALSE(XtIsSensitive(tens_display));
}

TEST_F(ProgramWindow, NumberButtonsFollowATwelveTrackDisc)
{
    start_player(disc_of(lengths_of(12)));
    enter();
    for (int n = 1; n <= 9; n++)
        EXPECT_TRUE(XtIsSensitive(number(n))) << n;
    EXPECT_TRUE(XtIsSensitive(select_buttons[9]));
    EXPECT_FALSE(XtIsSensitive(tens_display));

    take_stdout();
    click(number(4));
    EXPECT_EQ(take_stdout(), "adding track 4 to program\n");
    EXPECT_EQ(program_string, "4");
}

TEST_F(ProgramWindow, ProgramButtonAlternatesBetweenActingAndRestoring)
{
    start_player(disc_of(lengths_of(7)));
    take_stdout();
    click(pgmButton);
    EXPECT_TRUE(contains(take_stdout(), "cb_cdrom_program: program on\n"));
    EXPECT_TRUE(CDI.state & CDROM_PROGRAM);
    EXPECT_TRUE(XtIsManaged(programForm));
    EXPECT_TRUE(toggle_on(timerButton));
    EXPECT_EQ(pgm_latch, 1);

    click(pgmButton);  // only restores the look
    EXPECT_EQ(pgm_latch, 0);
    EXPECT_TRUE(toggle_on(pgmButton));
    EXPECT_FALSE(toggle_on(trackButton));
    EXPECT_EQ(CDI.lastprog, 0);

    click(pgmButton);  // no current track: nothing to add
    EXPECT_EQ(pgm_latch, 1);
    EXPECT_EQ(CDI.lastprog, 0);
    click(pgmButton);

    CDI.curtrack = 5;  // stopped on track 5
    take_stdout();
    click(pgmButton);
    EXPECT_TRUE(contains(take_stdout(), "cb_cdrom_program: adding track 5 to program list\n"));
    EXPECT_EQ(program_string, "5");
    EXPECT_FALSE(toggle_on(pgmButton));
    EXPECT_TRUE(toggle_on(trackButton));
    EXPECT_EQ(pgm_latch, 1);
    click(pgmButton);
    EXPECT_FALSE(toggle_on(trackButton));
    EXPECT_TRUE(toggle_on(pgmButton));
    EXPECT_EQ(pgm_latch, 0);

    CDI.state |= CDROM_PLAYING;  // playing: nothing is added, the latch still set
    click(pgmButton);
    EXPECT_EQ(program_string, "5");
    EXPECT_EQ(pgm_latch, 1);
    click(pgmButton);
    EXPECT_EQ(pgm_latch, 0);

    CDI.state |= CDROM_PAUSED;  // paused on 6: added and made current
    CDI.curtrack = 6;
    click(pgmButton);
    EXPECT_EQ(program_string, "5-6");
    EXPECT_EQ(CDI.program_current, CDI.program_head->next);
    EXPECT_EQ(pgm_latch, 1);
}

TEST_F(ProgramWindow, EnteringProgramModeTurnsShuffleOff)
{
    start_player(disc_of(lengths_of(7)));
    click(shuffleButton);
    ASSERT_TRUE(CDI.state & CDROM_SHUFFLE);
    take_stdout();
    click(pgmButton);
    std::string out = take_stdout();
    size_t cancel = out.find("cb_cdrom_program: cancelling shuffle mode\n");
    ASSERT_NE(cancel, std::string::npos) << out;
    EXPECT_LT(cancel, out.find("cb_cdrom_program: program on\n"));
    EXPECT_FALSE(CDI.state & CDROM_SHUFFLE);
    EXPECT_TRUE(CDI.state & CDROM_PROGRAM);
    EXPECT_FALSE(toggle_on(shuffleButton));
}

TEST_F(ProgramWindow, StoredProgramIsLoadedOnEntryOnly)
{
    std::vector<int> lengths = {200, 180, 240, 150, 300};
    start_with_info(lengths, "Title:Stored\nProgram: 2-5-5-1\n");
    take_stdout();
    enter();
    EXPECT_TRUE(contains(take_stdout(), "using stored program\n"));
    EXPECT_EQ(row_labels(), Labels({"2", "-5", "-5", "-1"}));
    EXPECT_EQ(program_string, "2-5-5-1");
    EXPECT_EQ(program_mark, selections().back());
    EXPECT_EQ(CDI.program_current, nullptr);

    // Leaving empties the text, so the next entry starts empty; the latch
    // left by the entry makes the first press after the cancel a restoring one.
    click(button("Cancel"));
    click(pgmButton);
    EXPECT_FALSE(CDI.state & CDROM_PROGRAM);
    take_stdout();
    click(pgmButton);
    EXPECT_TRUE(CDI.state & CDROM_PROGRAM);
    EXPECT_FALSE(contains(take_stdout(), "using stored program"));
    EXPECT_EQ(CDI.lastprog, 0);
}

TEST_F(ProgramWindow, WithoutAnInformationFileTheProgramStartsEmpty)
{
    start_with_info({200, 180, 240, 150, 300}, "");
    ASSERT_EQ(info_file, nullptr);
    program_string = "3-1";  // left over from an earlier disc
    take_stdout();
    enter();
    EXPECT_FALSE(contains(take_stdout(), "using stored program"));
    EXPECT_EQ(CDI.program_head, nullptr);
    EXPECT_EQ(CDI.lastprog, 0);
}

TEST_F(ProgramWindow, StoredEntriesThatAreNoTrackOfTheDiscAreSkipped)
{
    // 261 would wrap to track 5 if cut to eight bits before the check.
    start_with_info({200, 180, 240, 150, 300}, "Title:Odd\nProgram: 2-x-9--0-261-4-3b\n");
    take_stdout();
    enter();
    std::string out = take_stdout();
    EXPECT_TRUE(contains(out, "program: skipping stored entry x\n")) << out;
    EXPECT_TRUE(contains(out, "program: track 9 is not on this disc\n"));
    EXPECT_TRUE(contains(out, "program: track 0 is not on this disc\n"));
    EXPECT_TRUE(contains(out, "program: track 261 is not on this disc\n"));
    EXPECT_EQ(row_labels(), Labels({"2", "-4", "-3"}));
    EXPECT_EQ(program_string, "2-4-3");
}

TEST_F(ProgramWindow, NumberButtonRefusesATrackBelowTheFirst)
{
    start_player(disc_of({200, 180, 240, 150}, 2));  // tracks 2 to 5
    enter();
    ASSERT_TRUE(XtIsSensitive(number(1)));
    take_stdout();
    click(number(1));
    EXPECT_EQ(take_stdout(), "program: track 1 is not on this disc\n");
    EXPECT_EQ(CDI.lastprog, 0);
    click(number(3));
    EXPECT_EQ(take_stdout(), "adding track 3 to program\n");
    EXPECT_EQ(program_string, "3");
}

TEST_F(ProgramWindow, TensDisplaySumsAndAddsItsTrack)
{
    start_player(disc_of(lengths_of(25)));
    enter();
    Widget plus10 = select_buttons[9];

    click(plus10);
    EXPECT_EQ(label_of(tens_display), "10\n");
    EXPECT_TRUE(XtIsSensitive(tens_display));
    EXPECT_EQ(tens_mode, 1);
    click(plus10);
    click(number(3));
    EXPECT_EQ(label_of(tens_display), "23\n");
    EXPECT_EQ(CDI.lastprog, 0);  // digits add to the display, not to the program
    take_stdout();
    click(tens_display);
    EXPECT_EQ(take_stdout(), "adding track 23 to program\n");
    EXPECT_EQ(label_of(tens_display), "  ");
    EXPECT_FALSE(XtIsSensitive(tens_display));
    EXPECT_EQ(tens_mode, 0);

    click(plus10);
    click(number(4));
    click(number(4));
    EXPECT_EQ(label_of(tens_display), "18\n");
    click(tens_display);
    EXPECT_EQ(program_string, "23-18");

    click(number(4));  // idle again: the digit is a track
    EXPECT_EQ(program_string, "23-18-4");
}

TEST_F(ProgramWindow, TensDisplayBeyondTheLastTrackOnlyResets)
{
    start_player(disc_of(lengths_of(12)));
    enter();
    click(select_buttons[9]);
    click(select_buttons[9]);
    click(number(3));
    ASSERT_EQ(label_of(tens_display), "23\n");
    take_stdout();
    click(tens_display);
    EXPECT_EQ(take_stdout(), "");
    EXPECT_EQ(CDI.lastprog, 0);
    EXPECT_EQ(label_of(tens_display), "  ");
    EXPECT_FALSE(XtIsSensitive(tens_display));
    EXPECT_EQ(tens_mode, 0);
}

TEST_F(ProgramWindow, AllReplacesTheProgramWithEveryTrack)
{
    start_player(disc_of(lengths_of(5)));
    enter();
    click(number(3));
    click(number(3));
    take_stdout();
    click(XtNameToWidget(programForm, "selectForm.All"));
    EXPECT_EQ(take_stdout(), "program replaced by in-sequence track list\n");
    EXPECT_EQ(row_labels(), Labels({"1", "-2", "-3", "-4", "-5"}));
    EXPECT_EQ(CDI.program_current, nullptr);  // stopped

    click(playButton);
    ASSERT_EQ(CDI.curtrack, 1);
    click(pauseButton);
    ASSERT_TRUE(CDI.state & CDROM_PAUSED);
    click(XtNameToWidget(programForm, "selectForm.All"));
    EXPECT_EQ(program_string, "1-2-3-4-5");
    EXPECT_EQ(CDI.program_current, selections().back());
    EXPECT_EQ(CDI.curtrack, 5);
    EXPECT_EQ(label_of(trackButton), "5\n");
}

TEST_F(ProgramWindow, CancelLeavesProgramMode)
{
    start_player(disc_of(lengths_of(7)));
    enter();
    click(number(2));
    click(number(3));
    click(select_buttons[9]);
    take_stdout();

    click(button("Cancel"));
    EXPECT_TRUE(contains(take_stdout(), "program mode cancelled\n"));
    EXPECT_FALSE(CDI.state & CDROM_PROGRAM);
    EXPECT_FALSE(XtIsManaged(programForm));
    EXPECT_FALSE(toggle_on(pgmButton));
    EXPECT_FALSE(toggle_on(timerButton));
    EXPECT_EQ(CDI.program_head, nullptr);
    EXPECT_EQ(program_string, "");
    EXPECT_EQ(tens_mode, 0);
    EXPECT_EQ(pgm_latch, 1);  // left as it was

    // The latch makes the next press only restore the look; the press after
    // it, which the toolkit turns off, enters program mode shown on.
    click(pgmButton);
    EXPECT_FALSE(CDI.state & CDROM_PROGRAM);
    click(pgmButton);
    EXPECT_TRUE(CDI.state & CDROM_PROGRAM);
    EXPECT_TRUE(toggle_on(pgmButton));
}

TEST_F(ProgramWindow, SaveWritesTheProgram)
{
    std::vector<int> lengths = {200, 180, 240};
    start_with_info(lengths, "");
    enter();
    click(number(3));
    click(number(1));
    click(button("Save"));
    std::ifstream in(info_dir + "/cd." + std::to_string(disc_number_of(lengths)));
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_TRUE(contains(text.str(), "\nProgram: 3-1\n")) << text.str();
}

TEST_F(ProgramWindow, ChoosingASelectionMovesTheTrackUnlessPlaying)
{
    start_player(disc_of(lengths_of(7)));
    enter();
    click(number(2));
    click(number(4));
    click(number(5));
    std::vector<selection *> row = selections();

    click(row[0]->toggle);
    EXPECT_EQ(program_mark, row[0]);
    EXPECT_EQ(CDI.program_current, row[0]);
    EXPECT_EQ(CDI.curtrack, 2);
    EXPECT_EQ(label_of(trackButton), "2\n");
    EXPECT_EQ(toggles_on(), On({0}));

    click(playButton);
    ASSERT_EQ(CDI.state & (CDROM_PLAYING | CDROM_PAUSED), CDROM_PLAYING);
    ASSERT_EQ(CDI.curtrack, 2);
    click(row[1]->toggle);
    EXPECT_EQ(program_mark, row[1]);
    EXPECT_EQ(CDI.program_current, row[0]);
    EXPECT_EQ(CDI.curtrack, 2);

    click(program_anchor);  // the next selection goes to the front
    EXPECT_EQ(program_mark, nullptr);
    click(number(6));
    EXPECT_EQ(program_string, "6-2-4-5");
}

// Tracks 1 to 3 start at 0:02, 4:10 and 7:00; the lead-out at 10:30.
TEST_F(ProgramWindow, ProgramPlaysToItsEndThenStopsOrCycles)
{
    start_player(demo_disc());
    enter();
    program_add_track(3);
    program_add_track(1);
    take_requests();

    click(playButton);
    EXPECT_EQ(CDI.curtrack, 3);
    EXPECT_EQ(take_requests(), std::vector<std::string>({"play 07:00:00 10:30:11"}));
    sim_advance_ms(211 * 1000);
    take_stdout();
    fire_play_timer();
    EXPECT_TRUE(contains(take_stdout(), "cdrom_play: starting track 1\n"));
    EXPECT_EQ(CDI.program_current, selections().back());
    EXPECT_EQ(take_requests(), std::vector<std::string>({"play 00:02:00 04:10:32"}));

    click(cycleButton);
    sim_advance_ms(249 * 1000);
    fire_play_timer();
    EXPECT_TRUE(contains(take_stdout(), "cdrom_atend: cycling program\n"));
    EXPECT_EQ(CDI.curtrack, 3);
    EXPECT_EQ(CDI.program_current, CDI.program_head);

    click(cycleButton);
    sim_advance_ms(211 * 1000);
    fire_play_timer();
    sim_advance_ms(249 * 1000);
    take_stdout();
    fire_play_timer();
    EXPECT_TRUE(contains(take_stdout(), "cdrom_atend: all done\n"));
    EXPECT_EQ(CDI.curtrack, 0);
    EXPECT_FALSE(CDI.state & CDROM_PLAYING);
    EXPECT_EQ(CDI.program_current, nullptr);
    EXPECT_EQ(program_string, "3-1");  // the program stays for the next play
}
