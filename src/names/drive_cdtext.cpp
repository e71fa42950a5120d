// CD-Text of the disc in a real drive, through libcdio.
#include <cdio/cdio.h>
#include <cdio/cdtext.h>

#include "names/names.h"

// Opens the drive a second time, through libcdio: run only off the event
// loop, as a drive spinning up can take many seconds to answer.
lookup_result drive_cdtext_read(const std::string &device, int first, int tracks)
{
    lookup_result r;
    CdIo_t *cdio = cdio_open(device.c_str(), DRIVER_DEVICE);
    if (!cdio) {
        r.error = "libcdio cannot open " + device;
        return r;
    }
    if (cdtext_t *ct = cdio_get_cdtext(cdio)) {
        auto get = [ct](cdtext_field_t f, track_t t) {
            const char *s = cdtext_get_const(ct, f, t);
            return s ? text_clean(s) : std::string();
        };
        r.names.album = get(CDTEXT_FIELD_TITLE, 0);
        r.names.artist = get(CDTEXT_FIELD_PERFORMER, 0);
        for (int i = 0; i < tracks && first + i <= 99; i++) {
            track_t t = static_cast<track_t>(first + i);
            track_name tn{get(CDTEXT_FIELD_TITLE, t), get(CDTEXT_FIELD_PERFORMER, t)};
            if (tn.artist == r.names.artist)
                tn.artist.clear();
            if (tn.title.empty() && tn.artist.empty())
                continue;
            r.names.tracks.resize(i + 1);
            r.names.tracks[i] = tn;
        }
    }
    cdio_destroy(cdio);
    r.ok = !r.names.album.empty() || !r.names.artist.empty() || !r.names.tracks.empty();
    if (!r.ok)
        r.error = "no CD-Text on the disc";
    return r;
}
