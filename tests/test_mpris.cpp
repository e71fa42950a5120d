// MPRIS seen from a client in the same process, on a private session bus:
// the metadata from the known names, and jumps to the frame.  The real
// clients (playerctl, dbus-send, dbus-monitor) are in tests/acceptance.
#include "support/player_fixture.h"

#include <systemd/sd-bus.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "app/app.h"
#include "disc/cdrom.h"
#include "mpris/mpris.h"
#include "names/names.h"
#include "ui/ui.h"

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
    EXPECT_EQ(m["mpris:trackid"], "/org/murbel/track/1");
    // Track 1 runs from 00:02:00 to 04:10:33: 248 s and 33 frames.
    EXPECT_EQ(m["mpris:length"], std::to_string((248 * 75 + 33) * 1000000LL / 75));
    EXPECT_EQ(m["xesam:trackNumber"], "1");
    EXPECT_EQ(m["xesam:title"], "Opening");
    EXPECT_EQ(m["xesam:album"], "The Album");
    EXPECT_EQ(m["xesam:artist"], "The Band");

    method("Next");
    m = metadata();
    EXPECT_EQ(m["mpris:trackid"], "/org/murbel/track/2");
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
        set_position("/org/murbel/track/2", row.us);
        EXPECT_EQ(take_requests(), std::vector<std::string>{row.request}) << row.us;
        EXPECT_EQ(seeked, before + 1) << row.us;
    }

    // Back beyond the start: the start.  Stale and out-of-track requests:
    // nothing at all.
    seek(-600000000);
    EXPECT_EQ(take_requests(), std::vector<std::string>{"play 04:10:33 10:30:11"});
    int before = seeked;
    set_position("/org/murbel/track/1", 1000000);
    set_position("/org/murbel/track/2", 171000000);  // the track is 169.6 s
    set_position("/org/murbel/track/2", -1);
    EXPECT_TRUE(take_requests().empty());
    EXPECT_EQ(seeked, before);

    // Paused, the drive is paused again at the new place and stays so.
    click(pauseButton);
    take_requests();
    set_position("/org/murbel/track/2", 10000000);
    EXPECT_EQ(take_requests(), (std::vector<std::string>{"play 04:20:33 10:30:11", "pause"}));
    sd_bus_message *r = get("PlaybackStatus", "s");
    const char *status = nullptr;
    sd_bus_message_read(r, "s", &status);
    EXPECT_STREQ(status, "Paused");
    sd_bus_message_unref(r);
    EXPECT_NE(take_stdout().find("cdrom_seek: moving to 00:10 in track 2\n"), std::string::npos);
}

}  // namespace
