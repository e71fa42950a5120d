// Build-time tool: draws the window's logo bitmap as the desktop icon.
//
//   make_icon png SIZE OUT   square RGBA PNG, the logo scaled by the
//                            largest whole factor that fits, centred
//   make_icon svg OUT        the same picture as scalable vector art
//
// The PNG is written with stored (uncompressed) deflate blocks, so the
// build needs no image library; the icons are small enough not to care.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui/bitmaps/logo.xbm"

namespace {

// The logo label's colours in the resource file: foreground gray12 for set
// bits, the background gray78 for the rest.
constexpr uint8_t ink[3] = {0x1f, 0x1f, 0x1f};
constexpr uint8_t paper[3] = {0xc7, 0xc7, 0xc7};

bool logo_bit(int x, int y)
{
    int row_bytes = (logo_width + 7) / 8;
    return logo_bits[y * row_bytes + x / 8] >> (x % 8) & 1;
}

uint32_t crc32(const uint8_t *p, size_t n, uint32_t crc = 0)
{
    crc = ~crc;
    while (n--) {
        crc ^= *p++;
        for (int k = 0; k < 8; k++)
            crc = crc >> 1 ^ (0xedb88320u & -(crc & 1));
    }
    return ~crc;
}

void put32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void chunk(std::vector<uint8_t> &png, const char type[5], const std::vector<uint8_t> &data)
{
    put32(png, static_cast<uint32_t>(data.size()));
    size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put32(png, crc32(png.data() + start, png.size() - start));
}

// A zlib stream of stored blocks.
std::vector<uint8_t> zlib_stored(const std::vector<uint8_t> &raw)
{
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t pos = 0;
    do {
        size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
        z.push_back(pos + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, b << 16 | a);
    return z;
}

std::vector<uint8_t> png_icon(int size)
{
    int scale = size / logo_width;
    if (scale < 1)
        return {};
    int left = (size - logo_width * scale) / 2;
    int top = (size - logo_height * scale) / 2;

    // Two bits a pixel into a palette of three: clear, paper, ink.
    int row_bytes = (size + 3) / 4;
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(size) * (row_bytes + 1));
    for (int y = 0; y < size; y++) {
        raw.push_back(0);  // no filter
        size_t row = raw.size();
        raw.resize(row + row_bytes, 0);
        for (int x = 0; x < size; x++) {
            int lx = x - left, ly = y - top;
            bool inside = lx >= 0 && ly >= 0 && lx < logo_width * scale &&
                          ly < logo_height * scale;
            int index = !inside ? 0 : logo_bit(lx / scale, ly / scale) ? 2 : 1;
            raw[row + x / 4] |= static_cast<uint8_t>(index << (6 - 2 * (x % 4)));
        }
    }

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<uint8_t> header;
    put32(header, static_cast<uint32_t>(size));
    put32(header, static_cast<uint32_t>(size));
    header.insert(header.end(), {2, 3, 0, 0, 0});  // 2-bit palette, not interlaced
    chunk(png, "IHDR", header);
    std::vector<uint8_t> palette = {0, 0, 0};
    palette.insert(palette.end(), paper, paper + 3);
    palette.insert(palette.end(), ink, ink + 3);
    chunk(png, "PLTE", palette);
    chunk(png, "tRNS", {0x00});  // the first entry clear, the others opaque
    chunk(png, "IDAT", zlib_stored(raw));
    chunk(png, "IEND", {});
    return png;
}

std::string svg_icon()
{
    // A square of 64 units with the logo at whole units in its middle: the
    // ink plate, then one rectangle per horizontal run of paper.
    const int size = 64, left = (size - logo_width) / 2, top = (size - logo_height) / 2;
    char buf[200];
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    snprintf(buf, sizeof buf,
             "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
             "viewBox=\"0 0 %d %d\" shape-rendering=\"crispEdges\">\n",
             size, size, size, size);
    svg += buf;
    snprintf(buf, sizeof buf,
             "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"#%02x%02x%02x\"/>\n",
             left, top, logo_width, logo_height, ink[0], ink[1], ink[2]);
    svg += buf;
    snprintf(buf, sizeof buf, "<g fill=\"#%02x%02x%02x\">\n", paper[0], paper[1], paper[2]);
    svg += buf;
    for (int y = 0; y < logo_height; y++) {
        for (int x = 0; x < logo_width;) {
            if (logo_bit(x, y)) {
                x++;
                continue;
            }
            int run = x;
            while (run < logo_width && !logo_bit(run, y))
                run++;
            snprintf(buf, sizeof buf, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"1\"/>\n",
                     left + x, top + y, run - x);
            svg += buf;
            x = run;
        }
    }
    svg += "</g>\n</svg>\n";
    return svg;
}

bool write_file(const char *path, const void *data, size_t n)
{
    FILE *f = fopen(path, "wb");
    if (!f) {
        perror(path);
        return false;
    }
    bool ok = fwrite(data, 1, n, f) == n;
    if (fclose(f) != 0)
        ok = false;
    if (!ok)
        perror(path);
    return ok;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "png") == 0) {
        std::vector<uint8_t> png = png_icon(atoi(argv[2]));
        if (png.empty()) {
            fprintf(stderr, "make_icon: %s is smaller than the logo's width, %d\n", argv[2],
                    logo_width);
            return 1;
        }
        return write_file(argv[3], png.data(), png.size()) ? 0 : 1;
    }
    if (argc == 3 && strcmp(argv[1], "svg") == 0) {
        std::string svg = svg_icon();
        return write_file(argv[2], svg.data(), svg.size()) ? 0 : 1;
    }
    fputs("usage: make_icon png SIZE OUT | make_icon svg OUT\n", stderr);
    return 2;
}
