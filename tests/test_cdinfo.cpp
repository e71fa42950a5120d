// The per-disc information file: its name, reading the title and program,
// and saving them without ever losing the stored file.
#include "support/player_fixture.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/app.h"
#include "disc/cdinfo.h"
#include "disc/cdrom.h"

namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Files in dir other than the one named keep.
std::vector<std::string> strays(const std::string &dir, const std::string &keep)
{
    std::vector<std::string> out;
    for (const auto &e : fs::directory_iterator(dir))
        if (e.path().filename() != keep)
            out.push_back(e.path().filename());
    return out;
}

class CdinfoTest : public PlayerTest {
protected:
    std::string info_dir;

    void SetUp() override
    {
        PlayerTest::SetUp();
        info_dir = scratch + "/info";
        fs::create_directory(info_dir);
    }

    // The demo disc (number 406) in the drive, its information read.
    void open_demo(std::vector<std::string> args = {})
    {
        args.insert(args.end(), {"-debug", "-cdInfoDir", info_dir});
        start_drive(demo_disc(), args);
        ASSERT_EQ(cdrom_open(), 0);
        take_stdout();
    }

    std::string demo_info() { return info_dir + "/cd.406"; }

    void save() { cb_save_program(nullptr, nullptr, nullptr); }
};

}  // namespace

TEST_F(CdinfoTest, FileIsNamedAfterTheDiscNumber)
{
    open_demo();
    EXPECT_EQ(disc_id(), 406u);
    EXPECT_EQ(info_path, demo_info());
    EXPECT_EQ(title, std::optional<std::string>("No Title"));
    EXPECT_EQ(info_file, nullptr);

    // Without a directory the file is in the current one.
    app_resources.cdInfoDir = nullptr;
    cdinfo_read();
    EXPECT_EQ(info_path, "cd.406");

    // An empty directory (MURBELINFODIR set but empty) is the current one
    // too, never the root of the file system.
    app_resources.cdInfoDir = const_cast<char *>("");
    cdinfo_read();
    EXPECT_EQ(info_path, "cd.406");

    // With a higher first track: sum of number times length over the
    // tracks present, divided by their count.
    cdrom_close();
    write_disc("track 3 00:02:00\ntrack 4 03:00:00\ntrack 5 04:00:10\nleadout 06:00:00\n");
    ASSERT_EQ(cdrom_open(), 0);
    EXPECT_EQ(disc_id(), (3u * 178 + 4 * 60 + 5 * 120) / 3);
}

TEST_F(CdinfoTest, TitleAndProgramLines)
{
    open_demo();
    struct Case {
        const char *file;
        const char *title;
        const char *program;
    } cases[] = {
        {"Title:Greatest Hits\nProgram: 3-1-4\n", "Greatest Hits", "3-1-4"},
        {"Title: Live\nProgram:3-1-4\n", " Live", "3-1-4"},
        {"Name:Live\nProgram: \t 2-10  trailing\n", "Live", "2-10"},
        {"Title:a:b\nProgram: \n", "a:b", ""},
        {"no colon here\nProgram: 5\n", "No Title", "5"},
        {"Title:X\nprogram: 5\n", "X", ""},
        {"Title:X\n Program: 5\n", "X", ""},
        {"Title:Ends without newline", "Ends without newline", ""},
        {"Title:\nProgram: 7\nProgram: 8\n", "", "7"},
        {"", "No Title", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        write_file(demo_info(), c.file);
        program_string = "9-9-9";  // left over from another disc
        cdinfo_read();
        EXPECT_EQ(title, std::optional<std::string>(c.title));
        EXPECT_EQ(program_string, c.program);
        EXPECT_NE(info_file, nullptr);
        EXPECT_TRUE(info_read);
    }

    // No file at all: no title, no program.
    fs::remove(demo_info());
    program_string = "9-9-9";
    cdinfo_read();
    EXPECT_EQ(title, std::optional<std::string>("No Title"));
    EXPECT_EQ(program_string, "");
    EXPECT_EQ(info_file, nullptr);
    EXPECT_EQ(take_stderr(), "");
}

TEST_F(CdinfoTest, NoDiscLeavesEverythingAsItWas)
{
    open_demo();
    CDI.max = 0;
    info_path = "somewhere";
    title = "Kept";
    program_string = "1-2";
    cdinfo_read();
    EXPECT_EQ(info_path, "somewhere");
    EXPECT_EQ(title, std::optional<std::string>("Kept"));
    EXPECT_EQ(program_string, "1-2");
    EXPECT_EQ(info_file, nullptr);
}

TEST_F(CdinfoTest, LongLinesAreReadWhole)
{
    open_demo();
    std::string long_title(300, 'T');
    std::string program;
    for (int i = 0; i < 200; i++)
        program += (i ? "-" : "") + std::to_string(i % 3 + 1);
    write_file(demo_info(), "Title:" + long_title + "\nProgram: 3-1-4\n");
    cdinfo_read();
    EXPECT_EQ(title, std::optional<std::string>(long_title));
    EXPECT_EQ(program_string, "3-1-4");

    // A 200-selection program survives a save and a read.
    program_string = program;
    save();
    EXPECT_EQ(slurp(demo_info()), "Title:" + long_title + "\nProgram: " + program + "\n");
    program_string.clear();
    cdinfo_read();
    EXPECT_EQ(program_string, program);
    EXPECT_EQ(title, std::optional<std::string>(long_title));
}

TEST_F(CdinfoTest, SaveWritesTitleAndProgramAndHoldsTheFile)
{
    open_demo();
    write_file(demo_info(), "Title:Old\nProgram: 1\n");
    chmod(demo_info().c_str(), 0640);
    cdinfo_read();
    title = "New";
    program_string = "";
    save();
    EXPECT_EQ(slurp(demo_info()), "Title:New\nProgram: \n");
    EXPECT_EQ(take_stdout(), "program saved to " + demo_info() + "\n");
    EXPECT_EQ(take_stderr(), "");
    ASSERT_NE(info_file, nullptr);
    EXPECT_EQ(ftell(info_file), static_cast<long>(strlen("Title:New\nProgram: \n")));
    EXPECT_EQ(strays(info_dir, "cd.406"), std::vector<std::string>{});
    struct stat st;
    ASSERT_EQ(stat(demo_info().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A link to the file is written through, not replaced.
    std::string real = scratch + "/real406";
    fs::rename(demo_info(), real);
    fs::create_symlink(real, demo_info());
    program_string = "2-3";
    save();
    EXPECT_TRUE(fs::is_symlink(demo_info()));
    EXPECT_EQ(slurp(real), "Title:New\nProgram: 2-3\n");
}

TEST_F(CdinfoTest, FailedSaveKeepsTheOldFile)
{
    open_demo();
    const std::string old = "Title:Stored\nProgram: 3-1-4\n";
    write_file(demo_info(), old);
    cdinfo_read();
    title = std::string(10000, 'x');

    // A file size limit makes the write fail (as a full disk would), even
    // for root; the captured trace and reports stay well below it.
    signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    save();
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(take_stderr(),
              "Can't open save file " + demo_info() + "\ncb_save_program: File too large\n");
    EXPECT_EQ(slurp(demo_info()), old);
    EXPECT_EQ(info_file, nullptr);
    EXPECT_EQ(strays(info_dir, "cd.406"), std::vector<std::string>{});
    EXPECT_EQ(take_stdout(), "");

    // The directory has gone and a file stands in its place.
    fs::remove_all(info_dir);
    write_file(info_dir, "not a directory");
    save();
    EXPECT_EQ(take_stderr(),
              "Can't open save file " + demo_info() + "\ncb_save_program: Not a directory\n");
    EXPECT_EQ(slurp(info_dir), "not a directory");
    EXPECT_EQ(info_file, nullptr);

    // The rename cannot replace a directory of that name.
    fs::remove(info_dir);
    fs::create_directories(demo_info());
    write_file(demo_info() + "/keep", "kept");
    save();
    EXPECT_EQ(take_stderr(),
              "Can't open save file " + demo_info() + "\ncb_save_program: Is a directory\n");
    EXPECT_EQ(slurp(demo_info() + "/keep"), "kept");
    EXPECT_EQ(strays(info_dir, "cd.406"), std::vector<std::string>{});
    EXPECT_EQ(info_file, nullptr);
    EXPECT_EQ(take_stdout(), "");
}

TEST_F(CdinfoTest, SaveRefusedForADiscReadWithoutItsFile)
{
    open_demo();
    const std::string stored = "Title:First Disc\nProgram: 1-2\n";
    write_file(demo_info(), stored);
    cdinfo_read();

    // The next disc cannot say where the drive is, so its file is not read.
    cdrom_close();
    write_disc("track 1 00:02:00\nleadout 20:00:00\nidle invalid\n");
    EXPECT_EQ(cdrom_open(), -1);
    program_string = "1";
    save();
    EXPECT_EQ(take_stderr(), "cb_save_program: no information read for this disc, not saving\n");
    EXPECT_EQ(slurp(demo_info()), stored);
    EXPECT_EQ(take_stdout(), "");

    // Nothing read at all.
    cdrom_close();
    save();
    EXPECT_EQ(take_stderr(), "cb_save_program: no information read for this disc, not saving\n");
}

TEST_F(CdinfoTest, DiscsWithTheSameNumberShareAFile)
{
    open_demo();
    title = "Shared";
    program_string = "2-1";
    save();

    // One track of 406 seconds is disc number 406 as well.
    cdrom_close();
    write_disc("track 1 00:02:00\nleadout 06:48:00\n");
    title.reset();
    program_string.clear();
    ASSERT_EQ(cdrom_open(), 0);
    EXPECT_EQ(info_path, demo_info());
    EXPECT_EQ(title, std::optional<std::string>("Shared"));
    EXPECT_EQ(program_string, "2-1");

    // A disc whose file holds no program does not keep the last disc's.
    cdrom_close();
    write_disc("track 1 00:02:00\nleadout 00:12:00\n");
    write_file(info_dir + "/cd.10", "Title:Ten\n");
    ASSERT_EQ(cdrom_open(), 0);
    EXPECT_EQ(title, std::optional<std::string>("Ten"));
    EXPECT_EQ(program_string, "");
}
