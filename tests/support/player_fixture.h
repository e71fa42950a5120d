// Brings up the real toolkit on the test's X display with a simulated drive
// whose clock the test advances, and captures the trace (standard output)
// and the reports (standard error).  Each test runs in its own process.
#pragma once

// gtest first: Xlib defines macros (None, Bool) that gtest's names clash with.
#include <gtest/gtest.h>

#include <X11/Intrinsic.h>

#include <string>
#include <vector>

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Write FILE's contents into the scratch directory; returns its path.
    std::string write_file(const std::string &name, const std::string &text);

    // The disc file the player's drive uses ("sim:" + disc_path).
    std::string disc_path;
    // A scratch directory removed after the test; the information files
    // live in scratch + "/info" when the test asks for one.
    std::string scratch;

    // Write the disc file and start the player as main does, up to the
    // event loop (the poll is not started: tests call cdrom_poll).
    void start_player(const std::string &disc_text, std::vector<std::string> extra_args = {});
    // Only up to the toolkit and resources (init_toolkit).
    void start_toolkit(std::vector<std::string> args);
    // Write the disc file (with the request log) and bring up the toolkit
    // with the simulated drive on it; the drive is not opened.
    void start_drive(const std::string &disc_text, std::vector<std::string> extra_args = {});
    // Replace the disc file, keeping the request log.
    void write_disc(const std::string &disc_text);

    // What the player wrote since the last call.
    std::string take_stdout();
    std::string take_stderr();
    // Request lines the simulated drive logged since the last call,
    // sub-channel queries left out unless asked for.
    std::vector<std::string> take_requests(bool with_subchannel = false);

    // A user's click: the widget's own actions, as a pointer click runs them.
    void click(Widget w);
    // Fire the pending play or scan timer as the toolkit would.
    void fire_play_timer();
    void fire_scan_timer();        // the first timeout of a paused scan
    void fire_scan_chain_timer();  // its later ones, kept in play_timer
    // Deliver pending X events (not timers).
    void process_events();

    static const char *demo_disc();  // a 3-track disc: 248, 170 and 210 seconds

private:
    int saved_stdout_ = -1, saved_stderr_ = -1;
    std::string out_path_, err_path_, log_path_;
    size_t out_pos_ = 0, err_pos_ = 0, log_pos_ = 0;
    std::vector<std::string> argv_store_;
    std::vector<char *> argv_;
};

// Reads a widget's Toggle "state".
bool toggle_on(Widget w);
// Reads a widget's "label".
std::string label_of(Widget w);
