#!/usr/bin/env bash
# The install into a scratch root (DESTDIR).
#
# Every installed file is there and nothing else; the resource file and
# the demo disc are the source's; the man page passes mandoc's lint and
# documents every option and application resource the program has; the
# desktop entry validates and names an installed icon; the icons are
# well-formed images of the logo at their directory's size; the AppStream
# metainfo passes appstreamcli's validation without a warning and matches
# the desktop entry and this version.  Then the
# installed program runs on its own X server, pointed at its installed
# resource file the way README tells users, and a width changed in that
# file shows in its window, while a resource taken out of the file is not
# filled in from the compiled-in copy: that copy serves only when no file
# is found.
#
# Environment (set by ctest): MURBEL_CMAKE, MURBEL_BUILD_DIR,
# MURBEL_SOURCE_DIR and the installed paths MURBEL_BINDIR,
# MURBEL_APPDEFAULTFILE, MURBEL_MANPAGE, MURBEL_DATADIR, MURBEL_ICON_SIZES.
MURBEL=${MURBEL:-unset}  # lib.sh wants it; it is set once installed
source "$MURBEL_SOURCE_DIR/tests/acceptance/lib.sh"

DEST=$SCRATCH/root
DESTDIR=$DEST "$MURBEL_CMAKE" --install "$MURBEL_BUILD_DIR" >"$SCRATCH/install.log" 2>&1 ||
    fail "cmake --install failed: $(cat "$SCRATCH/install.log")"

# ---- every file, and only those -----------------------------------------

share=$MURBEL_DATADIR
expected=(
    "$MURBEL_BINDIR/murbel 755"
    "$MURBEL_APPDEFAULTFILE 644"
    "$MURBEL_MANPAGE 644"
    "$share/applications/org.example.murbel.desktop 644"
    "$share/metainfo/org.example.murbel.metainfo.xml 644"
    "$share/icons/hicolor/scalable/apps/murbel.svg 644"
    "$share/murbel/demo.disc 644"
)
for size in $MURBEL_ICON_SIZES; do
    expected+=("$share/icons/hicolor/${size}x$size/apps/murbel.png 644")
done
for entry in "${expected[@]}"; do
    read -r path mode <<<"$entry"
    [ -f "$DEST$path" ] || fail "not installed: $path"
    [ "$(stat -c %a "$DEST$path")" = "$mode" ] ||
        fail "$path has mode $(stat -c %a "$DEST$path"), not $mode"
done
strays=$(comm -13 <(printf '%s\n' "${expected[@]%% *}" | sort) \
                  <(cd "$DEST" && find . -type f | sed 's/^\.//' | sort))
[ -z "$strays" ] || fail "installed but not expected: $strays"
note "${#expected[@]} files installed"

cmp -s "$MURBEL_SOURCE_DIR/app-defaults/Murbel" "$DEST$MURBEL_APPDEFAULTFILE" ||
    fail "the installed resource file differs from app-defaults/Murbel"
cmp -s "$MURBEL_SOURCE_DIR/discs/demo.disc" "$DEST$share/murbel/demo.disc" ||
    fail "the installed demo disc differs from discs/demo.disc"

# ---- the man page ----------------------------------------------------------

man=$DEST$MURBEL_MANPAGE
lint=$(mandoc -T lint -W warning "$man" 2>&1) || fail "mandoc -T lint: $lint"
[ -z "$lint" ] || fail "mandoc -T lint: $lint"
text=$(mandoc -T ascii "$man" | sed 's/.\x08//g')
grep -q "$MURBEL_APPDEFAULTFILE" <<<"$text" || fail "the man page does not name $MURBEL_APPDEFAULTFILE"
# Every option and application resource of the program, taken from its
# tables, has its own entry in the man page.
app=$MURBEL_SOURCE_DIR/src/app/app.cpp
options=$(grep -o '{S("-[A-Za-z]*")' "$app" | grep -o -- '-[A-Za-z]*')
resources=$(grep -o '^ *{"[A-Za-z]*", "' "$app" | grep -o '"[A-Za-z]*"' | tr -d '"')
[ "$(wc -w <<<"$options")" -ge 10 ] && [ "$(wc -w <<<"$resources")" -ge 19 ] ||
    fail "could not read the option and resource tables of $app"
source_text=$(gzip -cdf "$man")
for option in $options; do
    grep -Eq "^\.It Fl ${option#-}( |\$)" <<<"$source_text" || fail "the man page has no entry for $option"
done
for resource in $resources; do
    grep -Eq "^\.It Cm $resource( |\$)" <<<"$source_text" || fail "the man page has no entry for $resource"
done
for section in NAME SYNOPSIS DESCRIPTION OPTIONS RESOURCES "KEY BINDINGS" MPRIS ENVIRONMENT \
               FILES EXAMPLES "SEE ALSO"; do
    grep -q "^$section\$" <<<"$text" || fail "the man page has no $section section"
done
for variable in MURBELINFODIR DISPLAY XFILESEARCHPATH XUSERFILESEARCHPATH XAPPLRESDIR; do
    grep -q "^ *$variable" <<<"$text" || fail "the man page does not explain $variable"
done

# ---- the desktop entry and the icons ---------------------------------------

desktop=$DEST$share/applications/org.example.murbel.desktop
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
grep -qx 'Icon=murbel' "$desktop" || fail "the desktop entry does not name the icon murbel"
grep -qx 'Exec=murbel %U' "$desktop" || fail "the desktop entry does not start murbel"
grep -qx 'MimeType=x-content/audio-cdda;' "$desktop" || fail "the desktop entry is not offered for audio CDs"
grep -qx 'Categories=Audio;AudioVideo;Player;' "$desktop" || fail "the desktop entry's categories are wrong"

# ---- the AppStream metainfo: what software centres show ----------------------

metainfo=$DEST$share/metainfo/org.example.murbel.metainfo.xml
if command -v appstreamcli >/dev/null; then
    # Warnings fail validation as errors do; pedantic notes are shown.
    out=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) ||
        fail "appstreamcli validate: $out"
    grep -q '^[EW]:' <<<"$out" && fail "appstreamcli validate: $out"
else
    fail "no appstreamcli (Debian package appstream): the metainfo cannot be checked"
fi
# Its id is the desktop entry's name, which launches it; its newest
# release is this version, with notes; it carries a content rating.
field() { python3 -c '
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
for e in root.findall(sys.argv[2]):
    print(e.get(sys.argv[3]) if len(sys.argv) > 3 else (e.text or "").strip())' "$metainfo" "$@"; }
id=$(field id)
[ "$id.desktop" = "$(basename "$desktop")" ] || fail "the metainfo's id $id is not the desktop entry's name"
[ "$(field launchable)" = "$id.desktop" ] || fail "the metainfo launches $(field launchable)"
version=$(sed -n 's/^project(murbel VERSION \([0-9.]*\).*/\1/p' "$MURBEL_SOURCE_DIR/CMakeLists.txt")
[ -n "$version" ] || fail "no version in CMakeLists.txt"
[ "$(field releases/release version | head -n 1)" = "$version" ] ||
    fail "the newest release in the metainfo is $(field releases/release version | head -n 1), not $version"
[ -n "$(field 'releases/release/description/ul/li' | head -n 1)" ] || fail "the release has no notes"
[ "$(field content_rating type)" = oars-1.1 ] || fail "no OARS content rating"
grep -qx "murbel" < <(field provides/binary) || fail "the metainfo does not name the program"
# The program tells MPRIS clients the same desktop entry.
grep -q "\"$id\"" "$MURBEL_SOURCE_DIR/src/mpris/interfaces.cpp" ||
    fail "the MPRIS DesktopEntry is not $id"

# A PNG of the directory's size whose chunks and compressed data check out,
# showing the logo (56 x 38, whole-number scaled, centred) and clear around it.
check_png()
{
    python3 - "$1" "$2" "$MURBEL_SOURCE_DIR/src/ui/bitmaps/logo.xbm" <<'PY'
import re, struct, sys, zlib
path, size, xbm = sys.argv[1], int(sys.argv[2]), sys.argv[3]
data = open(path, 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n', 'no PNG signature'
pos, chunks = 8, {}
while pos < len(data):
    n, = struct.unpack('>I', data[pos:pos + 4])
    kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + n]
    crc, = struct.unpack('>I', data[pos + 8 + n:pos + 12 + n])
    assert zlib.crc32(kind + body) == crc, 'bad CRC in ' + kind.decode()
    chunks[kind] = chunks.get(kind, b'') + body
    pos += 12 + n
w, h, depth, ctype = struct.unpack('>IIBB', chunks[b'IHDR'][:10])
assert (w, h) == (size, size), 'size %dx%d in the %d directory' % (w, h, size)
assert (depth, ctype) == (2, 3), 'unexpected pixel format'
palette, alpha = chunks[b'PLTE'], chunks[b'tRNS']
raw = zlib.decompress(chunks[b'IDAT'])
stride = (size + 3) // 4 + 1
def pixel(x, y):
    i = raw[y * stride + 1 + x // 4] >> (6 - 2 * (x % 4)) & 3
    return palette[3 * i:3 * i + 3], alpha[i] if i < len(alpha) else 255
bits = [int(b, 16) for b in re.findall(r'0x[0-9a-f]{2}', open(xbm).read())]
scale = size // 56
left, top = (size - 56 * scale) // 2, (size - 38 * scale) // 2
for y in range(size):
    for x in range(size):
        lx, ly = (x - left) // scale, (y - top) // scale
        rgb, a = pixel(x, y)
        if x < left or y < top or lx >= 56 or ly >= 38:
            assert a == 0, 'opaque outside the logo at %d,%d' % (x, y)
            continue
        ink = bits[ly * 7 + lx // 8] >> (lx % 8) & 1
        assert a == 255 and (rgb[0] < 0x80) == bool(ink), 'wrong pixel at %d,%d' % (x, y)
PY
}
if command -v python3 >/dev/null; then
    for size in $MURBEL_ICON_SIZES; do
        out=$(check_png "$DEST$share/icons/hicolor/${size}x$size/apps/murbel.png" "$size" 2>&1) ||
            fail "icon ${size}x$size: $(tail -n 1 <<<"$out")"
    done
else
    note "no python3: the icons' pixels are not checked"
fi
grep -q 'viewBox="0 0 64 64"' "$DEST$share/icons/hicolor/scalable/apps/murbel.svg" ||
    fail "the scalable icon is not a 64-unit square"

# ---- the installed program and its installed resource file -----------------

MURBEL=$DEST$MURBEL_BINDIR/murbel
APPDIR=$(dirname "$DEST$MURBEL_APPDEFAULTFILE")
INSTALLED=$DEST$MURBEL_APPDEFAULTFILE
ORIGINAL=$SCRATCH/Murbel.original
cp "$INSTALLED" "$ORIGINAL"
# The search path README gives for a prefix: the directory above
# app-defaults with the toolkit's %T (app-defaults) and %N (Murbel).
case $APPDIR in
*/app-defaults) PREFIX_PATH=${APPDIR%/app-defaults}/%T/%N ;;
*) PREFIX_PATH=$APPDIR/%N ;;
esac
NOWHERE=$SCRATCH/no-such-dir/%N

make_disc <<'DISC'
track 1 00:02:00
track 2 03:00:00
leadout 06:00:00
DISC
start_x

stop_player()
{
    kill "$PLAYER_PID" 2>/dev/null
    wait "$PLAYER_PID" 2>/dev/null
    PLAYER_PID=""
}

# Installed file as edited | XFILESEARCHPATH | XUSERFILESEARCHPATH |
# width of the title bar: a number, or "!N" for anything but N.
scenarios=(
    "as installed|$PREFIX_PATH||318"
    "width changed|$PREFIX_PATH||402"
    "width changed|$APPDIR/%N||402"
    "width removed|$PREFIX_PATH||!318"
    "width changed|$NOWHERE||318"
    "width changed|$NOWHERE|$APPDIR/%N|402"
    "width removed|$NOWHERE|$APPDIR/%N|318"
)
for scenario in "${scenarios[@]}"; do
    IFS='|' read -r edit system user want <<<"$scenario"
    case $edit in
    "as installed") cp "$ORIGINAL" "$INSTALLED" ;;
    "width changed") sed 's/^\(\*titleBarViewport\.width:[[:space:]]*\)318$/\1402/' "$ORIGINAL" >"$INSTALLED" ;;
    "width removed") grep -v '^\*titleBarViewport\.width:' "$ORIGINAL" >"$INSTALLED" ;;
    esac
    cmp -s "$ORIGINAL" "$INSTALLED" && [ "$edit" != "as installed" ] &&
        fail "the test's edit ($edit) changed nothing in the resource file"
    export XFILESEARCHPATH=$system
    if [ -n "$user" ]; then export XUSERFILESEARCHPATH=$user; else unset XUSERFILESEARCHPATH; fi
    start_player
    read -r width _ < <(widget_geometry titleBarViewport)
    stop_player
    case $want in
    !*) [ "$width" != "${want#!}" ] ;;
    *) [ "$width" = "$want" ] ;;
    esac || fail "$edit, XFILESEARCHPATH=$system XUSERFILESEARCHPATH=$user:" \
        "title bar $width wide, expected $want"
    note "$edit, XFILESEARCHPATH=$system XUSERFILESEARCHPATH=$user: width $width"
done
[ -s "$ERR" ] && fail "unexpected error reports: $(cat "$ERR")"
exit 0
