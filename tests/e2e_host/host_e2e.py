#!/usr/bin/env python3
"""The saver as screensaver hosts run it, and as it is installed.

    host_e2e.py --program P --xshot X --build B --cmake C --cpack C CASE

window, resize_and_loss: the saver in a window of another program (xshot window).
daemon: the real XScreenSaver daemon, run by an unprivileged user, runs the installed saver.
staged: an install into a staging folder; its settings program's preview starts
its saver, which shows the default model without a settings file.
package: the Debian package builds and lintian reports no errors.
Exit 0 pass, 1 fail, 77 skipped.
"""

import argparse
import glob
import os
import pwd
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "e2e"))
from xsession import SKIP, Failure, ForeignWindow, XSession, output, require_tools, \
    wait_exit, wait_until as poll  # noqa: E402

QUICK = 10
SCREEN = (1024, 768)
E2E_USER = "plumora-e2e"  # the daemon runs nothing as root


def expect(condition, message):
    if not condition:
        raise Failure(message)


class Case:
    def __init__(self, args, x, home):
        self.args, self.x, self.home = args, x, home
        self.env = x.environment(home)

    def start(self, *argv, env=None):
        return self.x.start([self.args.program, *argv], env or self.env)

    def stats(self, rect=(0, 0, 0, 0)):
        return self.x.stats(self.args.xshot, rect)

    def lit(self, rect=(0, 0, 0, 0)):
        return int(self.stats(rect)["nonblack"])

    def window(self, rect):
        return ForeignWindow(self.x, self.args.xshot, rect)

    def drawn_in(self, rect):
        """The saver's picture in rect: black with a model on it where the host's grey was."""
        lit = self.lit(rect)
        return 0 < lit < rect[2] * rect[3] // 5

    def around(self, rect):
        """Hashes of the screen around rect."""
        x, y, w, h = rect
        bands = ((0, 0, SCREEN[0], y), (0, y + h, SCREEN[0], SCREEN[1] - y - h), (0, y, x, h),
                 (x + w, y, SCREEN[0] - x - w, h))
        return [self.stats(band)["hash"] for band in bands]

    def install(self):
        """The build installed under /usr in a staging folder; that folder's usr/."""
        stage = os.path.join(self.home, "stage")
        subprocess.run([self.args.cmake, "--install", self.args.build, "--prefix", "/usr"],
                       env=dict(os.environ, DESTDIR=stage), check=True, timeout=120,
                       stdout=subprocess.DEVNULL)
        return os.path.join(stage, "usr")


def case_window(c):
    a = c.window((100, 80, 320, 240))
    b = c.window((600, 400, 200, 150))
    c.x.run(["xdotool", "windowfocus", "--sync", b.id])
    c.x.mousemove(260, 200)
    cursor = c.x.cursor_hidden(c.args.xshot)
    before = c.around(a.rect)
    saver = c.start("--window-id", a.id)
    poll("picture in the window", lambda: c.drawn_in(a.rect))
    expect(c.around(a.rect) == before, "the screen changed outside the window")
    expect(c.x.cursor_hidden(c.args.xshot) == cursor, "the cursor changed over the window")
    focus = c.x.run(["xdotool", "getwindowfocus"]).strip()
    expect(int(focus) == int(b.id, 16), "the keyboard focus moved to %s" % focus)

    # One saver per window: a second in the same one ends, one in another runs.
    second = c.start("--window-id", a.id)
    expect(wait_exit(second, QUICK) == 1, "a second saver ran in the same window")
    other = c.start("--root", env=dict(c.env, XSCREENSAVER_WINDOW=str(int(b.id, 16))))
    poll("picture in the second window", lambda: c.drawn_in(b.rect))
    expect(saver.poll() is None, "the first saver ended: %s" % output(saver))

    # The host stops its savers with SIGTERM: a normal end, nothing left behind.
    for proc in (saver, other):
        proc.send_signal(signal.SIGTERM)
        expect(wait_exit(proc, QUICK) == 0, "exit code after SIGTERM: %s" % output(proc))
    left = os.listdir(c.env["XDG_RUNTIME_DIR"])
    expect(not left, "files left in the runtime folder: %s" % left)


def case_resize_and_loss(c):
    pane = c.window((50, 50, 200, 150))
    saver = c.start("--window-id", pane.id)
    poll("viewport of the pane's size", lambda: "width:200 height:150" in output(saver))
    pane.resize(480, 360)
    # Started again at the new size, in the same process the host knows.
    poll("viewport of the new size", lambda: "width:480 height:360" in output(saver))
    poll("picture over the larger pane", lambda: c.drawn_in(pane.rect))
    expect(saver.poll() is None, "the saver ended: %s" % output(saver))
    pane.destroy()
    expect(wait_exit(saver, QUICK) == 0, "exit code when the window went: %s" % output(saver))

    gone = c.start("--window-id", pane.id)
    expect(wait_exit(gone, QUICK) == 1, "a saver ran without its window")
    expect("host window" in output(gone), "no line about the window: %s" % output(gone))


def unprivileged_user():
    """(uid, gid) to run the daemon as when this test is root, else None (already not root)."""
    if os.getuid() != 0:
        return None
    try:
        entry = pwd.getpwnam(E2E_USER)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--home-dir", "/nonexistent",
                        "--shell", "/usr/sbin/nologin", E2E_USER], stderr=subprocess.DEVNULL)
        try:
            entry = pwd.getpwnam(E2E_USER)  # made here, or by a test running beside this one
        except KeyError:
            print("SKIPPED: running as root and cannot create the user %s for the daemon" %
                  E2E_USER)
            sys.exit(SKIP)
    return entry.pw_uid, entry.pw_gid


def case_daemon(c):
    require_tools("xscreensaver", "xscreensaver-command")
    user = unprivileged_user()
    usr = c.install()
    hack = os.path.join(usr, "libexec", "xscreensaver", "plumora")
    with open(os.path.join(c.home, ".xscreensaver"), "w") as f:
        f.write("mode: one\nselected: 0\nlock: False\nfade: False\nunfade: False\n"
                "splash: False\nprograms: %s --root\n" % hack)
    env = dict(c.env, HOME=c.home)
    run_as = {}
    if user:
        run_as = {"user": user[0], "group": user[1], "extra_groups": []}
        for folder, _, files in os.walk(c.home):
            for name in [folder] + [os.path.join(folder, f) for f in files]:
                os.lchown(name, *user)
        os.chmod(c.home, 0o755)

    def command(*args):
        return subprocess.run(["xscreensaver-command", *args], env=env, capture_output=True,
                              text=True, timeout=QUICK, **run_as).returncode == 0

    def savers():
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if f.read().split(b"\0")[0] == hack.encode():
                        found.append(pid)
            except OSError:
                pass
        return found

    daemon = c.x.start(["xscreensaver", "-no-splash"], env, **run_as)
    poll("answer from the daemon", lambda: command("-time") or daemon.poll() is not None)
    expect(daemon.poll() is None, "the daemon ended: %s" % output(daemon))
    expect(command("-activate"), "xscreensaver-command -activate failed")
    poll("saver started by the daemon", savers)
    poll("model on the screen", lambda: c.lit() > 0)
    expect(command("-deactivate"), "xscreensaver-command -deactivate failed")
    poll("end of every saver", lambda: not savers(), timeout=QUICK)
    daemon.terminate()
    wait_exit(daemon, QUICK)


def case_staged(c):
    usr = c.install()
    programs = os.path.join(usr, "lib", "plumora", "windows")
    for link, target in (("bin/plumora", "Plumora.scr"), ("bin/quenset", "Quenset.exe"),
                         ("libexec/xscreensaver/plumora", "Plumora.scr")):
        expect(os.path.realpath(os.path.join(usr, link)) == os.path.join(programs, target),
               "%s does not lead to %s" % (link, target))
    # The installed settings program's preview starts the installed saver, which
    # finds the default model with no settings file at all.
    settings = c.x.start([os.path.join(usr, "bin", "quenset")],
                         dict(c.env, QT_QPA_PLATFORM="xcb"))
    dialog = c.x.wait_for_window("Plumora", settings)
    c.x.run(["xdotool", "windowfocus", "--sync", dialog])
    time.sleep(0.3)  # let the toolkit take the focus in before keys arrive
    for key in ["Tab"] * 10 + ["space"]:  # to "Preview", and press it
        c.x.key(key)
    c.x.wait_for_window("Tessival", timeout=QUICK)
    poll("default model on the screen", lambda: c.lit() > 0)
    settings_file = os.path.join(c.env["XDG_CONFIG_HOME"], "plumora", "Mirel.ini")
    expect(not os.path.exists(settings_file), "a settings file was written")
    c.x.key("a")
    poll("end of the preview", lambda: not c.x.find_windows("Tessival"), timeout=QUICK)
    c.x.run(["xdotool", "windowfocus", "--sync", dialog])
    c.x.key("Escape")
    expect(wait_exit(settings, QUICK) == 0, "settings program exit code")


def case_package(c):
    require_tools("lintian", "dpkg-deb", "desktop-file-validate")
    out = os.path.join(c.home, "package")
    subprocess.run([c.args.cpack, "-G", "DEB", "--config",
                    os.path.join(c.args.build, "CPackConfig.cmake"), "-B", out],
                   check=True, timeout=240, stdout=subprocess.DEVNULL)
    debs = glob.glob(os.path.join(out, "*.deb"))
    expect(len(debs) == 1, "packages made: %s" % debs)
    listing = subprocess.run(["dpkg-deb", "-c", debs[0]], capture_output=True, text=True).stdout
    for path in ("usr/lib/plumora/windows/Plumora.scr", "usr/lib/plumora/windows/Quenset.exe",
                 "usr/lib/plumora/XFile/parasol.x", "usr/bin/plumora", "usr/bin/quenset",
                 "usr/libexec/xscreensaver/plumora", "usr/share/xscreensaver/config/plumora.xml",
                 "usr/share/applications/quenset.desktop",
                 "usr/share/icons/hicolor/32x32/apps/quenset.png",
                 "usr/share/man/man1/plumora.1.gz", "usr/share/man/man1/quenset.1.gz",
                 "usr/share/doc/plumora/copyright"):
        expect("./%s" % path in listing, "not in the package: " + path)
    lint = subprocess.run(["lintian", "--fail-on", "error", debs[0]], capture_output=True,
                          text=True, timeout=240)
    print(lint.stdout + lint.stderr)
    expect(lint.returncode == 0, "lintian reports errors")

    root = os.path.join(out, "root")
    subprocess.run(["dpkg-deb", "-x", debs[0], root], check=True)
    entry = subprocess.run(["desktop-file-validate", os.path.join(
        root, "usr/share/applications/quenset.desktop")], capture_output=True, text=True)
    expect(entry.returncode == 0 and not entry.stdout.strip(), "desktop entry: " + entry.stdout)
    hack = ET.parse(os.path.join(root, "usr/share/xscreensaver/config/plumora.xml")).getroot()
    expect((hack.tag, hack.get("name"), hack.get("_label"), hack.find("command").get("arg")) ==
           ("screensaver", "plumora", "Plumora", "--root"), "XScreenSaver description")
    expect("Quenset" in hack.find("_description").text, "the description names no Quenset")


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    for option in ("--program", "--xshot", "--build", "--cmake", "--cpack"):
        parser.add_argument(option, required=True)
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    require_tools("Xvfb", "xdotool", "xwininfo")
    try:
        with tempfile.TemporaryDirectory(prefix="plumora-host-") as home, \
                XSession("%dx%dx24" % SCREEN) as x:
            CASES[args.case](Case(args, x, home))
    except (Failure, subprocess.SubprocessError) as failure:
        print("FAIL %s: %s" % (args.case, failure))
        return 1
    print("PASS " + args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
