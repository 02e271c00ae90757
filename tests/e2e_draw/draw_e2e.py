#!/usr/bin/env python3
"""End-to-end drawing checks of the built saver under a private X server.

    draw_e2e.py --program build/windows/Plumora.scr --xshot build/tools/xshot CASE

Each case installs a copy of the program in a fresh folder (with the default
model beside it, as the build lays it out), writes its own settings file and
model, runs the saver and reads the screen back. Exit 0 pass, 1 fail, 77 skipped.
"""

import argparse
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "e2e"))
from xsession import SKIP, Failure, XSession, output, require_tools, wait_exit  # noqa: E402

TITLE = "Tessival"
SCREEN = (1280, 720)


def expect(condition, message):
    if not condition:
        raise Failure(message)


def box_model(size):
    """A text .x cube of the given edge, faces clockwise seen from outside."""
    h = size / 2.0
    corners = [(-h, -h, -h), (-h, h, -h), (h, h, -h), (h, -h, -h),
               (-h, -h, h), (-h, h, h), (h, h, h), (h, -h, h)]
    faces = [(0, 1, 2, 3), (7, 6, 5, 4), (0, 4, 5, 1), (1, 5, 6, 2), (2, 6, 7, 3), (3, 7, 4, 0)]
    lines = ["xof 0302txt 0032", "Mesh cube {", " %d;" % len(corners)]
    lines += [" %f;%f;%f;%s" % (x, y, z, "," if i + 1 < len(corners) else ";")
              for i, (x, y, z) in enumerate(corners)]
    lines.append(" %d;" % len(faces))
    lines += [" 4;%d,%d,%d,%d;%s" % (f + ("," if i + 1 < len(faces) else ";",))
              for i, f in enumerate(faces)]
    lines.append("}")
    return "\n".join(lines) + "\n"


class Run:
    """One installation of the saver with its own settings, X server and folders."""

    def __init__(self, args, x, home):
        self.args = args
        self.x = x
        self.home = home
        windows = os.path.join(home, "windows")
        os.makedirs(windows)
        self.program = os.path.join(windows, "Plumora.scr")
        shutil.copy2(args.program, self.program)
        models = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(args.program))),
                              "XFile")
        self.has_default_model = os.path.isfile(os.path.join(models, "parasol.x"))
        if self.has_default_model:
            shutil.copytree(models, os.path.join(home, "XFile"))
        self.env = x.environment(home)

    def write(self, name, text):
        path = os.path.join(self.home, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def settings(self, speed=5, shade=0, colour=(255, 255, 255), model=None):
        folder = os.path.join(self.env["XDG_CONFIG_HOME"], "plumora")
        os.makedirs(folder, exist_ok=True)
        lines = ["[SS_SECTION]", "SPEED=%d" % speed, "SHADE=%d" % shade, "[SETTING]",
                 "ColorR=%d" % colour[0], "ColorG=%d" % colour[1], "ColorB=%d" % colour[2]]
        if model:
            lines.append("FILENAME=" + model)
        with open(os.path.join(folder, "Mirel.ini"), "w") as f:
            f.write("\n".join(lines) + "\n")

    def start(self):
        proc = self.x.start([self.program, "/s"], self.env)
        self.x.wait_for_window(TITLE, proc)
        return proc

    def stats(self, region=None):
        argv = [self.args.xshot, "stats"] + [str(v) for v in (region or ())]
        values = {}
        for item in self.x.run(argv).split():
            key, _, value = item.partition("=")
            values[key] = value
        return values

    def wait_for_drawing(self, proc, minimum=50, wait=20):
        """Screen statistics once the model shows (or the last ones after wait)."""
        deadline = time.monotonic() + wait
        while True:
            s = self.stats()
            expect(proc.poll() is None, "the saver ended on its own: %s" % output(proc))
            if int(s["nonblack"]) >= minimum or time.monotonic() > deadline:
                return s
            time.sleep(0.2)

    def stop(self, proc):
        self.x.key("a")
        code = wait_exit(proc, 10)
        expect(code == 0, "exit code %d after a key: %s" % (code, output(proc)))


def near_centre(s, tolerance=0.15):
    cx, cy = float(s["cx"]), float(s["cy"])
    return (abs(cx - SCREEN[0] / 2) < tolerance * SCREEN[0] and
            abs(cy - SCREEN[1] / 2) < tolerance * SCREEN[1])


def case_colour(r):
    r.settings(speed=1, colour=(0, 200, 0), model=r.write("cube.x", box_model(2.0)))
    proc = r.start()
    s = r.wait_for_drawing(proc)
    r.stop(proc)
    lit, total = int(s["nonblack"]), int(s["total"])
    expect(lit >= 50, "the model does not show: %s" % s)
    expect(lit < total * 0.2, "not a black background: %s" % s)
    expect(near_centre(s), "the model is not near the centre: %s" % s)
    g, red, b = float(s["mean_g"]), float(s["mean_r"]), float(s["mean_b"])
    expect(g > 40 and g > 3 * red and g > 3 * b, "green does not dominate: %s" % s)


def case_wireframe(r):
    cube = r.write("cube.x", box_model(2.0))
    counts = {}
    for shade in (0, 1):
        r.settings(speed=1, shade=shade, colour=(255, 255, 255), model=cube)
        proc = r.start()
        s = r.wait_for_drawing(proc, minimum=20)
        r.stop(proc)
        counts[shade] = int(s["nonblack"])
    expect(counts[1] > 0, "the wireframe does not show")
    expect(counts[1] * 3 < counts[0],
           "the wireframe fills about as much as the solid: %s" % counts)


def case_animates(r):
    r.settings(speed=5, colour=(255, 128, 0), model=r.write("cube.x", box_model(2.0)))
    proc = r.start()
    first = r.wait_for_drawing(proc)
    time.sleep(1.0)
    second = r.stats()
    r.stop(proc)
    expect(int(first["nonblack"]) > 0, "nothing shows: %s" % first)
    expect(first["hash"] != second["hash"], "the screen did not change in a second")


def case_bad_model(r):
    models = {"missing": os.path.join(r.home, "absent.x"),
              "corrupt": r.write("corrupt.x", "xof 0302txt 0032\nMesh { 99999; 1.0;;; {{{\n"),
              "garbage": r.write("garbage.x", "\x00\x01not a model at all" * 50)}
    for what, path in models.items():
        r.settings(colour=(255, 255, 255), model=path)
        proc = r.start()
        time.sleep(1.5)
        s = r.stats()
        expect(proc.poll() is None, "%s model: the saver ended: %s" % (what, output(proc)))
        expect(int(s["nonblack"]) == 0, "%s model: the screen is not black: %s" % (what, s))
        r.stop(proc)
        expect(os.path.basename(path) in output(proc),
               "%s model: no line naming the file: %s" % (what, output(proc)))


def case_default_parasol(r):
    if not r.has_default_model:
        print("skipped: the default model was not built (XFile/ beside windows/)")
        sys.exit(SKIP)
    proc = r.start()  # no settings file: the defaults, parasol included
    s = r.wait_for_drawing(proc, minimum=200)
    w, h = SCREEN
    centre = r.stats((w // 4, h // 4, w // 2, h // 2))
    r.stop(proc)
    expect(int(centre["nonblack"]) >= 200, "no parasol near the centre: %s" % centre)
    expect(near_centre(s), "the parasol is not near the centre: %s" % s)


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--xshot", required=True)
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    require_tools("Xvfb", "xdotool")
    for path in (args.program, args.xshot):
        if not os.path.exists(path):
            print("skipped: not built: " + path)
            return SKIP
    try:
        screen = "%dx%dx24" % SCREEN
        with tempfile.TemporaryDirectory(prefix="plumora-draw-") as home, XSession(screen) as x:
            CASES[args.case](Run(args, x, home))
    except Failure as failure:
        print("FAIL %s: %s" % (args.case, failure))
        return 1
    print("PASS " + args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
