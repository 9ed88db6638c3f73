"""The machine of the end-to-end suite: one Wine prefix on one Xvfb display,
reset between cases, the package servers, the installer started and clicked
like a user, and every effect read from outside the installer."""
import hashlib
import os
import re
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
HARNESS = os.path.join(os.path.dirname(HERE), "harness")

UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Brivex Client"
SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
QUIT_EVENT = "SetupTestsQuitHelpers"
START_MENU = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def poll(predicate, timeout, interval=0.1):
    """The predicate's first true value within the time, else None."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= end:
            return None
        time.sleep(interval)


def quiet(*cmd, **kw):
    return subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          **kw).returncode


class Session:
    """The Wine prefix, its display and the programs that read it."""

    def __init__(self, state, probe, shots):
        self.state = os.path.abspath(state)
        self.prefix = os.path.join(self.state, "prefix")
        self.probe_exe = probe
        self.shots = shots
        with open(os.path.join(self.state, "display")) as f:
            self.display = f.read().strip()
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", DISPLAY=self.display,
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", LANG="C.UTF-8", LC_ALL="C.UTF-8")
        os.makedirs(shots, exist_ok=True)

    # -- paths ----------------------------------------------------------
    def unix(self, win_path):
        """Unix path of a path on C: or another mapped drive."""
        drive = win_path[0].lower()
        rest = win_path[3:].replace("\\", "/")
        base = os.path.realpath(os.path.join(self.prefix, "dosdevices", drive + ":"))
        return os.path.join(base, rest) if rest else base

    # -- Windows programs -----------------------------------------------
    def wine(self, *args, timeout=60):
        r = subprocess.run(["wine"] + list(args), env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, timeout=timeout)
        return r.returncode, r.stdout.decode("utf-8", "replace")

    def spawn(self, exe, *args, cwd=None):
        return subprocess.Popen(["wine", exe] + list(args), env=self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def probe(self, *args):
        return self.wine(self.probe_exe, *args)[1]

    def processes(self):
        out = []
        for line in self.probe("processes").splitlines():
            f = line.split("\t")
            if len(f) >= 4 and f[0] == "process":
                out.append((int(f[1]), f[2], f[3]))
        return out

    def windows(self):
        """Visible top-level windows: dicts with hwnd, pid, cls, rect, text and
        children (hwnd, id, visible, cls, rect, text)."""
        wins = []
        for line in self.probe("windows").splitlines():
            f = line.split("\t")
            if f[0] == "window" and len(f) >= 9:
                wins.append({"hwnd": int(f[1]), "pid": int(f[2]), "cls": f[3],
                             "rect": tuple(int(v) for v in f[4:8]), "text": f[8], "children": []})
            elif f[0] == "child" and len(f) >= 10 and wins:
                wins[-1]["children"].append({"hwnd": int(f[1]), "id": int(f[2]), "visible": f[3] == "1",
                                             "cls": f[4], "rect": tuple(int(v) for v in f[5:9]), "text": f[9]})
        return wins

    def link(self, win_path):
        rc, out = self.wine(self.probe_exe, "lnk", win_path)
        if rc != 0:
            return None
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)

    def reg_query(self, key):
        """String values of a key as {name: data}; None when the key is
        missing. Read through an export: the console output of reg.exe
        loses characters outside the console's code page."""
        out = os.path.join(self.state, "reg-export.reg")
        if os.path.exists(out):
            os.unlink(out)
        rc, _ = self.wine("reg", "export", key, out, "/y")
        if rc != 0 or not os.path.exists(out):
            return None
        text = open(out, "rb").read().decode("utf-16")
        values = {}
        for m in re.finditer(r'^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"\r?$', text, re.M):
            unescape = lambda v: re.sub(r"\\(.)", r"\1", v)
            values[unescape(m.group(1))] = unescape(m.group(2))
        return values

    def reg_dword(self, key, name):
        """A REG_DWORD value of a key, or None."""
        rc, out = self.wine("reg", "query", key, "/v", name)
        m = re.search(r"^\s*%s\s+REG_DWORD\s+0x([0-9a-fA-F]+)\s*$" % re.escape(name), out, re.M)
        return int(m.group(1), 16) if rc == 0 and m else None

    def reg(self, *args):
        return self.wine("reg", *args)[0]

    # -- screen -----------------------------------------------------------
    def xdotool(self, *args):
        r = subprocess.run(["xdotool"] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
        return r.stdout.decode().strip()

    def click(self, x, y):
        """A click at a point of the screen (Wine's screen is the X root). The
        pointer rests there first: a window that has just appeared may miss
        a press that arrives with the pointer's first move onto it."""
        self.xdotool("mousemove", str(x), str(y))
        time.sleep(0.2)
        self.xdotool("click", "1")

    def screenshot(self, name):
        path = os.path.join(self.shots, name + ".png")
        quiet("import", "-display", self.display, "-window", "root", path)
        return path

    def pixels(self, x, y, w, h):
        """The screen's RGB bytes of a rectangle."""
        r = subprocess.run(["import", "-display", self.display, "-window", "root", "-crop",
                            "%dx%d+%d+%d" % (w, h, x, y), "-depth", "8", "rgb:-"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
        return r.stdout


def tree_digest(root, skip=()):
    """{relative path: content hash or "dir"} below root, leaving out the
    relative paths in skip and everything below them."""
    out = {}
    if not os.path.isdir(root):
        return out
    for base, dirs, files in os.walk(root):
        rel_base = os.path.relpath(base, root)
        dirs[:] = sorted(d for d in dirs if os.path.normpath(os.path.join(rel_base, d)) not in skip)
        for d in dirs:
            out[os.path.normpath(os.path.join(rel_base, d))] = "dir"
        for name in sorted(files):
            rel = os.path.normpath(os.path.join(rel_base, name))
            if rel in skip:
                continue
            path = os.path.join(base, name)
            if os.path.islink(path):
                out[rel] = "link:" + os.readlink(path)
                continue
            h = hashlib.sha256()
            with open(path, "rb") as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    h.update(block)
            out[rel] = h.hexdigest()
    return out


def diff_digests(before, after):
    changes = []
    for key in sorted(set(before) | set(after)):
        if key not in after:
            changes.append("removed " + key)
        elif key not in before:
            changes.append("added " + key)
        elif before[key] != after[key]:
            changes.append("changed " + key)
    return changes
