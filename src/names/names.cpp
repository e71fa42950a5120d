// Which names the player knows for the disc in the drive, and the texts
// they make for the title bar (when the information file gives no title)
// and the window's title and icon name; the window shows them.
#include <fcntl.h>
#include <unistd.h>

#include "app/app.h"
#include "disc/cdrom.h"
#include "disc/disc_change.h"
#include "drive/digital.h"
#include "drive/drive.h"
#include "names/internal.h"
#include "names/names.h"
#include "ui/show_names.h"

disc_names known_names;
unsigned names_generation = 0;

namespace {

// What the information file reader and the no-disc cases put in the
// title when there is none: placeholders, not the user's words.
const char *const NO_TITLE = "No Title";
const char *const NO_DISC = "No Disc";
const size_t MAX_SHEET = 1 << 20;

names_trust known_trust = TRUST_NONE;
std::string known_cover;  // absolute path; empty = none
cover_rank known_cover_rank = COVER_NONE;

bool stored_title_given()
{
    return title && *title != NO_TITLE && *title != NO_DISC &&
           title->find_first_not_of(" \t\n\v\f\r") != std::string::npos;
}

// "Artist - Album", the album alone, or the artist alone; UTF-8.
std::string disc_text()
{
    const disc_names &n = known_names;
    if (n.album.empty())
        return n.artist;
    if (n.artist.empty() || n.artist == n.album)
        return n.album;
    return n.artist + " - " + n.album;
}

bool read_sheet(const std::string &path, std::string *text)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    char buf[8192];
    ssize_t n;
    text->clear();
    while ((n = read(fd, buf, sizeof buf)) > 0 && text->size() <= MAX_SHEET)
        text->append(buf, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

names_found local_names(const disc_toc &toc, const std::string &image, std::string *cover)
{
    names_found f;
    std::string sheet;
    if (!image.empty() && read_sheet(image, &sheet)) {
        lookup_result r = cue_cdtext_parse(sheet);
        if (r.ok)
            f = {r.names, TRUST_CDTEXT, "cue " + image};
    }
    if (f.trust == TRUST_NONE) {
        xmcd_result x;
        std::string path = cddb_find(cddb_dirs(app_resources.cddbPath), toc, &x);
        if (!path.empty()) {
            f = {x.names, TRUST_CDDB, "cddb " + path};
            *cover = cover_beside(path);
        }
    }
    return f;
}

void on_disc_change(disc_event event)
{
    if (event == disc_event::came)
        names_read();
    else
        names_clear();
}

}  // namespace

// Desktop mixers show the playing track's name on the sound stream:
// "Artist - Title", or the title alone.
static void name_tracks_for_mixers()
{
    for (int track = CDI.min; track <= CDI.max; track++) {
        size_t i = static_cast<size_t>(track - CDI.min);
        track_name t = i < known_names.tracks.size() ? known_names.tracks[i] : track_name{};
        std::string title = text_clean(t.title);
        std::string artist = text_clean(t.artist.empty() ? known_names.artist : t.artist);
        if (!title.empty() && !artist.empty())
            title = artist + " - " + title;
        digital_set_track_name(track, title);  // "" forgets a name of less trust
    }
}

void names_offer(const names_found &found)
{
    if (found.trust <= known_trust)
        return;
    known_trust = found.trust;
    known_names = found.names;
    known_names.source = found.source;
    debug_log(1, "names: %s\n", found.source.c_str());
    show_names(true);
    name_tracks_for_mixers();
}

void names_start()
{
    disc_subscribe(on_disc_change);
}

void names_cover_offer(const std::string &path, cover_rank rank)
{
    if (path.empty() || rank <= known_cover_rank)
        return;
    known_cover = path;
    known_cover_rank = rank;
    debug_log(1, "names: cover %s\n", path.c_str());
}

std::string names_art_url()
{
    return known_cover.empty() ? "" : file_url(known_cover);
}

void names_read()
{
    names_clear();
    disc_toc toc = current_toc();
    if (toc.tracks() < 1)
        return;
    drive_source source = drive_source_of(cdrom_fd);
    std::string cover;
    names_found f = local_names(toc, source.image, &cover);
    names_offer(f);
    names_cover_offer(cover, COVER_FETCHED);
    std::string drive = f.trust < TRUST_CDTEXT ? source.device : "";
    // The image's directory is looked through off the event loop: it may
    // be on a stalled network mount.
    std::string dir, sheet;
    if (!source.image.empty()) {
        const std::string &d = source.image;
        size_t slash = d.rfind('/');
        dir = slash == std::string::npos ? "." : slash == 0 ? "/" : d.substr(0, slash);
        sheet = d.substr(slash == std::string::npos ? 0 : slash + 1);
        sheet = sheet.substr(0, sheet.size() - 4);  // ".cue"
    }
    names_fetch_start(toc, app_resources.lookup && f.trust == TRUST_NONE, drive, dir, sheet);
}

void names_clear()
{
    names_generation++;
    known_trust = TRUST_NONE;
    known_names = disc_names{};
    known_cover.clear();
    known_cover_rank = COVER_NONE;
    show_names(false);
}

// Only the placeholder gives way: a title typed empty or blank stays so.
std::string names_title_text()
{
    std::string t = !title || *title == NO_TITLE ? disc_text() : "";
    if (!t.empty())
        return text_to_latin1(t);
    return title ? *title : NO_TITLE;
}

// UTF-8: the shell converts it for each property.
std::string window_title_text()
{
    std::string disc = stored_title_given() ? text_clean(*title)
                       : known_names.album.empty() ? known_names.artist
                                                   : known_names.album;
    std::string track;
    int t = CDI.curtrack;
    if (t != 0 && t >= CDI.min && static_cast<size_t>(t - CDI.min) < known_names.tracks.size())
        track = known_names.tracks[t - CDI.min].title;
    if (!track.empty())
        return std::to_string(t) + ". " + track + (disc.empty() ? "" : " - " + disc);
    return disc.empty() ? "Murbel" : disc;
}
