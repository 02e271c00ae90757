#!/usr/bin/env python3
"""The saver as screensaver hosts run it (windows of another program, the real
XScreenSaver daemon), and as it is installed (a staged install, the Debian package).

    host_e2e.py --program P --xshot X --build B --cmake C --cpack C CASE

Exit 0 pass, 1 fail, 77 skipped.
"""

import glob
import os
import pwd
import re
import signal
import subprocess
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "e2e"))
from xsession import QUICK, SKIP, ForeignWindow, expect, expect_exit, output, require_tools, \
    run_case, settings_file, wait_until as poll  # noqa: E402

SCREEN = (1024, 768)
E2E_USER = "plumora-e2e"  # the daemon runs nothing as root


class Case:
    def __init__(self, args, x, home):
        self.args, self.x, self.home = args, x, home
        self.env = x.environment(home)

    def start(self, *argv, env=None):
        return self.x.start([self.args.program, *argv], env or self.env)

    def lit(self, rect=(0, 0, 0, 0)):
        return int(self.x.stats(self.args.xshot, rect)["nonblack"])

    def drawn_in(self, rect):
        """The saver's picture in rect: black with a model on it where the host's grey was."""
        lit = self.lit(rect)
        return 0 < lit < rect[2] * rect[3] // 5

    def around(self, rect):
        """Hashes of the screen around rect."""
        x, y, w, h = rect
        bands = ((0, 0, SCREEN[0], y), (0, y + h, SCREEN[0], SCREEN[1] - y - h), (0, y, x, h),
                 (x + w, y, SCREEN[0] - x - w, h))
        return [self.x.stats(self.args.xshot, band)["hash"] for band in bands]

    def install(self):
        """The build installed under /usr in a staging folder; that folder's usr/."""
        stage = os.path.join(self.home, "stage")
        subprocess.run([self.args.cmake, "--install", self.args.build, "--prefix", "/usr"],
                       env=dict(os.environ, DESTDIR=stage), check=True, timeout=120,
                       stdout=subprocess.DEVNULL)
        return os.path.join(stage, "usr")


def case_window(c):
    a = ForeignWindow(c.x, c.args.xshot, (100, 80, 320, 240))
    b = ForeignWindow(c.x, c.args.xshot, (600, 400, 200, 150))
    c.x.run(["xdotool", "windowfocus", "--sync", b.id])
    c.x.mousemove(260, 200)
    cursor = c.x.cursor_hidden(c.args.xshot)
    before = c.around(a.rect)
    saver = c.start("--window-id", a.id)
    poll("viewport of the window's size", lambda: "width:320 height:240" in output(saver))
    poll("picture in the window", lambda: c.drawn_in(a.rect))
    expect(c.around(a.rect) == before, "the screen changed outside the window")
    expect(c.x.cursor_hidden(c.args.xshot) == cursor, "the cursor changed over the window")
    focus = c.x.run(["xdotool", "getwindowfocus"]).strip()
    expect(int(focus) == int(b.id, 16), "the keyboard focus moved to %s" % focus)

    # One saver per window: a second in the same one ends, one in another runs.
    second = c.start("--window-id", a.id)
    expect_exit(second, 1, "a second saver in the same window")
    other = c.start("--root", env=dict(c.env, XSCREENSAVER_WINDOW=str(int(b.id, 16))))
    poll("picture in the second window", lambda: c.drawn_in(b.rect))

    # Started again at the new size, in the same process the host knows.
    a.resize(480, 360)
    poll("viewport of the new size", lambda: "width:480 height:360" in output(saver))
    poll("picture over the larger window", lambda: c.drawn_in(a.rect))
    expect(saver.poll() is None, "the saver ended: %s" % output(saver))

    # The host stops a saver with SIGTERM, or takes its window away: normal ends,
    # nothing left behind.
    other.send_signal(signal.SIGTERM)
    expect_exit(other, 0, "SIGTERM")
    a.destroy()
    expect_exit(saver, 0, "the window went")
    left = os.listdir(c.env["XDG_RUNTIME_DIR"])
    expect(not left, "files left in the runtime folder: %s" % left)
    gone = c.start("--window-id", a.id)
    expect_exit(gone, 1, "a saver without its window")
    expect("host window" in output(gone), "no line about the window: %s" % output(gone))


def unprivileged_user():
    """(uid, gid) to run the daemon as when this test is root, else None (already not root)."""
    if os.getuid() != 0:
        return None
    # Made here, or earlier, or by a test running beside this one: useradd then fails.
    subprocess.run(["useradd", "--system", "--no-create-home", "--home-dir", "/nonexistent",
                    "--shell", "/usr/sbin/nologin", E2E_USER], stderr=subprocess.DEVNULL)
    try:
        entry = pwd.getpwnam(E2E_USER)
    except KeyError:
        print("skipped: running as root and cannot create the user %s for the daemon" % E2E_USER)
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
        subprocess.run(["chown", "-R", "-h", "%d:%d" % user, c.home], check=True)
        os.chmod(c.home, 0o755)

    def command(*args):
        return subprocess.run(["xscreensaver-command", *args], env=env, capture_output=True,
                              text=True, timeout=QUICK, **run_as).returncode == 0

    def savers():  # whether a process runs the installed saver
        return subprocess.run(["pgrep", "-f", "^%s( |$)" % re.escape(hack)],
                              stdout=subprocess.DEVNULL).returncode == 0

    daemon = c.x.start(["xscreensaver", "-no-splash"], env, **run_as)
    poll("answer from the daemon", lambda: command("-time") or daemon.poll() is not None)
    expect(daemon.poll() is None, "the daemon ended: %s" % output(daemon))
    expect(command("-activate"), "xscreensaver-command -activate failed")
    poll("saver started by the daemon", savers)
    poll("model on the screen", lambda: c.lit() > 0)
    expect(command("-deactivate"), "xscreensaver-command -deactivate failed")
    poll("end of every saver", lambda: not savers(), timeout=QUICK)


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
    c.x.key(*["Tab"] * 10, "space")  # to "Preview", and press it
    c.x.wait_for_window("Tessival", timeout=QUICK)
    poll("default model on the screen", lambda: c.lit() > 0)
    expect(not os.path.exists(settings_file(c.env)), "a settings file was written")
    c.x.key("a")
    poll("end of the preview", lambda: not c.x.find_windows("Tessival"), timeout=QUICK)
    c.x.run(["xdotool", "windowfocus", "--sync", dialog])
    c.x.key("Escape")
    expect_exit(settings, 0, "settings program")


def case_package(c):
    require_tools("lintian", "dpkg-deb", "desktop-file-validate")
    out = os.path.join(c.home, "package")
    subprocess.run([c.args.cpack, "-G", "DEB", "--config",
                    os.path.join(c.args.build, "CPackConfig.cmake"), "-B", out],
                   check=True, timeout=240, stdout=subprocess.DEVNULL)
    debs = glob.glob(os.path.join(out, "*.deb"))
    expect(len(debs) == 1, "packages made: %s" % debs)
    listing = subprocess.run(["dpkg-deb", "-c", debs[0]], capture_output=True, text=True).stdout
    for path in ("lib/plumora/windows/Plumora.scr", "lib/plumora/windows/Quenset.exe",
                 "lib/plumora/XFile/parasol.x", "bin/plumora", "bin/quenset",
                 "libexec/xscreensaver/plumora", "share/xscreensaver/config/plumora.xml",
                 "share/applications/quenset.desktop", "share/icons/hicolor/32x32/apps/quenset.png",
                 "share/man/man1/plumora.1.gz", "share/man/man1/quenset.1.gz",
                 "share/doc/plumora/copyright"):
        expect("./usr/%s" % path in listing, "not in the package: usr/" + path)
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


if __name__ == "__main__":
    sys.exit(run_case(globals(), Case, dict.fromkeys(("--program", "--xshot", "--build", "--cmake",
                                                      "--cpack")),
                      screen="%dx%dx24" % SCREEN, errors=(subprocess.SubprocessError,)))
