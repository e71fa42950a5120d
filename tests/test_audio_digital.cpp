// Disc images played through the drive layer's front door into the WAV
// sink, whose clock the tests move: what the file holds is what was heard.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>

#include "app/app.h"
#include "support/redirect.h"
#include "audio/audio.h"
#include "drive/digital.h"
#include "drive/drive.h"

// libcue keeps what it built when a sheet fails to parse; that is its
// leak, not ours.  (Read by the leak checker of sanitizer builds only.)
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libcue.so\n";
}

namespace {

// Three tracks; track 2 has a pregap of 20 sectors in its data (INDEX 00).
constexpr long T1 = 100, GAP2 = 20, T2 = 80, T3 = 60;  // sectors
constexpr long TOTAL = T1 + GAP2 + T2 + T3;

// Seeded noise that never repeats over the disc: each stretch of a
// recording is found at exactly one place.
std::vector<int16_t> make_disc(long sectors)
{
    std::vector<int16_t> s(static_cast<size_t>(sectors) * SECTOR_FRAMES * 2);
    uint64_t x = 0x9E3779B97F4A7C15ULL;
    for (int16_t &v : s) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        v = static_cast<int16_t>(x >> 40);
    }
    return s;
}

enum layout { ONE_BINARY, ONE_MOTOROLA, WAVE_PER_TRACK };

std::string bytes_of(const int16_t *s, long samples, bool big)
{
    std::string out(static_cast<size_t>(samples) * 2, '\0');
    for (long i = 0; i < samples; i++) {
        uint16_t v = static_cast<uint16_t>(s[i]);
        out[2 * i + (big ? 1 : 0)] = static_cast<char>(v & 0xff);
        out[2 * i + (big ? 0 : 1)] = static_cast<char>(v >> 8);
    }
    return out;
}

std::string wav_of(const int16_t *s, long frames)
{
    std::string data = bytes_of(s, frames * 2, false);
    auto le32 = [](uint32_t v) {
        std::string b(4, '\0');
        for (int i = 0; i < 4; i++)
            b[i] = static_cast<char>(v >> (8 * i));
        return b;
    };
    std::string h = "RIFF" + le32(36 + static_cast<uint32_t>(data.size())) + "WAVEfmt " + le32(16);
    h += std::string("\x01\x00\x02\x00", 4) + le32(44100) + le32(44100 * 4);
    h += std::string("\x04\x00\x10\x00", 4) + "data" + le32(static_cast<uint32_t>(data.size()));
    return h + data;
}

// The samples of a WAV file this sink wrote.
std::vector<int16_t> read_wav(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> s;
    for (size_t i = 44; i + 1 < all.size(); i += 2)
        s.push_back(static_cast<int16_t>(static_cast<uint8_t>(all[i]) |
                                         static_cast<uint8_t>(all[i + 1]) << 8));
    return s;
}

msf_t msf(long lba)
{
    long f = lba + LBA_OFFSET;
    return {static_cast<uint8_t>(f / 4500), static_cast<uint8_t>(f / 75 % 60),
            static_cast<uint8_t>(f % 75)};
}

long lba_of(const msf_t &m)
{
    return (m.minute * 60L + m.second) * 75 + m.frame - LBA_OFFSET;
}

class Digital : public ::testing::TestWithParam<layout> {
protected:
    std::string dir, cue, out;
    std::vector<int16_t> disc = make_disc(TOTAL);
    int h = -1;
    std::string err_path;
    std::optional<stream_to_file> err;

    void SetUp() override
    {
        char tmpl[] = "/tmp/murbel-audio-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir = tmpl;
        out = dir + "/out.wav";
        drive_digital_settings s;
        s.audio_device = nullptr;
        audio_device = "wav:" + out;
        s.audio_device = audio_device.c_str();
        drive_set_digital(s);
        digital_reset_trays();
        audio_clock_use_manual(true);
        // Reports go to a file the test reads.
        err_path = dir + "/stderr";
        err.emplace(2, err_path);
    }

    void TearDown() override
    {
        if (h >= 0)
            drive_close(h);
        audio_clock_use_manual(false);
        err.reset();
        std::filesystem::remove_all(dir);
    }

    std::string audio_device;

    void write(const std::string &name, const std::string &text)
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }

    std::string reports()
    {
        fflush(stderr);
        std::ifstream in(err_path);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    const int16_t *at(long lba) { return disc.data() + lba * SECTOR_FRAMES * 2; }

    // The disc in the layout asked for; track 3 may be a data track.
    void make_image(layout l, bool data3 = false)
    {
        const char *mode3 = data3 ? "MODE1/2352" : "AUDIO";
        std::ostringstream c;
        if (l == WAVE_PER_TRACK) {
            write("1.wav", wav_of(at(0), T1 * SECTOR_FRAMES));
            write("2.wav", wav_of(at(T1), (GAP2 + T2) * SECTOR_FRAMES));
            c << "FILE \"1.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
              << "FILE \"2.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:00:20\n";
            write("3.bin", bytes_of(at(T1 + GAP2 + T2), T3 * SECTOR_FRAMES * 2, false));
            c << "FILE \"3.bin\" BINARY\n  TRACK 03 " << mode3 << "\n    INDEX 01 00:00:00\n";
        } else {
            bool big = l == ONE_MOTOROLA;
            write("disc.bin", bytes_of(disc.data(), static_cast<long>(disc.size()), big));
            c << "REM made by the test\nTITLE \"Noise\"\nFILE \"disc.bin\" "
              << (big ? "MOTOROLA" : "BINARY") << "\n"
              << "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
              << "  TRACK 02 AUDIO\n    INDEX 00 00:01:25\n    INDEX 01 00:01:45\n"
              << "  TRACK 03 " << mode3 << "\n    INDEX 01 00:02:50\n";
        }
        write("disc.cue", c.str());
        cue = dir + "/disc.cue";
    }

    void open_image(layout l, bool data3 = false)
    {
        make_image(l, data3);
        h = drive_open(cue.c_str());
        ASSERT_GE(h, 0) << strerror(errno) << reports();
    }

    // The clock moves in steps no longer than the sink's buffer, and each
    // step is played out before the next.
    void run_ms(long ms)
    {
        for (long done = 0; done < ms; done += 100) {
            ASSERT_TRUE(settle());
            audio_clock_advance_ms(std::min(100L, ms - done));
        }
        ASSERT_TRUE(settle());
    }

    bool settle();

    drive_position where()
    {
        drive_position pos{};
        EXPECT_EQ(drive_read_position(h, &pos), 0);
        return pos;
    }

    int play_at_once(long from, long to)
    {
        msf_t s = msf(from), e = msf(to);
        return drive_play_msf(h, &s, &e);
    }

    // A play, once it has reached the device: the clock then counts what
    // is heard from the range's first frame.
    int play(long from, long to)
    {
        int r = play_at_once(from, to);
        if (r == 0) {
            EXPECT_TRUE(settle());
        }
        return r;
    }

    // Closes the drive, which closes the WAV file (in a thread of its
    // own), and returns what was heard.
    std::vector<int16_t> heard()
    {
        drive_close(h);
        h = -1;
        EXPECT_TRUE(audio_wait_threads(5000));
        return read_wav(out);
    }

    std::vector<int16_t> expected(long from, long to)
    {
        return std::vector<int16_t>(at(from), at(to));
    }
};

// The engine of the open drive is not reachable from here; settling is
// asked of every engine through the test hook of the image backend.
bool Digital::settle()
{
    return digital_settle(5000);
}

TEST_P(Digital, TableOfContentsFromTheImage)
{
    open_image(GetParam());
    drive_toc_header hdr{};
    ASSERT_EQ(drive_read_toc_header(h, &hdr), 0);
    EXPECT_EQ(hdr.first, 1);
    EXPECT_EQ(hdr.last, 3);
    struct {
        uint8_t track;
        long lba;
    } want[] = {{1, 0}, {2, T1 + GAP2}, {3, T1 + GAP2 + T2}, {DRIVE_LEADOUT, TOTAL}};
    for (auto &w : want) {
        drive_toc_entry e{};
        ASSERT_EQ(drive_read_toc_entry(h, w.track, &e), 0);
        msf_t m{e.addr[1], e.addr[2], e.addr[3]};
        EXPECT_EQ(lba_of(m), w.lba) << "track " << int(w.track);
    }
}

TEST_P(Digital, PlaysExactlyTheRangeAcrossTrackBoundaries)
{
    open_image(GetParam());
    // From the middle of track 1 through the pregap into track 3.
    long from = 37, to = T1 + GAP2 + T2 + 5;
    ASSERT_EQ(play(from, to), 0);
    drive_position pos = where();
    EXPECT_EQ(pos.audio_status, CD_AS_PLAY_IN_PROGRESS);
    EXPECT_EQ(pos.track, 1);
    run_ms(1000);  // 75 sectors
    pos = where();
    EXPECT_EQ(pos.track, 2) << "the pregap counts as track 2";
    EXPECT_EQ(lba_of(pos.absolute), from + 75);
    run_ms((to - from) * 1000 / 75 + 1000);
    EXPECT_EQ(digital_underruns(), 0);
    EXPECT_EQ(where().audio_status, CD_AS_PLAY_COMPLETED);
    EXPECT_EQ(where().audio_status, CD_AS_NO_STATUS) << "completed is told once";
    EXPECT_TRUE(heard() == expected(from, to));
}

TEST_P(Digital, PauseAndResumeLoseAndRepeatNothing)
{
    open_image(GetParam());
    long from = T1 + GAP2, to = T1 + GAP2 + 70;
    ASSERT_EQ(play(from, to), 0);
    run_ms(300);
    ASSERT_EQ(drive_pause(h), 0);
    ASSERT_TRUE(settle());
    drive_position paused = where();
    EXPECT_EQ(paused.audio_status, CD_AS_PLAY_PAUSED);
    run_ms(2000);
    drive_position still = where();
    EXPECT_EQ(lba_of(still.absolute), lba_of(paused.absolute)) << "a pause holds the position";
    ASSERT_EQ(drive_resume(h), 0);
    ASSERT_EQ(drive_resume(h), 0) << "resume while playing is fine, as drives answer";
    run_ms(2000);
    EXPECT_EQ(where().audio_status, CD_AS_PLAY_COMPLETED);
    EXPECT_EQ(drive_resume(h), -1) << "nothing to resume";
    EXPECT_EQ(errno, EIO);
    EXPECT_TRUE(heard() == expected(from, to));
}

TEST_P(Digital, PositionIsWhatWasHeard)
{
    open_image(GetParam());
    ASSERT_EQ(play(0, T1), 0);
    for (int step = 0; step < 6; step++) {
        run_ms(150);
        long played = static_cast<long>(read_wav(out).size() / 2);
        EXPECT_EQ(lba_of(where().absolute), played / SECTOR_FRAMES) << "step " << step;
    }
}

TEST_P(Digital, StopThenANewPlayStartsAtItsOwnFrame)
{
    open_image(GetParam());
    ASSERT_EQ(play(10, 60), 0);
    run_ms(200);
    ASSERT_EQ(drive_stop(h), 0);
    ASSERT_TRUE(settle());
    long before = static_cast<long>(read_wav(out).size());
    EXPECT_EQ(where().audio_status, CD_AS_NO_STATUS);
    ASSERT_EQ(play(T1 + GAP2 + T2, TOTAL), 0);
    run_ms(1200);
    std::vector<int16_t> all = heard();
    ASSERT_GE(all.size(), static_cast<size_t>(before));
    EXPECT_TRUE(std::equal(all.begin(), all.begin() + before, at(10)));
    EXPECT_TRUE(std::vector<int16_t>(all.begin() + before, all.end()) ==
                expected(T1 + GAP2 + T2, TOTAL));
}

// The player's reset plays track 1 and stops it at once, and a Next
// replaces a play at once: within one burst of requests, the play that
// was stopped or replaced never reaches the speaker, and its successor is
// heard from its first frame, with no wait for a lead.
TEST_P(Digital, APlayStoppedOrReplacedAtOnceIsNeverHeard)
{
    open_image(GetParam());
    for (int round = 0; round < 3; round++) {
        ASSERT_EQ(play_at_once(0, T1), 0);
        ASSERT_EQ(drive_stop(h), 0);
        run_ms(300);
        EXPECT_EQ(read_wav(out).size(), 0u) << "round " << round;
    }
    ASSERT_EQ(play_at_once(0, T1), 0);
    ASSERT_EQ(play_at_once(10, T1), 0);
    ASSERT_EQ(play(T1 + GAP2, T1 + GAP2 + 30), 0);
    EXPECT_EQ(where().audio_status, CD_AS_PLAY_IN_PROGRESS);
    audio_clock_advance_ms(1);
    EXPECT_TRUE(settle());
    EXPECT_EQ(read_wav(out).size(), 2u * 44) << "heard a millisecond after the request";
    run_ms(1000);
    EXPECT_TRUE(heard() == expected(T1 + GAP2, T1 + GAP2 + 30));
}

std::string layout_name(const ::testing::TestParamInfo<layout> &info)
{
    static const char *const names[] = {"Binary", "Motorola", "WavePerTrack"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Layouts, Digital, ::testing::Values(ONE_BINARY, ONE_MOTOROLA, WAVE_PER_TRACK),
                         layout_name);

using DigitalOnce = Digital;

TEST_F(DigitalOnce, VolumeFullIsBitExactZeroIsSilenceBetweenIsQuieter)
{
    open_image(ONE_BINARY);
    struct {
        int volume;
        long from;
    } cases[] = {{255, 0}, {0, 10}, {128, 20}, {1, 30}};
    std::vector<long> marks;
    for (auto &c : cases) {
        ASSERT_EQ(drive_set_volume(h, static_cast<uint8_t>(c.volume), static_cast<uint8_t>(c.volume)), 0);
        ASSERT_EQ(play(c.from, c.from + 5), 0);
        run_ms(700);
        marks.push_back(static_cast<long>(read_wav(out).size()));
    }
    std::vector<int16_t> all = heard();
    long start = 0;
    for (size_t i = 0; i < marks.size(); i++) {
        std::vector<int16_t> part(all.begin() + start, all.begin() + marks[i]);
        std::vector<int16_t> src = expected(cases[i].from, cases[i].from + 5);
        ASSERT_EQ(part.size(), src.size());
        double in = 0, got = 0;
        for (size_t k = 0; k < part.size(); k++) {
            in += std::abs(double(src[k]));
            got += std::abs(double(part[k]));
        }
        if (cases[i].volume == 255)
            EXPECT_TRUE(part == src);
        else if (cases[i].volume == 0)
            EXPECT_EQ(got, 0);
        else if (cases[i].volume == 128)  // about -25 dB
            EXPECT_NEAR(got / in, 0.056, 0.01);
        else
            EXPECT_LT(got / in, 0.005);
        start = marks[i];
    }
}

TEST_F(DigitalOnce, DataTracksNeverReachTheSoundCard)
{
    open_image(ONE_BINARY, true);
    drive_toc_entry e{};
    ASSERT_EQ(drive_read_toc_entry(h, 3, &e), 0);
    EXPECT_EQ(e.addr_ctl & 0x04, 0x04);
    EXPECT_EQ(play(T1 + GAP2 + T2 + 3, TOTAL), -1) << "a range starting in data";
    EXPECT_EQ(errno, EIO);
    ASSERT_EQ(play(T1 + GAP2 + T2 - 10, TOTAL), 0);
    run_ms(1000);
    EXPECT_EQ(where().audio_status, CD_AS_PLAY_COMPLETED) << "ends where the data begins";
    EXPECT_TRUE(heard() == expected(T1 + GAP2 + T2 - 10, T1 + GAP2 + T2));
}

TEST_F(DigitalOnce, TrayFollowsTheSheet)
{
    open_image(ONE_BINARY);
    ASSERT_EQ(play(0, 50), 0);
    ASSERT_EQ(drive_allow_removal(h), 0);
    ASSERT_EQ(drive_eject(h), 0);
    drive_close(h);
    h = drive_open(cue.c_str());
    ASSERT_GE(h, 0);
    drive_toc_header hdr{};
    EXPECT_EQ(drive_read_toc_header(h, &hdr), -1);
    EXPECT_EQ(errno, ENOMEDIUM);
    drive_position pos{};
    EXPECT_EQ(drive_read_position(h, &pos), -1);
    struct stat st;
    ASSERT_EQ(stat(cue.c_str(), &st), 0);
    timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += 10;
    ASSERT_EQ(utimensat(AT_FDCWD, cue.c_str(), times, 0), 0);
    EXPECT_EQ(drive_read_toc_header(h, &hdr), 0);
    EXPECT_EQ(hdr.last, 3);
    // Moved away, the disc is out, and moved back, in again: at the next
    // request when the sheet's folder changed, a second later through a link.
    namespace fs = std::filesystem;
    fs::create_directory(dir + "/link");
    fs::create_symlink(cue, dir + "/link/disc.cue");
    fs::create_symlink(dir + "/disc.bin", dir + "/link/disc.bin");
    for (int later_ms : {0, 1000}) {
        SCOPED_TRACE(later_ms ? "through a link" : "the sheet");
        drive_close(h);
        h = drive_open(later_ms ? (dir + "/link/disc.cue").c_str() : cue.c_str());
        fs::rename(cue, dir + "/away.cue");
        audio_clock_advance_ms(later_ms);
        EXPECT_EQ(drive_read_toc_header(h, &hdr), -1);
        EXPECT_EQ(errno, ENOMEDIUM);
        fs::rename(dir + "/away.cue", cue);
        audio_clock_advance_ms(later_ms);
        EXPECT_EQ(drive_read_toc_header(h, &hdr), 0);
        EXPECT_EQ(play(0, 10), 0) << "the disc plays again";
    }
}

TEST_F(DigitalOnce, BadInputGivesOneClearLine)
{
    struct {
        const char *what;
        std::string sheet;
        const char *says;
    } cases[] = {
        {"malformed", "FILE \"x.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\nGARBAGE LINE\n",
         "not a cue sheet"},
        {"missing file", "FILE \"gone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "gone.bin: No such file or directory"},
        {"backwards", "FILE \"x.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:05\n"
                      "  TRACK 02 AUDIO\n    INDEX 01 00:00:02\n",
         "track 2: starts before the track before it"},
        {"short file", "FILE \"x.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:50\n",
         "x.bin ends before it starts"},
    };
    write("x.bin", std::string(2352 * 10, '\0'));
    for (auto &c : cases) {
        std::string path = dir + "/" + std::string(c.what).substr(0, 3) + ".cue";
        std::ofstream(path) << c.sheet;
        size_t before = reports().size();
        EXPECT_EQ(drive_open(path.c_str()), -1) << c.what;
        EXPECT_EQ(drive_open(path.c_str()), -1) << c.what;
        std::string said = reports().substr(before);
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << c.what << ": " << said;
        EXPECT_NE(said.find(path), std::string::npos) << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
    }
}

// Each fault of the sound device, however it comes (at the open or in
// the middle of a play): one line naming the device and the reason, the
// play fails and says so until the next request (the player stays on its
// track), and once the device is back the next play is heard.
TEST_F(DigitalOnce, DeviceFaultsFailThePlayOnceAndTheNextPlayIsHeard)
{
    make_image(ONE_BINARY);
    std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = -1;
    rlimit saved_fsize{};
    getrlimit(RLIMIT_FSIZE, &saved_fsize);
    struct fault {
        std::string device, says;
        std::function<void()> before, after;  // makes it, then mends it
    } cases[] = {
        {"wav:" + dir + "/no/such/dir/out.wav",
         "audio device \"" + dir + "/no/such/dir/out.wav\": No such file or directory", [] {},
         [this] { std::filesystem::create_directories(dir + "/no/such/dir"); }},
        {"murbel_no_such_pcm", "audio device \"murbel_no_such_pcm\": ", [] {}, nullptr},
        {"wav:/dev/full", "audio device \"/dev/full\": No space left on device", [] {}, nullptr},
        // A FIFO nobody reads: no wait for a reader.
        {"wav:" + fifo, "audio device \"" + fifo + "\": No such device or address", [] {}, nullptr},
        // A reader that goes away in the middle: no SIGPIPE.
        {"wav:" + fifo, "audio device \"" + fifo + "\": Broken pipe",
         [&] { reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK); }, nullptr},
        // A file-size limit: no SIGXFSZ.
        {"wav:" + out, "audio device \"" + out + "\": File too large",
         [&] {
             rlimit small = saved_fsize;
             small.rlim_cur = 20000;
             setrlimit(RLIMIT_FSIZE, &small);
         },
         [&] { setrlimit(RLIMIT_FSIZE, &saved_fsize); }},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.device + " " + c.says);
        audio_device = c.device;
        drive_digital_settings s;
        s.audio_device = audio_device.c_str();
        drive_set_digital(s);
        size_t before = reports().size();
        h = drive_open(cue.c_str());
        ASSERT_GE(h, 0);
        c.before();
        ASSERT_EQ(play(0, 50), 0);
        if (reader >= 0) {  // plays a little, then the reader goes
            run_ms(200);
            close(reader);
            reader = -1;
        }
        run_ms(1000);
        EXPECT_EQ(where().audio_status, CD_AS_PLAY_ERROR);
        EXPECT_EQ(where().audio_status, CD_AS_PLAY_ERROR) << "told until the next request";
        EXPECT_EQ(drive_pause(h), -1);
        ASSERT_EQ(play(10, 50), 0) << "the device is tried again";
        run_ms(1000);
        EXPECT_EQ(where().audio_status, CD_AS_PLAY_ERROR);
        ASSERT_EQ(drive_stop(h), 0);
        EXPECT_EQ(where().audio_status, CD_AS_NO_STATUS);
        // Each reason once (the retry may meet another: a FIFO whose
        // reader went has none at the next open).
        std::string said = reports().substr(before);
        size_t first = said.find("murbel: " + c.says);
        EXPECT_EQ(first, 0u) << said;
        EXPECT_EQ(said.find("murbel: " + c.says, first + 1), std::string::npos) << said;
        EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 2) << said;
        if (c.after) {
            c.after();
            ASSERT_EQ(play(0, 10), 0);
            run_ms(500);
            EXPECT_EQ(where().audio_status, CD_AS_PLAY_COMPLETED);
            drive_close(h);
            h = -1;
            ASSERT_TRUE(audio_wait_threads(5000));
            std::vector<int16_t> got = read_wav(c.device.substr(4));
            std::vector<int16_t> want = expected(0, 10);
            ASSERT_GE(got.size(), want.size());
            EXPECT_TRUE(std::equal(want.begin(), want.end(), got.end() - want.size()))
                << "heard at the end of what the file holds";
        }
        if (h >= 0)
            drive_close(h);
        h = -1;
        ASSERT_TRUE(audio_wait_threads(5000));
    }
}

// Sinks that misbehave: they wrap the WAV sink, whose clock the test moves.
std::atomic<int> sink_mode{0};  // 0: as the WAV sink; 1: always ran dry; 2: takes nothing
std::mutex hang_m;
std::condition_variable hang_cv;
bool hang = false;

const audio_sink_ops faulty_ops = [] {
    audio_sink_ops o = wav_sink_ops;
    o.avail = [](void *sink) {
        long a = wav_sink_ops.avail(sink);
        return sink_mode == 1 ? -EPIPE : sink_mode == 2 && a >= 0 ? 0L : a;
    };
    o.close = [](void *sink) {
        std::unique_lock<std::mutex> lock(hang_m);
        hang_cv.wait(lock, [] { return !hang; });
        wav_sink_ops.close(sink);
    };
    return o;
}();

TEST_F(DigitalOnce, ADeviceThatFailsWhilePlayingNeitherSpinsNorFloodsNorHangsTheCaller)
{
    make_image(ONE_BINARY);
    // The trace goes to standard output, while debug is on.
    std::string trace_path = dir + "/trace";
    stream_to_file trace_out(1, trace_path);
    app_resources.debug = True;
    struct {
        int mode;
        const char *says;
    } cases[] = {{1, "it stopped taking sound"}, {2, "it takes no sound"}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.says);
        audio_source src;
        std::string why;
        ASSERT_TRUE(image_source_open(cue, &src, &why)) << why;
        size_t before = reports().size();
        sink_mode = 0;
        audio_engine *e = audio_engine_start(src, &faulty_ops, out);
        ASSERT_EQ(audio_engine_play(e, 0, 200), 0);
        ASSERT_TRUE(audio_engine_settle(e, 5000));
        sink_mode = c.mode;
        for (int i = 0; i < 40; i++) {
            audio_clock_advance_ms(100);
            ASSERT_TRUE(audio_engine_settle(e, 5000)) << "the sink's thread is busy: it spins";
        }
        EXPECT_EQ(audio_engine_position(e).state, AUDIO_ERROR);
        EXPECT_FALSE(audio_engine_device_open(e)) << "a failed device is closed";
        std::string said = reports().substr(before);
        EXPECT_EQ(said, "murbel: audio device \"" + out + "\": " + c.says + "\n");
        // A device stuck in its close holds nobody.
        sink_mode = 0;
        {
            std::lock_guard<std::mutex> lock(hang_m);
            hang = true;
        }
        ASSERT_EQ(audio_engine_play(e, 0, 200), 0);
        ASSERT_TRUE(audio_engine_settle(e, 5000));
        auto t0 = std::chrono::steady_clock::now();
        audio_engine_stop(e);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
        EXPECT_FALSE(audio_wait_threads(50)) << "the stuck thread is left behind";
        {
            std::lock_guard<std::mutex> lock(hang_m);
            hang = false;
            hang_cv.notify_all();
        }
        EXPECT_TRUE(audio_wait_threads(5000));
    }
    // Underruns are counted, each time, and traced at most once a second.
    app_resources.debug = False;
    trace_out.restore();
    std::ifstream in(trace_path);
    std::string trace((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_LE(std::count(trace.begin(), trace.end(), '\n'), 2) << trace;
}

// The device only while it is needed: opened by the first play, closed a
// little after the last stop or the end of the play, kept while paused.
TEST_F(DigitalOnce, TheDeviceIsOpenOnlyWhileNeeded)
{
    open_image(ONE_BINARY);
    run_ms(5000);
    EXPECT_FALSE(digital_device_open()) << "an image loaded opens no device";
    ASSERT_EQ(play(0, 60), 0);
    EXPECT_TRUE(digital_device_open());
    run_ms(1000);
    EXPECT_EQ(where().audio_status, CD_AS_PLAY_COMPLETED);
    run_ms(AUDIO_GRACE_MS - 600);
    EXPECT_TRUE(digital_device_open()) << "a grace after the end";
    run_ms(600);
    EXPECT_FALSE(digital_device_open());
    ASSERT_EQ(play(0, 75), 0);
    run_ms(300);
    ASSERT_EQ(drive_pause(h), 0);
    run_ms(AUDIO_GRACE_MS + 2000);
    EXPECT_TRUE(digital_device_open()) << "a pause keeps it";
    ASSERT_EQ(drive_resume(h), 0);
    run_ms(300);
    ASSERT_EQ(drive_stop(h), 0);
    run_ms(AUDIO_GRACE_MS);
    EXPECT_FALSE(digital_device_open()) << "closed after a stop";
    std::vector<int16_t> all = heard();
    std::vector<int16_t> want = expected(0, 60);
    std::vector<int16_t> second = expected(0, 45);
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_TRUE(all == want) << all.size() << " " << want.size();
}

// A change of volume is heard at once, however much is queued: what was
// written and not yet heard is written again at the new volume.
TEST_F(DigitalOnce, AVolumeChangeIsHeardFromThePositionHeard)
{
    open_image(ONE_BINARY);
    ASSERT_EQ(play(0, 60), 0);
    run_ms(300);
    ASSERT_EQ(drive_set_volume(h, 0, 0), 0);
    ASSERT_TRUE(settle());
    run_ms(300);
    ASSERT_EQ(drive_set_volume(h, 255, 255), 0);
    ASSERT_TRUE(settle());
    run_ms(1000);
    std::vector<int16_t> all = heard();
    long third = SAMPLE_RATE * 3 / 10 * 2;
    ASSERT_EQ(all.size(), expected(0, 60).size());
    std::vector<int16_t> want = expected(0, 60);
    EXPECT_TRUE(std::equal(all.begin(), all.begin() + third, want.begin()));
    EXPECT_TRUE(std::all_of(all.begin() + third, all.begin() + 2 * third, [](int16_t v) { return v == 0; }));
    EXPECT_TRUE(std::equal(all.begin() + 2 * third, all.end(), want.begin() + 2 * third));
}

// A medium that takes five seconds to answer: the requests still answer
// at once, because only the reader waits for it.
TEST_F(DigitalOnce, StalledSourceLeavesRequestsAnswering)
{
    open_image(ONE_BINARY);
    audio_clock_use_manual(false);
    audio_inject_stall(20, 5000);
    using clock = std::chrono::steady_clock;
    auto t0 = clock::now();
    ASSERT_EQ(play_at_once(20, 80), 0);
    for (int i = 0; i < 20; i++) {
        EXPECT_EQ(where().audio_status, CD_AS_PLAY_IN_PROGRESS);
        ASSERT_EQ(drive_pause(h), 0);
        ASSERT_EQ(drive_resume(h), 0);
        ASSERT_EQ(drive_set_volume(h, 200, 200), 0);
    }
    ASSERT_EQ(play_at_once(30, 80), 0);
    ASSERT_EQ(drive_stop(h), 0);
    drive_close(h);  // ends the stall: the reader is told to go
    h = -1;
    audio_inject_stall(-1, 0);  // not left for the next test, if never reached
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - t0).count();
    EXPECT_LT(ms, 1000) << "a request waited for the stalled read";
}

}  // namespace

// A drive read digitally: libcdio takes a cue sheet for a drive, so the
// paranoia path is tried here on the disc's own samples.
TEST_F(DigitalOnce, DriveReadsGiveTheDiscsSamplesWithAndWithoutParanoia)
{
    make_image(ONE_BINARY);
    audio_toc toc;
    toc.starts = {0, T1 + GAP2, T1 + GAP2 + T2};
    toc.gaps = {0, T1, T1 + GAP2 + T2};
    toc.data = {false, false, false};
    toc.leadout = TOTAL;
    // The trace goes to standard output: libcdio must not talk there.
    std::string out_path = dir + "/stdout";
    stream_to_file libcdio_out(1, out_path);
    // In order, across a track's start, the disc's last sectors, then back.
    struct {
        long lba;
        int count;
    } reads[] = {{0, 3}, {3, 4}, {T1 - 2, 5}, {TOTAL - 4, 4}, {10, 2}};
    for (bool paranoia : {true, false}) {
        audio_source src;
        std::string why;
        ASSERT_TRUE(cdda_source_open(cue, toc, paranoia, 8, &src, &why)) << why;
        for (auto &r : reads) {
            std::vector<int16_t> buf(static_cast<size_t>(r.count) * SECTOR_FRAMES * 2);
            ASSERT_EQ(src.ops->read(src.impl, r.lba, r.count, buf.data()), 0) << r.lba;
            EXPECT_TRUE(buf == expected(r.lba, r.lba + r.count))
                << "paranoia " << paranoia << ", sector " << r.lba;
        }
        src.ops->close(src.impl);
    }
    audio_source none;
    std::string why;
    ASSERT_TRUE(cdda_source_open(dir + "/none.cue", toc, true, 8, &none, &why)) << why;
    std::vector<int16_t> buf(SECTOR_FRAMES * 2);
    errno = 0;
    EXPECT_EQ(none.ops->read(none.impl, 0, 1, buf.data()), -1) << "no drive there";
    EXPECT_EQ(errno, EIO);
    none.ops->close(none.impl);
    libcdio_out.restore();
    std::ifstream in(out_path);
    std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(said + reports(), "") << "libcdio's own chatter";
}

// The WAV sink's bytes as a reader of WAV files takes them: a file's
// header tells what the file holds, also when the same file is opened
// again (it goes on after what it holds); into a FIFO the header comes
// once, first, with the largest sizes, as streaming programs write it.
TEST_F(DigitalOnce, TheWavSinkWritesWhatIsPlayedUnderAHeaderThatTellsIt)
{
    std::vector<int16_t> sound = make_disc(4);
    auto play = [&](const std::string &target, long from, long frames) {
        std::string why;
        void *sink = wav_sink_ops.open(target, &why);
        ASSERT_TRUE(sink) << why;
        EXPECT_EQ(wav_sink_ops.write(sink, sound.data() + 2 * from, frames), frames);
        audio_clock_advance_ms(1000);
        EXPECT_EQ(wav_sink_ops.delay(sink), 0) << "all of it played";
        wav_sink_ops.close(sink);
    };
    auto slurp = [](int fd) {
        std::string all;
        char buf[4096];
        for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
            all.append(buf, static_cast<size_t>(n));
        return all;
    };
    std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string streamed = wav_of(sound.data(), 2000);
    streamed.replace(4, 4, "\xff\xff\xff\xff");
    streamed.replace(40, 4, "\xdb\xff\xff\xff");
    struct round {
        std::string target;
        long from, frames;
        std::string want;
    } rounds[] = {
        {out, 0, 1000, wav_of(sound.data(), 1000)},
        {out, 1000, 500, wav_of(sound.data(), 1500)},
        {fifo, 0, 2000, streamed},
    };
    for (const round &r : rounds) {
        SCOPED_TRACE(r.target + " from " + std::to_string(r.from));
        play(r.target, r.from, r.frames);
        std::string got;
        if (r.target == fifo) {
            got = slurp(reader);
        } else {
            std::ifstream in(r.target, std::ios::binary);
            got.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        ASSERT_EQ(got.size(), r.want.size());
        EXPECT_TRUE(got == r.want) << "header or sound differ";
    }
    close(reader);
}

// What was written is not yet heard: the position runs from the first
// write with the clock, however little delay the device tells of (a
// sound server's, just started, may tell of none).
TEST_F(DigitalOnce, PositionNeverRunsAheadOfTheTimeSinceTheFirstWrite)
{
    make_image(ONE_BINARY);
    audio_source src;
    std::string why;
    ASSERT_TRUE(image_source_open(cue, &src, &why)) << why;
    audio_sink_ops liar = wav_sink_ops;
    liar.delay = [](void *) { return 0L; };
    audio_engine *e = audio_engine_start(src, &liar, out);
    ASSERT_EQ(audio_engine_play(e, 10, 100), 0);
    ASSERT_TRUE(audio_engine_settle(e, 5000));
    EXPECT_EQ(audio_engine_position(e).frame, 10 * SECTOR_FRAMES);
    audio_clock_advance_ms(100);
    ASSERT_TRUE(audio_engine_settle(e, 5000));
    audio_position p = audio_engine_position(e);
    EXPECT_EQ(p.state, AUDIO_PLAYING);
    EXPECT_EQ(p.frame, 10 * SECTOR_FRAMES + SAMPLE_RATE / 10);
    audio_engine_stop(e);
    EXPECT_TRUE(audio_wait_threads(5000));
}
