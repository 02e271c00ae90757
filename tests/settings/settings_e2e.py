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
QUICK = 10  # seconds a program that should react at once may take, on a busy machine
SAVER_STANDIN = """#!/bin/sh
echo "$*" >> "$(dirname "$0")/saver-ran"
"""
# What the first key, Home on the red slider, writes: all four slider keys.
AFTER_HOME = {"SETTING/ColorR": "0", "SETTING/ColorG": "255", "SETTING/ColorB": "255",
              "SS_SECTION/SPEED": "7"}


def expect(condition, message):
    if not condition:
        raise Failure(message)


# condition()'s first true value within timeout, else its last value.
def poll(condition, timeout=QUICK):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.05)


class Run:
    """windows/Quenset.exe (a copy) beside windows/Plumora.scr (the stand-in),
    started on the session's display with the keyboard focus on its dialog."""

    def __init__(self, x, program, home):
        self.x = x
        folder = os.path.join(home, "windows")
        os.makedirs(folder)
        shutil.copy2(program, os.path.join(folder, "Quenset.exe"))
        saver = os.path.join(folder, "Plumora.scr")
        with open(saver, "w") as f:
            f.write(SAVER_STANDIN)
        os.chmod(saver, os.stat(saver).st_mode | stat.S_IXUSR)
        self.marker = os.path.join(folder, "saver-ran")
        self.ini = os.path.join(home, "config", "plumora", "Mirel.ini")
        env = dict(x.environment(home), QT_QPA_PLATFORM="xcb")
        self.proc = x.start([os.path.join(folder, "Quenset.exe")], env)
        self.window = x.wait_for_window(TITLE, self.proc)
        # No window manager: give the dialog the keyboard focus ourselves.
        x.run(["xdotool", "windowfocus", "--sync", self.window])

    def keys(self, *names):
        self.x.run(["xdotool", "key", *names])

    def settings(self):
        parser = configparser.ConfigParser(interpolation=None)
        parser.optionxform = str
        parser.read(self.ini)
        return {s + "/" + k: v for s in parser.sections() for k, v in parser[s].items()}

    def wait_settings(self, expected):
        expect(poll(lambda: self.settings() == expected),
               "settings %r, expected %r" % (self.settings(), expected))

    # The toolkit may take a while to take the focus in: the key goes again each
    # second until it shows. The keys used so do nothing more when repeated.
    def press_until(self, key, condition, what):
        deadline = time.monotonic() + QUICK
        while time.monotonic() < deadline:
            self.x.key(key)
            if poll(condition, 1):
                return
        raise Failure("no effect of %s: %s" % (key, what))

    def ini_bytes(self):
        with open(self.ini, "rb") as f:
            return f.read()

    def expect_exit(self, key):
        self.press_until(key, lambda: self.proc.poll() is not None, "still running")
        expect(wait_exit(self.proc, QUICK) == 0, "exit code after %s" % key)


def case_window(run, args):
    left, top, width, height = run.x.geometry(run.window)
    expect(width > 200 and height > 300, "window size %dx%d" % (width, height))
    if args.xshot:
        run.x.run([args.xshot, "png", os.path.join(args.artefacts, "settings_window.png")])
        stats = run.x.run([args.xshot, "stats", str(left), str(top), str(width), str(height)])
        figures = dict(p.split("=", 1) for p in stats.split() if "=" in p)
        # The dialog face is light, with dark text and controls drawn on it.
        total = int(figures.get("total", "0"))
        expect(total == width * height, "stats cover the window: %s" % stats)
        expect(int(figures.get("nonblack", "0")) > total // 2, "dialog drawn: %s" % stats)
    run.expect_exit("Escape")
    expect(not os.path.exists(run.ini), "nothing written by opening and closing")


def case_slider_keys(run, args):
    # The focus starts on the red slider.
    run.press_until("Home", lambda: run.settings() == AFTER_HOME, "red slider")
    run.keys("Right")
    run.wait_settings(dict(AFTER_HOME, **{"SETTING/ColorR": "1"}))
    run.keys("Tab", "Tab", "Tab", "Right")
    run.wait_settings(dict(AFTER_HOME, **{"SETTING/ColorR": "1", "SS_SECTION/SPEED": "8"}))
    before = run.ini_bytes()
    run.expect_exit("Return")
    expect(run.ini_bytes() == before, "nothing written at closing")


def case_preview(run, args):
    run.press_until("Home", lambda: run.settings() == AFTER_HOME, "red slider")
    before = run.ini_bytes()
    # Tab order: 1011 1012 1013 1014 1015 1016 1017 1021 1024 1007 1025 ("Preview").
    run.keys(*(["Tab"] * 10), "space")
    runs = poll(lambda: os.path.exists(run.marker) and open(run.marker).read())
    expect(runs == "/S\n", "saver started with /S: %r" % runs)
    expect(still_running(run.proc, 0.5), "the dialog stays open beneath the saver")
    run.expect_exit("Escape")
    expect(run.ini_bytes() == before, "preview writes nothing")


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
            try:
                CASES[args.case](Run(x, args.program, home), args)
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
