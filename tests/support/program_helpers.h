// Helpers for the program tests: discs made from track lengths, and the
// selection row read back from the widgets.
#pragma once

#include <gtest/gtest.h>

#include <X11/StringDefs.h>
#include <X11/Xaw/Form.h>

#include <cstdio>
#include <string>
#include <vector>

#include "disc/cdrom.h"
#include "program/program.h"
#include "support/player_fixture.h"

// A sim disc whose tracks (from FIRST on) last the given whole seconds.
inline std::string disc_of(const std::vector<int> &lengths, int first = 1)
{
    std::string text;
    char line[64];
    int at = 2;
    for (size_t i = 0; i < lengths.size(); i++) {
        snprintf(line, sizeof line, "track %d %02d:%02d:00\n", first + static_cast<int>(i),
                 at / 60, at % 60);
        text += line;
        at += lengths[i];
    }
    snprintf(line, sizeof line, "leadout %02d:%02d:00\n", at / 60, at % 60);
    return text + line;
}

// The number that names the information file of a disc from track 1.
inline unsigned disc_number_of(const std::vector<int> &lengths)
{
    unsigned sum = 0;
    for (size_t i = 0; i < lengths.size(); i++)
        sum += static_cast<unsigned>(i + 1) * static_cast<unsigned>(lengths[i]);
    return sum / static_cast<unsigned>(lengths.size());
}

inline std::vector<int> lengths_of(int tracks)
{
    std::vector<int> lengths;
    for (int t = 0; t < tracks; t++)
        lengths.push_back(150 + 7 * t);
    return lengths;
}

inline Widget from_horiz(Widget w)
{
    Widget left = nullptr;
    XtVaGetValues(w, XtNfromHoriz, &left, nullptr);
    return left;
}

inline Widget from_vert(Widget w)
{
    Widget above = nullptr;
    XtVaGetValues(w, XtNfromVert, &above, nullptr);
    return above;
}

inline std::vector<selection *> selections()
{
    std::vector<selection *> all;
    for (selection *s = CDI.program_head; s; s = s->next)
        all.push_back(s);
    return all;
}

// The row's labels in list order, checking on the way that every toggle
// stands right of the one before it and that the links agree both ways.
inline std::vector<std::string> row_labels()
{
    std::vector<std::string> labels;
    Widget left = program_anchor;
    selection *prev = nullptr;
    for (selection *s = CDI.program_head; s; s = s->next) {
        EXPECT_EQ(from_horiz(s->toggle), left) << "toggle " << labels.size();
        EXPECT_EQ(s->prev, prev) << "selection " << labels.size();
        labels.push_back(label_of(s->toggle));
        left = s->toggle;
        prev = s;
    }
    EXPECT_EQ(CDI.lastprog, static_cast<int>(labels.size()));
    return labels;
}

// Which of the row is on: -1 for the anchor, else the selection's position.
inline std::vector<int> toggles_on()
{
    std::vector<int> on;
    if (toggle_on(program_anchor))
        on.push_back(-1);
    int i = 0;
    for (selection *s = CDI.program_head; s; s = s->next, i++)
        if (toggle_on(s->toggle))
            on.push_back(i);
    return on;
}

using Labels = std::vector<std::string>;
using On = std::vector<int>;
