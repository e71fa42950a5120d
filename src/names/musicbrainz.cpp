// The answer of MusicBrainz's web service to a disc ID lookup
// (/ws/2/discid/ID?inc=artist-credits+recordings&fmt=json): releases,
// each with media, each listing the disc IDs it matches and its tracks.
#include <nlohmann/json.hpp>

#include "names/names.h"

using nlohmann::json;

namespace {

std::string str(const json &obj, const char *key)
{
    if (!obj.is_object())
        return "";
    auto it = obj.find(key);
    if (it == obj.end() || !it->is_string())
        return "";
    return it->get_ref<const std::string &>();
}

const json *array(const json &obj, const char *key)
{
    if (!obj.is_object())
        return nullptr;
    auto it = obj.find(key);
    return it != obj.end() && it->is_array() ? &*it : nullptr;
}

// An artist credit: each name followed by its join phrase ("A feat. B").
std::string credit(const json &obj)
{
    const json *names = array(obj, "artist-credit");
    if (!names)
        return "";
    std::string out;
    for (const json &c : *names) {
        std::string name = str(c, "name");
        if (name.empty() && c.is_object() && c.contains("artist"))
            name = str(c["artist"], "name");
        out += name + str(c, "joinphrase");
    }
    return text_clean(out);
}

bool holds_disc(const json &medium, const std::string &disc_id)
{
    if (const json *discs = array(medium, "discs"))
        for (const json &d : *discs)
            if (!disc_id.empty() && str(d, "id") == disc_id)
                return true;
    return false;
}

size_t track_count(const json &medium)
{
    const json *t = array(medium, "tracks");
    return t ? t->size() : 0;
}

// The release and medium that hold the disc: by its ID, else by its
// number of tracks.
bool choose(const json &releases, const std::string &disc_id, int tracks, const json **release,
            const json **medium)
{
    for (int pass = 0; pass < 2; pass++)
        for (const json &r : releases)
            if (const json *media = array(r, "media"))
                for (const json &m : *media)
                    if (pass == 0 ? holds_disc(m, disc_id)
                                  : track_count(m) == static_cast<size_t>(tracks)) {
                        *release = &r;
                        *medium = &m;
                        return true;
                    }
    return false;
}

void take_tracks(const json &medium, disc_names &names)
{
    const json *tracks = array(medium, "tracks");
    if (!tracks)
        return;
    size_t index = 0;
    for (const json &t : *tracks) {
        size_t at = index++;
        if (t.is_object() && t.contains("position") && t["position"].is_number_integer()) {
            long p = t["position"].get<long>();
            if (p < 1 || p > 99)
                continue;
            at = static_cast<size_t>(p - 1);
        }
        if (at >= 99)
            break;
        track_name tn;
        tn.title = text_clean(str(t, "title"));
        const json *rec = t.is_object() && t.contains("recording") ? &t["recording"] : nullptr;
        if (tn.title.empty() && rec)
            tn.title = text_clean(str(*rec, "title"));
        tn.artist = credit(t);
        if (tn.artist.empty() && rec)
            tn.artist = credit(*rec);
        if (tn.artist == names.artist)
            tn.artist.clear();
        if (names.tracks.size() <= at)
            names.tracks.resize(at + 1);
        names.tracks[at] = tn;
    }
}

lookup_result parse(const std::string &text, const std::string &disc_id, int tracks)
{
    lookup_result r;
    json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        r.error = "the answer is not a JSON object";
        return r;
    }
    std::string error = str(j, "error");
    if (!error.empty()) {
        r.error = "the server says: " + text_to_latin1(text_clean(error.substr(0, 200)));
        return r;
    }
    const json *releases = array(j, "releases");
    const json *release = nullptr, *medium = nullptr;
    if (!releases || !choose(*releases, disc_id, tracks, &release, &medium)) {
        r.error = "no release with this disc";
        return r;
    }
    r.names.album = text_clean(str(*release, "title"));
    // It goes into a URL: only an MBID's own characters.
    std::string mbid = str(*release, "id");
    if (mbid.size() == 36 && mbid.find_first_not_of("0123456789abcdef-") == std::string::npos)
        r.release_id = mbid;
    r.names.artist = credit(*release);
    take_tracks(*medium, r.names);
    if (r.names.album.empty() && r.names.artist.empty() && r.names.tracks.empty()) {
        r.error = "a release without names";
        return r;
    }
    r.ok = true;
    return r;
}

}  // namespace

lookup_result musicbrainz_parse(const std::string &text, const std::string &disc_id, int tracks)
{
    // Nothing from the server may throw into the caller.
    try {
        return parse(text, disc_id, tracks);
    } catch (const std::exception &e) {
        lookup_result r;
        r.error = std::string("unreadable answer: ") + e.what();
        return r;
    }
}
