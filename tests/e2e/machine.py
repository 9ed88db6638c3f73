"""One case's machine: the reset between cases, the canaries, the servers,
the installer as a user drives it, and readers of its effects."""
import datetime
import os
import re
import shutil
import subprocess
import time

from harness import (HARNESS, HERE, INTERNET_SETTINGS, QUIT_EVENT, RELEASE_SERIAL_KEY, START_MENU, SHELL_FOLDERS,
                     UNINSTALL_KEY, Failure, check, poll, quiet, tree_digest)

PACKAGE_SERVER = os.path.join(os.path.dirname(HERE), "engine", "package-server.sh")

# Client coordinates of the setup window's areas.
INSTALL_POINT = (250, 190)
CLOSE_POINT = (515, 12)
BROWSE_POINT = (466, 284)
STATUS_RECT = (34, 324, 494, 342)

SETUP_FOLDER = r"C:\Brivex Client"
TEMP_FOLDER = r"C:\temp"
LOG_FILE = r"C:\temp\log.txt"

LOG_HEADER = re.compile(r"^\[(Normal|Error)\]\[(\S+) (.+?):([ \d]{3}) ([0-9a-f]{4,}):([0-9a-f]{4,})\]")


class Servers:
    """nginx or the scripted package server, one at a time, on the port the
    installer was built for, both serving one folder."""

    def __init__(self, state, port):
        self.state = state
        self.port = port
        self.www = os.path.join(state, "www")
        self.kind = None
        os.makedirs(self.www, exist_ok=True)

    def _stop(self):
        quiet(os.path.join(HARNESS, "http-server.sh"), "stop", os.path.join(self.state, "nginx"))
        quiet(PACKAGE_SERVER, "stop", os.path.join(self.state, "scripted"))
        self.kind = None

    def use(self, kind):
        """Serves with "nginx" or "scripted"; clears faults and request logs."""
        shutil.rmtree(os.path.join(self.www, ".faults"), ignore_errors=True)
        os.makedirs(os.path.join(self.www, ".faults"))
        for log in (os.path.join(self.www, ".requests"), os.path.join(self.www, ".ranges"),
                    os.path.join(self.state, "nginx", "access.log")):
            if os.path.exists(log):
                open(log, "w").close()
        if self.kind == kind:
            return
        self._stop()
        if kind == "nginx":
            rc = quiet(os.path.join(HARNESS, "http-server.sh"), "start", os.path.join(self.state, "nginx"), self.www,
                       str(self.port))
        else:
            rc = quiet(PACKAGE_SERVER, "start", os.path.join(self.state, "scripted"), self.www, str(self.port))
        check(rc == 0, "the %s package server did not start on 127.0.0.1:%d" % (kind, self.port))
        self.kind = kind

    def stop(self):
        self._stop()

    def fault(self, name, line):
        with open(os.path.join(self.www, ".faults", name), "w") as f:
            f.write(line + "\n")

    def requests(self):
        """Requested file names, in order."""
        if self.kind == "nginx":
            path = os.path.join(self.state, "nginx", "access.log")
            lines = open(path).read().splitlines() if os.path.exists(path) else []
            out = []
            for line in lines:
                m = re.search(r'"GET (/EX3/\S*) HTTP', line)
                if m:
                    out.append(m.group(1).rsplit("/", 1)[-1])
            return out
        path = os.path.join(self.www, ".requests")
        lines = open(path).read().splitlines() if os.path.exists(path) else []
        return [p.rsplit("/", 1)[-1] for p in lines if p.startswith("/EX3/")]


class LogLine:
    def __init__(self, level, when, msg):
        self.level = level
        self.when = when
        self.msg = msg

    def __repr__(self):
        return "[%s] %s" % (self.level, self.msg)


def parse_time(date, clock, millis):
    for fmt in ("%m/%d/%Y %I:%M:%S %p", "%Y/%m/%d %H:%M:%S", "%m/%d/%Y %H:%M:%S", "%d/%m/%Y %H:%M:%S"):
        try:
            return datetime.datetime.strptime(date + " " + clock, fmt) + datetime.timedelta(milliseconds=int(millis))
        except ValueError:
            continue
    return None


def read_log(path):
    """Log records: a record starts at a header and runs to the next one
    (a message may hold line ends of its own)."""
    if not os.path.exists(path):
        return []
    raw = open(path, "rb").read()
    check(not raw.startswith(b"\xff\xfe"), "the log file starts with a byte-order mark")
    check(len(raw) % 2 == 0, "the log file has an odd byte count")
    text = raw.decode("utf-16-le")
    records = []
    for line in text.split("\r\n"):
        m = LOG_HEADER.match(line)
        if m:
            records.append(LogLine(m.group(1), parse_time(m.group(2), m.group(3), m.group(4)), line[m.end():]))
        elif records:
            records[-1].msg += "\r\n" + line
    if records and records[-1].msg.endswith("\r\n"):
        records[-1].msg = records[-1].msg[:-2]
    return records


def expect_in_order(records, expected):
    """Each (level, pattern) must match a later record than the one before;
    returns the matched records."""
    found = []
    i = 0
    for level, pattern in expected:
        rx = re.compile(pattern)
        while i < len(records) and not (records[i].level == level and rx.search(records[i].msg)):
            i += 1
        if i == len(records):
            listing = "\n".join("  %r" % r for r in records)
            raise Failure("log line [%s] /%s/ missing or out of order; the log:\n%s" % (level, pattern, listing))
        found.append(records[i])
        i += 1
    return found


class Installer:
    """The real exe, started like a user starts it and clicked on its window."""

    def __init__(self, machine, exe):
        self.m = machine
        # Through the probe, for the whole exit code.
        self.run = machine.s.run(setup_command_line(machine.s, exe))
        self.proc = self.run.proc
        self.wid = poll(self._find_window, 30, 0.2)
        if not self.wid:
            self.kill()
            raise Failure("the setup window did not appear")
        geo = machine.s.xdotool("getwindowgeometry", "--shell", self.wid)
        vals = dict(line.split("=", 1) for line in geo.splitlines() if "=" in line)
        self.x, self.y = int(vals["X"]), int(vals["Y"])
        # Ready as a user sees it: the dialog is set up and its page drawn.
        check(poll(lambda: self.setup_window() and self._painted(), 20, 0.2), "the ready page was never drawn")

    def _find_window(self):
        """The X window of 530x360 that Wine made for the setup window."""
        if self.proc.poll() is not None:
            raise Failure("the installer ended before its window appeared (exit %s)" % self.run.exit_code())
        for wid in self.m.s.xdotool("search", "--onlyvisible", "--class", "FenmoraSetup").split():
            geo = self.m.s.xdotool("getwindowgeometry", "--shell", wid)
            if "WIDTH=530" in geo and "HEIGHT=360" in geo:
                return wid
        return None

    def _painted(self):
        data = self.m.s.pixels(self.x + 100, self.y + 100, 40, 40)
        return len(data) == 40 * 40 * 3 and any(data)

    def click(self, point):
        self.m.s.xdotool("mousemove", "--window", self.wid, str(point[0]), str(point[1]), "click", "1")

    def running(self):
        return self.run.running()

    def wait_end(self, timeout):
        return self.run.wait(timeout)

    def kill(self):
        self.run.kill()

    def exit_code(self):
        """The installer's whole exit code once it has ended."""
        return self.run.exit_code()

    def setup_window(self):
        """The probe's record of the setup window (the one with both labels)."""
        return next((w for w in self.m.s.windows() if is_setup_window(w)), None)

    def status(self):
        """(visible, text) of the status label."""
        w = self.setup_window()
        if not w:
            return None
        for c in w["children"]:
            if c["id"] == 1001:
                return c["visible"], c["text"]
        return None

    def percent(self):
        w = self.setup_window()
        for c in (w["children"] if w else []):
            if c["id"] == 1000:
                return c["visible"], c["text"]
        return None

    def download_line(self):
        """(visible, text) of the package download line."""
        w = self.setup_window()
        for c in (w["children"] if w else []):
            if c["id"] == 1002:
                return c["visible"], c["text"]
        return None

    def red_pixels(self):
        """Red text pixels inside the status label's rectangle on screen."""
        l, t, r, b = STATUS_RECT
        data = self.m.s.pixels(self.x + l, self.y + t, r - l, b - t)
        return sum(1 for i in range(0, len(data) - 2, 3)
                   if data[i] > 180 and data[i + 1] < 90 and data[i + 2] < 90)

    def choose_folder(self, path, before_ok=None):
        """Picks a folder in the system folder browser with the mouse and the
        keyboard, as a user does: "My Computer", the drive, then each folder
        by the start of its name. before_ok runs while the browser is still
        open, with the chosen folder selected."""
        self.click(BROWSE_POINT)
        box = poll(lambda: next((d for d in self.dialogs()
                                 if any(c["cls"] == "SysTreeView32" for c in d["children"])), None), 10, 0.2)
        check(box, "no folder browser")
        check(any(c["text"] == "选择安装路径" for c in box["children"]), "the browser's title is not 选择安装路径")
        tree = next(c for c in box["children"] if c["cls"] == "SysTreeView32")
        for wid in self.m.s.xdotool("search", "--onlyvisible", "--class", "FenmoraSetup").split():
            if wid != self.wid:
                self.m.s.xdotool("windowfocus", "--sync", wid)
        # Focused by a click below its items: a click on the selected item
        # would start renaming it in the browser's new style.
        l, t, r, b = tree["rect"]
        self.m.s.click(l + 60, b - 10)
        time.sleep(0.3)
        # The tree's type-ahead takes letters and digits only, and drive
        # items start with "(": the drive is reached with the arrow keys,
        # below "My Computer" in letter order.
        self.m.s.xdotool("type", "--delay", "80", "My")
        time.sleep(0.3)
        self.m.s.xdotool("key", "Right")  # expand
        time.sleep(0.5)
        self.m.s.xdotool("key", "Right")  # the first drive
        time.sleep(0.3)
        drives = sorted(d[0] for d in os.listdir(os.path.join(self.m.s.prefix, "dosdevices"))
                        if re.match(r"^[a-z]:$", d))
        for _ in range(drives.index(path[0].lower())):
            self.m.s.xdotool("key", "Down")
            time.sleep(0.1)
        for part in [p for p in path[3:].split("\\") if p]:
            self.m.s.xdotool("key", "Right")  # expand
            time.sleep(0.5)
            self.m.s.xdotool("key", "Right")  # first child
            time.sleep(1.1)  # the type-ahead starts afresh
            self.m.s.xdotool("type", "--delay", "80", part[:4])
            time.sleep(0.3)
        self.m.s.screenshot("browse-" + path[0])
        if before_ok:
            before_ok()
            # It may have taken the focus.
            for wid in self.m.s.xdotool("search", "--onlyvisible", "--class", "FenmoraSetup").split():
                if wid != self.wid:
                    self.m.s.xdotool("windowfocus", "--sync", wid)
            time.sleep(0.3)
        self.press(box, 1)
        check(poll(lambda: not self.dialogs(), 10, 0.2), "the folder browser stayed open")

    def dialogs(self):
        """Top-level dialog boxes other than the setup window."""
        return [w for w in self.m.s.windows() if w["cls"] == "#32770" and not is_setup_window(w)]

    def wait_dialog(self, caption, timeout):
        return poll(lambda: next((d for d in self.dialogs() if d["text"] == caption), None), timeout, 0.2)

    def press(self, dialog, button_id):
        """Clicks a dialog's button where it is on screen."""
        for c in dialog["children"]:
            if c["id"] == button_id:
                l, t, r, b = c["rect"]
                self.m.s.click((l + r) // 2, (t + b) // 2)
                return
        raise Failure("dialog %r has no button %d" % (dialog["text"], button_id))


def setup_command_line(session, exe, args=""):
    return ('"%s" %s' % (session.windows_path(exe), args)).rstrip()


def is_setup_window(w):
    """The setup window is the dialog whose controls 1000 and 1001 are its
    two labels (the proxy prompt's are edit fields)."""
    labels = {c["id"] for c in w["children"] if c["cls"].lower() == "static"}
    return w["cls"] == "#32770" and {1000, 1001} <= labels


def dialog_message(dialog):
    """The message text of a message box (its static of id 0xFFFF)."""
    texts = [c["text"] for c in dialog["children"] if c["cls"].lower() == "static" and c["text"]]
    return " ".join(texts)


class Machine:
    """The machine between cases: a reset to a known state, canaries beside
    the install root, and readers of what an install leaves."""

    def __init__(self, session, servers, exe, work):
        self.s = session
        self.servers = servers
        self.exe = exe
        self.default_exe = exe
        self.work = work
        self.installers = []
        self.setup_folder = SETUP_FOLDER
        self.temp_folder = TEMP_FOLDER
        self.desktop = None
        self.browsed = False
        # Folders a case lets the installer make; the case checks what they
        # hold.
        self.made_folders = []
        self.client_kind = "stand-in"
        # Test drives of the suite's own, emptied by every reset and watched
        # like C:.
        self.extra_roots = ["R:\\"]
        if os.path.ismount(os.path.join(work, "small-disk")):
            self.extra_roots.append("S:\\")

    # -- reset ------------------------------------------------------------
    def prepare_session(self):
        """Once per prefix: real folders for the desktop and friends (Wine
        links them to the Unix home, which an install must not touch), the
        canaries, and no window manager waits."""
        users = os.path.join(self.s.prefix, "drive_c", "users")
        for user in os.listdir(users):
            for name in ("Desktop", "Documents", "Downloads", "Music", "Pictures", "Videos"):
                p = os.path.join(users, user, name)
                if os.path.islink(p):
                    os.unlink(p)
                    os.makedirs(p)
        key = r"HKCU\Software\Wine\AppDefaults\FenmoraSetup.exe\X11 Driver"
        self.s.reg("add", key, "/v", "Managed", "/d", "N", "/f")
        self.s.reg("add", key, "/v", "Decorated", "/d", "N", "/f")
        desktop = (self.s.reg_query(SHELL_FOLDERS) or {}).get("Desktop")
        check(desktop, "no Desktop value under the Shell Folders key")
        self.desktop = desktop
        self._plant_canaries()

    def _plant_canaries(self):
        c = self.s.unix
        files = {
            r"C:\Canary\a.txt": b"canary a\r\n",
            r"C:\Canary\sub\b.bin": bytes(range(256)) * 16,
            r"C:\Brivex Client Backup\keep.txt": b"user's backup\r\n",
            r"C:\temp2\notes.txt": b"not the installer's temp folder\r\n",
            self.desktop + r"\Notes.txt": b"a user's note on the desktop\r\n",
        }
        for win, data in files.items():
            path = c(win)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)

    def end_programs(self):
        """Ends every installer this suite started and every stand-in client."""
        for inst in self.installers:
            inst.kill()
        self.installers = []
        self.s.probe("set-event", QUIT_EVENT)
        if self.client_window():
            self.s.wine("taskkill", "/im", "iKVLRemote.exe")
        gone = poll(lambda: not any(p[1].lower() in ("ikvlremote.exe", "fenmorasetup.exe")
                                    for p in self.s.processes()), 10, 0.2)
        if not gone:
            self.s.wine("taskkill", "/f", "/im", "iKVLRemote.exe")
            self.s.wine("taskkill", "/f", "/im", "FenmoraSetup.exe")

    def reset(self, fonts="present"):
        self.end_programs()
        # A staging or moved-aside folder that a case killed mid-run left
        # beside the install folder; the next install would remove it.
        base = os.path.dirname(self.s.unix(SETUP_FOLDER))
        siblings = [SETUP_FOLDER.rsplit("\\", 1)[0] + "\\" + n for n in os.listdir(base)
                    if re.fullmatch(re.escape(os.path.basename(self.s.unix(SETUP_FOLDER))) + r"\.[0-9a-f]{8}", n)]
        for win in [SETUP_FOLDER, TEMP_FOLDER, START_MENU + r"\Fenmora", self.desktop + r"\Fenmora.lnk"] + siblings:
            p = self.s.unix(win)
            if os.path.isdir(p) and not os.path.islink(p):
                shutil.rmtree(p)
            elif os.path.lexists(p):
                os.unlink(p)
        for root in self.extra_roots:
            base = self.s.unix(root)
            for name in os.listdir(base):
                p = os.path.join(base, name)
                shutil.rmtree(p) if os.path.isdir(p) and not os.path.islink(p) else os.unlink(p)
        self.s.reg("delete", UNINSTALL_KEY, "/f")
        self.s.reg("delete", RELEASE_SERIAL_KEY, "/f")
        self.s.reg("add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "0", "/f")
        quiet(os.path.join(HARNESS, "wine-session.sh"), "fonts", self.s.state, fonts)
        self.setup_folder = SETUP_FOLDER
        self.temp_folder = TEMP_FOLDER
        self.browsed = False
        self.made_folders = []
        self.exe = self.default_exe

    # -- canaries ---------------------------------------------------------
    def snapshot(self):
        """Everything on C: but Wine's own churn, and every extra test drive,
        without the places an install may change."""
        # C:\temp is made at start-up, before any folder choice.
        allowed = {TEMP_FOLDER.lower(), self.setup_folder.lower(), self.temp_folder.lower(),
                   (START_MENU + r"\Fenmora").lower(), (self.desktop + r"\Fenmora.lnk").lower()}
        allowed |= {f.lower() for f in self.made_folders}
        snap = {}
        roots = ["C:\\"] + self.extra_roots
        for root in roots:
            base = self.s.unix(root)
            skip = set()
            for a in allowed:
                if a.startswith(root.lower()):
                    skip.add(os.path.normpath(self._case_path(base, a[len(root):].replace("\\", "/"))))
            if root == "C:\\":
                skip |= {"windows", os.path.join("users", self._user(), "AppData"),
                         os.path.join("users", self._user(), "Temp")}
            for rel, digest in tree_digest(base, skip).items():
                snap[root + rel] = digest
        windows = os.path.join(self.s.prefix, "drive_c", "windows")
        snap["C:\\windows (top level)"] = ",".join(sorted(os.listdir(windows)))
        return snap

    def _user(self):
        return self.desktop.split("\\")[2]

    @staticmethod
    def _case_path(base, rel):
        """The relative path with the letter case the folder has on disk."""
        parts = [p for p in rel.split("/") if p]
        cur = base
        out = []
        for p in parts:
            names = os.listdir(cur) if os.path.isdir(cur) else []
            match = next((n for n in names if n.lower() == p.lower()), p)
            out.append(match)
            cur = os.path.join(cur, match)
        return os.path.join(*out) if out else "."

    # -- the installer --------------------------------------------------
    def start(self):
        inst = Installer(self, self.exe)
        self.installers.append(inst)
        return inst

    def choose_root(self, inst, folder, before_ok=None):
        """Chooses the install root in the folder browser."""
        inst.choose_folder(folder, before_ok)
        self.settle_root(folder)

    def settle_root(self, folder):
        """The install and temp folders follow a chosen root."""
        root = folder.rstrip("\\") + "\\"
        self.setup_folder = root + "Brivex Client"
        self.temp_folder = root + "temp"
        self.browsed = True

    def log(self):
        return read_log(self.s.unix(self.temp_folder + r"\log.txt"))

    def wait_log(self, pattern, timeout, level=None):
        rx = re.compile(pattern)
        return poll(lambda: next((r for r in self.log() if rx.search(r.msg) and (not level or r.level == level)),
                                 None), timeout, 0.2)

    def installed(self, rel):
        return self.s.unix(self.setup_folder + "\\" + rel.replace("/", "\\"))

    def client_window(self):
        """The demo client's window record, or None."""
        return next((w for w in self.s.windows() if w["cls"] == "FenmoraDemoClient"), None)

    def client_started(self):
        """(folder, start time) of the started client, or None: the stand-in
        writes its working folder beside itself, the demo client shows its
        folder in its title."""
        if self.client_kind == "demo":
            w = self.client_window()
            if not w:
                return None
            image = next((p[2] for p in self.s.processes() if p[0] == w["pid"]), "")
            return os.path.dirname(image.replace("\\", "/")).replace("/", "\\"), time.time()
        p = self.installed("started.txt")
        if not os.path.exists(p):
            return None
        return open(p, "rb").read().decode("utf-16-le"), os.path.getmtime(p)
