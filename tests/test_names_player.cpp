// Names where the user sees them, through the real widgets: the title bar
// and the window's title, the order of trust, and the online lookup
// against a local server speaking MusicBrainz's format.
#include "support/player_fixture.h"

#include <X11/Shell.h>
#include <X11/StringDefs.h>
#include <X11/Xaw/Dialog.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/app.h"
#include "disc/cdinfo.h"
#include "disc/cdrom.h"
#include "drive/sim.h"
#include "names/internal.h"
#include "names/names.h"
#include "playback/playback.h"
#include "ui/ui.h"

namespace fs = std::filesystem;

namespace {

// demo_disc(): freedb ID 0f027403.
const char *const DEMO_XMCD =
    "# xmcd\n#\n# Track frame offsets:\n#\t150\n#\t18783\n#\t31500\n#\n"
    "DISCID=0f027403\nDTITLE=Beyonc\xc3\xa9 / Lemonade\nTTITLE0=Pray You Catch Me\n"
    "TTITLE1=Hold \nTTITLE1=Up\nTTITLE2=\n";
// Another disc: tracks at 0:02:00 and 5:00:00, lead-out 9:00:00.
const char *const OTHER_DISC = "track 1 00:02:00\ntrack 2 05:00:00\nleadout 09:00:00\n";

std::string shell_string(const char *name)
{
    String s = nullptr;
    XtVaGetValues(top_shell, name, &s, nullptr);
    return s ? s : "";
}

std::string read_all(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void wake(XtPointer, XtIntervalId *) {}

// Runs the event loop until cond holds or ms pass; the toolkit wakes up
// at least every 50 ms to look.
bool run_until(const std::function<bool()> &cond, int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        XtAppAddTimeOut(app_context, 50, wake, nullptr);
        XtAppProcessEvent(app_context, XtIMAll);
    }
    return true;
}

}  // namespace

class NamesPlayerTest : public PlayerTest {
protected:
    std::string cddb() { return scratch + "/cddb"; }
    std::string info() { return scratch + "/info"; }
    void start(const std::string &disc, std::vector<std::string> extra = {})
    {
        fs::create_directories(info());
        extra.insert(extra.end(), {"-cdInfoDir", info(), "-xrm", "*cddbPath: " + cddb()});
        start_player(disc, extra);
    }
    void put_xmcd(const std::string &rel, const std::string &text)
    {
        fs::create_directories(fs::path(cddb() + "/" + rel).parent_path());
        write_file(cddb() + "/" + rel, text);
    }
    std::string window_title() { return shell_string(XtNtitle); }
    // Eject, and put another disc in: the poll finds it.
    void change_disc(const std::string &disc)
    {
        if (toggle_on(ejectButton))
            click(ejectButton);  // the poll leaves the button on
        click(ejectButton);
        ASSERT_TRUE(CDI.state & CDROM_EJECTED);
        write_disc(disc);
        cdrom_poll(nullptr, nullptr);
    }
    void accept_title(const char *text)
    {
        click(titleBar);
        XtVaSetValues(XtNameToWidget(titleDialog, "value"), XtNstring, text, nullptr);
        XtCallActionProc(titleDialog, "done", nullptr, nullptr, 0);
    }
};

TEST_F(NamesPlayerTest, CddbNamesShowWhereTheTitleGaveNone)
{
    put_xmcd("rock/0f027403", DEMO_XMCD);
    start(demo_disc());
    EXPECT_EQ(take_stdout(),
              "cdrom_get_curtrack: no status\nnames: cddb " + cddb() + "/rock/0f027403\n");
    // The fonts are Latin-1: the UTF-8 name is drawn in it.
    EXPECT_EQ(label_of(titleBar), "Beyonc\xe9 - Lemonade");
    // The title itself stays the placeholder, as the save path expects.
    ASSERT_TRUE(title.has_value());
    EXPECT_EQ(*title, "No Title");
    EXPECT_EQ(window_title(), "Lemonade");
    EXPECT_EQ(shell_string(XtNiconName), "Lemonade");
    EXPECT_EQ(known_names.artist, "Beyonc\xc3\xa9");

    struct {
        Widget *button;
        const char *window;
    } steps[] = {
        {&nextButton, "1. Pray You Catch Me - Lemonade"},
        {&nextButton, "2. Hold Up - Lemonade"},
        {&nextButton, "Lemonade"},  // track 3 has no name
        {&prevButton, "2. Hold Up - Lemonade"},
    };
    for (const auto &s : steps) {
        click(*s.button);
        EXPECT_EQ(window_title(), s.window) << "on track " << int(CDI.curtrack);
    }

    cb_save_program(nullptr, nullptr, nullptr);
    EXPECT_EQ(read_all(info_path), "Title:No Title\nProgram: \n");

    accept_title("Mine");
    EXPECT_EQ(label_of(titleBar), "Mine");
    EXPECT_EQ(window_title(), "2. Hold Up - Mine");
    accept_title("No Title");  // typed back: the names show again
    EXPECT_EQ(label_of(titleBar), "Beyonc\xe9 - Lemonade");
    accept_title("");  // an empty title is shown empty, as ever
    EXPECT_EQ(label_of(titleBar), "");
    EXPECT_EQ(window_title(), "2. Hold Up - Lemonade");

    click(ejectButton);
    EXPECT_EQ(label_of(titleBar), "No Disc");
    EXPECT_EQ(window_title(), "Murbel");
    EXPECT_TRUE(known_names.source.empty());
}

TEST_F(NamesPlayerTest, StoredTitleWins)
{
    put_xmcd("0f027403", DEMO_XMCD);
    fs::create_directories(info());
    write_file(info() + "/cd.406", "Title:Stored\nProgram: 2\n");
    start(demo_disc());
    EXPECT_EQ(label_of(titleBar), "Stored");
    EXPECT_EQ(window_title(), "Stored");
    click(nextButton);
    EXPECT_EQ(window_title(), "1. Pray You Catch Me - Stored");
    cb_save_program(nullptr, nullptr, nullptr);
    EXPECT_EQ(read_all(info() + "/cd.406"), "Title:Stored\nProgram: 2\n");
}

// The network library is loaded only once the user asks for a lookup.
bool libcurl_loaded()
{
    return read_all("/proc/self/maps").find("/libcurl") != std::string::npos;
}

TEST_F(NamesPlayerTest, NothingKnown)
{
    start(demo_disc());
    EXPECT_FALSE(libcurl_loaded());
    EXPECT_EQ(take_stdout(), "cdrom_get_curtrack: no status\n");
    EXPECT_EQ(label_of(titleBar), "No Title");
    EXPECT_EQ(window_title(), "Murbel");
    click(nextButton);
    EXPECT_EQ(window_title(), "Murbel");
}

// A sheet named in capitals is an image to the drive layer, and so it is
// to the names: its CD-Text is read, no drive is asked.
TEST_F(NamesPlayerTest, CueSheetNamedInCapitalsGivesItsCdText)
{
    write_file(scratch + "/disc.bin", std::string(100L * 2352, '\0'));
    std::string cue = write_file(scratch + "/ALBUM.CUE",
                                 "PERFORMER \"Nobody\"\nTITLE \"Silence\"\n"
                                 "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    start(demo_disc(), {"-device", cue, "-audioDevice", "wav:" + scratch + "/heard.wav"});
    EXPECT_EQ(known_names.source, "cue " + cue);
    EXPECT_EQ(label_of(titleBar), "Nobody - Silence");
}

TEST_F(NamesPlayerTest, NewDiscBringsItsOwnNames)
{
    put_xmcd("0f027403", DEMO_XMCD);
    put_xmcd("misc/05021a02", "DTITLE=Sonny Rollins / Saxophone Colossus\nTTITLE0=St. Thomas\n");
    start(demo_disc());
    change_disc(OTHER_DISC);
    EXPECT_EQ(label_of(titleBar), "Sonny Rollins - Saxophone Colossus");
    EXPECT_EQ(window_title(), "Saxophone Colossus");
    click(nextButton);
    EXPECT_EQ(window_title(), "1. St. Thomas - Saxophone Colossus");
}

// "Liquid" by Recoil, an enhanced CD (its table of contents from ARver's
// notes on data tracks): ten audio tracks, then the data session.
const char *const ENHANCED_CD =
    "track 1 00:02:00\ntrack 2 02:50:17\ntrack 3 08:59:62\ntrack 4 14:03:00\n"
    "track 5 20:45:35\ntrack 6 26:14:65\ntrack 7 33:44:65\ntrack 8 40:57:65\n"
    "track 9 47:50:10\ntrack 10 54:59:30\ntrack 11 62:36:35 data\nleadout 74:10:51\n";

TEST_F(NamesPlayerTest, EnhancedCdIsNamedAndPlayedAsADriveDoes)
{
    // Its CDDB file is named by the freedb ID of every track, data too.
    std::string xmcd = "DISCID=9e11600b\nDTITLE=Recoil / Liquid\n";
    for (int t = 0; t < 10; t++)
        xmcd += "TTITLE" + std::to_string(t) + "=Song " + std::to_string(t + 1) + "\n";
    xmcd += "TTITLE10=Data\n";
    put_xmcd("misc/9e11600b", xmcd);
    start(ENHANCED_CD);
    EXPECT_EQ(take_stdout(),
              "cdrom_get_curtrack: no status\nnames: cddb " + cddb() + "/misc/9e11600b\n");
    disc_toc toc = current_toc();
    ASSERT_EQ(toc.data.size(), 11u);
    EXPECT_EQ(std::count(toc.data.begin(), toc.data.end(), true), 1);
    EXPECT_TRUE(toc.data[10]);
    EXPECT_EQ(musicbrainz_id(toc), "9AQWqQ0eCCwktwPPrIUIYkUw2Uo-");

    // Play: the drive plays the audio and stops where its session ends.
    take_requests();
    click(playButton);
    EXPECT_EQ(take_stdout(), "cdrom_play: starting track 1\n");
    EXPECT_EQ(take_requests(), (std::vector<std::string>{"play 00:02:00 74:10:50"}));
    int highest = 0;
    for (int s = 0; s < 61 * 60 && CDI.curtrack != 0; s += 5) {
        sim_advance_ms(5000);
        fire_play_timer();
        highest = std::max(highest, static_cast<int>(CDI.curtrack));
    }
    EXPECT_EQ(highest, 10);
    std::string out = take_stdout();
    EXPECT_NE(out.find("cdrom_atend: at end\ncdrom_atend: all done\n"), std::string::npos) << out;
    EXPECT_EQ(take_stderr(), "");

    // Next from the last audio track onto the data track: refused, as a
    // drive refuses it, and the player says so and goes on.
    click(playButton);
    for (int i = 0; i < 9; i++)
        click(nextButton);
    take_stdout();
    EXPECT_EQ(take_stderr(), "");
    click(nextButton);
    EXPECT_NE(take_stderr().find("Input/output error"), std::string::npos);
    click(stopButton);
    EXPECT_EQ(take_stderr(), "");
}

// A local server in MusicBrainz's format (tests/acceptance/mb_server.py).
class NamesLookupTest : public NamesPlayerTest {
protected:
    void SetUp() override
    {
        NamesPlayerTest::SetUp();
        srv = scratch + "/server";
        fs::create_directories(srv);
        std::string tools = std::string(getenv("MURBEL_SOURCE_DIR") ? getenv("MURBEL_SOURCE_DIR")
                                                                     : ".") +
                            "/tests/acceptance/";
        mb_disc = tools + "mb_disc.py";
        server_pid = fork();
        if (server_pid == 0) {
            std::string script = tools + "mb_server.py";
            execlp("python3", "python3", script.c_str(), srv.c_str(), nullptr);
            _exit(127);
        }
        // Before the toolkit is up: waiting on the file alone.
        for (int i = 0; i < 500 && !fs::exists(srv + "/port"); i++)
            usleep(20000);
        ASSERT_TRUE(fs::exists(srv + "/port")) << "the test server did not start";
        server = "http://127.0.0.1:" + read_all(srv + "/port");
    }
    void TearDown() override
    {
        if (server_pid > 0) {
            kill(server_pid, SIGTERM);
            waitpid(server_pid, nullptr, 0);
        }
        NamesPlayerTest::TearDown();
    }
    // Never the real archive: a test must not wait on the outside world.
    void start_lookup()
    {
        start(demo_disc(), {"-lookup", "-xrm", "*lookupServer: " + server, "-xrm",
                            "*coverArtServer: " + server + "/"});
    }
    void answer(const std::string &id, const std::string &args)
    {
        std::string cmd = "python3 " + mb_disc + " answer " + id + " " + args + " > " + srv + "/" +
                          id + ".json";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    // When each request came; with a prefix, only those for such paths.
    std::vector<double> request_times(const std::string &prefix = "")
    {
        std::vector<double> t;
        std::istringstream in(read_all(srv + "/requests"));
        for (std::string path, agent; in >> path >> agent;) {
            double when;
            in >> when;
            if (path.compare(0, prefix.size(), prefix) == 0)
                t.push_back(when);
        }
        return t;
    }
    std::string requests()
    {
        std::string s = "requests:\n" + read_all(srv + "/requests") + "descriptors:";
        for (auto &e : fs::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            s += " " + e.path().filename().string() + "=" + fs::read_symlink(e.path(), ec).string();
        }
        return s + "\nbusy: " + std::to_string(names_fetch_busy()) + "\n";
    }
    std::string srv, server, mb_disc;
    pid_t server_pid = -1;
};

TEST_F(NamesLookupTest, ArrivesOffTheLoopAndLeavesADraftAlone)
{
    const std::string id = "qiL3KGwA.BvvW8q.MxsWDqOejDg-";
    answer(id, "3 'Miles Davis' 'Kind of Blue' 'So What' 'Freddie Freeloader' 'Blue in Green'");
    write_file(srv + "/mode", "late");
    auto t0 = std::chrono::steady_clock::now();
    start_lookup();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
    EXPECT_TRUE(known_names.source.empty());
    EXPECT_EQ(window_title(), "Murbel");
    EXPECT_TRUE(libcurl_loaded());

    click(titleBar);
    Widget field = XtNameToWidget(titleDialog, "value");
    XtVaSetValues(field, XtNstring, "Draft", nullptr);
    ASSERT_TRUE(run_until([] { return !known_names.source.empty(); }, 10000));
    EXPECT_EQ(known_names.source,
              "musicbrainz " + id + " (stored in " + cddb() + "/0f027403)");
    EXPECT_EQ(label_of(titleBar), "Miles Davis - Kind of Blue");
    EXPECT_EQ(window_title(), "Kind of Blue");
    String text = nullptr;
    XtVaGetValues(field, XtNstring, &text, nullptr);
    EXPECT_STREQ(text, "Draft");
    click(nextButton);
    EXPECT_EQ(window_title(), "1. So What - Kind of Blue");
    EXPECT_TRUE(xmcd_parse(read_all(cddb() + "/0f027403")).ok);
}

TEST_F(NamesLookupTest, OneRequestASecondAndNoNamesForTheWrongDisc)
{
    const std::string id = "qiL3KGwA.BvvW8q.MxsWDqOejDg-";
    answer(id, "3 'Miles Davis' 'Kind of Blue' 'So What' 'Freddie Freeloader' 'Blue in Green'");
    write_file(srv + "/mode", "404");
    start_lookup();
    std::string out;
    ASSERT_TRUE(run_until(
        [&] {
            out += take_stdout();
            return out.find("names: lookup of " + id + " failed: the server says: Not Found\n") !=
                   std::string::npos;
        },
        10000))
        << out;

    // Another disc at once: its request waits for the second to pass.
    const std::string lookups = "/ws/2/discid/";  // the found disc's cover is asked for too
    change_disc(OTHER_DISC);
    ASSERT_TRUE(run_until([&] { return request_times(lookups).size() == 2; }, 10000)) << requests();
    std::vector<double> t = request_times(lookups);
    EXPECT_GE(t[1] - t[0], 0.95);

    // The first disc's late answer comes after it has gone: dropped.
    write_file(srv + "/mode", "late");
    change_disc(demo_disc());
    ASSERT_TRUE(run_until([&] { return request_times(lookups).size() == 3; }, 10000)) << requests();
    change_disc(OTHER_DISC);
    ASSERT_TRUE(run_until([&] { return request_times(lookups).size() == 4; }, 10000))
        << requests() << take_stdout();
    // The second disc's own (unknown) answer has come back too.
    ASSERT_TRUE(run_until([] { return !names_fetch_busy(); }, 10000)) << requests() << take_stdout();
    EXPECT_TRUE(known_names.source.empty());
    EXPECT_EQ(window_title(), "Murbel");
    EXPECT_EQ(label_of(titleBar), "No Title");
    // Its names were stored all the same: they are that disc's.
    EXPECT_TRUE(fs::exists(cddb() + "/0f027403"));
}

TEST_F(NamesLookupTest, RedirectsWaitTheirTurnAndTheFrontCoverIsKeptBesideTheFile)
{
    const std::string id = "qiL3KGwA.BvvW8q.MxsWDqOejDg-";
    answer(id, "3 'Miles Davis' 'Kind of Blue' 'So What' 'Freddie Freeloader' 'Blue in Green'");
    std::string release = musicbrainz_parse(read_all(srv + "/" + id + ".json"), id, 3).release_id;
    ASSERT_EQ(release.size(), 36u);
    const std::string jpeg = std::string("\xff\xd8\xff\xe0\0\x10JFIF\0", 11) + "picture";
    write_file(srv + "/" + release + ".jpg", jpeg);
    write_file(srv + "/mode", "redirect");
    start_lookup();
    EXPECT_EQ(names_art_url(), "");
    ASSERT_TRUE(run_until([] { return !names_art_url().empty(); }, 15000)) << take_stdout();
    const std::string cover = cddb() + "/0f027403.jpg";
    EXPECT_EQ(read_all(cover), jpeg);
    EXPECT_EQ(names_art_url(), file_url(fs::canonical(cover)));
    EXPECT_EQ(known_names.album, "Kind of Blue");

    // The lookup, its redirect, the archive and its redirect: four
    // requests, a second apart.
    std::istringstream log(read_all(srv + "/requests"));
    std::vector<std::string> paths;
    std::vector<double> t = request_times();
    for (std::string path, agent, when; log >> path >> agent >> when;)
        paths.push_back(path);
    ASSERT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths[1], paths[0] + "&moved=1");
    EXPECT_EQ(paths[2], "/release/" + release + "/front");
    EXPECT_EQ(paths[3], "/images/" + release);
    for (size_t i = 1; i < t.size(); i++)
        EXPECT_GE(t[i] - t[i - 1], 0.95) << "request " << i;

    // The disc again: its names and cover from the files, nothing asked.
    change_disc(OTHER_DISC);
    ASSERT_TRUE(run_until([] { return !names_fetch_busy(); }, 10000));
    EXPECT_EQ(names_art_url(), "");
    size_t asked = request_times().size();
    change_disc(demo_disc());
    EXPECT_EQ(known_names.source, "cddb " + cddb() + "/0f027403");
    EXPECT_EQ(names_art_url(), file_url(fs::canonical(cover)));
    EXPECT_FALSE(names_fetch_busy());
    EXPECT_EQ(request_times().size(), asked);
}

struct no_cover_case {
    const char *mode, *picture, *note;
};

class NoCover : public NamesLookupTest, public ::testing::WithParamInterface<no_cover_case> {};

// Each case on a player of its own, started with the server already so.
TEST_P(NoCover, IsNoFault)
{
    const no_cover_case &c = GetParam();
    const std::string id = "qiL3KGwA.BvvW8q.MxsWDqOejDg-";
    answer(id, "3 'Miles Davis' 'Kind of Blue' 'So What' 'Freddie Freeloader' 'Blue in Green'");
    std::string release = musicbrainz_parse(read_all(srv + "/" + id + ".json"), id, 3).release_id;
    write_file(srv + "/mode", c.mode);
    if (c.picture)
        write_file(srv + "/" + release + ".jpg", c.picture);
    start_lookup();
    std::string out;
    ASSERT_TRUE(run_until(
        [&] {
            out += take_stdout();
            return !names_fetch_busy() && !known_names.source.empty();
        },
        // Four or five requests, a second apart.
        30000))
        << read_all(srv + "/requests");
    EXPECT_NE(out.find("names: no cover for release " + release + ": " + c.note + "\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(names_art_url(), "");
    EXPECT_EQ(known_names.album, "Kind of Blue");
    EXPECT_FALSE(fs::exists(cddb() + "/0f027403.jpg"));
    EXPECT_EQ(take_stderr(), "");
}

std::string no_cover_name(const ::testing::TestParamInfo<no_cover_case> &info)
{
    static const char *const names[] = {"Missing", "RedirectLoop", "NotAPicture"};
    return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(Names, NoCover,
                         ::testing::Values(no_cover_case{"ok", nullptr, "HTTP status 404"},
                                           no_cover_case{"cover-loop", "\xff\xd8\xff",
                                                         "more than 3 redirects"},
                                           no_cover_case{"ok", "<html>a page</html>", "not a picture"}),
                         no_cover_name);
