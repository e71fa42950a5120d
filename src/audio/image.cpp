// Disc images: a cue sheet and the data files it names, laid out as the
// sectors of a disc.  Raw files are read directly, sound files through
// libsndfile.
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "audio/audio.h"

namespace {

struct image_file {
    std::string path;
    cue_file_type type = CUE_BINARY;
    FILE *raw = nullptr;
    SNDFILE *snd = nullptr;
    long long size = 0;  // bytes (raw) or sample frames (sound file)
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

std::string dir_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

bool open_file(image_file &f, std::string *why)
{
    auto fail = [&](const std::string &what) {
        *why = f.path + ": " + what;
        return false;
    };
    if (f.type == CUE_SNDFILE) {
        SF_INFO info{};
        f.snd = sf_open(f.path.c_str(), SFM_READ, &info);
        if (!f.snd) {
            struct stat st;
            if (stat(f.path.c_str(), &st) != 0)
                return fail(strerror(errno));
            return fail(sf_strerror(nullptr));
        }
        if (info.channels != 2 || info.samplerate != SAMPLE_RATE)
            return fail("not 44100 Hz stereo (" + std::to_string(info.samplerate) + " Hz, " +
                        std::to_string(info.channels) + " channels)");
        f.size = info.frames;
        return true;
    }
    f.raw = fopen(f.path.c_str(), "rb");
    if (!f.raw)
        return fail(strerror(errno));
    struct stat st;
    if (fstat(fileno(f.raw), &st) != 0)
        return fail(strerror(errno));
    f.size = st.st_size;
    return true;
}

long ceil_div(long long a, long long b)
{
    return static_cast<long>((a + b - 1) / b);
}

// Sectors of one file from sector begin (of the given size) to its end;
// a last partial sector counts, padded with silence.
long sectors_to_end(const image_file &f, long long offset, int sector_bytes)
{
    if (f.type == CUE_SNDFILE)
        return ceil_div(std::max(0LL, f.size - offset), SECTOR_FRAMES);
    return ceil_div(std::max(0LL, f.size - offset), sector_bytes);
}

bool lay_out(const cue_sheet &sheet, image &img, audio_toc &toc, std::string *why)
{
    long cursor = 0;
    long long offset = 0;
    for (size_t i = 0; i < sheet.tracks.size(); i++) {
        const cue_track &t = sheet.tracks[i];
        int n = static_cast<int>(i) + 1;
        int fi = -1;
        for (size_t k = 0; k < img.files.size(); k++)
            if (img.files[k].path == t.file)
                fi = static_cast<int>(k);
        const image_file &f = img.files[fi];
        bool first_in_file = i == 0 || sheet.tracks[i - 1].file != t.file;
        long begin = t.index0 >= 0 ? t.index0 : t.index1;
        // Sectors before a file's first track are no part of the disc.
        if (f.type == CUE_SNDFILE)
            offset = static_cast<long long>(begin) * SECTOR_FRAMES;
        else if (first_in_file)
            offset = static_cast<long long>(begin) * t.sector_bytes;
        long count;
        const cue_track *next = i + 1 < sheet.tracks.size() ? &sheet.tracks[i + 1] : nullptr;
        if (next && next->file == t.file)
            count = (next->index0 >= 0 ? next->index0 : next->index1) - begin;
        else
            count = sectors_to_end(f, offset, t.sector_bytes);
        if (count <= t.index1 - begin) {
            *why = "track " + std::to_string(n) + ": " + f.path + " ends before it starts";
            return false;
        }
        toc.gaps.push_back(cursor);
        if (t.silence > 0) {
            img.segments.push_back({cursor, t.silence, -1, 0, SECTOR_BYTES});
            cursor += t.silence;
        }
        toc.starts.push_back(cursor + t.index1 - begin);
        toc.data.push_back(t.data);
        img.segments.push_back({cursor, count, fi, offset, t.sector_bytes});
        cursor += count;
        if (f.type != CUE_SNDFILE)
            offset += static_cast<long long>(count) * t.sector_bytes;
    }
    toc.leadout = cursor;
    // MSF addresses must stay below 100 minutes.
    if (cursor + LBA_OFFSET >= 100L * 60 * 75) {
        *why = "longer than 99 minutes";
        return false;
    }
    return true;
}

int16_t le16(const unsigned char *p)
{
    return static_cast<int16_t>(p[0] | p[1] << 8);
}

int16_t be16(const unsigned char *p)
{
    return static_cast<int16_t>(p[1] | p[0] << 8);
}

// Reads count sectors of one segment, from sector skip of it.
int read_segment(image &img, const segment &s, long skip, long count, int16_t *out)
{
    long samples = count * SECTOR_FRAMES * 2;
    std::fill(out, out + samples, 0);
    if (s.file < 0 || s.sector_bytes != SECTOR_BYTES)
        return 0;  // silence, or a data track that is never played
    image_file &f = img.files[s.file];
    if (f.snd) {
        if (sf_seek(f.snd, s.offset + skip * SECTOR_FRAMES, SEEK_SET) < 0)
            return 0;  // past the end: the padding
        sf_readf_short(f.snd, out, count * SECTOR_FRAMES);
        return 0;
    }
    std::vector<unsigned char> bytes(static_cast<size_t>(count) * SECTOR_BYTES, 0);
    if (fseeko(f.raw, s.offset + static_cast<long long>(skip) * SECTOR_BYTES, SEEK_SET) != 0)
        return -1;
    size_t got = fread(bytes.data(), 1, bytes.size(), f.raw);
    if (got < bytes.size() && ferror(f.raw)) {
        clearerr(f.raw);
        errno = EIO;
        return -1;
    }
    int16_t (*conv)(const unsigned char *) = f.type == CUE_MOTOROLA ? be16 : le16;
    for (long i = 0; i < samples; i++)
        out[i] = conv(&bytes[2 * i]);
    return 0;
}

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

void image_close(void *src)
{
    delete static_cast<image *>(src);
}

const audio_source_ops image_ops = {image_read, image_close};

}  // namespace

bool image_source_open(const std::string &cue_path, audio_source *src, std::string *why)
{
    std::ifstream in(cue_path, std::ios::binary);
    if (!in) {
        *why = strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().size() > 1 << 20) {
        *why = "too large for a cue sheet";
        return false;
    }
    cue_sheet sheet;
    *why = cue_parse(text.str(), &sheet);
    if (!why->empty())
        return false;

    auto img = std::make_unique<image>();
    std::string dir = dir_of(cue_path);
    for (cue_track &t : sheet.tracks) {
        if (t.file.empty() || t.file[0] != '/')
            t.file = dir + t.file;
        bool known = std::any_of(img->files.begin(), img->files.end(),
                                 [&t](const image_file &f) { return f.path == t.file; });
        if (known)
            continue;
        img->files.push_back({t.file, t.type, nullptr, nullptr, 0});
        if (!open_file(img->files.back(), why))
            return false;
    }
    audio_toc toc;
    if (!lay_out(sheet, *img, toc, why))
        return false;
    src->ops = &image_ops;
    src->impl = img.release();
    src->toc = toc;
    return true;
}
