#!/usr/bin/env python3
"""End-to-end runs of the built settings program under a private X server.

    settings_e2e.py --program build/windows/Quenset.exe [--xshot xshot] [--artefacts DIR] CASE

Every case runs in a fresh folder holding a copy of the program beside a stand-in
saver (a script named Plumora.scr that records its arguments), with its own X
server and XDG folders. Keys go in through xdotool. Exit 0 pass, 1 fail, 77 skipped.
"""

import configparser
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "e2e"))
from xsession import QUICK, Failure, expect, expect_exit, run_case, settings_file, stand_in, \
    still_running, wait_until  # noqa: E402

TITLE = "Plumora"
# What the first key, Home on the red slider, writes: all four slider keys.
AFTER_HOME = {"SETTING/ColorR": "0", "SETTING/ColorG": "255", "SETTING/ColorB": "255",
              "SS_SECTION/SPEED": "7"}


class Run:
    """windows/Quenset.exe (a copy) beside windows/Plumora.scr (the stand-in),
    started on the session's display with the keyboard focus on its dialog."""

    def __init__(self, args, x, home):
        self.args, self.x = args, x
        folder = os.path.join(home, "windows")
        os.makedirs(folder)
        os.makedirs(args.artefacts, exist_ok=True)
        shutil.copy2(args.program, os.path.join(folder, "Quenset.exe"))
        self.marker = stand_in(os.path.join(folder, "Plumora.scr"))
        env = dict(x.environment(home), QT_QPA_PLATFORM="xcb")
        self.ini = settings_file(env)
        self.proc = x.start([os.path.join(folder, "Quenset.exe")], env)
        self.window = x.wait_for_window(TITLE, self.proc)
        # No window manager: give the dialog the keyboard focus ourselves.
        x.run(["xdotool", "windowfocus", "--sync", self.window])

    def settings(self):
        parser = configparser.ConfigParser(interpolation=None)
        parser.optionxform = str
        parser.read(self.ini)
        return {s + "/" + k: v for s in parser.sections() for k, v in parser[s].items()}

    def wait_settings(self, expected):
        wait_until(lambda: "settings %r, expected %r" % (self.settings(), expected),
                   lambda: self.settings() == expected, QUICK)

    # The toolkit may take a while to take the focus in: the key goes again each
    # second until it shows. The keys used so do nothing more when repeated.
    def press_until(self, key, condition, what):
        deadline = time.monotonic() + QUICK
        while time.monotonic() < deadline:
            self.x.key(key)
            try:
                return wait_until(what, condition, 1)
            except Failure:
                pass
        raise Failure("no effect of %s: %s" % (key, what))

    def ini_bytes(self):
        with open(self.ini, "rb") as f:
            return f.read()

    def expect_exit(self, key):
        self.press_until(key, lambda: self.proc.poll() is not None, "still running")
        expect_exit(self.proc, 0, key)


def case_window(run):
    left, top, width, height = run.x.geometry(run.window)
    expect(width > 200 and height > 300, "window size %dx%d" % (width, height))
    if run.args.xshot:
        run.x.run([run.args.xshot, "png", os.path.join(run.args.artefacts, "settings_window.png")])
        s = run.x.stats(run.args.xshot, (left, top, width, height))
        # The dialog face is light, with dark text and controls drawn on it.
        expect(int(s["total"]) == width * height, "stats cover the window: %s" % s)
        expect(int(s["nonblack"]) > width * height // 2, "dialog drawn: %s" % s)
    run.expect_exit("Escape")
    expect(not os.path.exists(run.ini), "nothing written by opening and closing")


def case_slider_keys(run):
    # The focus starts on the red slider.
    run.press_until("Home", lambda: run.settings() == AFTER_HOME, "red slider")
    run.x.key("Right")
    run.wait_settings(dict(AFTER_HOME, **{"SETTING/ColorR": "1"}))
    run.x.key("Tab", "Tab", "Tab", "Right")
    run.wait_settings(dict(AFTER_HOME, **{"SETTING/ColorR": "1", "SS_SECTION/SPEED": "8"}))
    before = run.ini_bytes()
    run.expect_exit("Return")
    expect(run.ini_bytes() == before, "nothing written at closing")


def case_preview(run):
    run.press_until("Home", lambda: run.settings() == AFTER_HOME, "red slider")
    before = run.ini_bytes()
    # Tab order: 1011 1012 1013 1014 1015 1016 1017 1021 1024 1007 1025 ("Preview").
    run.x.key(*(["Tab"] * 10), "space")
    runs = wait_until("run of the saver", lambda: os.path.exists(run.marker) and
                      open(run.marker).read(), QUICK)
    expect(runs == "/S\n", "saver started with /S: %r" % runs)
    expect(still_running(run.proc, 0.5), "the dialog stays open beneath the saver")
    run.expect_exit("Escape")
    expect(run.ini_bytes() == before, "preview writes nothing")


if __name__ == "__main__":
    sys.exit(run_case(globals(), Run, {"--program": None, "--xshot": "", "--artefacts": "."}))
