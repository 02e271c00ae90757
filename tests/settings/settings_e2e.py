#!/usr/bin/env python3
"""End-to-end runs of the built settings program under a private X server.

    settings_e2e.py --program build/windows/Quenset.exe [--xshot xshot] [--artefacts DIR] CASE

Every case runs in a fresh folder holding a copy of the program beside a stand-in
saver (a script named Plumora.scr that records its arguments), with its own X
server and XDG folders. Keys go in through xdotool. Exit 0 pass, 1 fail, 77 skipped.
"""

import argparse
import configparser
import os
import shutil
import stat
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "e2e"))
from xsession import Failure, XSession, output, require_tools, still_running, \
    wait_exit  # noqa: E402

TITLE = "Plumora"
QUICK = 10  # seconds a program that should end at once may take
SAVER_STANDIN = """#!/bin/sh
echo "$*" >> "$(dirname "$0")/saver-ran"
"""


class Install:
    """windows/Quenset.exe (a copy) and windows/Plumora.scr (the stand-in)."""

    def __init__(self, program, home):
        self.dir = os.path.join(home, "windows")
        os.makedirs(self.dir)
        self.program = os.path.join(self.dir, "Quenset.exe")
        shutil.copy2(program, self.program)
        saver = os.path.join(self.dir, "Plumora.scr")
        with open(saver, "w") as f:
            f.write(SAVER_STANDIN)
        os.chmod(saver, os.stat(saver).st_mode | stat.S_IXUSR)
        self.marker = os.path.join(self.dir, "saver-ran")
        self.ini = os.path.join(home, "config", "plumora", "Mirel.ini")

    def saver_runs(self, wait):
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            if os.path.exists(self.marker):
                with open(self.marker) as f:
                    text = f.read()
                if text.endswith("\n"):
                    return text.split("\n")[:-1]
            time.sleep(0.05)
        return []

    def settings(self):
        parser = configparser.ConfigParser(interpolation=None)
        parser.optionxform = str
        parser.read(self.ini)
        return {s + "/" + k: v for s in parser.sections() for k, v in parser[s].items()}


def expect(condition, message):
    if not condition:
        raise Failure(message)


def start(x, install, home):
    proc = x.start([install.program], dict(x.environment(home), QT_QPA_PLATFORM="xcb"))
    window = x.wait_for_window(TITLE, proc)
    # No window manager: give the dialog the keyboard focus ourselves.
    x.run(["xdotool", "windowfocus", "--sync", window])
    time.sleep(0.3)  # let the toolkit take the focus in before keys arrive
    return proc, window


def keys(x, *names):
    for name in names:
        x.key(name)


def wait_settings(install, expected, timeout=QUICK):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        values = install.settings()
        if values == expected:
            return
        time.sleep(0.05)
    raise Failure("settings %r, expected %r" % (install.settings(), expected))


def case_window(x, install, home, args):
    proc, window = start(x, install, home)
    expect(x.run(["xdotool", "getwindowname", window]).strip() == TITLE, "title")
    left, top, width, height = x.geometry(window)
    expect(width > 200 and height > 300, "window size %dx%d" % (width, height))
    if args.xshot:
        x.run([args.xshot, "png", os.path.join(args.artefacts, "settings_window.png")])
        stats = x.run([args.xshot, "stats", str(left), str(top), str(width), str(height)])
        figures = dict(p.split("=", 1) for p in stats.split() if "=" in p)
        # The dialog face is light, with dark text and controls drawn on it.
        total = int(figures.get("total", "0"))
        expect(total == width * height, "stats cover the window: %s" % stats)
        expect(int(figures.get("nonblack", "0")) > total // 2, "dialog drawn: %s" % stats)
    keys(x, "Escape")
    expect(wait_exit(proc, QUICK) == 0, "exit code after Escape")
    expect(not os.path.exists(install.ini), "nothing written by opening and closing")


def case_slider_keys(x, install, home, args):
    proc, _ = start(x, install, home)
    # The focus starts on the red slider.
    keys(x, "Left")
    wait_settings(install, {"SETTING/ColorR": "254", "SETTING/ColorG": "255",
                            "SETTING/ColorB": "255", "SS_SECTION/SPEED": "7"})
    keys(x, "Tab", "Tab", "Tab", "Right")
    wait_settings(install, {"SETTING/ColorR": "254", "SETTING/ColorG": "255",
                            "SETTING/ColorB": "255", "SS_SECTION/SPEED": "8"})
    before = open(install.ini, "rb").read()
    keys(x, "Return")
    expect(wait_exit(proc, QUICK) == 0, "exit code after Enter")
    expect(open(install.ini, "rb").read() == before, "nothing written at closing")


def case_preview(x, install, home, args):
    proc, _ = start(x, install, home)
    # Tab order: 1011 1012 1013 1014 1015 1016 1017 1021 1024 1007 1025 ("Preview").
    keys(x, *(["Tab"] * 10))
    keys(x, "space")
    runs = install.saver_runs(QUICK)
    expect(runs == ["/S"], "saver started with /S: %r" % runs)
    expect(still_running(proc, 0.5), "the dialog stays open beneath the saver")
    keys(x, "Escape")
    expect(wait_exit(proc, QUICK) == 0, "exit code")
    expect(not os.path.exists(install.ini), "preview writes nothing")


CASES = {"window": case_window, "slider_keys": case_slider_keys, "preview": case_preview}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--xshot")
    parser.add_argument("--artefacts", default=".")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    require_tools("Xvfb", "xdotool", "xwininfo")
    os.makedirs(args.artefacts, exist_ok=True)
    try:
        with XSession() as x, tempfile.TemporaryDirectory() as home:
            install = Install(args.program, home)
            try:
                CASES[args.case](x, install, home, args)
            finally:
                for child in x.children:
                    if child.poll() is None:
                        print(output(child))
    except Failure as failure:
        print("FAIL %s: %s" % (args.case, failure))
        return 1
    print("PASS %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
