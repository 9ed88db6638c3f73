"""The machine of the end-to-end suite: one Wine prefix on one Xvfb display,
reset between cases, the package servers, the installer started and clicked
like a user, and every effect read from outside the installer."""
import hashlib
import os
import re
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
HARNESS = os.path.join(os.path.dirname(HERE), "harness")

UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Brivex Client"
# Keeps the serial of the installed release when the uninstall key is gone.
RELEASE_SERIAL_KEY = r"HKLM\SOFTWARE\Fenmora"
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


# Xvfb can shut a connection down right after accepting it, when another
# client has just hung up: it tears the old client's descriptor down twice,
# and the new connection has reused its number. The new client then cannot
# open the display, and is started again.
X_REFUSED = (b"Can't open display", b"unable to open display", b"unable to open X server")


def x_client(cmd, env=None):
    """Runs a short X client; its completed process."""
    for _ in range(5):
        r = subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=30)
        if not any(m in r.stderr for m in X_REFUSED):
            break
    return r


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

    def windows_path(self, unix_path):
        """The path as a Windows program names it, through drive Z:."""
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def run(self, command_line):
        """Starts a command line through the probe, which reads the whole exit
        code."""
        return Run(self, command_line)

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
        """String and DWORD values of a key as {name: text or int}; None when
        the key is missing. Read through an export: the console output of
        reg.exe loses characters outside the console's code page."""
        out = os.path.join(self.state, "reg-export.reg")
        if os.path.exists(out):
            os.unlink(out)
        rc, _ = self.wine("reg", "export", key, out, "/y")
        if rc != 0 or not os.path.exists(out):
            return None
        text = open(out, "rb").read().decode("utf-16")
        values = {}
        unescape = lambda v: re.sub(r"\\(.)", r"\1", v)
        for m in re.finditer(r'^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"\r?$', text, re.M):
            values[unescape(m.group(1))] = unescape(m.group(2))
        for m in re.finditer(r'^"((?:[^"\\]|\\.)*)"=dword:([0-9a-fA-F]{8})\r?$', text, re.M):
            values[unescape(m.group(1))] = int(m.group(2), 16)
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
        return x_client(["xdotool"] + list(args), self.env).stdout.decode().strip()

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
        return x_client(["import", "-display", self.display, "-window", "root", "-crop",
                         "%dx%d+%d+%d" % (w, h, x, y), "-depth", "8", "rgb:-"]).stdout


class Run:
    """A program started through the probe: wine hands the shell only the
    low 8 bits of an exit code (1603 reads as 67)."""

    def __init__(self, session, command_line):
        self.command_line = command_line
        self._out = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(["wine", session.probe_exe, "run", command_line], env=session.env,
                                     stdin=subprocess.DEVNULL, stdout=self._out, stderr=subprocess.DEVNULL)

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout):
        try:
            self.proc.wait(timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def kill(self):
        """Ends the probe; its job ends the program with it."""
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def exit_code(self):
        """The program's exit code; None while it runs or when the probe was
        killed."""
        if self.running():
            return None
        self._out.seek(0)
        fields = dict(line.split("=", 1) for line in self._out.read().decode("utf-8", "replace").splitlines()
                      if "=" in line)
        check(fields.get("commandline") == self.command_line,
              "the probe ran %r, not %r" % (fields.get("commandline"), self.command_line))
        return int(fields["exitcode"]) if "exitcode" in fields else None


class WindowWatch:
    """Every window mapped on the X display while the watch runs. xev reports
    each map on the root, so a window shown for a moment counts as well as
    one that stays."""

    def __init__(self, session):
        self.display = session.display
        self._path = None
        for _ in range(5):
            if self._start():
                return
            text = self._read()
            self._end()
            if not any(m in text for m in X_REFUSED):
                break
        raise Failure("xev did not start watching %s (exit %s): %r" %
                      (self.display, self.proc.returncode, text[-500:]))

    def _start(self):
        """Starts xev; whether it watches."""
        # Read through a file description of its own: a shared one would
        # share the offset, and xev could write where a read had seeked to.
        fd, self._path = tempfile.mkstemp(prefix="e2e-xev-")
        with os.fdopen(fd, "wb") as out:
            self.proc = subprocess.Popen(["stdbuf", "-oL", "xev", "-display", self.display, "-root", "-event",
                                          "substructure", "-event", "property"],
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        # Watching once it reports a change of a root property of our own.
        mark = "E2E_WATCH_%d" % self.proc.pid

        def watching():
            if self.proc.poll() is not None:
                return None
            x_client(["xprop", "-display", self.display, "-root", "-f", mark, "8s", "-set", mark, "1"])
            return mark.encode() in self._read()
        return bool(poll(lambda: self.proc.poll() is not None or watching(), 10, 0.1)) and self.proc.poll() is None

    def _read(self):
        with open(self._path, "rb") as f:
            return f.read()

    def mapped(self):
        """X ids of the windows mapped so far, in order."""
        if self._path is None:
            return self._mapped
        return re.findall(r"MapNotify event,[^\n]*\n\s*event 0x[0-9a-f]+, window (0x[0-9a-f]+)",
                          self._read().decode("latin-1"))

    def _end(self):
        """Ends xev; whether it was still watching."""
        if self._path is None:
            return True
        alive = self.proc.poll() is None
        if alive:
            self.proc.terminate()
            self.proc.wait()
        self._mapped = self.mapped()
        os.unlink(self._path)
        self._path = None
        return alive

    def stop(self):
        """Stops watching; the windows mapped meanwhile. A watch that ended by
        itself may have missed some: that fails."""
        check(self._end(), "xev ended while it watched (exit %s)" % self.proc.returncode)
        return self._mapped

    def __enter__(self):
        return self

    def __exit__(self, kind, *exc):
        # A failure inside the watch is the one to report.
        if kind is None:
            self.stop()
        else:
            self._end()


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
