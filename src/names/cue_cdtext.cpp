// CD-Text of a cue sheet: its TITLE and PERFORMER lines, for the disc and
// for each track.  (libcue and libcdio both name a function cdtext_get, so
// the drive's CD-Text is read in a file of its own.)
#include <libcue.h>

#include <memory>

#include "names/names.h"

namespace {

std::string cue_text(enum Pti pti, const Cdtext *ct)
{
    if (!ct)
        return "";
    const char *s = cdtext_get(pti, ct);
    return s ? text_clean(s) : "";
}

}  // namespace

lookup_result cue_cdtext_parse(const std::string &sheet)
{
    lookup_result r;
    if (sheet.find('\0') != std::string::npos) {
        r.error = "not a cue sheet";
        return r;
    }
    std::unique_ptr<Cd, void (*)(Cd *)> cd(cue_parse_string(sheet.c_str()), cd_delete);
    if (!cd) {
        r.error = "unreadable cue sheet";
        return r;
    }
    Cdtext *disc = cd_get_cdtext(cd.get());
    r.names.album = cue_text(PTI_TITLE, disc);
    r.names.artist = cue_text(PTI_PERFORMER, disc);
    int n = cd_get_ntrack(cd.get());
    for (int i = 1; i <= n && i <= 99; i++) {
        Track *t = cd_get_track(cd.get(), i);
        Cdtext *ct = t ? track_get_cdtext(t) : nullptr;
        track_name tn{cue_text(PTI_TITLE, ct), cue_text(PTI_PERFORMER, ct)};
        if (tn.artist == r.names.artist)
            tn.artist.clear();
        if (tn.title.empty() && tn.artist.empty())
            continue;
        r.names.tracks.resize(i);
        r.names.tracks[i - 1] = tn;
    }
    if (r.names.album.empty() && r.names.artist.empty() && r.names.tracks.empty()) {
        r.error = "no CD-Text";
        return r;
    }
    r.ok = true;
    return r;
}
