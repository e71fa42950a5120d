// Disc images: a cue sheet and the data files it names, laid out as the
// sectors of a disc.  Raw files are read directly, sound files through
// libsndfile.  The files are opened, not read, here: only plain files, so
// that nothing a sheet names can keep the caller waiting; the reader
// thread reads them.
#include <dirent.h>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "audio/audio.h"
#include "drive/msf.h"

namespace {

struct image_file {
    std::string path;
    cue_file_type type = CUE_BINARY;
    FILE *raw = nullptr;
    SNDFILE *snd = nullptr;
    bool missing = false;  // a data file not there: silence of no length
    long long size = 0;    // bytes (raw) or sample frames (sound file)
};

// A run of disc sectors from one place: a file, or silence (file -1).
struct segment {
    long lba, count;
    int file;
    long long offset;  // bytes into a raw file, frames into a sound file
    int sector_bytes;
};

struct image {
    std::vector<image_file> files;
    std::vector<segment> segments;

    ~image()
    {
        for (image_file &f : files) {
            if (f.raw)
                fclose(f.raw);
            if (f.snd)
                sf_close(f.snd);
        }
    }
};

// A data track that was not ripped takes the shortest length a track may
// have; one after the audio (an enhanced CD) begins after the first
// session's lead-out and the second's lead-in, as on the disc.
constexpr long SHORTEST_TRACK = 4 * MSF_FRAMES_PER_SECOND;
constexpr long SESSION_GAP = 11400;

std::string dir_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The entries of a folder whose names pass the test.
std::vector<std::string> entries(const std::string &dir,
                                 bool (*fits)(const std::string &, const std::string &),
                                 const std::string &want)
{
    std::vector<std::string> found;
    DIR *d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d)
        return found;
    while (dirent *e = readdir(d))
        if (fits(e->d_name, want))
            found.push_back(e->d_name);
    closedir(d);
    return found;
}

bool same_but_case(const std::string &name, const std::string &want)
{
    return lower(name) == lower(want);
}

// The same name with another extension of a sound file libsndfile
// reads (not the same one in another case: that is no re-encoding).
bool sound_twin(const std::string &name, const std::string &want)
{
    size_t dot = name.rfind('.'), want_dot = want.rfind('.');
    std::string stem = want.substr(0, want_dot);
    std::string want_ext = want_dot == std::string::npos ? "" : lower(want.substr(want_dot + 1));
    if (dot == std::string::npos || name.substr(0, dot) != stem)
        return false;
    std::string ext = lower(name.substr(dot + 1));
    if (ext == want_ext)
        return false;
    for (const char *e : {"wav", "flac", "aif", "aiff", "ogg", "oga", "opus", "mp3", "caf", "w64"})
        if (ext == e)
            return true;
    return false;
}

// The file a sheet names, as users keep their rips: the folder separator
// of Windows, the letter case changed (when exactly one name matches),
// the audio re-encoded under another extension (likewise).
std::string find_file(const std::string &dir, std::string name, bool sound, std::string *note)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    std::string path = !name.empty() && name[0] == '/' ? name : dir + name;
    if (exists(path))
        return path;
    // Folder by folder, each name as it is or in another case.
    std::string at = name[0] == '/' ? "/" : dir;
    size_t from = name[0] == '/' ? 1 : 0;
    while (from <= name.size()) {
        size_t slash = name.find('/', from);
        size_t len = slash == std::string::npos ? std::string::npos : slash - from;
        std::string part = name.substr(from, len);
        from = slash == std::string::npos ? name.size() + 1 : slash + 1;
        if (part.empty() || exists(at + part)) {
            at += part + (from <= name.size() ? "/" : "");
            continue;
        }
        std::vector<std::string> found = entries(at, same_but_case, part);
        if (found.empty() && from > name.size() && sound)
            found = entries(at, sound_twin, part);
        if (found.size() != 1)
            return path;
        at += found[0] + (from <= name.size() ? "/" : "");
    }
    *note = "\"" + name + "\" is " + at;
    return at;
}

// Opens a file the sheet names without waiting on it: a FIFO or a device
// would hold the window, so only a regular file is opened.
int open_regular(const std::string &path, std::string *why)
{
    auto kind = [](const struct stat &st) -> std::string {
        if (S_ISDIR(st.st_mode))
            return "a directory";
        return S_ISREG(st.st_mode) ? "" : "not a regular file";
    };
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        *why = strerror(errno);
        return -1;
    }
    if (!(*why = kind(st)).empty())
        return -1;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return -1;
    }
    if (fstat(fd, &st) != 0 || !(*why = kind(st)).empty()) {
        if (why->empty())
            *why = strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

bool open_file(image_file &f, bool data_only, std::string *why)
{
    auto fail = [&](const std::string &what) {
        *why = f.path + ": " + what;
        return false;
    };
    std::string reason;
    int fd = open_regular(f.path, &reason);
    if (fd < 0) {
        // A data track's file that the ripping program left out: the
        // audio still plays.
        if (data_only && errno == ENOENT && reason == strerror(ENOENT)) {
            f.missing = true;
            return true;
        }
        return fail(reason);
    }
    if (f.type == CUE_SNDFILE) {
        SF_INFO info{};
        f.snd = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
        if (!f.snd)
            return fail(sf_strerror(nullptr));
        if (info.channels != 2 || info.samplerate != SAMPLE_RATE)
            return fail("not 44100 Hz stereo (" + std::to_string(info.samplerate) + " Hz, " +
                        std::to_string(info.channels) + " channels)");
        f.size = info.frames;
        return true;
    }
    f.raw = fdopen(fd, "rb");
    if (!f.raw) {
        close(fd);
        return fail(strerror(errno));
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        return fail(strerror(errno));
    f.size = st.st_size;
    return true;
}

long ceil_div(long long a, long long b)
{
    return static_cast<long>((a + b - 1) / b);
}

// Lays the files and the silences of a sheet out as the disc's sectors,
// as the cue-sheet rules place them: every sector of every file in the
// sheet's order, PREGAP silence before a track's first index, POSTGAP
// silence after its last sector.  A track's sectors run from its first
// index to the next track's, across a change of file (the gap appended
// to the file before).
class layout {
public:
    layout(const cue_sheet &sheet, image &img, audio_toc &toc) : sheet(sheet), img(img), toc(toc) {}

    bool run(std::string *why)
    {
        toc.first = sheet.first;
        for (size_t i = 0; i < sheet.tracks.size(); i++) {
            const cue_track &t = sheet.tracks[i];
            n = sheet.first + static_cast<int>(i);
            // The track before runs up to the first index of this one; the
            // first track's gap holds what its file has before that.
            if (i > 0) {
                bool gap_before = t.index0 >= 0 && !t.gap_file.empty();
                int begin_file = file_of(gap_before ? t.gap_file : t.file);
                long begin = t.index0 >= 0 ? t.index0 : t.index1;
                if (!advance(begin_file, begin, sheet.tracks[i - 1], why))
                    return false;
                close_track(i - 1);
            }
            toc.gaps.push_back(cursor);
            silence(t.silence);
            if (t.index1 >= 0) {
                if (!advance(file_of(t.file), t.index1, t, why))
                    return false;
            } else {
                // Not ripped: what its file holds after INDEX 00 is its gap.
                advance(file, -1, t, why);
                if (i > 0 && !sheet.tracks[i - 1].data)
                    silence(toc.gaps.back() + SESSION_GAP - cursor);
            }
            toc.starts.push_back(cursor);
            toc.data.push_back(t.data);
            toc.pre.push_back(t.pre);
        }
        const cue_track &last = sheet.tracks.back();
        if (!advance(static_cast<int>(img.files.size()) - 1, -1, last, why))
            return false;
        close_track(sheet.tracks.size() - 1);
        toc.leadout = cursor;
        if (std::none_of(toc.pre.begin(), toc.pre.end(), [](bool p) { return p; }))
            toc.pre.clear();
        // MSF addresses must stay below 100 minutes.
        if (cursor + LBA_OFFSET >= 100 * MSF_FRAMES_PER_MINUTE) {
            *why = "longer than 99 minutes";
            return false;
        }
        return true;
    }

private:
    const cue_sheet &sheet;
    image &img;
    audio_toc &toc;
    int n = 0;             // the track being laid out
    long cursor = 0;       // the next sector of the disc
    int file = 0;          // where the sheet's files stand
    long pos = 0;          // in sectors of the file
    long long offset = 0;  // bytes (raw) or frames (sound file)

    int file_of(const std::string &path)
    {
        for (size_t k = 0; k < img.files.size(); k++)
            if (img.files[k].path == path)
                return static_cast<int>(k);
        return -1;
    }

    void silence(long count)
    {
        if (count > 0) {
            img.segments.push_back({cursor, count, -1, 0, SECTOR_BYTES});
            cursor += count;
        }
    }

    // A data track not ripped gets a length all the same.
    void close_track(size_t i)
    {
        if (sheet.tracks[i].data && cursor == toc.starts[i])
            silence(SHORTEST_TRACK);
        silence(sheet.tracks[i].postgap);
    }

    // Sectors of the current file from where it stands to its end.
    long left(int sector_bytes) const
    {
        const image_file &f = img.files[file];
        if (f.missing)
            return 0;
        if (f.type == CUE_SNDFILE)
            return ceil_div(std::max(0LL, f.size - offset), SECTOR_FRAMES);
        return ceil_div(std::max(0LL, f.size - offset), sector_bytes);
    }

    void take(long count, int sector_bytes)
    {
        const image_file &f = img.files[file];
        if (count <= 0)
            return;
        if (f.missing)
            img.segments.push_back({cursor, count, -1, 0, sector_bytes});
        else
            img.segments.push_back({cursor, count, file, offset, sector_bytes});
        cursor += count;
        pos += count;
        offset += f.type == CUE_SNDFILE ? static_cast<long long>(count) * SECTOR_FRAMES
                                        : static_cast<long long>(count) * sector_bytes;
    }

    // Lays the sectors of track t up to position to of file to_file (-1:
    // its end) out.
    bool advance(int to_file, long to, const cue_track &t, std::string *why)
    {
        if (to_file < file) {
            *why = "track " + std::to_string(n) + ": " + img.files[std::max(to_file, 0)].path +
                   " named again after another file";
            return false;
        }
        for (; file < to_file; file++, pos = 0, offset = 0)
            take(left(t.sector_bytes), t.sector_bytes);
        if (to < 0) {
            take(left(t.sector_bytes), t.sector_bytes);
            return true;
        }
        if (to < pos) {
            *why = "track " + std::to_string(n) + ": starts before the track before it";
            return false;
        }
        if (!img.files[file].missing && to - pos > left(t.sector_bytes)) {
            *why = "track " + std::to_string(n) + ": " + img.files[file].path +
                   " ends before it starts";
            return false;
        }
        take(to - pos, t.sector_bytes);
        return true;
    }
};

int16_t le16(const unsigned char *p)
{
    return static_cast<int16_t>(p[0] | p[1] << 8);
}

int16_t be16(const unsigned char *p)
{
    return static_cast<int16_t>(p[1] | p[0] << 8);
}

// Reads count sectors of one segment, from sector skip of it.  Runs inside
// the reader thread, the only one that touches the files after the open.
int read_segment(image &img, const segment &s, long skip, long count, int16_t *out)
{
    long samples = count * SECTOR_FRAMES * 2;
    std::fill(out, out + samples, 0);
    if (s.file < 0 || s.sector_bytes < SECTOR_BYTES)
        return 0;  // silence, or a data track that is never played
    image_file &f = img.files[s.file];
    if (f.snd) {
        if (sf_seek(f.snd, s.offset + skip * SECTOR_FRAMES, SEEK_SET) < 0)
            return 0;  // past the end: the padding
        sf_readf_short(f.snd, out, count * SECTOR_FRAMES);
        return 0;
    }
    // Sectors with sub-channel data (CD+G) hold the audio first.
    size_t stride = static_cast<size_t>(s.sector_bytes);
    std::vector<unsigned char> bytes(static_cast<size_t>(count) * stride, 0);
    if (fseeko(f.raw, s.offset + static_cast<long long>(skip) * s.sector_bytes, SEEK_SET) != 0)
        return -1;
    size_t got = fread(bytes.data(), 1, bytes.size(), f.raw);
    if (got < bytes.size() && ferror(f.raw)) {
        clearerr(f.raw);
        errno = EIO;
        return -1;
    }
    if (stride != SECTOR_BYTES)
        for (long k = 1; k < count; k++)
            memmove(&bytes[k * SECTOR_BYTES], &bytes[k * stride], SECTOR_BYTES);
    int16_t (*conv)(const unsigned char *) = f.type == CUE_MOTOROLA ? be16 : le16;
    for (long i = 0; i < samples; i++)
        out[i] = conv(&bytes[2 * i]);
    return 0;
}

// Runs inside the reader thread, the engine's lock let go.
int image_read(void *src, long lba, int count, int16_t *buf)
{
    image &img = *static_cast<image *>(src);
    while (count > 0) {
        auto s = std::find_if(img.segments.begin(), img.segments.end(), [lba](const segment &g) {
            return lba >= g.lba && lba < g.lba + g.count;
        });
        long n = count;
        if (s == img.segments.end()) {  // beyond the lead-out: silence
            std::fill(buf, buf + n * SECTOR_FRAMES * 2, 0);
        } else {
            n = std::min<long>(count, s->lba + s->count - lba);
            if (read_segment(img, *s, lba - s->lba, n, buf) < 0)
                return -1;
        }
        lba += n;
        count -= static_cast<int>(n);
        buf += n * SECTOR_FRAMES * 2;
    }
    return 0;
}

// Whichever thread lets the engine go last; no read is under way.
void image_close(void *src)
{
    delete static_cast<image *>(src);
}

const audio_source_ops image_ops = {image_read, image_close};

}  // namespace

// Runs on the player's thread, before the engine and its threads exist.
bool image_source_open(const std::string &cue_path, audio_source *src, std::string *why,
                       std::vector<std::string> *notes)
{
    std::string text;
    *why = cue_load_text(cue_path, &text);
    if (!why->empty())
        return false;
    cue_sheet sheet;
    *why = cue_read(text, &sheet);
    if (!why->empty())
        return false;

    auto img = std::make_unique<image>();
    std::string dir = dir_of(cue_path);
    std::map<std::string, size_t> known;  // as named -> the file
    auto add = [&](std::string *name, cue_file_type type, bool data) {
        auto k = known.find(*name);
        if (k != known.end()) {
            const image_file &f = img->files[k->second];
            *name = f.path;
            if (f.missing && !data) {
                *why = f.path + ": " + strerror(ENOENT);
                return false;
            }
            return true;
        }
        std::string note;
        image_file f;
        f.path = find_file(dir, *name, type == CUE_SNDFILE, &note);
        f.type = type;
        if (!note.empty() && notes)
            notes->push_back(note);
        known[*name] = img->files.size();
        *name = f.path;
        img->files.push_back(f);
        return open_file(img->files.back(), data, why);
    };
    for (cue_track &t : sheet.tracks) {
        // A gap in a data file that was not ripped is silence.
        if (!t.gap_file.empty() && !add(&t.gap_file, t.gap_type, true))
            return false;
        if (!add(&t.file, t.type, t.data))
            return false;
    }
    audio_toc toc;
    if (!layout(sheet, *img, toc).run(why))
        return false;
    src->ops = &image_ops;
    src->impl = img.release();
    src->toc = toc;
    return true;
}
