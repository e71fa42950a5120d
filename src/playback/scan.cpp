// Rewind and fast-forward: steps of a few seconds, repeated by the play
// tick while playing and by a scan tick of their own while paused.
#include <algorithm>

#include "app/app.h"
#include "disc/cdrom.h"
#include "playback/internal.h"
#include "playback/playback.h"
#include "ui/ui.h"

// Whether scan_timer's timeout has yet to fire; once it has, its id may
// already belong to another timer and must not be removed.
static bool scan_pending = false;

void scan_chain_end()
{
    if (scan_timer == TIMER_NONE)
        return;
    if (scan_pending)
        XtRemoveTimeOut(scan_timer);
    scan_pending = false;
    scan_timer = TIMER_NONE;
}

static void scan_chain_start()
{
    unsigned long ms = interval_ms(app_resources.pausePauseInterval);
    scan_timer = XtAppAddTimeOut(app_context, ms, cb_scan_tick, nullptr);
    scan_pending = true;
    last_timeout_ms = ms;
}

// Positions are worked in whole seconds, which carries and borrows
// across minutes for any skip.
static int secs(const msf_t &a)
{
    return static_cast<int>(msf_seconds(a));
}

static int skip_of(int resource)
{
    return std::max(resource, 0);
}

static int step_skip()
{
    if (CDI.state & CDROM_PAUSED)
        return skip_of(app_resources.pauseSkipInterval);
    if (CDI.state & CDROM_PLAYING)
        return skip_of(app_resources.scanSkipInterval);
    return 0;
}

static bool one_track_mode()
{
    return CDI.state & (CDROM_SHUFFLE | CDROM_PROGRAM);
}

static bool bounds_known(int t)
{
    return track_on_disc(t) && static_cast<size_t>(t - CDI.min + 1) < CDI.addrs.size();
}

// The track whose bounds hold a step in shuffle and program modes: the
// drive's, else the current one, else none (0: the whole disc).
static int bound_track(int t)
{
    if (bounds_known(t))
        return t;
    if (bounds_known(CDI.curtrack))
        return CDI.curtrack;
    return 0;
}

static const msf_t &start_of(int t)
{
    return CDI.addrs[bounds_known(t) ? t - CDI.min : 0];
}

static const msf_t &end_of(int t)
{
    return CDI.addrs[bounds_known(t) ? t - CDI.min + 1 : CDI.addrs.size() - 1];
}

static int leadout_secs()
{
    return secs(CDI.addrs.back());
}

// Whether a step from pos would reach the bound b (b - pos, signed, in
// seconds; rewinding it is negative): each test only under its flag.
static bool reaches(int dist, bool backward)
{
    int scan = skip_of(app_resources.scanSkipInterval);
    int pause = skip_of(app_resources.pauseSkipInterval);
    if (backward)
        return ((CDI.state & CDROM_PLAYING) && dist >= -scan) ||
               ((CDI.state & CDROM_PAUSED) && dist >= -pause);
    return ((CDI.state & CDROM_PLAYING) && dist <= scan) ||
           ((CDI.state & CDROM_PAUSED) && dist <= pause);
}

// The request, then the timer and display work common to both steps.
static void step_to(const msf_t &p, const msf_t &e)
{
    cdrom_play_msf(&p, &e);
    tick_count = 0;
    if (!(CDI.state & CDROM_PAUSED)) {
        scan_chain_end();
        timer_display_update();
        return;
    }
    if (scan_timer == TIMER_NONE)
        scan_chain_start();
    // With the flag clear the display reads the new elapsed time.
    CDI.state &= ~CDROM_PAUSED;
    timer_display_update();
    CDI.state |= CDROM_PAUSED;
    cdrom_pause();
}

// Where a step starts: the drive's position and track.  False when the
// position cannot be read (the failure line is logged) or there are no tables to bound it.
static bool read_step_position(const char *failure, msf_t *pos, int *t)
{
    if (cdrom_get_msf(pos) == -1) {
        debug_log(1, "%s", failure);
        return false;
    }
    *t = cdrom_get_curtrack();
    if (*t != CDI.curtrack)
        track_display_update();
    return tables_present();
}

void cdrom_rew_step()
{
    msf_t pos;
    int t;
    if (!read_step_position("rew: error reading location\n", &pos, &t))
        return;

    int pos_s = secs(pos);
    int p_s = pos_s - step_skip();
    uint8_t p_frame = pos.frame;
    if (t == CDI.min || one_track_mode()) {
        const msf_t &s = start_of(one_track_mode() ? bound_track(t) : t);
        if (reaches(secs(s) - pos_s, true)) {
            p_s = secs(s) + 1;
            p_frame = s.frame;
        }
    }
    p_s = std::clamp(p_s, 0, leadout_secs());

    const msf_t &end = one_track_mode() ? end_of(bound_track(CDI.curtrack)) : CDI.addrs.back();
    msf_t e = msf_at(std::max(secs(end) - 1, 0), end.frame);
    msf_t p = msf_at(p_s, p_frame);
    if (p.minute == e.minute && p.second == e.second)
        e.frame = p.frame;
    step_to(p, e);
}

void cdrom_ff_step()
{
    msf_t pos;
    int t;
    if (!read_step_position("ff: error reading location\n", &pos, &t))
        return;

    const msf_t &end = one_track_mode() ? end_of(bound_track(t)) : CDI.addrs.back();
    int e_s = std::max(secs(end) - 1, 0);

    int pos_s = secs(pos);
    int p_s = pos_s + step_skip();
    uint8_t p_frame = pos.frame;
    if (t == CDI.max || one_track_mode()) {
        const msf_t &n = end_of(one_track_mode() ? bound_track(t) : t);
        if (reaches(secs(n) - pos_s, false)) {
            p_s = secs(n) - 1;
            p_frame = n.frame;
        }
    }
    // Never past the end of the request, which is within the lead-out.
    p_s = std::clamp(p_s, 0, e_s);

    msf_t p = msf_at(p_s, p_frame);
    msf_t e = msf_at(e_s, end.frame);
    if (p.minute == e.minute && p.second == e.second)
        p.frame = e.frame = 0;
    step_to(p, e);
}

bool scan_tick_step(XtTimerCallbackProc again)
{
    if (get_button_state(rewButton)) {
        cdrom_rew_step();
        leds_animate(-1);
    } else {
        leds_animate(1);
        if (!get_button_state(ffButton))
            return false;
        cdrom_ff_step();
    }
    if (CDI.state & CDROM_PAUSED)
        cdrom_pause();
    play_timer_arm(interval_ms(app_resources.scanPauseInterval), again);
    return true;
}

void cb_cdrom_rew(Widget, XtPointer, XtPointer)
{
    if (cdrom_open() == -1) {
        debug_log(1, "cb_cdrom_rew: error from cdrom_open\n");
        return;
    }
    if (CDI.state & (CDROM_PLAYING | CDROM_PAUSED)) {
        debug_log(1, "cb_cdrom_rew: moving backward in track %d\n", CDI.curtrack);
        cdrom_rew_step();
    }
}

void cb_cdrom_ff(Widget, XtPointer, XtPointer)
{
    if (cdrom_open() == -1) {
        debug_log(1, "cb_cdrom_ff: error from cdrom_open\n");
        return;
    }
    if (CDI.state & (CDROM_PLAYING | CDROM_PAUSED)) {
        debug_log(1, "cb_cdrom_ff: moving forward in track %d\n", CDI.curtrack);
        cdrom_ff_step();
    }
}

void cb_scan_tick(XtPointer, XtIntervalId *id)
{
    if (id && *id == play_timer)
        play_timer = TIMER_NONE;
    if (id && scan_pending && *id == scan_timer)
        scan_pending = false;

    if (follow_drive_track() && !scan_tick_step(cb_scan_tick))
        scan_chain_end();
}

int cdrom_seek(long frame)
{
    if (cdrom_open() == -1 || !(CDI.state & CDROM_PLAYING) || !bounds_known(CDI.curtrack))
        return -1;
    const msf_t &s = start_of(CDI.curtrack);
    long start = msf_frames(s);
    // The range ends where cdrom_play's would: one frame before its end.
    const msf_t &end = one_track_mode() ? end_of(CDI.curtrack) : CDI.addrs.back();
    long last = std::max(msf_frames(end) - 1, start);
    long at = std::clamp(start + frame, start, last);
    msf_t p = msf_of(at);
    msf_t e = msf_of(last);
    debug_log(1, "cdrom_seek: moving to %02ld:%02ld in track %d\n",
              (at - start) / MSF_FRAMES_PER_MINUTE,
              (at - start) / MSF_FRAMES_PER_SECOND % MSF_SECONDS_PER_MINUTE, CDI.curtrack);
    int rc = cdrom_play_msf(&p, &e);
    tick_count = 0;
    if (CDI.state & CDROM_PAUSED) {
        CDI.state &= ~CDROM_PAUSED;
        timer_display_update();
        CDI.state |= CDROM_PAUSED;
        cdrom_pause();
    } else {
        scan_chain_end();
        timer_display_update();
    }
    return rc;
}
