#!/usr/bin/env bash
# The online lookup against a local server that speaks MusicBrainz's
# format (mb_server.py), and hostile servers.
#
#  disc A, -lookup   the request names the disc's MusicBrainz ID and sends
#                    "Murbel/<version> ( <contact> )" as its User-Agent;
#                    the names arrive ("names: musicbrainz ID (stored in
#                    FILE)"), the window's title follows the tracks, and
#                    the xmcd file is written to the first cddbPath
#                    directory, made for it; the release's front cover
#                    comes from the Cover Art Archive (the same server,
#                    through its redirect), a second after each request
#                    before it, is kept beside the file and is the
#                    mpris:artUrl that playerctl reads
#  disc A again      with the server gone: the names and the cover come
#                    from those files, and nothing is asked
#  no -lookup        nothing is asked
#  disc B            a file of another disc sits under its freedb ID: the
#                    lookup gives the names, and the file is left as it was
#  disc C, hostile   one byte a second, 10 MB, cut-off JSON, 503, 404:
#                    the window answers clicks all the while, one trace
#                    line says why, the title stays "Murbel", nothing is
#                    written, and Quit ends the player at once, also
#                    while an answer is still coming in
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/bus.sh"

HERE=$(dirname "$0")
SRV=$SCRATCH/server
CDDB=$SCRATCH/home/cddb
mkdir -p "$SRV" "$SCRATCH/home"
python3 "$HERE/mb_server.py" "$SRV" &
SERVER_PID=$!
trap 'status=$?; end_process "$PLAYER_PID" "the player"; end_process "$SERVER_PID" "the test server"
      stop_bus; (exit $status); cleanup' EXIT
poll test -s "$SRV/port" || fail "the test server did not start"
SERVER=http://127.0.0.1:$(cat "$SRV/port")

make_disc "$SCRATCH/discA" <<'DISC'
track 1 00:02:00
track 2 04:10:33
track 3 07:00:00
leadout 10:30:12
DISC
make_disc "$SCRATCH/discB" <<'DISC'
track 1 00:02:00
track 2 05:00:00
leadout 09:00:00
DISC
make_disc "$SCRATCH/discC" <<'DISC'
track 1 00:02:00
track 2 02:00:00
track 3 04:00:00
leadout 06:00:00
DISC
ID_A=$(python3 "$HERE/mb_disc.py" id 1 150 18783 31500 47262)
ID_B=$(python3 "$HERE/mb_disc.py" id 1 150 22500 40500)
ID_C=$(python3 "$HERE/mb_disc.py" id 1 150 9000 18000 27000)
FREEDB_B=$(python3 "$HERE/mb_disc.py" freedb 1 150 22500 40500)
FREEDB_C=$(python3 "$HERE/mb_disc.py" freedb 1 150 9000 18000 27000)
python3 "$HERE/mb_disc.py" answer "$ID_A" 3 "Miles Davis" "Kind of Blue" "So What" \
    "Freddie Freeloader" "Blue in Green" >"$SRV/$ID_A.json"
python3 "$HERE/mb_disc.py" answer "$ID_B" 2 "Sonny Rollins" "Saxophone Colossus" \
    "St. Thomas" "You Don’t Know What Love Is" >"$SRV/$ID_B.json"
python3 "$HERE/mb_disc.py" answer "$ID_C" 3 "Hostile" "Never Shown" "A" "B" "C" >"$SRV/$ID_C.json"
# The front cover of the release that holds disc A.
RELEASE_A=$(python3 -c 'import json, sys
a = json.load(open(sys.argv[1]))
print([r["id"] for r in a["releases"] if any(d["id"] == a["id"] for m in r["media"] for d in m["discs"])][0])' \
    "$SRV/$ID_A.json")
printf '\377\330\377\340 a JPEG picture' >"$SRV/$RELEASE_A.jpg"

request_count() { [ -f "$SRV/requests" ] && wc -l <"$SRV/requests" || echo 0; }
server_mode() { echo "$1" >"$SRV/mode"; }

player()
{
    trace_mark
    DEVICE=sim:$SCRATCH/$1 start_player -xrm "*cddbPath: $CDDB:$SCRATCH/other" \
        -xrm "*lookupServer: ${LOOKUP_SERVER:-$SERVER}" \
        -xrm "*coverArtServer: ${LOOKUP_SERVER:-$SERVER}" "${@:2}"
}

quit_player()
{
    click quitButton
    wait_player_exit
    [ "$PLAYER_STATUS" = 0 ] || fail "the player ended with status $PLAYER_STATUS"
}

start_x
start_bus
server_mode ok
player discA -lookup
wait_for_trace "names: musicbrainz $ID_A (stored in $CDDB/$(python3 "$HERE/mb_disc.py" freedb 1 150 18783 31500 47262))"
expect_window_title "Kind of Blue"
read -r path agent _ <"$SRV/requests"
[ "$path" = "/ws/2/discid/$ID_A?inc=artist-credits+recordings&fmt=json" ] || fail "asked for $path"
[[ $agent =~ ^Murbel/[0-9.]+_\(_[^_]+_\)$ ]] || fail "User-Agent: $agent"
click nextButton
expect_window_title "1. So What - Kind of Blue"
grep -qx 'DTITLE=Miles Davis / Kind of Blue' "$CDDB/0f027403" && grep -qx 'TTITLE2=Blue in Green' "$CDDB/0f027403" ||
    fail "stored: $(cat "$CDDB/0f027403")"
wait_for_trace "names: cover $CDDB/0f027403.jpg"
cmp -s "$CDDB/0f027403.jpg" "$SRV/$RELEASE_A.jpg" || fail "the cover kept is not the archive's"
expect_pctl "file://$CDDB/0f027403.jpg" metadata mpris:artUrl
awk '{ print $1 }' "$SRV/requests" >"$SCRATCH/asked"
printf '%s\n' "/ws/2/discid/$ID_A?inc=artist-credits+recordings&fmt=json" "/release/$RELEASE_A/front" \
    "/images/$RELEASE_A" | cmp -s - "$SCRATCH/asked" || fail "asked: $(cat "$SCRATCH/asked")"
awk 'NR > 1 && $3 - last < 0.95 { bad = 1 } { last = $3 } END { exit bad }' "$SRV/requests" ||
    fail "requests less than a second apart: $(cat "$SRV/requests")"
quit_player

# Offline: the port is closed, the stored files answer.
LOOKUP_SERVER=http://127.0.0.1:9 player discA -lookup
wait_for_trace "names: cddb $CDDB/0f027403"
wait_for_trace "names: cover $CDDB/0f027403.jpg"
expect_window_title "Kind of Blue"
expect_pctl "file://$CDDB/0f027403.jpg" metadata mpris:artUrl
quit_player
# Without -lookup the server is never asked, for names or covers.
rm "$CDDB/0f027403" "$CDDB/0f027403.jpg"
player discA
expect_window_title "Murbel"
barrier
sleep 1
[ "$(request_count)" = 3 ] || fail "asked the server without -lookup"
[ ! -e "$CDDB/0f027403.jpg" ] || fail "a cover without -lookup"
quit_player

# The user's file under disc B's ID is another disc's: not read, not replaced.
printf '# xmcd\n#\n# Track frame offsets:\n#\t150\n#\t300\n#\t450\n#\t600\n#\nDTITLE=Mine / Keep\n' >"$CDDB/$FREEDB_B"
cp "$CDDB/$FREEDB_B" "$SCRATCH/mine"
player discB -lookup
wait_for_trace "names: lookup result not stored: $CDDB/$FREEDB_B already exists"
wait_for_trace "names: musicbrainz $ID_B"
expect_window_title "Saxophone Colossus"
click nextButton
# The fonts hold Latin-1: the typographic apostrophe is drawn as a plain one.
expect_window_title "1. St. Thomas - Saxophone Colossus"
click nextButton
expect_window_title "2. You Don't Know What Love Is - Saxophone Colossus"
cmp -s "$CDDB/$FREEDB_B" "$SCRATCH/mine" || fail "the user's file was changed"
quit_player

for mode in slow huge malformed 503 404; do
    server_mode "$mode"
    before=$(request_count)
    start=$(now_ms)
    player discC -lookup
    poll eval '[ "$(request_count)" -gt '"$before"' ]' || fail "$mode: no request"
    # The window answers while the request is under way: for the slow
    # server, before the lookup gives up.
    mark=$TRACE_MARK
    barrier
    if [ "$mode" = slow ] && grep -q "^names: lookup of $ID_C failed" "$OUT"; then
        fail "slow: the window answered only after the lookup had given up"
    fi
    TRACE_MARK=$mark
    wait_for_trace_matching "^names: lookup of $ID_C failed: "
    note "$mode: ${TRACE_MATCH#names: lookup of $ID_C failed: } after $(($(now_ms) - start)) ms"
    case $mode in
    huge) [[ $TRACE_MATCH == *"larger than"* ]] || fail "huge: $TRACE_MATCH" ;;
    malformed) [[ $TRACE_MATCH == *"not a JSON object"* ]] || fail "malformed: $TRACE_MATCH" ;;
    503) [[ $TRACE_MATCH == *"HTTP status 503"* ]] || fail "503: $TRACE_MATCH" ;;
    404) [[ $TRACE_MATCH == *"Not Found"* ]] || fail "404: $TRACE_MATCH" ;;
    esac
    expect_window_title "Murbel"
    [ ! -e "$CDDB/$FREEDB_C" ] || fail "$mode: a file was written"
    [ ! -s "$ERR" ] || fail "$mode: reports on stderr: $(cat "$ERR")"
    quit_player
done

# Quit while an answer trickles in: the player ends at once, and well.
server_mode slow
before=$(request_count)
player discC -lookup
poll eval '[ "$(request_count)" -gt '"$before"' ]' || fail "no request to quit under"
t0=$(now_ms)
quit_player
# Well before the five seconds after which the lookup would give up.
[ $(($(now_ms) - t0)) -lt 4000 ] || fail "quitting waited for the lookup"
[ ! -s "$ERR" ] || fail "reports at quit: $(cat "$ERR")"

# Without -debug a failed lookup says nothing at all.
server_mode 503
: >"$OUT"
before=$(request_count)
"$MURBEL" -device "sim:$SCRATCH/discC" -lookup -xrm "*cddbPath: $CDDB" \
    -xrm "*lookupServer: $SERVER" >"$OUT" 2>"$ERR" &
PLAYER_PID=$!
poll window_or_exit || fail "the player's window did not appear"
poll eval '[ "$(request_count)" -gt '"$before"' ]' || fail "no request without -debug"
sleep 2
quit_player
[ ! -s "$OUT" ] && [ ! -s "$ERR" ] || fail "a quiet failure said: $(cat "$OUT" "$ERR")"
exit 0
