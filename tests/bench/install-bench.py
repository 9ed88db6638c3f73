#!/usr/bin/env python3
"""The install benchmark's worker, driven by tools/bench-install.sh.

  install-bench.py client SEED CLIENT_EXE DIR
      writes the reference client (a seeded generator) and its package
      description into DIR
  install-bench.py runs RUNS STATE BUILD PORT
      runs the bare steps and then the installer RUNS times in the Wine
      session of STATE and prints the figures of each run

Figures only; nothing is judged."""
import os
import random
import re
import shutil
import subprocess
import sys
import threading
import time

# -- the reference client ------------------------------------------------------

FILES = 2002  # and iKVLRemote.exe
PACKAGES = 8
WORDS = ["%s%s" % (a, b) for a in ("con", "res", "win", "dat", "img", "log", "set", "net", "usr", "sys", "ui", "txt")
         for b in ("fig", "ource", "dow", "a", "age", "ger", "ting", "work", "name", "tem", "label", "ure", "ion")]


def text_file(rnd, size):
    """Text-like bytes: lines of words and numbers, as configuration,
    scripts and language files are."""
    out = []
    n = 0
    while n < size:
        line = " ".join(rnd.choice(WORDS) for _ in range(rnd.randrange(3, 12)))
        line = "%s = %d %s\r\n" % (rnd.choice(WORDS), rnd.randrange(100000), line)
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


def make_client(seed, client_exe, out):
    """2,003 files in nested folders: three in five text-like, the rest
    incompressible; eight packages of group 1, every file verified."""
    rnd = random.Random(seed)
    client = os.path.join(out, "client")
    shutil.rmtree(client, ignore_errors=True)
    os.makedirs(client)
    tops = ["bin", "data", "res", "lang", "plugins", "skins", "docs", "media"]
    folders = ["%s/%s%02d" % (rnd.choice(tops), rnd.choice(("set", "pack", "lib", "part")), i) for i in range(24)]
    folders += ["%s/sub%02d" % (rnd.choice(folders), i) for i in range(16)]
    names = []
    for i in range(FILES):
        folder = rnd.choice(folders)
        if i % 5 < 3:
            name = "%s/t%04d.%s" % (folder, i, rnd.choice(("ini", "xml", "txt", "lua", "cfg")))
            data = text_file(rnd, rnd.randrange(1000, 21500))
        else:
            name = "%s/b%04d.%s" % (folder, i, rnd.choice(("dll", "dat", "png", "pak")))
            data = rnd.randbytes(rnd.randrange(8000, 73000))
        path = os.path.join(client, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        # A fixed time, so that the packages come out the same every time.
        os.utime(path, (1700000000 + i, 1700000000 + i))
        names.append(name)
    shutil.copyfile(client_exe, os.path.join(client, "iKVLRemote.exe"))
    os.utime(os.path.join(client, "iKVLRemote.exe"), (1700000000, 1700000000))
    with open(os.path.join(out, "publish.ini"), "w") as f:
        for p in range(PACKAGES):
            f.write("[pack%d.zip]\ngroup = 1\nparam = %d\n" % (p + 1, p + 1))
            if p == 0:
                f.write("verify = iKVLRemote.exe\n")
            for name in names[p * FILES // PACKAGES:(p + 1) * FILES // PACKAGES]:
                f.write("verify = %s\n" % name)
            f.write("\n")


# -- running programs under Wine ---------------------------------------------------


class Session:
    def __init__(self, state):
        self.state = state
        self.prefix = os.path.join(state, "wine", "prefix")
        with open(os.path.join(state, "wine", "display")) as f:
            display = f.read().strip()
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", DISPLAY=display,
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", LANG="C.UTF-8", LC_ALL="C.UTF-8")

    def unix(self, win_path):
        base = os.path.realpath(os.path.join(self.prefix, "dosdevices", win_path[0].lower() + ":"))
        return os.path.join(base, win_path[3:].replace("\\", "/"))

    @staticmethod
    def windows(unix_path):
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def run(self, *args, during=None):
        """Output, exit code (low 8 bits, as wine passes it on) and the peak
        resident memory of the process in MiB. during(hwm), when given, is
        called once the program has started; hwm[0] is its peak so far in
        KiB."""
        # The previous step's written data is flushed first, so that its
        # write-back does not run into this step's time.
        os.sync()
        proc = subprocess.Popen(["wine"] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        out = []
        reader = threading.Thread(target=lambda: out.append(proc.stdout.read()))
        reader.start()
        # wine execs the loader and the program in this same process, so its
        # peak is the program's; Wine's server and services run apart. The
        # kernel's high-water mark is read while it runs, and its maximum
        # resident size once it has ended.
        hwm = [0]
        done = threading.Event()
        poller = threading.Thread(target=lambda: poll_hwm(proc.pid, hwm, done), daemon=True)
        poller.start()
        if during:
            try:
                during(hwm)
            except BaseException:
                proc.kill()
                proc.wait()
                raise
        _, status, usage = os.wait4(proc.pid, 0)
        done.set()
        poller.join()
        proc.returncode = os.waitstatus_to_exitcode(status)
        reader.join()
        return out[0].decode("utf-8", "replace"), proc.returncode, max(hwm[0], usage.ru_maxrss) / 1024.0


def poll_hwm(pid, hwm, done):
    """VmHWM of the process in KiB, every 10 ms until it has ended."""
    while not done.wait(0.01):
        try:
            with open("/proc/%d/status" % pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        hwm[0] = max(hwm[0], int(line.split()[1]))
        except OSError:
            pass


def xdotool(session, *args):
    return subprocess.run(["xdotool"] + list(args), env=session.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=30).stdout.decode().strip()


def click_install(session, exe, hwm, ready_peak):
    """Waits for the setup window, notes the peak on its ready page and
    clicks its install button. Wine names a window's X class after its
    program's file."""
    x_class = os.path.splitext(os.path.basename(exe))[0]
    deadline = time.time() + 60
    while time.time() < deadline:
        for wid in xdotool(session, "search", "--onlyvisible", "--class", x_class).split():
            if "WIDTH=530" in xdotool(session, "getwindowgeometry", "--shell", wid):
                # The first paints and the font check settle before the click.
                time.sleep(2)
                ready_peak.append(hwm[0] / 1024.0)
                xdotool(session, "mousemove", "--window", wid, "250", "190")
                time.sleep(0.2)
                xdotool(session, "click", "1")
                return
        time.sleep(0.2)
    raise SystemExit("the setup window did not appear")


def seconds_of(out, what):
    m = re.search(r"^%s .*: ([0-9.]+) s\s*$" % what, out, re.M)
    if not m:
        raise SystemExit("no figure from the %s step: %r" % (what, out))
    return float(m.group(1))


# -- the installer's log -------------------------------------------------------------

LINE = re.compile(r"^\[(\w+)\]\[\S+ (\d+):(\d+):(\d+)(?: ?([AP]M))?:\s*(\d+) [0-9a-f]+:[0-9a-f]+\](.*)$")


def log_records(path):
    """(seconds of the day, message) per line of the log."""
    raw = open(path, "rb").read().decode("utf-16-le")
    records = []
    for line in raw.split("\r\n"):
        m = LINE.match(line)
        if not m:
            continue
        hour, minute, second = int(m.group(2)), int(m.group(3)), int(m.group(4))
        if m.group(5):
            hour = hour % 12 + (12 if m.group(5) == "PM" else 0)
        records.append((hour * 3600 + minute * 60 + second + int(m.group(6)) / 1000.0, m.group(7)))
    return records


def first(records, pattern, last=False):
    hits = [t for t, msg in records if re.search(pattern, msg)]
    if not hits:
        raise SystemExit("no log line matches %r" % pattern)
    return hits[-1] if last else hits[0]


def phases(records):
    start = first(records, r"^\[CSetupDlg::Execute\] start download ")
    uninstaller = first(records, r"^\[CSetupDlg::Execute\] UnInstall\.exe-url")
    crc_list = first(records, r"^\[CSetupDlg::Execute\] filecrc\.txt-url")
    end = first(records, r"^\[CAutoSetupDlg::CheckFileCRC\] .* loacalCRC=", last=True)
    span = lambda a, b: (b - a) % 86400
    return {"total": span(start, end), "packages": span(start, uninstaller), "uninstaller": span(uninstaller, crc_list),
            "verify": span(crc_list, end)}


def package_downloads(records, access_log):
    """Seconds from each package's request reaching nginx to the installer's
    line that it has arrived, summed: the downloads within the package
    phase; the rest of it is saving and unpacking."""
    starts = {}
    for line in open(access_log):
        f = line.split()
        if len(f) >= 4 and f[3].endswith(".zip"):
            begin = float(f[0]) - float(f[1])
            lt = time.localtime(begin)
            starts[os.path.basename(f[3])] = lt.tm_hour * 3600 + lt.tm_min * 60 + lt.tm_sec + begin % 1
    total = 0.0
    for t, msg in records:
        m = re.match(r"^\[CSetupDlg::Execute\] download \S*/([^/\s]+\.zip) sccuss", msg)
        if m and m.group(1) in starts:
            total += (t - starts[m.group(1)]) % 86400
    return total


# -- one run -----------------------------------------------------------------------


def one_run(n, session, build, port, www, access_log):
    bench = os.path.join(build, "tests", "bare_steps.exe")
    setup = os.environ.get("BENCH_INSTALLER") or os.path.join(build, "app", "FenmoraSetup.exe")
    window = os.path.join(build, "tests", "minimal_window.exe")
    ex3 = os.path.join(www, "EX3")
    packages = sorted((f for f in os.listdir(ex3) if f.endswith(".zip")), key=lambda f: int(re.sub(r"\D", "", f)))
    fetched = session.unix(r"R:\bare\fetched")
    unpacked = r"R:\bare\Brivex Client"
    shutil.rmtree(session.unix(r"R:\bare"), ignore_errors=True)
    os.makedirs(fetched)

    figures = {}
    out, code, _ = session.run(bench, "download", "http://127.0.0.1:%d/EX3/" % port, Session.windows(fetched),
                               "divozira.txt", *packages, "UnInstall.exe", "filecrc.txt")
    figures["bare download"] = seconds_of(out, "download")
    out, code, _ = session.run(bench, "extract", unpacked, *[Session.windows(os.path.join(fetched, p)) for p in packages])
    figures["bare extract"] = seconds_of(out, "extract")
    out, code, _ = session.run(bench, "crc", unpacked, Session.windows(os.path.join(fetched, "filecrc.txt")))
    figures["bare crc"] = seconds_of(out, "crc")
    if code != 0:
        raise SystemExit("the bare CRC loop found files that do not match: %s" % out)
    bare = figures["bare download"] + figures["bare extract"] + figures["bare crc"]

    root = r"R:\bench"
    shutil.rmtree(session.unix(root), ignore_errors=True)
    open(access_log, "w").close()
    _, code, peak = session.run(setup, "/S", "/D=" + root)
    if code != 0:
        raise SystemExit("the installer exited with %d (low 8 bits)" % code)
    records = log_records(session.unix(root + r"\temp\log.txt"))
    installer = phases(records)
    downloads = package_downloads(records, access_log)
    _, _, window_peak = session.run(window)

    # The same install through the window, clicked as a user clicks it.
    root = r"R:\bench-window"
    shutil.rmtree(session.unix(root), ignore_errors=True)
    ready_peak = []
    _, code, window_mode_peak = session.run(setup, "/D=" + root,
                                            during=lambda hwm: click_install(session, setup, hwm, ready_peak))
    # The window started the installed client on its way out; the next run
    # would find it running.
    subprocess.run(["wine", "taskkill", "/F", "/IM", "iKVLRemote.exe"], env=session.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if code != 0:
        raise SystemExit("the installer's window exited with %d (low 8 bits)" % code)

    print("run %d" % n)
    print("  bare steps: download %.2f s + extraction %.2f s + CRC %.2f s = %.2f s" %
          (figures["bare download"], figures["bare extract"], figures["bare crc"], bare))
    print("  installer, package-list request to last CRC line: %.2f s" % installer["total"])
    print("    packages %.2f s (package downloads %.2f s, saving and unpacking %.2f s), uninstaller %.2f s, "
          "verification %.2f s" % (installer["packages"], downloads, installer["packages"] - downloads,
                                   installer["uninstaller"], installer["verify"]))
    print("  ratio %.2f; verification / bare CRC loop %.2f s / %.2f s" %
          (installer["total"] / bare, installer["verify"], figures["bare crc"]))
    print("  peak resident: installer %.1f MiB, minimal window program %.1f MiB" % (peak, window_peak))
    print("  peak resident through the window: %.1f MiB (%.1f MiB on the ready page)" %
          (window_mode_peak, ready_peak[0]))
    sys.stdout.flush()
    return bare, installer["total"], installer["verify"], figures["bare crc"], peak, window_peak, window_mode_peak


def runs(count, state, build, port):
    session = Session(state)
    www = os.path.join(state, "www")
    access_log = os.path.join(state, "nginx", "access.log")
    rows = [one_run(n + 1, session, build, port, www, access_log) for n in range(count)]
    cols = range(1, len(rows) + 1)
    print()
    print("| | " + " | ".join("run %d" % i for i in cols) + " |")
    print("|---|" + "---|" * len(rows))
    print("| bare steps under Wine (download + extraction + CRC) | " + " | ".join("%.1f s" % r[0] for r in rows) + " |")
    print("| installer, package-list request to last CRC line | " + " | ".join("%.1f s" % r[1] for r in rows) + " |")
    print("| ratio (goal: at most 1.2) | " + " | ".join("%.2f" % (r[1] / r[0]) for r in rows) + " |")
    print("| installer's verification phase / bare CRC loop | " +
          " | ".join("%.2f s / %.2f s" % (r[2], r[3]) for r in rows) + " |")
    print("| peak resident: installer / minimal window program | " +
          " | ".join("%.1f / %.1f MiB" % (r[4], r[5]) for r in rows) + " |")
    print("| peak resident: installer through its window | " + " | ".join("%.1f MiB" % r[6] for r in rows) + " |")


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "client":
        make_client(int(sys.argv[2]), sys.argv[3], sys.argv[4])
    elif len(sys.argv) == 6 and sys.argv[1] == "runs":
        runs(int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5]))
    else:
        sys.exit(__doc__)
