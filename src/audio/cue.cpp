// Cue sheets, read with libcue.  libcue says nothing of a data file's type
// (BINARY, MOTOROLA, WAVE...), so the FILE lines are looked at for that
// word alone; everything else is libcue's reading.
#include <libcue.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <sstream>

#include "audio/audio.h"

namespace {

std::string upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

// FILE "name" TYPE, the name quoted or one word.
std::map<std::string, std::string> file_types(const std::string &text)
{
    std::map<std::string, std::string> types;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos || upper(line.substr(b, 5)) != "FILE ")
            continue;
        size_t p = line.find_first_not_of(" \t", b + 5);
        if (p == std::string::npos)
            continue;
        std::string name;
        if (line[p] == '"') {
            size_t q = line.find('"', p + 1);
            if (q == std::string::npos)
                continue;
            name = line.substr(p + 1, q - p - 1);
            p = q + 1;
        } else {
            size_t q = line.find_first_of(" \t", p);
            if (q == std::string::npos)
                continue;
            name = line.substr(p, q - p);
            p = q;
        }
        std::istringstream rest(line.substr(p));
        std::string type;
        rest >> type;
        types[name] = upper(type);
    }
    return types;
}

int sector_bytes(TrackMode mode)
{
    switch (mode) {
    case MODE_MODE1:
    case MODE_MODE2_FORM1:
        return 2048;
    case MODE_MODE2:
    case MODE_MODE2_FORM_MIX:
        return 2336;
    case MODE_MODE2_FORM2:
        return 2324;
    default:
        return SECTOR_BYTES;
    }
}

// libcue reports its parse errors on standard error; they are caught in a
// scratch file so that the caller can give one line of its own.
struct stderr_capture {
    int saved = -1;
    FILE *tmp = nullptr;

    stderr_capture()
    {
        fflush(stderr);
        tmp = tmpfile();
        if (tmp) {
            saved = dup(2);
            if (saved < 0 || dup2(fileno(tmp), 2) < 0) {
                if (saved >= 0)
                    close(saved);
                saved = -1;
            }
        }
    }

    // The first line written while captured.
    std::string finish()
    {
        fflush(stderr);
        std::string first;
        if (saved >= 0) {
            dup2(saved, 2);
            close(saved);
            saved = -1;
            rewind(tmp);
            char buf[256];
            if (fgets(buf, sizeof buf, tmp))
                first = buf;
            while (!first.empty() && isspace(static_cast<unsigned char>(first.back())))
                first.pop_back();
        }
        return first;
    }

    ~stderr_capture()
    {
        finish();
        if (tmp)
            fclose(tmp);
    }
};

struct cd_deleter {
    void operator()(Cd *cd) const { cd_delete(cd); }
};

std::string track_error(int n, const std::string &what)
{
    return "track " + std::to_string(n) + ": " + what;
}

std::string read_tracks(const Cd *cd, const std::map<std::string, std::string> &types,
                        cue_sheet *sheet)
{
    int n = cd_get_ntrack(cd);
    if (n < 1)
        return "no tracks";
    if (n > 99)
        return "more than 99 tracks";
    for (int i = 1; i <= n; i++) {
        const Track *t = cd_get_track(cd, i);
        // An empty name would name the sheet's own folder.
        if (!t || !track_get_filename(t) || !*track_get_filename(t))
            return track_error(i, "no FILE for it");
        cue_track ct;
        ct.file = track_get_filename(t);
        auto type = types.find(ct.file);
        std::string word = type == types.end() ? "" : type->second;
        if (word == "BINARY")
            ct.type = CUE_BINARY;
        else if (word == "MOTOROLA")
            ct.type = CUE_MOTOROLA;
        else if (word == "WAVE" || word == "AIFF" || word == "FLAC" || word == "MP3")
            ct.type = CUE_SNDFILE;
        else
            return "file \"" + ct.file + "\": unknown type \"" + word +
                   "\" (BINARY, MOTOROLA, WAVE, AIFF or FLAC)";
        ct.data = track_get_mode(t) != MODE_AUDIO || track_is_set_flag(t, FLAG_DATA);
        ct.sector_bytes = sector_bytes(track_get_mode(t));
        if (ct.data && ct.type == CUE_SNDFILE)
            return track_error(i, "a data track in a sound file");
        ct.index1 = track_get_index(t, 1);
        ct.index0 = track_get_index(t, 0);
        if (ct.index1 < 0)
            return track_error(i, "no INDEX 01");
        if (ct.index0 > ct.index1)
            return track_error(i, "INDEX 00 after INDEX 01");
        // libcue counts an INDEX 00 gap as a pregap too; only a PREGAP
        // without one is silence outside the files.
        long pre = track_get_zero_pre(t);
        if (ct.index0 < 0 && pre > 0)
            ct.silence = pre;
        if (ct.silence > 75L * 60 * 10)
            return track_error(i, "PREGAP longer than ten minutes");
        if (!sheet->tracks.empty()) {
            const cue_track &prev = sheet->tracks.back();
            long begin = ct.index0 >= 0 ? ct.index0 : ct.index1;
            if (prev.file == ct.file && begin < prev.index1)
                return track_error(i, "starts before the track before it");
        }
        sheet->tracks.push_back(ct);
    }
    return "";
}

}  // namespace

std::string audio_one_line(std::string text)
{
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return text;
}

std::string cue_parse(const std::string &input, cue_sheet *sheet)
{
    *sheet = cue_sheet{};
    std::string text = input;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)  // a byte-order mark
        text.erase(0, 3);
    if (text.find('\0') != std::string::npos)
        return "not a cue sheet (binary data)";

    std::unique_ptr<Cd, cd_deleter> cd;
    std::string complaint;
    {
        stderr_capture capture;
        cd.reset(cue_parse_string(text.c_str()));
        complaint = capture.finish();
    }
    // libcue goes on after some errors; a sheet it complained about is
    // not trusted.
    if (!cd || !complaint.empty())
        return complaint.empty() ? "not a cue sheet"
                                 : audio_one_line("not a cue sheet (" + complaint + ")");

    std::string why = read_tracks(cd.get(), file_types(text), sheet);
    if (!why.empty()) {
        *sheet = cue_sheet{};
        return audio_one_line(why);
    }
    if (const Cdtext *cdtext = cd_get_cdtext(cd.get())) {
        if (const char *s = cdtext_get(PTI_TITLE, cdtext))
            sheet->title = s;
        if (const char *s = cdtext_get(PTI_PERFORMER, cdtext))
            sheet->performer = s;
    }
    return "";
}
