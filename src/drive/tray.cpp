#include "drive/tray.h"

#include <cerrno>

#include <sys/stat.h>

static tray_file_id stat_id(const std::string &path)
{
    tray_file_id id;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        id.size = st.st_size;
        id.sec = st.st_mtim.tv_sec;
        id.nsec = st.st_mtim.tv_nsec;
    }
    return id;
}

static bool same(const tray_file_id &a, const tray_file_id &b)
{
    return a.exists == b.exists && a.dev == b.dev && a.ino == b.ino && a.size == b.size &&
           a.sec == b.sec && a.nsec == b.nsec;
}

bool tray_look(tray &t, const std::string &path)
{
    tray_file_id id = stat_id(path);
    if (t.seen && same(id, t.id))
        return false;
    t.seen = true;
    t.id = id;
    t.open = false;
    t.generation++;
    return true;
}

bool tray_has_disc(const tray &t)
{
    return t.id.exists && !t.open;
}

void tray_eject(tray &t)
{
    t.open = true;
}

bool tray_disc_usable(const tray &t, bool readable)
{
    if (!tray_has_disc(t)) {
        errno = ENOMEDIUM;
        return false;
    }
    if (!readable) {
        errno = EINVAL;
        return false;
    }
    return true;
}
