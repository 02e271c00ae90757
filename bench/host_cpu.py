#!/usr/bin/env python3
"""CPU use of hosted savers, one per monitor, as XScreenSaver runs them.

    bench/host_cpu.py [--build build] [--monitors 2] [--size 1920x1080] [--seconds 10] [--runs 3]

Each run starts an Xvfb as wide as the monitors side by side, one window of
another program per monitor (xshot window) and one saver per window
(--window-id), waits until every window shows the model, lets it settle, then
reads utime + stime of each saver from /proc over the given seconds. Prints one
line per run and the median, in percent of one core per saver.
"""

import argparse
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "e2e"))
from xsession import ForeignWindow, XSession, wait_until  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


def one_run(args, width, height):
    xshot = os.path.join(args.build, "tools", "xshot")
    saver = os.path.join(args.build, "windows", "Plumora.scr")
    screen = "%dx%dx24" % (width * args.monitors, height)
    with tempfile.TemporaryDirectory() as home, XSession(screen) as x:
        env = x.environment(home)
        savers, windows = [], []
        for m in range(args.monitors):
            windows.append(ForeignWindow(x, xshot, (m * width, 0, width, height)))
            savers.append(x.start([saver, "--window-id", windows[-1].id], env))
        for w in windows:
            wait_until("model in %s" % w.id, lambda: 0 < int(x.stats(xshot, w.rect)["nonblack"]) <
                       width * height // 5, timeout=30)
        time.sleep(2)
        start = [cpu_seconds(p.pid) for p in savers]
        time.sleep(args.seconds)
        used = [cpu_seconds(p.pid) - s for p, s in zip(savers, start)]
        return [100.0 * u / args.seconds for u in used]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--monitors", type=int, default=2)
    parser.add_argument("--size", default="1920x1080")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    width, height = map(int, args.size.split("x"))
    per_run = []
    for run in range(args.runs):
        pcts = one_run(args, width, height)
        per_run.append(statistics.mean(pcts))
        print("run=%d cpu_pct_per_saver=%s" % (run + 1, ",".join("%.1f" % p for p in pcts)))
    print("monitors=%d size=%s median_cpu_pct_per_saver=%.1f" %
          (args.monitors, args.size, statistics.median(per_run)))


if __name__ == "__main__":
    main()
