// The program list: the user's play order as a doubly linked list of
// selections, mirrored left to right as a row of radio toggles, with its
// text form kept for the information file.
#include <X11/StringDefs.h>
#include <X11/Xaw/Form.h>
#include <X11/Xaw/Toggle.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "app/app.h"
#include "disc/cdrom.h"
#include "program/program.h"
#include "ui/ui.h"

// The Form keeps a child where it last laid it out when only its
// constraints change; taking the child out and back in makes the Form
// place it anew.
static void place_right_of(Widget w, Widget left)
{
    XtUnmanageChild(w);
    XtVaSetValues(w, XtNfromHoriz, left, nullptr);
    XtManageChild(w);
}

static void set_track_label(Widget w, const char *fmt, int track)
{
    char label[16];
    snprintf(label, sizeof label, fmt, track);
    XtVaSetValues(w, XtNlabel, label, nullptr);
}

// Created on, so the radio group turns off whichever toggle of the row was on.
// Resizable: a toggle relabelled "-3" from "3" (or back) must get the width
// of its new label, which the Form refuses a child that is not.
static Widget selection_toggle(selection *s, Widget left, const char *fmt)
{
    char label[16];
    snprintf(label, sizeof label, fmt, s->track);
    Widget w = XtVaCreateManagedWidget("programSelection", toggleWidgetClass, programDisplayForm,
                                       XtNfromHoriz, left, XtNlabel, label, XtNradioGroup,
                                       program_anchor, XtNstate, True, XtNresizable, True,
                                       nullptr);
    XtAddCallback(w, XtNcallback, cb_program_selection, s);
    return w;
}

static void rebuild_program_string()
{
    program_string.clear();
    for (selection *s = CDI.program_head; s; s = s->next) {
        if (s != CDI.program_head)
            program_string += '-';
        program_string += std::to_string(s->track);
    }
}

// While paused the user's latest choice is what Pause resumes.
static void show_if_paused(selection *s)
{
    if (!(CDI.state & CDROM_PAUSED))
        return;
    CDI.program_current = s;
    CDI.curtrack = s->track;
    track_display_update();
    timer_display_update();
}

void program_add_track(uint8_t track)
{
    XawFormDoLayout(programDisplayForm, False);

    // Exceptions must not unwind through the toolkit, so allocation fails
    // the way the player's other tables do.
    selection *s = new (std::nothrow) selection{track, nullptr, nullptr, nullptr};
    if (!s) {
        perror("malloc");
        exit(1);
    }

    if (!CDI.program_head) {
        CDI.program_head = s;
        CDI.lastprog = 1;
        s->toggle = selection_toggle(s, program_anchor, "%d");
    } else if (!program_mark) {
        selection *old = CDI.program_head;
        s->next = old;
        old->prev = s;
        CDI.program_head = s;
        CDI.lastprog++;
        s->toggle = selection_toggle(s, program_anchor, "%d");
        place_right_of(old->toggle, s->toggle);
        set_track_label(old->toggle, "-%d", old->track);
    } else {
        selection *p = CDI.program_head;
        while (p != program_mark && p->next)
            p = p->next;
        s->prev = p;
        s->next = p->next;
        if (s->next)
            s->next->prev = s;
        p->next = s;
        CDI.lastprog++;
        s->toggle = selection_toggle(s, p->toggle, "-%d");
        if (s->next)
            place_right_of(s->next->toggle, s->toggle);
    }
    program_mark = s;

    rebuild_program_string();
    XawFormDoLayout(programDisplayForm, True);
    show_if_paused(s);
}

void program_delete_selection(selection *s)
{
    if (!CDI.program_head || !s)
        return;

    Widget left;
    if (s->prev) {
        s->prev->next = s->next;
        program_mark = s->prev;
        set_button_state(s->prev->toggle, True);
        left = s->prev->toggle;
    } else {
        selection *n = s->next;
        CDI.program_head = n;
        program_mark = n;
        left = program_anchor;
        if (n) {
            char label[16];
            snprintf(label, sizeof label, "%d", n->track);
            XtVaSetValues(n->toggle, XtNlabel, label, XtNstate, True, nullptr);
        } else {
            set_button_state(program_anchor, True);
        }
    }
    if (s->next) {
        s->next->prev = s->prev;
        place_right_of(s->next->toggle, left);
    }

    XtDestroyWidget(s->toggle);
    delete s;
    CDI.lastprog--;

    if (!CDI.program_head) {
        program_string.clear();
        CDI.program_current = nullptr;
        return;
    }
    CDI.program_current = program_mark;
    if (CDI.state & CDROM_PAUSED) {
        CDI.curtrack = program_mark->track;
        track_display_update();
        timer_display_update();
    }
    rebuild_program_string();
}

void program_clear()
{
    if (tens_display) {
        XtVaSetValues(tens_display, XtNlabel, "  ", nullptr);
        XtSetSensitive(tens_display, False);
    }
    tens_mode = 0;

    if (!CDI.program_head)
        return;

    // The anchor goes on first: the selection toggle it turns off then
    // calls back while its selection still exists.
    set_button_state(program_anchor, True);
    // Out of the layout all at once before any is destroyed: each toggle is
    // placed relative to the one before it, and the Form would otherwise
    // follow that link into a toggle already gone.
    std::vector<Widget> toggles;
    for (selection *s = CDI.program_head; s; s = s->next)
        toggles.push_back(s->toggle);
    XtUnmanageChildren(toggles.data(), static_cast<Cardinal>(toggles.size()));
    selection *s = CDI.program_head;
    while (s) {
        selection *next = s->next;
        XtDestroyWidget(s->toggle);
        delete s;
        s = next;
    }
    CDI.lastprog = 0;
    CDI.program_current = nullptr;
    CDI.program_head = nullptr;
    program_mark = nullptr;
    program_string.clear();
}

// Walking moves the current selection and shows it; the mark stays.
static uint8_t make_current(selection *s)
{
    CDI.program_current = s;
    if (!get_button_state(s->toggle))
        set_button_state(s->toggle, True);
    set_button_state(pgmButton, True);
    return s->track;
}

uint8_t program_first_track()
{
    if (!CDI.program_head) {
        set_button_state(pgmButton, True);
        return CDI.curtrack;
    }
    if (CDI.program_current) {
        set_button_state(pgmButton, True);
        return CDI.program_current->track;
    }
    return make_current(CDI.program_head);
}

uint8_t program_next_track()
{
    if (!CDI.program_head)
        return 0;
    if (!CDI.program_current)
        return make_current(CDI.program_head);
    if (CDI.program_current->next)
        return make_current(CDI.program_current->next);
    CDI.program_current = nullptr;
    return 0;
}

uint8_t program_prev_track()
{
    if (!CDI.program_head || !CDI.program_current || !CDI.program_current->prev)
        return 0;
    return make_current(CDI.program_current->prev);
}

uint8_t program_peek_next()
{
    if (!CDI.program_head)
        return 0;
    if (!CDI.program_current)
        return CDI.program_head->track;
    return CDI.program_current->next ? CDI.program_current->next->track : 0;
}

uint8_t program_peek_prev()
{
    if (!CDI.program_head || !CDI.program_current || !CDI.program_current->prev)
        return 0;
    return CDI.program_current->prev->track;
}

// A selection whose track the disc lacks counts nothing.
int program_time_remaining()
{
    if (!CDI.program_head || !CDI.program_current)
        return 0;
    int seconds = 0;
    for (selection *s = CDI.program_current; s; s = s->next)
        if (track_on_disc(s->track))
            seconds += CDI.times[s->track - CDI.min];
    return seconds - CDI.dur;
}
