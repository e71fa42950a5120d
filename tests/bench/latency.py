#!/usr/bin/env python3
"""Times one change as heard: the recording's length in frames is read,
the action run, and after a moment tools/audiocmp finds the first stretch
of the recording of the kind asked for ("unmatched": the sound stopped
being the disc, a volume change; "audio": a new stretch of the disc, a
play) that begins at or after that length.  Prints the milliseconds.

usage: latency.py AUDIOCMP DISC.pcm CAPTURE KIND ACTION...
ACTION: "mpv SOCKET JSON" sends JSON to mpv's IPC socket; anything else
is run as a command."""
import os
import socket
import subprocess
import sys
import time

audiocmp, pcm, capture, kind = sys.argv[1:5]
action = sys.argv[5:]
at = os.path.getsize(capture) // 4
if action[0] == "mpv":
    s = socket.socket(socket.AF_UNIX)
    s.connect(action[1])
    s.sendall((action[2] + "\n").encode())
    s.recv(4096)
    s.close()
else:
    subprocess.run(action, check=True)
for _ in range(40):
    time.sleep(0.1)
    out = subprocess.run([audiocmp, pcm, capture], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        f = line.split()
        if f[0] == kind and int(f[1]) >= at:
            # Heard once a little of it has come (not a stretch still growing at the end).
            if int(f[1]) + int(f[2]) < os.path.getsize(capture) // 4 - 4410:
                print((int(f[1]) - at) * 1000 // 44100)
                sys.exit(0)
            break
sys.exit("no change heard in four seconds")
