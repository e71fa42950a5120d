// The title bar and the title dialog: opening, accepting by button, by
// the action and by the Return key, and what the text field starts with.
#include "support/player_fixture.h"
#include "support/program_helpers.h"

#include <X11/StringDefs.h>
#include <X11/Xaw/Dialog.h>
#include <X11/Xaw/Text.h>
#include <X11/keysym.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/app.h"
#include "disc/cdrom.h"
#include "ui/ui.h"

namespace {

const std::vector<int> LENGTHS = {180, 240, 200};

Widget text_field()
{
    return XtNameToWidget(titleDialog, "value");
}

std::string field_text()
{
    Widget field = text_field();
    if (!field)
        return "<no field>";
    String text = nullptr;
    XtVaGetValues(field, XtNstring, &text, nullptr);
    return text ? text : "";
}

void type_into_field(const char *text)
{
    XtVaSetValues(text_field(), XtNstring, text, nullptr);
}

bool dialog_shown()
{
    if (!XtIsRealized(titleShell))
        return false;
    XWindowAttributes attrs{};
    XGetWindowAttributes(XtDisplay(titleShell), XtWindow(titleShell), &attrs);
    return attrs.map_state != IsUnmapped;
}

}  // namespace

class TitleTest : public PlayerTest {
protected:
    // A player on a disc whose information file holds the title.
    void start_titled(const std::string &title_line)
    {
        std::string dir = scratch + "/info";
        std::filesystem::create_directory(dir);
        write_file(dir + "/cd." + std::to_string(disc_number_of(LENGTHS)),
                   "Title:" + title_line + "\nProgram: \n");
        start_player(disc_of(LENGTHS), {"-cdInfoDir", dir});
    }
    void open_dialog()
    {
        click(titleBar);
        process_events();
        ASSERT_TRUE(dialog_shown());
    }
};

TEST_F(TitleTest, BarShowsTheStoredTitle)
{
    start_titled("Abbey Road");
    ASSERT_TRUE(title.has_value());
    EXPECT_EQ(*title, "Abbey Road");
    EXPECT_EQ(label_of(titleBar), "Abbey Road");
}

TEST_F(TitleTest, UpdateBeforeTheWindowExistsDoesNothing)
{
    start_toolkit({});
    title = "Early";
    title_display_update();  // no title bar yet
    logo_form_create(mainForm);
    EXPECT_EQ(label_of(titleBar), "Early");
}

TEST_F(TitleTest, DialogOpensNearTheBarWithTheTitle)
{
    start_titled("  Abbey Road");
    open_dialog();

    EXPECT_EQ(field_text(), "  Abbey Road");  // leading blanks kept
    // Typing goes after the title, not in front of it.
    EXPECT_EQ(XawTextGetInsertionPoint(text_field()), 12);

    // The dialog stands 14 pixels right of and below the bar's corner.
    Window child;
    int root_x = 0, root_y = 0;
    Display *dpy = XtDisplay(titleBar);
    XTranslateCoordinates(dpy, XtWindow(titleBar), DefaultRootWindow(dpy), 14, 14, &root_x,
                          &root_y, &child);
    Position x = 0, y = 0;
    XtVaGetValues(titleShell, XtNx, &x, XtNy, &y, nullptr);
    EXPECT_EQ(x, root_x);
    EXPECT_EQ(y, root_y);

    // The text field is as wide as the bar.
    Dimension bar_width = 0, field_width = 0;
    XtVaGetValues(titleBar, XtNwidth, &bar_width, nullptr);
    XtVaGetValues(text_field(), XtNwidth, &field_width, nullptr);
    EXPECT_EQ(field_width, bar_width);

    // No grab: the main window stays usable while the dialog is up.
    EXPECT_EQ(XtIsSensitive(titleBar), True);
    click(XtNameToWidget(mainForm, "buttonsForm.cycleButton"));
    EXPECT_TRUE(CDI.state & CDROM_CYCLE);
}

TEST_F(TitleTest, DoneAcceptsACopyOfTheText)
{
    start_titled("Abbey Road");
    open_dialog();

    type_into_field("Let It Be");
    click(XtNameToWidget(titleDialog, "Done"));
    process_events();
    ASSERT_TRUE(title.has_value());
    EXPECT_EQ(*title, "Let It Be");
    EXPECT_EQ(label_of(titleBar), "Let It Be");
    EXPECT_FALSE(dialog_shown());

    // Editing the field afterwards leaves the stored title alone.
    type_into_field("Help!");
    EXPECT_EQ(*title, "Let It Be");
}

TEST_F(TitleTest, EmptyTextGivesAnEmptyTitle)
{
    start_titled("Abbey Road");
    open_dialog();
    type_into_field("");
    XtCallActionProc(titleBar, "done", nullptr, nullptr, 0);
    ASSERT_TRUE(title.has_value());
    EXPECT_EQ(*title, "");
    EXPECT_EQ(label_of(titleBar), "");
}

TEST_F(TitleTest, DoneActionAcceptsLikeTheButton)
{
    start_titled("Abbey Road");
    open_dialog();
    type_into_field("Revolver");

    XtCallActionProc(text_field(), "done", nullptr, nullptr, 0);
    process_events();
    EXPECT_EQ(*title, "Revolver");
    EXPECT_EQ(label_of(titleBar), "Revolver");
    EXPECT_FALSE(dialog_shown());
}

// The resource file binds Return in the text field to the action.
TEST_F(TitleTest, ReturnInTheTextFieldAccepts)
{
    start_titled("Abbey Road");
    open_dialog();
    type_into_field("Rubber Soul");

    Widget field = text_field();
    Display *dpy = XtDisplay(field);
    XEvent ev{};
    ev.xkey.type = KeyPress;
    ev.xkey.display = dpy;
    ev.xkey.window = XtWindow(field);
    ev.xkey.root = DefaultRootWindow(dpy);
    ev.xkey.same_screen = True;
    ev.xkey.keycode = XKeysymToKeycode(dpy, XK_Return);
    ASSERT_NE(ev.xkey.keycode, 0);
    XtDispatchEvent(&ev);
    process_events();

    EXPECT_EQ(*title, "Rubber Soul");
    EXPECT_FALSE(dialog_shown());
}

TEST_F(TitleTest, BlankOrMissingTitleOpensAnEmptyField)
{
    start_titled(" \t ");
    EXPECT_EQ(label_of(titleBar), " \t ");  // the bar still shows the blanks
    open_dialog();
    EXPECT_EQ(field_text(), "");

    click(XtNameToWidget(titleDialog, "Done"));
    title.reset();
    title_display_update();
    EXPECT_EQ(label_of(titleBar), "No Title");
    open_dialog();
    EXPECT_EQ(field_text(), "");
}

TEST_F(TitleTest, ReopeningResetsTheFieldFromTheTitle)
{
    start_titled("Abbey Road");
    open_dialog();
    type_into_field("half typed");
    open_dialog();
    EXPECT_EQ(field_text(), "Abbey Road");
}

TEST_F(TitleTest, UpdateWhileOpenReplacesTheText)
{
    start_titled("Abbey Road");
    open_dialog();
    type_into_field("half typed");

    title = "No Disc";
    title_display_update();
    EXPECT_EQ(field_text(), "No Disc");
    EXPECT_EQ(label_of(titleBar), "No Disc");

    // A "No Disc" title is replaced like any other.
    type_into_field("White Album");
    XtCallActionProc(titleBar, "done", nullptr, nullptr, 0);
    EXPECT_EQ(*title, "White Album");
}

TEST_F(TitleTest, LongTitleIsKeptWhole)
{
    std::string word(600, 'x');
    start_titled(word.substr(0, 200));
    EXPECT_EQ(label_of(titleBar), word.substr(0, 200));
    open_dialog();
    EXPECT_EQ(field_text(), word.substr(0, 200));
    type_into_field(word.c_str());
    XtCallActionProc(titleBar, "done", nullptr, nullptr, 0);
    EXPECT_EQ(*title, word);
    EXPECT_EQ(label_of(titleBar), word);
}

// Before the dialog is first filled it has no text field; accepting then
// keeps the title instead of reading a field that is not there.
TEST_F(TitleTest, DoneBeforeTheDialogWasOpenedKeepsTheTitle)
{
    start_titled("Abbey Road");
    ASSERT_EQ(text_field(), nullptr);
    XtCallActionProc(titleBar, "done", nullptr, nullptr, 0);
    process_events();
    EXPECT_EQ(*title, "Abbey Road");
    EXPECT_EQ(label_of(titleBar), "Abbey Road");
    EXPECT_FALSE(dialog_shown());
}

namespace {

void send_key(Widget w, KeySym sym)
{
    Display *dpy = XtDisplay(w);
    XEvent ev{};
    ev.xkey.type = KeyPress;
    ev.xkey.display = dpy;
    ev.xkey.window = XtWindow(w);
    ev.xkey.root = DefaultRootWindow(dpy);
    ev.xkey.same_screen = True;
    ev.xkey.keycode = XKeysymToKeycode(dpy, sym);
    ASSERT_NE(ev.xkey.keycode, 0);
    XtDispatchEvent(&ev);
}

void send_click(Widget w)
{
    XEvent ev{};
    ev.xbutton.type = ButtonPress;
    ev.xbutton.display = XtDisplay(w);
    ev.xbutton.window = XtWindow(w);
    ev.xbutton.button = Button1;
    ev.xbutton.same_screen = True;
    XtDispatchEvent(&ev);
    ev.xbutton.type = ButtonRelease;
    XtDispatchEvent(&ev);
}

}  // namespace

// The dialog opens with its text selected: the first typed key replaces
// it; a click or a key that moves the cursor keeps it for editing.
TEST_F(TitleTest, OpenTextIsSelectedSoTypingReplacesIt)
{
    start_titled("Abbey Road");
    struct {
        const char *what;
        void (*before)(Widget);
        const char *expected;
    } cases[] = {
        {"typing at once", [](Widget) {}, "k"},
        {"after an arrow key", [](Widget f) { send_key(f, XK_Left); }, "Abbey Roakd"},
        {"after a click", [](Widget f) { send_click(f); }, nullptr},
        {"backspace first", [](Widget f) { send_key(f, XK_BackSpace); }, "k"},
    };
    for (auto &c : cases) {
        open_dialog();
        Widget field = text_field();
        XawTextPosition left = -1, right = -1;
        XawTextGetSelectionPos(field, &left, &right);
        EXPECT_EQ(left, 0) << c.what;
        EXPECT_EQ(right, 10) << c.what;
        c.before(field);
        send_key(field, XK_k);
        process_events();
        if (c.expected)
            EXPECT_EQ(field_text(), c.expected) << c.what;
        else  // the click put the cursor somewhere in the text, which stays
            EXPECT_EQ(field_text().size(), 11u) << c.what << ": " << field_text();
        XtCallActionProc(titleBar, "done", nullptr, nullptr, 0);
        title = "Abbey Road";
        title_display_update();
    }
}

// The dialog stands at the bar's point 14, 14 where it fits, and wholly on
// the screen where it does not: the window near any edge, or a title
// wider than the screen.
TEST_F(TitleTest, DialogStaysOnTheScreen)
{
    start_titled("Abbey Road");
    Display *dpy = XtDisplay(top_shell);
    int screen_w = WidthOfScreen(XtScreen(top_shell));
    int screen_h = HeightOfScreen(XtScreen(top_shell));
    struct {
        int x, y;
        size_t title_length;
    } cases[] = {
        {20, 20, 10}, {screen_w - 60, screen_h - 40, 10}, {20, 20, 400},
        {-200, -100, 10}, {screen_w - 60, 20, 10},
    };
    for (auto &c : cases) {
        title = std::string(c.title_length, 'w');
        title_display_update();
        XMoveWindow(dpy, XtWindow(top_shell), c.x, c.y);
        XSync(dpy, False);
        process_events();
        open_dialog();
        process_events();

        Position x = 0, y = 0;
        Dimension w = 0, h = 0, border = 0;
        XtVaGetValues(titleShell, XtNx, &x, XtNy, &y, XtNwidth, &w, XtNheight, &h,
                      XtNborderWidth, &border, nullptr);
        std::string where = std::to_string(c.x) + "," + std::to_string(c.y);
        EXPECT_GE(x, 0) << where;
        EXPECT_GE(y, 0) << where;
        EXPECT_LE(x + w + 2 * border, screen_w) << where;
        EXPECT_LE(y + h + 2 * border, screen_h) << where;
        Dimension bar_w = 0, field_w = 0;
        XtVaGetValues(titleBar, XtNwidth, &bar_w, nullptr);
        XtVaGetValues(text_field(), XtNwidth, &field_w, nullptr);
        if (c.title_length == 10)
            EXPECT_EQ(field_w, bar_w) << where;  // as wide as the bar, each time
        else
            EXPECT_LT(field_w, bar_w) << where;
        if (c.x == 20 && c.title_length == 10) {
            Position bx = 0, by = 0;
            XtTranslateCoords(titleBar, 14, 14, &bx, &by);
            EXPECT_EQ(x, bx);
            EXPECT_EQ(y, by);
        }
        XtCallActionProc(titleBar, "done", nullptr, nullptr, 0);
    }
}

namespace {

// The window manager's close of a shell: WM_DELETE_WINDOW in a
// WM_PROTOCOLS message, sent through the server as a window manager does.
void close_from_window_manager(Widget shell)
{
    Display *dpy = XOpenDisplay(DisplayString(XtDisplay(shell)));
    ASSERT_NE(dpy, nullptr);
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = XtWindow(shell);
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, XtWindow(shell), False, NoEventMask, &ev);
    XCloseDisplay(dpy);  // flushes it
}

// Whether the shell's window takes part in the window manager's close.
bool takes_part_in_close(Widget shell)
{
    Display *dpy = XtDisplay(shell);
    Atom *protocols = nullptr;
    int n = 0;
    bool found = false;
    if (XGetWMProtocols(dpy, XtWindow(shell), &protocols, &n)) {
        for (int i = 0; i < n; i++)
            found |= protocols[i] == XInternAtom(dpy, "WM_DELETE_WINDOW", False);
        XFree(protocols);
    }
    return found;
}

}  // namespace

// Closed by the window manager, the dialog goes as a Cancel would: the
// title stays, the typed text is dropped, the keys go to the main window
// again; reopened, it starts from the title.  Closed twice, or a message
// of another protocol, does nothing more.
TEST_F(TitleTest, WindowManagersCloseCancelsTheDialog)
{
    start_titled("Abbey Road");
    open_dialog();
    EXPECT_TRUE(takes_part_in_close(titleShell));
    EXPECT_TRUE(takes_part_in_close(top_shell));
    type_into_field("Let It Be");
    EXPECT_EQ(XtGetKeyboardFocusWidget(top_shell), text_field());
    take_stdout();

    close_from_window_manager(titleShell);
    XSync(XtDisplay(titleShell), False);
    process_events();
    EXPECT_FALSE(dialog_shown());
    EXPECT_EQ(*title, "Abbey Road");
    EXPECT_EQ(label_of(titleBar), "Abbey Road");
    EXPECT_EQ(take_stdout(), "");
    // The keys go to the main window's bindings again.
    EXPECT_EQ(XtGetKeyboardFocusWidget(top_shell), mainForm);

    open_dialog();
    EXPECT_EQ(field_text(), "Abbey Road");
    close_from_window_manager(titleShell);
    close_from_window_manager(titleShell);
    XSync(XtDisplay(titleShell), False);
    process_events();
    EXPECT_FALSE(dialog_shown());
    EXPECT_EQ(*title, "Abbey Road");
}

// Closed by the window manager, the main window quits as the quit button
// does: its trace, and exit status 0 rather than a broken connection.
TEST_F(TitleTest, WindowManagersCloseOfTheMainWindowQuits)
{
    start_titled("Abbey Road");
    take_stdout();
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            close_from_window_manager(top_shell);
            XSync(XtDisplay(top_shell), False);
            process_events();
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(take_stdout(), "cb_cdrom_quit: bye\n");
}
