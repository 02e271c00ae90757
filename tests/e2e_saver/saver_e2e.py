#!/usr/bin/env python3
"""End-to-end runs of the built saver under a private X server.

    saver_e2e.py --program build/windows/Plumora.scr [--probe build/tools/xshot] CASE

Every case runs in a fresh folder holding a copy of the program beside a stand-in
settings program (a script that records that it ran), with its own X server and
XDG folders. Exit 0 pass, 1 fail, 77 skipped.
"""

import argparse
import os
import shutil
import signal
import stat
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "e2e"))
from xsession import SKIP, Failure, XSession, count_non_black, output, require_tools, \
    still_running, wait_exit  # noqa: E402

TITLE = "Tessival"
QUICK = 10  # seconds a program that should end at once may take
SETTINGS_STANDIN = """#!/bin/sh
echo "ran $*" >> "$(dirname "$0")/settings-ran"
"""


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
            f.write(SETTINGS_STANDIN)
        os.chmod(settings, os.stat(settings).st_mode | stat.S_IXUSR | stat.S_IXGRP)
        models = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(program))), "XFile")
        self.has_models = os.path.isdir(models)
        if self.has_models:
            shutil.copytree(models, os.path.join(home, "XFile"))
        self.marker = os.path.join(self.dir, "settings-ran")

    def settings_ran(self, wait):
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            if os.path.exists(self.marker):
                return True
            time.sleep(0.05)
        return os.path.exists(self.marker)


def expect(condition, message):
    if not condition:
        raise Failure(message)


class Case:
    def __init__(self, args, x, home):
        self.args = args
        self.x = x
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


def case_configure(c):
    for switches in (["/c"], ["-C"], ["/c", "/s"]):
        if os.path.exists(c.install.marker):
            os.remove(c.install.marker)
        proc = c.start(*switches)
        c.expect_ends(proc, 1, " ".join(switches))
        expect(c.install.settings_ran(QUICK), "%s: the settings program did not run" % switches)
        expect(not c.x.find_windows(TITLE), "%s: a saver window is showing" % switches)
        expect("LMX:" not in output(proc), "%s: the device layer started" % switches)


def case_saver_switches(c):
    for switch in ("/s", "-S"):
        proc, _ = c.start_saver(switch)
        c.x.key("space")
        c.expect_ends(proc, 0, switch)
    expect(not c.install.settings_ran(0), "the settings program ran")


def case_no_saver_switch(c):
    for switches in (["/p", "1234"], ["/a"], []):
        proc = c.start(*switches)
        c.expect_ends(proc, 1, repr(switches))
        err = output(proc)
        expect("LMX:" not in err, "%s: the device layer started: %s" % (switches, err))
        expect(not c.x.find_windows(TITLE), "%s: a window is showing" % switches)
    expect(not c.install.settings_ran(0), "the settings program ran")


def case_single_instance(c):
    first, _ = c.start_saver()
    second = c.start("/s")
    c.expect_ends(second, 1, "second /s")
    configure = c.start("/c")
    c.expect_ends(configure, 1, "/c while running")
    expect(not c.install.settings_ran(1), "/c while a saver runs launched the settings program")
    expect(first.poll() is None, "the running saver ended")
    expect(len(c.x.find_windows(TITLE)) == 1, "more than one saver window")
    c.x.key("a")
    c.expect_ends(first, 0, "first saver")
    # The guard goes with the process: the next start runs.
    again, _ = c.start_saver()
    c.x.key("a")
    c.expect_ends(again, 0, "saver after the first ended")


def case_covers_screen(c):
    proc, window = c.start_saver()
    x, y, width, height = c.x.geometry(window)
    expect((x, y, width, height) == (0, 0, 1280, 720),
           "window geometry %s, expected the whole 1280x720 screen" % ((x, y, width, height),))
    if c.args.probe:
        c.x.mousemove(640, 360)
        expect(c.x.cursor_hidden(c.args.probe), "the cursor is visible over the saver")
    else:
        print("cursor check skipped: no screen reader (tools/xshot) built")
    c.x.key("a")
    c.expect_ends(proc, 0, "key")
    if c.args.probe:
        expect(not c.x.cursor_hidden(c.args.probe), "the cursor stays hidden after the end")


def case_mouse_moves(c):
    proc, _ = c.start_saver()
    for point in ((10, 10), (1270, 700), (640, 360), (641, 361), (0, 0)):
        c.x.mousemove(*point)
    expect(still_running(proc, 1.5), "mouse movement ended the saver: %s" % output(proc))
    c.x.key("Escape")
    c.expect_ends(proc, 0, "key after movement")


def case_ending_inputs(c):
    inputs = (("key a", lambda: c.x.key("a")), ("Alt", lambda: c.x.key("Alt_L")),
              ("F10", lambda: c.x.key("F10")), ("left click", lambda: c.x.click(1)),
              ("right click", lambda: c.x.click(3)))
    for name, act in inputs:
        proc, _ = c.start_saver()
        act()
        c.expect_ends(proc, 0, name)
        expect(not c.x.find_windows(TITLE), "%s: the window stayed" % name)


def case_signals(c):
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        proc, _ = c.start_saver()
        proc.send_signal(sig)
        c.expect_ends(proc, 0, sig.name)
        leftovers = [p for p in os.listdir("/proc") if p.isdigit() and _parent(p) == proc.pid]
        expect(not leftovers, "%s: processes left behind: %s" % (sig.name, leftovers))


def case_display_lost(c):
    proc, _ = c.start_saver()
    c.x.kill_server()
    got = wait_exit(proc, QUICK)
    expect(got >= 0, "killed by signal %d when the display went away" % -got)
    # It ends as on any other ending input: window closed, layer torn down, 0.
    expect(got == 0, "exit code %d when the display went away: %s" % (got, output(proc)))


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


def _parent(pid):
    try:
        with open("/proc/%s/stat" % pid) as f:
            return int(f.read().rsplit(")", 1)[1].split()[1])
    except (OSError, ValueError, IndexError):
        return -1


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--probe")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    require_tools("Xvfb", "xdotool", "xwininfo")
    if not os.path.exists(args.program):
        print("program not built: " + args.program)
        return 1
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
