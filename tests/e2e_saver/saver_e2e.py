#!/usr/bin/env python3
"""End-to-end runs of the built saver under a private X server.

    saver_e2e.py --program build/windows/Plumora.scr --probe build/tools/xshot CASE

Every case runs in a fresh folder holding a copy of the program beside a stand-in
settings program (a script that records that it ran), with its own X server and
XDG folders. Exit 0 pass, 1 fail, 77 skipped.
"""

import argparse
import os
import shutil
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "e2e"))
from xsession import SKIP, Failure, XSession, count_non_black, output, require_tools, \
    wait_exit, wait_until as poll  # noqa: E402

TITLE = "Tessival"
QUICK = 10  # seconds a program that should end at once may take


class Install:
    """windows/Plumora.scr (a copy), windows/Quenset.exe (the stand-in) and the
    model folder beside it when the build has one."""

    def __init__(self, program, home):
        self.dir = os.path.join(home, "windows")
        os.makedirs(self.dir)
        self.program = os.path.join(self.dir, "Plumora.scr")
        shutil.copy2(program, self.program)
        settings = os.path.join(self.dir, "Quenset.exe")
        with open(settings, "w") as f:
            f.write('#!/bin/sh\necho "ran $*" >> "$(dirname "$0")/settings-ran"\n')
        os.chmod(settings, 0o755)
        models = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(program))), "XFile")
        self.has_models = os.path.isdir(models)
        if self.has_models:
            shutil.copytree(models, os.path.join(home, "XFile"))
        self.marker = os.path.join(self.dir, "settings-ran")

    def settings_ran(self):
        return os.path.exists(self.marker)


def expect(condition, message):
    if not condition:
        raise Failure(message)


class Case:
    def __init__(self, args, x, home):
        self.args, self.x = args, x
        self.install = Install(args.program, home)
        self.env = x.environment(home)

    def start(self, *switches):
        return self.x.start([self.install.program, *switches], self.env)

    def start_saver(self, *switches):
        proc = self.start(*(switches or ("/s",)))
        window = self.x.wait_for_window(TITLE, proc)
        return proc, window

    def expect_ends(self, proc, code, what):
        got = wait_exit(proc, QUICK)
        expect(got == code, "%s: exit code %s, expected %s; stderr: %s" %
               (what, got, code, output(proc)))


def ends_at_once(c, runs, settings):
    """Each run ends at once with 1; the settings program runs for each, or never."""
    for switches in runs:
        if os.path.exists(c.install.marker):
            os.remove(c.install.marker)
        proc = c.start(*switches)
        c.expect_ends(proc, 1, repr(switches))
        expect("LMX:" not in output(proc), "%s: the device layer started" % switches)
        if settings:
            poll("run of the settings program for %s" % switches, c.install.settings_ran, QUICK)
    expect(settings or not c.install.settings_ran(), "the settings program ran")


def case_configure(c):
    ends_at_once(c, (["/c"], ["-C"], ["/c", "/s"]), True)


def case_no_saver_switch(c):
    ends_at_once(c, (["/p", "1234"], ["/a"], []), False)


def case_single_instance(c):
    first, _ = c.start_saver()
    c.expect_ends(c.start("/s"), 1, "second /s")
    c.expect_ends(c.start("/c"), 1, "/c while running")
    expect(first.poll() is None, "the running saver ended")
    expect(len(c.x.find_windows(TITLE)) == 1, "more than one saver window")
    c.x.key("a")
    c.expect_ends(first, 0, "first saver")
    # The guard goes with the process: the next start runs.
    again, _ = c.start_saver()
    c.x.key("a")
    c.expect_ends(again, 0, "saver after the first ended")
    # Long after the /c above would have started it.
    expect(not c.install.settings_ran(), "/c while a saver ran launched the settings program")


def case_covers_screen(c):
    """The window covers the screen with the cursor hidden, and mouse movement
    over it does not end it."""
    proc, window = c.start_saver()
    hidden = lambda: c.x.cursor_hidden(c.args.probe)  # noqa: E731
    expect(c.x.geometry(window) == (0, 0, 1280, 720),
           "window geometry %s, expected the whole 1280x720 screen" % (c.x.geometry(window),))
    c.x.mousemove(640, 360)
    poll("hidden cursor over the saver", hidden)
    for point in ((10, 10), (1270, 700), (640, 360), (641, 361), (0, 0)):
        c.x.mousemove(*point)
    # Two more pictures after the one seen first: the loop has taken the moves.
    seen = set()
    poll("new frames after the moves", lambda: len(seen) == 3 or proc.poll() is not None or
         seen.add(c.x.stats(c.args.probe)["hash"]))
    expect(proc.poll() is None, "mouse movement ended the saver: %s" % output(proc))
    c.x.key("Escape")
    c.expect_ends(proc, 0, "key after movement")
    expect(not hidden(), "the cursor stays hidden after the end")


def case_ending_inputs(c):
    """Every ending input ends a run, started by either saver switch."""
    inputs = (("key", "a"), ("key", "Alt_L"), ("key", "F10"), ("click", "1"), ("click", "3"),
              ("key", "space"))
    for i, (tool, what) in enumerate(inputs):
        proc, _ = c.start_saver(("/s", "-S")[i % 2])
        c.x.run(["xdotool", tool, what])
        c.expect_ends(proc, 0, "%s %s" % (tool, what))
    expect(not c.install.settings_ran(), "the settings program ran")


def case_signals(c):
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        proc, _ = c.start_saver()
        proc.send_signal(sig)
        c.expect_ends(proc, 0, sig.name)


def case_display_lost(c):
    proc, _ = c.start_saver()
    c.x.kill_server()
    # It ends as on any other ending input (window closed, layer torn down, 0),
    # not by a signal or Xlib's own exit.
    c.expect_ends(proc, 0, "display gone")


def case_no_display(c):
    env = dict(c.env)
    env.pop("DISPLAY", None)
    proc = c.x.start([c.install.program, "/s"], env)
    c.expect_ends(proc, 1, "no display")
    expect("display" in output(proc), "no line about the display: " + output(proc))


def case_renders(c):
    """The default model shows, and so does one built far from its own origin, which turns
    about its middle: on screen at every look."""
    if not c.args.probe:
        print("skipped: no screen reader (tools/xshot) built")
        sys.exit(SKIP)
    if not c.install.has_models:
        print("skipped: the default model was not built (XFile/ beside windows/)")
        sys.exit(SKIP)
    home = os.path.dirname(c.install.dir)
    aside = os.path.join(home, "aside.x")
    corners = ";,".join("%d;%d;%d" % (20 + x, y, z) for x in (-1, 1) for y in (-1, 1)
                        for z in (-1, 1))
    with open(aside, "w") as f:
        f.write("xof 0303txt 0032\nMesh { 8; %s;; 6; 4;0,1,3,2;, 4;4,6,7,5;, 4;0,4,5,1;, "
                "4;2,3,7,6;, 4;0,2,6,4;, 4;1,5,7,3;; }\n" % corners)
    for model in (None, aside):
        if model:
            os.makedirs(os.path.join(c.env["XDG_CONFIG_HOME"], "plumora"), exist_ok=True)
            with open(os.path.join(c.env["XDG_CONFIG_HOME"], "plumora", "Mirel.ini"), "w") as f:
                f.write("[SETTING]\nFILENAME=%s\n" % model)
        proc, _ = c.start_saver()
        lit = []
        deadline = time.monotonic() + 20
        while len(lit) < 8 and time.monotonic() < deadline and proc.poll() is None:
            width, height, pixels = c.x.screenshot(c.args.probe, os.path.join(home, "screen.ppm"))
            expect((width, height) == (1280, 720), "screenshot of %dx%d" % (width, height))
            lit.append(count_non_black(pixels))
            lit = lit if lit[0] else []  # from the first frame drawn on
            time.sleep(0.25)
        expect(proc.poll() is None, "the saver ended on its own: %s" % output(proc))
        expect(len(lit) == 8 and min(lit) > 0, "%s left the screen: lit %s" % (model, lit))
        c.x.key("a")
        c.expect_ends(proc, 0, "key")
        expect("plumora:" not in output(proc), "the model was refused: " + output(proc))


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    require_tools("Xvfb", "xdotool", "xwininfo")
    try:
        with tempfile.TemporaryDirectory(prefix="plumora-e2e-") as home, XSession() as x:
            CASES[args.case](Case(args, x, home))
    except Failure as failure:
        print("FAIL %s: %s" % (args.case, failure))
        return 1
    print("PASS " + args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
