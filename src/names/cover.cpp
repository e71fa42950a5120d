// A picture of the disc for desktop sound menus: one a ripping program
// saved beside a disc image, or the release's front cover fetched with the
// online lookup and cached beside its xmcd file.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "names/internal.h"
#include "names/names.h"

namespace {

const char *const IMAGE_EXTENSIONS[] = {"jpg", "jpeg", "png"};

std::string lower(const std::string &s)
{
    std::string out = s;
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool is_regular(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The names ripping programs give the front cover, best first; the
// sheet's own name comes last.  0 for a name that is not one of them.
int name_rank(const std::string &base, const std::string &sheet)
{
    static const char *const names[] = {"cover", "folder", "front", "albumart", "album"};
    int n = static_cast<int>(sizeof names / sizeof *names);
    for (int i = 0; i < n; i++)
        if (base == names[i])
            return n + 1 - i;
    return !sheet.empty() && base == lower(sheet) ? 1 : 0;
}

std::string absolute(const std::string &path)
{
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? buf : "";
}

}  // namespace

std::string cover_in_dir(const std::string &dir, const std::string &sheet)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return "";
    std::string best;
    int best_rank = 0;
    while (struct dirent *e = readdir(d)) {
        std::string name = e->d_name;
        size_t dot = name.rfind('.');
        if (dot == std::string::npos || dot == 0)
            continue;
        std::string ext = lower(name.substr(dot + 1));
        bool picture = false;
        for (const char *x : IMAGE_EXTENSIONS)
            picture = picture || ext == x;
        int rank = picture ? name_rank(lower(name.substr(0, dot)), sheet) : 0;
        // Of equal names in other cases or formats, the first in byte order,
        // so that the choice does not hang on the directory's order.
        if (rank == 0 || rank < best_rank || (rank == best_rank && name > best) ||
            !is_regular(dir + "/" + name))
            continue;
        best = name;
        best_rank = rank;
    }
    closedir(d);
    return best.empty() ? "" : absolute(dir + "/" + best);
}

std::string cover_beside(const std::string &xmcd_path)
{
    for (const char *ext : {"jpg", "png", "gif"}) {
        std::string path = xmcd_path + "." + ext;
        if (is_regular(path))
            return absolute(path);
    }
    return "";
}

std::string image_extension(const std::string &b)
{
    if (b.size() >= 3 && b.compare(0, 3, "\xff\xd8\xff") == 0)
        return "jpg";
    if (b.size() >= 8 && b.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0)
        return "png";
    if (b.size() >= 6 && (b.compare(0, 6, "GIF87a") == 0 || b.compare(0, 6, "GIF89a") == 0))
        return "gif";
    return "";
}

std::string file_url(const std::string &path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '/' || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}
