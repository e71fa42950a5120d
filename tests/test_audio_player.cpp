// The player on a disc image: the same buttons and trace as on a drive
// that plays by itself, and what was heard is the image, frame for frame.
#include "support/player_fixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "app/app.h"
#include "audio/audio.h"
#include "disc/cdrom.h"
#include "disc/disc_change.h"
#include "drive/digital.h"
#include "playback/playback.h"
#include "support/playback_helpers.h"
#include "ui/ui.h"

namespace {

constexpr long T1 = 150, T2 = 100;  // sectors

class DigitalPlayer : public PlayerTest {
protected:
    std::vector<int16_t> disc;
    std::string cue, out;

    void SetUp() override
    {
        PlayerTest::SetUp();
        audio_clock_use_manual(true);
        disc.resize((T1 + T2) * SECTOR_FRAMES * 2);
        uint32_t x = 12345;
        for (int16_t &v : disc) {
            x = x * 1664525u + 1013904223u;
            v = static_cast<int16_t>(x >> 16);
        }
        write_file("disc.bin", std::string(reinterpret_cast<const char *>(disc.data()),
                                           disc.size() * 2));  // little-endian host
        cue = write_file("disc.cue", "FILE \"disc.bin\" BINARY\n"
                                     "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                     "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n");
        out = scratch + "/heard.wav";
        start_player(demo_disc(), {"-device", cue, "-audioDevice", "wav:" + out});
        // Full volume: the samples pass bit for bit (the window starts lower).
        cdrom_volume(255, 255);
    }

    void TearDown() override
    {
        cdrom_close();
        audio_clock_use_manual(false);
        PlayerTest::TearDown();
    }

    // A quarter of a second of play and the player's tick.
    void tick()
    {
        ASSERT_TRUE(digital_settle(5000));
        audio_clock_advance_ms(250);
        ASSERT_TRUE(digital_settle(5000));
        fire_play_timer();
    }

    // Compares, saying where the two part.
    void expect_heard_disc_but_last_sector()
    {
        std::vector<int16_t> got = heard();
        std::vector<int16_t> want(disc.begin(), disc.end() - SECTOR_FRAMES * 2);
        EXPECT_EQ(got.size(), want.size());
        auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
        EXPECT_TRUE(diff.first == got.end() && diff.second == want.end())
            << "first difference at sample " << (diff.first - got.begin());
    }

    std::vector<int16_t> heard()
    {
        cdrom_close();  // closes the sound file, in a thread of its own
        EXPECT_TRUE(audio_wait_threads(5000));
        std::ifstream in(out, std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<int16_t> s((all.size() - 44) / 2);
        memcpy(s.data(), all.data() + 44, s.size() * 2);
        return s;
    }
};

TEST_F(DigitalPlayer, PlayFollowsTheTracksAndEndsOnceWithTheWholeDiscHeard)
{
    ASSERT_EQ(CDI.min, 1);
    ASSERT_EQ(CDI.max, 2);
    take_stdout();
    click(playButton);
    EXPECT_EQ(CDI.curtrack, 1);
    for (int i = 0; i < 4; i++)
        tick();
    EXPECT_EQ(CDI.curtrack, 1);
    for (int i = 0; i < 5; i++)
        tick();
    EXPECT_EQ(CDI.curtrack, 2) << "the drive's track moved on after two seconds";
    for (int i = 0; i < 20 && CDI.curtrack != 0; i++)
        tick();
    EXPECT_EQ(CDI.curtrack, 0);
    std::string trace = take_stdout();
    EXPECT_NE(trace.find("cdrom_atend: all done\n"), std::string::npos) << trace;
    // The player's range ends one frame before the lead-out.
    expect_heard_disc_but_last_sector();
}

TEST_F(DigitalPlayer, PauseButtonHoldsTheSoundAndTheCounter)
{
    click(playButton);
    tick();
    tick();
    click(pauseButton);
    int at = cdrom_get_curtime();
    for (int i = 0; i < 8; i++) {
        ASSERT_TRUE(digital_settle(5000));
        audio_clock_advance_ms(250);
    }
    ASSERT_TRUE(digital_settle(5000));
    EXPECT_EQ(cdrom_status(), CDROM_STATUS_PAUSED);
    EXPECT_EQ(cdrom_get_curtime(), at);
    click(pauseButton);
    for (int i = 0; i < 30 && CDI.curtrack != 0; i++)
        tick();
    expect_heard_disc_but_last_sector();
}

// A sound device that cannot be had: the play fails as a refusing
// drive's, the player stops on the track asked for rather than run
// through the disc unheard or say Playing, and the next Play, once the
// device is there, is heard from the start.
TEST_F(DigitalPlayer, AMissingDeviceStopsThePlayerAndTheNextPlayIsHeard)
{
    cdrom_close();
    std::string dir = scratch + "/later";
    out = dir + "/heard.wav";
    std::string device = "wav:" + out;
    app_resources.audioDevice = const_cast<char *>(device.c_str());
    take_stdout();
    take_stderr();
    click(playButton);
    for (int i = 0; i < 12 && (CDI.state & CDROM_PLAYING); i++) {
        tick();
        while (XtAppPending(app_context) & XtIMAlternateInput)
            XtAppProcessEvent(app_context, XtIMAlternateInput);
    }
    std::string trace = take_stdout();
    EXPECT_EQ(trace.find("cdrom_atend"), std::string::npos) << trace;
    EXPECT_NE(trace.find("cb_cdrom_stop"), std::string::npos) << trace;
    EXPECT_FALSE(CDI.state & CDROM_PLAYING);
    EXPECT_TRUE(toggle_on(stopButton));
    EXPECT_FALSE(toggle_on(playButton));
    std::string err = take_stderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("audio device \"" + out + "\": No such file or directory"), std::string::npos)
        << err;
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    click(playButton);
    for (int i = 0; i < 30 && CDI.curtrack != 0; i++)
        tick();
    EXPECT_EQ(CDI.curtrack, 0);
    expect_heard_disc_but_last_sector();
}

std::vector<disc_event> heard_changes;

void hear_change(disc_event e)
{
    heard_changes.push_back(e);
}

const char *const three_track_sheet = "FILE \"disc.bin\" BINARY\n"
                                      "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                      "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n"
                                      "  TRACK 03 AUDIO\n    INDEX 01 00:02:00\n";

// The sheet rewritten while the disc plays is another disc put in: the
// tick stops the play and takes the old disc out, as an eject does but
// without one, and the poll reads the new disc; the layers hear it go and
// come, so that the desktop's track ids change.
TEST_F(DigitalPlayer, ASheetRewrittenWhilePlayingIsANewDiscTheNextPollReads)
{
    heard_changes.clear();
    disc_subscribe(hear_change);
    unsigned changes = disc_changes;
    click(playButton);
    tick();
    tick();
    ASSERT_EQ(CDI.curtrack, 1);
    take_stdout();

    write_file("disc.cue", three_track_sheet);
    tick();
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cdrom_disc_changed: new disc on track 1", "program mode cancelled"}));
    EXPECT_EQ(heard_changes, std::vector<disc_event>{disc_event::went});
    EXPECT_EQ(flags(), CDROM_EJECTED);
    EXPECT_EQ(cdrom_fd, -1);
    EXPECT_EQ(play_timer, TIMER_NONE);
    EXPECT_FALSE(toggle_on(playButton));
    EXPECT_FALSE(toggle_on(ejectButton));  // no eject: the tray never opened
    EXPECT_EQ(title, std::optional<std::string>("No Disc"));

    cdrom_poll(nullptr, nullptr);
    EXPECT_EQ(heard_changes, (std::vector<disc_event>{disc_event::went, disc_event::came}));
    EXPECT_EQ(disc_changes, changes + 2);
    EXPECT_EQ(flags(), 0u);
    EXPECT_EQ(CDI.max, 3);
    ASSERT_EQ(CDI.addrs.size(), 4u);
    EXPECT_EQ(msf_frames(CDI.addrs[1]), 150 + 75);
    EXPECT_TRUE(toggle_on(stopButton));
    EXPECT_NE(title, std::optional<std::string>("No Disc"));
    expect_invariants();

    // Played from the first track of the new disc; nothing more changes.
    click(playButton);
    for (int i = 0; i < 6; i++)
        tick();
    EXPECT_EQ(CDI.curtrack, 2);
    cdrom_poll(nullptr, nullptr);
    EXPECT_EQ(heard_changes.size(), 2u);
    EXPECT_EQ(flags(), CDROM_PLAYING);
}

// While stopped, the poll alone takes each change: one poll takes the old
// disc out and reads the new one; a sheet taken away leaves no disc, and
// written back, the disc is read again.
TEST_F(DigitalPlayer, ThePollTakesEachChangeOfTheSheet)
{
    heard_changes.clear();
    disc_subscribe(hear_change);
    auto came = [] {
        return std::count(heard_changes.begin(), heard_changes.end(), disc_event::came);
    };
    cdrom_poll(nullptr, nullptr);
    EXPECT_TRUE(heard_changes.empty());

    write_file("disc.cue", three_track_sheet);
    cdrom_poll(nullptr, nullptr);
    EXPECT_EQ(heard_changes, (std::vector<disc_event>{disc_event::went, disc_event::came}));
    EXPECT_EQ(CDI.max, 3);
    EXPECT_EQ(flags(), 0u);

    take_stdout();
    ASSERT_EQ(unlink(cue.c_str()), 0);
    cdrom_poll(nullptr, nullptr);
    EXPECT_EQ(came(), 1);
    EXPECT_EQ(heard_changes.back(), disc_event::went);
    EXPECT_EQ(flags(), CDROM_EJECTED);
    EXPECT_EQ(cdrom_fd, -1);
    EXPECT_EQ(title, std::optional<std::string>("No Disc"));
    EXPECT_EQ(trace_lines(take_stdout()),
              (Lines{"cdrom_disc_changed: new disc on track 0", "program mode cancelled",
                     "cdrom_open: cdrom not ready"}));

    write_file("disc.cue", three_track_sheet);
    cdrom_poll(nullptr, nullptr);
    EXPECT_EQ(came(), 2);
    EXPECT_EQ(CDI.max, 3);
    EXPECT_EQ(flags(), 0u);
}

}  // namespace
