// The tray of the drives whose disc is a file: what counts as a disc put
// in, taken out, or left as it was.
#include "support/player_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "drive/tray.h"

namespace {

enum step_kind {
    LOOK,          // only look again
    WRITE_LONGER,  // rewritten in place with more bytes, the old mtime kept
    WRITE_SAME,    // rewritten in place, same size, the old mtime kept
    TOUCH,         // a later mtime only
    REPLACE,       // another file renamed over it, same size and mtime
    REMOVE,
    CREATE,
    EJECT,
};

struct step {
    step_kind kind;
    bool changed;  // what the look after the step answers
    bool disc;     // a disc in after that look
};

struct tray_case {
    const char *name;
    bool exists_at_start;
    std::vector<step> steps;
};

class Tray : public PlayerTest {
protected:
    std::string path;

    timespec mtime()
    {
        struct stat st {};
        EXPECT_EQ(stat(path.c_str(), &st), 0);
        return st.st_mtim;
    }

    void set_mtime(timespec at)
    {
        timespec times[2] = {{0, UTIME_OMIT}, at};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }

    void apply(step_kind kind, tray &t)
    {
        switch (kind) {
        case LOOK:
            break;
        case WRITE_LONGER:
        case WRITE_SAME: {
            timespec was = mtime();
            std::ofstream(path) << (kind == WRITE_LONGER ? "a longer disc\n" : "a disc\n");
            set_mtime(was);
            break;
        }
        case TOUCH: {
            timespec at = mtime();
            at.tv_sec += 10;
            set_mtime(at);
            break;
        }
        case REPLACE: {
            timespec was = mtime();
            std::string other = write_file("other", "a disc\n");
            timespec times[2] = {{0, UTIME_OMIT}, was};
            ASSERT_EQ(utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
            ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
            break;
        }
        case REMOVE:
            ASSERT_EQ(unlink(path.c_str()), 0);
            break;
        case CREATE:
            write_file("disc", "a disc\n");
            break;
        case EJECT:
            tray_eject(t);
            break;
        }
    }
};

const tray_case cases[] = {
    {"first look at a file is a disc put in", true, {{LOOK, false, true}}},
    {"first look at no file is an empty drive", false,
     {{LOOK, false, false}, {CREATE, true, true}}},
    {"rewritten longer with the same mtime", true, {{WRITE_LONGER, true, true}}},
    // The identity a stat gives is all the tray knows: the same size and
    // mtime in place is the same disc.
    {"rewritten alike with the same mtime", true, {{WRITE_SAME, false, true}}},
    {"touched", true, {{TOUCH, true, true}, {LOOK, false, true}}},
    {"replaced by a file of the same size and mtime", true, {{REPLACE, true, true}}},
    {"file vanishes, then comes back", true,
     {{REMOVE, true, false}, {LOOK, false, false}, {CREATE, true, true}}},
    {"eject keeps the tray open until the file changes", true,
     {{EJECT, false, false}, {LOOK, false, false}, {TOUCH, true, true}}},
    {"eject, then rewritten", true, {{EJECT, false, false}, {WRITE_LONGER, true, true}}},
    {"eject, then the file goes and comes", true,
     {{EJECT, false, false}, {REMOVE, true, false}, {CREATE, true, true}}},
    {"eject with no file", false, {{EJECT, false, false}, {CREATE, true, true}}},
};

}  // namespace

TEST_F(Tray, ChangesAreDiscsPutInOrTakenOut)
{
    for (const tray_case &c : cases) {
        SCOPED_TRACE(c.name);
        path = scratch + "/disc";
        unlink(path.c_str());
        if (c.exists_at_start)
            write_file("disc", "a disc\n");
        tray t;
        ASSERT_TRUE(tray_look(t, path));  // the first look always counts
        EXPECT_EQ(tray_has_disc(t), c.exists_at_start);
        for (size_t i = 0; i < c.steps.size(); i++) {
            SCOPED_TRACE("step " + std::to_string(i));
            const step &s = c.steps[i];
            unsigned generation = t.generation;
            apply(s.kind, t);
            EXPECT_EQ(tray_look(t, path), s.changed);
            EXPECT_EQ(tray_has_disc(t), s.disc);
            EXPECT_EQ(t.generation, generation + (s.changed ? 1 : 0));
        }
    }
}
