// The per-disc information file: "Title:" and the title on the first
// line, "Program: " and the program text on the second.  The file is named
// after a number computed from the track lengths, so a disc finds its file
// again in any drive.
#include "disc/cdinfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app.h"
#include "disc/cdrom.h"

// Sum of track number times length over the tracks present, divided by
// their count.  For a disc numbered from 1 the count is the last track.
uint32_t disc_id()
{
    if (!tables_present())
        return 0;
    uint32_t sum = 0;
    for (size_t k = 0; k < CDI.times.size(); k++)
        sum += static_cast<uint32_t>(CDI.min + k) * CDI.times[k];
    return sum / static_cast<uint32_t>(CDI.times.size());
}

// One line, however long, without its newline.  False at end of file.
// A null byte ends the line's text: nothing after it could be shown or
// saved, so a title or program must not carry it.
static bool read_line(FILE *f, std::string &line)
{
    line.clear();
    bool any = false, cut = false;
    int c;
    while ((c = getc(f)) != EOF) {
        any = true;
        if (c == '\n')
            return true;
        cut |= c == '\0';
        if (!cut)
            line += static_cast<char>(c);
    }
    return any;
}

// "Program: %s": the word "Program:", any white space, then a run of
// non-blank characters.
static bool match_program(const std::string &line, std::string &program)
{
    static const std::string key = "Program:";
    if (line.compare(0, key.size(), key) != 0)
        return false;
    size_t i = key.size();
    while (i < line.size() && isspace(static_cast<unsigned char>(line[i])))
        i++;
    size_t j = i;
    while (j < line.size() && !isspace(static_cast<unsigned char>(line[j])))
        j++;
    if (j == i)
        return false;
    program = line.substr(i, j - i);
    return true;
}

static std::string info_file_path(uint32_t id)
{
    std::string name = "cd." + std::to_string(static_cast<int>(id));
    // An empty directory (MURBELINFODIR set but empty) means the current
    // directory, not the file system's root.
    if (app_resources.cdInfoDir && *app_resources.cdInfoDir)
        return std::string(app_resources.cdInfoDir) + "/" + name;
    return name;
}

void cdinfo_read()
{
    if (info_file) {
        fclose(info_file);
        info_file = nullptr;
    }
    if (CDI.max == 0 || !tables_present())
        return;

    info_path = info_file_path(disc_id());
    info_read = true;
    title.reset();
    // A program stored for another disc must not linger as this one's.
    program_string.clear();

    info_file = fopen(info_path.c_str(), "r");
    if (!info_file) {
        title = "No Title";
        return;
    }

    std::string line;
    if (read_line(info_file, line)) {
        size_t colon = line.find(':');
        if (colon != std::string::npos)
            title = line.substr(colon + 1);
        if (read_line(info_file, line))
            match_program(line, program_string);
    }
    if (!title)
        title = "No Title";
}

// Mode for a new file: what the old one had, else what fopen would give.
static mode_t save_mode(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Write the title and program to a temporary file beside the real one and
// rename it into place, so that a failed save leaves the old file whole.
// Returns the written file, positioned at its end, or null with errno set.
static FILE *write_info_file(const std::string &path)
{
    std::string tmp = path + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd == -1)
        return nullptr;
    FILE *f = fdopen(fd, "w+");
    if (!f) {
        int err = errno;
        close(fd);
        unlink(tmp.c_str());
        errno = err;
        return nullptr;
    }
    const std::string &t = title ? *title : std::string();
    bool ok = fchmod(fd, save_mode(path)) == 0 &&
              fprintf(f, "Title:%s\nProgram: %s\n", t.c_str(), program_string.c_str()) >= 0 &&
              fflush(f) == 0 && fsync(fd) == 0 && rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        int err = errno;
        fclose(f);
        unlink(tmp.c_str());
        errno = err;
        return nullptr;
    }
    return f;
}

void cb_save_program(Widget, XtPointer, XtPointer)
{
    // Without its own file read, info_path still names the previous
    // disc's file; writing there would destroy that disc's information.
    if (!info_read) {
        fputs("cb_save_program: no information read for this disc, not saving\n", stderr);
        return;
    }
    if (info_file) {
        fclose(info_file);
        info_file = nullptr;
    }

    // Write through a symbolic link rather than replace it.
    std::string target = info_path;
    if (char *real = realpath(info_path.c_str(), nullptr)) {
        target = real;
        free(real);
    }

    info_file = write_info_file(target);
    if (!info_file) {
        int err = errno;
        fprintf(stderr, "Can't open save file %s\n", info_path.c_str());
        errno = err;
        perror("cb_save_program");
        return;
    }
    debug_log(1, "program saved to %s\n", info_path.c_str());
}
