// Helpers for the playback tests: discs, the trace as lines, the player's
// invariants and the pending timers.
#pragma once

#include <gtest/gtest.h>

#include <X11/Intrinsic.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/app.h"
#include "disc/cdrom.h"
#include "drive/sim.h"
#include "playback/playback.h"
#include "program/program.h"
#include "support/player_fixture.h"
#include "ui/ui.h"

using Lines = std::vector<std::string>;

// Ten tracks of four minutes: track n starts at (n-1)*4 minutes (track 1
// after the usual two-second gap), the lead-out at 40:00:00.
inline std::string ten_track_disc()
{
    std::string text = "track 1 00:02:00\n";
    char line[64];
    for (int t = 2; t <= 10; t++) {
        snprintf(line, sizeof line, "track %d %02d:00:00\n", t, (t - 1) * 4);
        text += line;
    }
    return text + "leadout 40:00:00\n";
}

// Tracks of ten seconds each from 00:02:00.
inline std::string short_disc(int tracks)
{
    std::string text;
    char line[64];
    int at = 2;
    for (int t = 1; t <= tracks; t++, at += 10) {
        snprintf(line, sizeof line, "track %d %02d:%02d:00\n", t, at / 60, at % 60);
        text += line;
    }
    snprintf(line, sizeof line, "leadout %02d:%02d:00\n", at / 60, at % 60);
    return text + line;
}

// The trace as lines, without the drive layer's "no status" chatter, which
// comes and goes with the time display's queries.
inline Lines trace_lines(const std::string &out)
{
    Lines lines;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);)
        if (l != "cdrom_get_curtrack: no status")
            lines.push_back(l);
    return lines;
}

// curtrack is 0 or a track of the disc; the paused flag never comes alone
// except after a refused pause (not provoked where this is checked).
inline void expect_invariants()
{
    EXPECT_TRUE(CDI.curtrack == 0 || (CDI.curtrack >= CDI.min && CDI.curtrack <= CDI.max))
        << "curtrack " << int(CDI.curtrack) << " outside " << int(CDI.min) << ".."
        << int(CDI.max);
    EXPECT_TRUE(CDI.currand >= -1 && CDI.currand <= CDI.total);
}

inline bool any_timer_pending()
{
    return XtAppPending(app_context) & XtIMTimer;
}

// A disc put in: the file's modification time moves on, which the
// simulated drive takes for a new disc.
inline void touch_later(const std::string &path)
{
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += 10;
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

inline uint32_t flags()
{
    return CDI.state & (CDROM_PLAYING | CDROM_PAUSED | CDROM_EJECTED);
}
