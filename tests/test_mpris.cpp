// MPRIS seen from a client in the same process, on a private session bus:
// the metadata from the known names, and jumps to the frame.  The real
// clients (playerctl, dbus-send, dbus-monitor) are in tests/acceptance.
#include "support/player_fixture.h"

#include <systemd/sd-bus.h>

#include <sys/stat.h>

#include <X11/StringDefs.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "app/app.h"
#include "disc/cdrom.h"
#include "mpris/internal.h"
#include "mpris/mpris.h"
#include "names/names.h"
#include "playback/playback.h"
#include "ui/ui.h"

#define EXPECT_THAT_PREFIX(s, prefix) EXPECT_EQ((s).rfind(prefix, 0), 0u) << (s)

namespace {

const char *const DEST = "org.mpris.MediaPlayer2.murbel";
const char *const PATH = "/org/mpris/MediaPlayer2";
const char *const PLAYER = "org.mpris.MediaPlayer2.Player";

struct reply {
    sd_bus_message *msg = nullptr;
    bool done = false;
};

int on_reply(sd_bus_message *m, void *userdata, sd_bus_error *)
{
    auto *r = static_cast<reply *>(userdata);
    r->msg = sd_bus_message_ref(m);
    r->done = true;
    return 0;
}

int count_signal(sd_bus_message *, void *userdata, sd_bus_error *)
{
    ++*static_cast<int *>(userdata);
    return 0;
}

class Mpris : public PlayerTest {
protected:
    sd_bus *client = nullptr;
    pid_t daemon = 0;
    int seeked = 0;

    void SetUp() override
    {
        PlayerTest::SetUp();
        FILE *p = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 "
                        "2>/dev/null",
                        "r");
        ASSERT_NE(p, nullptr);
        char address[512] = "", pid[32] = "";
        bool read = fgets(address, sizeof address, p) && fgets(pid, sizeof pid, p);
        pclose(p);
        ASSERT_TRUE(read) << "no dbus-daemon";
        address[strcspn(address, "\n")] = 0;
        daemon = static_cast<pid_t>(atoi(pid));
        setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);

        ASSERT_GE(sd_bus_new(&client), 0);
        sd_bus_set_address(client, address);
        sd_bus_set_bus_client(client, 1);
        ASSERT_GE(sd_bus_start(client), 0);
        sd_bus_match_signal(client, nullptr, nullptr, PATH, PLAYER, "Seeked", count_signal,
                            &seeked);
        }

    void TearDown() override
    {
        mpris_stop();
        sd_bus_flush_close_unref(client);
        if (daemon > 0)
            kill(daemon, SIGTERM);
        PlayerTest::TearDown();
    }

    // The player on the bus, with its name granted.
    void start(const std::string &disc)
    {
        start_player(disc);
        mpris_start();
        for (int i = 0; i < 1000 && !mpris_bus_name(); i++)
            pump_once();
        ASSERT_STREQ(mpris_bus_name(), DEST);
        take_stdout();
        take_requests();
    }

    // Both ends of the bus and the toolkit's due timers, once, and the
    // check the event loop makes before it sleeps.
    void pump_once()
    {
        mpris_dispatch();
        while (sd_bus_process(client, nullptr) > 0)
            ;
        while (XtAppPending(app_context) & (XtIMTimer | XtIMAlternateInput))
            XtAppProcessEvent(app_context, XtIMTimer | XtIMAlternateInput);
        mpris_check_changes();
        sd_bus_wait(client, 2000);
    }

    // Sends a call made by FILL and waits for its answer.
    template <typename Fill>
    sd_bus_message *call(const char *interface, const char *member, Fill fill)
    {
        sd_bus_message *m = nullptr;
        sd_bus_message_new_method_call(client, &m, DEST, PATH, interface, member);
        fill(m);
        reply r;
        sd_bus_slot *slot = nullptr;
        sd_bus_call_async(client, &slot, m, on_reply, &r, 5000000);
        sd_bus_message_unref(m);
        for (int i = 0; i < 2000 && !r.done; i++)
            pump_once();
        sd_bus_slot_unref(slot);
        for (int i = 0; i < 5; i++)  // signals sent after the reply
            pump_once();
        EXPECT_TRUE(r.done) << member << " got no answer";
        return r.msg;
    }

    void method(const char *member)
    {
        sd_bus_message_unref(call(PLAYER, member, [](sd_bus_message *) {}));
    }

    void set_position(const std::string &id, int64_t us)
    {
        sd_bus_message *r = call(PLAYER, "SetPosition", [&](sd_bus_message *m) {
            sd_bus_message_append(m, "ox", id.c_str(), us);
        });
        EXPECT_FALSE(r && sd_bus_message_is_method_error(r, nullptr));
        sd_bus_message_unref(r);
    }

    // Sets a Player property; the reply's error name, or "" when taken.
    template <typename Fill>
    std::string set(const char *property, Fill fill)
    {
        sd_bus_message *r = call("org.freedesktop.DBus.Properties", "Set", [&](sd_bus_message *m) {
            sd_bus_message_append(m, "ss", PLAYER, property);
            fill(m);
        });
        std::string error;
        if (r && sd_bus_message_is_method_error(r, nullptr))
            error = sd_bus_message_get_error(r)->name;
        sd_bus_message_unref(r);
        return error;
    }

    std::string rate_set(double rate)
    {
        return set("Rate", [&](sd_bus_message *m) { sd_bus_message_append(m, "v", "d", rate); });
    }

    double get_double(const char *property)
    {
        sd_bus_message *r = get(property, "d");
        double d = -1;
        sd_bus_message_read(r, "d", &d);
        sd_bus_message_unref(r);
        return d;
    }

    std::string get_string(const char *property)
    {
        sd_bus_message *r = get(property, "s");
        const char *s = "";
        sd_bus_message_read(r, "s", &s);
        std::string out = s;
        sd_bus_message_unref(r);
        return out;
    }

    void seek(int64_t us)
    {
        sd_bus_message_unref(
            call(PLAYER, "Seek", [&](sd_bus_message *m) { sd_bus_message_append(m, "x", us); }));
    }

    // Get: the reply positioned at the variant's contents.
    sd_bus_message *get(const char *property, const char *type)
    {
        sd_bus_message *r = call("org.freedesktop.DBus.Properties", "Get", [&](sd_bus_message *m) {
            sd_bus_message_append(m, "ss", PLAYER, property);
        });
        EXPECT_TRUE(r && !sd_bus_message_is_method_error(r, nullptr)) << property;
        EXPECT_GE(sd_bus_message_enter_container(r, 'v', type), 0) << property;
        return r;
    }

    // Metadata as text: strings as they are, numbers in decimal, the first
    // entry of a string list.
    std::map<std::string, std::string> metadata()
    {
        sd_bus_message *r = get("Metadata", "a{sv}");
        std::map<std::string, std::string> out;
        sd_bus_message_enter_container(r, 'a', "{sv}");
        while (sd_bus_message_enter_container(r, 'e', "sv") > 0) {
            const char *key = nullptr, *contents = nullptr;
            char type = 0;
            sd_bus_message_read(r, "s", &key);
            sd_bus_message_peek_type(r, &type, &contents);
            sd_bus_message_enter_container(r, 'v', contents);
            std::string value;
            if (!strcmp(contents, "s") || !strcmp(contents, "o")) {
                const char *s = nullptr;
                sd_bus_message_read_basic(r, contents[0], &s);
                value = s;
            } else if (!strcmp(contents, "x")) {
                int64_t x = 0;
                sd_bus_message_read(r, "x", &x);
                value = std::to_string(x);
            } else if (!strcmp(contents, "i")) {
                int32_t i = 0;
                sd_bus_message_read(r, "i", &i);
                value = std::to_string(i);
            } else if (!strcmp(contents, "as")) {
                sd_bus_message_enter_container(r, 'a', "s");
                const char *s = nullptr;
                while (sd_bus_message_read(r, "s", &s) > 0)
                    value += value.empty() ? s : std::string("|") + s;
                sd_bus_message_exit_container(r);
            }
            sd_bus_message_exit_container(r);
            sd_bus_message_exit_container(r);
            out[key] = value;
        }
        sd_bus_message_unref(r);
        return out;
    }
};

TEST_F(Mpris, MetadataNamesTheTrackFromWhatIsKnown)
{
    start(demo_disc());
    known_names.artist = "The Band";
    known_names.album = "The Album";
    known_names.tracks = {{"Opening", ""}, {"Second Song", "A Guest"}};
    click(playButton);

    auto m = metadata();
    std::string disc = m["mpris:trackid"].substr(0, m["mpris:trackid"].rfind('/') + 1);
    EXPECT_THAT_PREFIX(disc, "/org/murbel/disc/");
    EXPECT_EQ(m["mpris:trackid"], disc + "1");
    // Track 1 runs from 00:02:00 to 04:10:33: 248 s and 33 frames.
    EXPECT_EQ(m["mpris:length"], std::to_string((248 * 75 + 33) * 1000000LL / 75));
    EXPECT_EQ(m["xesam:trackNumber"], "1");
    EXPECT_EQ(m["xesam:title"], "Opening");
    EXPECT_EQ(m["xesam:album"], "The Album");
    EXPECT_EQ(m["xesam:artist"], "The Band");

    method("Next");
    m = metadata();
    EXPECT_EQ(m["mpris:trackid"], disc + "2");
    EXPECT_EQ(m["xesam:title"], "Second Song");
    EXPECT_EQ(m["xesam:artist"], "A Guest");

    // Nothing known beyond the stored title: it names the album.
    known_names = disc_names{};
    title = "Stored Title";
    m = metadata();
    EXPECT_EQ(m["xesam:album"], "Stored Title");
    EXPECT_EQ(m.count("xesam:title"), 0u);
    EXPECT_EQ(m.count("xesam:artist"), 0u);
    title = "No Title";  // the player's placeholder is no name
    EXPECT_EQ(metadata().count("xesam:album"), 0u);

    method("Stop");
    m = metadata();
    EXPECT_EQ(m["mpris:trackid"], "/org/mpris/MediaPlayer2/TrackList/NoTrack");
    EXPECT_EQ(m.count("mpris:length"), 0u);
}

TEST_F(Mpris, JumpsLandOnTheFrameAndAreSignalledOnce)
{
    start(demo_disc());
    click(playButton);
    method("Next");  // track 2: 04:10:33 to 07:00:00
    take_requests();
    take_stdout();
    std::string id2 = metadata()["mpris:trackid"];
    std::string id1 = id2.substr(0, id2.size() - 1) + "1";

    struct {
        int64_t us;
        const char *request;
    } table[] = {
        {0, "play 04:10:33 10:30:11"},
        {30500000, "play 04:40:70 10:30:11"},  // 30.5 s is 2287 frames and a half
        {1000000 / 75 * 2 + 1, "play 04:10:35 10:30:11"},
    };
    for (const auto &row : table) {
        int before = seeked;
        set_position(id2, row.us);
        EXPECT_EQ(take_requests(), std::vector<std::string>{row.request}) << row.us;
        EXPECT_EQ(seeked, before + 1) << row.us;
    }

    // Back beyond the start: the start.  Stale and out-of-track requests:
    // nothing at all.
    seek(-600000000);
    EXPECT_EQ(take_requests(), std::vector<std::string>{"play 04:10:33 10:30:11"});
    int before = seeked;
    set_position(id1, 1000000);
    set_position(id2, 171000000);  // the track is 169.6 s
    set_position(id2, -1);
    EXPECT_TRUE(take_requests().empty());
    EXPECT_EQ(seeked, before);

    // Paused, the drive is paused again at the new place and stays so.
    click(pauseButton);
    take_requests();
    set_position(id2, 10000000);
    EXPECT_EQ(take_requests(), (std::vector<std::string>{"play 04:20:33 10:30:11", "pause"}));
    sd_bus_message *r = get("PlaybackStatus", "s");
    const char *status = nullptr;
    sd_bus_message_read(r, "s", &status);
    EXPECT_STREQ(status, "Paused");
    sd_bus_message_unref(r);
    EXPECT_NE(take_stdout().find("cdrom_seek: moving to 00:10 in track 2\n"), std::string::npos);
}

// A disc brought in, by any way, is a new list of tracks: its ids are new
// (clients wait for the id to change after OpenUri), and a request naming
// a track of the disc before is ignored.
TEST_F(Mpris, ANewDiscGetsNewTrackIds)
{
    start(demo_disc());
    click(playButton);
    std::vector<std::string> ids = {metadata()["mpris:trackid"]};

    // Ejected, and the same disc found again by the poll.
    click(ejectButton);
    EXPECT_EQ(metadata()["mpris:trackid"], "/org/mpris/MediaPlayer2/TrackList/NoTrack");
    write_disc(demo_disc());
    cdrom_poll(nullptr, nullptr);
    click(playButton);
    ids.push_back(metadata()["mpris:trackid"]);

    // Opened from the desktop: the very disc that is in the drive.
    for (int i = 0; i < 2; i++) {
        std::string uri = "sim:" + disc_path;
        sd_bus_message *r = call(PLAYER, "OpenUri", [&](sd_bus_message *m) {
            sd_bus_message_append(m, "s", uri.c_str());
        });
        EXPECT_FALSE(r && sd_bus_message_is_method_error(r, nullptr));
        sd_bus_message_unref(r);
        ids.push_back(metadata()["mpris:trackid"]);
    }

    for (size_t i = 0; i < ids.size(); i++) {
        EXPECT_EQ(ids[i].substr(ids[i].size() - 8), "/track/1") << ids[i];
        for (size_t j = 0; j < i; j++)
            EXPECT_NE(ids[i], ids[j]);
    }
    take_requests();
    int before = seeked;
    for (size_t i = 0; i + 1 < ids.size(); i++)
        set_position(ids[i], 10000000);
    EXPECT_TRUE(take_requests().empty());
    EXPECT_EQ(seeked, before);
    set_position(ids.back(), 10000000);
    EXPECT_EQ(take_requests(), std::vector<std::string>{"play 00:12:00 10:30:11"});
}

// Rate: 0.0 is Pause, as MPRIS has it; any other rate but 1.0 is out of
// MinimumRate..MaximumRate and ignored without an error.
TEST_F(Mpris, RateZeroPausesAndOtherRatesAreIgnored)
{
    start(demo_disc());
    click(playButton);
    take_stdout();
    take_requests();

    for (double rate : {2.0, 0.5, -1.0, 1e300, -0.0001, 1.0}) {
        EXPECT_EQ(rate_set(rate), "") << rate;
        EXPECT_EQ(get_double("Rate"), 1.0);
    }
    EXPECT_EQ(take_stdout(), "");
    EXPECT_TRUE(take_requests().empty());
    EXPECT_EQ(get_string("PlaybackStatus"), "Playing");

    EXPECT_EQ(rate_set(0.0), "");
    EXPECT_EQ(take_stdout(), "cb_cdrom_pause: pausing on track 1\n");
    EXPECT_EQ(take_requests(), std::vector<std::string>{"pause"});
    EXPECT_EQ(get_string("PlaybackStatus"), "Paused");
    EXPECT_TRUE(toggle_on(pauseButton));
    EXPECT_EQ(rate_set(0.0), "");  // paused already: as Pause, nothing
    EXPECT_EQ(take_stdout(), "");
    EXPECT_EQ(get_double("Rate"), 1.0);

    // Introspection shows Rate signalled like the other changing
    // properties: only Position says it is not.
    sd_bus_message *r = call("org.freedesktop.DBus.Introspectable", "Introspect",
                             [](sd_bus_message *) {});
    const char *xml = "";
    ASSERT_GE(sd_bus_message_read(r, "s", &xml), 0);
    std::string text = xml;
    sd_bus_message_unref(r);
    size_t rate = text.find("<property name=\"Rate\"");
    ASSERT_NE(rate, std::string::npos) << text;
    std::string element = text.substr(rate, text.find("</property>", rate) - rate);
    EXPECT_NE(element.find("readwrite"), std::string::npos) << element;
    EXPECT_EQ(element.find("EmitsChangedSignal"), std::string::npos) << element;
    size_t position = text.find("<property name=\"Position\"");
    ASSERT_NE(position, std::string::npos);
    EXPECT_NE(text.find("EmitsChangedSignal\" value=\"false\"", position), std::string::npos);
}

// The bus takes only UTF-8, and one bad string fails the whole message:
// titles and names of any encoding go out as UTF-8.
#define R3 "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"

TEST(MprisText, EveryTextBecomesUtf8)
{
    struct {
        std::string in, out;
    } table[] = {
        {"Plain", "Plain"},
        {"Caf\xc3\xa9 M\xc3\xbcller", "Caf\xc3\xa9 M\xc3\xbcller"},  // UTF-8 already
        {"Caf\xe9 M\xfcller", "Caf\xc3\xa9 M\xc3\xbcller"},          // Latin-1
        {"\x93Quoted\x94 \x96 \x80" "5", "\xe2\x80\x9cQuoted\xe2\x80\x9d \xe2\x80\x93 \xe2\x82\xac" "5"},
        {"\x81\x8d\x8f\x90\x9d", std::string(5, 'x')},  // no character: U+FFFD each
        {"\xc3(", "\xc3\x83("},                         // a broken sequence
        {"\xe2\x82", "\xc3\xa2\xe2\x80\x9a"},           // cut short
        {"\xc0\xaf", "\xc3\x80\xc2\xaf"},               // overlong
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xe2\x82\xac"},  // a surrogate
        {"\xf4\x90\x80\x80", "\xc3\xb4\xef\xbf\xbd\xe2\x82\xac\xe2\x82\xac"},  // past U+10FFFF
        // Noncharacters, which sd-bus refuses, in otherwise good UTF-8.
        {"a\xef\xbf\xbf\xef\xb7\x90\xf4\x8f\xbf\xbe\xc3\xa9", "a" R3 "\xc3\xa9"},
        {"\xf0\x9f\x8e\xb5 \xe2\x99\xab", "\xf0\x9f\x8e\xb5 \xe2\x99\xab"},  // 4 and 3 bytes
        {std::string("a\0b", 3), "a\xef\xbf\xbd" "b"},
        {"", ""},
    };
    for (auto &row : table) {
        std::string want = row.out;
        if (want == std::string(5, 'x')) {
            want.clear();
            for (int i = 0; i < 5; i++)
                want += "\xef\xbf\xbd";
        }
        EXPECT_EQ(mpris_utf8(row.in), want) << row.in;
        EXPECT_TRUE(mpris_valid_utf8(mpris_utf8(row.in))) << row.in;
    }
    EXPECT_FALSE(mpris_valid_utf8("\xc0\xaf"));
    EXPECT_FALSE(mpris_valid_utf8("\xed\xa0\x80"));
    EXPECT_FALSE(mpris_valid_utf8("\xe0\x9f\xbf"));  // overlong, three bytes
    EXPECT_TRUE(mpris_valid_utf8("\xef\xbf\xbd\xf4\x8f\xbf\xbd"));
}

TEST_F(Mpris, TitlesOfAnyEncodingReachTheBusAsUtf8)
{
    // The information file as the player writes it (Latin-1, from the
    // dialog) names the album.
    std::string info = scratch + "/info";
    mkdir(info.c_str(), 0755);
    write_file(info + "/cd.406", "Title:Caf\xe9 \x93Live\x94\nProgram: \n");
    start_player(demo_disc(), {"-cdInfoDir", info});
    mpris_start();
    for (int i = 0; i < 1000 && !mpris_bus_name(); i++)
        pump_once();
    ASSERT_STREQ(mpris_bus_name(), DEST);
    EXPECT_EQ(metadata()["xesam:album"], "Caf\xc3\xa9 \xe2\x80\x9cLive\xe2\x80\x9d");

    // Typed in the title dialog: the text field gives Latin-1.
    click(titleBar);
    Widget field = XtNameToWidget(titleDialog, "value");
    ASSERT_NE(field, nullptr);
    XtVaSetValues(field, XtNstring, "D\xe9j\xe0 vu", nullptr);
    click(XtNameToWidget(titleDialog, "Done"));
    EXPECT_EQ(*title, "D\xe9j\xe0 vu");  // kept as typed, for the window's fonts
    click(playButton);
    auto m = metadata();
    EXPECT_EQ(m["xesam:album"], "D\xc3\xa9j\xc3\xa0 vu");
    EXPECT_EQ(m["xesam:trackNumber"], "1");

    // Names from elsewhere, were they to hold stray bytes: the whole
    // property still goes out, each string made good.
    known_names.artist = "M\xf6tley";
    known_names.album = "\xc3\xa9t\xc3\xa9";
    known_names.tracks = {{"Kickstart \x96 Live", ""}};
    m = metadata();
    EXPECT_EQ(m["xesam:artist"], "M\xc3\xb6tley");
    EXPECT_EQ(m["xesam:album"], "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(m["xesam:title"], "Kickstart \xe2\x80\x93 Live");
}

// Without a session bus the trace says why, in the user's terms.
TEST_F(PlayerTest, WithoutASessionBusTheTraceSaysWhy)
{
    start_player(demo_disc());
    take_stdout();
    struct {
        const char *address, *runtime, *line;
    } table[] = {
        {nullptr, nullptr,
         "mpris: no session bus: neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set\n"},
        {"unix:path=/nonexistent/bus", nullptr,
         "mpris: no session bus: unix:path=/nonexistent/bus: No such file or directory\n"},
        {nullptr, "/nonexistent",
         "mpris: no session bus: /nonexistent/bus (no DBUS_SESSION_BUS_ADDRESS): No such file "
         "or directory\n"},
    };
    for (auto &row : table) {
        if (row.address)
            setenv("DBUS_SESSION_BUS_ADDRESS", row.address, 1);
        else
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        if (row.runtime)
            setenv("XDG_RUNTIME_DIR", row.runtime, 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        errno = ENOMEDIUM;  // a stale errno must not be what is reported
        mpris_start();
        EXPECT_EQ(mpris_bus_name(), nullptr);
        EXPECT_EQ(take_stdout(), row.line);
    }
}

}  // namespace
