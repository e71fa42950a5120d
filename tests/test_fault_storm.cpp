// A randomized storm of user clicks, timer ticks, clock jumps, disc swaps
// and ejects against a drive that refuses requests and answers with odd
// statuses, checking the player's invariants after every step.
//
//   MURBEL_STORM_SEED   the seed (default: from the clock); printed first
//   MURBEL_STORM_STEPS  the number of steps (default 20000)
//   MURBEL_STORM_VERBOSE  set: every step's trace as it goes
//
// A failure names the seed and the step; the same two variables replay it,
// since everything the player sees comes from the seed: the drive runs on a
// manual clock, the shuffle's time() is this test's, and timers fire only
// when the storm fires them.
#include "support/player_fixture.h"

#include <X11/StringDefs.h>
#include <X11/Xaw/Command.h>
#include <X11/Xaw/Dialog.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/app.h"
#include "disc/cdrom.h"
#include "drive/drive.h"
#include "drive/sim.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STORM_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define STORM_ASAN 1
#endif
#ifdef STORM_ASAN
#include <sanitizer/common_interface_defs.h>
// The quit runs in a child that ends with exit(): the toolkit's memory,
// never freed by design, must not turn its status into a leak report.
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}
#endif

// ---- Every timeout the player arms or removes (linked with --wrap) ----

extern "C" XtIntervalId __real_XtAppAddTimeOut(XtAppContext, unsigned long, XtTimerCallbackProc,
                                               XtPointer);
extern "C" void __real_XtRemoveTimeOut(XtIntervalId);

namespace {

struct armed_timer {
    XtIntervalId id;
    XtTimerCallbackProc proc;
    XtPointer data;
};

// Pending timeouts in the order they were armed (ids are addresses, so
// their order would differ from run to run).
std::vector<armed_timer> pending;
// The first removal of a timeout that was not pending: Xt may already
// have handed its id to another timer.
std::string stale_removal;

int64_t storm_clock_ms = 0;

const char *proc_name(XtTimerCallbackProc proc)
{
    if (proc == cb_play_tick)
        return "cb_play_tick";
    if (proc == cb_scan_tick)
        return "cb_scan_tick";
    if (proc == cdrom_poll)
        return "cdrom_poll";
    return "another timer";
}

}  // namespace

extern "C" XtIntervalId __wrap_XtAppAddTimeOut(XtAppContext app, unsigned long ms,
                                               XtTimerCallbackProc proc, XtPointer data)
{
    XtIntervalId id = __real_XtAppAddTimeOut(app, ms, proc, data);
    pending.push_back({id, proc, data});
    return id;
}

extern "C" void __wrap_XtRemoveTimeOut(XtIntervalId id)
{
    auto it = std::find_if(pending.begin(), pending.end(),
                           [id](const armed_timer &t) { return t.id == id; });
    if (it == pending.end()) {
        if (stale_removal.empty())
            stale_removal = "XtRemoveTimeOut of a timeout that is not pending (fired or never armed)";
    } else {
        pending.erase(it);
    }
    __real_XtRemoveTimeOut(id);
}

// The shuffle seeds its generator from the time: the storm's clock keeps
// a replay identical.
extern "C" time_t __wrap_time(time_t *t)
{
    time_t now = static_cast<time_t>(1700000000 + storm_clock_ms / 1000);
    if (t)
        *t = now;
    return now;
}

namespace {

std::string pending_text()
{
    std::string text;
    for (const armed_timer &t : pending) {
        text += proc_name(t.proc);
        if (t.id == play_timer)
            text += " (play_timer)";
        if (t.id == scan_timer)
            text += " (scan_timer)";
        text += "; ";
    }
    return text;
}

// ---- What a crash leaves behind ----

int real_stdout = -1, real_stderr = -1;
uint64_t storm_seed = 0;
long storm_step = -1;
constexpr int kRecent = 48;
char recent[kRecent][160];
volatile sig_atomic_t died = 0;

void say(int fd, const char *text)
{
    if (fd >= 0 && write(fd, text, strlen(text)) < 0)
        return;
}

void copy_file_to(const char *proc_fd, int out)
{
    int in = open(proc_fd, O_RDONLY);
    if (in < 0)
        return;
    char buf[4096];
    ssize_t n;
    while ((n = read(in, buf, sizeof buf)) > 0)
        if (write(out, buf, static_cast<size_t>(n)) < 0)
            break;
    close(in);
}

// Only async-signal-safe calls: it runs from a signal handler or from the
// sanitizer's dying process.
void report_death()
{
    if (died)
        return;
    died = 1;
    char line[200];
    snprintf(line, sizeof line,
             "\nfault storm: died at step %ld of seed %llu\n"
             "replay: MURBEL_STORM_SEED=%llu MURBEL_STORM_STEPS=%ld\nlast steps:\n",
             storm_step, static_cast<unsigned long long>(storm_seed),
             static_cast<unsigned long long>(storm_seed), storm_step + 1);
    say(real_stderr, line);
    for (int i = 0; i < kRecent; i++) {
        const char *r = recent[(storm_step + 1 + i) % kRecent];
        if (*r) {
            say(real_stderr, r);
            say(real_stderr, "\n");
        }
    }
    say(real_stderr, "--- trace of the last step ---\n");
    copy_file_to("/proc/self/fd/1", real_stderr);
    say(real_stderr, "--- reports of the last step ---\n");
    copy_file_to("/proc/self/fd/2", real_stderr);
}

// An exit in mid-storm (the X connection lost, an allocation failure)
// would otherwise leave only its report in the captured standard error.
volatile sig_atomic_t storming = 0;

void report_exit()
{
    if (!storming)
        return;
    fflush(stdout);
    say(real_stderr, "\nfault storm: the process exited during the storm");
    report_death();
}

void on_fatal_signal(int sig)
{
    report_death();
    signal(sig, SIG_DFL);
    raise(sig);
}

// ---- The captured trace and reports, read step by step ----

// The fixture sends standard output and error to files; each step reads
// what it wrote and empties them, so they stay small.
struct capture {
    int fd = -1;  // 1 or 2
    int reader = -1;

    void open_on(int which)
    {
        fd = which;
        reader = open(which == 1 ? "/proc/self/fd/1" : "/proc/self/fd/2", O_RDONLY);
    }
    std::string take()
    {
        std::string text;
        char buf[8192];
        off_t at = 0;
        ssize_t n;
        while ((n = pread(reader, buf, sizeof buf, at)) > 0) {
            text.append(buf, static_cast<size_t>(n));
            at += n;
        }
        if (ftruncate(fd, 0) == 0)
            lseek(fd, 0, SEEK_SET);
        return text;
    }
    void close_reader()
    {
        if (reader >= 0)
            close(reader);
        reader = -1;
    }
};

// ---- Discs ----

constexpr long kFps = 75;
constexpr long kMaxFrame = (99 * 60 + 59) * kFps + 74;

struct disc_spec {
    int first = 1;
    std::vector<long> starts;  // frames
    long leadout = 0;
    std::string extra;  // speed, idle
};

std::string msf_text(long frame)
{
    char text[64];
    snprintf(text, sizeof text, "%02ld:%02ld:%02ld", frame / (60 * kFps), frame / kFps % 60,
             frame % kFps);
    return text;
}

std::string disc_text(const disc_spec &d)
{
    std::string text;
    for (size_t i = 0; i < d.starts.size(); i++)
        text += "track " + std::to_string(d.first + static_cast<int>(i)) + " " +
                msf_text(d.starts[i]) + "\n";
    return text + "leadout " + msf_text(d.leadout) + "\n" + d.extra;
}

using rng_t = std::mt19937_64;

int uniform(rng_t &rng, int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

bool chance(rng_t &rng, double p)
{
    return std::uniform_real_distribution<double>(0, 1)(rng) < p;
}

template <typename T>
const T &pick(rng_t &rng, const std::vector<T> &v)
{
    return v[static_cast<size_t>(uniform(rng, 0, static_cast<int>(v.size()) - 1))];
}

disc_spec random_disc(rng_t &rng)
{
    disc_spec d;
    d.first = chance(rng, 0.7) ? 1 : uniform(rng, 2, 99);
    int room = 99 - d.first + 1;
    int count;
    if (chance(rng, 0.15))
        count = 1;
    else if (chance(rng, 0.8))
        count = uniform(rng, 2, 8);
    else
        count = uniform(rng, 2, 99);
    count = std::min(count, room);
    // Short tracks end often; the disc must fit in 99 minutes.
    long budget = (kMaxFrame - 15 * kFps) / count;
    long at = uniform(rng, 0, 4) * kFps + uniform(rng, 0, 74);
    for (int i = 0; i < count; i++) {
        d.starts.push_back(at);
        long len = chance(rng, 0.6) ? uniform(rng, 1, 40) * kFps : uniform(rng, 1, 600) * kFps;
        len += uniform(rng, 0, 74);
        at += std::max(1L, std::min(len, budget));
    }
    d.leadout = std::min(at, kMaxFrame);
    if (chance(rng, 0.5))
        d.extra += "speed " + std::to_string(pick(rng, std::vector<int>{1, 2, 5, 20, 100})) + "\n";
    if (chance(rng, 0.12))
        d.extra += pick(rng, std::vector<std::string>{"idle invalid\n", "idle completed\n"});
    return d;
}

std::string random_program(rng_t &rng)
{
    static const std::vector<std::string> tokens = {
        "1", "2", "3", "4", "5", "7", "10", "12", "0", "99", "100", "255", "256",
        "300", "x", "7x", "", "99999999999", "+3", " 4", "0x5"};
    std::string text;
    int n = uniform(rng, 0, 12);
    for (int i = 0; i < n; i++)
        text += pick(rng, tokens) + (chance(rng, 0.9) ? "-" : "--");
    if (chance(rng, 0.5) && !text.empty())
        text.pop_back();
    return text;
}

std::string random_title(rng_t &rng)
{
    switch (uniform(rng, 0, 5)) {
    case 0:
        return "";
    case 1:
        return " ";
    case 2:
        return "Greatest Hits";
    case 3:
        return "Live: at the Hall";
    case 4:
        return std::string(static_cast<size_t>(uniform(rng, 80, 200)), 'T');
    default:
        return "Disc " + std::to_string(uniform(rng, 0, 9999));
    }
}

int random_errno(rng_t &rng)
{
    return pick(rng, std::vector<int>{EIO, EINVAL, ENXIO, EBUSY, EAGAIN, EPERM, ENOTSUP, EINTR,
                                      ENOMEM, ENODEV});
}

// ---- The storm ----

class FaultStorm : public PlayerTest {
protected:
    void SetUp() override
    {
        const char *s = getenv("MURBEL_STORM_SEED");
        storm_seed = s && *s ? strtoull(s, nullptr, 0)
                             : static_cast<uint64_t>(
                                   std::chrono::system_clock::now().time_since_epoch().count());
        const char *n = getenv("MURBEL_STORM_STEPS");
        steps = n && *n ? strtol(n, nullptr, 0) : 20000;
        // Every step's trace on the way, for a replay.
        verbose = getenv("MURBEL_STORM_VERBOSE") != nullptr;
        fflush(stdout);
        real_stdout = dup(1);
        real_stderr = dup(2);
        dprintf(real_stdout, "fault storm: seed %llu, %ld steps (MURBEL_STORM_SEED=%llu)\n",
                static_cast<unsigned long long>(storm_seed), steps,
                static_cast<unsigned long long>(storm_seed));
        PlayerTest::SetUp();
        out.open_on(1);
        err.open_on(2);
#ifdef STORM_ASAN
        __sanitizer_set_death_callback(report_death);
#else
        signal(SIGSEGV, on_fatal_signal);
        signal(SIGBUS, on_fatal_signal);
        signal(SIGFPE, on_fatal_signal);
#endif
        signal(SIGABRT, on_fatal_signal);  // the library's bounds checks abort
        static bool registered = false;
        if (!registered)
            atexit(report_exit);
        registered = true;
    }

    void TearDown() override
    {
        signal(SIGABRT, SIG_DFL);
        out.close_reader();
        err.close_reader();
        PlayerTest::TearDown();
        close(real_stdout);
        close(real_stderr);
        real_stdout = real_stderr = -1;
    }

    void run();

private:
    rng_t rng;
    long steps = 0;
    bool verbose = false;
    capture out, err;
    std::vector<disc_spec> pool;
    long disc_generation = 0;
    std::string step_trace, step_reports;
    bool paused_alone_before = false;
    Widget w_clear = nullptr, w_cancel = nullptr, w_save = nullptr, w_all = nullptr;
    Widget w_done = nullptr;
    bool forced = false;
    long counts[16] = {};
    long occupancy[5] = {};  // steps open, playing, paused, in shuffle, in program mode

    void log_step(const char *fmt, ...) __attribute__((format(printf, 2, 3)));

    void insert_disc(const disc_spec &d);
    void start();
    void fire(XtTimerCallbackProc proc);
    bool has_pending(XtTimerCallbackProc proc) const;
    void quit_in_child();
    void perturb_drive();
    void act();
    void main_button();
    void program_window();
    void title_and_volume();
    std::string check() const;
    std::string check_timers() const;
    std::string check_program() const;
    void tally();
};

void FaultStorm::log_step(const char *fmt, ...)
{
    char *slot = recent[storm_step % kRecent];
    int n = snprintf(slot, sizeof recent[0], "%7ld ", storm_step);
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(slot + n, sizeof recent[0] - static_cast<size_t>(n), fmt, ap);
    va_end(ap);
}

// A changed file is a new disc to the simulated drive; a fresh
// modification time per version makes sure it notices, however coarse
// the file system's clock.
void FaultStorm::insert_disc(const disc_spec &d)
{
    std::string tmp = disc_path + ".new";
    std::ofstream(tmp) << disc_text(d);
    ASSERT_EQ(rename(tmp.c_str(), disc_path.c_str()), 0);
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000 + ++disc_generation, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, disc_path.c_str(), times, 0), 0);
}

// As main does, with the information files in the scratch directory and
// without the drive's request log (it would grow with every request).
void FaultStorm::start()
{
    rng.seed(storm_seed);
    for (int i = 0; i < 8; i++)
        pool.push_back(random_disc(rng));
    mkdir((scratch + "/info").c_str(), 0700);
    insert_disc(pool[0]);
    std::vector<std::string> args = {"-debug", "-device", "sim:" + disc_path, "-cdInfoDir",
                                     scratch + "/info"};
    // Resources at their defaults most of the time, else odd ones.
    auto resource = [&](const char *name, const std::vector<std::string> &values) {
        if (chance(rng, 0.3))
            args.insert(args.end(), {"-xrm", std::string("murbel.") + name + ": " + pick(rng, values)});
    };
    resource("displayTimer", {"False"});
    resource("scanSkipInterval", {"0", "5", "59", "75", "-3"});
    resource("pauseSkipInterval", {"0", "1", "59", "90", "-15"});
    resource("replayThreshold", {"0", "100", "-1"});
    resource("scanPauseInterval", {"0", "1.5", "-1"});
    resource("pausePauseInterval", {"0", "2"});
    for (size_t i = 5; i + 1 < args.size(); i += 2)
        dprintf(real_stdout, "fault storm: -xrm \"%s\"\n", args[i + 1].c_str());
    start_toolkit(args);
    cdrom_open();
    logo_form_create(mainForm);
    buttons_form_create(mainForm);
    program_form_create(mainForm);
    realize_main_window();
    process_events();
    cdrom_poll(nullptr, nullptr);

    w_clear = XtNameToWidget(programForm, "Clear");
    w_cancel = XtNameToWidget(programForm, "Cancel");
    w_save = XtNameToWidget(programForm, "Save");
    w_all = XtNameToWidget(programForm, "selectForm.All");
    w_done = XtNameToWidget(titleDialog, "Done");
    ASSERT_TRUE(w_clear && w_cancel && w_save && w_all && w_done);
}

bool FaultStorm::has_pending(XtTimerCallbackProc proc) const
{
    return std::any_of(pending.begin(), pending.end(),
                       [proc](const armed_timer &t) { return t.proc == proc; });
}

// As Xt fires a timeout: off the queue first, then the callback with its id.
void FaultStorm::fire(XtTimerCallbackProc proc)
{
    auto it = std::find_if(pending.begin(), pending.end(),
                           [proc](const armed_timer &t) { return t.proc == proc; });
    if (it == pending.end())
        return;
    armed_timer t = *it;
    pending.erase(it);
    __real_XtRemoveTimeOut(t.id);
    log_step("fire %s", proc_name(proc));
    t.proc(t.data, &t.id);
}

// Quit ends the process; it runs in a child, without the toolkit's help,
// so that no X request of the child's mixes with the parent's.
void FaultStorm::quit_in_child()
{
    log_step("quit (in a child)");
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        storming = 0;
        cb_cdrom_quit(quitButton, nullptr, nullptr);
        _exit(99);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "quit ended with status " << status << " at step " << storm_step;
    counts[15]++;
}

void FaultStorm::perturb_drive()
{
    static const std::vector<std::string> requests = {
        "toc-header", "toc-entry", "subchannel", "play", "pause",
        "resume", "stop", "allow", "eject", "volume"};
    if (chance(rng, 0.02)) {
        const std::string &r = pick(rng, requests);
        int e = chance(rng, 0.35) ? 0 : random_errno(rng);
        sim_refuse(r.c_str(), e);
        log_step("drive refuses %s with errno %d", r.c_str(), e);
    }
    if (chance(rng, 0.006)) {
        sim_refuse_clear();
        log_step("drive refuses nothing");
    }
    if (forced && chance(rng, 0.25)) {
        sim_force_position(-1, 0);
        forced = false;
        log_step("drive answers truly");
    } else if (chance(rng, 0.02)) {
        static const std::vector<int> statuses = {
            CD_AS_NO_STATUS, CD_AS_AUDIO_INVALID, CD_AS_PLAY_ERROR, CD_AS_PLAY_COMPLETED,
            CD_AS_PLAY_IN_PROGRESS, CD_AS_PLAY_IN_PROGRESS, CD_AS_PLAY_PAUSED, 0x42, 0xff};
        int status = pick(rng, statuses);
        int track = pick(rng, std::vector<int>{0, 0, CDI.curtrack, CDI.min - 1, CDI.max + 1,
                                               uniform(rng, 1, 99), 170, 255});
        sim_force_position(status, track & 0xff);
        forced = true;
        log_step("drive answers status 0x%02x track %d", status, track & 0xff);
    }
}

void FaultStorm::main_button()
{
    static Widget *const buttons[] = {&playButton, &pauseButton, &stopButton, &prevButton,
                                      &nextButton, &cycleButton, &shuffleButton, &rewButton,
                                      &ffButton, &pgmButton};
    // Eject less often than the others: an ejected player does little.
    Widget w = chance(rng, 0.04)
                   ? ejectButton
                   : *buttons[uniform(rng, 0, static_cast<int>(std::size(buttons)) - 1)];
    log_step("click %s", XtName(w));
    click(w);
}

void FaultStorm::program_window()
{
    int roll = uniform(rng, 0, 99);
    std::vector<Widget> choices;
    if (roll < 40) {
        for (int i = 0; i < 11; i++)
            if (XtIsSensitive(select_buttons[i]))
                choices.push_back(select_buttons[i]);
    } else if (roll < 70) {
        choices.push_back(program_anchor);
        for (selection *s = CDI.program_head; s; s = s->next)
            choices.push_back(s->toggle);
    } else if (roll < 80) {
        choices.push_back(w_all);
    } else if (roll < 88) {
        choices.push_back(w_clear);
    } else if (roll < 95) {
        choices.push_back(w_cancel);
    } else {
        choices.push_back(w_save);
    }
    if (choices.empty())
        return;
    Widget w = pick(rng, choices);
    log_step("click program %s \"%s\"", XtName(w),
             XtIsSubclass(w, commandWidgetClass) ? XtName(w) : label_of(w).c_str());
    click(w);
}

void FaultStorm::title_and_volume()
{
    switch (uniform(rng, 0, 5)) {
    case 0:
        log_step("click titleBar");
        click(titleBar);
        break;
    case 1:
    case 2: {
        std::string t = random_title(rng);
        log_step("title \"%.40s\", Done", t.c_str());
        XtVaSetValues(titleDialog, XtNvalue, t.c_str(), nullptr);
        if (chance(rng, 0.5))
            click(w_done);
        else
            XtCallActionProc(titleDialog, "done", nullptr, nullptr, 0);
        break;
    }
    case 3: {
        float f = static_cast<float>(uniform(rng, 0, 1000)) / 1000.0f;
        log_step("volume jump %.3f", static_cast<double>(f));
        XtCallCallbacks(volumeScrollbar, XtNjumpProc, &f);
        break;
    }
    default: {
        int amount = uniform(rng, -300, 300);
        log_step("volume scroll %d", amount);
        XtCallCallbacks(volumeScrollbar, XtNscrollProc,
                        reinterpret_cast<XtPointer>(static_cast<intptr_t>(amount)));
        break;
    }
    }
}

void FaultStorm::act()
{
    int roll = uniform(rng, 0, 999);
    bool program_shown = XtIsManaged(programForm);
    if (roll < 330) {
        main_button();
    } else if (roll < 560) {
        if (has_pending(cb_play_tick))
            fire(cb_play_tick);
        else if (has_pending(cb_scan_tick))
            fire(cb_scan_tick);
        else
            main_button();
    } else if (roll < 620) {
        fire(cdrom_poll);
    } else if (roll < 740) {
        int64_t ms = chance(rng, 0.15) ? uniform(rng, 10, 900) * 1000 : uniform(rng, 1, 3000);
        log_step("clock +%lld ms", static_cast<long long>(ms));
        sim_advance_ms(ms);
        storm_clock_ms += ms;
    } else if (roll < 860) {
        if (program_shown)
            program_window();
        else
            main_button();
    } else if (roll < 900) {
        Widget w = chance(rng, 0.5) || !timerButton ? trackButton : timerButton;
        log_step("click %s", XtName(w));
        click(w);
    } else if (roll < 930) {
        title_and_volume();
    } else if (roll < 960) {
        bool fresh = chance(rng, 0.3);
        size_t i = static_cast<size_t>(uniform(rng, 0, static_cast<int>(pool.size()) - 1));
        disc_spec d = fresh ? random_disc(rng) : pool[i];
        log_step("disc %s: %zu tracks from %d", fresh ? "new" : ("pool " + std::to_string(i)).c_str(),
                 d.starts.size(), d.first);
        insert_disc(d);
    } else if (roll < 966) {
        log_step("disc taken out");
        unlink(disc_path.c_str());
    } else if (roll < 985) {
        if (info_read) {
            std::string t = random_title(rng), p = random_program(rng);
            log_step("info file: \"%.30s\" / \"%.60s\"", t.c_str(), p.c_str());
            std::ofstream(info_path) << "Title:" << t << "\nProgram: " << p << "\n";
        }
    } else if (roll < 999) {
        log_step("process X events");
        process_events();
    } else if (chance(rng, 0.2)) {
        quit_in_child();
    }
}

std::string FaultStorm::check_timers() const
{
    int polls = 0;
    std::vector<const armed_timer *> chain;
    for (const armed_timer &t : pending) {
        if (t.proc == cdrom_poll)
            polls++;
        else if (t.proc == cb_play_tick || t.proc == cb_scan_tick)
            chain.push_back(&t);
    }
    if (!stale_removal.empty())
        return stale_removal;
    if (polls != 1)
        return "the drive poll has " + std::to_string(polls) + " timeouts pending, not 1";
    if (chain.size() > 1)
        return std::to_string(chain.size()) + " play or scan ticks pending at once";
    if (play_timer != TIMER_NONE &&
        (chain.empty() || chain[0]->id != play_timer))
        return "play_timer holds an id that is not a pending tick";
    if (!chain.empty() && chain[0]->id != play_timer && chain[0]->id != scan_timer)
        return std::string("a pending ") + proc_name(chain[0]->proc) +
               " is recorded in neither play_timer nor scan_timer";
    return "";
}

std::string FaultStorm::check_program() const
{
    int n = 0;
    bool current_in = !CDI.program_current, mark_in = !program_mark;
    std::string text;
    for (selection *s = CDI.program_head, *prev = nullptr; s; prev = s, s = s->next) {
        if (s->prev != prev)
            return "selection " + std::to_string(n) + " is badly linked";
        if (++n > 10000)
            return "the program list does not end";
        current_in |= s == CDI.program_current;
        mark_in |= s == program_mark;
        text += (prev ? "-" : "") + std::to_string(s->track);
    }
    if (CDI.lastprog != n)
        return "lastprog " + std::to_string(CDI.lastprog) + " but " + std::to_string(n) +
               " selections";
    if (!current_in)
        return "program_current is not a selection of the list";
    if (!mark_in)
        return "program_mark is not a selection of the list";
    if (n > 0 && program_string != text)
        return "program_string \"" + program_string + "\" but the list reads \"" + text + "\"";
    if (bool(XtIsManaged(programForm)) != bool(CDI.state & CDROM_PROGRAM))
        return "the program window is shown outside program mode, or hidden in it";
    return "";
}

std::string FaultStorm::check() const
{
    const uint32_t st = CDI.state;
    char buf[256];
    // 1: both tables or none, present exactly while the drive is open.
    if (CDI.times.empty() != CDI.addrs.empty())
        return "one track table without the other";
    if (tables_present() != (cdrom_fd != -1))
        return cdrom_fd != -1 ? "the drive is open without tables" : "tables with the drive closed";
    if (tables_present() && (CDI.max < CDI.min ||
                             CDI.times.size() != static_cast<size_t>(CDI.max - CDI.min + 1) ||
                             CDI.addrs.size() != CDI.times.size() + 1)) {
        snprintf(buf, sizeof buf, "tables of %zu and %zu entries for tracks %d..%d",
                 CDI.times.size(), CDI.addrs.size(), CDI.min, CDI.max);
        return buf;
    }
    // 3
    if ((st & CDROM_SHUFFLE) && (st & CDROM_PROGRAM))
        return "shuffle and program mode together";
    // 4: the paused flag alone only from a pause the drive refused.
    bool paused_alone = (st & CDROM_PAUSED) && !(st & CDROM_PLAYING);
    if (paused_alone && !paused_alone_before &&
        step_reports.find("ioctl(cdrompause)") == std::string::npos)
        return "paused without playing, and no pause was refused";
    // 6, 7
    if (CDI.currand < -1 || CDI.currand > CDI.total) {
        snprintf(buf, sizeof buf, "currand %d outside -1..%d", CDI.currand, CDI.total);
        return buf;
    }
    std::string program = check_program();
    if (!program.empty())
        return program;
    if (CDI.curtrack != 0 && (CDI.curtrack < CDI.min || CDI.curtrack > CDI.max)) {
        snprintf(buf, sizeof buf, "curtrack %d outside %d..%d", CDI.curtrack, CDI.min, CDI.max);
        return buf;
    }
    if (volume < 1 || volume > 255)
        return "volume " + std::to_string(volume) + " outside 1..255";
    std::string timers = check_timers();
    if (!timers.empty())
        return timers;

    bool chain_pending = has_pending(cb_play_tick) || has_pending(cb_scan_tick);
    bool ejected = step_trace.find("cb_cdrom_eject: ejecting on track") != std::string::npos;
    bool reset = ejected || step_trace.find("cb_cdrom_stop: resetting disc") != std::string::npos ||
                 step_trace.find("cdrom_atend: all done") != std::string::npos ||
                 step_trace.find("cdrom_atend: shuffle done") != std::string::npos;
    // 5, right after a reset that nothing followed.
    if (reset) {
        if (st & (CDROM_PLAYING | CDROM_PAUSED))
            return "playing or paused right after a reset";
        if (!ejected && (st & CDROM_EJECTED))
            return "ejected flag right after a reset";
        if (CDI.curtrack != 0)
            return "curtrack " + std::to_string(CDI.curtrack) + " right after a reset";
        if (chain_pending || play_timer != TIMER_NONE)
            return "a tick pending right after a reset";
    }
    // 2, right after an eject.
    if (ejected) {
        if (cdrom_fd != -1 || tables_present() || CDI.max != 0)
            return "the drive open, tables or max left after an eject";
        if (!(st & CDROM_EJECTED) || (st & CDROM_PROGRAM))
            return "not ejected, or still in program mode, after an eject";
        if (!title || *title != "No Disc")
            return "title \"" + title.value_or("(none)") + "\" after an eject, not \"No Disc\"";
    }
    return "";
}

// What the storm reached, from the trace.
void FaultStorm::tally()
{
    static const char *const marks[] = {
        "cdrom_atend: at end", "cb_cdrom_eject: ejecting", "cdrom_new_disc: resetting",
        "cb_cdrom_pause: pausing", "cb_cdrom_pause: resuming", "moving backward",
        "moving forward", "shuffle_setup:", "cb_cdrom_program: program on", "using stored program",
        "program saved to", "cb_cdrom_play: cancelling program", "cdrom_reset: forcing"};
    for (size_t i = 0; i < std::size(marks); i++)
        for (size_t at = step_trace.find(marks[i]); at != std::string::npos;
             at = step_trace.find(marks[i], at + 1))
            counts[i]++;
    if (step_reports.find("ioctl(cdrompause)") != std::string::npos)
        counts[13]++;
    if (step_reports.find("ioctl(cdromsubchnl)") != std::string::npos)
        counts[14]++;
}

void FaultStorm::run()
{
    start();
    if (HasFatalFailure())
        return;
    auto began = std::chrono::steady_clock::now();
    out.take();
    err.take();
    storming = 1;
    for (storm_step = 0; storm_step < steps; storm_step++) {
        recent[storm_step % kRecent][0] = '\0';
        perturb_drive();
        act();
        if (HasFatalFailure()) {
            storming = 0;
            return;
        }
        if (storm_step % 16 == 0)
            process_events();
        fflush(stdout);
        step_trace = out.take();
        step_reports = err.take();
        if (verbose)
            dprintf(real_stdout, "%s\n%s%s  -> state 0x%x curtrack %d pending %s\n",
                    recent[storm_step % kRecent], step_trace.c_str(), step_reports.c_str(),
                    CDI.state, CDI.curtrack, pending_text().c_str());
        tally();
        occupancy[0] += cdrom_fd != -1;
        occupancy[1] += (CDI.state & (CDROM_PLAYING | CDROM_PAUSED)) == CDROM_PLAYING;
        occupancy[2] += (CDI.state & CDROM_PAUSED) != 0;
        occupancy[3] += (CDI.state & CDROM_SHUFFLE) != 0;
        occupancy[4] += (CDI.state & CDROM_PROGRAM) != 0;
        std::string fault = check();
        if (!fault.empty()) {
            std::string last;
            for (int i = 1; i <= kRecent; i++) {
                const char *r = recent[(storm_step + i) % kRecent];
                if (*r)
                    last += std::string("  ") + r + "\n";
            }
            ADD_FAILURE() << "fault storm: " << fault << "\n  at step " << storm_step
                          << " of seed " << storm_seed << "\n  replay: MURBEL_STORM_SEED="
                          << storm_seed << " MURBEL_STORM_STEPS=" << storm_step + 1
                          << "\n  state 0x" << std::hex << CDI.state << std::dec << ", curtrack "
                          << int(CDI.curtrack) << ", tracks " << int(CDI.min) << ".."
                          << int(CDI.max) << ", drive " << (cdrom_fd != -1 ? "open" : "closed")
                          << ", pending " << pending_text() << "\nlast steps:\n"
                          << last << "--- trace of the last step ---\n"
                          << step_trace << "--- reports of the last step ---\n"
                          << step_reports;
            storming = 0;
            return;
        }
        paused_alone_before = (CDI.state & CDROM_PAUSED) && !(CDI.state & CDROM_PLAYING);
    }
    storming = 0;
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    dprintf(real_stdout,
            "fault storm: %ld steps in %.1f s (%.0f us a step)\n"
            "  track ends %ld, ejects %ld, new discs %ld, pauses %ld, resumes %ld,\n"
            "  rewind steps %ld, forward steps %ld, shuffle orders %ld, program mode %ld,\n"
            "  stored programs %ld, saves %ld, programs cancelled by play %ld, resets %ld,\n"
            "  refused pauses %ld, failed sub-channel queries %ld, quits %ld\n"
            "  steps with the drive open %ld, playing %ld, paused %ld, shuffle %ld, program %ld\n",
            steps, secs, secs * 1e6 / static_cast<double>(std::max(steps, 1L)), counts[0],
            counts[1], counts[2], counts[3], counts[4], counts[5], counts[6], counts[7],
            counts[8], counts[9], counts[10], counts[11], counts[12], counts[13], counts[14],
            counts[15], occupancy[0], occupancy[1], occupancy[2], occupancy[3], occupancy[4]);
}

TEST_F(FaultStorm, InvariantsHoldUnderRandomClicksTicksAndDriveFaults)
{
    run();
}

}  // namespace
