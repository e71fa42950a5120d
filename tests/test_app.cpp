#include "support/player_fixture.h"

#include "app/app.h"

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
