// The program window and its commands: entering and leaving program mode,
// the selection row, the number buttons with "+10" and the tens display,
// All, Clear, Cancel and Save.
#include <X11/StringDefs.h>
#include <X11/Xaw/Command.h>
#include <X11/Xaw/Form.h>
#include <X11/Xaw/Toggle.h>
#include <X11/Xaw/Viewport.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app.h"
#include "disc/cdinfo.h"
#include "disc/cdrom.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

Widget programForm;
Widget programDisplayForm;
Widget program_anchor;
Widget select_buttons[11];
Widget tens_display;

enum { PLUS10 = 9, TENS = 10 };

// A command button placed below ABOVE and right of LEFT, where given.
static Widget command(const char *name, Widget parent, XtCallbackProc cb, Widget above,
                      Widget left)
{
    Arg args[2];
    Cardinal n = 0;
    if (above)
        XtSetArg(args[n], XtNfromVert, above), n++;
    if (left)
        XtSetArg(args[n], XtNfromHoriz, left), n++;
    Widget w = XtCreateManagedWidget(name, commandWidgetClass, parent, args, n);
    XtAddCallback(w, XtNcallback, cb, nullptr);
    return w;
}

void program_form_create(Widget parent)
{
    programForm = XtCreateWidget("programForm", formWidgetClass, parent, nullptr, 0);
    Widget viewport = XtCreateManagedWidget("programDisplayViewport", viewportWidgetClass,
                                            programForm, nullptr, 0);
    programDisplayForm = XtCreateManagedWidget("programDisplayForm", formWidgetClass, viewport,
                                               nullptr, 0);
    program_anchor = XtVaCreateManagedWidget("programSelection", toggleWidgetClass,
                                             programDisplayForm, XtNlabel, " ", XtNstate, True,
                                             nullptr);
    XtAddCallback(program_anchor, XtNcallback, cb_program_selection, nullptr);

    Widget clear = command("Clear", programForm, cb_program_clear, viewport, nullptr);
    Widget cancel = command("Cancel", programForm, cb_program_cancel, viewport, clear);
    command("Save", programForm, cb_save_program, viewport, cancel);

    Widget select_form = XtVaCreateManagedWidget("selectForm", formWidgetClass, programForm,
                                                 XtNfromVert, clear, nullptr);
    for (int i = 0; i < 9; i++) {
        char name[4];
        snprintf(name, sizeof name, "%d", i + 1);
        select_buttons[i] = command(name, select_form, cb_program_number, nullptr, nullptr);
        if (i)
            XtVaSetValues(select_buttons[i], XtNfromHoriz, select_buttons[i - 1], nullptr);
    }
    select_buttons[PLUS10] =
        command("+10", select_form, cb_program_plus10, select_buttons[0], nullptr);
    tens_display = select_buttons[TENS] =
        command("  ", select_form, cb_program_tens, select_buttons[0], select_buttons[PLUS10]);
    command("All", select_form, cb_program_all, select_buttons[0], select_buttons[6]);
}

// The decimal number at the start of a label or a stored token; false when
// there is none.  Out-of-range values saturate, which no disc has as a track.
static bool leading_number(const char *text, int *n)
{
    char *end;
    long v = strtol(text, &end, 10);
    if (end == text)
        return false;
    *n = static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX));
    return true;
}

static int label_number(Widget w)
{
    String label = nullptr;
    XtVaGetValues(w, XtNlabel, &label, nullptr);
    int n = 0;
    if (label)
        leading_number(label, &n);
    return n;
}

// Tracks reach the list only when the disc has them, so nothing later
// reads a track table out of bounds for them.
static bool refuse_off_disc(int track)
{
    if (track_on_disc(track))
        return false;
    debug_log(1, "program: track %d is not on this disc\n", track);
    return true;
}

void cb_cdrom_program(Widget, XtPointer, XtPointer)
{
    if (pgm_latch) {
        set_button_state(trackButton, False);
        set_button_state(pgmButton, True);
        pgm_latch = 0;
        return;
    }

    if (CDI.state & CDROM_PROGRAM) {
        bool playing = (CDI.state & (CDROM_PLAYING | CDROM_PAUSED)) == CDROM_PLAYING;
        if (!playing && CDI.curtrack != 0) {
            set_button_state(pgmButton, False);
            set_button_state(trackButton, True);
            timer_display_update();
            if (!refuse_off_disc(CDI.curtrack)) {
                debug_log(1, "cb_cdrom_program: adding track %d to program list\n",
                          CDI.curtrack);
                program_add_track(CDI.curtrack);
            }
        }
        pgm_latch = 1;
        return;
    }

    if (cdrom_open() == -1) {
        debug_log(1, "cb_cdrom_program: error from cdrom_open\n");
        return;
    }
    if (CDI.state & CDROM_EJECTED)
        cdrom_new_disc(pgmButton);
    if (CDI.state & CDROM_SHUFFLE) {
        debug_log(1, "cb_cdrom_program: cancelling shuffle mode\n");
        CDI.state &= ~CDROM_SHUFFLE;
        set_button_state(shuffleButton, False);
    }
    CDI.state &= ~CDROM_EJECTED;
    set_button_state(ejectButton, False);
    debug_log(1, "cb_cdrom_program: program on\n");
    CDI.state |= CDROM_PROGRAM;
    // The click may have turned the button off (a press after a restoring
    // one); in program mode it shows on.
    set_button_state(pgmButton, True);
    set_button_state(timerButton, True);
    program_start();
    pgm_latch = 1;
}

static void load_stored_program()
{
    std::string text = program_string;
    std::vector<std::string> tokens;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('-', pos);
        if (end == std::string::npos)
            end = text.size();
        if (end > pos)
            tokens.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    if (tokens.empty())
        return;

    debug_log(1, "using stored program\n");
    for (const std::string &token : tokens) {
        int track;
        if (!leading_number(token.c_str(), &track)) {
            debug_log(1, "program: skipping stored entry %s\n", token.c_str());
            continue;
        }
        if (!refuse_off_disc(track))
            program_add_track(static_cast<uint8_t>(track));
    }
}

void program_start()
{
    CDI.program_current = nullptr;
    if (info_file)
        load_stored_program();

    for (Widget b : select_buttons)
        XtSetSensitive(b, False);
    if (CDI.max != 0) {
        for (int i = 0; i < std::min<int>(CDI.max, 9); i++)
            XtSetSensitive(select_buttons[i], True);
        if (CDI.max >= 10)
            XtSetSensitive(select_buttons[PLUS10], True);
    }
    XtManageChild(programForm);
}

void program_cancel()
{
    debug_log(1, "program mode cancelled\n");
    program_clear();
    XtUnmanageChild(programForm);
    set_button_state(pgmButton, False);
    set_button_state(timerButton, False);
    timer_display_update();
    CDI.state &= ~CDROM_PROGRAM;
}

void cb_program_cancel(Widget, XtPointer, XtPointer)
{
    program_cancel();
}

// Turning a toggle on calls back the one it turned off as well; only the
// toggle that is now on acts.  Turning the mark on again deletes it.
void cb_program_selection(Widget w, XtPointer client_data, XtPointer)
{
    if (!get_button_state(w))
        return;
    selection *s = static_cast<selection *>(client_data);
    if (s && s == program_mark) {
        debug_log(1, "deleting selection from program\n");
        program_delete_selection(s);
        return;
    }
    program_mark = s;
    if (s && (CDI.state & (CDROM_PLAYING | CDROM_PAUSED)) != CDROM_PLAYING) {
        CDI.program_current = s;
        CDI.curtrack = s->track;
        track_display_update();
        timer_display_update();
    }
}

void cb_program_number(Widget w, XtPointer, XtPointer)
{
    int n = label_number(w);
    if (tens_mode) {
        program_tens_add(n);
        return;
    }
    if (refuse_off_disc(n))
        return;
    debug_log(1, "adding track %d to program\n", n);
    program_add_track(static_cast<uint8_t>(n));
}

void cb_program_plus10(Widget, XtPointer, XtPointer)
{
    XtSetSensitive(tens_display, True);
    tens_mode = 1;
    program_tens_add(10);
}

void program_tens_add(int n)
{
    XtSetSensitive(tens_display, False);
    String label = nullptr;
    XtVaGetValues(tens_display, XtNlabel, &label, nullptr);
    int value = 0;
    if (label && label[0] != ' ')
        leading_number(label, &value);
    value += n;
    char text[16];
    snprintf(text, sizeof text, "%d\n", value);
    XtVaSetValues(tens_display, XtNlabel, text, nullptr);
    XtSetSensitive(tens_display, True);
}

void cb_program_tens(Widget w, XtPointer, XtPointer)
{
    int n = label_number(w);
    if (track_on_disc(n)) {
        debug_log(1, "adding track %d to program\n", n);
        program_add_track(static_cast<uint8_t>(n));
    }
    XtVaSetValues(w, XtNlabel, "  ", nullptr);
    XtSetSensitive(w, False);
    tens_mode = 0;
}

void cb_program_all(Widget, XtPointer, XtPointer)
{
    program_clear();
    debug_log(1, "program replaced by in-sequence track list\n");
    for (int t = CDI.min; t <= CDI.max; t++)
        if (track_on_disc(t))
            program_add_track(static_cast<uint8_t>(t));
}

void cb_program_clear(Widget, XtPointer, XtPointer)
{
    program_clear();
    debug_log(1, "program cleared\n");
}
