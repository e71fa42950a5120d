// The one record of player state, the variables beside it, and the drive
// access and requests built on the drive layer.
#pragma once

#include <X11/Intrinsic.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "drive/msf.h"

// Flags of CDI.state.
enum : uint32_t {
    CDROM_PLAYING = 0x01,
    CDROM_PAUSED = 0x02,
    CDROM_EJECTED = 0x08,
    CDROM_CYCLE = 0x10,
    CDROM_SHUFFLE = 0x20,
    CDROM_PROGRAM = 0x40,
};

// Results of cdrom_status; -1 when the status cannot be had.
enum {
    CDROM_STATUS_INVALID = 1,
    CDROM_STATUS_PLAYING = 2,
    CDROM_STATUS_PAUSED = 3,
    CDROM_STATUS_COMPLETED = 4,
    CDROM_STATUS_ERROR = 5,
    CDROM_STATUS_NOSTATUS = 6,
};

struct selection;

struct cdrom_info {
    uint8_t curtrack;           // 0 = no current track
    uint8_t min, max;           // first and last track; max 0 = no disc
    uint8_t total;              // entries in shuffle_order
    int32_t dur;                // elapsed seconds in the current track
    uint32_t state;             // CDROM_* flags
    int16_t currand;            // next shuffle position; -1 = one-track disc
    int16_t lastprog;           // number of program selections
    std::vector<uint16_t> times;  // track lengths; empty = none
    std::vector<msf_t> addrs;     // track starts, then the lead-out
    selection *program_current;
    selection *program_head;
};

extern cdrom_info CDI;

// Beside the record.
extern int cdrom_fd;                       // drive handle; -1 = closed
extern FILE *info_file;                    // the disc's information file
extern std::string info_path;
extern std::vector<bool> data_tracks;      // per track, as times: a data track
extern bool info_read;                     // info_path belongs to this disc
extern std::optional<std::string> title;   // none = no title known
extern std::string program_string;
extern selection *program_mark;
extern std::vector<uint8_t> shuffle_order;
extern int tick_count;
extern int tens_mode;
extern int pgm_latch;
extern XtIntervalId play_timer;
extern XtIntervalId scan_timer;
extern int led_index;
extern int volume;
extern float volume_place;                 // the volume bar's place, 0..1

// play_timer and scan_timer hold this while no timer is pending.
constexpr XtIntervalId TIMER_NONE = static_cast<XtIntervalId>(-1);

// The track tables are present, and t is one of their tracks.
bool tables_present();
bool track_on_disc(int t);
// t is a data track of the disc: a drive plays no audio from it.
bool track_is_data(int t);

// Drive access and table of contents.
int cdrom_open();
void cdrom_close();
int cdrom_read_toc();
struct drive_toc_entry;
int cdrom_read_toc_entry(uint8_t track, drive_toc_entry *buf, uint16_t len);
int cdrom_toc_entry_msf(uint8_t track, msf_t *msf, uint64_t *seconds);

// Drive requests and status.
int cdrom_stop();
int cdrom_eject();
int cdrom_pause();
int cdrom_resume();
int cdrom_volume(uint8_t left, uint8_t right);
int cdrom_play_tracks(uint8_t first, uint8_t last);
int cdrom_play_msf(const msf_t *start, const msf_t *end);
int cdrom_get_curtrack();
int cdrom_get_msf(msf_t *msf);
int cdrom_status();
int cdrom_get_curtime();
// The drive holds another disc than the one whose table was read (a disc
// image's sheet rewritten); false when it cannot tell.
bool cdrom_media_changed();
