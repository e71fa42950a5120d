// The session-bus connection inside the toolkit's event loop: the bus
// descriptor is watched with XtAppAddInput and sd-bus's next deadline
// becomes an Xt timeout, so there is no second loop and no thread.  The
// properties are compared with what was last announced whenever the loop
// is about to sleep, after whatever woke it (a click, a key, the play
// timer, a bus call), and what differs is signalled: no wake-ups of its own.
#include "mpris/mpris.h"

#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/app.h"
#include "disc/cdrom.h"
#include "mpris/internal.h"

sd_bus *mpris_bus = nullptr;

static sd_bus_slot *name_slot = nullptr;
static std::string asking;    // the name asked for last
static std::string bus_name;  // empty until the bus daemon granted one
static XtInputId read_input, write_input;
static bool reading = false, writing = false;

struct timer {
    XtIntervalId id;
    bool armed;
};
static timer deadline_timer;

// What the desktop was last told.
struct announced {
    std::string status, loop, metadata;
    bool shuffle = false;
    double volume = -1;
    bool can_play = false, can_next = false, can_seek = false;
    // For telling a jump from steady play.
    uint8_t track = 0;
    int32_t dur = 0;
    uint64_t at_ms = 0;
};
static announced last;

static uint64_t monotonic_us()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

static void arm(timer &t, unsigned long ms, XtTimerCallbackProc proc)
{
    if (t.armed)
        XtRemoveTimeOut(t.id);
    t.id = XtAppAddTimeOut(app_context, ms, proc, nullptr);
    t.armed = true;
}

static void disarm(timer &t)
{
    if (t.armed)
        XtRemoveTimeOut(t.id);
    t.armed = false;
}

static void bus_lost(int r);
static void rearm();

static void cb_bus_input(XtPointer, int *, XtInputId *)
{
    mpris_dispatch();
}

static void cb_bus_deadline(XtPointer, XtIntervalId *)
{
    deadline_timer.armed = false;
    mpris_dispatch();
}

// Set while sd-bus runs the handlers: the connection must outlive them.
static bool dispatching = false;

void mpris_dispatch()
{
    if (!mpris_bus || dispatching)
        return;
    int r;
    dispatching = true;
    while ((r = sd_bus_process(mpris_bus, nullptr)) > 0)
        ;
    dispatching = false;
    if (r < 0) {
        bus_lost(r);
        return;
    }
    rearm();
}

// Watch for what sd-bus waits on now: input always, output only while
// messages are queued (a writable socket would wake the loop forever),
// and its next deadline (a pending call's time-out).
static void rearm()
{
    if (!mpris_bus || dispatching)  // the dispatch rearms when it is done
        return;
    int fd = sd_bus_get_fd(mpris_bus);
    int events = sd_bus_get_events(mpris_bus);
    if (fd < 0 || events < 0) {
        bus_lost(fd < 0 ? fd : events);
        return;
    }
    if (!reading) {
        read_input = XtAppAddInput(app_context, fd, reinterpret_cast<XtPointer>(XtInputReadMask),
                                   cb_bus_input, nullptr);
        reading = true;
    }
    bool want_write = events & POLLOUT;
    if (want_write && !writing)
        write_input = XtAppAddInput(app_context, fd,
                                    reinterpret_cast<XtPointer>(XtInputWriteMask), cb_bus_input,
                                    nullptr);
    else if (!want_write && writing)
        XtRemoveInput(write_input);
    writing = want_write;

    disarm(deadline_timer);
    uint64_t until = 0;
    if (sd_bus_get_timeout(mpris_bus, &until) >= 0 && until != UINT64_MAX) {
        uint64_t now = monotonic_us();
        unsigned long ms = until > now ? static_cast<unsigned long>((until - now + 999) / 1000) : 0;
        arm(deadline_timer, ms, cb_bus_deadline);
    }
}

static void unwatch()
{
    if (reading)
        XtRemoveInput(read_input);
    if (writing)
        XtRemoveInput(write_input);
    reading = writing = false;
    disarm(deadline_timer);
}

static void bus_lost(int r)
{
    debug_log(1, "mpris: lost the session bus: %s\n", strerror(-r));
    unwatch();
    name_slot = sd_bus_slot_unref(name_slot);
    mpris_bus = sd_bus_close_unref(mpris_bus);
    bus_name.clear();
}

// ---- the name ----

static int request_name(const std::string &name);

static int on_request_reply(sd_bus_message *reply, void *, sd_bus_error *)
{
    name_slot = sd_bus_slot_unref(name_slot);
    const sd_bus_error *err = sd_bus_message_get_error(reply);
    uint32_t answer = 0;
    if (err || sd_bus_message_read(reply, "u", &answer) < 0) {
        debug_log(1, "mpris: the bus refused %s: %s\n", asking.c_str(),
                  err && err->message ? err->message : "bad reply");
        return 0;
    }
    // 1: now the owner, 4: already ours.  Otherwise another player holds
    // it, and a second Murbel takes a name of its own, as MPRIS asks.
    if (answer == 1 || answer == 4) {
        bus_name = asking;
        debug_log(1, "mpris: on the session bus as %s\n", bus_name.c_str());
        return 0;
    }
    std::string instance =
        "org.mpris.MediaPlayer2.murbel.instance" + std::to_string(getpid());
    if (asking != instance)
        request_name(instance);
    else
        debug_log(1, "mpris: %s is taken\n", instance.c_str());
    return 0;
}

// Asked without waiting: the event loop never blocks on the bus.
static int request_name(const std::string &name)
{
    asking = name;
    return sd_bus_request_name_async(mpris_bus, &name_slot, asking.c_str(), 0, on_request_reply,
                                     nullptr);
}

const char *mpris_bus_name()
{
    return bus_name.empty() ? nullptr : bus_name.c_str();
}

// ---- changes ----

static announced current()
{
    announced now;
    now.status = mpris_playback_status();
    now.loop = mpris_loop_status();
    now.metadata = mpris_metadata_key();
    now.shuffle = mpris_shuffle();
    now.volume = mpris_volume();
    now.can_play = mpris_disc_present();
    now.can_next = mpris_can_go_next();
    now.can_seek = mpris_can_seek();
    now.track = CDI.curtrack;
    now.dur = CDI.dur;
    now.at_ms = monotonic_us() / 1000;
    return now;
}

// A jump within the track (a scan step, Previous restarting the track):
// the elapsed time moved otherwise than the clock did.
static bool jumped(const announced &before, const announced &now)
{
    if (now.track != before.track || now.track == 0 || now.status == "Stopped" ||
        before.status == "Stopped")
        return false;
    int64_t expected = before.dur;
    if (before.status == "Playing")
        expected += static_cast<int64_t>((now.at_ms - before.at_ms) / 1000);
    int64_t off = now.dur - expected;
    return off > 2 || off < -2;
}

static void emit(const char *interface, std::vector<const char *> &names)
{
    if (names.empty())
        return;
    names.push_back(nullptr);
    int r = sd_bus_emit_properties_changed_strv(mpris_bus, MPRIS_PATH, interface,
                                                const_cast<char **>(names.data()));
    if (r < 0)
        debug_log(1, "mpris: cannot signal changes: %s\n", strerror(-r));
}

void mpris_check_changes()
{
    if (!mpris_bus)
        return;
    announced now = current();
    std::vector<const char *> player;
    if (now.status != last.status)
        player.push_back("PlaybackStatus");
    if (now.loop != last.loop)
        player.push_back("LoopStatus");
    if (now.shuffle != last.shuffle)
        player.push_back("Shuffle");
    if (now.metadata != last.metadata)
        player.push_back("Metadata");
    if (now.volume != last.volume)
        player.push_back("Volume");
    if (now.can_play != last.can_play) {
        player.push_back("CanPlay");
        player.push_back("CanPause");
        player.push_back("CanGoPrevious");
    }
    if (now.can_next != last.can_next)
        player.push_back("CanGoNext");
    if (now.can_seek != last.can_seek)
        player.push_back("CanSeek");
    bool seeked = jumped(last, now);
    // The reference for telling a jump is renewed only with a change told
    // or a new track: steady play stays within a second of it however often
    // this runs, and the steps of a scan add up to a jump.
    if (!player.empty() || seeked || now.track != last.track)
        last = now;
    emit(MPRIS_PLAYER, player);
    if (seeked)
        mpris_seeked();
    rearm();
}

void mpris_seeked()
{
    if (!mpris_bus)
        return;
    sd_bus_emit_signal(mpris_bus, MPRIS_PATH, MPRIS_PLAYER, "Seeked", "x", mpris_position_us());
    last.track = CDI.curtrack;
    last.dur = CDI.dur;
    last.at_ms = monotonic_us() / 1000;
}

static void block_hook(XtPointer)
{
    if (mpris_bus && !dispatching)
        mpris_check_changes();
}

// ---- start and stop ----

static void stop_at_exit()
{
    mpris_stop();
}

// Why the session bus cannot be had, in the user's terms: sd-bus answers
// "No medium found" when it has no address to try at all.
static std::string no_bus_reason(int r)
{
    const char *address = getenv("DBUS_SESSION_BUS_ADDRESS");
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    if (address && *address)
        return std::string(address) + ": " + strerror(-r);
    if (runtime && *runtime)
        return std::string(runtime) + "/bus (no DBUS_SESSION_BUS_ADDRESS): " + strerror(-r);
    return "neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set";
}

void mpris_start()
{
    if (mpris_bus)
        return;
    sd_bus *bus = nullptr;
    int r = sd_bus_open_user(&bus);
    if (r < 0) {
        debug_log(1, "mpris: no session bus: %s\n", no_bus_reason(r).c_str());
        return;
    }
    if ((r = mpris_add_interfaces(bus)) < 0) {
        debug_log(1, "mpris: cannot serve on the session bus: %s\n", strerror(-r));
        sd_bus_close_unref(bus);
        return;
    }
    mpris_bus = bus;
    if ((r = request_name("org.mpris.MediaPlayer2.murbel")) < 0) {
        bus_lost(r);
        return;
    }
    last = current();
    static bool hooked = false;
    if (!hooked) {
        XtAppAddBlockHook(app_context, block_hook, nullptr);
        atexit(stop_at_exit);
        hooked = true;
    }
    rearm();
}

void mpris_stop()
{
    if (!mpris_bus)
        return;
    unwatch();
    name_slot = sd_bus_slot_unref(name_slot);
    // The daemon drops the name with the connection; what is queued (the
    // reply to Quit) goes out first.
    mpris_bus = sd_bus_flush_close_unref(mpris_bus);
    bus_name.clear();
}
