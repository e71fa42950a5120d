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
#include "drive/digital.h"
#include "playback/playback.h"
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

}  // namespace
