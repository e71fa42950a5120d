// Writes disc images: a cue sheet and the audio it names.
//
//   mkimage demo DIR
//       The demo: a dozen short tracks of chords, one WAVE file.
//   mkimage noise DIR NAME [-layout bin|wave] [-seed N] [-data SECONDS]
//                 TRACK...
//       A test disc of seeded noise under a quiet tone per track.  No
//       stretch of it repeats, so any stretch of a recording is found at
//       exactly one place.  Each TRACK is SECONDS, or SECONDS/pregap:GAP
//       (silence the reader makes up, not in the file) or
//       SECONDS/index0:GAP (a gap stored in the file before INDEX 01).
//       Besides the sheet and its files it writes NAME.pcm, the disc as a
//       drive reads it (16-bit little-endian stereo from the first audio
//       sector to the lead-out, gaps included), and NAME.toc, the start of
//       every track and the lead-out ("track N MM:SS:FF", "leadout ...").
//
// Lengths are rounded to whole sectors (1/75 s).
#include <sndfile.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int RATE = 44100;
constexpr int SECTOR_FRAMES = 588;  // one 2352-byte sector of stereo 16-bit
constexpr int SECTORS_PER_SECOND = 75;
constexpr int LEAD_IN = 150;        // MSF 00:02:00 is the first sector

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "mkimage: %s\n", what.c_str());
    std::exit(1);
}

std::string msf(long sector)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", sector / 4500, sector / 75 % 60, sector % 75);
    return buf;
}

long sectors_of(double seconds)
{
    if (!(seconds >= 0) || seconds > 4500)
        die("bad length " + std::to_string(seconds));
    return std::lround(seconds * SECTORS_PER_SECOND);
}

uint64_t mix(uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

int16_t clip(double v)
{
    return static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
}

struct file_out {
    FILE *f = nullptr;
    SNDFILE *snd = nullptr;
    std::string path;
};

void open_out(file_out &out, const std::string &path, bool wave)
{
    out.path = path;
    if (wave) {
        SF_INFO info{};
        info.samplerate = RATE;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        out.snd = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!out.snd)
            die(path + ": " + sf_strerror(nullptr));
    } else {
        out.f = std::fopen(path.c_str(), "wb");
        if (!out.f)
            die(path + ": " + std::strerror(errno));
    }
}

void write_out(file_out &out, const std::vector<int16_t> &frames)
{
    size_t n = frames.size() / 2;
    if (out.snd) {
        if (sf_writef_short(out.snd, frames.data(), n) != static_cast<sf_count_t>(n))
            die(out.path + ": " + sf_strerror(out.snd));
    } else if (std::fwrite(frames.data(), 4, n, out.f) != n) {
        die(out.path + ": " + std::strerror(errno));
    }
}

void close_out(file_out &out)
{
    if (out.snd && sf_close(out.snd) != 0)
        die(out.path + ": cannot finish the file");
    if (out.f && std::fclose(out.f) != 0)
        die(out.path + ": " + std::strerror(errno));
    out = file_out{};
}

void write_text(const std::string &path, const std::string &text)
{
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f || std::fputs(text.c_str(), f) < 0 || std::fclose(f) != 0)
        die(path + ": " + std::strerror(errno));
}

// ---- test discs --------------------------------------------------------------

enum class gap_kind { none, pregap, index0 };

struct track_spec {
    long sectors = 0;
    gap_kind gap = gap_kind::none;
    long gap_sectors = 0;
};

track_spec parse_track(const std::string &arg)
{
    track_spec t;
    size_t slash = arg.find('/');
    char *end = nullptr;
    t.sectors = sectors_of(std::strtod(arg.c_str(), &end));
    if (t.sectors == 0 || (slash == std::string::npos ? *end != '\0' : end != arg.c_str() + slash))
        die("bad track \"" + arg + "\"");
    if (slash != std::string::npos) {
        std::string rest = arg.substr(slash + 1);
        size_t colon = rest.find(':');
        std::string kind = rest.substr(0, colon);
        if (kind == "pregap")
            t.gap = gap_kind::pregap;
        else if (kind == "index0")
            t.gap = gap_kind::index0;
        else
            die("bad gap in \"" + arg + "\"");
        if (colon == std::string::npos)
            die("no gap length in \"" + arg + "\"");
        t.gap_sectors = sectors_of(std::strtod(rest.c_str() + colon + 1, &end));
        if (*end != '\0' || t.gap_sectors == 0)
            die("bad gap length in \"" + arg + "\"");
    }
    return t;
}

// The audio of absolute frame n (counted from the first sector) of track
// t: a quiet tone that tells the tracks apart by ear, under noise drawn
// from the frame's number, never both channels zero (silence is what the
// comparison skips).
void noise_frame(uint64_t seed, long n, int t, int16_t *out)
{
    double tone = 3000.0 * std::sin(2 * M_PI * (220.0 * std::pow(2.0, t / 4.0)) * n / RATE);
    uint64_t r = mix(seed ^ mix(static_cast<uint64_t>(n)));
    out[0] = clip(tone + static_cast<int16_t>(r) / 4);
    out[1] = clip(tone + static_cast<int16_t>(r >> 16) / 4);
    if (out[0] == 0 && out[1] == 0)
        out[0] = 1;
}

int make_noise(int argc, char **argv)
{
    if (argc < 5)
        die("usage: mkimage noise DIR NAME [-layout bin|wave] [-seed N] [-data SECONDS] TRACK...");
    std::string dir = argv[2], name = argv[3];
    bool wave = false;
    uint64_t seed = 1;
    long data_sectors = 0;
    std::vector<track_spec> tracks;
    for (int i = 4; i < argc; i++) {
        std::string a = argv[i];
        if (a == "-layout" && i + 1 < argc) {
            std::string l = argv[++i];
            if (l != "bin" && l != "wave")
                die("bad layout " + l);
            wave = l == "wave";
        } else if (a == "-seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 0);
        } else if (a == "-data" && i + 1 < argc) {
            data_sectors = sectors_of(std::atof(argv[++i]));
        } else {
            tracks.push_back(parse_track(a));
        }
    }
    if (tracks.empty() || tracks.size() + (data_sectors > 0) > 99)
        die("between 1 and 99 tracks");
    if (tracks[0].gap != gap_kind::none)
        die("the first track starts at the first sector");
    mkdir(dir.c_str(), 0777);
    std::string base = dir + "/" + name;

    std::string cue = "REM made by mkimage noise, seed " + std::to_string(seed) + "\n";
    cue += "TITLE \"Noise " + name + "\"\n";
    std::string toc;
    file_out pcm, out;
    open_out(pcm, base + ".pcm", false);
    if (!wave) {
        open_out(out, base + ".bin", false);
        cue += "FILE \"" + name + ".bin\" BINARY\n";
    }
    long abs_sector = 0;   // the disc's next sector, from the first
    long file_sector = 0;  // the next sector of the current file
    std::vector<int16_t> buf;
    auto emit = [&](long sectors, int t, bool in_file) {
        buf.assign(static_cast<size_t>(sectors) * SECTOR_FRAMES * 2, 0);
        if (t >= 0)
            for (long f = 0; f < sectors * SECTOR_FRAMES; f++)
                noise_frame(seed, abs_sector * SECTOR_FRAMES + f, t, &buf[2 * f]);
        write_out(pcm, buf);
        if (in_file) {
            write_out(out, buf);
            file_sector += sectors;
        }
        abs_sector += sectors;
    };
    for (size_t i = 0; i < tracks.size(); i++) {
        const track_spec &t = tracks[i];
        char num[32];
        std::snprintf(num, sizeof num, "%02zu", i + 1);
        if (wave) {
            close_out(out);
            std::string file = name + "-" + num + ".wav";
            open_out(out, dir + "/" + file, true);
            file_sector = 0;
            cue += "FILE \"" + file + "\" WAVE\n";
        }
        cue += std::string("  TRACK ") + num + " AUDIO\n";
        if (i == 0)
            cue += "    TITLE \"Noise one\"\n";
        if (t.gap == gap_kind::pregap) {
            cue += "    PREGAP " + msf(t.gap_sectors) + "\n";
            emit(t.gap_sectors, -1, false);
        } else if (t.gap == gap_kind::index0) {
            cue += "    INDEX 00 " + msf(file_sector) + "\n";
            emit(t.gap_sectors, static_cast<int>(i), true);
        }
        cue += "    INDEX 01 " + msf(file_sector) + "\n";
        toc += "track " + std::to_string(i + 1) + " " + msf(abs_sector + LEAD_IN) + "\n";
        emit(t.sectors, static_cast<int>(i), true);
    }
    if (data_sectors > 0) {
        // A data track: bytes that are no audio, in a file of its own.
        close_out(out);
        std::string file = name + "-data.bin";
        open_out(out, dir + "/" + file, false);
        file_sector = 0;
        char num[32];
        std::snprintf(num, sizeof num, "%02zu", tracks.size() + 1);
        cue += "FILE \"" + file + "\" BINARY\n  TRACK " + num + " MODE1/2352\n    INDEX 01 00:00:00\n";
        toc += "track " + std::to_string(tracks.size() + 1) + " " + msf(abs_sector + LEAD_IN) + " data\n";
        buf.resize(static_cast<size_t>(data_sectors) * SECTOR_FRAMES * 2);
        for (size_t k = 0; k < buf.size(); k++)
            buf[k] = static_cast<int16_t>(mix(seed + 7 * k));
        write_out(pcm, buf);
        write_out(out, buf);
        abs_sector += data_sectors;
    }
    close_out(out);
    close_out(pcm);
    toc += "leadout " + msf(abs_sector + LEAD_IN) + "\n";
    write_text(base + ".cue", cue);
    write_text(base + ".toc", toc);
    std::fputs(toc.c_str(), stdout);
    return 0;
}

// ---- the demo -----------------------------------------------------------------

// One note: a sine with two soft overtones, a quick rise and a long fall.
void add_note(std::vector<float> &mix_l, std::vector<float> &mix_r, long at, double freq,
              double seconds, double gain, double pan)
{
    long len = static_cast<long>(seconds * RATE);
    for (long n = 0; n < len && at + n < static_cast<long>(mix_l.size()); n++) {
        double t = static_cast<double>(n) / RATE;
        double env = std::fmin(1.0, t / 0.04) * std::exp(-3.0 * t / seconds) *
                     std::fmin(1.0, (seconds - t) / 0.05);
        double ph = 2 * M_PI * freq * t;
        double v = gain * env * (std::sin(ph) + 0.3 * std::sin(2 * ph) + 0.1 * std::sin(3 * ph));
        mix_l[at + n] += static_cast<float>(v * (1 - pan));
        mix_r[at + n] += static_cast<float>(v * pan);
    }
}

double note_freq(int semitones_from_a4) { return 440.0 * std::pow(2.0, semitones_from_a4 / 12.0); }

int make_demo(int argc, char **argv)
{
    if (argc != 3)
        die("usage: mkimage demo DIR");
    std::string dir = argv[2];
    mkdir(dir.c_str(), 0777);
    // Twelve keys, each track a four-chord round in its own key and pace.
    static const char *const names[12] = {
        "Morning in C", "Quiet G", "D Lullaby", "Walk in A", "E Evening", "B Bells",
        "F Sharp Dusk", "D Flat Drift", "A Flat Air", "E Flat Echoes", "B Flat Breeze", "F Farewell"};
    static const int roots[12] = {-9, -2, -7, 0, -5, 2, -3, 4, -1, -6, 1, -4};
    static const int progression[4][3] = {{0, 4, 7}, {9, 12, 16}, {5, 9, 12}, {7, 11, 14}};
    std::string cue = "REM made by mkimage demo\nPERFORMER \"Murbel\"\nTITLE \"Murbel Demo Tones\"\n"
                      "FILE \"demo.wav\" WAVE\n";
    file_out out;
    open_out(out, dir + "/demo.wav", true);
    long file_sector = 0;
    std::vector<int16_t> frames;
    for (int t = 0; t < 12; t++) {
        long sectors = sectors_of(20 + t % 4 * 2.5);
        long len = sectors * SECTOR_FRAMES;
        std::vector<float> l(len), r(len);
        double beat = 0.30 + 0.04 * (t % 3);
        int steps = static_cast<int>((len / static_cast<double>(RATE) - 1.5) / beat);
        for (int s = 0; s < steps; s++) {
            const int *chord = progression[s / 8 % 4];
            long at = static_cast<long>(s * beat * RATE);
            static const int pattern[8] = {0, 1, 2, 3, 2, 1, 0, 1};  // up and down the chord
            int voice = pattern[s % 8];
            int tone = roots[t] + (voice == 3 ? chord[0] + 12 : chord[voice]);
            add_note(l, r, at, note_freq(tone), beat * 3, 0.4, 0.3 + 0.2 * (voice % 3));
            if (s % 8 == 0)  // the chord's root, low and long, at each change
                add_note(l, r, at, note_freq(roots[t] + chord[0] - 12), beat * 8, 0.35, 0.5);
        }
        frames.resize(2 * len);
        for (long n = 0; n < len; n++) {
            double fade = std::fmin(1.0, (len - n) / (0.8 * RATE));
            frames[2 * n] = clip(32767.0 * 0.9 * std::tanh(l[n] * fade));
            frames[2 * n + 1] = clip(32767.0 * 0.9 * std::tanh(r[n] * fade));
        }
        write_out(out, frames);
        char head[128];
        std::snprintf(head, sizeof head, "  TRACK %02d AUDIO\n    TITLE \"%s\"\n    INDEX 01 ", t + 1, names[t]);
        cue += head + msf(file_sector) + "\n";
        file_sector += sectors;
    }
    close_out(out);
    write_text(dir + "/demo.cue", cue);
    std::printf("%s/demo.cue: 12 tracks, %s\n", dir.c_str(), msf(file_sector).c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "demo") == 0)
        return make_demo(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "noise") == 0)
        return make_noise(argc, argv);
    die("usage: mkimage demo DIR | mkimage noise DIR NAME [options] TRACK...");
}
