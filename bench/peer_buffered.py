#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""peer.py as a careful user writes it: take everything the port holds in one
read and split the lines itself, instead of read_until(), which reads one byte
per call. Appends one log line per value line to LOGDIR/yymmdd.txt.

    peer_buffered.py PORT LOGDIR [--count N]
"""
import argparse
import os
import time

import serial

ap = argparse.ArgumentParser()
ap.add_argument("port")
ap.add_argument("logdir")
ap.add_argument("--count", type=int, default=0, help="exit after N value lines")
args = ap.parse_args()

os.makedirs(args.logdir, exist_ok=True)
values = [0.0] * 8
seen = 0
pending = b""
with serial.Serial(args.port, 9600) as port:
    while not args.count or seen < args.count:
        pending += port.read(port.in_waiting or 1)  # blocks for the first byte only
        *lines, pending = pending.split(b"\r")
        for line in lines:
            line = line.strip()  # the LF of CR LF leads the next line
            if len(line) < 5 or line[:2] != b"V0" or line[3:4] != b"=" or line[2:3] not in b"12345678":
                continue
            try:
                values[int(line[2:3]) - 1] = float(line[4:])
            except ValueError:
                continue
            seen += 1
            now = time.localtime()
            # repr of a float is locale-free: "." is the decimal point.
            text = time.strftime('"%H:%M:%S",', now) + ",".join(repr(v) for v in values) + "\r\n"
            with open(os.path.join(args.logdir, time.strftime("%y%m%d.txt", now)), "a", newline="") as f:
                f.write(text)
