// Disc addresses.  A position on an audio CD is a minute, a second and a
// frame (1/75 s, one sector) from MSF 00:00:00; sector addresses (LBA)
// count from the end of track 1's two-second pregap instead.  Everything
// that works with disc positions uses this one type and these conversions.
//
// libcdio defines an msf_t of its own (BCD fields) in <cdio/types.h>: a
// file that includes libcdio's headers must not include this one.  The
// constants are libcdio's values, checked against its headers in msf.cpp.
#pragma once

#include <cstdint>

constexpr long MSF_FRAMES_PER_SECOND = 75;
constexpr long MSF_SECONDS_PER_MINUTE = 60;
constexpr long MSF_FRAMES_PER_MINUTE = MSF_SECONDS_PER_MINUTE * MSF_FRAMES_PER_SECOND;
// LBA 0 is MSF 00:02:00.
constexpr long LBA_OFFSET = 150;

struct msf_t {
    uint8_t minute, second, frame;
};

// Frames from 00:00:00; the parts need not be in range (a cue sheet's
// "PREGAP 0:90:00" is 90 seconds).
inline long msf_frames(long minute, long second, long frame)
{
    return (minute * MSF_SECONDS_PER_MINUTE + second) * MSF_FRAMES_PER_SECOND + frame;
}

inline long msf_frames(const msf_t &m)
{
    return msf_frames(m.minute, m.second, m.frame);
}

// Whole seconds from 00:00:00, the frame dropped.
inline long msf_seconds(const msf_t &m)
{
    return m.minute * MSF_SECONDS_PER_MINUTE + m.second;
}

// The address of a whole second from 00:00:00 and a frame within it.
inline msf_t msf_at(long seconds, long frame)
{
    return {static_cast<uint8_t>(seconds / MSF_SECONDS_PER_MINUTE),
            static_cast<uint8_t>(seconds % MSF_SECONDS_PER_MINUTE), static_cast<uint8_t>(frame)};
}

// The address of a frame count from 00:00:00 (0 to 99:59:74).
inline msf_t msf_of(long frames)
{
    return msf_at(frames / MSF_FRAMES_PER_SECOND, frames % MSF_FRAMES_PER_SECOND);
}

// The second and the frame within their range (the minute has none).
inline bool msf_valid(const msf_t &m)
{
    return m.second < MSF_SECONDS_PER_MINUTE && m.frame < MSF_FRAMES_PER_SECOND;
}

inline long msf_lba(const msf_t &m)
{
    return msf_frames(m) - LBA_OFFSET;
}

inline msf_t msf_of_lba(long lba)
{
    return msf_of(lba + LBA_OFFSET);
}
