// CD-Text of a cue sheet: its TITLE and PERFORMER lines, for the disc and
// for each track, from the same reading of the sheet as its audio.
#include "audio/audio.h"
#include "names/names.h"

lookup_result cue_cdtext_parse(const std::string &text)
{
    lookup_result r;
    cue_sheet sheet;
    std::string why = cue_read(text, &sheet);
    r.names.album = text_clean(sheet.title);
    r.names.artist = text_clean(sheet.performer);
    for (size_t i = 0; i < sheet.tracks.size(); i++) {
        track_name tn{text_clean(sheet.tracks[i].title), text_clean(sheet.tracks[i].performer)};
        if (tn.artist == r.names.artist)
            tn.artist.clear();
        if (tn.title.empty() && tn.artist.empty())
            continue;
        r.names.tracks.resize(i + 1);
        r.names.tracks[i] = tn;
    }
    if (r.names.album.empty() && r.names.artist.empty() && r.names.tracks.empty()) {
        r.error = why.empty() ? "no CD-Text" : "unreadable cue sheet";
        return r;
    }
    r.ok = true;
    return r;
}
