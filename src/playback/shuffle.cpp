// Shuffle: every track of the disc once, in a random order.
#include <X11/Xlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

#include "app/app.h"
#include "disc/cdrom.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

// The generator's state must outlive every random() call that uses it.
static char random_state[128];

void cb_cdrom_shuffle(Widget w, XtPointer, XtPointer)
{
    if (CDI.state & CDROM_SHUFFLE) {
        debug_log(1, "cb_cdrom_shuffle: shuffle off\n");
        CDI.state &= ~CDROM_SHUFFLE;
        return;
    }
    if (CDI.state & CDROM_PLAYING) {
        // The order is only changed between plays.
        XBell(XtDisplay(w), 100);
        set_button_state(shuffleButton, False);
        return;
    }
    if (CDI.state & CDROM_PROGRAM) {
        debug_log(1, "cb_cdrom_shuffle: cancelling program\n");
        program_cancel();
    }
    debug_log(1, "cb_cdrom_shuffle: shuffle on\n");
    CDI.state |= CDROM_SHUFFLE;
    shuffle_setup();
}

static void draw_order()
{
    int first = CDI.min;
    int count = CDI.max - CDI.min + 1;
    initstate(static_cast<unsigned>(time(nullptr) & 0xfff), random_state, sizeof random_state);
    for (int i = 0; i < CDI.total; i++) {
        auto done = shuffle_order.begin() + i;
        uint8_t c;
        do
            c = static_cast<uint8_t>(random() % count + first);
        while (std::find(shuffle_order.begin(), done, c) != done);
        shuffle_order[i] = c;
    }
}

void shuffle_setup()
{
    // No disc: nothing to draw from.  The next disc's open builds an order.
    if (!tables_present() || CDI.max < CDI.min) {
        CDI.total = 0;
        CDI.currand = 0;
        shuffle_order.clear();
        shuffle_order.shrink_to_fit();
        return;
    }
    if (static_cast<uint8_t>(CDI.max - CDI.min) == 0) {
        CDI.currand = -1;
        return;
    }
    CDI.total = static_cast<uint8_t>(CDI.max - CDI.min + 1);
    CDI.currand = 0;
    try {
        shuffle_order.assign(CDI.total, 0);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        perror("malloc");
        exit(1);
    }
    draw_order();
    if (app_resources.debug) {
        debug_log(1, "shuffle_setup: ");
        for (uint8_t t : shuffle_order)
            debug_log(1, "%d ", t);
        debug_log(1, "\n");
    }
}

uint8_t shuffle_get_track()
{
    if (CDI.currand == -1)
        return CDI.min;
    if (CDI.currand < 0 || CDI.currand >= CDI.total ||
        static_cast<size_t>(CDI.currand) >= shuffle_order.size()) {
        fputs("shuffle_get_track: ran off end\n", stderr);
        return CDI.min;
    }
    return shuffle_order[CDI.currand++];
}

// Back to the entry before the one playing; the next shuffle_get_track
// then hands out the one that was playing.
uint8_t shuffle_prev_track()
{
    if (CDI.currand == -1)
        return CDI.min;
    int16_t c = static_cast<int16_t>(CDI.currand - 2);
    if (c <= 0)
        c = 0;
    if (static_cast<size_t>(c) >= shuffle_order.size())
        return CDI.min;
    CDI.currand = static_cast<int16_t>(c + 1);
    return shuffle_order[c];
}
