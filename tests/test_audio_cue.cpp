// Cue sheets as the image reader takes them from libcue.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "audio/audio.h"
#include "audio/deemphasis.h"
#include "drive/digital.h"
#include "drive/drive.h"
#include "support/redirect.h"

// libcue keeps what it built when a sheet fails to parse; that is its
// leak, not ours.  (Read by the leak checker of sanitizer builds only.)
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libcue.so\n";
}

namespace {

TEST(CueSheet, ReadsTracksIndexesGapsAndTypes)
{
    cue_sheet s;
    ASSERT_EQ(cue_parse("\xEF\xBB\xBFTITLE \"Album\"\r\nPERFORMER \"Band\"\r\n"
                        "FILE \"one two.bin\" MOTOROLA\r\n"
                        "  TRACK 01 MODE1/2048\r\n    INDEX 01 00:00:00\r\n"
                        "  TRACK 02 AUDIO\r\n    PREGAP 00:02:00\r\n    INDEX 01 00:10:00\r\n"
                        "FILE b.wav WAVE\r\n"
                        "  TRACK 03 AUDIO\r\n    INDEX 00 00:00:00\r\n    INDEX 01 00:01:05\r\n",
                        &s),
              "");
    EXPECT_EQ(s.title, "Album");
    EXPECT_EQ(s.performer, "Band");
    ASSERT_EQ(s.tracks.size(), 3u);
    struct {
        const char *file;
        cue_file_type type;
        bool data;
        int sector_bytes;
        long index0, index1, silence;
    } want[] = {
        {"one two.bin", CUE_MOTOROLA, true, 2048, -1, 0, 0},
        {"one two.bin", CUE_MOTOROLA, false, 2352, -1, 750, 150},
        {"b.wav", CUE_SNDFILE, false, 2352, 0, 80, 0},
    };
    for (size_t i = 0; i < 3; i++) {
        const cue_track &t = s.tracks[i];
        SCOPED_TRACE("track " + std::to_string(i + 1));
        EXPECT_EQ(t.file, want[i].file);
        EXPECT_EQ(t.type, want[i].type);
        EXPECT_EQ(t.data, want[i].data);
        EXPECT_EQ(t.sector_bytes, want[i].sector_bytes);
        EXPECT_EQ(t.index0, want[i].index0);
        EXPECT_EQ(t.index1, want[i].index1);
        EXPECT_EQ(t.silence, want[i].silence);
    }
}

TEST(CueSheet, RefusesWhatCannotBePlayedWithOneLine)
{
    struct {
        std::string sheet;
        const char *says;
    } cases[] = {
        {"", "not a cue sheet"},
        {"TRACK 01 AUDIO\n  INDEX 01 00:00:00\n", "not a cue sheet ("},  // libcue: no file
        {"FILE \"a\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\nnonsense here\n", "not a cue sheet"},
        {"FILE \"a\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n", "track 1: no INDEX 01"},
        {"FILE \"\" AIFF\n  TRACK 01 AUDIO\n    INDEX 01 00\n", "track 1: no FILE for it"},
        {"FILE \"a\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:10\n    INDEX 01 00:00:05\n",
         "track 1: INDEX 00 after INDEX 01"},
        {"FILE \"a.wav\" WAVE\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n",
         "track 1: a data track in a sound file"},
        {"FILE \"a\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n    INDEX 01 00:00:10\n"
         "  TRACK 02 AUDIO\n    INDEX 01 00:00:05\n",
         "track 2: starts before the track before it"},
    };
    for (auto &c : cases) {
        cue_sheet s;
        std::string why = cue_read(c.sheet, &s);
        EXPECT_EQ(why.rfind(c.says, 0), 0u) << c.sheet << " -> " << why;
        EXPECT_EQ(why.find('\n'), std::string::npos);
        EXPECT_TRUE(s.tracks.empty());
    }
    // A quoted name may run over lines; the report stays on one.
    cue_sheet n;
    EXPECT_EQ(cue_read("FILE \"a\nb\" OGGX\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", &n).find('\n'),
              std::string::npos);
    std::string binary("FILE \"a\" BINARY\n\0TRACK", 22);
    cue_sheet s;
    EXPECT_EQ(cue_read(binary, &s), "not a cue sheet (binary data)");
}

}  // namespace

// ---- real sheets, with audio made to match them ----
//
// Each case is a disc: seeded noise keyed by the disc's sector address,
// cut into the files the sheet names at the addresses a drive reads them
// from, with the stretches no file holds (PREGAP, a data track not read)
// left out.  The sheet is loaded through the drive layer; its table of
// contents must be the disc's, and the sound at every track's start and
// at every join of two files must be the disc's, sample for sample.
namespace {

namespace fs = std::filesystem;

constexpr long W = 3;  // sectors compared either side of a point

int16_t noise(long lba, long sample)
{
    uint64_t x = static_cast<uint64_t>(lba) * 1176 + static_cast<uint64_t>(sample) + 0x51ED27;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return static_cast<int16_t>(x >> 48);
}

long msf(const char *text)
{
    int m = 0, s = 0, f = 0;
    sscanf(text, "%d:%d:%d", &m, &s, &f);
    return (m * 60L + s) * 75 + f;
}

struct disc_file {
    std::string name;  // as the sheet names it
    long from, to;     // disc sectors it holds; from < 0: not there
};

struct disc_case {
    const char *sheet;
    std::vector<disc_file> files;
    int first;
    std::vector<long> starts;  // each track's INDEX 01 on the disc (LBA)
    std::string kinds;         // A audio, D data, per track
    long leadout;
    bool discid = false;  // the sheet's REM DISCID names this disc
    // The sheet as users have it after a while: keywords in lower case, a
    // byte-order mark without a final line end, numbered from 5, the
    // audio re-encoded into FLAC, the folder renamed in another case.
    enum { AS_IS, LOWER, BOM_NO_END, FROM_FIVE, FLAC, RECASED } variant = AS_IS;
};

std::vector<long> msfs(std::initializer_list<const char *> texts)
{
    std::vector<long> out;
    for (const char *t : texts)
        out.push_back(msf(t));
    return out;
}

// EAC's layouts of the Surfer Rosa disc, cut from where its one-file
// sheet puts each track.
const std::vector<long> ROSA = msfs(
    {"00:00:32", "03:03:42", "05:09:12", "06:56:67", "08:27:00", "12:21:70", "14:53:60",
     "18:47:15", "21:03:70", "22:56:15", "24:43:32", "29:49:20", "31:31:27", "33:32:20",
     "36:46:45", "39:40:22", "41:21:47", "43:51:47", "46:06:10", "48:23:25", "51:24:07"});
const long ROSA_END = (3242 + 2) * 75 - 150 + 30;  // 3242 s after track 1, as its DISCID says

std::vector<disc_file> rosa_files(bool gaps_prepended)
{
    const char *const titles[] = {"Bone Machine", "Break My Body", "Something Against You",
                                  "Broken Face", "Gigantic", "River Euphrates", "Where Is My Mind ",
                                  "Cactus", "Tony's Theme", "Oh My Golly!", "Vamos", "I'm Amazed",
                                  "Brick is Red", "Caribou", "Vamos", "Isla de Encanta", "Ed is Dead",
                                  "The Holyday Song", "Nimrod's Son", "I've Been Tired", "Levitate Me"};
    std::vector<disc_file> files;
    for (int t = 0; t < 21; t++) {
        char name[160];
        snprintf(name, sizeof name, "Pixies - Surfer Rosa & Come on Pilgrim\\%02d - Pixies - %s.wav",
                 t + 1, titles[t]);
        long from = ROSA[t], to = t < 20 ? ROSA[t + 1] : ROSA_END;
        // Track 1's gap leads its file or is a PREGAP; track 3's
        // (05:08:42) leads its file or ends track 2's.
        if (gaps_prepended && t == 0)
            from = 0;
        if (gaps_prepended && t == 1)
            to = msf("05:08:42");
        if (gaps_prepended && t == 2)
            from = msf("05:08:42");
        files.push_back({name, from, to});
    }
    return files;
}

// Files one after another from sector at, of the given lengths.
std::vector<disc_file> cut(const std::vector<std::string> &names, const std::vector<long> &lengths,
                           long at = 0)
{
    std::vector<disc_file> files;
    for (size_t i = 0; i < names.size(); i++) {
        files.push_back({names[i], at, at + lengths[i]});
        at += lengths[i];
    }
    return files;
}

// Where each file begins, plus a track's gap at the end of the file before.
std::vector<long> starts_of(const std::vector<disc_file> &files, const std::vector<long> &gaps)
{
    std::vector<long> starts;
    for (size_t i = 0; i < files.size(); i++)
        if (files[i].from >= 0)
            starts.push_back(files[i].from + (i < gaps.size() ? gaps[i] : 0));
    return starts;
}

std::vector<std::string> named(const char *prefix, std::vector<std::string> names, const char *ext)
{
    for (std::string &n : names)
        n = prefix + n + ext;
    return names;
}

void PrintTo(const disc_case &c, std::ostream *os)
{
    *os << c.sheet << " (variant " << c.variant << ")";
}

// The lead-out of a disc whose freedb ID gives its length in seconds.
long lasting(long seconds, long first_start = 0)
{
    return (seconds + (first_start + 150) / 75) * 75 - 150 + 30;
}

std::vector<disc_case> corpus()
{
    std::vector<disc_case> c;
    const std::string A21(21, 'A'), A13(13, 'A');
    c.push_back({"whipper-surferrosa.eac.single.cue", {{"Range.wav", 0, ROSA_END}}, 1, ROSA,
                 A21, ROSA_END, true});
    c.push_back({"whipper-surferrosa.eac.corrected.cue", rosa_files(true), 1, ROSA, A21,
                 ROSA_END, true});
    // Track 1's gap is a PREGAP here: silence, in no file.
    c.push_back({"morituri-surferrosa.eac.noncompliant.cue", rosa_files(false), 1, ROSA,
                 A21, ROSA_END, true});
    c.push_back({"whipper-cure.cue", {{"data.wav", 0, lasting(3173)}}, 1,
                 msfs({"00:00:00", "06:17:49", "10:14:60", "14:50:17", "17:20:47", "19:43:10",
                       "24:26:41", "28:56:09", "32:40:45", "36:02:04", "40:08:53", "44:00:27",
                       "48:36:71"}),
                 A13, lasting(3173), true});
    // The hidden track before track 1 was not ripped: 3:22:70 of PREGAP
    // (the drive's own reading of this disc, whipper's bloc.toc, agrees).
    long b = msf("03:22:70");
    std::vector<long> bloc = msfs({"00:00:00", "04:21:74", "08:02:12", "11:57:45", "15:18:72",
                                   "18:06:06", "21:35:32", "26:01:03", "29:36:25", "33:56:02",
                                   "37:48:69", "41:46:11", "45:56:33"});
    for (long &s : bloc)
        s += b;
    c.push_back({"whipper-bloc.cue", {{"data.wav", b, lasting(3040, b)}}, 1, bloc, A13,
                 lasting(3040, b), true});
    c.push_back({"whipper-breeders.cue", {{"data.wav", 0, lasting(2201)}}, 1,
                 msfs({"00:00:00", "02:15:26", "04:18:34", "07:44:22", "11:37:39", "13:53:38",
                       "16:32:49", "19:30:19", "22:16:27", "25:08:01", "27:46:64", "30:19:39",
                       "32:47:56"}),
                 A13, lasting(2201), true});
    c.push_back({"whipper-strokes-someday.eac.cue",
                 {{"The Strokes - Someday\\01 - The Strokes - Someday.wav", 1, lasting(186, 1)}}, 1,
                 {1}, "A", lasting(186, 1), true});
    {
        // Broken, with its 91 silent tracks of a second.
        std::vector<long> s = msfs({"00:00:00", "01:03:12", "04:49:67", "09:34:35", "11:30:50",
                                    "16:51:57"});
        for (int k = 0; k < 91; k++)
            s.push_back(msf("21:00:25") + 75L * k);
        s.push_back(msf("22:31:25"));
        s.push_back(msf("28:01:15"));
        c.push_back({"libcue-99-tracks.cue", {{"dummy.wav", 0, msf("32:00:00")}}, 1, s,
                     std::string(99, 'A'), msf("32:00:00")});
    }
    c.push_back({"whipper-track-single.cue", {{"track.flac", 0, 40}}, 1, {0, 2, 4, 6}, "AAAA", 40});
    c.push_back({"cuetools-amarok.cue", {{"Amarok.dummy", 0, lasting(3602, 12)}}, 1, {12}, "A",
                 lasting(3602, 12), true});
    c.push_back({"cuetools-no-mans-land.cue", {{"1.dummy", 0, msf("48:00:00")}}, 1,
                 msfs({"00:00:00", "03:58:08", "07:37:55", "11:02:39", "14:32:67", "18:10:02",
                       "21:23:48", "26:20:08", "30:07:73", "33:47:49", "37:21:18", "44:47:60"}),
                 std::string(12, 'A'), msf("48:00:00")});
    {
        // Gaps appended to the file before; a data track EAC did not read
        // begins after the session gap (11400 sectors) and takes the
        // shortest length a track may have.
        std::vector<disc_file> f = cut(
            named("Kanye West - 808s & Heartbreak\\Kanye West - ",
                  {"Say You Will", "Welcome To Heartbreak (Feat. Kid Cudi)", "Heartless",
                   "Amazing (Feat. Young Jeezy)", "Love Lockdown", "Paranoid (Feat. Mr. Hudson)",
                   "RoboCop", "Street Lights", "Bad News", "See You In My Nightmares (Feat. Lil Wayne)",
                   "Coldest Winter", "Pinocchio Story (Freestyle Live From Singapore)"},
                  ".wav"),
            {300, msf("04:22:70") + 40, 400, 500, msf("04:30:23") + 30, 600, msf("04:34:27") + 20,
             700, 800, msf("04:18:09") + 10, msf("02:44:25") + 5, msf("06:01:45")});
        std::vector<long> s = starts_of(f, {});
        long data = f.back().to + 11400;
        s.push_back(data);
        c.push_back({"whipper-kanye.cue", f, 1, s, "AAAAAAAAAAAAD", data + 300});
    }
    {
        // Gaps left out, Windows separators.
        std::vector<disc_file> f = cut(
            named("Kings of Leon - Only By the Night\\Kings of Leon - ",
                  {"Closer", "Crawl", "Sex On Fire", "Use Somebody", "Manhattan", "Revelry", "17",
                   "Notion", "I Want You", "Be Somebody", "Cold Desert"},
                  ".wav"),
            {20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30});
        c.push_back({"whipper-kings-separate.cue", f, 1, starts_of(f, {}), "AAAAAAAAAAA",
                     f.back().to});
        for (auto v : {disc_case::LOWER, disc_case::BOM_NO_END, disc_case::FROM_FIVE,
                       disc_case::FLAC, disc_case::RECASED}) {
            c.push_back(c.back());
            c.back().variant = v;
            c.back().first = v == disc_case::FROM_FIVE ? 5 : 1;
        }
    }
    {
        // A data track first, its file not there: it runs to where track
        // 2's gap begins in it; the gaps appended.
        long end = msf("31:29:42");
        std::vector<disc_file> f = {{"<Filename>.iso", -1, -1}};
        std::vector<disc_file> a = cut(named("", {"01", "02", "03", "04", "05"}, ".dummy"),
                                       {msf("05:53:14") + 7, msf("12:12:14") + 8,
                                        msf("05:32:04") + 9, msf("06:49:51") + 10, 500},
                                       end);
        f.insert(f.end(), a.begin(), a.end());
        std::vector<long> s = starts_of(f, {});
        s.insert(s.begin(), 0);
        c.push_back({"cuetools-headcandy.cue", f, 1, s, "DAAAAA", f.back().to});
    }
    {
        // A data track with no INDEX at all, its file not there: the
        // shortest track there is.
        std::vector<disc_file> f = {{"<Filename>.iso", -1, -1}};
        std::vector<disc_file> a = cut(named("", {"2", "3", "4", "5"}, ".dummy"),
                                       {msf("07:17:67") + 11, msf("06:36:38") + 12,
                                        msf("05:57:69") + 13, 200},
                                       300);
        f.insert(f.end(), a.begin(), a.end());
        std::vector<long> s = starts_of(f, {});
        s.insert(s.begin(), 0);
        c.push_back({"cuetools-circuitry.cue", f, 1, s, "DAAAA", f.back().to});
    }
    {
        // Two data tracks first, the second with INDEX 00 only.
        std::vector<disc_file> f = {{"<Filename>.iso", -1, -1}};
        std::vector<std::string> names;
        for (int n = 3; n <= 31; n++)
            names.push_back((n < 10 ? "0" : "") + std::to_string(n) + ".dummy");
        long at = msf("07:04:02") + 300 + 3;  // track 2 at its shortest, track 3's PREGAP
        std::vector<disc_file> a = cut(names, std::vector<long>(29, 40), at);
        f.insert(f.end(), a.begin(), a.end());
        std::vector<long> s = starts_of(f, {});
        s.insert(s.begin(), {0, msf("07:04:02")});
        c.push_back({"cuetools-cites-dor.cue", f, 1, s, "DD" + std::string(29, 'A'),
                     f.back().to});
    }
    return c;
}

}  // namespace

namespace {

std::string read_all(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string variant_of(std::string text, const disc_case &c)
{
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        size_t b = line.find_first_not_of(' ');
        std::string word = line.substr(b, line.find(' ', b) - b);
        if (c.variant == disc_case::LOWER) {
            for (size_t i = b; i < b + word.size(); i++)
                line[i] = static_cast<char>(tolower(line[i]));
            for (const char *w : {" AUDIO", " WAVE"})
                if (line.find(w) != std::string::npos && word != "TITLE")
                    for (size_t i = line.find(w) + 1; i < line.find(w) + strlen(w); i++)
                        line[i] = static_cast<char>(tolower(line[i]));
        }
        if (c.variant == disc_case::FROM_FIVE && word == "TRACK") {
            int n = atoi(line.c_str() + b + 6);
            char num[16];
            snprintf(num, sizeof num, "%02d", n + 4);
            line.replace(b + 6, 2, num);
        }
        out += line + "\n";
    }
    if (c.variant == disc_case::BOM_NO_END) {
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
            out.pop_back();
        out = "\xEF\xBB\xBF" + out;
    }
    return out;
}

// What the disc holds at a sector, where the files were given noise.
struct disc_model {
    const disc_case &c;
    std::vector<std::pair<long, long>> windows;

    explicit disc_model(const disc_case &c) : c(c)
    {
        for (long s : c.starts)
            windows.push_back({s - W, s + W});
        for (const disc_file &f : c.files)
            if (f.from >= 0) {
                windows.push_back({f.from - W, f.from + W});
                windows.push_back({f.to - W, f.to + W});
            }
    }

    bool noisy(long lba) const
    {
        bool in_file = std::any_of(c.files.begin(), c.files.end(), [lba](const disc_file &f) {
            return f.from >= 0 && lba >= f.from && lba < f.to;
        });
        return in_file && std::any_of(windows.begin(), windows.end(), [lba](auto &w) {
                   return lba >= w.first && lba < w.second;
               });
    }

    std::vector<int16_t> sectors(long from, long to) const
    {
        std::vector<int16_t> out;
        for (long lba = from; lba < to; lba++)
            for (long i = 0; i < SECTOR_FRAMES * 2; i++)
                out.push_back(noisy(lba) ? noise(lba, i) : 0);
        return out;
    }

    // Writes file f as the sheet's folder holds it: a WAVE file mostly
    // of holes, or a FLAC file.
    void write(const disc_file &f, const std::string &path) const
    {
        fs::create_directories(fs::path(path).parent_path());
        bool flac = path.size() > 5 && path.compare(path.size() - 5, 5, ".flac") == 0;
        SF_INFO info{};
        info.samplerate = SAMPLE_RATE;
        info.channels = 2;
        info.format = (flac ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | SF_FORMAT_PCM_16;
        SNDFILE *out = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_TRUE(out) << path << ": " << sf_strerror(nullptr);
        if (flac) {
            std::vector<int16_t> all = sectors(f.from, f.to);
            sf_writef_short(out, all.data(), static_cast<sf_count_t>(all.size() / 2));
            sf_close(out);
            return;
        }
        sf_close(out);
        // The header as libsndfile wrote it, then the samples, sparse.
        std::string head = read_all(path);
        int fd = open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        long long bytes = static_cast<long long>(f.to - f.from) * SECTOR_BYTES;
        uint32_t riff = static_cast<uint32_t>(head.size() - 8 + bytes), data = static_cast<uint32_t>(bytes);
        ASSERT_EQ(pwrite(fd, &riff, 4, 4), 4);
        ASSERT_EQ(pwrite(fd, &data, 4, static_cast<off_t>(head.size() - 4)), 4);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(head.size() + bytes)), 0);
        for (auto &w : windows) {
            long a = std::max(w.first, f.from), b = std::min(w.second, f.to);
            if (a >= b)
                continue;
            std::vector<int16_t> s = sectors(a, b);
            off_t at = static_cast<off_t>(head.size() + (a - f.from) * SECTOR_BYTES);
            ASSERT_EQ(pwrite(fd, s.data(), s.size() * 2, at), static_cast<ssize_t>(s.size() * 2));
        }
        close(fd);
    }
};

// A scratch folder, the WAV sink on the test's clock, reports caught.
class CueImage : public ::testing::Test {
protected:
    std::string dir, out, sheet;
    int h = -1;
    std::optional<stream_to_file> err;

    void SetUp() override
    {
        char tmpl[] = "/tmp/murbel-corpus-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir = tmpl;
        out = dir + "/heard.wav";
        device = "wav:" + out;
        drive_digital_settings s;
        s.audio_device = device.c_str();
        drive_set_digital(s);
        digital_reset_trays();
        audio_clock_use_manual(true);
        err.emplace(2, dir + "/stderr");
    }

    void TearDown() override
    {
        if (h >= 0)
            drive_close(h);
        audio_clock_use_manual(false);
        err.reset();
        fs::remove_all(dir);
    }

    std::string device;

    std::string reports()
    {
        fflush(stderr);
        return read_all(dir + "/stderr");
    }

    void make(const disc_case &c, const disc_model &m)
    {
        const char *root = getenv("MURBEL_SOURCE_DIR");
        ASSERT_NE(root, nullptr);
        std::string src = std::string(root) + "/tests/data/cue/" + c.sheet;
        std::string text = read_all(src);
        ASSERT_FALSE(text.empty()) << src;
        sheet = dir + "/" + c.sheet;
        std::ofstream(sheet, std::ios::binary) << variant_of(text, c);
        for (const disc_file &f : c.files) {
            if (f.from < 0)
                continue;
            std::string name = f.name;
            std::replace(name.begin(), name.end(), '\\', '/');
            if (c.variant == disc_case::FLAC)
                name = name.substr(0, name.size() - 4) + ".flac";
            if (c.variant == disc_case::RECASED)
                for (char &ch : name)
                    ch = static_cast<char>(toupper(ch));
            m.write(f, dir + "/" + name);
        }
    }

    void run_ms(long ms)
    {
        for (long done = 0; done < ms; done += 100) {
            ASSERT_TRUE(digital_settle(5000));
            audio_clock_advance_ms(std::min(100L, ms - done));
        }
        ASSERT_TRUE(digital_settle(5000));
    }

    void play(long from, long to)
    {
        msf_t s = msf_of(from), e = msf_of(to);
        ASSERT_EQ(drive_play_msf(h, &s, &e), 0) << from << ".." << to;
        ASSERT_TRUE(digital_settle(5000));
        run_ms((to - from) * 1000 / 75 + 300);
        drive_position pos{};
        ASSERT_EQ(drive_read_position(h, &pos), 0);
        EXPECT_EQ(pos.audio_status, CD_AS_PLAY_COMPLETED) << from << ".." << to;
    }

    static msf_t msf_of(long lba)
    {
        long f = lba + LBA_OFFSET;
        return {static_cast<uint8_t>(f / 4500), static_cast<uint8_t>(f / 75 % 60),
                static_cast<uint8_t>(f % 75)};
    }
};

class CueCorpus : public CueImage, public ::testing::WithParamInterface<disc_case> {};

long toc_lba(int h, uint8_t track, bool *data = nullptr)
{
    drive_toc_entry e{};
    EXPECT_EQ(drive_read_toc_entry(h, track, &e), 0) << int(track);
    if (data)
        *data = e.addr_ctl & 0x04;
    return (e.addr[1] * 60L + e.addr[2]) * 75 + e.addr[3] - LBA_OFFSET;
}

// The freedb disc ID of the table of contents, as ripping programs write
// it into the sheet.
uint32_t freedb_id(const std::vector<long> &starts, long leadout)
{
    uint32_t sum = 0;
    for (long s : starts)
        for (long secs = (s + 150) / 75; secs > 0; secs /= 10)
            sum += static_cast<uint32_t>(secs % 10);
    long total = (leadout + 150) / 75 - (starts[0] + 150) / 75;
    return (sum % 255) << 24 | static_cast<uint32_t>(total) << 8 | static_cast<uint32_t>(starts.size());
}

TEST_P(CueCorpus, TableOfContentsAndSoundAreTheDiscs)
{
    const disc_case &c = GetParam();
    disc_model m(c);
    make(c, m);
    h = drive_open(sheet.c_str());
    ASSERT_GE(h, 0) << read_all(dir + "/stderr");
    drive_toc_header hdr{};
    ASSERT_EQ(drive_read_toc_header(h, &hdr), 0);
    EXPECT_EQ(hdr.first, c.first);
    ASSERT_EQ(hdr.last - hdr.first + 1, static_cast<int>(c.starts.size()));
    std::vector<long> starts;
    for (int t = hdr.first; t <= hdr.last; t++) {
        bool data = false;
        starts.push_back(toc_lba(h, static_cast<uint8_t>(t), &data));
        EXPECT_EQ(starts.back(), c.starts[t - hdr.first]) << "track " << t;
        EXPECT_EQ(data, c.kinds[t - hdr.first] == 'D') << "track " << t;
    }
    long leadout = toc_lba(h, DRIVE_LEADOUT);
    EXPECT_EQ(leadout, c.leadout);
    if (c.discid) {
        std::string text = read_all(sheet);
        size_t at = text.find("REM DISCID ");
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(freedb_id(starts, leadout), std::stoul(text.substr(at + 11, 8), nullptr, 16));
    }

    // Next lands on each track's first sample; the files join seamlessly.
    std::vector<int16_t> want;
    auto probe = [&](long from, long to) {
        play(from, to);
        std::vector<int16_t> s = m.sectors(from, to);
        want.insert(want.end(), s.begin(), s.end());
    };
    for (size_t i = 0; i < c.starts.size(); i++)
        if (c.kinds[i] == 'A')
            probe(c.starts[i], c.starts[i] + W);
    for (size_t i = 1; i < c.files.size(); i++)
        if (c.files[i - 1].from >= 0 && c.files[i].from >= 0)
            probe(c.files[i].from - W, c.files[i].from + W);
    drive_close(h);
    h = -1;
    std::vector<int16_t> heard;
    std::string wav = read_all(out);
    for (size_t i = 44; i + 1 < wav.size(); i += 2)
        heard.push_back(static_cast<int16_t>(static_cast<uint8_t>(wav[i]) |
                                             static_cast<uint8_t>(wav[i + 1]) << 8));
    ASSERT_EQ(heard.size(), want.size());
    EXPECT_TRUE(heard == want) << "the sound differs";
    EXPECT_EQ(std::count(want.begin(), want.end(), 0) < static_cast<long>(want.size()), true)
        << "nothing but silence compared";
    std::string said = read_all(dir + "/stderr");
    EXPECT_EQ(said, "") << "a sheet that plays is read without a word";
}

std::string case_name(const ::testing::TestParamInfo<disc_case> &info)
{
    static const char *const variants[] = {"", "_lower", "_bom_no_end", "_from_five", "_flac",
                                           "_recased"};
    std::string name = info.param.sheet;
    name = name.substr(0, name.size() - 4) + variants[info.param.variant];
    for (char &ch : name)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Sheets, CueCorpus, ::testing::ValuesIn(corpus()), case_name);

}  // namespace

namespace {

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string raw_sectors(long count, long seed)
{
    std::string bytes(static_cast<size_t>(count) * SECTOR_BYTES, '\0');
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint16_t v = static_cast<uint16_t>(noise(seed + static_cast<long>(i / SECTOR_BYTES), i % SECTOR_BYTES));
        bytes[i] = static_cast<char>(v & 0xff);
        bytes[i + 1] = static_cast<char>(v >> 8);
    }
    return bytes;
}

// A refused sheet: one line, the true reason, once for each version of
// the sheet; and nothing a sheet names may hold the caller up.
TEST_F(CueImage, RefusedSheetsGetOneTrueLine)
{
    ASSERT_EQ(mkfifo((dir + "/pipe.wav").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo.cue").c_str(), 0600), 0);
    fs::create_directory(dir + "/folder.cue");
    fs::create_directory(dir + "/folder.wav");
    write_file(dir + "/x.bin", raw_sectors(10, 0));
    write_file(dir + "/Twin.WAV", "");
    write_file(dir + "/twin.Wav", "");
    struct {
        const char *name, *sheet, *says;
    } cases[] = {
        {"fifo.cue", nullptr, "fifo.cue: not a regular file"},
        {"folder.cue", nullptr, "folder.cue: a directory"},
        {"pipe.cue", "FILE \"pipe.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "pipe.wav: not a regular file"},
        {"dir.cue", "FILE \"folder.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "folder.wav: a directory"},
        // The missing line end is no fault: the file is.
        {"noend.cue", "FILE \"gone.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00",
         "gone.wav: No such file or directory"},
        // Two names differ only in case: neither is guessed.
        {"twins.cue", "FILE \"twin.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "twin.wav: No such file or directory"},
        // Each sheet's own line number, whatever was read before it.
        {"late.cue", "REM one\nREM two\nREM three\nFILE \"x.bin\" BINARY\nGARBAGE HERE\n",
         "not a cue sheet (line 5: \"GARBAGE\")"},
        {"early.cue", "FILE \"x.bin\" BINARY\nGARBAGE\n", "not a cue sheet (line 2: \"GARBAGE\")"},
        // Out of order, in libcue's words.
        {"order.cue", "TRACK 01 AUDIO\nFILE \"x.bin\" BINARY\n  INDEX 01 00:00:00\n",
         "not a cue sheet (no file specified for track)"},
        {"short.cue", "FILE \"x.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:50\n",
         "x.bin ends before it starts"},
        {"data.cue", "FILE \"x.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                     "FILE \"nodata.bin\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
         "nodata.bin: No such file or directory"},
    };
    for (auto &c : cases) {
        std::string path = dir + "/" + c.name;
        if (c.sheet)
            write_file(path, c.sheet);
        size_t before = reports().size();
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(drive_open(path.c_str()), -1) << c.name;
        EXPECT_EQ(drive_open(path.c_str()), -1) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2)) << c.name;
        std::string said = reports().substr(before);
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << c.name << ": " << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << c.name << ": " << said;
    }
    // A new version of a refused sheet is told of again, once.
    std::string path = dir + "/early.cue";
    write_file(path, "REM fixed?\nFILE \"x.bin\" BINARY\nGARBAGE\n");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += 10;
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    size_t before = reports().size();
    EXPECT_EQ(drive_open(path.c_str()), -1);
    EXPECT_EQ(drive_open(path.c_str()), -1);
    std::string said = reports().substr(before);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("line 3: \"GARBAGE\""), std::string::npos) << said;
}

// PREGAP is silence before a track's INDEX 00, POSTGAP silence after the
// track; FLAGS PRE is carried to the table of contents.
TEST_F(CueImage, PregapPostgapAndPreEmphasisAsTheRulesPlaceThem)
{
    write_file(dir + "/a.bin", raw_sectors(200, 1000));
    write_file(dir + "/a.cue", "FILE \"a.bin\" BINARY\n"
                               "  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n    POSTGAP 00:00:10\n"
                               "  TRACK 04 AUDIO\n    FLAGS DCP PRE\n    PREGAP 00:00:20\n"
                               "    INDEX 00 00:01:00\n    INDEX 01 00:01:30\n");
    audio_source src;
    std::string why;
    ASSERT_TRUE(image_source_open(dir + "/a.cue", &src, &why)) << why;
    EXPECT_EQ(src.toc.first, 3);
    EXPECT_EQ(src.toc.starts, (std::vector<long>{0, 135}));
    EXPECT_EQ(src.toc.gaps, (std::vector<long>{0, 85}));
    EXPECT_EQ(src.toc.leadout, 230);
    EXPECT_EQ(src.toc.pre, (std::vector<bool>{false, true}));
    // Disc sector -> file sector (-1: silence).
    struct {
        long lba, file_sector;
    } want[] = {{74, 74}, {75, -1}, {104, -1}, {105, 75}, {134, 104}, {135, 105}, {229, 199}};
    std::string file = read_all(dir + "/a.bin");
    for (auto &w : want) {
        std::vector<int16_t> got(SECTOR_FRAMES * 2);
        ASSERT_EQ(src.ops->read(src.impl, w.lba, 1, got.data()), 0);
        std::vector<int16_t> expect(SECTOR_FRAMES * 2, 0);
        if (w.file_sector >= 0)
            memcpy(expect.data(), file.data() + w.file_sector * SECTOR_BYTES, SECTOR_BYTES);
        EXPECT_TRUE(got == expect) << "disc sector " << w.lba;
    }
    src.ops->close(src.impl);
}

// The audio and the names read the sheet once, in a child that keeps
// libcue's words off the terminal.
// A track flagged PRE is heard de-emphasised, the others as they are;
// with the resource off, every track is bit-exact.
TEST_F(CueImage, PreEmphasisedTracksAreHeardDeemphasised)
{
    write_file(dir + "/a.bin", raw_sectors(40, 77));
    write_file(dir + "/a.cue", "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                               "  TRACK 02 AUDIO\n    FLAGS PRE\n    INDEX 01 00:00:20\n");
    std::string bin = read_all(dir + "/a.bin");
    std::vector<int16_t> disc(bin.size() / 2);
    memcpy(disc.data(), bin.data(), bin.size());
    for (bool on : {true, false}) {
        SCOPED_TRACE(on ? "deemphasis on" : "deemphasis off");
        fs::remove(out);
        drive_digital_settings settings;
        settings.audio_device = device.c_str();
        settings.deemphasis = on;
        drive_set_digital(settings);
        h = drive_open((dir + "/a.cue").c_str());
        ASSERT_GE(h, 0) << reports();
        play(0, 40);
        drive_close(h);
        h = -1;
        std::string wav = read_all(out);
        ASSERT_EQ(wav.size(), 44 + bin.size());
        std::vector<int16_t> heard(disc.size());
        memcpy(heard.data(), wav.data() + 44, bin.size());
        std::vector<int16_t> want = disc;
        if (on) {
            deemphasis d;
            deemphasis_reset(&d);
            deemphasis_run(&d, want.data() + 20 * SECTOR_FRAMES * 2, 20 * SECTOR_FRAMES);
        }
        const size_t split = 20 * SECTOR_FRAMES * 2;
        EXPECT_TRUE(std::equal(heard.begin(), heard.begin() + split, disc.begin())) << "track 1 changed";
        EXPECT_TRUE(heard == want) << "track 2 not as the filter makes it";
        EXPECT_EQ(std::equal(heard.begin() + split, heard.end(), disc.begin() + split), !on);
    }
}

TEST_F(CueImage, OneReadingOfTheSheetServesAudioAndNames)
{
    std::string text = "\xEF\xBB\xBFTITLE \"Album\"\nPERFORMER \"Band\"\nFILE \"a.bin\" BINARY\n"
                       "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00";
    cue_sheet first, again;
    EXPECT_EQ(cue_read(text, &first), "");
    ASSERT_EQ(first.tracks.size(), 1u);
    EXPECT_EQ(first.title, "Album");
    EXPECT_EQ(first.tracks[0].title, "One");
    EXPECT_EQ(cue_read(text, &again), "");
    EXPECT_EQ(again.tracks[0].title, "One");
    EXPECT_EQ(reports(), "") << "nothing on standard error";
    // Each new text is a child of its own, reaped, its pipe closed.
    auto fds = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    long before = fds();
    std::string sheet = read_all(std::string(getenv("MURBEL_SOURCE_DIR")) +
                                 "/tests/data/cue/whipper-kanye.cue");
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; i++) {
        cue_sheet s;
        EXPECT_EQ(cue_read(sheet + "REM " + std::to_string(i) + "\n", &s), "");
        EXPECT_EQ(s.tracks.size(), 13u);
    }
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    RecordProperty("microseconds_per_read", std::to_string(us.count() / 50));
    EXPECT_LT(us.count() / 50, 100000) << "a reading takes a moment, not a tenth of a second";
    EXPECT_EQ(fds(), before);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child left behind";
}

}  // namespace

namespace {

// A rip re-encoded after the sheet was written: the file that is there
// plays, and the caller is told which one that was.
TEST_F(CueImage, AReencodedFileIsPlayedAndNamed)
{
    disc_case c{"", {{"x.flac", 0, 10}}, 1, {0}, "A", 10};
    disc_model m(c);
    m.write(c.files[0], dir + "/x.flac");
    write_file(dir + "/x.cue", "FILE \"x.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    audio_source src;
    std::string why;
    std::vector<std::string> notes;
    ASSERT_TRUE(image_source_open(dir + "/x.cue", &src, &why, &notes)) << why;
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("\"x.wav\" is " + dir + "/x.flac"), std::string::npos) << notes[0];
    std::vector<int16_t> got(SECTOR_FRAMES * 2);
    ASSERT_EQ(src.ops->read(src.impl, 0, 1, got.data()), 0);
    EXPECT_TRUE(got == m.sectors(0, 1));
    src.ops->close(src.impl);
}

}  // namespace

namespace {

// Every mode of the format, and the made-up ones ripping programs write
// for a data track they did not read.
TEST(CueSheet, ModesAsTheFormatDefinesThem)
{
    struct {
        const char *mode;
        bool data;
        int sector_bytes;
    } cases[] = {
        {"AUDIO", false, 2352},      {"audio", false, 2352},      {"CDG", false, 2448},
        {"MODE1/2048", true, 2048},  {"MODE1/2352", true, 2352},  {"MODE2/2336", true, 2336},
        {"MODE2/2324", true, 2324},  {"CDI/2336", true, 2336},    {"CDI/2352", true, 2352},
        {"MODEx/2xxx", true, 2352},  {"mode1/2352", true, 2352},
    };
    for (auto &c : cases) {
        cue_sheet s;
        std::string sheet = std::string("FILE \"a.bin\" BINARY\n  TRACK 01 ") + c.mode +
                            "\n    INDEX 01 00:00:00\n";
        ASSERT_EQ(cue_read(sheet, &s), "") << c.mode;
        ASSERT_EQ(s.tracks.size(), 1u);
        EXPECT_EQ(s.tracks[0].data, c.data) << c.mode;
        EXPECT_EQ(s.tracks[0].sector_bytes, c.sector_bytes) << c.mode;
    }
}

// CD+G sectors carry 96 bytes of graphics after the audio.
TEST_F(CueImage, KaraokeSectorsPlayTheirAudio)
{
    std::string audio = raw_sectors(4, 77), file;
    for (int k = 0; k < 4; k++)
        file += audio.substr(k * SECTOR_BYTES, SECTOR_BYTES) + std::string(96, '\x3f');
    write_file(dir + "/k.bin", file);
    write_file(dir + "/k.cue", "FILE \"k.bin\" BINARY\n  TRACK 01 CDG\n    INDEX 01 00:00:00\n");
    audio_source src;
    std::string why;
    ASSERT_TRUE(image_source_open(dir + "/k.cue", &src, &why)) << why;
    EXPECT_EQ(src.toc.leadout, 4);
    std::vector<int16_t> got(4 * SECTOR_FRAMES * 2);
    ASSERT_EQ(src.ops->read(src.impl, 0, 4, got.data()), 0);
    EXPECT_EQ(memcmp(got.data(), audio.data(), audio.size()), 0);
    src.ops->close(src.impl);
}

}  // namespace
