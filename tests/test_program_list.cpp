// The program list: insertion, deletion, the walkers, the time left and
// clearing, checked on the list and on its row of toggles.
#include "support/player_fixture.h"
#include "support/program_helpers.h"

#include "app/app.h"
#include "disc/cdrom.h"
#include "program/program.h"
#include "ui/ui.h"

class ProgramList : public PlayerTest {
protected:
    void start(const std::string &disc)
    {
        start_player(disc);
        click(pgmButton);  // program mode shows the window
        ASSERT_TRUE(CDI.state & CDROM_PROGRAM);
        take_stdout();
    }
    static void pause_flags() { CDI.state |= CDROM_PLAYING | CDROM_PAUSED; }
};

TEST_F(ProgramList, InsertsAfterTheMarkOrAtTheFront)
{
    start(disc_of(lengths_of(12)));

    program_add_track(5);
    EXPECT_EQ(row_labels(), Labels({"5"}));
    EXPECT_EQ(program_string, "5");
    EXPECT_EQ(toggles_on(), On({0}));
    program_clear();

    program_add_track(3);
    program_add_track(4);
    EXPECT_EQ(program_mark, CDI.program_head->next);
    click(program_anchor);  // the next selection goes to the front
    EXPECT_EQ(program_mark, nullptr);
    program_add_track(7);
    EXPECT_EQ(row_labels(), Labels({"7", "-3", "-4"}));
    EXPECT_EQ(program_string, "7-3-4");
    EXPECT_EQ(program_mark, CDI.program_head);
    EXPECT_EQ(toggles_on(), On({0}));

    program_clear();
    program_add_track(3);
    program_add_track(4);
    click(CDI.program_head->toggle);  // mark on 3
    selection *three = CDI.program_head;
    EXPECT_EQ(program_mark, three);
    program_add_track(9);
    EXPECT_EQ(row_labels(), Labels({"3", "-9", "-4"}));
    EXPECT_EQ(program_mark, three->next);
    program_add_track(6);
    program_add_track(6);  // a track may come back; each is its own selection
    EXPECT_EQ(row_labels(), Labels({"3", "-9", "-6", "-6", "-4"}));
    EXPECT_EQ(program_string, "3-9-6-6-4");
    EXPECT_EQ(toggles_on(), On({3}));
    std::vector<selection *> all = selections();
    EXPECT_NE(all[2], all[3]);
    EXPECT_NE(all[2]->toggle, all[3]->toggle);

    // Stopped, adding leaves the track and the current selection alone.
    EXPECT_EQ(CDI.program_current, three);
    EXPECT_EQ(CDI.curtrack, 3);
}

// On screen, not only in the constraints: each toggle of the row has the
// width its label needs and stands clear of the one before it, after
// inserts at the front and in the middle and after deleting the head.
static void expect_row_laid_out(const char *when)
{
    Position x = 0;
    Dimension width = 0;
    XtVaGetValues(program_anchor, XtNx, &x, XtNwidth, &width, nullptr);
    int right = x + width;
    for (selection *s = CDI.program_head; s; s = s->next) {
        XtVaGetValues(s->toggle, XtNx, &x, XtNwidth, &width, nullptr);
        EXPECT_GE(x, right) << when << ": the toggle of track " << int(s->track) << " overlaps";
        XtWidgetGeometry preferred{};
        XtQueryGeometry(s->toggle, nullptr, &preferred);
        EXPECT_EQ(width, preferred.width)
            << when << ": the toggle \"" << label_of(s->toggle) << "\" has another's width";
        right = x + width;
    }
}

TEST_F(ProgramList, InsertedTogglesAreLaidOutInRowOrder)
{
    start(disc_of(lengths_of(12)));
    for (int t : {3, 12, 2})
        program_add_track(t);
    click(CDI.program_head->toggle);  // mark on 3: the next goes after it
    program_add_track(5);
    click(program_anchor);            // and this one to the front
    program_add_track(1);
    ASSERT_EQ(program_string, "1-3-5-12-2");
    expect_row_laid_out("inserted");

    program_delete_selection(CDI.program_head);  // "-3" becomes "3"
    ASSERT_EQ(program_string, "3-5-12-2");
    expect_row_laid_out("head deleted");
    program_delete_selection(CDI.program_head);  // "-5", made so, becomes "5"
    ASSERT_EQ(program_string, "5-12-2");
    expect_row_laid_out("head deleted again");
}

TEST_F(ProgramList, AddingWhilePausedMakesTheSelectionCurrent)
{
    start(disc_of(lengths_of(9)));
    program_add_track(2);
    EXPECT_EQ(CDI.program_current, nullptr);
    EXPECT_EQ(CDI.curtrack, 0);

    pause_flags();
    program_add_track(8);
    EXPECT_EQ(CDI.program_current, CDI.program_head->next);
    EXPECT_EQ(CDI.curtrack, 8);
    EXPECT_EQ(label_of(trackButton), "8\n");
}

TEST_F(ProgramList, DeletingMovesMarkAndCurrentToANeighbour)
{
    start(disc_of(lengths_of(9)));
    program_add_track(3);
    program_add_track(9);
    program_add_track(4);

    // The head: chosen first, a second click turns it off, a third deletes it.
    Widget three = CDI.program_head->toggle;
    click(three);
    click(three);
    EXPECT_EQ(CDI.lastprog, 3);
    take_stdout();
    click(three);
    EXPECT_EQ(take_stdout(), "deleting selection from program\n");
    EXPECT_EQ(row_labels(), Labels({"9", "-4"}));
    EXPECT_EQ(program_string, "9-4");
    selection *nine = CDI.program_head;
    EXPECT_EQ(nine->track, 9);
    EXPECT_EQ(program_mark, nine);
    EXPECT_EQ(CDI.program_current, nine);
    EXPECT_EQ(toggles_on(), On({0}));

    // One with a predecessor, while paused: the track follows.
    program_add_track(2);  // 9-2-4
    pause_flags();
    program_delete_selection(nine->next->next);  // the 4
    EXPECT_EQ(row_labels(), Labels({"9", "-2"}));
    EXPECT_EQ(program_mark, nine->next);
    EXPECT_EQ(CDI.program_current, nine->next);
    EXPECT_EQ(CDI.curtrack, 2);
    EXPECT_EQ(label_of(trackButton), "2\n");
    EXPECT_EQ(toggles_on(), On({1}));

    program_delete_selection(nine->next);
    EXPECT_EQ(row_labels(), Labels({"9"}));
    EXPECT_EQ(program_string, "9");
    EXPECT_EQ(CDI.curtrack, 9);

    // The only one.
    program_delete_selection(nine);
    EXPECT_EQ(CDI.program_head, nullptr);
    EXPECT_EQ(CDI.program_current, nullptr);
    EXPECT_EQ(program_mark, nullptr);
    EXPECT_EQ(CDI.lastprog, 0);
    EXPECT_EQ(program_string, "");
    EXPECT_TRUE(toggle_on(program_anchor));

    program_delete_selection(nullptr);  // nothing to delete from
    program_add_track(5);
    EXPECT_EQ(row_labels(), Labels({"5"}));
}

TEST_F(ProgramList, WalkersStopAtBothEnds)
{
    start(disc_of(lengths_of(9)));

    CDI.curtrack = 4;
    set_button_state(pgmButton, False);
    EXPECT_EQ(program_first_track(), 4);
    EXPECT_TRUE(toggle_on(pgmButton));
    EXPECT_EQ(program_next_track(), 0);
    EXPECT_EQ(program_prev_track(), 0);
    EXPECT_EQ(program_peek_next(), 0);
    EXPECT_EQ(program_peek_prev(), 0);

    program_add_track(2);
    program_add_track(5);
    program_add_track(7);
    selection *mark = program_mark;
    set_button_state(pgmButton, False);

    EXPECT_EQ(program_peek_next(), 2);
    EXPECT_EQ(program_peek_prev(), 0);
    EXPECT_EQ(program_prev_track(), 0);
    EXPECT_EQ(CDI.program_current, nullptr);
    EXPECT_EQ(program_next_track(), 2);
    EXPECT_EQ(toggles_on(), On({0}));
    EXPECT_TRUE(toggle_on(pgmButton));
    EXPECT_EQ(program_prev_track(), 0);  // at the head
    EXPECT_EQ(CDI.program_current, CDI.program_head);

    EXPECT_EQ(program_next_track(), 5);
    EXPECT_EQ(program_peek_prev(), 2);
    EXPECT_EQ(program_peek_next(), 7);
    EXPECT_EQ(program_first_track(), 5);  // keeps a current selection
    EXPECT_EQ(program_prev_track(), 2);
    EXPECT_EQ(toggles_on(), On({0}));
    EXPECT_EQ(program_next_track(), 5);
    EXPECT_EQ(program_next_track(), 7);
    EXPECT_EQ(program_peek_next(), 0);

    set_button_state(pgmButton, False);
    EXPECT_EQ(program_next_track(), 0);  // ran out
    EXPECT_EQ(CDI.program_current, nullptr);
    EXPECT_FALSE(toggle_on(pgmButton));
    EXPECT_EQ(program_first_track(), 2);  // starts again
    EXPECT_EQ(CDI.program_current, CDI.program_head);
    EXPECT_EQ(program_mark, mark);
    EXPECT_EQ(CDI.curtrack, 4);  // walking never sets the track itself
}

TEST_F(ProgramList, TimeRemainingCountsFromTheCurrentSelection)
{
    start(demo_disc());  // 248, 170 and 210 seconds
    program_add_track(1);
    program_add_track(9);  // not on the disc: counts nothing
    program_add_track(3);
    program_add_track(2);
    EXPECT_EQ(program_time_remaining(), 0);

    CDI.dur = 10;
    program_first_track();
    EXPECT_EQ(program_time_remaining(), 248 + 210 + 170 - 10);
    program_next_track();
    EXPECT_EQ(program_time_remaining(), 210 + 170 - 10);
    program_next_track();
    program_next_track();
    EXPECT_EQ(program_time_remaining(), 170 - 10);
    program_next_track();
    EXPECT_EQ(program_time_remaining(), 0);
}

TEST_F(ProgramList, ClearEmptiesTheListAndTheTensEntry)
{
    start(disc_of(lengths_of(12)));
    program_add_track(1);
    program_add_track(2);
    program_first_track();
    click(select_buttons[9]);  // "+10"
    ASSERT_EQ(tens_mode, 1);
    ASSERT_TRUE(XtIsSensitive(tens_display));
    take_stdout();

    click(XtNameToWidget(programForm, "Clear"));
    EXPECT_EQ(take_stdout(), "program cleared\n");
    EXPECT_EQ(CDI.program_head, nullptr);
    EXPECT_EQ(CDI.program_current, nullptr);
    EXPECT_EQ(CDI.lastprog, 0);
    EXPECT_EQ(program_string, "");
    EXPECT_TRUE(toggle_on(program_anchor));
    EXPECT_EQ(label_of(tens_display), "  ");
    EXPECT_FALSE(XtIsSensitive(tens_display));
    EXPECT_EQ(tens_mode, 0);

    program_add_track(4);
    EXPECT_EQ(row_labels(), Labels({"4"}));
    EXPECT_EQ(program_string, "4");
}
