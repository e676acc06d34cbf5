#!/usr/bin/env python3
"""Writes a month of mixed history into a log folder, as the program logs it.

    scripts/trend-history.py LOGDIR [--end YYYY-MM-DD] [--days N] [--now HH:MM]

Four channels of very different ranges (room temperature, pressure, a pump's
flow that is 0 at night, a small voltage), days of a line every 30 s beside
days of a line a second, an hour at 50 lines a second, a power cut, a missing
day, a restart (its first line all zeros), an alarm, an INF, a lone spike.
Times are the local wall clock (set TZ), so a clock-change day holds 23 or 25
hours. The last day ends at --now (default: the current time).
"""
import argparse, datetime, math, os, time

p = argparse.ArgumentParser()
p.add_argument("logdir")
p.add_argument("--end", default=datetime.date.today().isoformat())
p.add_argument("--days", type=int, default=30)
p.add_argument("--now", default=None)
a = p.parse_args()
os.makedirs(a.logdir, exist_ok=True)
end = datetime.date.fromisoformat(a.end)


def form(v):
    if math.isinf(v):
        return "INF" if v > 0 else "-INF"
    t = ("%.1f" % v).rstrip("0").rstrip(".")
    return "0" if t in ("-0", "") else t


def midnight(d):
    return time.mktime((d.year, d.month, d.day, 0, 0, 0, 0, 0, -1))


for k in range(a.days):
    d = end - datetime.timedelta(days=a.days - 1 - k)
    if k == 20 and a.days >= 30:
        continue  # a missing day
    start, stop = midnight(d), midnight(d + datetime.timedelta(days=1))
    if d == end:
        h, m = (a.now or time.strftime("%H:%M")).split(":")
        stop = min(stop, start + int(h) * 3600 + int(m) * 60)
    step = 1 if k % 3 == 2 or d == end else 30
    lines = []
    t = start
    restart = start + 14 * 3600 if k == 15 else None
    while t < stop:
        lt = time.localtime(t)
        hour = lt.tm_hour + lt.tm_min / 60
        if k == 10 and 10 <= hour < 13.5:  # a power cut
            t += step
            continue
        room = 21 + 0.8 * math.sin((hour - 9) / 24 * 2 * math.pi) + (k % 5) * 0.1
        if k == 12 and 15 <= hour < 15.1:
            room = 26.5  # an alarm above 25
        if k == 8 and lt.tm_hour == 9 and lt.tm_min == 0 and lt.tm_sec < step:
            room = 95  # a lone spike
        pressure = 1013 + 4 * math.sin(t / 20000.0)
        if k == 18 and lt.tm_hour == 12 and lt.tm_min == 0 and lt.tm_sec < step:
            pressure = math.inf
        flow = 0 if lt.tm_hour < 6 else 50 + 8 * math.sin(t / 900.0)
        volt = 0.5 + 0.04 * math.sin(t / 300.0)
        values = [room, pressure, flow, volt, 0, 0, 0, 0]
        if restart is not None and restart <= t < restart + 120:
            t += step
            continue  # the program was closed
        if restart is not None and restart + 120 <= t < restart + 120 + step:
            values = [0] * 8  # its first line after the start
        stamp = time.strftime('"%H:%M:%S"', lt)
        n = 50 if (k % 3 == 2 and lt.tm_hour == 10) else 1  # an hour at 50/s
        for _ in range(n):
            lines.append(stamp + "," + ",".join(form(v) for v in values) + "\r\n")
        t += step
    with open(os.path.join(a.logdir, d.strftime("%y%m%d") + ".txt"), "w", newline="") as f:
        f.writelines(lines)
