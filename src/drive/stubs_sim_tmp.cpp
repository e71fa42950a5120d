// TEMPORARY: placeholders until the real code lands; this file is deleted then.
#include <cstdlib>
#include "drive/sim.h"
void sim_use_manual_clock(bool) { abort(); }
void sim_advance_ms(int64_t) { abort(); }
bool sim_refuse(const char *, int) { abort(); }
void sim_refuse_clear() { abort(); }
void sim_force_position(int, int) { abort(); }
void sim_reset_all() { abort(); }
int sim_last_volume_left() { abort(); }
int sim_last_volume_right() { abort(); }
