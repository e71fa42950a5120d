#include "player_fixture.h"

#include <X11/StringDefs.h>
#include <X11/Xaw/Toggle.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/app.h"
#include "audio/audio.h"
#include "disc/cdrom.h"
#include "drive/sim.h"
#include "names/names.h"
#include "playback/commands.h"
#include "playback/playback.h"
#include "program/program.h"
#include "ui/ui.h"

namespace fs = std::filesystem;

static std::string read_from(const std::string &path, size_t &pos)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string all = ss.str();
    std::string fresh = pos <= all.size() ? all.substr(pos) : std::string();
    pos = all.size();
    return fresh;
}

void PlayerTest::SetUp()
{
    char tmpl[] = "/tmp/murbel-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    scratch = tmpl;
    disc_path = scratch + "/disc";
    log_path_ = scratch + "/requests.log";
    out_path_ = scratch + "/stdout";
    err_path_ = scratch + "/stderr";

    fflush(stdout);
    fflush(stderr);
    saved_stdout_ = dup(1);
    saved_stderr_ = dup(2);
    int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    setvbuf(stderr, nullptr, _IONBF, 0);

    sim_reset_all();
    sim_use_manual_clock(true);
}

void PlayerTest::TearDown()
{
    fflush(stdout);
    fflush(stderr);
    dup2(saved_stdout_, 1);
    dup2(saved_stderr_, 2);
    close(saved_stdout_);
    close(saved_stderr_);
    if (HasFailure()) {
        size_t a = 0, b = 0;
        fprintf(stderr, "--- player's standard output ---\n%s", read_from(out_path_, a).c_str());
        fprintf(stderr, "--- player's standard error ---\n%s", read_from(err_path_, b).c_str());
    }
    std::error_code ec;
    fs::remove_all(scratch, ec);
}

std::string PlayerTest::write_file(const std::string &name, const std::string &text)
{
    std::string path = name.empty() || name[0] == '/' ? name : scratch + "/" + name;
    std::ofstream(path) << text;
    return path;
}

const char *PlayerTest::demo_disc()
{
    return "track 1 00:02:00\n"
           "track 2 04:10:33\n"
           "track 3 07:00:00\n"
           "leadout 10:30:12\n";
}

void PlayerTest::start_toolkit(std::vector<std::string> args)
{
    // The player exits at once without a display; when the test meant to
    // give it one, say so where it shows.
    if (!getenv("DISPLAY"))
        ;
    else if (Display *probe = XOpenDisplay(nullptr))
        XCloseDisplay(probe);
    else {
        dprintf(saved_stderr_, "cannot open the test display %s\n",
                getenv("DISPLAY") ? getenv("DISPLAY") : "(unset)");
        _exit(1);
    }
    argv_store_ = std::move(args);
    argv_store_.insert(argv_store_.begin(), "murbel");
    argv_.clear();
    for (auto &a : argv_store_)
        argv_.push_back(a.data());
    argv_.push_back(nullptr);
    // The build tree's resources, not a resource file installed on this
    // machine: the toolkit uses the compiled-in ones only when it finds none.
    setenv("XFILESEARCHPATH", "/dev/null/%N", 1);
    mainForm = init_toolkit(static_cast<int>(argv_store_.size()), argv_.data());
    names_start();  // as main does
}

void PlayerTest::write_disc(const std::string &disc_text)
{
    write_file(disc_path, disc_text + "log " + log_path_ + "\n");
}

void PlayerTest::start_drive(const std::string &disc_text, std::vector<std::string> extra_args)
{
    write_disc(disc_text);
    std::vector<std::string> args = {"-device", "sim:" + disc_path};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    start_toolkit(args);
}

void PlayerTest::start_player(const std::string &disc_text, std::vector<std::string> extra_args)
{
    write_file(disc_path, disc_text + "log " + log_path_ + "\n");
    std::vector<std::string> args = {"-debug", "-device", "sim:" + disc_path};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    start_toolkit(args);
    cdrom_open();
    logo_form_create(mainForm);
    buttons_form_create(mainForm);
    program_form_create(mainForm);
    realize_main_window();
    audio_watch_faults(command_watch_play_failures);  // as main does
    process_events();
}

std::string PlayerTest::take_stdout()
{
    fflush(stdout);
    return read_from(out_path_, out_pos_);
}

std::string PlayerTest::take_stderr()
{
    fflush(stderr);
    return read_from(err_path_, err_pos_);
}

std::vector<std::string> PlayerTest::take_requests(bool with_subchannel)
{
    std::istringstream in(read_from(log_path_, log_pos_));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (with_subchannel || line != "subchannel")
            lines.push_back(line);
    return lines;
}

void PlayerTest::click(Widget w)
{
    XEvent ev{};
    ev.type = ButtonPress;
    ev.xbutton.display = XtDisplay(w);
    ev.xbutton.window = XtWindow(w);
    ev.xbutton.button = Button1;
    if (XtIsSubclass(w, toggleWidgetClass)) {
        XtCallActionProc(w, "toggle", &ev, nullptr, 0);
        XtCallActionProc(w, "notify", &ev, nullptr, 0);
    } else {
        XtCallActionProc(w, "set", &ev, nullptr, 0);
        XtCallActionProc(w, "notify", &ev, nullptr, 0);
        XtCallActionProc(w, "unset", &ev, nullptr, 0);
    }
}

void PlayerTest::fire_play_timer()
{
    ASSERT_NE(play_timer, TIMER_NONE) << "no play timer pending";
    XtIntervalId id = play_timer;
    XtRemoveTimeOut(id);
    cb_play_tick(nullptr, &id);
}

void PlayerTest::fire_scan_timer()
{
    ASSERT_NE(scan_timer, TIMER_NONE) << "no scan timer pending";
    XtIntervalId id = scan_timer;
    XtRemoveTimeOut(id);
    cb_scan_tick(nullptr, &id);
}

void PlayerTest::fire_scan_chain_timer()
{
    ASSERT_NE(play_timer, TIMER_NONE) << "no scan tick pending";
    XtIntervalId id = play_timer;
    XtRemoveTimeOut(id);
    cb_scan_tick(nullptr, &id);
}

void PlayerTest::process_events()
{
    XSync(XtDisplay(top_shell), False);
    while (XtAppPending(app_context) & XtIMXEvent)
        XtAppProcessEvent(app_context, XtIMXEvent);
}

bool toggle_on(Widget w)
{
    Boolean state = False;
    XtVaGetValues(w, XtNstate, &state, nullptr);
    return state;
}

std::string label_of(Widget w)
{
    String label = nullptr;
    XtVaGetValues(w, XtNlabel, &label, nullptr);
    return label ? label : "";
}
