// The simulated drive, through the drive layer's front door.
#include "support/player_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "drive/drive.h"
#include "drive/sim.h"

namespace {

std::string msf_text(const msf_t &m)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%02d:%02d:%02d", m.minute, m.second, m.frame);
    return buf;
}

msf_t msf(int m, int s, int f)
{
    return {static_cast<uint8_t>(m), static_cast<uint8_t>(s), static_cast<uint8_t>(f)};
}

class SimDrive : public PlayerTest {
protected:
    void TearDown() override
    {
        for (int h : handles)
            drive_close(h);
        PlayerTest::TearDown();
    }

    // Writes the disc file (logging to scratch/requests) and opens it.
    int open_disc(const std::string &text, const std::string &name = "disc")
    {
        path = write_file(name, text);
        return reopen();
    }

    int reopen()
    {
        int h = drive_open(("sim:" + path).c_str());
        if (h >= 0)
            handles.push_back(h);
        return h;
    }

    // A newer mtime: how a disc is put in after an eject.
    void touch_later(const std::string &file)
    {
        struct stat st;
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        timespec times[2] = {st.st_atim, st.st_mtim};
        times[1].tv_sec += 10;
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }

    drive_position where(int h)
    {
        drive_position pos{};
        EXPECT_EQ(drive_read_position(h, &pos), 0) << strerror(errno);
        return pos;
    }

    // "status track MM:SS:FF" of the sub-channel answer.
    std::string at(int h)
    {
        drive_position pos = where(h);
        char buf[48];
        snprintf(buf, sizeof buf, "%02x %d %s", pos.audio_status, pos.track,
                 msf_text(pos.absolute).c_str());
        return buf;
    }

    int play(int h, msf_t from, msf_t to) { return drive_play_msf(h, &from, &to); }

    // The errno of a failed request, or 0 when it succeeded.
    static int err_of(int result) { return result == -1 ? errno : 0; }

    std::vector<std::string> log_lines()
    {
        std::ifstream in(scratch + "/requests");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::string log_clause() { return "log " + scratch + "/requests\n"; }

    std::string path;
    std::vector<int> handles;
};

const char *const three_tracks =
    "track 1 00:02:00\n"
    "track 2 04:10:33\n"
    "track 3 07:00:00\n"
    "leadout 10:30:12\n";

}  // namespace

TEST_F(SimDrive, TableOfContents)
{
    int h = open_disc("# a disc\n\n"
                      "track 3 00:02:00   # first is 3\n"
                      "  track 4 04:10:33\n"
                      "track\t5 07:00:00\n"
                      "leadout 10:30:12\n");
    ASSERT_GE(h, 0) << strerror(errno);
    drive_toc_header hdr{};
    ASSERT_EQ(drive_read_toc_header(h, &hdr), 0);
    EXPECT_EQ(hdr.first, 3);
    EXPECT_EQ(hdr.last, 5);

    const char *want[] = {"00:02:00", "04:10:33", "07:00:00"};
    for (int t = 3; t <= 5; t++) {
        drive_toc_entry e{};
        ASSERT_EQ(drive_read_toc_entry(h, t, &e), 0);
        EXPECT_EQ(e.track, t);
        EXPECT_EQ(msf_text({e.addr[1], e.addr[2], e.addr[3]}), want[t - 3]);
    }
    drive_toc_entry e{};
    ASSERT_EQ(drive_read_toc_entry(h, DRIVE_LEADOUT, &e), 0);
    EXPECT_EQ(msf_text({e.addr[1], e.addr[2], e.addr[3]}), "10:30:12");

    EXPECT_EQ(err_of(drive_read_toc_entry(h, 2, &e)), EINVAL);
    EXPECT_EQ(err_of(drive_read_toc_entry(h, 6, &e)), EINVAL);
    EXPECT_EQ(at(h), "15 0 00:00:00");  // idle, no status by default
    EXPECT_EQ(take_stderr(), "");
}

TEST_F(SimDrive, DemoDiscIsAPlausibleAlbum)
{
    const char *src = getenv("MURBEL_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    path = std::string(src) + "/discs/demo.disc";
    int h = reopen();
    ASSERT_GE(h, 0) << take_stderr();
    drive_toc_header hdr{};
    ASSERT_EQ(drive_read_toc_header(h, &hdr), 0);
    EXPECT_EQ(hdr.first, 1);
    EXPECT_GE(hdr.last, 10);
    drive_toc_entry e{};
    ASSERT_EQ(drive_read_toc_entry(h, DRIVE_LEADOUT, &e), 0);
    EXPECT_GE(e.addr[1], 45);
    EXPECT_LE(e.addr[1], 55);
}

TEST_F(SimDrive, MalformedFilesNameFileLineAndFault)
{
    struct {
        const char *text;
        const char *message;  // after "murbel: FILE:"
    } cases[] = {
        {"track 1 00:02:00\ntrak 2 04:10:33\nleadout 10:30:12\n", "2: unknown keyword \"trak\""},
        {"track 1 00:02:00\ntrack 2 04:61:00\nleadout 10:30:12\n",
         "2: bad address \"04:61:00\" (minute:second:frame as MM:SS:FF, seconds 0-59, frames 0-74)"},
        {"track 1 00:02:75\nleadout 10:30:12\n", "1: bad address \"00:02:75\""},
        {"track 1 0:02:00\nleadout 10:30:12\n", "1: bad address \"0:02:00\""},
        {"track 1\nleadout 10:30:12\n", "1: track wants a number and an address"},
        {"track 0 00:02:00\nleadout 10:30:12\n", "1: bad track number \"0\" (1 to 99)"},
        {"track 100 00:02:00\nleadout 10:30:12\n", "1: bad track number \"100\""},
        {"track 1 00:02:00\ntrack 3 04:00:00\nleadout 10:30:12\n",
         "2: track 3 does not follow track 1"},
        {"track 1 00:02:00\ntrack 2 00:02:00\nleadout 10:30:12\n",
         "2: track 2 does not start after track 1"},
        {"track 1 00:02:00\nleadout 10:30:12\ntrack 2 11:00:00\n", "3: track after the leadout"},
        {"leadout 10:30:12\n", "1: leadout before any track"},
        {"track 1 00:02:00\nleadout 00:01:00\n", "2: leadout does not come after the last track"},
        {"track 1 00:02:00\nleadout 10:30:12\nleadout 11:00:00\n", "3: a second leadout"},
        {"track 1 00:02:00\ntrack 2 04:10:33\n", "2: no leadout after the last track"},
        {"# nothing\n", "1: no tracks"},
        {"track 1 00:02:00\nleadout 10:30:12\nspeed 0\n", "3: speed wants a whole number"},
        {"track 1 00:02:00\nleadout 10:30:12\nspeed fast\n", "3: speed wants a whole number"},
        {"track 1 00:02:00\nleadout 10:30:12\nidle silent\n", "3: idle wants no-status, invalid or completed"},
        {"track 1 00:02:00\nleadout 10:30:12\nstart running 01:00:00\n", "3: start wants playing or paused"},
        {"track 1 00:02:00\nleadout 10:30:12\nstart playing 10:30:12\n",
         "3: start address not before the leadout"},
        {"track 1 00:02:00\nleadout 10:30:12\nrefuse pause jump\n", "3: unknown request \"jump\""},
        {"track 1 00:02:00\nleadout 10:30:12\nrefuse\n", "3: refuse wants one or more requests"},
        {"track 1 00:02:00\nleadout 10:30:12\nlog\n", "3: log wants a file name"},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        std::string name = "bad" + std::to_string(n++) + ".disc";
        errno = 0;
        EXPECT_EQ(open_disc(c.text, name), -1);
        EXPECT_EQ(errno, EINVAL);
        std::string err = take_stderr();
        std::string head = "murbel: " + path + ":" + c.message;
        EXPECT_EQ(err.compare(0, head.size(), head), 0) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

TEST_F(SimDrive, MalformedFileReportedOncePerVersion)
{
    EXPECT_EQ(open_disc("track 1 00:02:00\ntrak\n"), -1);
    EXPECT_EQ(reopen(), -1);
    EXPECT_EQ(reopen(), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(take_stderr(), "murbel: " + path + ":2: unknown keyword \"trak\"\n");

    write_file(path, "track 1 00:02:00\n\nspeed -3\n");
    touch_later(path);
    EXPECT_EQ(reopen(), -1);
    EXPECT_EQ(reopen(), -1);
    EXPECT_EQ(take_stderr(), "murbel: " + path + ":3: speed wants a whole number from 1 to 1000\n");

    // Mended, it is a disc again.
    write_file(path, three_tracks);
    touch_later(path);
    int h = reopen();
    ASSERT_GE(h, 0);
    drive_toc_header hdr{};
    EXPECT_EQ(drive_read_toc_header(h, &hdr), 0);

    // Spoiled under an open handle: requests fail, one report.
    write_file(path, "track 1 00:02:00\nleadout 00:00:01\n");
    touch_later(path);
    EXPECT_EQ(err_of(drive_read_toc_header(h, &hdr)), EINVAL);
    drive_position pos;
    EXPECT_EQ(err_of(drive_read_position(h, &pos)), EINVAL);
    EXPECT_EQ(take_stderr(), "murbel: " + path + ":2: leadout does not come after the last track\n");
}

TEST_F(SimDrive, PlayAdvancesWithTheClock)
{
    int h = open_disc(three_tracks);
    ASSERT_GE(h, 0);
    ASSERT_EQ(play(h, msf(0, 2, 0), msf(10, 30, 11)), 0);
    EXPECT_EQ(at(h), "11 1 00:02:00");
    sim_advance_ms(1000);
    EXPECT_EQ(at(h), "11 1 00:03:00");

    // 10 ms is three quarters of a frame: nothing is lost between queries.
    for (int i = 0; i < 100; i++) {
        sim_advance_ms(10);
        where(h);
    }
    EXPECT_EQ(at(h), "11 1 00:04:00");

    // Into track 2 (it starts at 04:10:33).
    sim_advance_ms(246427);  // 18482.025 frames
    EXPECT_EQ(at(h), "11 1 04:10:32");
    sim_advance_ms(14);  // one frame is 13.3 ms
    EXPECT_EQ(at(h), "11 2 04:10:33");
}

TEST_F(SimDrive, SpeedMultipliesTime)
{
    int h = open_disc(std::string(three_tracks) + "speed 50\n");
    ASSERT_GE(h, 0);
    ASSERT_EQ(play(h, msf(4, 10, 33), msf(6, 59, 74)), 0);
    sim_advance_ms(1000);
    EXPECT_EQ(at(h), "11 2 05:00:33");  // 50 seconds on
}

TEST_F(SimDrive, EndOfRangeIsToldOnceThenIdle)
{
    struct {
        const char *idle_line;
        const char *idle;
    } cases[] = {{"", "15"}, {"idle no-status\n", "15"}, {"idle invalid\n", "00"}, {"idle completed\n", "13"}};
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.idle_line);
        int h = open_disc(std::string(three_tracks) + c.idle_line, "d" + std::to_string(n++));
        ASSERT_GE(h, 0);
        EXPECT_EQ(at(h).substr(0, 2), c.idle);
        ASSERT_EQ(play(h, msf(7, 0, 0), msf(7, 1, 0)), 0);
        sim_advance_ms(999);
        EXPECT_EQ(at(h), "11 3 07:00:74");
        sim_advance_ms(5000);
        EXPECT_EQ(at(h), "13 0 07:01:00");
        EXPECT_EQ(at(h), std::string(c.idle) + " 0 07:01:00");
        EXPECT_EQ(at(h).substr(0, 2), c.idle);
    }
}

TEST_F(SimDrive, PlayRanges)
{
    int h = open_disc(three_tracks);
    ASSERT_GE(h, 0);
    EXPECT_EQ(err_of(play(h, msf(4, 0, 0), msf(3, 59, 74))), EINVAL);  // backwards
    EXPECT_EQ(err_of(play(h, msf(0, 2, 0), msf(10, 30, 13))), EINVAL);  // past the lead-out
    EXPECT_EQ(err_of(play(h, msf(11, 0, 0), msf(11, 0, 0))), EINVAL);  // off the disc
    EXPECT_EQ(err_of(play(h, msf(0, 2, 75), msf(1, 0, 0))), EINVAL);   // no such frame
    EXPECT_EQ(err_of(play(h, msf(0, 60, 0), msf(1, 0, 0))), EINVAL);   // no such second
    EXPECT_EQ(at(h).substr(0, 2), "15");  // refused ranges leave the drive idle

    EXPECT_EQ(play(h, msf(0, 2, 0), msf(10, 30, 12)), 0);  // up to the lead-out
    EXPECT_EQ(play(h, msf(4, 10, 33), msf(4, 10, 33)), 0);  // plays nothing
    EXPECT_EQ(at(h), "13 0 04:10:33");
    EXPECT_EQ(at(h), "15 0 04:10:33");
}

TEST_F(SimDrive, PauseResumeAndStop)
{
    int h = open_disc(three_tracks);
    ASSERT_GE(h, 0);
    EXPECT_EQ(err_of(drive_pause(h)), EIO);  // nothing to pause
    EXPECT_EQ(err_of(drive_resume(h)), EIO);
    EXPECT_EQ(drive_stop(h), 0);

    ASSERT_EQ(play(h, msf(4, 10, 33), msf(6, 59, 74)), 0);
    sim_advance_ms(2000);
    EXPECT_EQ(drive_pause(h), 0);
    EXPECT_EQ(drive_pause(h), 0);  // already paused: no error
    sim_advance_ms(60000);
    EXPECT_EQ(at(h), "12 2 04:12:33");
    EXPECT_EQ(drive_resume(h), 0);
    EXPECT_EQ(drive_resume(h), 0);  // already playing: no error
    sim_advance_ms(1000);
    EXPECT_EQ(at(h), "11 2 04:13:33");

    EXPECT_EQ(drive_stop(h), 0);
    EXPECT_EQ(at(h).substr(0, 2), "15");
    EXPECT_EQ(err_of(drive_resume(h)), EIO);

    ASSERT_EQ(play(h, msf(4, 10, 33), msf(4, 10, 34)), 0);
    sim_advance_ms(1000);
    EXPECT_EQ(err_of(drive_pause(h)), EIO);  // the range is over
}

TEST_F(SimDrive, EjectThenTouchPutsTheDiscBack)
{
    int h = open_disc(three_tracks);
    ASSERT_GE(h, 0);
    ASSERT_EQ(play(h, msf(0, 2, 0), msf(10, 30, 11)), 0);
    EXPECT_EQ(drive_allow_removal(h), 0);
    EXPECT_EQ(drive_eject(h), 0);

    drive_toc_header hdr{};
    drive_position pos{};
    EXPECT_EQ(err_of(drive_read_toc_header(h, &hdr)), ENOMEDIUM);
    EXPECT_STREQ(strerror(ENOMEDIUM), "No medium found");
    EXPECT_EQ(err_of(drive_read_position(h, &pos)), ENOMEDIUM);
    EXPECT_EQ(err_of(play(h, msf(0, 2, 0), msf(1, 0, 0))), ENOMEDIUM);
    EXPECT_EQ(drive_set_volume(h, 10, 10), 0);  // the drive itself is still there

    // Closing and reopening, as the player's poll does, keeps the tray open.
    EXPECT_EQ(drive_close(h), 0);
    handles.clear();
    h = reopen();
    ASSERT_GE(h, 0);
    sim_advance_ms(5000);
    EXPECT_EQ(err_of(drive_read_toc_header(h, &hdr)), ENOMEDIUM);

    touch_later(path);
    ASSERT_EQ(drive_read_toc_header(h, &hdr), 0);
    EXPECT_EQ(hdr.last, 3);
    EXPECT_EQ(at(h).substr(0, 2), "15");  // back in, idle
}

TEST_F(SimDrive, ChangedFileIsANewDisc)
{
    int h = open_disc(three_tracks);
    ASSERT_GE(h, 0);
    ASSERT_EQ(play(h, msf(0, 2, 0), msf(10, 30, 11)), 0);
    write_file(path, "track 1 00:02:00\ntrack 2 02:00:00\nleadout 05:00:00\n");
    touch_later(path);
    EXPECT_EQ(at(h), "15 0 00:00:00");
    drive_toc_header hdr{};
    ASSERT_EQ(drive_read_toc_header(h, &hdr), 0);
    EXPECT_EQ(hdr.last, 2);
}

// The holder hears of a disc put in behind it until it reads the new
// table; its own eject is no news, nor is anything the holder does.
TEST_F(SimDrive, MediaChangedTellsADiscPutInUntilItsTableIsRead)
{
    std::string text = three_tracks + log_clause();
    int h = open_disc(text);
    ASSERT_GE(h, 0);
    drive_toc_header hdr{};
    EXPECT_EQ(drive_media_changed(h), 0);
    touch_later(path);
    EXPECT_EQ(drive_media_changed(h), 1);
    EXPECT_EQ(drive_media_changed(h), 1);  // asking is not reading
    ASSERT_EQ(drive_read_toc_header(h, &hdr), 0);
    EXPECT_EQ(drive_media_changed(h), 0);

    EXPECT_EQ(drive_eject(h), 0);
    EXPECT_EQ(drive_media_changed(h), 0);
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(drive_media_changed(h), 1);  // taken out

    // A second handle on the drive has read nothing yet: no news to it.
    write_file(path, text);
    int other = reopen();
    ASSERT_GE(other, 0);
    EXPECT_EQ(drive_media_changed(other), 0);
    EXPECT_EQ(drive_media_changed(h), 1);
    // The drive is asked nothing by these questions.
    EXPECT_EQ(log_lines(), (std::vector<std::string>{"toc-header", "eject"}));
}

TEST_F(SimDrive, MissingFileIsAnEmptyDrive)
{
    path = scratch + "/later";
    int h = reopen();
    ASSERT_GE(h, 0);
    drive_toc_header hdr{};
    drive_position pos{};
    EXPECT_EQ(err_of(drive_read_toc_header(h, &hdr)), ENOMEDIUM);
    EXPECT_EQ(err_of(drive_read_position(h, &pos)), ENOMEDIUM);
    EXPECT_EQ(take_stderr(), "");

    write_file(path, three_tracks);
    ASSERT_EQ(drive_read_toc_header(h, &hdr), 0);
    EXPECT_EQ(hdr.last, 3);

    // Taking the file away takes the disc out.
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(err_of(drive_read_toc_header(h, &hdr)), ENOMEDIUM);
}

TEST_F(SimDrive, Refusals)
{
    int h = open_disc(std::string(three_tracks) + "refuse pause resume\n");
    ASSERT_GE(h, 0);
    ASSERT_EQ(play(h, msf(0, 2, 0), msf(10, 30, 11)), 0);
    EXPECT_EQ(err_of(drive_pause(h)), EIO);
    EXPECT_EQ(err_of(drive_resume(h)), EIO);
    EXPECT_EQ(at(h).substr(0, 2), "11");  // still playing

    EXPECT_FALSE(sim_refuse("jump", EIO));
    EXPECT_TRUE(sim_refuse("subchannel", EBUSY));
    EXPECT_TRUE(sim_refuse("eject", EPERM));
    EXPECT_TRUE(sim_refuse("volume", ENXIO));
    drive_position pos;
    EXPECT_EQ(err_of(drive_read_position(h, &pos)), EBUSY);
    EXPECT_EQ(err_of(drive_eject(h)), EPERM);
    EXPECT_EQ(err_of(drive_set_volume(h, 1, 2)), ENXIO);
    EXPECT_EQ(sim_last_volume_left(), -1);

    EXPECT_TRUE(sim_refuse("subchannel", 0));
    EXPECT_EQ(drive_read_position(h, &pos), 0);
    sim_refuse_clear();
    EXPECT_EQ(drive_set_volume(h, 200, 100), 0);
    EXPECT_EQ(sim_last_volume_left(), 200);
    EXPECT_EQ(sim_last_volume_right(), 100);
    EXPECT_EQ(drive_eject(h), 0);
    EXPECT_EQ(err_of(drive_pause(h)), EIO);  // the disc file's own refusal still holds
}

TEST_F(SimDrive, EveryRequestIsLogged)
{
    int h = open_disc(std::string(three_tracks) + "refuse stop\n" + log_clause());
    ASSERT_GE(h, 0);
    drive_toc_header hdr;
    drive_toc_entry e;
    drive_position pos;
    drive_read_toc_header(h, &hdr);
    drive_read_toc_entry(h, 2, &e);
    drive_read_toc_entry(h, DRIVE_LEADOUT, &e);
    drive_read_position(h, &pos);
    play(h, msf(0, 2, 0), msf(10, 30, 11));
    play(h, msf(9, 0, 0), msf(1, 0, 0));  // refused, still logged
    drive_pause(h);
    drive_resume(h);
    drive_stop(h);
    drive_set_volume(h, 187, 0);
    drive_allow_removal(h);
    drive_eject(h);
    drive_read_toc_header(h, &hdr);
    std::vector<std::string> want = {
        "toc-header", "toc-entry 2", "toc-entry 170", "subchannel",
        "play 00:02:00 10:30:11", "play 09:00:00 01:00:00", "pause", "resume",
        "stop", "volume 187 0", "allow", "eject", "toc-header",
    };
    EXPECT_EQ(log_lines(), want);
}

TEST_F(SimDrive, RelativeLogPathIsFromTheCurrentDirectory)
{
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(scratch.c_str()), 0);
    int h = open_disc(std::string(three_tracks) + "log requests  # here\n");
    int stopped = h >= 0 ? drive_stop(h) : -1;
    ASSERT_EQ(chdir(old), 0);
    ASSERT_GE(h, 0);
    EXPECT_EQ(stopped, 0);
    EXPECT_EQ(log_lines(), std::vector<std::string>{"stop"});
}

TEST_F(SimDrive, StartPlayingOrPaused)
{
    int h = open_disc(std::string(three_tracks) + "start playing 04:20:00\n");
    ASSERT_GE(h, 0);
    EXPECT_EQ(at(h), "11 2 04:20:00");
    sim_advance_ms(170 * 1000);
    EXPECT_EQ(at(h), "11 3 07:10:00");
    EXPECT_EQ(drive_stop(h), 0);
    // Only the first open of the path starts the play.
    EXPECT_EQ(drive_close(h), 0);
    handles.clear();
    h = reopen();
    ASSERT_GE(h, 0);
    EXPECT_EQ(at(h).substr(0, 2), "15");

    h = open_disc(std::string(three_tracks) + "start paused 09:00:00\n", "paused");
    ASSERT_GE(h, 0);
    sim_advance_ms(10000);
    EXPECT_EQ(at(h), "12 3 09:00:00");
    ASSERT_EQ(drive_resume(h), 0);
    sim_advance_ms(91 * 1000);  // plays on to the lead-out
    EXPECT_EQ(at(h), "13 0 10:30:12");
}

TEST_F(SimDrive, ForcedPosition)
{
    int h = open_disc(three_tracks);
    ASSERT_GE(h, 0);
    ASSERT_EQ(play(h, msf(0, 2, 0), msf(10, 30, 11)), 0);
    sim_force_position(CD_AS_PLAY_ERROR, 120);
    EXPECT_EQ(at(h), "14 120 00:02:00");
    sim_force_position(0x77, 0);
    EXPECT_EQ(at(h), "77 0 00:02:00");
    sim_force_position(-1, 0);
    EXPECT_EQ(at(h), "11 1 00:02:00");
}

TEST_F(SimDrive, ResetForgetsEverything)
{
    int h = open_disc(three_tracks);
    ASSERT_GE(h, 0);
    EXPECT_EQ(drive_eject(h), 0);
    EXPECT_EQ(drive_set_volume(h, 9, 9), 0);
    sim_refuse("toc-header", EIO);
    sim_force_position(CD_AS_PLAY_ERROR, 1);

    sim_reset_all();
    sim_use_manual_clock(true);
    EXPECT_EQ(sim_last_volume_left(), -1);
    drive_toc_header hdr{};
    EXPECT_EQ(drive_read_toc_header(h, &hdr), 0);  // tray closed again, no refusal
    EXPECT_EQ(at(h).substr(0, 2), "15");
}

TEST_F(SimDrive, RealClockRunsAndSwitchingKeepsTime)
{
    int h = open_disc(three_tracks);
    ASSERT_GE(h, 0);
    ASSERT_EQ(play(h, msf(0, 2, 0), msf(10, 30, 11)), 0);
    auto began = std::chrono::steady_clock::now();
    sim_use_manual_clock(false);
    usleep(60 * 1000);  // at least four frames
    drive_position pos = where(h);
    // No more than the time that passed, however long this process waited.
    long passed = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - began)
                      .count();
    auto frames_of = [](const msf_t &m) { return (m.minute * 60L + m.second) * 75 + m.frame; };
    long played = frames_of(pos.absolute) - 150;
    EXPECT_GE(played, 4);
    EXPECT_LE(played, passed * 75 / 1000 + 1);
    sim_use_manual_clock(true);
    drive_position held = where(h);
    EXPECT_GE(frames_of(held.absolute), frames_of(pos.absolute));
    usleep(30 * 1000);
    EXPECT_EQ(msf_text(where(h).absolute), msf_text(held.absolute));
    // The manual clock carries on from the real one's time, not from its own.
    sim_advance_ms(1000);
    drive_position later = where(h);
    EXPECT_EQ(later.absolute.second, held.absolute.second + 1);
    EXPECT_EQ(later.absolute.frame, held.absolute.frame);
}

// "Liquid" by Recoil, an enhanced CD: ten audio tracks, then the data
// session (its table of contents from ARver's notes on data tracks).
static const char *const enhanced_cd =
    "track 1 00:02:00\ntrack 2 02:50:17\ntrack 3 08:59:62\ntrack 4 14:03:00\n"
    "track 5 20:45:35\ntrack 6 26:14:65\ntrack 7 33:44:65\ntrack 8 40:57:65\n"
    "track 9 47:50:10\ntrack 10 54:59:30\ntrack 11 62:36:35 data\nleadout 74:10:51\n";

TEST_F(SimDrive, DataTracksAreMarkedAndNeverPlayed)
{
    struct {
        const char *what, *disc;
        const char *control;  // "a" audio, "d" data, per track
        // A play of the whole disc ends here; plays from these are refused.
        const char *audio_end;
        std::vector<msf_t> refused;
        msf_t playable;
    } cases[] = {
        {"enhanced CD", enhanced_cd, "aaaaaaaaaad", "60:04:35",
         {msf(60, 4, 35), msf(61, 0, 0), msf(62, 36, 35), msf(74, 0, 0)}, msf(54, 59, 30)},
        // Too close to the audio for a session of its own: it ends there.
        {"data track right after the audio", "track 1 00:02:00\ntrack 2 00:40:00 data\nleadout 01:00:00\n",
         "ad", "00:40:00", {msf(0, 40, 0), msf(0, 59, 74)}, msf(0, 39, 0)},
        // Mixed mode: the data first, the audio after it.
        {"mixed mode", "track 1 00:02:00 data\ntrack 2 10:00:00\ntrack 3 12:00:00\nleadout 14:00:00\n",
         "daa", nullptr, {msf(0, 2, 0), msf(9, 59, 74)}, msf(10, 0, 0)},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        int h = open_disc(c.disc, "d" + std::to_string(n++));
        ASSERT_GE(h, 0) << take_stderr();
        for (size_t t = 0; c.control[t]; t++) {
            drive_toc_entry e{};
            ASSERT_EQ(drive_read_toc_entry(h, static_cast<uint8_t>(t + 1), &e), 0);
            EXPECT_EQ(e.addr_ctl, c.control[t] == 'd' ? 0x14 : 0x10) << "track " << t + 1;
        }
        for (const msf_t &m : c.refused) {
            EXPECT_EQ(err_of(play(h, m, m)), EIO) << msf_text(m);
        }
        // To one frame before the lead-out, as the player asks.
        drive_toc_entry lead{};
        ASSERT_EQ(drive_read_toc_entry(h, DRIVE_LEADOUT, &lead), 0);
        long last = (lead.addr[1] * 60L + lead.addr[2]) * 75 + lead.addr[3] - 1;
        msf_t end = msf(static_cast<int>(last / 4500), static_cast<int>(last / 75 % 60),
                            static_cast<int>(last % 75));
        ASSERT_EQ(play(h, c.playable, end), 0) << "from " << msf_text(c.playable);
        sim_advance_ms(100 * 60 * 1000);
        std::string stop = at(h);
        EXPECT_EQ(stop.substr(0, 5), "13 0 ");
        if (c.audio_end) {
            EXPECT_EQ(stop.substr(5), c.audio_end);
        } else {
            EXPECT_EQ(stop.substr(5), msf_text(end));  // the audio runs to the lead-out
        }
    }
    EXPECT_EQ(take_stderr(), "");

    EXPECT_EQ(open_disc("track 1 00:02:00\ntrack 2 04:00:00 audio\nleadout 10:30:12\n", "bad"), -1);
    EXPECT_EQ(take_stderr(), "murbel: " + path +
                                 ":2: track wants a number and an address, and \"data\" for a "
                                 "data track, e.g. \"track 1 00:02:00\"\n");
}
