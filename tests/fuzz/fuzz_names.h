// What the readers of disc names promise, whatever they read.
#pragma once

#include <algorithm>

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

inline bool same_names(const disc_names &a, const disc_names &b)
{
    if (a.artist != b.artist || a.album != b.album)
        return false;
    size_t n = std::max(a.tracks.size(), b.tracks.size());
    for (size_t i = 0; i < n; i++) {
        track_name x = i < a.tracks.size() ? a.tracks[i] : track_name{};
        track_name y = i < b.tracks.size() ? b.tracks[i] : track_name{};
        if (x.title != y.title || x.artist != y.artist)
            return false;
    }
    return true;
}

// Names as the next start reads them from the file written for them; a
// second round changes nothing more.  Null when that holds.
inline const char *round_trip_fault(const disc_names &n)
{
    disc_toc toc;
    for (size_t t = 0; t <= std::max<size_t>(n.tracks.size(), 1); t++)
        toc.frames.push_back(150 + 15000 * static_cast<long>(t));
    xmcd_result once = xmcd_parse(xmcd_format(n, toc));
    if (!once.ok)
        return n.artist.empty() && n.album.empty() ? nullptr : "a written file does not read";
    xmcd_result twice = xmcd_parse(xmcd_format(once.names, toc));
    if (!twice.ok || !same_names(once.names, twice.names))
        return "names change with every restart";
    return nullptr;
}
