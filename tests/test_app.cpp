// Start-up: options, resources, the information directory, the trace and
// the display.
#include "support/player_fixture.h"

#include <sys/prctl.h>

#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "disc/cdrom.h"

TEST_F(PlayerTest, ResourceDefaults)
{
    start_toolkit({});
    EXPECT_EQ(app_resources.file, nullptr);
    EXPECT_EQ(app_resources.device, nullptr);
    EXPECT_FALSE(app_resources.debug);
    EXPECT_TRUE(app_resources.displayTimer);
    EXPECT_FLOAT_EQ(app_resources.volBase, 187.0f);
    EXPECT_FLOAT_EQ(app_resources.volPcent, 0.267f);
    EXPECT_EQ(app_resources.replayThreshold, 4);
    EXPECT_EQ(app_resources.pauseSkipInterval, 15);
    EXPECT_EQ(app_resources.scanSkipInterval, 1);
    EXPECT_FLOAT_EQ(app_resources.scanPauseInterval, 0.062f);
    EXPECT_FLOAT_EQ(app_resources.pausePauseInterval, 0.5f);
}

TEST_F(PlayerTest, OptionsAnywhereAmongTheArguments)
{
    setenv("MURBELINFODIR", "/from/environment", 1);
    start_toolkit({"stray", "-volBase", "200", "-cdInfoDir", "/from/option", "other", "-debug",
                   "-file", "notes.txt", "last"});
    EXPECT_TRUE(app_resources.debug);
    EXPECT_FLOAT_EQ(app_resources.volBase, 200.0f);
    EXPECT_FLOAT_EQ(app_resources.volPcent, 0.267f);  // independent of volBase
    ASSERT_NE(app_resources.cdInfoDir, nullptr);
    EXPECT_STREQ(app_resources.cdInfoDir, "/from/option");
    ASSERT_NE(app_resources.file, nullptr);
    EXPECT_STREQ(app_resources.file, "notes.txt");
    EXPECT_EQ(take_stdout(), "");
}

TEST_F(PlayerTest, FileConsumesItsValue)
{
    start_toolkit({"-file", "-debug", "-volPcent", "0.5"});
    ASSERT_NE(app_resources.file, nullptr);
    EXPECT_STREQ(app_resources.file, "-debug");
    EXPECT_FALSE(app_resources.debug);
    EXPECT_FLOAT_EQ(app_resources.volPcent, 0.5f);
    EXPECT_FLOAT_EQ(app_resources.volBase, 187.0f);
}

TEST_F(PlayerTest, ResourceDatabaseSetsDebugAndDirectory)
{
    setenv("MURBELINFODIR", "/from/environment", 1);
    start_toolkit({"-xrm", "*debug: True", "-xrm", "*cdInfoDir: /from/resource"});
    EXPECT_TRUE(app_resources.debug);
    ASSERT_NE(app_resources.cdInfoDir, nullptr);
    EXPECT_STREQ(app_resources.cdInfoDir, "/from/resource");
}

TEST_F(PlayerTest, InfoDirFromTheEnvironment)
{
    setenv("MURBELINFODIR", "/from/environment", 1);
    start_toolkit({});
    ASSERT_NE(app_resources.cdInfoDir, nullptr);
    EXPECT_STREQ(app_resources.cdInfoDir, "/from/environment");
}

TEST_F(PlayerTest, EmptyInfoDirIsNotNoDir)
{
    setenv("MURBELINFODIR", "", 1);
    start_toolkit({});
    ASSERT_NE(app_resources.cdInfoDir, nullptr);
    EXPECT_STREQ(app_resources.cdInfoDir, "");
}

TEST_F(PlayerTest, NoInfoDirAtAll)
{
    unsetenv("MURBELINFODIR");
    start_toolkit({});
    EXPECT_EQ(app_resources.cdInfoDir, nullptr);
}

TEST_F(PlayerTest, DisplayTimerOffOnlyThroughTheDatabase)
{
    start_toolkit({"-xrm", "*displayTimer: False"});
    EXPECT_FALSE(app_resources.displayTimer);
}

TEST_F(PlayerTest, DisplayTimerOptionOnlyTurnsItOn)
{
    start_toolkit({"-xrm", "*displayTimer: False", "-displayTimer"});
    EXPECT_TRUE(app_resources.displayTimer);
}

TEST_F(PlayerTest, NoTraceWithoutDebug)
{
    // An idle drive without status makes the player trace "no status".
    start_drive(demo_disc(), {"-cdInfoDir", scratch});
    EXPECT_EQ(cdrom_open(), 0);
    EXPECT_EQ(cdrom_get_curtrack(), 0);
    debug_log(1, "never shown\n");
    EXPECT_EQ(take_stdout(), "");

    app_resources.debug = True;
    EXPECT_EQ(cdrom_get_curtrack(), 0);
    debug_log(0, "level 0 never shown\n");
    EXPECT_EQ(take_stdout(), "cdrom_get_curtrack: no status\n");
}

TEST_F(PlayerTest, NoDisplayEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            start_toolkit({"-debug", "-device", "sim:" + disc_path});
        },
        ::testing::ExitedWithCode(1), "^can't open display\n$");
    // The child shares the captured standard output.
    EXPECT_EQ(take_stdout(), "");
}

// The toolkit sleeps until its next timer in whole milliseconds, rounded
// down, then polls through the rest: near a millisecond of busy waiting
// on every tick.  Late wake-ups of up to 2 ms put the wake-up past the
// deadline instead (scripts/bench measures what that saves).
TEST_F(PlayerTest, TimersMayWakeLateRatherThanSpin)
{
    start_toolkit({});
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 2000000);
}
