// Drive access, the table of contents and the drive requests, against the
// simulated drive.
#include "support/player_fixture.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "app/app.h"
#include "disc/cdinfo.h"
#include "disc/cdrom.h"
#include "disc/disc_change.h"
#include "drive/sim.h"
#include "ui/ui.h"

#include <sys/stat.h>

namespace {

using Lines = std::vector<std::string>;

std::string msf_text(const msf_t &m)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%02u:%02u:%02u", m.minute, m.second, m.frame);
    return buf;
}

std::vector<std::string> addr_texts()
{
    std::vector<std::string> out;
    for (const msf_t &m : CDI.addrs)
        out.push_back(msf_text(m));
    return out;
}

// Lines of the request log that begin with word.
Lines requests_named(const Lines &all, const std::string &word)
{
    Lines out;
    for (const auto &l : all)
        if (l.compare(0, word.size(), word) == 0)
            out.push_back(l);
    return out;
}

class CdromTest : public PlayerTest {
protected:
    // Opens the drive on disc_text, with the information files kept in the
    // scratch directory.
    int open_disc(const std::string &disc_text, std::vector<std::string> args = {})
    {
        args.insert(args.end(), {"-cdInfoDir", scratch});
        start_drive(disc_text, args);
        return cdrom_open();
    }
};

const char *kFiveTracks =
    "track 1 00:02:00\n"
    "track 2 04:10:33\n"
    "track 3 05:10:00\n"
    "track 4 06:00:00\n"
    "track 5 07:00:01\n"
    "leadout 08:00:00\n";

}  // namespace

TEST_F(CdromTest, TableOfContentsOfThreeTracks)
{
    EXPECT_EQ(open_disc(demo_disc()), 0);
    EXPECT_EQ(CDI.min, 1);
    EXPECT_EQ(CDI.max, 3);
    EXPECT_EQ(CDI.times, (std::vector<uint16_t>{248, 170, 210}));
    EXPECT_EQ(addr_texts(), (std::vector<std::string>{"00:02:00", "04:10:33", "07:00:00", "10:30:12"}));
    EXPECT_NE(cdrom_fd, -1);
    EXPECT_TRUE(info_read);
    EXPECT_EQ(take_stderr(), "");
}

TEST_F(CdromTest, OneTrackAndFirstTrackAboveOne)
{
    EXPECT_EQ(open_disc("track 1 00:02:00\nleadout 05:00:74\n"), 0);
    EXPECT_EQ(CDI.times, (std::vector<uint16_t>{298}));
    EXPECT_EQ(addr_texts(), (std::vector<std::string>{"00:02:00", "05:00:74"}));
    cdrom_close();
    EXPECT_TRUE(CDI.times.empty());
    EXPECT_TRUE(CDI.addrs.empty());
    EXPECT_FALSE(info_read);

    // A new disc replaces the old one's tables on the next open.
    write_disc("track 3 00:02:00\ntrack 4 03:00:00\ntrack 5 04:00:10\nleadout 06:00:00\n");
    EXPECT_EQ(cdrom_open(), 0);
    EXPECT_EQ(CDI.min, 3);
    EXPECT_EQ(CDI.max, 5);
    EXPECT_EQ(CDI.times, (std::vector<uint16_t>{178, 60, 120}));
    EXPECT_EQ(CDI.addrs.size(), 4u);
    EXPECT_TRUE(track_on_disc(3));
    EXPECT_TRUE(track_on_disc(5));
    EXPECT_FALSE(track_on_disc(2));
    EXPECT_FALSE(track_on_disc(6));
    EXPECT_EQ(take_stderr(), "");
}

TEST_F(CdromTest, EndAddressBorrowsFromSecondAndMinute)
{
    ASSERT_EQ(open_disc(kFiveTracks), 0);
    take_requests();
    EXPECT_EQ(cdrom_play_tracks(1, 1), 0);  // ends before 04:10:33
    EXPECT_EQ(cdrom_play_tracks(2, 2), 0);  // ends before 05:10:00
    EXPECT_EQ(cdrom_play_tracks(3, 3), 0);  // ends before 06:00:00
    EXPECT_EQ(cdrom_play_tracks(4, 5), 0);  // ends before the lead-out
    EXPECT_EQ(cdrom_play_tracks(5, 5), 0);
    EXPECT_EQ(requests_named(take_requests(), "play"),
              (Lines{"play 00:02:00 04:10:32", "play 04:10:33 05:09:74", "play 05:10:00 05:59:74",
                     "play 06:00:00 07:59:74", "play 07:00:01 07:59:74"}));
    EXPECT_EQ(take_stderr(), "");
}

TEST_F(CdromTest, PlayTracksRefusesTracksNotOnTheDisc)
{
    ASSERT_EQ(open_disc("track 3 00:02:00\ntrack 4 03:00:00\nleadout 06:00:00\n"), 0);
    take_requests();
    EXPECT_EQ(cdrom_play_tracks(2, 4), -1);
    EXPECT_EQ(cdrom_play_tracks(3, 5), -1);
    EXPECT_EQ(cdrom_play_tracks(0, 0), -1);
    EXPECT_EQ(take_requests(), Lines{});
    std::string report = "ioctl(cdromplaymsftrk): Invalid argument\n";
    EXPECT_EQ(take_stderr(), report + report + report);
    EXPECT_EQ(cdrom_play_tracks(3, 4), 0);
    EXPECT_EQ(take_requests(), (Lines{"play 00:02:00 05:59:74"}));
}

TEST_F(CdromTest, CurtimeCountsWholeSecondsFromTheTrackStart)
{
    // The drive's track is only asked for, not taken as the player's.
    ASSERT_EQ(open_disc(std::string(demo_disc()) + "start playing 04:10:50\n"), 0);
    CDI.curtrack = 2;
    EXPECT_EQ(cdrom_get_curtime(), 1);
    msf_t pos{};
    // 4:12:05 is 1 s 30 frames on: 105 frames of 75 a second.
    sim_advance_ms(105 * 1000 / 75 + 1);
    ASSERT_EQ(cdrom_get_msf(&pos), 0);
    EXPECT_EQ(msf_text(pos), "04:12:05");
    EXPECT_EQ(cdrom_get_curtime(), 3);

    // The drive has moved to another track than the player knows of.
    CDI.curtrack = 1;
    EXPECT_EQ(cdrom_get_curtime(), 0);
    // A current track that is not on the disc is never looked up.
    sim_force_position(CD_AS_PLAY_IN_PROGRESS, 9);
    CDI.curtrack = 9;
    EXPECT_EQ(cdrom_get_curtime(), 0);
    // Neither playing nor paused.
    sim_force_position(CD_AS_PLAY_COMPLETED, 2);
    CDI.curtrack = 2;
    EXPECT_EQ(cdrom_get_curtime(), 0);
    EXPECT_EQ(take_stderr(), "");
}

TEST_F(CdromTest, CurtimeOpensTheDriveAndGivesZeroWhenItCannot)
{
    start_drive(demo_disc(), {"-debug", "-cdInfoDir", scratch});
    sim_refuse("toc-header", EIO);
    EXPECT_EQ(cdrom_get_curtime(), 0);
    EXPECT_EQ(take_stdout(), "cdrom_get_curtime: error from cdrom_open\n");
    EXPECT_EQ(take_stderr(), "ioctl(cdromreadtochdr): : Input/output error\n");
    EXPECT_EQ(cdrom_fd, -1);

    // A closed drive is opened by the measurement itself.
    sim_refuse_clear();
    EXPECT_EQ(cdrom_get_curtime(), 0);
    EXPECT_NE(cdrom_fd, -1);
    EXPECT_EQ(CDI.max, 3);
}

TEST_F(CdromTest, StatusAndCurrentTrackFollowTheAudioStatus)
{
    ASSERT_EQ(open_disc(demo_disc(), {"-debug"}), 0);
    take_stdout();
    struct Case {
        int audio;
        int status;
        int track;
    } cases[] = {
        {CD_AS_AUDIO_INVALID, CDROM_STATUS_INVALID, -1},
        {CD_AS_PLAY_IN_PROGRESS, CDROM_STATUS_PLAYING, 2},
        {CD_AS_PLAY_PAUSED, CDROM_STATUS_PAUSED, 2},
        {CD_AS_PLAY_COMPLETED, CDROM_STATUS_COMPLETED, 0},
        {CD_AS_PLAY_ERROR, CDROM_STATUS_ERROR, -1},
        {CD_AS_NO_STATUS, CDROM_STATUS_NOSTATUS, 0},
        {0x16, -1, -1},
        {0x10, -1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.audio);
        sim_force_position(c.audio, 2);
        EXPECT_EQ(cdrom_status(), c.status);
        EXPECT_EQ(cdrom_get_curtrack(), c.track);
        EXPECT_EQ(take_stdout(),
                  c.audio == CD_AS_NO_STATUS ? "cdrom_get_curtrack: no status\n" : "");
    }
    EXPECT_EQ(take_stderr(), "");
}

TEST_F(CdromTest, RefusedRequestsReportWithTheirPrefix)
{
    ASSERT_EQ(open_disc(demo_disc()), 0);
    take_stderr();
    const std::string io = ": Input/output error\n";
    msf_t a{0, 2, 0}, b{0, 3, 0}, pos{};

    sim_refuse("stop", EIO);
    EXPECT_EQ(cdrom_stop(), -1);
    sim_refuse("pause", EIO);
    EXPECT_EQ(cdrom_pause(), -1);
    sim_refuse("resume", EIO);
    EXPECT_EQ(cdrom_resume(), -1);
    sim_refuse("volume", EIO);
    EXPECT_EQ(cdrom_volume(100, 100), -1);
    sim_refuse("play", EIO);
    EXPECT_EQ(cdrom_play_tracks(1, 3), -1);
    EXPECT_EQ(cdrom_play_msf(&a, &b), -1);
    EXPECT_EQ(take_stderr(), "ioctl(cdromstop)" + io + "ioctl(cdrompause)" + io +
                                 "ioctl(cdromresume)" + io + "ioctl(cdromvolctrl)" + io +
                                 "ioctl(cdromplaymsftrk)" + io + "ioctl(cdromplaymsf)" + io);

    // The sub-channel report names the platform's first default device,
    // whichever device is open.
    sim_refuse("subchannel", EIO);
    EXPECT_EQ(cdrom_get_curtrack(), -1);
    EXPECT_EQ(cdrom_get_msf(&pos), -1);
    EXPECT_EQ(cdrom_status(), -1);
    std::string sub = "ioctl(cdromsubchnl): /dev/cdrom" + io;
    EXPECT_EQ(take_stderr(), sub + sub + sub);

    // A refused allow keeps the eject from being sent.
    take_requests();
    sim_refuse("allow", EIO);
    EXPECT_EQ(cdrom_eject(), -1);
    EXPECT_EQ(take_stderr(), "ioctl(cdromallow)" + io);
    EXPECT_EQ(requests_named(take_requests(), "eject"), Lines{});
    sim_refuse("allow", 0);
    sim_refuse("eject", EIO);
    EXPECT_EQ(cdrom_eject(), -1);
    EXPECT_EQ(take_stderr(), "ioctl(cdromeject)" + io);
}

TEST_F(CdromTest, SuccessfulRequestsReachTheDrive)
{
    ASSERT_EQ(open_disc(demo_disc()), 0);
    msf_t a{0, 2, 0}, b{0, 3, 7};
    EXPECT_EQ(cdrom_volume(12, 200), 0);
    EXPECT_EQ(sim_last_volume_left(), 12);
    EXPECT_EQ(sim_last_volume_right(), 200);
    take_requests();
    EXPECT_EQ(cdrom_play_msf(&a, &b), 0);
    EXPECT_EQ(requests_named(take_requests(), "play"), (Lines{"play 00:02:00 00:03:07"}));
    EXPECT_EQ(cdrom_pause(), 0);
    EXPECT_EQ(cdrom_status(), CDROM_STATUS_PAUSED);
    EXPECT_EQ(cdrom_resume(), 0);
    EXPECT_EQ(cdrom_status(), CDROM_STATUS_PLAYING);
    EXPECT_EQ(cdrom_get_curtrack(), 1);
    EXPECT_EQ(cdrom_stop(), 0);
    EXPECT_EQ(cdrom_eject(), 0);
    EXPECT_EQ(take_stderr(), "");
}

TEST_F(CdromTest, OpenFailures)
{
    // A device path of our own is named in the report.
    start_toolkit({"-device", "/no/such/dev"});
    EXPECT_EQ(cdrom_open(), -1);
    EXPECT_EQ(cdrom_fd, -1);
    EXPECT_EQ(take_stderr(), "/no/such/dev: No such file or directory\n");

    // An empty drive: the device opens, the header does not; every open
    // says so again and leaves the drive closed.
    std::string sim = "sim:" + disc_path;  // no disc file: tray empty
    app_resources.device = sim.data();
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(cdrom_open(), -1);
        EXPECT_EQ(cdrom_fd, -1);
        std::string err = take_stderr();
        EXPECT_EQ(err.rfind("ioctl(cdromreadtochdr): : ", 0), 0u) << err;
    }
    EXPECT_TRUE(CDI.times.empty());
}

TEST_F(CdromTest, FailedTableReadClosesTheDrive)
{
    start_drive(demo_disc(), {"-cdInfoDir", scratch});
    sim_refuse("toc-entry", EIO);
    EXPECT_EQ(cdrom_open(), -1);
    EXPECT_EQ(cdrom_fd, -1);
    EXPECT_TRUE(CDI.times.empty());
    EXPECT_TRUE(CDI.addrs.empty());
    EXPECT_EQ(take_stderr(), "ioctl(cdromreadtocentry): Input/output error\n");
    EXPECT_FALSE(info_read);
}

namespace {

Lines heard;

void hear(const char *who, disc_event e)
{
    heard.push_back(std::string(who) + (e == disc_event::came ? " came" : " went"));
}
void hear_a(disc_event e) { hear("a", e); }
void hear_b(disc_event e) { hear("b", e); }

}  // namespace

// Each layer hears once of a disc that comes and once of one that goes, in
// the order the layers subscribed; the count tells each change apart.
TEST_F(CdromTest, DiscChangesReachEverySubscriberOnce)
{
    start_drive(demo_disc(), {"-cdInfoDir", scratch});
    disc_subscribe(hear_a);
    disc_subscribe(hear_b);
    disc_subscribe(hear_a);
    struct {
        const char *step;
        bool open;
        Lines told;
    } steps[] = {
        {"open", true, {"a came", "b came"}},
        {"open again", true, {}},
        {"close", false, {"a went", "b went"}},
        {"close again", false, {}},
        {"open anew", true, {"a came", "b came"}},
    };
    for (auto &s : steps) {
        heard.clear();
        unsigned before = disc_changes;
        if (s.open)
            EXPECT_NE(cdrom_open(), -1) << s.step;
        else
            cdrom_close();
        EXPECT_EQ(heard, s.told) << s.step;
        EXPECT_EQ(disc_changes - before, s.told.size() / 2) << s.step;
    }
}

TEST_F(CdromTest, OpenOnAnOpenDriveSendsNothing)
{
    ASSERT_EQ(open_disc(demo_disc()), 0);
    take_requests(true);
    CDI.curtrack = 2;
    EXPECT_EQ(cdrom_open(), 2);
    EXPECT_EQ(take_requests(true), Lines{});
}

TEST_F(CdromTest, FailedCurrentTrackLeavesTheDriveOpenUnread)
{
    start_drive(std::string(demo_disc()) + "idle invalid\n", {"-cdInfoDir", scratch});
    title = "Old Disc";
    info_path = scratch + "/cd.1";
    EXPECT_EQ(cdrom_open(), -1);
    EXPECT_NE(cdrom_fd, -1);
    EXPECT_EQ(CDI.times, (std::vector<uint16_t>{248, 170, 210}));
    EXPECT_EQ(title, std::optional<std::string>("Old Disc"));
    EXPECT_EQ(info_path, scratch + "/cd.1");
    EXPECT_FALSE(info_read);
    EXPECT_EQ(info_file, nullptr);
    EXPECT_EQ(take_stderr(), "");

    take_requests(true);
    EXPECT_EQ(cdrom_open(), 0);
    EXPECT_EQ(take_requests(true), Lines{});
}

TEST_F(CdromTest, ClosedDriveAnswersMinusOneSilently)
{
    start_drive(demo_disc());
    msf_t a{0, 2, 0}, b{0, 3, 0};
    drive_toc_entry entry{};
    uint64_t secs = 0;
    EXPECT_EQ(cdrom_stop(), -1);
    EXPECT_EQ(cdrom_eject(), -1);
    EXPECT_EQ(cdrom_pause(), -1);
    EXPECT_EQ(cdrom_resume(), -1);
    EXPECT_EQ(cdrom_volume(1, 1), -1);
    EXPECT_EQ(cdrom_play_tracks(1, 1), -1);
    EXPECT_EQ(cdrom_play_msf(&a, &b), -1);
    EXPECT_EQ(cdrom_get_curtrack(), -1);
    EXPECT_EQ(cdrom_get_msf(&a), -1);
    EXPECT_EQ(cdrom_status(), -1);
    EXPECT_EQ(cdrom_read_toc(), -1);
    EXPECT_EQ(cdrom_read_toc_entry(1, &entry, sizeof entry), -1);
    EXPECT_EQ(cdrom_toc_entry_msf(1, &a, &secs), -1);
    cdrom_close();
    EXPECT_EQ(take_stderr(), "");
    EXPECT_EQ(take_stdout(), "");
    EXPECT_EQ(take_requests(true), Lines{});
}

TEST_F(CdromTest, NewDiscShowsItsTitleAndGetsAFreshShuffleOrder)
{
    std::string dir = scratch + "/info";
    mkdir(dir.c_str(), 0700);
    write_file(dir + "/cd.406", "Title:Demo\nProgram: 1\n");
    start_player(demo_disc(), {"-cdInfoDir", dir});
    EXPECT_EQ(label_of(titleBar), "Demo");

    // Two tracks of 5 seconds: disc number (5 + 2 * 5) / 2 = 7.
    cdrom_close();
    write_disc("track 1 00:02:00\ntrack 2 00:07:00\nleadout 00:12:00\n");
    write_file(dir + "/cd.7", "Title:Second\n");
    CDI.state |= CDROM_SHUFFLE;
    CDI.currand = 3;
    ASSERT_EQ(cdrom_open(), 0);
    EXPECT_EQ(label_of(titleBar), "Second");
    EXPECT_EQ(CDI.total, 2);
    EXPECT_EQ(CDI.currand, 0);
    std::vector<uint8_t> order = shuffle_order;
    std::sort(order.begin(), order.end());
    EXPECT_EQ(order, (std::vector<uint8_t>{1, 2}));
}
