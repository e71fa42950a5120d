// The drive layer's front door: handles, backend choice, and the platform
// backend's answers where there is no drive.
#include "support/player_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "drive/drive.h"
#include "drive/sim.h"

namespace {

// Sends every request to a handle and returns the errno of each (0 for a
// success), in the order of the drive_ops table.
std::vector<int> errnos_of_all_requests(int h)
{
    drive_toc_header hdr{};
    drive_toc_entry e{};
    drive_position pos{};
    msf_t a{0, 2, 0}, b{0, 3, 0};
    std::vector<int> errs;
    auto err = [](int r) { return r == -1 ? errno : 0; };
    errs.push_back(err(drive_read_toc_header(h, &hdr)));
    errs.push_back(err(drive_read_toc_entry(h, 1, &e)));
    errs.push_back(err(drive_read_position(h, &pos)));
    errs.push_back(err(drive_play_msf(h, &a, &b)));
    errs.push_back(err(drive_pause(h)));
    errs.push_back(err(drive_resume(h)));
    errs.push_back(err(drive_stop(h)));
    errs.push_back(err(drive_allow_removal(h)));
    errs.push_back(err(drive_eject(h)));
    errs.push_back(err(drive_set_volume(h, 100, 100)));
    return errs;
}

}  // namespace

using DriveFrontDoor = PlayerTest;

TEST_F(DriveFrontDoor, BadHandlesAnswerEBADF)
{
    std::vector<int> ebadf(10, EBADF);
    EXPECT_EQ(errnos_of_all_requests(-1), ebadf);
    EXPECT_EQ(errnos_of_all_requests(57), ebadf);
    errno = 0;
    EXPECT_EQ(drive_close(-1), -1);
    EXPECT_EQ(errno, EBADF);

    std::string disc = write_file("disc", demo_disc());
    int h = drive_open(("sim:" + disc).c_str());
    ASSERT_GE(h, 0);
    EXPECT_EQ(drive_close(h), 0);
    EXPECT_EQ(errnos_of_all_requests(h), ebadf);
    EXPECT_EQ(drive_close(h), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(DriveFrontDoor, HandlesAreSmallAndReused)
{
    std::string disc = "sim:" + write_file("disc", demo_disc());
    int a = drive_open(disc.c_str());
    int b = drive_open(disc.c_str());
    int c = drive_open("sim:/no/such/disc");
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_GE(c, 0);
    EXPECT_LT(std::max({a, b, c}), 3);
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);

    EXPECT_EQ(drive_close(b), 0);
    int d = drive_open(disc.c_str());
    EXPECT_EQ(d, b);
    // Each handle still reaches its own drive.
    drive_toc_header hdr{};
    EXPECT_EQ(drive_read_toc_header(a, &hdr), 0);
    EXPECT_EQ(drive_read_toc_header(c, &hdr), -1);
    EXPECT_EQ(errno, ENOMEDIUM);
    for (int h : {a, c, d})
        EXPECT_EQ(drive_close(h), 0);
}

TEST_F(DriveFrontDoor, MissingArgumentsAreRefused)
{
    std::string disc = "sim:" + write_file("disc", demo_disc());
    int h = drive_open(disc.c_str());
    ASSERT_GE(h, 0);
    msf_t m{0, 2, 0};
    errno = 0;
    EXPECT_EQ(drive_read_toc_header(h, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(drive_read_toc_entry(h, 1, nullptr), -1);
    EXPECT_EQ(drive_read_position(h, nullptr), -1);
    EXPECT_EQ(drive_play_msf(h, &m, nullptr), -1);
    EXPECT_EQ(drive_play_msf(h, nullptr, &m), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(drive_open(nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    drive_close(h);
}

TEST_F(DriveFrontDoor, PrefixChoosesTheBackend)
{
    std::string disc = write_file("disc", demo_disc());
    // Without the prefix the same file goes to the platform's backend.
    int plain = drive_open(disc.c_str());
    int sim = drive_open(("sim:" + disc).c_str());
    ASSERT_GE(plain, 0);
    ASSERT_GE(sim, 0);
    drive_toc_header hdr{};
    EXPECT_EQ(drive_read_toc_header(sim, &hdr), 0);
    EXPECT_EQ(hdr.last, 3);
    EXPECT_EQ(drive_read_toc_header(plain, &hdr), -1);
    EXPECT_EQ(errno, ENOTTY);
    drive_close(plain);
    drive_close(sim);

    errno = 0;
    EXPECT_EQ(drive_open("sim"), -1);  // a device path, not the simulator
    EXPECT_EQ(errno, ENOENT);
}

// What the layers above read beyond the requests: the device node for the
// platform's backend, nothing for the simulator, a closed slot or a bad
// handle.  (A disc image's sheet is the names tests' business.)
TEST_F(DriveFrontDoor, SourceOfAnOpenDrive)
{
    std::string disc = write_file("disc", demo_disc());
    int plain = drive_open(disc.c_str());
    int sim = drive_open(("sim:" + disc).c_str());
    ASSERT_GE(plain, 0);
    ASSERT_GE(sim, 0);
    struct {
        int handle;
        std::string device;
    } cases[] = {{plain, disc}, {sim, ""}, {-1, ""}, {99, ""}};
    for (const auto &c : cases) {
        drive_source s = drive_source_of(c.handle);
        EXPECT_EQ(s.device, c.device) << c.handle;
        EXPECT_EQ(s.image, "") << c.handle;
    }
    drive_close(plain);
    EXPECT_EQ(drive_source_of(plain).device, "");
    drive_close(sim);
}

TEST_F(DriveFrontDoor, PlatformDefaultPaths)
{
    EXPECT_STREQ(platform_default_paths[0], "/dev/cdrom");
    EXPECT_STREQ(platform_default_paths[1], "/dev/sr0");
    EXPECT_EQ(platform_default_paths[2], nullptr);
}

// A regular file opens like a device node (O_NONBLOCK), and every request
// on it fails with the system's own answer instead of crashing.
TEST_F(DriveFrontDoor, PlatformBackendOnAPlainFile)
{
    std::string file = write_file("not-a-drive", "hello\n");
    int h = drive_open(file.c_str());
    ASSERT_GE(h, 0) << strerror(errno);
    EXPECT_EQ(errnos_of_all_requests(h), std::vector<int>(10, ENOTTY));
    EXPECT_EQ(drive_close(h), 0);

    errno = 0;
    EXPECT_EQ(drive_open((scratch + "/absent").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(drive_open("/dev/this-drive-does-not-exist"), -1);
    EXPECT_EQ(errno, ENOENT);
}

// The platform's drives cannot tell a disc changed behind the player.
TEST_F(DriveFrontDoor, MediaChangedIsUnsupportedByThePlatform)
{
    int h = drive_open(write_file("not-a-drive", "hello\n").c_str());
    ASSERT_GE(h, 0) << strerror(errno);
    errno = 0;
    EXPECT_EQ(drive_media_changed(h), -1);
    EXPECT_EQ(errno, ENOTSUP);
    EXPECT_EQ(drive_close(h), 0);
    EXPECT_EQ(drive_media_changed(h), -1);
    EXPECT_EQ(errno, EBADF);
}

// Addresses at the carries and at the end of a 99-minute disc, each known
// as a frame count, a sector address and an MSF.
TEST(DiscAddresses, ConvertBothWaysAtTheEdges)
{
    struct row {
        long frames;
        msf_t msf;
    };
    const row rows[] = {
        {0, {0, 0, 0}},       {74, {0, 0, 74}},      {75, {0, 1, 0}},
        {150, {0, 2, 0}},     {4499, {0, 59, 74}},   {4500, {1, 0, 0}},
        {269999, {59, 59, 74}}, {270000, {60, 0, 0}}, {449999, {99, 59, 74}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.frames);
        msf_t m = msf_of(r.frames);
        EXPECT_EQ(m.minute, r.msf.minute);
        EXPECT_EQ(m.second, r.msf.second);
        EXPECT_EQ(m.frame, r.msf.frame);
        EXPECT_EQ(msf_frames(r.msf), r.frames);
        EXPECT_EQ(msf_lba(r.msf), r.frames - 150);
        msf_t back = msf_of_lba(r.frames - 150);
        EXPECT_EQ(msf_frames(back), r.frames);
        EXPECT_TRUE(msf_valid(r.msf));
    }
    EXPECT_EQ(msf_seconds(msf_t{99, 59, 74}), 5999);
    EXPECT_EQ(msf_frames(0, 90, 0), 6750);  // a cue sheet's "PREGAP 00:90:00"
    EXPECT_FALSE(msf_valid(msf_t{0, 60, 0}));
    EXPECT_FALSE(msf_valid(msf_t{0, 0, 75}));
}
