"""Helpers for end-to-end tests of the built programs under a private X server.

Use from a test script (add scripts/e2e to sys.path):

    with XSession() as x:                      # Xvfb on a free display, 1280x720x24
        env = x.environment(home)              # DISPLAY, fresh XDG folders under home
        proc = x.start([program, "/s"], env)
        x.wait_for_window("Tessival")
        x.key("a")
        code = wait_exit(proc, 10)
        image = x.screenshot(probe, path)      # PPM via tools/xshot
        pane = ForeignWindow(x, probe, (0, 0, 320, 240))   # another program's window

A test script's main is run_case(globals(), Fixture, {"--program": None, ...}): its
case_* functions, one named on the command line, each given Fixture(args, x, home).

Command line: `python3 xsession.py [--screen 1280x720x24] -- COMMAND...` runs
COMMAND with DISPLAY set to a fresh server and returns its exit code.
"""

import argparse
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77  # CTest's SKIP_RETURN_CODE for the end-to-end tests
QUICK = 10  # seconds a program that should react at once may take, on a busy machine


class Failure(Exception):
    """A failed expectation; the test script reports it and exits 1."""


def expect(condition, message):
    if not condition:
        raise Failure(message)


def require_tools(*names):
    """Exit with SKIP when a needed program isn't installed."""
    missing = [n for n in names if shutil.which(n) is None]
    if missing:
        print("skipped: not installed: " + ", ".join(missing))
        sys.exit(SKIP)


def wait_exit(proc, timeout):
    """The process's exit code, or a Failure when it runs past timeout (it is killed)."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        raise Failure("%s still running after %ss" % (proc.args, timeout))


def expect_exit(proc, code, what, timeout=QUICK):
    """A Failure unless the process ends within timeout with this exit code."""
    got = wait_exit(proc, timeout)
    expect(got == code,
           "%s: exit code %s, expected %s; output: %s" % (what, got, code, output(proc)))


def still_running(proc, seconds):
    """True when the process is alive after waiting the given time."""
    try:
        proc.wait(timeout=seconds)
        return False
    except subprocess.TimeoutExpired:
        return True


def wait_until(what, check, timeout=20):
    """check()'s first true result within timeout, else a Failure naming what (a text, or a
    function giving it then, to tell what was seen instead)."""
    deadline = time.monotonic() + timeout
    while True:
        result = check()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure("no %s within %ss" % (what() if callable(what) else what, timeout))
        time.sleep(0.1)


def output(proc):
    """What a program started by XSession.start wrote so far, as text."""
    proc.log.seek(0)
    return proc.log.read().decode(errors="replace")


def install_saver(program, home):
    """The built saver copied to home/windows/Plumora.scr, with the build's model folder
    (XFile/ beside windows/) copied beside it when there is one, as the build lays it out:
    (its path, whether the default model came along)."""
    os.makedirs(os.path.join(home, "windows"), exist_ok=True)
    path = os.path.join(home, "windows", "Plumora.scr")
    shutil.copy2(program, path)
    models = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(program))), "XFile")
    if os.path.isdir(models):
        shutil.copytree(models, os.path.join(home, "XFile"))
    return path, os.path.isfile(os.path.join(models, "parasol.x"))


def stand_in(path):
    """A script at path standing in for one of the programs: each run adds its arguments as
    a line to path + ".ran"; that file's path."""
    with open(path, "w") as f:
        f.write('#!/bin/sh\necho "$*" >> "$0.ran"\n')
    os.chmod(path, 0o755)
    return path + ".ran"


def settings_file(env, text=None):
    """Path of the settings file of the programs run with env; replaced by text if given."""
    path = os.path.join(env["XDG_CONFIG_HOME"], "plumora", "Mirel.ini")
    if text is not None:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)
    return path


def box_model(h, x=0):
    """A text .x cube of edge 2h centred on (x, 0, 0), faces clockwise seen from outside."""
    corners = [(x + a, b, z) for z in (-h, h) for a, b in ((-h, -h), (-h, h), (h, h), (h, -h))]
    faces = [(0, 1, 2, 3), (7, 6, 5, 4), (0, 4, 5, 1), (1, 5, 6, 2), (2, 6, 7, 3), (3, 7, 4, 0)]
    return "xof 0302txt 0032\nMesh cube {\n %d;\n%s;\n %d;\n%s;\n}\n" % (
        len(corners), ",\n".join(" %f;%f;%f;" % c for c in corners),
        len(faces), ",\n".join(" 4;%d,%d,%d,%d;" % f for f in faces))


def read_ppm(path):
    """(width, height, bytes) of a binary PPM (P6, maxval 255)."""
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            while data[pos:pos + 1] not in (b"\n", b""):
                pos += 1
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise Failure("not a P6 image: " + path)
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:pos + 1 + width * height * 3]
    if len(pixels) != width * height * 3:
        raise Failure("short image: " + path)
    return width, height, pixels


def write_png(path, width, height, pixels):
    """Saves RGB bytes (as read_ppm gives them) as a PNG, for looking at by eye."""
    import struct
    import zlib

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    stride = width * 3
    raw = b"".join(b"\0" + pixels[y * stride:(y + 1) * stride] for y in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        f.write(chunk(b"IEND", b""))


def count_non_black(pixels):
    """How many pixels of an RGB byte string aren't pure black."""
    return sum(1 for i in range(0, len(pixels), 3) if pixels[i] or pixels[i + 1] or pixels[i + 2])


class XSession:
    """A private Xvfb on a display number the server picks itself (-displayfd)."""

    def __init__(self, screen="1280x720x24", timeout=60):
        self.screen = screen
        self.timeout = timeout
        self.display = None
        self.server = None
        self.children = []

    def __enter__(self):
        require_tools("Xvfb")
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen, "-nolisten",
             "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + self.timeout
        with os.fdopen(read_end, "rb", buffering=0) as pipe:
            # A server that never answers must not hold the read past the deadline.
            while not number.endswith(b"\n") and select.select(
                    [pipe], [], [], max(0, deadline - time.monotonic()))[0]:
                chunk = pipe.read(16)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.__exit__(None, None, None)
            raise Failure("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        for proc in self.children:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        if self.server and self.server.poll() is None:
            self.server.terminate()
            try:
                self.server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
        return False

    def kill_server(self):
        """Ends the X server under its clients, as when a session goes away. (SIGTERM:
        the clients lose their connection all the same, and the server still removes
        its lock file and socket.)"""
        self.server.terminate()
        try:
            self.server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.server.kill()
            self.server.wait()

    def environment(self, home):
        """A copy of the environment for this display with fresh XDG folders in home."""
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        for name in ("SDL_VIDEODRIVER", "WAYLAND_DISPLAY", "XAUTHORITY"):
            env.pop(name, None)
        for var, sub in (("XDG_CONFIG_HOME", "config"), ("XDG_RUNTIME_DIR", "run")):
            path = os.path.join(home, sub)
            os.makedirs(path, mode=0o700, exist_ok=True)
            env[var] = path
        return env

    def start(self, argv, env, **kwargs):
        """Starts a program on this display; it is killed at the end if still running.
        Its output goes to a file (a pipe nobody reads could stall it); see output()."""
        log = tempfile.TemporaryFile()
        proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=log,
                                stderr=subprocess.STDOUT, **kwargs)
        proc.log = log
        self.children.append(proc)
        return proc

    def run(self, argv, timeout=60, check=True):
        """Runs a tool against this display; its standard output as text."""
        env = dict(os.environ, DISPLAY=self.display)
        result = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=timeout)
        if check and result.returncode != 0:
            raise Failure("%s failed (%d): %s" % (argv, result.returncode, result.stderr.strip()))
        return result.stdout

    def find_windows(self, name):
        """Ids of the viewable windows whose title is exactly name."""
        out = self.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % name],
                       check=False)
        return [line for line in out.split() if line.strip()]

    def wait_for_window(self, name, proc=None, timeout=60):
        """Id of the first viewable window titled name; a Failure if none shows up."""
        def shown():
            if proc is not None and proc.poll() is not None:
                raise Failure("program ended with %s before its window showed: %s" %
                              (proc.returncode, output(proc)))
            return self.find_windows(name)
        return wait_until("window named %r" % name, shown, timeout)[0]

    def geometry(self, window):
        """(x, y, width, height) of a window, from xwininfo."""
        out = self.run(["xwininfo", "-id", window])
        values = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                int(values["Width"]), int(values["Height"]))

    def key(self, *names):
        self.run(["xdotool", "key", *names])

    def click(self, button):
        self.run(["xdotool", "click", str(button)])

    def mousemove(self, x, y):
        self.run(["xdotool", "mousemove", str(x), str(y)])

    def screenshot(self, probe, path):
        """Saves the screen as PPM through tools/xshot; (width, height, pixels)."""
        self.run([probe, "ppm", path])
        return read_ppm(path)

    def cursor_hidden(self, probe):
        return self.run([probe, "cursor"]).strip() == "hidden"

    def stats(self, probe, rect=(0, 0, 0, 0)):
        """tools/xshot's figures (nonblack, hash, ...) of a part of the screen (all of it)."""
        line = self.run([probe, "stats", *map(str, rect)])
        return {k: v for k, v in (p.split("=", 1) for p in line.split())}


class ForeignWindow:
    """A grey window of another program (tools/xshot window), such as a screensaver
    host's window or a preview pane; destroyed when its program ends."""

    def __init__(self, session, probe, rect):
        self.rect = tuple(rect)
        self.proc = subprocess.Popen([probe, "window", *map(str, rect)], text=True,
                                     env=dict(os.environ, DISPLAY=session.display),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        session.children.append(self.proc)
        self.id = self.proc.stdout.readline().strip()
        if not self.id.startswith("0x"):
            raise Failure("tools/xshot made no window")

    def resize(self, width, height):
        self.rect = self.rect[:2] + (width, height)
        self.proc.stdin.write("size %d %d\n" % (width, height))
        self.proc.stdin.flush()
        self.proc.stdout.readline()

    def destroy(self):
        self.proc.stdin.close()
        self.proc.wait(10)


def run_case(script, fixture, options, tools=("Xvfb", "xdotool", "xwininfo"),
             screen="1280x720x24", errors=()):
    """Runs the case named on the command line, script's case_<name>, on
    fixture(args, x, home) in a fresh folder and X server. Options without a default
    (None) are required. The exit code: 0 pass, 1 fail (a Failure or one of errors)."""
    cases = {name[5:]: fn for name, fn in script.items() if name.startswith("case_")}
    parser = argparse.ArgumentParser()
    for option, default in options.items():
        parser.add_argument(option, required=default is None, default=default)
    parser.add_argument("case", choices=sorted(cases))
    args = parser.parse_args()
    require_tools(*tools)
    try:
        with tempfile.TemporaryDirectory(prefix="plumora-e2e-") as home, XSession(screen) as x:
            try:
                cases[args.case](fixture(args, x, home))
            finally:  # what the programs still running said, for the report
                for child in x.children:
                    if child.poll() is None and hasattr(child, "log"):
                        print(output(child))
    except (Failure, *errors) as failure:
        print("FAIL %s: %s" % (args.case, failure))
        return 1
    print("PASS " + args.case)
    return 0


def main(argv):
    screen = "1280x720x24"
    if len(argv) >= 2 and argv[0] == "--screen":
        screen = argv[1]
        argv = argv[2:]
    if argv and argv[0] == "--":
        argv = argv[1:]
    if not argv:
        print(__doc__)
        return 2
    with XSession(screen) as x, tempfile.TemporaryDirectory() as home:
        return subprocess.call(argv, env=x.environment(home))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
