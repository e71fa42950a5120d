// Local CDDB files: one xmcd file per disc, named by its freedb disc ID
// in eight hexadecimal digits, in a directory of cddbPath or in one of
// its category folders (rock, jazz, misc, ...).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "names/internal.h"
#include "names/names.h"

// An xmcd file is a few kilobytes; a bigger one is not read whole.
static const size_t MAX_XMCD = 1 << 20;

std::vector<std::string> cddb_dirs(const char *path)
{
    std::vector<std::string> dirs;
    std::string p = path ? path : "";
    p += ':';
    for (size_t b = 0, c; (c = p.find(':', b)) != std::string::npos; b = c + 1) {
        std::string d = p.substr(b, c - b);
        if (d.empty())
            continue;
        if (d[0] == '~' && (d.size() == 1 || d[1] == '/')) {
            const char *home = getenv("HOME");
            if (!home || !*home)
                continue;
            d = home + d.substr(1);
        }
        dirs.push_back(d);
    }
    return dirs;
}

static bool read_small_file(const std::string &path, std::string *text)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    text->clear();
    char buf[8192];
    ssize_t n;
    while (ok && (n = read(fd, buf, sizeof buf)) > 0 && text->size() < MAX_XMCD)
        text->append(buf, static_cast<size_t>(n));
    close(fd);
    if (text->size() > MAX_XMCD)
        text->resize(MAX_XMCD);
    return ok;
}

// A file under this disc's ID may still be another disc's: the ID is a
// checksum.  One that lists other IDs, or another number of tracks, is.
static bool is_this_disc(const xmcd_result &r, const disc_toc &toc)
{
    uint32_t id = freedb_id(toc);
    if (!r.ids.empty() && std::find(r.ids.begin(), r.ids.end(), id) == r.ids.end())
        return false;
    if (r.offsets >= 0 && r.offsets != toc.tracks())
        return false;
    return r.names.tracks.size() <= static_cast<size_t>(toc.tracks());
}

static bool try_file(const std::string &path, const disc_toc &toc, xmcd_result *result)
{
    std::string text;
    if (!read_small_file(path, &text))
        return false;
    xmcd_result r = xmcd_parse(text);
    if (!r.ok || !is_this_disc(r, toc))
        return false;
    *result = r;
    return true;
}

static std::vector<std::string> categories(const std::string &dir)
{
    std::vector<std::string> out;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return out;
    while (struct dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        struct stat st;
        std::string sub = dir + "/" + e->d_name;
        if (stat(sub.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            out.push_back(sub);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

std::string cddb_find(const std::vector<std::string> &dirs, const disc_toc &toc,
                      xmcd_result *result)
{
    if (toc.tracks() < 1)
        return "";
    char name[16];
    snprintf(name, sizeof name, "%08x", freedb_id(toc));
    for (const std::string &dir : dirs) {
        std::string path = dir + "/" + name;
        if (try_file(path, toc, result))
            return path;
        for (const std::string &cat : categories(dir)) {
            path = cat + "/" + name;
            if (try_file(path, toc, result))
                return path;
        }
    }
    return "";
}

// Written to a temporary file, flushed to the disk and then linked under
// its name: link, unlike rename, refuses to replace a file the user
// already has, and either way the name never shows a half-written file.
bool file_store_new(const std::string &dir, const std::string &name, const std::string &text,
                    std::string *why)
{
    std::string tmp = dir + "/.murbel-" + name + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        *why = dir + ": " + strerror(errno);
        return false;
    }
    bool ok = fchmod(fd, 0644) == 0 &&
              write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
              fsync(fd) == 0;
    int err = errno;
    close(fd);
    std::string path = dir + "/" + name;
    if (ok && link(tmp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    unlink(tmp.c_str());
    if (!ok) {
        *why = path + ": " + strerror(err);
        return false;
    }
    if (int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY); dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}

std::string cddb_store(const std::vector<std::string> &dirs, const disc_names &names,
                       const disc_toc &toc, std::string *why)
{
    char name[16];
    snprintf(name, sizeof name, "%08x", freedb_id(toc));
    *why = "no writable directory in cddbPath";
    for (size_t i = 0; i < dirs.size(); i++) {
        const std::string &dir = dirs[i];
        // The user's own first directory is made when missing; others are
        // the system's and are left as they are.
        if (i == 0 && access(dir.c_str(), F_OK) != 0)
            mkdir(dir.c_str(), 0755);
        if (access(dir.c_str(), W_OK | X_OK) != 0)
            continue;
        std::string path = dir + "/" + name;
        if (access(path.c_str(), F_OK) == 0) {
            *why = path + " already exists";
            return "";
        }
        return file_store_new(dir, name, xmcd_format(names, toc), why) ? path : "";
    }
    return "";
}
