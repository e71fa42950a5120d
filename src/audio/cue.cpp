// Cue sheets, read with libcue.  Ripping programs write sheets libcue's
// grammar refuses (no final line end, a byte-order mark, lower-case
// keywords, a made-up mode for a data track they did not read), so the
// text is first brought into the form libcue takes, line for line.  That
// pass also notes what libcue does not keep: each FILE's type word, the
// file each INDEX is in (a track's gap may end the file before its own),
// the track numbers.
#include <libcue.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>

#include "audio/audio.h"
#include "drive/msf.h"

namespace {

constexpr size_t MAX_SHEET = 1 << 20;

std::string upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

bool one_of(const std::string &word, std::initializer_list<const char *> words)
{
    return std::any_of(words.begin(), words.end(), [&](const char *w) { return word == w; });
}

// What the line pass learns of a track.
struct track_note {
    int number = 0;
    int file0 = -1, file1 = -1;  // the FILE in force at INDEX 00 and 01
    int file = -1;               // and at the TRACK line
    bool unknown_mode = false;   // a placeholder: a data track not read
    int sector_bytes = 0;        // for modes libcue does not know; 0: libcue's
    bool audio_mode = false;     // CDG: audio with sub-channel data
    // libcue adds an INDEX 00 gap into its PREGAP: these are the lines'.
    long pregap = 0, postgap = 0;
};

struct file_note {
    std::string name, type;
};

struct notes {
    std::vector<file_note> files;
    std::vector<track_note> tracks;
    int bad_line = 0;  // the first line that begins with no keyword
    std::string bad_word;
};

// Splits a line into its leading blanks, its first word and the rest.
void split(const std::string &line, std::string *lead, std::string *word, std::string *rest)
{
    size_t b = line.find_first_not_of(" \t");
    if (b == std::string::npos)
        b = line.size();
    size_t e = line.find_first_of(" \t", b);
    if (e == std::string::npos)
        e = line.size();
    *lead = line.substr(0, b);
    *word = line.substr(b, e - b);
    *rest = line.substr(e);
}

std::string next_word(const std::string &s, size_t *at)
{
    size_t b = s.find_first_not_of(" \t", *at);
    if (b == std::string::npos) {
        *at = s.size();
        return "";
    }
    size_t e = s.find_first_of(" \t", b);
    if (e == std::string::npos)
        e = s.size();
    *at = e;
    return s.substr(b, e - b);
}

// FILE "name" TYPE, the name quoted or one word.
std::string file_line(const std::string &rest, notes *n)
{
    size_t p = rest.find_first_not_of(" \t");
    if (p == std::string::npos)
        return rest;
    std::string name, tail;
    if (rest[p] == '"') {
        size_t q = rest.find('"', p + 1);
        if (q == std::string::npos)
            return rest;
        name = rest.substr(p + 1, q - p - 1);
        tail = rest.substr(q + 1);
    } else {
        size_t q = rest.find_first_of(" \t", p);
        if (q == std::string::npos)
            return rest;
        name = rest.substr(p, q - p);
        tail = rest.substr(q);
    }
    size_t at = 0;
    std::string type = upper(next_word(tail, &at));
    n->files.push_back({name, type});
    // libcue knows only some of the words; the type is ours to judge.
    std::string given = one_of(type, {"BINARY", "MOTOROLA", "AIFF", "WAVE", "MP3", "FLAC"})
                            ? type
                            : "WAVE";
    return " \"" + name + "\" " + given + tail.substr(at);
}

std::string track_line(const std::string &rest, notes *n)
{
    size_t at = 0;
    std::string number = next_word(rest, &at);
    std::string mode = upper(next_word(rest, &at));
    track_note t;
    t.number = atoi(number.c_str());
    t.file = static_cast<int>(n->files.size()) - 1;
    std::string given = mode;
    if (!one_of(mode, {"AUDIO", "MODE1/2048", "MODE1/2352", "MODE2/2336", "MODE2/2048",
                       "MODE2/2352", "MODE2/2332"})) {
        // Modes of the format that libcue lacks, and made-up ones.
        given = "MODE1/2352";
        if (mode == "MODE2/2324")
            t.sector_bytes = 2324;
        else if (mode == "CDI/2336")
            t.sector_bytes = 2336;
        else if (mode == "CDI/2352")
            t.sector_bytes = SECTOR_BYTES;
        else if (mode == "CDG") {
            t.sector_bytes = 2448;
            t.audio_mode = true;
            given = "AUDIO";
        } else
            t.unknown_mode = true;
    }
    n->tracks.push_back(t);
    return " " + number + " " + given + rest.substr(at);
}

// The text as libcue's grammar takes it; notes of what it loses.
std::string normalise(const std::string &input, notes *n)
{
    std::string text = input;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)  // a byte-order mark
        text.erase(0, 3);
    std::string out;
    size_t at = 0;
    int lines = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        std::string lead, word, rest;
        split(line, &lead, &word, &rest);
        std::string key = upper(word);
        if (key == "FILE")
            rest = file_line(rest, n);
        else if (key == "TRACK")
            rest = track_line(rest, n);
        else if (key == "FLAGS")
            rest = upper(rest);
        else if ((key == "PREGAP" || key == "POSTGAP") && !n->tracks.empty()) {
            size_t p = 0;
            int m = 0, sec = 0, f = 0;
            if (sscanf(next_word(rest, &p).c_str(), "%d:%d:%d", &m, &sec, &f) == 3)
                (key == "PREGAP" ? n->tracks.back().pregap : n->tracks.back().postgap) =
                    msf_frames(m, sec, f);
        } else if (key == "INDEX" && !n->tracks.empty()) {
            size_t p = 0;
            int index = atoi(next_word(rest, &p).c_str());
            int file = static_cast<int>(n->files.size()) - 1;
            if (index == 0)
                n->tracks.back().file0 = file;
            else if (index == 1)
                n->tracks.back().file1 = file;
        }
        lines++;
        if (one_of(key, {"CATALOG", "CDTEXTFILE", "FILE", "FLAGS", "INDEX", "ISRC", "PERFORMER",
                         "POSTGAP", "PREGAP", "REM", "SONGWRITER", "TITLE", "TRACK", "ARRANGER",
                         "COMPOSER", "DISC_ID", "GENRE", "MESSAGE", "UPC_EAN"}))
            word = key;
        else if (!word.empty() && !n->bad_line) {
            n->bad_line = lines;
            n->bad_word = word.substr(0, 40);
        }
        out += lead + word + rest + "\n";
    }
    return out;
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

struct cd_deleter {
    void operator()(Cd *cd) const { cd_delete(cd); }
};

// What libcue wrote to standard error since the last look, when that is
// a file.
std::string new_complaints()
{
    static off_t seen = 0;
    fflush(stderr);
    off_t end = lseek(2, 0, SEEK_END);
    if (end < 0)
        return "";
    if (end < seen)
        seen = 0;
    std::string all(static_cast<size_t>(std::min<off_t>(end - seen, 4096)), '\0');
    ssize_t got = pread(2, &all[0], all.size(), seen);
    seen = end;
    all.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return all;
}

// The grammar's "12: syntax error" if it is there, else the first line.
std::string main_complaint(const std::string &all, long *line)
{
    *line = 0;
    std::istringstream in(all);
    std::string first;
    for (std::string l; std::getline(in, l);) {
        if (first.empty())
            first = l;
        char *end = nullptr;
        long n = strtol(l.c_str(), &end, 10);
        if (end != l.c_str() && *end == ':' && isdigit(static_cast<unsigned char>(l[0]))) {
            *line = n;
            return end;
        }
    }
    return first;
}

std::string track_error(int n, const std::string &what)
{
    return "track " + std::to_string(n) + ": " + what;
}

std::string cd_text(enum Pti pti, const Cdtext *ct)
{
    const char *s = ct ? cdtext_get(pti, ct) : nullptr;
    return s ? s : "";
}

std::string type_of(const std::string &word, cue_file_type *type)
{
    if (word == "BINARY")
        *type = CUE_BINARY;
    else if (word == "MOTOROLA")
        *type = CUE_MOTOROLA;
    else if (one_of(word, {"WAVE", "AIFF", "FLAC", "MP3"}))
        *type = CUE_SNDFILE;
    else
        return "unknown type \"" + word + "\" (BINARY, MOTOROLA, WAVE, AIFF or FLAC)";
    return "";
}

std::string read_track(const Track *t, const track_note &note, const notes &n, cue_track *ct)
{
    int file = note.file1 >= 0 ? note.file1 : note.file0 >= 0 ? note.file0 : note.file;
    if (file < 0)
        return "no FILE for it";
    const file_note &f = n.files[file];
    // An empty name would name the sheet's own folder.
    if (f.name.empty())
        return "no FILE for it";
    ct->file = f.name;
    std::string why = type_of(f.type, &ct->type);
    if (!why.empty())
        return "file \"" + f.name + "\": " + why;
    if (note.file0 >= 0 && note.file1 >= 0 && note.file0 != note.file1) {
        ct->gap_file = n.files[note.file0].name;
        if (ct->gap_file.empty())
            return "no FILE for its gap";
        why = type_of(n.files[note.file0].type, &ct->gap_type);
        if (!why.empty())
            return "file \"" + ct->gap_file + "\": " + why;
    }
    ct->data = note.unknown_mode ||
               (!note.audio_mode &&
                (track_get_mode(t) != MODE_AUDIO || track_is_set_flag(t, FLAG_DATA)));
    ct->pre = track_is_set_flag(t, FLAG_PRE_EMPHASIS);
    ct->sector_bytes = note.sector_bytes ? note.sector_bytes : sector_bytes(track_get_mode(t));
    if (ct->type == CUE_SNDFILE && ct->sector_bytes != SECTOR_BYTES && !ct->data)
        return "sub-channel data in a sound file";
    if (ct->data && ct->type == CUE_SNDFILE && !note.unknown_mode)
        return "a data track in a sound file";
    ct->index1 = track_get_index(t, 1);
    ct->index0 = track_get_index(t, 0);
    // A data track that was not read may have no INDEX 01, or none at
    // all: then it begins its file.
    if (ct->data && ct->index0 < 0 && ct->index1 < 0)
        ct->index1 = 0;
    if (ct->index1 < 0 && !ct->data)
        return "no INDEX 01";
    if (ct->index1 >= 0 && ct->index0 > ct->index1 && ct->gap_file.empty())
        return "INDEX 00 after INDEX 01";
    // libcue read the times; a PREGAP it took is one of the lines'.
    ct->silence = track_get_zero_pre(t) > 0 ? note.pregap : 0;
    ct->postgap = track_get_zero_post(t) > 0 ? note.postgap : 0;
    if (ct->silence < 0 || ct->postgap < 0)
        return "a negative PREGAP or POSTGAP";  // found by the fuzzer
    if (ct->silence > 10 * MSF_FRAMES_PER_MINUTE || ct->postgap > 10 * MSF_FRAMES_PER_MINUTE)
        return "a PREGAP or POSTGAP longer than ten minutes";
    ct->title = cd_text(PTI_TITLE, track_get_cdtext(t));
    ct->performer = cd_text(PTI_PERFORMER, track_get_cdtext(t));
    return "";
}

// Where a track's first index lies: its file (by name) and position.
long begin_of(const cue_track &t, std::string *file)
{
    if (t.index0 >= 0) {
        *file = t.gap_file.empty() ? t.file : t.gap_file;
        return t.index0;
    }
    *file = t.file;
    return t.index1;
}

std::string read_tracks(const Cd *cd, const notes &n, cue_sheet *sheet)
{
    int count = cd_get_ntrack(cd);
    if (count < 1)
        return "no tracks";
    if (count > 99)
        return "more than 99 tracks";
    if (static_cast<size_t>(count) != n.tracks.size())
        return "a TRACK line libcue did not take";
    sheet->first = n.tracks[0].number;
    if (sheet->first < 1 || sheet->first + count - 1 > 99)
        return "track numbers outside 1 to 99";
    std::vector<cue_track> tracks;
    for (int i = 1; i <= count; i++) {
        int number = sheet->first + i - 1;
        if (n.tracks[i - 1].number != number)
            return "track " + std::to_string(n.tracks[i - 1].number) + " where track " +
                   std::to_string(number) + " belongs";
        const Track *t = cd_get_track(cd, i);
        cue_track ct;
        std::string why = t ? read_track(t, n.tracks[i - 1], n, &ct) : "missing";
        if (!why.empty())
            return track_error(number, why);
        if (!tracks.empty()) {
            const cue_track &prev = tracks.back();
            std::string file;
            long begin = begin_of(ct, &file);
            if (prev.file == file && begin < prev.index1)
                return track_error(number, "starts before the track before it");
        }
        tracks.push_back(ct);
    }
    sheet->tracks = tracks;
    return "";
}

// ---- the child's answer, as bytes ----

void put(std::string *out, const std::string &s)
{
    uint32_t len = static_cast<uint32_t>(s.size());
    out->append(reinterpret_cast<const char *>(&len), sizeof len);
    out->append(s);
}

void put(std::string *out, long v)
{
    out->append(reinterpret_cast<const char *>(&v), sizeof v);
}

struct reader {
    const std::string &in;
    size_t at = 0;
    bool ok = true;

    std::string str()
    {
        uint32_t len = 0;
        if (at + sizeof len > in.size()) {
            ok = false;
            return "";
        }
        memcpy(&len, in.data() + at, sizeof len);
        at += sizeof len;
        if (len > in.size() - at) {
            ok = false;
            return "";
        }
        std::string s = in.substr(at, len);
        at += len;
        return s;
    }

    long num()
    {
        long v = 0;
        if (at + sizeof v > in.size()) {
            ok = false;
            return 0;
        }
        memcpy(&v, in.data() + at, sizeof v);
        at += sizeof v;
        return v;
    }
};

std::string serialise(const std::string &why, const cue_sheet &s)
{
    std::string out;
    put(&out, why);
    put(&out, static_cast<long>(s.first));
    put(&out, s.title);
    put(&out, s.performer);
    put(&out, static_cast<long>(s.tracks.size()));
    for (const cue_track &t : s.tracks) {
        put(&out, t.file);
        put(&out, t.gap_file);
        put(&out, t.title);
        put(&out, t.performer);
        for (long v : {static_cast<long>(t.type), static_cast<long>(t.gap_type),
                       static_cast<long>(t.data), static_cast<long>(t.pre),
                       static_cast<long>(t.sector_bytes), t.index0, t.index1, t.silence, t.postgap})
            put(&out, v);
    }
    return out;
}

bool deserialise(const std::string &in, std::string *why, cue_sheet *s)
{
    reader r{in};
    *why = r.str();
    s->first = static_cast<int>(r.num());
    s->title = r.str();
    s->performer = r.str();
    long n = r.num();
    if (!r.ok || n < 0 || n > 99)
        return false;
    for (long i = 0; i < n && r.ok; i++) {
        cue_track t;
        t.file = r.str();
        t.gap_file = r.str();
        t.title = r.str();
        t.performer = r.str();
        t.type = static_cast<cue_file_type>(r.num());
        t.gap_type = static_cast<cue_file_type>(r.num());
        t.data = r.num();
        t.pre = r.num();
        t.sector_bytes = static_cast<int>(r.num());
        t.index0 = r.num();
        t.index1 = r.num();
        t.silence = r.num();
        t.postgap = r.num();
        s->tracks.push_back(t);
    }
    return r.ok && r.at == in.size();
}

// Runs in the child: nothing but the parse and the answer.
[[noreturn]] void parse_in_child(const std::string &text, int out)
{
    // The child's standard error is its own (it has one thread): libcue's
    // complaints go to a scratch file, and the first one into the reason.
    FILE *tmp = tmpfile();
    if (tmp)
        dup2(fileno(tmp), 2);
    else
        close(2);
    cue_sheet sheet;
    std::string why = cue_parse(text, &sheet);
    std::string answer = serialise(why, sheet);
    for (size_t at = 0; at < answer.size();) {
        ssize_t n = write(out, answer.data() + at, answer.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        at += static_cast<size_t>(n);
    }
    _exit(0);
}

std::mutex last_lock;
std::string last_text, last_why;
cue_sheet last_sheet;
bool have_last = false;

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
    if (input.find('\0') != std::string::npos)
        return "not a cue sheet (binary data)";
    notes n;
    std::string text = normalise(input, &n);
    if (n.bad_line > 0)
        return audio_one_line("not a cue sheet (line " + std::to_string(n.bad_line) + ": \"" +
                              n.bad_word + "\")");

    // libcue's complaints go to standard error, which in the child that
    // parses is a scratch file; the first one is the reason.
    bool heard = lseek(2, 0, SEEK_CUR) >= 0;
    if (heard)
        new_complaints();
    std::unique_ptr<Cd, cd_deleter> cd(cue_parse_string(text.c_str()));
    // Its line numbers run on from one parse to the next and count some
    // lines twice: they are left out.
    long line = 0;
    std::string all = new_complaints();
    std::string complaint = main_complaint(all, &line);
    size_t said = complaint.find_first_not_of(": ");
    complaint = said == std::string::npos ? "" : complaint.substr(said);
    if (complaint.empty() && all.find_first_not_of(" \n") != std::string::npos)
        complaint = "unreadable";
    if (cd) {
        const Cdtext *cdtext = cd_get_cdtext(cd.get());
        sheet->title = cd_text(PTI_TITLE, cdtext);
        sheet->performer = cd_text(PTI_PERFORMER, cdtext);
    }
    // libcue goes on after some errors; a sheet it complained about is
    // not trusted.
    if (!cd || !complaint.empty()) {
        if (complaint.empty())
            return "not a cue sheet";
        return audio_one_line("not a cue sheet (" + complaint + ")");
    }
    std::string why = read_tracks(cd.get(), n, sheet);
    return audio_one_line(why);
}

std::string cue_read(const std::string &text, cue_sheet *sheet)
{
    {
        std::lock_guard<std::mutex> hold(last_lock);
        if (have_last && last_text == text) {
            *sheet = last_sheet;
            return last_why;
        }
    }
    *sheet = cue_sheet{};
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return std::string("cannot read the sheet: ") + strerror(errno);
    pid_t pid = fork();
    if (pid < 0) {
        int err = errno;
        close(fds[0]);
        close(fds[1]);
        return std::string("cannot read the sheet: ") + strerror(err);
    }
    if (pid == 0) {
        close(fds[0]);
        parse_in_child(text, fds[1]);
    }
    close(fds[1]);
    // A parse takes a millisecond; one that runs on is a parser in a loop.
    std::string answer;
    bool timed_out = false;
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        int r = poll(&p, 1, 5000);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0) {
            timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        char buf[4096];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        answer.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::string why;
    if (timed_out)
        why = "not a cue sheet (the parser did not finish)";
    else if (WIFSIGNALED(status))
        why = "not a cue sheet (the parser crashed)";
    else if (!deserialise(answer, &why, sheet)) {
        *sheet = cue_sheet{};
        why = "not a cue sheet (the parser gave no answer)";
    }
    std::lock_guard<std::mutex> hold(last_lock);
    last_text = text;
    last_why = why;
    last_sheet = *sheet;
    have_last = true;
    return why;
}

std::string cue_load_text(const std::string &path, std::string *text)
{
    text->clear();
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return strerror(errno);
    // Opening a FIFO or a device may wait for ever, and the window with it.
    auto kind = [](const struct stat &s) -> std::string {
        if (S_ISDIR(s.st_mode))
            return "a directory";
        if (!S_ISREG(s.st_mode))
            return "not a regular file";
        return "";
    };
    std::string why = kind(st);
    if (!why.empty())
        return why;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return strerror(errno);
    if (fstat(fd, &st) != 0 || !(why = kind(st)).empty()) {
        close(fd);
        return why.empty() ? strerror(errno) : why;
    }
    if (st.st_size > static_cast<off_t>(MAX_SHEET)) {
        close(fd);
        return "too large for a cue sheet";
    }
    char buf[8192];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 && text->size() <= MAX_SHEET)
        text->append(buf, static_cast<size_t>(n));
    int err = errno;
    close(fd);
    if (n < 0)
        return strerror(err);
    if (text->size() > MAX_SHEET)
        return "too large for a cue sheet";
    return "";
}
