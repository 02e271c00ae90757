#!/usr/bin/env python3
"""End-to-end drawing checks of the built saver under a private X server.

    draw_e2e.py --program build/windows/Plumora.scr --xshot build/tools/xshot CASE

Each case installs a copy of the program in a fresh folder (with the default
model beside it, as the build lays it out), writes its own settings file and
model, runs the saver and reads the screen back. Exit 0 pass, 1 fail, 77 skipped.
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "e2e"))
from xsession import SKIP, box_model, expect, expect_exit, install_saver, output, run_case, \
    settings_file, wait_until  # noqa: E402

TITLE = "Tessival"
SCREEN = (1280, 720)
PATIENCE = 60  # seconds to wait for a screen or a line; only a failing run waits them out


class Run:
    """One installation of the saver with its own settings, X server and folders."""

    def __init__(self, args, x, home):
        for path in (args.program, args.xshot):
            if not os.path.exists(path):
                print("skipped: not built: " + path)
                sys.exit(SKIP)
        self.args, self.x, self.home = args, x, home
        self.program, self.has_default_model = install_saver(args.program, home)
        self.env = x.environment(home)

    def write(self, name, text):
        path = os.path.join(self.home, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def settings(self, shade=0, colour=(255, 255, 255), model=None):
        settings_file(self.env, "[SS_SECTION]\nSPEED=5\nSHADE=%d\n[SETTING]\nColorR=%d\n"
                      "ColorG=%d\nColorB=%d\n" % ((shade,) + colour) +
                      ("FILENAME=%s\n" % model if model else ""))

    def start(self):
        proc = self.x.start([self.program, "/s"], self.env)
        self.x.wait_for_window(TITLE, proc)
        return proc

    def stats(self, proc):
        expect(proc.poll() is None, "the saver ended on its own: %s" % output(proc))
        self.last = self.x.stats(self.args.xshot)
        return self.last

    # The model drifts a step every frame, so where it is when the screen is read depends on
    # how fast the machine runs: checks wait for a screen that shows what they expect instead
    # of judging the first one they see.
    def wait_for_screen(self, proc, shows, what):
        """The first screen statistics for which shows(stats) holds."""
        return wait_until(lambda: "%s: %s" % (what, self.last),
                          lambda: shows(self.stats(proc)) and self.last, PATIENCE)

    def row_fill(self, proc):
        """The share of lit pixels between the first and last lit one of each row: near 1 for a
        solid convex model at any distance, far less for its outline; None while nothing shows."""
        expect(proc.poll() is None, "the saver ended on its own: %s" % output(proc))
        w, h, pixels = self.x.screenshot(self.args.xshot, os.path.join(self.home, "screen.ppm"))
        lit = span = 0
        for y in range(h):
            row = pixels[3 * w * y:3 * w * (y + 1)]
            on = [i for i in range(0, 3 * w, 3) if row[i] or row[i + 1] or row[i + 2]]
            if on:
                lit, span = lit + len(on), span + (on[-1] - on[0]) // 3 + 1
        return lit / span if lit >= 20 else None

    def stop(self, proc):
        self.x.key("a")
        expect_exit(proc, 0, "after a key", PATIENCE)


def centred(s, minimum):
    """At least minimum pixels lit, around the middle of the screen (the model starts there and,
    wherever it drifts in its box, comes back there whenever it is far away)."""
    cx, cy = float(s["cx"]), float(s["cy"])
    return (int(s["nonblack"]) >= minimum and abs(cx - SCREEN[0] / 2) < 0.15 * SCREEN[0] and
            abs(cy - SCREEN[1] / 2) < 0.15 * SCREEN[1])


def case_colour(r):
    r.settings(colour=(0, 200, 0), model=r.write("cube.x", box_model(1.0)))
    proc = r.start()
    s = r.wait_for_screen(proc, lambda s: centred(s, 50), "model near the centre")
    r.stop(proc)
    expect(int(s["nonblack"]) < int(s["total"]) * 0.2, "not a black background: %s" % s)
    g, red, b = float(s["mean_g"]), float(s["mean_r"]), float(s["mean_b"])
    expect(g > 40 and g > 3 * red and g > 3 * b, "green does not dominate: %s" % s)


def case_wireframe(r):
    cube = r.write("cube.x", box_model(1.0))
    fills = []
    for shade in (0, 1):
        r.settings(shade=shade, model=cube)
        proc = r.start()
        fills.append(wait_until("drawing", lambda: r.row_fill(proc), PATIENCE))
        r.stop(proc)
    expect(fills[0] > 0.9 and fills[1] < 0.4,
           "solid and wireframe fill %.2f and %.2f of their rows" % tuple(fills))


def case_animates(r):
    r.settings(colour=(255, 128, 0), model=r.write("cube.x", box_model(1.0)))
    proc = r.start()
    first = r.wait_for_screen(proc, lambda s: int(s["nonblack"]) > 0, "drawing")
    r.wait_for_screen(proc, lambda s: s["hash"] != first["hash"], "change on the screen")
    r.stop(proc)


def case_bad_model(r):
    models = {"missing": os.path.join(r.home, "absent.x"),
              "corrupt": r.write("corrupt.x", "xof 0302txt 0032\nMesh { 99999; 1.0;;; {{{\n"),
              "garbage": r.write("garbage.x", "\x00\x01not a model at all" * 50)}
    for what, path in models.items():
        r.settings(model=path)
        proc = r.start()
        # The line comes from building the scene; the frame loop runs from then on.
        wait_until(lambda: "line naming the %s model: %s" % (what, output(proc)),
                   lambda: os.path.basename(path) in output(proc) or proc.poll() is not None,
                   PATIENCE)
        s = r.stats(proc)
        expect(int(s["nonblack"]) == 0, "%s model: the screen is not black: %s" % (what, s))
        r.stop(proc)


def case_default_parasol(r):
    if not r.has_default_model:
        print("skipped: the default model was not built (XFile/ beside windows/)")
        sys.exit(SKIP)
    proc = r.start()  # no settings file: the defaults, parasol included
    r.wait_for_screen(proc, lambda s: centred(s, 200), "parasol near the centre")
    r.stop(proc)


def case_formats(r):
    """A sphere in each format shows lit like its .x twin: no model inside out, none refused."""
    if not r.args.sphere:
        print("skipped: no sphere writer (bench/tools/make_sphere) built")
        sys.exit(SKIP)
    lit = {}
    for form in ("bin", "obj", "stl-ascii", "stl-bin", "ply-bin-be", "gltf-bin", "glb"):
        path = os.path.join(r.home, "sphere-" + form)
        subprocess.run([r.args.sphere, "--tris", "2000", "--format", form, "--out", path],
                       check=True, capture_output=True)
        r.settings(model=path)
        proc = r.start()
        lit[form] = float(r.wait_for_screen(proc, lambda s: centred(s, 200), form)["mean_g"])
        r.stop(proc)
        expect("plumora:" not in output(proc), "%s refused: %s" % (form, output(proc)))
    expect(all(abs(v - lit["bin"]) < 0.2 * lit["bin"] for v in lit.values()),
           "mean brightness unlike the .x sphere's: %s" % lit)


if __name__ == "__main__":
    sys.exit(run_case(globals(), Run, {"--program": None, "--xshot": None, "--sphere": ""},
                      ("Xvfb", "xdotool"), "%dx%dx24" % SCREEN))
