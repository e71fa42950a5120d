// The front door of the drive layer: picks the backend from the device
// path and hands each request to it through a small table of open drives.
#include "drive/drive.h"

#include <cerrno>
#include <cstring>
#include <strings.h>
#include <string>
#include <vector>

#include "drive/digital.h"
#include "drive/sim.h"

// Every backend with a prefix; the paths none claims are images (by their
// ending) or the platform's drives.
static const drive_ops *const backends[] = {
    &sim_drive_ops,
    &cdda_drive_ops,
};

struct open_drive {
    const drive_ops *ops;  // null: the slot is free
    void *drive;
    std::string path;      // as the backend was given it
};

static std::vector<open_drive> drives;

// The table goes when the process ends; whatever drive is still open
// then is closed first, so that no backend's handle outlives it.
static struct close_at_exit {
    ~close_at_exit()
    {
        for (size_t h = 0; h < drives.size(); h++)
            if (drives[h].ops)
                drive_close(static_cast<int>(h));
    }
} close_at_exit;

bool drive_is_image_path(const char *path)
{
    size_t len = strlen(path);
    return len > 4 && strcasecmp(path + len - 4, ".cue") == 0;
}

static const drive_ops *backend_for(const char **path)
{
    for (const drive_ops *ops : backends) {
        size_t len = strlen(ops->prefix);
        if (strncmp(*path, ops->prefix, len) == 0) {
            *path += len;
            return ops;
        }
    }
    if (drive_is_image_path(*path))
        return &image_drive_ops;
    return drive_digital_default() ? &cdda_drive_ops : &platform_drive_ops;
}

static open_drive *lookup(int handle)
{
    if (handle < 0 || static_cast<size_t>(handle) >= drives.size() || !drives[handle].ops) {
        errno = EBADF;
        return nullptr;
    }
    return &drives[handle];
}

// A failure must leave errno set even when a backend forgot to.
static int checked(int result)
{
    if (result == -1 && errno == 0)
        errno = EIO;
    return result;
}

template <typename T>
static bool given(T *p)
{
    return p != nullptr;
}

static bool given(uint8_t)
{
    return true;
}

template <typename Fn, typename... Args>
static int call(int handle, Fn drive_ops::*op, Args... args)
{
    open_drive *d = lookup(handle);
    if (!d)
        return -1;
    if (!(given(args) && ...)) {
        errno = EFAULT;
        return -1;
    }
    Fn fn = d->ops->*op;
    if (!fn) {
        errno = ENOTSUP;
        return -1;
    }
    errno = 0;
    return checked(fn(d->drive, args...));
}

int drive_open(const char *path)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    const drive_ops *ops = backend_for(&path);
    if (!ops || !ops->open) {
        errno = ENOTSUP;
        return -1;
    }
    errno = 0;
    void *drive = ops->open(path);
    if (!drive)
        return checked(-1);

    size_t slot = 0;
    while (slot < drives.size() && drives[slot].ops)
        slot++;
    if (slot == drives.size())
        drives.push_back({});
    drives[slot] = {ops, drive, path};
    return static_cast<int>(slot);
}

drive_source drive_source_of(int handle)
{
    drive_source s;
    open_drive *d = lookup(handle);
    if (d && d->ops == &image_drive_ops)
        s.image = d->path;
    else if (d && (d->ops == &platform_drive_ops || d->ops == &cdda_drive_ops))
        s.device = d->path;
    return s;
}

int drive_close(int handle)
{
    open_drive *d = lookup(handle);
    if (!d)
        return -1;
    if (d->ops->close)
        d->ops->close(d->drive);
    *d = {nullptr, nullptr, ""};
    return 0;
}

int drive_read_toc_header(int handle, drive_toc_header *hdr)
{
    return call(handle, &drive_ops::toc_header, hdr);
}

int drive_read_toc_entry(int handle, uint8_t track, drive_toc_entry *entry)
{
    return call(handle, &drive_ops::toc_entry, track, entry);
}

int drive_read_position(int handle, drive_position *pos)
{
    return call(handle, &drive_ops::position, pos);
}

int drive_play_msf(int handle, const msf_t *start, const msf_t *end)
{
    return call(handle, &drive_ops::play_msf, start, end);
}

int drive_pause(int handle)
{
    return call(handle, &drive_ops::pause);
}

int drive_resume(int handle)
{
    return call(handle, &drive_ops::resume);
}

int drive_stop(int handle)
{
    return call(handle, &drive_ops::stop);
}

int drive_allow_removal(int handle)
{
    return call(handle, &drive_ops::allow_removal);
}

int drive_eject(int handle)
{
    return call(handle, &drive_ops::eject);
}

int drive_set_volume(int handle, uint8_t left, uint8_t right)
{
    return call(handle, &drive_ops::set_volume, left, right);
}

int drive_media_changed(int handle)
{
    return call(handle, &drive_ops::media_changed);
}
