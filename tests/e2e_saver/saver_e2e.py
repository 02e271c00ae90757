#!/usr/bin/env python3
"""End-to-end runs of the built saver under a private X server.

    saver_e2e.py --program build/windows/Plumora.scr --probe build/tools/xshot CASE

Every case runs in a fresh folder holding a copy of the program beside a stand-in
settings program (a script that records that it ran), with its own X server and
XDG folders. Exit 0 pass, 1 fail, 77 skipped.
"""

import os
import signal
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "e2e"))
from xsession import QUICK, SKIP, box_model, count_non_black, expect, expect_exit, \
    install_saver, output, run_case, settings_file, stand_in, wait_until as poll  # noqa: E402

TITLE = "Tessival"


class Case:
    """windows/Plumora.scr (a copy), windows/Quenset.exe (a stand-in) and the model folder
    beside it when the build has one."""

    def __init__(self, args, x, home):
        self.args, self.x, self.home = args, x, home
        self.program, self.has_models = install_saver(args.program, home)
        self.marker = stand_in(os.path.join(home, "windows", "Quenset.exe"))
        self.env = x.environment(home)

    def settings_ran(self):
        return os.path.exists(self.marker)

    def start(self, *switches):
        return self.x.start([self.program, *switches], self.env)

    def start_saver(self, *switches):
        proc = self.start(*(switches or ("/s",)))
        window = self.x.wait_for_window(TITLE, proc)
        return proc, window


def ends_at_once(c, runs, settings):
    """Each run ends at once with 1; the settings program runs for each, or never."""
    for switches in runs:
        if os.path.exists(c.marker):
            os.remove(c.marker)
        proc = c.start(*switches)
        expect_exit(proc, 1, repr(switches))
        expect("LMX:" not in output(proc), "%s: the device layer started" % switches)
        if settings:
            poll("run of the settings program for %s" % switches, c.settings_ran, QUICK)
    expect(settings or not c.settings_ran(), "the settings program ran")


def case_configure(c):
    ends_at_once(c, (["/c"], ["-C"], ["/c", "/s"]), True)


def case_no_saver_switch(c):
    ends_at_once(c, (["/p", "1234"], ["/a"], []), False)


def case_single_instance(c):
    first, _ = c.start_saver()
    expect_exit(c.start("/s"), 1, "second /s")
    expect_exit(c.start("/c"), 1, "/c while running")
    expect(first.poll() is None, "the running saver ended")
    expect(len(c.x.find_windows(TITLE)) == 1, "more than one saver window")
    c.x.key("a")
    expect_exit(first, 0, "first saver")
    # The guard goes with the process: the next start runs.
    again, _ = c.start_saver()
    c.x.key("a")
    expect_exit(again, 0, "saver after the first ended")
    # Long after the /c above would have started it.
    expect(not c.settings_ran(), "/c while a saver ran launched the settings program")


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
    expect_exit(proc, 0, "key after movement")
    expect(not hidden(), "the cursor stays hidden after the end")


def case_ending_inputs(c):
    """Every ending input ends a run, started by either saver switch."""
    inputs = (("key", "a"), ("key", "Alt_L"), ("key", "F10"), ("click", "1"), ("click", "3"),
              ("key", "space"))
    for i, (tool, what) in enumerate(inputs):
        proc, _ = c.start_saver(("/s", "-S")[i % 2])
        c.x.run(["xdotool", tool, what])
        expect_exit(proc, 0, "%s %s" % (tool, what))
    expect(not c.settings_ran(), "the settings program ran")


def case_signals(c):
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        proc, _ = c.start_saver()
        proc.send_signal(sig)
        expect_exit(proc, 0, sig.name)


def case_display_lost(c):
    proc, _ = c.start_saver()
    c.x.kill_server()
    # It ends as on any other ending input (window closed, layer torn down, 0),
    # not by a signal or Xlib's own exit.
    expect_exit(proc, 0, "display gone")


def case_no_display(c):
    env = dict(c.env)
    env.pop("DISPLAY", None)
    proc = c.x.start([c.program, "/s"], env)
    expect_exit(proc, 1, "no display")
    expect("display" in output(proc), "no line about the display: " + output(proc))


def case_renders(c):
    """The default model shows, and so does one built far from its own origin, which turns
    about its middle: on screen at every look."""
    if not c.has_models:
        print("skipped: the default model was not built (XFile/ beside windows/)")
        sys.exit(SKIP)
    aside = os.path.join(c.home, "aside.x")
    with open(aside, "w") as f:
        f.write(box_model(1, 20))
    for model in (None, aside):
        if model:
            settings_file(c.env, "[SETTING]\nFILENAME=%s\n" % model)
        proc, _ = c.start_saver()
        lit = []
        deadline = time.monotonic() + 60  # eight looks, each a full-screen read: slow when busy
        while len(lit) < 8 and time.monotonic() < deadline and proc.poll() is None:
            width, height, pixels = c.x.screenshot(c.args.probe, os.path.join(c.home, "screen.ppm"))
            expect((width, height) == (1280, 720), "screenshot of %dx%d" % (width, height))
            lit.append(count_non_black(pixels))
            lit = lit if lit[0] else []  # from the first frame drawn on
            time.sleep(0.25)
        expect(proc.poll() is None, "the saver ended on its own: %s" % output(proc))
        expect(len(lit) == 8 and min(lit) > 0, "%s left the screen: lit %s" % (model, lit))
        c.x.key("a")
        expect_exit(proc, 0, "key")
        expect("plumora:" not in output(proc), "the model was refused: " + output(proc))


if __name__ == "__main__":
    sys.exit(run_case(globals(), Case, {"--program": None, "--probe": None}))
