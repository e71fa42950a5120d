// What the readers of disc names promise, whatever they read.
#pragma once

#include "names/names.h"

// The broken promise, or null: no more than 99 tracks, clean UTF-8 names.
inline const char *names_fault(const disc_names &n)
{
    if (n.tracks.size() > 99)
        return "more than 99 tracks";
    bool clean = text_clean(n.artist) == n.artist && text_clean(n.album) == n.album;
    for (const track_name &t : n.tracks)
        clean = clean && text_clean(t.title) == t.title && text_clean(t.artist) == t.artist;
    return clean ? nullptr : "a name that is not clean UTF-8";
}
