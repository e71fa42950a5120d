#!/usr/bin/env python3
"""Discs as MusicBrainz knows them, for the tests.

    mb_disc.py id FIRST START... LEADOUT
        the disc ID of a table of contents (frames, lead-in included),
        computed as MusicBrainz documents it, apart from libdiscid
    mb_disc.py freedb FIRST START... LEADOUT
        the freedb disc ID of the same table, as the xmcd format defines it
    mb_disc.py answer DISCID TRACKS ARTIST ALBUM TITLE...
        the JSON answer of /ws/2/discid/DISCID?inc=artist-credits+recordings,
        shaped as the web service's documentation shows it: a release with
        its artist credit and a medium listing the disc and its tracks
"""
import base64
import hashlib
import json
import sys
import uuid


def disc_id(first, frames):
    starts, leadout = frames[:-1], frames[-1]
    last = first + len(starts) - 1
    offsets = [leadout] + starts + [0] * (99 - len(starts))
    text = "%02X%02X" % (first, last) + "".join("%08X" % o for o in offsets)
    digest = base64.b64encode(hashlib.sha1(text.encode("ascii")).digest()).decode()
    return digest.replace("+", ".").replace("/", "_").replace("=", "-")


def freedb_id(frames):
    secs = [f // 75 for f in frames]
    n = sum(sum(int(d) for d in str(s)) for s in secs[:-1])
    return "%08x" % ((n % 255) << 24 | (secs[-1] - secs[0]) << 8 | (len(frames) - 1))


def credit(name):
    return [{"name": name, "joinphrase": "",
             "artist": {"id": str(uuid.uuid4()), "name": name, "sort-name": name,
                        "disambiguation": "", "type": "Person"}}]


def answer(discid, tracks, artist, album, titles):
    track_list = []
    for i, t in enumerate(titles):
        track_list.append({
            "id": str(uuid.uuid4()), "number": str(i + 1), "position": i + 1,
            "title": t, "length": 180000, "artist-credit": credit(artist),
            "recording": {"id": str(uuid.uuid4()), "title": t, "length": 180000,
                          "disambiguation": "", "video": False,
                          "artist-credit": credit(artist)}})
    other = {"title": album + " (other pressing)", "id": str(uuid.uuid4()),
             "artist-credit": credit("Someone Else"), "status": "Official",
             "media": [{"position": 1, "format": "CD", "title": "", "track-count": 1,
                        "track-offset": 0, "discs": [{"id": "other-disc-id-xxxxxxxxxxxx-",
                                                      "sectors": 1000, "offset-count": 1,
                                                      "offsets": [150]}],
                        "tracks": [{"id": str(uuid.uuid4()), "number": "1", "position": 1,
                                    "title": "Wrong", "length": 1000}]}]}
    release = {
        "id": str(uuid.uuid4()), "title": album, "status": "Official", "quality": "normal",
        "date": "1959-08-17", "country": "US", "barcode": "", "disambiguation": "",
        "artist-credit": credit(artist),
        "media": [{"position": 1, "format": "CD", "title": "", "track-count": len(titles),
                   "track-offset": 0,
                   "discs": [{"id": discid, "sectors": 47262, "offset-count": tracks,
                              "offsets": [150] * tracks}],
                   "tracks": track_list}]}
    return {"id": discid, "sectors": 47262, "offset-count": tracks,
            "offsets": [150] * tracks, "releases": [other, release]}


if sys.argv[1] == "id":
    nums = [int(a) for a in sys.argv[2:]]
    print(disc_id(nums[0], nums[1:]))
elif sys.argv[1] == "freedb":
    print(freedb_id([int(a) for a in sys.argv[3:]]))
elif sys.argv[1] == "answer":
    a = sys.argv[2:]
    print(json.dumps(answer(a[0], int(a[1]), a[2], a[3], a[4:]), ensure_ascii=False, indent=1))
