#!/usr/bin/env python3
"""The install benchmark's worker, driven by tools/bench-install.sh.

  install-bench.py client SEED CLIENT_EXE DIR
      writes the reference client (a seeded generator) and its package
      description into DIR
  install-bench.py large-client SEED CLIENT_EXE DIR
      writes a client of one 1.25 GiB package and its description into DIR
  install-bench.py runs RUNS STATE BUILD PORT
      runs the bare steps, the installer and the peer installer
      (STATE/peer-setup.exe) RUNS times in the Wine session of STATE and
      prints the figures of each run
  install-bench.py large STATE BUILD
      runs the installer once on the large client (served in place of the
      reference client) and prints its exit code, time and peak memory

Figures only; nothing is judged."""
import os
import random
import re
import shutil
import subprocess
import sys
import threading
import time
import zipfile
from collections import namedtuple

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


LARGE_FILES = 10
LARGE_FILE_BYTES = 128 << 20  # ten of them: 1.25 GiB, incompressible


def make_large_client(seed, client_exe, out):
    """iKVLRemote.exe and ten files of random bytes in one package of group
    1 (1.25 GiB deflated), every file verified."""
    rnd = random.Random(seed)
    client = os.path.join(out, "client")
    shutil.rmtree(client, ignore_errors=True)
    os.makedirs(os.path.join(client, "data"))
    names = ["data/large%02d.pak" % i for i in range(LARGE_FILES)]
    for i, name in enumerate(names):
        with open(os.path.join(client, name), "wb") as f:
            for _ in range(LARGE_FILE_BYTES >> 23):
                f.write(rnd.randbytes(1 << 23))
        os.utime(os.path.join(client, name), (1700000000 + i, 1700000000 + i))
    shutil.copyfile(client_exe, os.path.join(client, "iKVLRemote.exe"))
    os.utime(os.path.join(client, "iKVLRemote.exe"), (1700000000, 1700000000))
    with open(os.path.join(out, "publish.ini"), "w") as f:
        f.write("[pack1.zip]\ngroup = 1\nparam = 1\nverify = iKVLRemote.exe\n")
        f.writelines("verify = %s\n" % name for name in names)


def zip64_records(path):
    """The zip64 records an archive holds: its end record and locator, and
    the entries whose central record has a zip64 extra field."""
    with open(path, "rb") as f:
        f.seek(max(0, os.path.getsize(path) - 65536))
        tail = f.read()
    found = [name for sig, name in ((b"PK\x06\x06", "end record"), (b"PK\x06\x07", "end locator")) if sig in tail]
    with zipfile.ZipFile(path) as z:
        entries = sum(1 for i in z.infolist() if extra_ids(i.extra) & {1})
    if entries:
        found.append("%d entries with a zip64 extra field" % entries)
    return ", ".join(found) or "none"


def extra_ids(extra):
    ids = set()
    i = 0
    while i + 4 <= len(extra):
        ids.add(extra[i] | extra[i + 1] << 8)
        i += 4 + (extra[i + 2] | extra[i + 3] << 8)
    return ids


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
        """Output, exit code (low 8 bits, as wine passes it on), the peak
        resident memory of the process in MiB, and the times (time.time())
        it was started and had ended. during(hwm), when given, is called
        once the program has started; hwm[0] is its peak so far in KiB."""
        # The previous step's written data is flushed first, so that its
        # write-back does not run into this step's time.
        os.sync()
        started = time.time()
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
        ended = time.time()
        done.set()
        poller.join()
        proc.returncode = os.waitstatus_to_exitcode(status)
        reader.join()
        return Ran(out[0].decode("utf-8", "replace"), proc.returncode, max(hwm[0], usage.ru_maxrss) / 1024.0, started,
                   ended)


class Ran(namedtuple("Ran", "out code peak started ended")):
    @property
    def seconds(self):
        return self.ended - self.started


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

def day_seconds(t):
    """A time.time() as seconds of the local day, as the log writes it."""
    lt = time.localtime(t)
    return lt.tm_hour * 3600 + lt.tm_min * 60 + lt.tm_sec + t % 1


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
            "verify": span(crc_list, end), "first": start, "last": end}


def outside(ran, records, installer):
    """Seconds of the whole process before its log's first line, from there
    to the package-list request, and after the last CRC line (registration,
    shortcuts, exit)."""
    started, ended = day_seconds(ran.started), day_seconds(ran.ended)
    return ((records[0][0] - started) % 86400, (installer["first"] - records[0][0]) % 86400,
            (ended - installer["last"]) % 86400)


def package_downloads(records, access_log):
    """Seconds from each package's request reaching nginx to the installer's
    line that it has arrived, summed: the downloads within the package
    phase; the rest of it is saving and unpacking."""
    starts = {}
    for line in open(access_log):
        f = line.split()
        if len(f) >= 4 and f[3].endswith(".zip"):
            starts[os.path.basename(f[3])] = day_seconds(float(f[0]) - float(f[1]))
    total = 0.0
    for t, msg in records:
        m = re.match(r"^\[CSetupDlg::Execute\] download \S*/([^/\s]+\.zip) sccuss", msg)
        if m and m.group(1) in starts:
            total += (t - starts[m.group(1)]) % 86400
    return total


# -- one run -----------------------------------------------------------------------


def count_files(folder):
    return sum(len(files) for _, _, files in os.walk(folder))


def one_run(n, session, build, state, port, access_log):
    bench = os.path.join(build, "tests", "bare_steps.exe")
    setup = os.environ.get("BENCH_INSTALLER") or os.path.join(build, "app", "FenmoraSetup.exe")
    peer = os.path.join(state, "peer-setup.exe")
    window = os.path.join(build, "tests", "minimal_window.exe")
    ex3 = os.path.join(state, "www", "EX3")
    packages = sorted((f for f in os.listdir(ex3) if f.endswith(".zip")), key=lambda f: int(re.sub(r"\D", "", f)))
    # Each run writes into folders of its own, removed after the last run:
    # on ext4, creating files soon after many were deleted makes the
    # allocator pass over the deleted inodes, which slowed every create of
    # a run by up to three times.
    fetched = session.unix(r"R:\bare-%d\fetched" % n)
    unpacked = r"R:\bare-%d\Brivex Client" % n
    os.makedirs(fetched)

    figures = {}
    ran = session.run(bench, "download", "http://127.0.0.1:%d/EX3/" % port, Session.windows(fetched),
                      "divozira.txt", *packages, "UnInstall.exe", "filecrc.txt")
    figures["bare download"] = seconds_of(ran.out, "download")
    ran = session.run(bench, "extract", unpacked, *[Session.windows(os.path.join(fetched, p)) for p in packages])
    figures["bare extract"] = seconds_of(ran.out, "extract")
    ran = session.run(bench, "crc", unpacked, Session.windows(os.path.join(fetched, "filecrc.txt")))
    figures["bare crc"] = seconds_of(ran.out, "crc")
    if ran.code != 0:
        raise SystemExit("the bare CRC loop found files that do not match: %s" % ran.out)
    bare = figures["bare download"] + figures["bare extract"] + figures["bare crc"]

    root = r"R:\bench-%d" % n
    open(access_log, "w").close()
    ours = session.run(setup, "/S", "/D=" + root)
    if ours.code != 0:
        raise SystemExit("the installer exited with %d (low 8 bits)" % ours.code)
    records = log_records(session.unix(root + r"\temp\log.txt"))
    installer = phases(records)
    downloads = package_downloads(records, access_log)
    to_log, to_request, after = outside(ours, records, installer)

    # The peer installer, its files embedded, silent into the same drive.
    peer_root = r"R:\peer-%d" % n
    theirs = session.run(peer, "/S", "/D=" + peer_root)
    peer_files = count_files(session.unix(peer_root))
    if theirs.code != 0 or peer_files != count_files(os.path.join(state, "client")):
        raise SystemExit("the peer installer exited with %d and installed %d files" % (theirs.code, peer_files))
    window_peak = session.run(window).peak
    # Wine's start and exit of a program that does nothing (prints its usage).
    empty = session.run(bench).seconds

    # The same install through the window, clicked as a user clicks it.
    root = r"R:\bench-window-%d" % n
    ready_peak = []
    ran = session.run(setup, "/D=" + root, during=lambda hwm: click_install(session, setup, hwm, ready_peak))
    # The window started the installed client on its way out; the next run
    # would find it running.
    subprocess.run(["wine", "taskkill", "/F", "/IM", "iKVLRemote.exe"], env=session.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if ran.code != 0:
        raise SystemExit("the installer's window exited with %d (low 8 bits)" % ran.code)

    print("run %d" % n)
    print("  bare steps: download %.2f s + extraction %.2f s + CRC %.2f s = %.2f s" %
          (figures["bare download"], figures["bare extract"], figures["bare crc"], bare))
    print("  installer, package-list request to last CRC line: %.2f s" % installer["total"])
    print("    packages %.2f s (package downloads %.2f s, saving and unpacking %.2f s), uninstaller %.2f s, "
          "verification %.2f s" % (installer["packages"], downloads, installer["packages"] - downloads,
                                   installer["uninstaller"], installer["verify"]))
    print("  ratio %.2f; verification / bare CRC loop %.2f s / %.2f s" %
          (installer["total"] / bare, installer["verify"], figures["bare crc"]))
    print("  whole silent install, process start to exit: installer %.2f s, peer %.2f s; ratio %.2f" %
          (ours.seconds, theirs.seconds, ours.seconds / theirs.seconds))
    print("    installer: %.2f s to its log's first line, %.2f s on to the package-list request, %.2f s after the last "
          "CRC line; an empty console program under Wine %.2f s" % (to_log, to_request, after, empty))
    print("  peak resident: installer %.1f MiB, peer %.1f MiB, minimal window program %.1f MiB" %
          (ours.peak, theirs.peak, window_peak))
    print("  peak resident through the window: %.1f MiB (%.1f MiB on the ready page)" % (ran.peak, ready_peak[0]))
    sys.stdout.flush()
    return {"bare": bare, "installer": installer["total"], "verify": installer["verify"], "bare crc": figures["bare crc"],
            "ours": ours.seconds, "theirs": theirs.seconds, "to log": to_log, "after": after, "empty": empty,
            "peak": ours.peak,
            "peer peak": theirs.peak, "window peak": window_peak, "window mode peak": ran.peak}


def median_spread(values):
    values = sorted(values)
    middle = (values[(len(values) - 1) // 2] + values[len(values) // 2]) / 2
    return "median %.2f, %.2f–%.2f" % (middle, values[0], values[-1])


def remove_run_folders(session):
    drive = session.unix("R:\\")
    for name in os.listdir(drive):
        if re.fullmatch(r"(bare|bench|peer|bench-window)(-\d+)?", name):
            shutil.rmtree(os.path.join(drive, name), ignore_errors=True)


def runs(count, state, build, port):
    session = Session(state)
    access_log = os.path.join(state, "nginx", "access.log")
    # Left by a run that was cut short.
    remove_run_folders(session)
    try:
        rows = [one_run(n + 1, session, build, state, port, access_log) for n in range(count)]
    finally:
        remove_run_folders(session)
    table = [
        ("bare steps under Wine (download + extraction + CRC)", lambda r: "%.1f s" % r["bare"]),
        ("installer, package-list request to last CRC line", lambda r: "%.1f s" % r["installer"]),
        ("ratio (goal: at most 1.2)", lambda r: "%.2f" % (r["installer"] / r["bare"])),
        ("installer's verification phase / bare CRC loop", lambda r: "%.2f s / %.2f s" % (r["verify"], r["bare crc"])),
        ("whole silent install, process start to exit: installer / peer",
         lambda r: "%.1f s / %.1f s" % (r["ours"], r["theirs"])),
        ("ratio installer / peer (goal: at most 0.8)", lambda r: "%.2f" % (r["ours"] / r["theirs"])),
        ("installer before its log's first line / after the last CRC line; empty program",
         lambda r: "%.2f s / %.2f s; %.2f s" % (r["to log"], r["after"], r["empty"])),
        ("peak resident: installer / peer / minimal window program",
         lambda r: "%.1f / %.1f / %.1f MiB" % (r["peak"], r["peer peak"], r["window peak"])),
        ("peak resident: installer through its window", lambda r: "%.1f MiB" % r["window mode peak"]),
    ]
    print()
    print("| | " + " | ".join("run %d" % (i + 1) for i in range(len(rows))) + " |")
    print("|---|" + "---|" * len(rows))
    for label, cell in table:
        print("| %s | %s |" % (label, " | ".join(cell(r) for r in rows)))
    print()
    print("ratio installer / peer, whole silent install: %s" % median_spread([r["ours"] / r["theirs"] for r in rows]))
    print("ratio installer / bare steps: %s" % median_spread([r["installer"] / r["bare"] for r in rows]))


# -- the large client ----------------------------------------------------------------


def large(state, build):
    """One silent install of the large client: its exit code, time and peak
    memory, and what its log says when it fails."""
    session = Session(state)
    access_log = os.path.join(state, "nginx", "access.log")
    setup = os.environ.get("BENCH_INSTALLER") or os.path.join(build, "app", "FenmoraSetup.exe")
    package = os.path.join(state, "large", "www", "EX3", "pack1.zip")
    print("large client: one package of %.2f GiB (%d entries), zip64 records: %s" %
          (os.path.getsize(package) / 2**30, len(zipfile.ZipFile(package).infolist()), zip64_records(package)))
    sys.stdout.flush()
    root = r"R:\large"
    shutil.rmtree(session.unix(root), ignore_errors=True)
    open(access_log, "w").close()
    ran = session.run(setup, "/S", "/D=" + root)
    requests = sum(1 for line in open(access_log) if line.split()[3].endswith(".zip"))
    print("  installer /S: exit code %d (low 8 bits), %.1f s process start to exit, peak resident %.1f MiB, "
          "%d package requests" % (ran.code, ran.seconds, ran.peak, requests))
    log = session.unix(root + r"\temp\log.txt")
    records = log_records(log) if os.path.exists(log) else []
    if ran.code == 0:
        installer = phases(records)
        print("  package-list request to last CRC line %.1f s: packages %.1f s, verification %.1f s" %
              (installer["total"], installer["packages"], installer["verify"]))
    else:
        print("  the log's last lines:")
        for _, msg in records[-8:]:
            print("    " + msg)
    # 2.5 GiB or more of installed and fetched files.
    shutil.rmtree(session.unix(root), ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "client":
        make_client(int(sys.argv[2]), sys.argv[3], sys.argv[4])
    elif len(sys.argv) == 5 and sys.argv[1] == "large-client":
        make_large_client(int(sys.argv[2]), sys.argv[3], sys.argv[4])
    elif len(sys.argv) == 6 and sys.argv[1] == "runs":
        runs(int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5]))
    elif len(sys.argv) == 4 and sys.argv[1] == "large":
        large(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
