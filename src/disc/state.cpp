// The player state: one record and the variables beside it, alive for
// the whole run.
#include "disc/cdrom.h"

cdrom_info CDI;

int cdrom_fd = -1;
FILE *info_file = nullptr;
std::string info_path;
bool info_read = false;
std::optional<std::string> title;
std::string program_string;
selection *program_mark = nullptr;
std::vector<uint8_t> shuffle_order;
int tick_count = 0;
int tens_mode = 0;
int pgm_latch = 0;
XtIntervalId play_timer = TIMER_NONE;
XtIntervalId scan_timer = TIMER_NONE;
int led_index = 1;
int volume = 0;
float volume_place = 0.0f;

bool tables_present()
{
    return !CDI.times.empty() && !CDI.addrs.empty();
}

bool track_on_disc(int t)
{
    return tables_present() && t >= CDI.min && t <= CDI.max &&
           static_cast<size_t>(t - CDI.min) < CDI.times.size();
}
