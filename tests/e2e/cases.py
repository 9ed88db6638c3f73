"""The case tables of the end-to-end suite, grouped as the runner takes them."""
import configparser
import datetime
import os
import re
import shutil
import socket
import subprocess
import sys
import time

import repo as repolib
from harness import (HARNESS, INTERNET_SETTINGS, RELEASE_SERIAL_KEY, START_MENU, UNINSTALL_KEY, WindowWatch, check,
                     poll, tree_digest)
from machine import CLOSE_POINT, INSTALL_POINT, dialog_message, expect_in_order, setup_command_line

GROUPS = {}


class Skip(Exception):
    pass


class Case:
    def __init__(self, name, run, fonts="present", server="nginx", repo=None, prepare=None, cleanup=None,
                 client="stand-in", **expect):
        self.name = name
        self.client = client
        self.expect = expect
        self._run = run
        self.fonts = fonts
        self.server = server
        self.make_repo = repo or (lambda m: repolib.standard_repo(m.client_exe))
        self._prepare = prepare
        self._cleanup = cleanup
        self.repo = None

    def prepare(self, m):
        m.client_kind = self.client
        m.servers.use(self.server)
        self.repo = self.make_repo(m)
        self.repo.write(m.servers.www)
        if self._prepare:
            self._prepare(m, self)

    def run(self, m):
        return self._run(m, self)

    def cleanup(self, m):
        if self._cleanup:
            self._cleanup(m, self)


def group(name, *table):
    GROUPS[name] = list(table)


# -- expectations ---------------------------------------------------------

def machine_groups(fonts):
    return {1, 2} if fonts == "present" else {1, 3}


def expected_requests(repo, groups, signed=False):
    """The files an install fetches; the release first for an installer
    that requires one."""
    names = ["divozira.txt"] + [p.name for p in repo.packages if p.group in groups]
    release = ["release.txt", "release.sig"] if signed else []
    return release + names + ["UnInstall.exe", "filecrc.txt"]


def expect_success(m, case, inst, groups):
    """Everything a successful install in the window leaves, read from
    outside: the installed machine, exit code 0 and the started client."""
    check(inst.wait_end(60), "the installer did not end after the install")
    check(inst.exit_code() == 0, "the installer exited with %s after the install, not 0" % inst.exit_code())
    started = poll(m.client_started, 15, 0.1)
    check(started, "the client did not start")
    check(same_path(started[0], m.setup_folder), "the client started in %r, not in the install folder" % started[0])
    if m.client_kind == "stand-in":
        shown = open(m.installed("shown.txt"), "rb").read().decode("utf-16-le")
        check(shown == "5", "the client was started with show command %r, not 5" % shown)

    # The client starts about a second after the registration, which is the
    # last step before the launch timer.
    registered = expect_installed(m, case.repo, groups)
    if registered is not None:
        delay = (datetime.datetime.fromtimestamp(started[1]) - registered).total_seconds()
        check(0.9 <= delay <= 4.0, "the client started %.2f s after the registration, not about 1 s" % delay)
        return "client started %.2f s after the registration" % delay
    return "log time not readable; launch delay not measured"


def expect_installed(m, repo, groups):
    """The requests, files, settings, entry, shortcuts and log lines of a
    successful install; the registration's time in the log."""
    got = m.servers.requests()
    want = expected_requests(repo, groups, m.exe != m.default_exe)
    check(got == want, "requests %r, expected %r" % (got, want))

    files = repo.files_for(groups)
    for rel, data in files.items():
        if rel == "config/ZUZ.System.config":
            continue
        p = m.installed(rel)
        check(os.path.isfile(p), "installed file %s missing" % rel)
        check(open(p, "rb").read() == data, "installed file %s differs from its package" % rel)
    others = {rel for p in repo.packages if p.group not in groups for rel in p.files} - set(files)
    for rel in others:
        check(not os.path.exists(m.installed(rel)), "%s of another package group was installed" % rel)
    check(open(m.installed("UnInstall.exe"), "rb").read() == repo.uninstaller, "UnInstall.exe differs")

    expect_settings(m, repo)
    expect_registration(m)
    expect_shortcuts(m)

    records = m.log()
    check(not [r for r in records if r.level == "Error"], "error lines in the log of a success: %r" %
          [r for r in records if r.level == "Error"])
    url = r"http://127\.0\.0\.1:%d/EX3/" % m.servers.port
    esc = re.escape
    first = (r"^\[CSetupDlg::OnClickBrowser\] setuppath=%s$" if m.browsed else
             r"^\[CSetupDlg::GetDestPath\] setuppath=%s UnInstallPath=")
    want_lines = [("Normal", first % esc(m.setup_folder)),
                  ("Normal", r"^\[CSetupDlg::Execute\] start download  %sdivozira\.txt$" % url),
                  ("Normal", r"^\[CSetupDlg::Execute\] divozira\.txt Begin$"),
                  ("Normal", r"^\[CSetupDlg::Execute\] divozira\.txt End$"),
                  ("Normal", r"^\[CSetupDlg::Execute\] download divozira\.txt sccuss$")]
    for p in repo.packages:
        if p.group in groups:
            want_lines.append(("Normal", r"^\[CSetupDlg::Execute\] download %s%s sccuss filesize=%d$" %
                               (url, esc(p.name), len(p.data))))
    want_lines += [("Normal", r"^\[CSetupDlg::Execute\] UnInstall\.exe-url = %sUnInstall\.exe$" % url),
                   ("Normal", r"^\[CSetupDlg::DownloadUninstallFile\] Download UnInstall\.exe seccuss$"),
                   ("Normal", r"^\[CSetupDlg::DownloadUninstallFile\] Create file UnInstall\.exe seccuss$")]
    for line in repo.crc_lines():
        name, value = line.split(";")
        want_lines.append(("Normal", r"^\[CAutoSetupDlg::CheckFileCRC\] %s loacalCRC=%s, netCRC=%s$" %
                           (esc(name), value, value)))
    want_lines += [("Normal", r"^\[CSetupDlg::SetStartShellLink\] ProgramsPath=%s$" % esc(START_MENU)),
                   ("Normal", r'^\[CSetupDlg::WriteRegistry\] UninstallString "%s\\UnInstall\.exe" "%s" '
                              r'm_szUnInstallPath=' % (esc(m.setup_folder), esc(m.setup_folder)))]
    found = expect_in_order(records, want_lines)
    check(not [r for r in records if "安装结束" in r.msg], "a failed attempt in the log of a success")
    return found[-1].when


def read_ini(data):
    text = data[2:].decode("utf-16-le") if data.startswith(b"\xff\xfe") else data.decode("latin-1")
    ini = configparser.ConfigParser(strict=False, interpolation=None)
    ini.optionxform = str
    ini.read_string(text)
    return text, {(sec, key): ini.get(sec, key) for sec in ini.sections() for key in ini.options(sec)}


def expect_settings(m, repo):
    """The packaged settings file with Client/Version set to 016 and
    everything else as it came."""
    packaged = repo.files_for({1, 2, 3})["config/ZUZ.System.config"]
    text, got = read_ini(open(m.installed("config/ZUZ.System.config"), "rb").read())
    _, want = read_ini(packaged)
    want[("Client", "Version")] = "016"
    check(len(re.findall(r"(?mi)^Version=", text)) == 1, "Version is not set exactly once: %r" % text)
    check(got == want, "settings %r, expected %r" % (got, want))


def expect_registration(m):
    values = m.s.reg_query(UNINSTALL_KEY)
    check(values is not None, "no uninstall key")
    if m.exe != m.default_exe:
        values.pop("ReleaseSerial", None)  # the signed cases check it
    f = m.setup_folder
    want = {"DisplayIcon": f + r"\iKVLRemote.exe", "AppExePath": "iKVLRemote.exe", "DisplayName": "Fenmora",
            "Publisher": "Fenmora", "DisplayVersion": "2.0", "InstallLocation": f + "\\",
            "UninstallString": '"%s\\UnInstall.exe" "%s"' % (f, f),
            "QuietUninstallString": '"%s\\UnInstall.exe" "%s" /S' % (f, f),
            "NoModify": 1, "NoRepair": 1, "EstimatedSize": (installed_bytes(m) + 1023) // 1024}
    check(values == want, "uninstall key holds %r, expected %r" % (values, want))


def installed_bytes(m):
    """Bytes of the files in the install folder, but those the stand-in
    client writes when it starts (after the registration)."""
    root = m.s.unix(m.setup_folder)
    total = 0
    for base, _, files in os.walk(root):
        total += sum(os.path.getsize(os.path.join(base, n)) for n in files
                     if not (base == root and n in ("started.txt", "shown.txt")))
    return total


def same_path(a, b):
    return a.replace("/", "\\").lower() == b.replace("/", "\\").lower()


def expect_shortcuts(m):
    f = m.setup_folder
    links = [(m.desktop + r"\Fenmora.lnk", "Fenmora", f + r"\iKVLRemote.exe", ""),
             (START_MENU + r"\Fenmora\Fenmora.lnk", "Fenmora", f + r"\iKVLRemote.exe", ""),
             (START_MENU + r"\Fenmora\卸载Fenmora.lnk", "卸载Fenmora", f + r"\UnInstall.exe", '"%s"' % f)]
    for path, desc, target, args in links:
        link = m.s.link(path)
        check(link is not None, "shortcut %s missing or unreadable" % path)
        check(same_path(link["target"], target), "%s targets %r" % (path, link["target"]))
        check(link["arguments"] == args, "%s has arguments %r" % (path, link["arguments"]))
        check(same_path(link["workdir"], f), "%s starts in %r" % (path, link["workdir"]))
        check(link["description"] == desc, "%s has description %r" % (path, link["description"]))
        check(same_path(link["icon"], f + r"\favicon.ico") and link["iconindex"] == "0",
              "%s has icon %r,%s" % (path, link["icon"], link["iconindex"]))
    names = sorted(os.listdir(m.s.unix(START_MENU + r"\Fenmora")))
    check(names == sorted(["Fenmora.lnk", "卸载Fenmora.lnk"]), "Start-menu folder holds %r" % names)


def install(m):
    inst = m.start()
    inst.click(INSTALL_POINT)
    return inst


# -- group 1: success ---------------------------------------------------------

def run_success(m, case):
    inst = install(m)
    m.s.screenshot(case.name + "-installing")
    return expect_success(m, case, inst, machine_groups(case.fonts))


BESIDE = r"C:\Brivex Client notes.txt"


def reinstall_prepare(m, case):
    open(m.s.unix(BESIDE), "wb").write(b"user's notes beside the install folder")


def run_reinstall(m, case):
    first = install(m)
    expect_success(m, case, first, machine_groups(case.fonts))
    m.end_programs()

    # The user's files: one inside the install folder, one beside it.
    inside = m.installed("saves/slot1.dat")
    os.makedirs(os.path.dirname(inside))
    open(inside, "wb").write(b"user's save")
    beside = m.s.unix(BESIDE)
    old_only = m.installed("data/readme.txt")
    check(os.path.exists(old_only), "the first install left no data/readme.txt")

    # The second version drops a file and changes the client's data.
    case.repo = repolib.standard_repo(m.client_exe)
    core = case.repo.packages[0]
    del core.files["data/readme.txt"]
    core.files["data/changes.txt"] = b"version 2\r\n"
    case.repo.packages[0] = repolib.Package(core.name, core.group, core.files)
    case.repo.write(m.servers.www)
    m.servers.use(m.servers.kind)  # a fresh request log

    second = install(m)
    expect_success(m, case, second, machine_groups(case.fonts))
    check(not os.path.exists(inside), "the user's file inside the install folder survived the re-install")
    check(not os.path.exists(old_only), "a file of the earlier version survived the re-install")
    check(open(beside, "rb").read() == b"user's notes beside the install folder",
          "the user's file beside the install folder changed")
    return "user's file inside removed, beside kept"


def reinstall_cleanup(m, case):
    if os.path.exists(m.s.unix(BESIDE)):
        os.unlink(m.s.unix(BESIDE))


def demo_repo(m):
    """The demo client as the publishing tool publishes it."""
    return repolib.publish(m.publish_tool, m.demo_client_dir, m.demo_description, m.uninstaller_exe,
                           os.path.join(m.work, "published"))


def run_demo_success(m, case):
    note = run_success(m, case)
    client = m.client_window()
    check(client and client["text"] == "Fenmora 016 - " + m.setup_folder,
          "the demo client's title is %r" % (client and client["text"]))
    m.s.screenshot(case.name + "-client")
    return "demo client shows version 016 from %s; %s" % (m.setup_folder, note)


def info_zip_repo(m):
    """The generated tree with its media package made by Info-ZIP, holding
    an empty file and an empty folder."""
    repo = repolib.standard_repo(m.client_exe)
    tree = os.path.join(m.work, "info-zip")
    shutil.rmtree(tree, ignore_errors=True)
    files = {"media/intro.bin": os.urandom(50_000), "media/empty.cfg": b""}
    for rel, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(tree, rel)), exist_ok=True)
        open(os.path.join(tree, rel), "wb").write(data)
    os.makedirs(os.path.join(tree, "logs"))
    repo.packages[3] = repolib.Package("media.zip", 1, files, data=repolib.info_zip(tree))
    # An empty file's CRC is 0, which the list cannot carry.
    repo.crc_files = sorted(n for n in list(repo.files_for({1})) + ["UnInstall.exe"] if n != "media/empty.cfg")
    return repo


def run_info_zip_success(m, case):
    note = run_success(m, case)
    check(os.path.isdir(m.installed("logs")), "the empty folder of the package is missing")
    return "empty file and empty folder installed; " + note


group("success",
      Case("success-font-present", run_demo_success, fonts="present", repo=demo_repo, client="demo"),
      Case("success-font-absent", run_demo_success, fonts="absent", repo=demo_repo, client="demo"),
      Case("success-generated-tree-font-present", run_success, fonts="present"),
      Case("success-generated-tree-font-absent", run_success, fonts="absent"),
      Case("success-info-zip-package", run_info_zip_success, fonts="present", repo=info_zip_repo),
      Case("reinstall-over-earlier", run_reinstall, fonts="present", prepare=reinstall_prepare,
           cleanup=reinstall_cleanup))


# -- group 2: server faults ----------------------------------------------------

def expect_nothing_registered(m):
    check(not registered(m), "after a failed install: %r" % registered(m))
    check(not m.client_started(), "the client started after a failed install")


def registered(m):
    """The uninstall key and the shortcuts that are there."""
    found = ["uninstall key"] if m.s.reg_query(UNINSTALL_KEY) is not None else []
    return found + [p for p in (m.desktop + r"\Fenmora.lnk", START_MENU + r"\Fenmora")
                    if os.path.exists(m.s.unix(p))]


def expect_attempts_failed(m, attempt_lines, list_requests=3, registered=False):
    """The log lines of three failed attempts in order, the list fetched in
    each, nothing registered."""
    want = []
    for attempt in range(3):
        want += attempt_lines
        want.append(("Normal", r"^\[Execute\] 第%d安装结束，安装失败$" % attempt))
    records = m.log()
    expect_in_order(records, want)
    check(sum(1 for r in records if "安装结束" in r.msg) == 3, "not exactly three failed attempts")
    check(m.servers.requests().count("divozira.txt") == list_requests,
          "the list was not fetched once per attempt: %r" % m.servers.requests())
    if registered:
        check(not m.client_started(), "the client started after a failed install")
    else:
        expect_nothing_registered(m)


def expect_failure(m, case, inst, text, attempt_lines, timeout=60, list_requests=3, registered=False):
    """Three failed attempts, the red text on screen, the log lines of every
    attempt in order, nothing registered (unless it was before) and nothing
    started; then a close without a question."""
    check(m.wait_log(r"^\[Execute\] 第2安装结束，安装失败$", timeout), "no third failed attempt in the log")
    status = poll(lambda: (lambda st: st if st and st[0] and st[1] == text else None)(inst.status()), 5, 0.2)
    check(status, "status label shows %r, expected %r visible" % (inst.status(), text))
    red = poll(lambda: inst.red_pixels() > 20 and inst.red_pixels(), 3, 0.2)
    shot = m.s.screenshot(case.name + "-error")
    check(red, "no red text in the status area (%s)" % shot)
    expect_attempts_failed(m, attempt_lines, list_requests, registered)
    check(inst.running(), "the installer ended by itself after the failure")

    # Closing after a failure asks nothing.
    inst.click(CLOSE_POINT)
    check(inst.wait_end(10), "the installer did not end on the close glyph after a failure")
    check(not inst.dialogs(), "a question after a failure")
    return "red %r, %d red pixels" % (text, red)


URL = r"http://127\.0\.0\.1:\d+/EX3/"
LIST_FAILED = [("Error", r"^\[HttpDownload  HttpQueryInfo\[HTTP_QUERY_STATUS_CODE\]\]  error=\d+$"),
               ("Error", r"^\[CSetupDlg::Execute\] download Setupconfig\.txt failed$")]
LIST_SHORT = [("Normal", r"^\[CSetupDlg::Execute\] start download  %sdivozira\.txt$" % URL),
              ("Error", r"^\[CSetupDlg::Execute\] download Setupconfig\.txt faile$")]
LIST_EMPTY = [("Normal", r"^\[CSetupDlg::Execute\] divozira\.txt End$"),
              ("Error", r"^\[CSetupDlg::Execute\]Setupconfig\.txt no content$")]


def package_download_failed(name, *causes):
    """Five tries of one run: the download's own lines, then the try's."""
    lines = []
    for n in range(1, 5):
        lines += list(causes) + [("Error", r"^\[CSetupDlg::Execute\] %d download %s%s failed$" %
                                  (n, URL, re.escape(name)))]
    return lines + list(causes) + [("Error", r"^\[CSetupDlg::Execute\] download %s failed$" % re.escape(name))]


def archive_path(root, name):
    """A pattern of where a package's archive is saved: the session's own
    folder below the temp folder."""
    return r"%stemp\\Fenmora\.[0-9a-f]{32}\\%s" % (root, re.escape(name))


def package_unzip_failed(name, cause=None):
    cause = cause or (r"(OpenZip %s|UnzipItem .*|QueryZipItem \d+) failed" % archive_path(r"[A-Z]:\\(.*\\)?", name))
    lines = []
    for _ in range(5):
        lines += [("Normal", r"^\[CSetupDlg::Execute\] download %s%s sccuss filesize=\d+$" % (URL, re.escape(name))),
                  ("Error", r"^\[CSetupDlg::UnZip\] %s$" % cause)]
    return lines


STATUS_ERROR = ("Error", r"^\[HttpDownload  HttpQueryInfo\[HTTP_QUERY_STATUS_CODE\]\]  error=\d+$")
BODY_CUT = ("Error", r"^\[HttpDownload  InternetReadFile\]  (body incomplete received=\d+ Content-Length=\d+|"
                     r"error=\d+  size=\d+)$")


def faults(table=None, list_data=None, omit=()):
    """A prepare step: fault lines per file name, a list of its own, files
    left out of the tree."""
    def prepare(m, case):
        if list_data is not None or omit:
            case.repo.write(m.servers.www, list_data=list_data, omit=omit)
        for name, line in (table or {}).items():
            m.servers.fault(name, line)
    return prepare


def run_fault(m, case):
    inst = install(m)
    return expect_failure(m, case, inst, case.expect["text"], case.expect["lines"], case.expect.get("timeout", 60),
                          case.expect.get("list_requests", 3))


def run_recovers(m, case):
    """A fault the installer gets over: the install still succeeds, and the
    log shows what it got over."""
    inst = install(m)
    groups = machine_groups(case.fonts)
    check(inst.wait_end(case.expect.get("timeout", 60)), "the installer did not end")
    started = poll(m.client_started, 15, 0.2)
    check(started and same_path(started[0], m.setup_folder), "the client did not start from the install folder")
    expect_in_order(m.log(), case.expect["lines"])
    want = case.expect["requests"](case.repo, groups)
    check(m.servers.requests() == want, "requests %r, expected %r" % (m.servers.requests(), want))
    for rel, data in case.repo.files_for(groups).items():
        if rel != "config/ZUZ.System.config":
            check(open(m.installed(rel), "rb").read() == data, "installed %s differs" % rel)
    expect_settings(m, case.repo)
    expect_registration(m)
    expect_shortcuts(m)
    return case.expect.get("note", "")


def run_stall(m, case):
    """A server that accepts and answers nothing: every attempt ends by the
    download's own time-out, not by the server."""
    note = run_fault(m, case)
    records = m.log()
    starts = [r.when for r in records if "start download" in r.msg]
    ends = [r.when for r in records if r.msg.startswith("[HttpDownload  InternetOpenUrl]")]
    check(len(starts) == 3 and len(ends) == 3, "not three timed-out list downloads")
    waits = [(e - s).total_seconds() for s, e in zip(starts, ends) if s and e]
    check(len(waits) == 3 and all(14 <= w <= 40 for w in waits), "time-outs after %r s, expected about 15" % waits)
    return note + "; time-outs after " + ", ".join("%.1f s" % w for w in waits)


def crc_mismatch_repo(m):
    r = repolib.standard_repo(m.client_exe)
    r.crc_override = {"data/readme.txt": 12345}
    return r


def core_fails_then(count):
    def requests(repo, groups):
        want = expected_requests(repo, groups)
        return want[:1] + ["core.zip"] * count + want[1:]
    return requests


def media_twice(repo, groups):
    want = expected_requests(repo, groups)
    return want[:want.index("media.zip") + 1] + want[want.index("media.zip"):]


def run_resumed(m, case):
    """A package cut half-way continues with a range request on the next
    try and installs byte for byte."""
    note = run_recovers(m, case)
    path = os.path.join(m.servers.www, ".ranges")
    ranges = open(path).read().split() if os.path.exists(path) else []
    check(len(ranges) == 2 and ranges[0] == "/EX3/media.zip" and int(ranges[1]) > 0,
          "the second try of media.zip asked for no range: %r" % ranges)
    return (note + "; " if note else "") + "continued from byte %s" % ranges[1]


def mirror_prepare(m, case, exe=None, tree=None):
    """The installer built with a mirror ten ports up, a plain static server
    there serving the same tree (or the tree given), and the package server
    refusing core.zip."""
    m.exe = exe or m.mirror_exe
    m.mirror = subprocess.Popen([sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "--directory",
                                 tree or m.servers.www, str(m.servers.port + 10)],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    check(poll(lambda: port_open(m.servers.port + 10), 10, 0.1), "the mirror did not start")
    m.servers.fault("core.zip", "fail 403 99")


def changed_mirror_prepare(m, case):
    """The installer with the demo key and a mirror that serves the signed
    tree with one byte of core.zip changed."""
    tree = os.path.join(m.work, "mirror-www")
    shutil.rmtree(tree, ignore_errors=True)
    shutil.copytree(m.servers.www, tree)
    path = os.path.join(tree, repolib.URL_DIR, "core.zip")
    data = bytearray(open(path, "rb").read())
    data[len(data) // 2] ^= 0x01
    open(path, "wb").write(bytes(data))
    mirror_prepare(m, case, m.signed_mirror_exe, tree)


def mirror_cleanup(m, case):
    m.mirror.terminate()
    m.mirror.wait(10)


def port_open(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def next_attempt_requests(repo, groups):
    want = expected_requests(repo, groups)
    return want[:1] + ["core.zip"] * 5 + want


def no_uninstaller_crc_repo(m):
    r = repolib.standard_repo(m.client_exe)
    r.crc_files = sorted(r.files_for({1}))
    return r


def run_no_uninstaller(m, case):
    note = run_recovers(m, case)
    check(not os.path.exists(m.installed("UnInstall.exe")), "an UnInstall.exe appeared although none was served")
    return note


group("faults",
      Case("list-404", run_fault, server="scripted", prepare=faults({"divozira.txt": "fail 404 99"}),
           text="下载Setupconfig.txt失败", lines=LIST_FAILED),
      Case("list-500", run_fault, server="scripted", prepare=faults({"divozira.txt": "fail 500 99"}),
           text="下载Setupconfig.txt失败", lines=LIST_FAILED),
      Case("list-2-bytes", run_fault, server="scripted", prepare=faults(list_data=b"\xff\xfe"),
           text="下载Setupconfig.txt失败", lines=LIST_SHORT),
      Case("list-empty", run_fault, server="scripted", prepare=faults(list_data=b"\xff\xfe\0\0\0\0"),
           text="divozira.txt为空", lines=LIST_EMPTY),
      Case("list-no-valid-line", run_fault, server="scripted",
           prepare=faults(list_data=repolib.utf16_list(["notes;only two", "a.zip;;1", ";b.zip;1;1", "x;1;2;3"])),
           text="divozira.txt为空", lines=LIST_EMPTY),
      Case("package-fails-4-then-served", run_recovers, server="scripted",
           prepare=faults({"core.zip": "fail 500 4"}), requests=core_fails_then(4),
           lines=[("Error", r"^\[CSetupDlg::Execute\] %d download %score\.zip failed$" % (n, URL)) for n in range(1, 5)]
           + [("Normal", r"^\[CSetupDlg::Execute\] download %score\.zip sccuss" % URL)]),
      Case("package-fails-5-next-attempt", run_recovers, server="scripted",
           prepare=faults({"core.zip": "fail 404 5"}), requests=next_attempt_requests,
           lines=package_download_failed("core.zip", STATUS_ERROR)
           + [("Normal", r"^\[Execute\] 第0安装结束，安装失败$"),
              ("Normal", r"^\[CSetupDlg::Execute\] download %score\.zip sccuss" % URL)]),
      Case("package-fails-always", run_fault, server="scripted", prepare=faults({"core.zip": "fail 500 99"}),
           text="下载core.zip失败", lines=package_download_failed("core.zip", STATUS_ERROR)),
      Case("package-truncated", run_fault, server="scripted", prepare=faults({"core.zip": "truncate 4000 99"}),
           text="安装core.zip失败", lines=package_unzip_failed("core.zip")),
      Case("package-is-html", run_fault, server="scripted", prepare=faults({"core.zip": "html 99"}),
           text="安装core.zip失败", lines=package_unzip_failed("core.zip")),
      Case("package-cut-then-resumed", run_resumed, server="scripted", prepare=faults({"media.zip": "drop 1"}),
           requests=media_twice,
           lines=[BODY_CUT, ("Error", r"^\[CSetupDlg::Execute\] 1 download %smedia\.zip failed$" % URL),
                  ("Normal", r"^\[CSetupDlg::Execute\] %smedia\.zip continues from byte \d+$" % URL),
                  ("Normal", r"^\[CSetupDlg::Execute\] download %smedia\.zip sccuss filesize=300\d\d\d$" % URL)]),
      Case("mirror-serves-a-refused-package", run_recovers, server="scripted", prepare=mirror_prepare,
           cleanup=mirror_cleanup, requests=expected_requests,
           lines=[("Normal", r"^\[CSetupDlg::Execute\] %score\.zip failed, trying http://127\.0\.0\.1:\d+/EX3/core\.zip$"
                   % URL),
                  ("Normal", r"^\[CSetupDlg::Execute\] %score\.zip served by 127\.0\.0\.1:\d+$" % URL),
                  ("Normal", r"^\[CSetupDlg::Execute\] %sui-yahei\.zip served by 127\.0\.0\.1:\d+$" % URL)]),
      Case("package-connection-dropped", run_fault, server="scripted", prepare=faults({"media.zip": "drop 99"}),
           text="下载media.zip失败", lines=package_download_failed("media.zip", BODY_CUT)),
      Case("crc-mismatch", run_fault, server="scripted", repo=crc_mismatch_repo,
           text="校验失败", lines=[
               ("Normal", r"^\[CAutoSetupDlg::CheckFileCRC\] data/readme\.txt loacalCRC=\d+, netCRC=12345$"),
               ("Error", r"^\[CAutoSetupDlg::CheckFileCRC\] data/readme\.txt CRC is not equal$"),
               ("Normal", r"^\[CSetupDlg::Execute\] CheckFileCRC failed$")]),
      Case("uninstaller-missing-and-listed", run_fault, server="scripted", prepare=faults(omit=("UnInstall.exe",)),
           text="校验失败", lines=[
               ("Error", r"^\[CSetupDlg::DownloadUninstallFile\] download UnInstall\.exe failed$"),
               # The check runs on the staged tree, beside the install folder.
               ("Error", r"^\[CAutoSetupDlg::GetFileCRC\] open C:\\Brivex Client\.[0-9a-f]{8}\\UnInstall\.exe "
                         r"failed$"),
               ("Normal", r"^\[CAutoSetupDlg::CheckFileCRC\] UnInstall\.exe loacalCRC=0, netCRC=\d+$"),
               ("Error", r"^\[CAutoSetupDlg::CheckFileCRC\] UnInstall\.exe GetCRC error$"),
               ("Normal", r"^\[CSetupDlg::Execute\] CheckFileCRC failed$")]),
      Case("uninstaller-missing-not-listed", run_no_uninstaller, server="scripted", repo=no_uninstaller_crc_repo,
           prepare=faults(omit=("UnInstall.exe",)), requests=expected_requests,
           lines=[("Error", r"^\[CSetupDlg::DownloadUninstallFile\] download UnInstall\.exe failed$"),
                  ("Normal", r"^\[CSetupDlg::WriteRegistry\] UninstallString ")],
           note="the run goes on without the uninstaller, as designed"),
      Case("list-server-stalls", run_stall, server="scripted", prepare=faults({"divozira.txt": "stall 99"}),
           text="下载Setupconfig.txt失败", timeout=120,
           lines=[("Normal", r"^\[CSetupDlg::Execute\] start download  %sdivozira\.txt$" % URL),
                  ("Error", r"^\[HttpDownload  InternetOpenUrl\]  error=\d+ lpUrl=%sdivozira\.txt$" % URL),
                  ("Error", r"^\[CSetupDlg::Execute\] download Setupconfig\.txt failed$")]),
      )


# -- group 3: closing -------------------------------------------------------------

def install_until_paused(m, case):
    """Starts an install and waits until it is held in the slow package."""
    inst = install(m)
    check(m.wait_log(r"^\[CSetupDlg::Execute\] download %score\.zip sccuss" % URL, 20), "core.zip never arrived")
    check(poll(lambda: "ui-yahei.zip" in m.servers.requests(), 10), "the slow package was never asked for")
    pct = poll(lambda: (lambda p: p if p and p[0] and p[1] == "19%" else None)(inst.percent()), 5, 0.2)
    check(pct, "the percent label shows %r after the first of five list entries, expected 19%%" % (inst.percent(),))
    status = inst.status()
    check(status and not status[0], "the status label is visible during a sound install: %r" % (status,))
    red = inst.red_pixels()
    check(red < 20, "%d red pixels in the hidden status label's area" % red)
    return inst


def ask_close(m, case, inst):
    inst.click(CLOSE_POINT)
    box = inst.wait_dialog("询问", 10)
    check(box, "no close question")
    check("是否终止安装？" in dialog_message(box), "the question reads %r" % dialog_message(box))
    check({1, 2} <= {c["id"] for c in box["children"]}, "the question has no OK and Cancel buttons")
    m.s.screenshot(case.name + "-question")
    return box


def run_close_cancel(m, case):
    inst = install_until_paused(m, case)
    box = ask_close(m, case, inst)
    inst.press(box, 2)
    check(poll(lambda: not inst.dialogs(), 5, 0.2), "the question stayed after Cancel")
    return "install went on after Cancel; " + expect_success(m, case, inst, machine_groups(case.fonts))


def run_close_ok(m, case):
    """OK ends the download in progress at once, though the server holds it
    half-way: the window goes and the process ends, with no further request
    or attempt."""
    inst = install_until_paused(m, case)
    box = ask_close(m, case, inst)
    pressed = time.monotonic()
    inst.press(box, 1)
    check(poll(lambda: inst.setup_window() is None, 10, 0.05), "the window stayed after OK")
    window_gone = time.monotonic() - pressed
    check(inst.wait_end(20), "the process did not end after the stop")
    ended = time.monotonic() - pressed
    # The held download would otherwise end only by its 15 s time-out.
    check(ended < 10, "the process ended %.1f s after OK: the stop did not end the download" % ended)
    got = m.servers.requests()
    check(got == ["divozira.txt", "core.zip", "ui-yahei.zip"],
          "requests after the stop: %r (the run must stop at once, no further attempt)" % got)
    records = m.log()
    attempts = [r.msg for r in records if "安装结束" in r.msg]
    check(attempts == ["[Execute] 第0安装结束，安装失败"], "attempt lines %r" % attempts)
    check(any(re.match(r"^\[HttpDownload\] stopped lpUrl=%sui-yahei\.zip$" % URL, r.msg) for r in records),
          "the stop of the download is not logged")
    expect_nothing_registered(m)
    check(not os.path.exists(m.installed("ui/yahei-only.txt")), "the stopped package was unpacked")
    return "window gone %.2f s and process ended %.2f s after OK, the download held half-way" % (window_gone, ended)


def run_close_ready(m, case):
    inst = m.start()
    inst.click(CLOSE_POINT)
    check(inst.wait_end(10), "the installer did not end on the close glyph")
    check(inst.exit_code() == 1602, "the installer exited with %s, not 1602" % inst.exit_code())
    check(m.servers.requests() == [], "something was downloaded: %r" % m.servers.requests())
    return "ended at once with 1602, nothing fetched"


def press_key(m, inst, key):
    """A key as the keyboard gives it: to the focused window (there is no
    window manager to focus it on a click)."""
    m.s.xdotool("windowfocus", "--sync", inst.wid)
    m.s.xdotool("key", key)


def run_escape_ready(m, case):
    """Escape acts as the close glyph: the ready page ends at once."""
    inst = m.start()
    press_key(m, inst, "Escape")
    check(inst.wait_end(10), "the installer did not end on Escape")
    check(inst.exit_code() == 1602, "the installer exited with %s, not 1602" % inst.exit_code())
    check(m.servers.requests() == [], "something was downloaded: %r" % m.servers.requests())
    return "Escape ended the ready page with 1602, nothing fetched"


def run_escape_installing(m, case):
    """Escape acts as the close glyph: during the install it asks, and after
    Cancel the install goes on, the client starts and the exit code is 0."""
    inst = install_until_paused(m, case)
    press_key(m, inst, "Escape")
    box = inst.wait_dialog("询问", 10)
    check(box, "Escape asked nothing")
    check("是否终止安装？" in dialog_message(box), "the question reads %r" % dialog_message(box))
    m.s.screenshot(case.name + "-question")
    inst.press(box, 2)
    check(poll(lambda: not inst.dialogs(), 5, 0.2), "the question stayed after Cancel")
    return "Escape asked, Cancel kept the install; " + expect_success(m, case, inst, machine_groups(case.fonts))


SLOW_RATE = 60_000  # bytes a second: media.zip takes about five seconds


def run_download_line(m, case):
    """While the slow package downloads, the line above the bar names it with
    its bytes so far, its size and a rate near the server's; the install
    still succeeds."""
    inst = install(m)
    media = next(p for p in case.repo.packages if p.name == "media.zip")
    total = len(media.data) / 1048576
    line = re.compile(r"^media\.zip (\d+\.\d) / %s MB · (\d+) KB/s$" % re.escape("%.1f" % total))
    seen = []

    def line_with_rate():
        shown = inst.download_line()
        if shown and shown[0] and shown[1] not in seen:
            seen.append(shown[1])
        return shown and shown[0] and line.match(shown[1])

    match = poll(line_with_rate, 30, 0.1)
    check(match, "no download line with a rate for media.zip; the visible lines: %r" % seen)
    check(float(match.group(1)) <= float("%.1f" % total), "more received than the whole: %r" % match.group(0))
    rate = int(match.group(2)) * 1024
    check(SLOW_RATE / 2 <= rate <= SLOW_RATE * 3 / 2,
          "the line shows %d KB/s, the server sends %d KB/s" % (rate // 1024, SLOW_RATE // 1024))
    m.s.screenshot(case.name + "-line")
    note = expect_success(m, case, inst, machine_groups(case.fonts))
    return "%r; %s" % (match.group(0), note)


def run_stop_reinstall(m, case):
    """A stop in the middle of a re-install leaves the earlier installation
    whole."""
    install_silently(m, case)
    before = installed_state(m)
    m.servers.use(m.servers.kind)
    m.servers.fault("ui-yahei.zip", "trickle 1")
    inst = install_until_paused(m, case)
    inst.press(ask_close(m, case, inst), 1)
    check(inst.wait_end(20), "the process did not end after the stop")
    expect_unchanged(m, before, inst.exit_code(), 1602)
    return "stopped with 1602; the earlier installation as it was"


slow_yahei = faults({"ui-yahei.zip": "delay 3000"})
group("closing",
      Case("close-question-cancel", run_close_cancel, server="scripted", prepare=slow_yahei),
      Case("close-question-ok", run_close_ok, server="scripted", prepare=faults({"ui-yahei.zip": "trickle 1"})),
      Case("close-ready-page", run_close_ready, server="scripted"),
      Case("escape-ready-page", run_escape_ready, server="scripted"),
      Case("escape-installing", run_escape_installing, server="scripted", prepare=slow_yahei),
      Case("download-line-appears-during-slow-package", run_download_line, server="scripted",
           prepare=faults({"media.zip": "slow %d 1" % SLOW_RATE})),
      Case("stop-during-reinstall-changes-nothing", run_stop_reinstall, server="scripted"),
      )


# -- group 4: running-instance check -------------------------------------------

def start_client_copy(m, folder):
    """Starts a copy of the stand-in client from a folder, as a user would,
    and waits until it runs."""
    path = m.s.unix(folder + r"\iKVLRemote.exe")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(m.client_exe, "rb") as src, open(path, "wb") as dst:
        dst.write(src.read())
    proc = m.s.spawn(path)
    check(poll(lambda: os.path.exists(os.path.join(os.path.dirname(path), "started.txt")), 15, 0.2),
          "the client copy in %s did not start" % folder)
    return proc


def run_client_in_install_folder(m, case):
    start_client_copy(m, m.setup_folder)
    inst = m.start()
    inst.click(INSTALL_POINT)
    box = inst.wait_dialog("提示", 10)
    check(box, "no running-instance message")
    check("程序正在运行，请先关闭程序再安装" in dialog_message(box), "the message reads %r" % dialog_message(box))
    m.s.screenshot(case.name + "-message")
    check(m.wait_log(r"^\[FindProcess\] Path=C:\\Brivex Client\\iKVLRemote\.exe$", 5), "no FindProcess line")
    inst.press(box, 1)
    check(poll(lambda: not inst.dialogs(), 5, 0.2), "the message stayed after OK")
    percent = inst.percent()
    check(percent and not percent[0], "the installing page appeared: percent label %r" % (percent,))
    check(m.servers.requests() == [], "something was downloaded: %r" % m.servers.requests())
    check(os.path.exists(m.installed("iKVLRemote.exe")), "the running client's folder was touched")
    inst.click(CLOSE_POINT)
    check(inst.wait_end(10), "the installer did not end on the close glyph")
    return "message shown, nothing started"


OTHER_FOLDER = r"C:\Other Apps\Fenmora"


def other_client_prepare(m, case):
    case.other = start_client_copy(m, OTHER_FOLDER)


def other_client_cleanup(m, case):
    m.end_programs()
    shutil.rmtree(m.s.unix(r"C:\Other Apps"), ignore_errors=True)


def run_client_elsewhere(m, case):
    inst = install(m)
    check(poll(lambda: not inst.dialogs() and m.servers.requests(), 10, 0.2), "the install did not start")
    records = m.log()
    paths = [r.msg for r in records if r.msg.startswith("[FindProcess]")]
    check(paths == [r"[FindProcess] Path=%s\iKVLRemote.exe" % OTHER_FOLDER], "FindProcess lines %r" % paths)
    note = expect_success(m, case, inst, machine_groups(case.fonts))
    check(case.other.poll() is None, "the client running elsewhere was ended")
    return "one FindProcess line for the other folder, install went on; " + note


group("instance",
      Case("client-running-in-install-folder", run_client_in_install_folder),
      Case("client-running-elsewhere", run_client_elsewhere, prepare=other_client_prepare,
           cleanup=other_client_cleanup),
      )


# -- group 5: hostile archives ------------------------------------------------------

# Names that climb out of the install folder or that Windows reads as a
# drive, a stream or a device; each one is refused and fails its package.
HOSTILE_NAMES = ["../a.txt", "..\\a.txt", "..", "x/../../a.txt", "x\\..\\..\\a.txt", "x/.. /a.txt",
                 "dir/f:ads", "f.txt::$DATA", "CON", "nul.txt", "NUL .txt", "aux\\f", "dir/Com1.log", "lpt9",
                 "conout$", "prn."]


def hostile_repo(name):
    def make(m):
        r = repolib.standard_repo(m.client_exe)
        core = r.packages[0]
        entries = [("good-before.txt", b"extracted before the hostile entry")] + [(name, b"hostile")]
        r.packages[0] = repolib.Package(core.name, core.group, core.files,
                                        data=repolib.make_raw_zip(sorted(core.files.items()) + entries))
        return r
    return make


def run_hostile(m, case):
    note = run_fault(m, case)
    # The entries before it went into the staging folder, which went with
    # the run.
    check(not os.path.exists(m.s.unix(m.setup_folder)), "a failed run installed something")
    check(not siblings(m), "left beside the install folder: %r" % siblings(m))
    for probe in (r"C:\a.txt", r"C:\x", r"C:\f", r"C:\Brivex Client\..\a.txt"):
        check(not os.path.exists(m.s.unix(probe)), "%s exists" % probe)
    return note


# Names with a drive or a root lose it when they are read, and land below
# the install folder: stored name -> installed name.
CLEANED_NAMES = {"C:/Canary/abs-slash.txt": "Canary/abs-slash.txt", "C:\\Canary\\abs-back.txt": "Canary/abs-back.txt",
                 "/Canary/rooted.txt": "Canary/rooted.txt", "\\\\server\\share\\unc.txt": "server/share/unc.txt",
                 "C:x": "x", "f:ads": "ads"}


def cleaned_repo(m):
    r = repolib.standard_repo(m.client_exe)
    core = r.packages[0]
    entries = [(name, name.encode()) for name in CLEANED_NAMES]
    r.packages[0] = repolib.Package(core.name, core.group, core.files,
                                    data=repolib.make_raw_zip(sorted(core.files.items()) + entries))
    return r


def run_cleaned(m, case):
    note = run_success(m, case)
    for stored, rel in CLEANED_NAMES.items():
        p = m.installed(rel)
        check(os.path.exists(p) and open(p, "rb").read() == stored.encode(),
              "%r did not land below the install folder as %s" % (stored, rel))
    return "drive and root names land below the install folder; " + note


def forged_list_repo(m):
    """Lines whose names are paths, devices or streams: never fetched."""
    r = repolib.standard_repo(m.client_exe)
    r.extra_lines += ["..\\evil.txt;1;1", "../evil.txt;1;1", "COM1.zip;1;1", "sub/x.zip;1;1", "x.zip:s;1;1",
                      "..;1;1", "x.zip.;1;1"]
    return r


def run_forged_list(m, case):
    note = run_success(m, case)
    for probe in (r"C:\evil.txt", r"C:\temp\..\evil.txt", r"C:\sub"):
        check(not os.path.exists(m.s.unix(probe)), "%s exists" % probe)
    return "lines with path names skipped; " + note


def corrupt_entry_repo(m):
    """A clean stream whose recorded CRC is off by one bit, in a file the
    CRC list does not name."""
    r = repolib.standard_repo(m.client_exe)
    core = r.packages[0]
    entries = sorted(core.files.items()) + [("unlisted.dat", b"bytes the entry's CRC does not match" * 20)]
    r.packages[0] = repolib.Package(core.name, core.group, core.files,
                                    data=repolib.make_raw_zip(entries, wrong_crc={"unlisted.dat"}))
    return r


def run_corrupt_entry(m, case):
    note = run_fault(m, case)
    check(not os.path.exists(m.installed("unlisted.dat")), "the corrupt entry's file was left behind")
    return note


LINK_TARGET = r"R:\elsewhere"


def link_prepare(m, case):
    """Another user's folder, and a link to it where the install folder goes."""
    target = m.s.unix(LINK_TARGET)
    os.makedirs(target, exist_ok=True)
    open(os.path.join(target, "precious.txt"), "wb").write(b"not the installer's")
    os.symlink(target, m.s.unix(m.setup_folder))


def link_cleanup(m, case):
    folders = [m.setup_folder, m.temp_folder] + [sibling_path(m, n) for n in siblings(m)]
    for folder in folders:
        link = m.s.unix(folder)
        if os.path.islink(link):
            os.unlink(link)
    shutil.rmtree(m.s.unix(LINK_TARGET), ignore_errors=True)


def run_link_folder(m, case):
    """Windows moves a link in the install folder's place aside as a link;
    Wine opens a Unix symlink as what it leads to, so the swap refuses it
    and every attempt fails, with nothing moved, removed or written
    through it."""
    note = run_fault(m, case)
    target = m.s.unix(LINK_TARGET)
    check(os.path.islink(m.s.unix(m.setup_folder)), "the link in the install folder's place is gone")
    check(os.listdir(target) == ["precious.txt"], "the link's target changed: %r" % os.listdir(target))
    check(open(os.path.join(target, "precious.txt"), "rb").read() == b"not the installer's",
          "the link's target lost its file")
    check(not siblings(m), "left beside the install folder: %r" % siblings(m))
    return "nothing moved, removed or written through the link; " + note


# Another user's file, and a link to it planted in the temp folder under a
# name the installer writes. R: is hashed around every case: the file must
# come through unchanged.
VICTIM = r"R:\victim\precious.txt"
VICTIM_DATA = b"another user's file"


def plant_link(kind, name):
    def prepare(m, case):
        victim = m.s.unix(VICTIM)
        os.makedirs(os.path.dirname(victim), exist_ok=True)
        open(victim, "wb").write(VICTIM_DATA)
        temp = m.s.unix(m.temp_folder)
        os.makedirs(temp, exist_ok=True)
        (os.link if kind == "hard" else os.symlink)(victim, os.path.join(temp, name))
    return prepare


def run_planted_link(m, case):
    note = run_success(m, case)
    victim = m.s.unix(VICTIM)
    check(os.path.exists(victim) and open(victim, "rb").read() == VICTIM_DATA, "the planted link's target changed")
    return "the link's target untouched; " + note


def temp_link_prepare(m, case):
    """The temp folder a link to another user's folder, as a user who made
    C:\\temp could make it."""
    target = m.s.unix(LINK_TARGET)
    os.makedirs(target, exist_ok=True)
    open(os.path.join(target, "precious.txt"), "wb").write(VICTIM_DATA)
    os.symlink(target, m.s.unix(m.temp_folder))


def shared_temp_prepare(m, case):
    """The temp folder made beforehand by another user, open to everyone,
    with a file of theirs."""
    temp = m.s.unix(m.temp_folder)
    os.makedirs(temp)
    open(os.path.join(temp, "theirs.txt"), "wb").write(b"another user's")
    os.chmod(temp, 0o777)


def run_shared_temp(m, case):
    """A temp folder the installer did not make is used as it is: the log
    goes there, the archives into a folder of the installer's own below it,
    which goes at the end; its permissions stay."""
    temp = m.s.unix(m.temp_folder)
    mode = os.stat(temp).st_mode
    note = run_success(m, case)
    check(os.stat(temp).st_mode == mode, "the temp folder's permissions changed: %o" % os.stat(temp).st_mode)
    check(sorted(os.listdir(temp)) == ["log.txt", "theirs.txt"], "the temp folder holds %r" % os.listdir(temp))
    check(any(re.match(r"^\[CSetupDlg::Execute\] archives in C:\\temp\\Fenmora\.[0-9a-f]{32}$", r.msg)
              for r in m.log()), "no folder of the installer's own for the archives in the log")
    return "archives below it in a folder of the installer's own, gone at the end; " + note


def read_only_victim_prepare(m, case):
    victim = m.s.unix(VICTIM)
    os.makedirs(os.path.dirname(victim), exist_ok=True)
    open(victim, "wb").write(VICTIM_DATA)
    os.chmod(victim, 0o444)


def run_read_only_link_reinstall(m, case):
    """A read-only file of another user's, hard-linked into the earlier
    installation: the re-install removes the earlier folder, and the file
    keeps its attribute and its bytes."""
    install_silently(m, case)
    victim = m.s.unix(VICTIM)
    os.link(victim, m.installed("data/linked.txt"))
    install_silently(m, case)
    mode = os.stat(victim).st_mode
    check(not mode & 0o222, "the file lost its read-only attribute: mode %o" % mode)
    check(open(victim, "rb").read() == VICTIM_DATA, "the file changed")
    check(not os.path.exists(m.installed("data/linked.txt")), "the hard link is in the new installation")
    left = siblings(m)
    # Where a read-only name can be deleted only by changing the file, it
    # stays, with the earlier folder it is in, left to the next start.
    for name in left:
        m.made_folders.append(sibling_path(m, name))
    return "read-only and whole; %s" % ("earlier folder removed" if not left else "left aside: %r" % left)


def read_only_link_cleanup(m, case):
    if os.path.exists(m.s.unix(VICTIM)):
        os.chmod(m.s.unix(VICTIM), 0o644)
    for name in siblings(m):
        shutil.rmtree(m.s.unix(sibling_path(m, name)), ignore_errors=True)


def run_temp_folder_link(m, case):
    """Nothing goes through the link: no log, no archive. The folder cannot
    be closed to other users, so every attempt fails."""
    inst = install(m)
    check(poll(lambda: m.servers.requests().count("divozira.txt") == 3 and
               (lambda st: st and st[0] and st[1] == "安装失败")(inst.status()), 60, 0.2),
          "no third attempt failing with 安装失败: status %r, requests %r" % (inst.status(), m.servers.requests()))
    target = m.s.unix(LINK_TARGET)
    check(os.listdir(target) == ["precious.txt"], "written through the temp folder link: %r" % os.listdir(target))
    inst.click(CLOSE_POINT)
    check(inst.wait_end(10), "the installer did not end on the close glyph after a failure")
    expect_nothing_registered(m)
    return "three attempts refused, nothing written through the link"


group("hostile",
      Case("forged-list-names", run_forged_list, repo=forged_list_repo),
      Case("temp-folder-is-a-link", run_temp_folder_link, prepare=temp_link_prepare, cleanup=link_cleanup),
      Case("temp-folder-made-beforehand-is-used-as-it-is", run_shared_temp, prepare=shared_temp_prepare),
      Case("read-only-file-linked-into-the-earlier-installation", run_read_only_link_reinstall,
           prepare=read_only_victim_prepare, cleanup=read_only_link_cleanup),
      *[Case("planted-%s-link-at-temp-%s" % (kind, name), run_planted_link, prepare=plant_link(kind, name))
        for kind in ("hard", "symbolic") for name in ("core.zip", "log.txt")],
      Case("corrupt-entry", run_corrupt_entry, repo=corrupt_entry_repo, text="安装core.zip失败",
           lines=package_unzip_failed("core.zip")),
      # The later attempts only try the swap of the verified stage again.
      Case("install-folder-is-a-link", run_link_folder, prepare=link_prepare, cleanup=link_cleanup,
           text="安装失败", list_requests=1,
           lines=[("Error", r"^\[CSetupDlg::Execute\] C:\\Brivex Client cannot be moved aside: is a link error=\d+$")]),
      *[Case("hostile-name " + name, run_hostile, repo=hostile_repo(name), text="安装core.zip失败",
             lines=package_unzip_failed("core.zip")) for name in HOSTILE_NAMES],
      Case("drive-and-root-names-cleaned", run_cleaned, repo=cleaned_repo))


# -- group 8: folder choice -----------------------------------------------------------

CHOSEN_ROOT = "R:\\Apps 中文 目录"


def browse_prepare(m, case):
    for win, data in ((CHOSEN_ROOT + r"\user-file.txt", b"the user's file beside the install folder"),
                      (r"R:\Apps other\keep.txt", b"another folder on the drive")):
        path = m.s.unix(win)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "wb").write(data)


def run_browse(m, case):
    """The browser is the window's own and modal: while it is open a click on
    the window (its close glyph, beside the browser) does nothing. The
    install goes into the chosen folder."""
    inst = m.start()

    def click_the_window():
        inst.click(CLOSE_POINT)
        time.sleep(1)
        check(inst.setup_window() is not None, "the window took a click while the browser was open")

    m.choose_root(inst, CHOSEN_ROOT, before_ok=click_the_window)
    check(m.wait_log(r"^\[CSetupDlg::OnClickBrowser\] setuppath=%s$" % re.escape(m.setup_folder), 5),
          "no OnClickBrowser line in the new log file %s" % m.temp_folder)
    m.s.screenshot(case.name + "-ready")
    inst.click(INSTALL_POINT)
    note = expect_success(m, case, inst, machine_groups(case.fonts))
    check(not os.path.exists(m.s.unix(r"C:\Brivex Client")), "C:\\Brivex Client was made although R: was chosen")
    return "installed to %s; %s" % (m.setup_folder, note)


group("browse",
      Case("browse-to-folder-with-space-and-chinese", run_browse, prepare=browse_prepare))


# -- group 7: a small disk ------------------------------------------------------------

SMALL_DRIVE = "S:\\"


def small_drive(m, case):
    """The session's tmpfs drive S: (e2e-session.sh mounts it), with a file
    of the user's on it."""
    if SMALL_DRIVE not in m.extra_roots:
        err = os.path.join(m.work, "small-disk.err")
        reason = open(err).read().strip() if os.path.exists(err) else "not mounted"
        raise Skip("no small tmpfs drive S: in this session: " + reason)
    canary = m.s.unix(SMALL_DRIVE + r"Canary\keep.txt")
    os.makedirs(os.path.dirname(canary))
    open(canary, "wb").write(b"a file of the user's on the small drive")


def big_package_repo(m):
    r = repolib.standard_repo(m.client_exe)
    r.packages.insert(1, repolib.Package("big.zip", 1, {"big/blob.bin": os.urandom(5 << 20)}))
    return r


def bomb_repo(m):
    r = repolib.standard_repo(m.client_exe)
    r.packages.insert(1, repolib.Package("bomb.zip", 1, {}, data=repolib.make_bomb(64 << 20)))
    return r


def run_small_drive(m, case):
    inst = m.start()
    m.choose_root(inst, SMALL_DRIVE)
    check(m.setup_folder == r"S:\Brivex Client", "install folder %s" % m.setup_folder)
    m.s.screenshot(case.name + "-ready")
    inst.click(INSTALL_POINT)
    note = expect_failure(m, case, inst, case.expect["text"], case.expect["lines"])
    temp = os.listdir(m.s.unix(SMALL_DRIVE + "temp"))
    check(temp == ["log.txt"], "left in the temp folder of the full drive: %r" % temp)
    used = os.statvfs(m.s.unix(SMALL_DRIVE))
    return note + "; %d KiB free on the drive afterwards" % (used.f_bavail * used.f_frsize // 1024)


group("disk",
      Case("disk-full-archive", run_small_drive, repo=big_package_repo, prepare=small_drive,
           # The archive fills the drive while it downloads.
           text="安装big.zip失败",
           lines=[("Error", r"^\[CSetupDlg::Execute\] WriteFile\(%s\) Error\(112\)$" % archive_path(r"S:\\", "big.zip"))]),
      Case("zip-bomb", run_small_drive, repo=bomb_repo, prepare=small_drive,
           # Refused before its first file is written.
           text="安装bomb.zip失败",
           lines=package_unzip_failed("bomb.zip", r"%s unpacks to \d+ bytes, the drive has \d+ free" %
                                      archive_path(r"S:\\", "bomb.zip"))),
      )


# -- group 6: proxy with basic authentication -------------------------------------

PROXY_USER, PROXY_PASSWORD = "alice", "s3cret-Pass"


def proxy_prepare(m, case):
    rc = subprocess.run([os.path.join(HARNESS, "proxy-server.sh"), "start", os.path.join(m.work, "squid"),
                         str(m.proxy_port), "%s:%s" % (PROXY_USER, PROXY_PASSWORD)],
                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    check(rc == 0, "squid did not start on 127.0.0.1:%d" % m.proxy_port)
    m.s.reg("add", INTERNET_SETTINGS, "/v", "ProxyServer", "/d", "127.0.0.1:%d" % m.proxy_port, "/f")
    m.s.reg("add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")


def proxy_cleanup(m, case):
    m.s.reg("add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "0", "/f")
    subprocess.run([os.path.join(HARNESS, "proxy-server.sh"), "stop", os.path.join(m.work, "squid")],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def proxy_users(m):
    """(status, file, user) of each request for the package server in
    squid's access log."""
    path = os.path.join(m.work, "squid", "logs", "access.log")
    out = []
    for line in (open(path).read().splitlines() if os.path.exists(path) else []):
        f = line.split()
        if len(f) >= 8 and "/EX3/" in f[6]:
            out.append((f[3].split("/")[-1], f[6].rsplit("/", 1)[-1], f[7]))
    return out


def answer_prompt(m, inst, user, password, key=None):
    """Types into the proxy prompt like a user: a click in each field, the
    text, then OK (or a key instead)."""
    prompt = inst.wait_dialog("代理验证", 15)
    check(prompt, "no proxy prompt")
    m.s.screenshot("proxy-prompt")
    for wid in m.s.xdotool("search", "--onlyvisible", "--class", "FenmoraSetup").split():
        if wid != inst.wid:
            m.s.xdotool("windowfocus", "--sync", wid)
    if key:
        m.s.xdotool("key", key)
        return
    fields = {c["id"]: c for c in prompt["children"]}
    check(1000 in fields and 1001 in fields, "the prompt has no user and password fields")
    for cid, text in ((1000, user), (1001, password)):
        l, t, r, b = fields[cid]["rect"]
        m.s.click((l + r) // 2, (t + b) // 2)
        m.s.xdotool("type", "--delay", "30", text)
    shown = {c["id"]: c["text"] for c in inst.wait_dialog("代理验证", 5)["children"]}
    check(shown.get(1000) == user, "the user field holds %r" % shown.get(1000))
    inst.press(prompt, 1)


def run_proxy_wrong_then_right(m, case):
    # First install: a wrong password, remembered for the window's life, so
    # every attempt is refused with the notice and no second prompt.
    inst = install(m)
    answer_prompt(m, inst, PROXY_USER, "wrong-password")
    notices = 0
    while not m.wait_log(r"^\[Execute\] 第2安装结束，安装失败$", 0.5):
        box = inst.wait_dialog("用户名密码验证失败", 0.5)
        if box:
            check(dialog_message(box) == "提示", "the notice reads %r" % dialog_message(box))
            if notices == 0:
                m.s.screenshot(case.name + "-refused")
            inst.press(box, 1)
            check(poll(lambda: not any(w["hwnd"] == box["hwnd"] for w in m.s.windows()), 5, 0.2),
                  "the refusal notice stayed after OK")
            notices += 1
        check(notices <= 3, "more than three refusal notices")
        check(not inst.wait_dialog("代理验证", 0), "the prompt came back although credentials were remembered")
    check(notices == 3, "%d refusal notices, expected one per attempt" % notices)
    refused = [("Normal", r"^\[HttpDownload  HttpQueryInfo\[HTTP_QUERY_STATUS_CODE\]\]  need check username and password$"),
               ("Error", r"^\[HttpDownload  HttpQueryInfo\[HTTP_QUERY_STATUS_CODE\]\]  check username and password "
                         r"failed$"),
               ("Error", r"^\[CSetupDlg::Execute\] download Setupconfig\.txt failed$")]
    expect_failure(m, case, inst, "下载Setupconfig.txt失败", refused, list_requests=0)
    check(m.servers.requests() == [], "the package server was reached with wrong credentials")
    m.end_programs()

    # Second install, a new window: the prompt again, the right password,
    # no further prompt for the other files.
    open(os.path.join(m.work, "squid", "logs", "access.log"), "w").close()
    inst = install(m)
    answer_prompt(m, inst, PROXY_USER, PROXY_PASSWORD)
    note = expect_success(m, case, inst, machine_groups(case.fonts))
    records = m.log()
    check(sum(1 for r in records if r.msg.endswith("check username and password success")) >= 1,
          "no accepted credentials in the log")
    users = proxy_users(m)
    want = expected_requests(case.repo, machine_groups(case.fonts))
    fetched = [u for u in users if u[0] == "200"]
    check([u[1] for u in fetched] == want and all(u[2] == PROXY_USER for u in fetched),
          "through squid: %r" % users)
    return "3 refusals on the first install; the second went through squid as %s; %s" % (PROXY_USER, note)


def run_proxy_cancel(m, case):
    """Cancel (Escape) on the prompt: the download fails, and as nothing was
    remembered every attempt asks again."""
    inst = install(m)
    for attempt in range(3):
        answer_prompt(m, inst, None, None, key="Escape")
        check(m.wait_log(r"^\[Execute\] 第%d安装结束，安装失败$" % attempt, 10), "attempt %d did not end" % attempt)
    cancelled = [("Normal", r"^\[HttpDownload  HttpQueryInfo\[HTTP_QUERY_STATUS_CODE\]\] check username and password "
                            r"cancle$"),
                 ("Error", r"^\[CSetupDlg::Execute\] download Setupconfig\.txt failed$")]
    return expect_failure(m, case, inst, "下载Setupconfig.txt失败", cancelled, list_requests=0)


group("proxy",
      Case("proxy-wrong-then-right", run_proxy_wrong_then_right, prepare=proxy_prepare, cleanup=proxy_cleanup),
      Case("proxy-prompt-cancelled", run_proxy_cancel, prepare=proxy_prepare, cleanup=proxy_cleanup))


# -- group 9: deployment: command line and exit codes ---------------------------------

def unattended(m, command_line, timeout=120):
    """Runs a command line as a deployment tool does; its whole exit code."""
    run = m.s.run(command_line)
    m.installers.append(run)
    check(run.wait(timeout), "%s did not end within %d s" % (command_line, timeout))
    return run.exit_code()


def setup_unattended(m, args, timeout=120):
    """The installer with arguments, the display watched from before its
    start to after its end: no window may appear, not even for a moment."""
    with WindowWatch(m.s) as watch:
        code = unattended(m, setup_command_line(m.s, m.exe, args), timeout)
    check(not watch.mapped(), "FenmoraSetup.exe %s showed windows %r" % (args, watch.mapped()))
    return code


def expect_no_client(m):
    check(not m.client_started(), "the client was started")
    check(not any(p[1].lower() == "ikvlremote.exe" for p in m.s.processes()), "a client process runs")


def run_silent(m, case):
    """/S (and /D= when the case names a root): the install the window would
    make, or its three failed attempts, with no window and no client."""
    if case.expect.get("root"):
        m.settle_root(case.expect["root"])
    code = setup_unattended(m, case.expect["args"])
    check(code == case.expect["code"], "exit code %d, expected %d" % (code, case.expect["code"]))
    if code == 0:
        expect_installed(m, case.repo, machine_groups(case.fonts))
    else:
        expect_attempts_failed(m, case.expect["lines"])
    expect_no_client(m)
    return "exit %d in %s, no window" % (code, m.setup_folder)


def window_state(m, hwnd):
    out = m.s.probe("state", str(hwnd))
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


def run_second_copy(m, case):
    """While one installer waits on its ready page, another ends at once with
    1618, silent or not, showing nothing; without /S it brings the first
    window back to the front (it is minimized first, so that this shows)."""
    with WindowWatch(m.s) as watch:
        first = m.start()
    check(watch.mapped(), "the watch saw no window while the setup window opened")
    hwnd = first.setup_window()["hwnd"]
    m.s.probe("show", str(hwnd), "6")  # SW_MINIMIZE
    check(poll(lambda: window_state(m, hwnd).get("iconic") == "1", 5, 0.2), "the setup window did not minimize")
    for args, want in (("/S", {"iconic": "1", "foreground": "1"}), ("", {"iconic": "0", "foreground": "1"})):
        code = setup_unattended(m, args, timeout=30)
        check(code == 1618, "a second copy with %r exited with %d, not 1618" % (args, code))
        check(window_state(m, hwnd) == want,
              "after a second copy with %r the first window is %r, expected %r" % (args, window_state(m, hwnd), want))
    check(first.running() and first.setup_window(), "the first installer's window is gone")
    check(m.servers.requests() == [], "something was downloaded: %r" % m.servers.requests())
    check(not os.path.exists(m.s.unix(m.setup_folder)), "an install folder was made")
    return "1618 for /S and for the window, no window shown; the first restored by the window copy only"


def run_refused(m, case):
    code = setup_unattended(m, case.expect["args"], timeout=30)
    check(code == 1639, "exit code %d, expected 1639" % code)
    check(m.servers.requests() == [], "something was downloaded: %r" % m.servers.requests())
    check(not os.path.exists(m.s.unix(m.setup_folder)), "an install folder was made")
    expect_nothing_registered(m)
    return "1639, nothing fetched or made"


WINDOWS_LINK = r"C:\Apps"


def windows_link_prepare(m, case):
    """A folder link that leads into the Windows folder, as another user
    could plant it where an administrator deploys to."""
    os.symlink(m.s.unix(r"C:\windows"), m.s.unix(WINDOWS_LINK))


def windows_link_cleanup(m, case):
    if os.path.islink(m.s.unix(WINDOWS_LINK)):
        os.unlink(m.s.unix(WINDOWS_LINK))


def run_silent_client_running(m, case):
    client = start_client_copy(m, m.setup_folder)
    before = tree_digest(m.s.unix(m.setup_folder))
    code = setup_unattended(m, "/S")
    check(code == 32, "exit code %d, expected 32" % code)
    check(tree_digest(m.s.unix(m.setup_folder)) == before, "the running client's folder changed")
    check(client.poll() is None, "the running client was ended")
    check(m.servers.requests() == [], "something was downloaded: %r" % m.servers.requests())
    check(not registered(m), "registered although nothing was installed: %r" % registered(m))
    check(m.wait_log(r"^\[FindProcess\] Path=C:\\Brivex Client\\iKVLRemote\.exe$", 0), "no FindProcess line")
    return "32, nothing changed"


# Chinese in the name: the uninstaller must read the shortcuts' targets
# whole to remove them.
QUIET_ROOT = "R:\\Deploy 部署"


def real_uninstaller_repo(m):
    with open(m.uninstaller_exe, "rb") as f:
        return repolib.standard_repo(m.client_exe, uninstaller=f.read())


def quiet_uninstall_prepare(m, case):
    m.made_folders.append(QUIET_ROOT)


def run_quiet_uninstall(m, case):
    """A silent install into a missing folder named in quotes, then the
    entry's quiet uninstall command run as it is registered."""
    m.settle_root(QUIET_ROOT)
    code = setup_unattended(m, '/S /D="%s"' % QUIET_ROOT)
    check(code == 0, "the silent install exited with %d" % code)
    check(sorted(os.listdir(m.s.unix(QUIET_ROOT))) == ["Brivex Client", "temp"],
          "%s holds %r" % (QUIET_ROOT, os.listdir(m.s.unix(QUIET_ROOT))))
    expect_installed(m, case.repo, machine_groups(case.fonts))
    command = uninstall_quietly(m)
    check(os.listdir(m.s.unix(QUIET_ROOT)) == ["temp"], "%s holds %r" % (QUIET_ROOT, os.listdir(m.s.unix(QUIET_ROOT))))
    return "installed into %s and removed by %s" % (m.setup_folder, command)


def uninstall_quietly(m):
    """Runs the entry's quiet uninstall command as it is registered, until
    the installation is gone; the command."""
    command = m.s.reg_query(UNINSTALL_KEY)["QuietUninstallString"]

    def left():
        # The registered uninstaller hands over to a copy of itself in the
        # temp folder and ends; the copy removes.
        found = registered(m) + ([m.setup_folder] if os.path.exists(m.s.unix(m.setup_folder)) else [])
        return found + [p[2] for p in m.s.processes() if p[1].lower() == "uninstall.exe"]
    with WindowWatch(m.s) as watch:
        code = unattended(m, command, 60)
        gone = poll(lambda: not left(), 30, 0.2)
    check(code == 0, "%s exited with %d" % (command, code))
    check(gone, "left behind: %r" % left())
    check(not watch.mapped(), "the quiet uninstall showed windows %r" % watch.mapped())
    return command


# A failed, refused or stopped re-install changes nothing: the run stages
# beside the install folder and swaps only a verified tree in.

def installed_state(m):
    """The earlier installation as its user and a deployment tool see it."""
    links = [m.s.link(p) for p in (m.desktop + r"\Fenmora.lnk", START_MENU + r"\Fenmora\Fenmora.lnk")]
    return tree_digest(m.s.unix(m.setup_folder)), m.s.reg_query(UNINSTALL_KEY), links


def siblings(m):
    """What runs left beside the install folder under its name."""
    folder = m.s.unix(m.setup_folder)
    name = os.path.basename(folder) + "."
    return sorted(n for n in os.listdir(os.path.dirname(folder)) if n.startswith(name))


def sibling_path(m, name):
    return m.setup_folder.rsplit("\\", 1)[0] + "\\" + name


def install_silently(m, case):
    m.servers.use(m.servers.kind)  # a fresh request log
    code = setup_unattended(m, "/S")
    check(code == 0, "the install exited with %d, not 0" % code)
    expect_installed(m, case.repo, machine_groups(case.fonts))


def expect_unchanged(m, before, code, want_code=1603):
    check(code == want_code, "the re-install exited with %d, not %d" % (code, want_code))
    check(installed_state(m) == before, "the earlier installation, its entry or its shortcuts changed")
    check(not siblings(m), "left beside the install folder: %r" % siblings(m))


def run_failed_reinstall(m, case):
    install_silently(m, case)
    before = installed_state(m)
    m.servers.fault("core.zip", "fail 404 99")
    expect_unchanged(m, before, setup_unattended(m, "/S"))
    return "1603, the earlier tree, entry and shortcuts as they were"


def run_held_reinstall(m, case):
    """The install folder held open, without delete sharing, by another
    program: nothing can move it aside, so nothing is installed; once it is
    let go the next run installs."""
    install_silently(m, case)
    before = installed_state(m)
    event = "FenmoraE2eHold%d" % os.getpid()
    holder = subprocess.Popen(["wine", m.s.probe_exe, "hold", m.setup_folder, event], env=m.s.env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        held = holder.stdout.readline().decode().strip()
        check(held == "held", "the install folder could not be held open: %r" % held)
        code = setup_unattended(m, "/S")
    finally:
        m.s.probe("set-event", event)
        holder.wait(20)
    expect_unchanged(m, before, code)
    check(any(re.match(r"^\[CSetupDlg::Execute\] %s cannot be moved aside: \w+ error=\d+$" %
                       re.escape(m.setup_folder), r.msg) for r in m.log()), "the failed swap is not logged")
    install_silently(m, case)
    return "1603 while held, nothing changed; installed once let go"


def made_beforehand_prepare(m, case):
    """The install folder made beforehand by another user, with a file."""
    folder = m.s.unix(m.setup_folder)
    os.makedirs(folder)
    open(os.path.join(folder, "planted.dll"), "wb").write(b"another user's")


def run_not_adopted(m, case):
    made = os.stat(m.s.unix(m.setup_folder)).st_ino
    install_silently(m, case)
    check(os.stat(m.s.unix(m.setup_folder)).st_ino != made, "installed into the folder made beforehand")
    check(not os.path.exists(m.installed("planted.dll")), "the planted file is in the install folder")
    check(not siblings(m), "left beside the install folder: %r" % siblings(m))
    return "the install folder is the run's own; the one made beforehand is gone"


group("deploy",
      Case("silent-install", run_silent, args="/S", code=0),
      Case("silent-install-to-folder-with-space-and-chinese", run_silent, prepare=browse_prepare,
           args="/S /D=" + CHOSEN_ROOT, root=CHOSEN_ROOT, code=0),
      Case("silent-list-fails", run_silent, server="scripted", prepare=faults({"divozira.txt": "fail 404 99"}),
           args="/S", code=1603, lines=LIST_FAILED),
      Case("silent-disk-full", run_silent, repo=big_package_repo, prepare=small_drive,
           args="/S /D=" + SMALL_DRIVE, root=SMALL_DRIVE, code=112,
           lines=[("Error", r"^\[CSetupDlg::Execute\] WriteFile\(%s\) Error\(112\)$" % archive_path(r"S:\\", "big.zip"))]),
      Case("second-copy", run_second_copy),
      Case("unknown-switch", run_refused, args="/X"),
      Case("relative-folder", run_refused, args="/D=Apps\\Fenmora"),
      Case("folder-in-windows", run_refused, args="/D=C:\\windows\\x"),
      # The snapshot holds the Windows folder's top level: nothing is made there.
      Case("folder-through-a-link-into-windows", run_refused, args="/S /D=" + WINDOWS_LINK + "\\Fenmora",
           prepare=windows_link_prepare, cleanup=windows_link_cleanup),
      *[Case("admin-share " + share, run_refused, args="/S /D=" + share)
        for share in (r"\\localhost\C$\Apps", r"\\127.0.0.1\ADMIN$\Apps", r"\\?\C:\windows\Apps")],
      Case("silent-client-running", run_silent_client_running),
      Case("quiet-uninstall-as-registered", run_quiet_uninstall, repo=real_uninstaller_repo,
           prepare=quiet_uninstall_prepare),
      Case("reinstall-with-a-package-gone-changes-nothing", run_failed_reinstall, server="scripted"),
      Case("reinstall-over-a-held-folder-changes-nothing", run_held_reinstall),
      Case("folder-made-beforehand-is-not-installed-into", run_not_adopted, prepare=made_beforehand_prepare),
      )


# -- group 10: signed releases ---------------------------------------------------

def signed_installer(prepare=None):
    """A prepare step: the installer built with the demo key, then prepare."""
    def run(m, case):
        m.exe = m.signed_exe
        if prepare:
            prepare(m, case)
    return run


def signed_tree(key="demo", serial=1):
    """The generated tree, signed with openssl by the demo key or another."""
    def make(m):
        r = repolib.standard_repo(m.client_exe)
        r.release = (m.release_key if key == "demo" else m.other_key, serial)
        return r
    return make


def signed_demo_repo(m):
    """The demo client as the publishing tool publishes and signs it."""
    return repolib.publish(m.publish_tool, m.demo_client_dir, m.demo_description, m.uninstaller_exe,
                           os.path.join(m.work, "published-signed"), sign_key=m.release_key)


def served(m, name):
    return os.path.join(m.servers.www, repolib.URL_DIR, name)


def release_serial(m):
    with open(served(m, "release.txt")) as f:
        return int(f.readline().split("=")[1])


def run_signed_success(m, case):
    note = run_demo_success(m, case)
    serial = release_serial(m)
    check(m.s.reg_dword(UNINSTALL_KEY, "ReleaseSerial") == serial, "ReleaseSerial is %r, expected %d" %
          (m.s.reg_dword(UNINSTALL_KEY, "ReleaseSerial"), serial))
    expect_in_order(m.log(), [("Normal", r"^\[CSetupDlg::CheckRelease\] release %d verified, 6 files$" % serial),
                              ("Normal", r"^\[CSetupDlg::WriteRegistry\] ReleaseSerial=%d status=0$" % serial)])
    return "release %d; %s" % (serial, note)


def run_unsigned_installer(m, case):
    note = run_demo_success(m, case)
    check(m.s.reg_dword(UNINSTALL_KEY, "ReleaseSerial") is None, "ReleaseSerial written without a key")
    check(not [r for r in m.log() if "Release" in r.msg], "release lines in the log of the installer without a key")
    return "release files ignored; " + note


def expect_only_genuine(m, case):
    """Every file in the install folder is the release's own, and the temp
    folder holds nothing but the log."""
    genuine = dict(case.repo.files_for(machine_groups(case.fonts)), **{"UnInstall.exe": case.repo.uninstaller})
    base = m.s.unix(m.setup_folder)
    for root, _, names in os.walk(base):
        for name in names:
            rel = os.path.relpath(os.path.join(root, name), base).replace(os.sep, "/")
            with open(os.path.join(root, name), "rb") as f:
                check(genuine.get(rel) == f.read(), "%s in the install folder is not the release's" % rel)
    temp = m.s.unix(m.temp_folder)
    left = sorted(n for n in os.listdir(temp) if n.lower() != "log.txt") if os.path.isdir(temp) else []
    check(not left, "left in the temp folder: %r" % left)


def run_forged(m, case):
    note = run_fault(m, case)
    expect_only_genuine(m, case)
    return note


def flip_byte(name):
    def forge(m, case):
        path = served(m, name)
        data = bytearray(open(path, "rb").read())
        data[len(data) // 2] ^= 0x01
        open(path, "wb").write(bytes(data))
    return forge


def grow(name):
    def forge(m, case):
        with open(served(m, name), "ab") as f:
            f.write(os.urandom(1 << 20))
    return forge


def edit_list(name, edit):
    """Rewrites one line of a served UTF-16 list, keeping its size."""
    def forge(m, case):
        path = served(m, name)
        data = open(path, "rb").read()
        lines = data[2:].decode("utf-16-le").split("\r\n")
        lines[0] = edit(lines[0])
        forged = data[:2] + "\r\n".join(lines).encode("utf-16-le")
        check(len(forged) == len(data) and forged != data, "the forged %s is no same-size change" % name)
        open(path, "wb").write(forged)
    return forge


def forge_media_keeping_crc(m, case):
    """media.zip with changed data that keeps the CRC-32 of the installed
    file (filecrc.txt passes it) and of the archive, at the same size."""
    media = next(p for p in case.repo.packages if p.name == "media.zip")
    genuine = media.files["media/intro.bin"]
    marker = b"forged on the way"

    def forge_at(at):
        data = genuine[:at] + marker + genuine[at + len(marker):]
        return repolib.make_zip([("media/intro.bin", repolib.crc_patch(data, at + len(marker),
                                                                        repolib.crc32(genuine)))])

    def keeps_crc(forged):
        return (len(forged) == len(media.data) and repolib.crc32(forged) == repolib.crc32(media.data) and
                forged != media.data)

    # The random data deflate as stored blocks, which keep the file's CRC-32
    # in the archive's; now and then the deflater codes the block around
    # the marker instead, so another place is taken.
    forged = next((f for f in map(forge_at, range(1000, 200_000, 9973)) if keeps_crc(f)), None)
    check(forged, "no forged archive keeps the size and the CRC-32")
    open(served(m, "media.zip"), "wb").write(forged)


def drop(name):
    def forge(m, case):
        os.unlink(served(m, name))
    return forge


def html_page(name):
    def forge(m, case):
        open(served(m, name), "wb").write(b"<!DOCTYPE html><html><body><h1>Sign in to the network</h1></body></html>\n")
    return forge


def run_rollback(m, case):
    """Release 2 installs; the server then goes back to release 1, which is
    refused with the installation left as it was."""
    groups = machine_groups(case.fonts)
    case.repo.release = (m.release_key, 2)
    case.repo.write(m.servers.www)
    expect_success(m, case, install(m), groups)
    check(m.s.reg_dword(UNINSTALL_KEY, "ReleaseSerial") == 2, "release 2 installed, but ReleaseSerial is %r" %
          m.s.reg_dword(UNINSTALL_KEY, "ReleaseSerial"))
    m.end_programs()
    os.unlink(m.installed("started.txt"))
    installed = tree_digest(m.s.unix(m.setup_folder))

    case.repo.release = (m.release_key, 1)
    case.repo.write(m.servers.www)
    m.servers.use(m.servers.kind)
    inst = install(m)
    note = expect_failure(m, case, inst, "下载Setupconfig.txt失败", case.expect["lines"], list_requests=0,
                          registered=True)
    check(m.s.reg_dword(UNINSTALL_KEY, "ReleaseSerial") == 2, "ReleaseSerial changed to %r" %
          m.s.reg_dword(UNINSTALL_KEY, "ReleaseSerial"))
    check(tree_digest(m.s.unix(m.setup_folder)) == installed, "the refused release changed the installation")
    return note


def run_serial_wrong_type(m, case):
    """A serial that is no REG_DWORD is not read as 0: the silent run fails
    its three attempts."""
    m.s.reg("add", UNINSTALL_KEY, "/v", "ReleaseSerial", "/t", "REG_SZ", "/d", "5", "/f")
    code = setup_unattended(m, "/S")
    check(code == 1603, "exit code %d, expected 1603" % code)
    expect_attempts_failed(m, case.expect["lines"], list_requests=0, registered=True)
    check(m.s.reg_query(UNINSTALL_KEY) == {"ReleaseSerial": "5"}, "the uninstall key holds %r" %
          m.s.reg_query(UNINSTALL_KEY))
    return "1603, REG_SZ serial refused"


def run_rollback_after_uninstall(m, case):
    """Release 2 installs silently and is uninstalled; release 1 is then
    refused, as the serial outlives the uninstall key."""
    case.repo.release = (m.release_key, 2)
    case.repo.write(m.servers.www)
    code = setup_unattended(m, "/S")
    check(code == 0, "the silent install of release 2 exited with %d" % code)
    expect_in_order(m.log(), [("Normal", r"^\[CSetupDlg::WriteRegistry\] ReleaseSerial=2 status=0$"),
                              ("Normal", r"^\[CSetupDlg::WriteRegistry\] HKLM\\SOFTWARE\\Fenmora ReleaseSerial=2 "
                                         r"status=0$")])
    uninstall_quietly(m)
    check(m.s.reg_dword(RELEASE_SERIAL_KEY, "ReleaseSerial") == 2, "after the uninstall ReleaseSerial is %r" %
          m.s.reg_dword(RELEASE_SERIAL_KEY, "ReleaseSerial"))

    case.repo.release = (m.release_key, 1)
    case.repo.write(m.servers.www)
    m.servers.use(m.servers.kind)
    code = setup_unattended(m, "/S")
    check(code == 1603, "release 1 after the uninstall exited with %d, expected 1603" % code)
    expect_attempts_failed(m, case.expect["lines"], list_requests=0)
    check(m.s.reg_dword(RELEASE_SERIAL_KEY, "ReleaseSerial") == 2, "ReleaseSerial changed to %r" %
          m.s.reg_dword(RELEASE_SERIAL_KEY, "ReleaseSerial"))
    return "release 2 installed and uninstalled, release 1 refused with 1603"


def sha_mismatch(name):
    return ("Error", r"^\[CSetupDlg::CheckRelease\] %s%s differs from the release: SHA-256 mismatch$" %
            (URL, re.escape(name)))


TOO_LARGE = ("Error", r"^\[HttpDownload  HttpQueryInfo\[HTTP_QUERY_CONTENT_LENGTH\]\]  body too large "
                      r"Content-Length=\d+ max=\d+$")
NOT_VERIFIED = ("Error", r"^\[CSetupDlg::CheckRelease\] release\.sig does not verify release\.txt status=0x[0-9a-f]{8}$")
RELEASE_REFUSED = ("Error", r"^\[CSetupDlg::Execute\] download Setupconfig\.txt failed$")
ROLLBACK_REFUSED = ("Error", r"^\[CSetupDlg::CheckRelease\] release 1 is older than the installed release 2: "
                             r"refused as a rollback$")
CRC_LIST_FAILED = [("Error", r"^\[CAutoSetupDlg::CheckFileCRC\] download filecrc\.txt failed$"),
                   ("Normal", r"^\[CSetupDlg::Execute\] CheckFileCRC failed$")]


UNINSTALLER_FAILED = ("Error", r"^\[CSetupDlg::DownloadUninstallFile\] download UnInstall\.exe failed$")


def run_signed_silent_failure(m, case):
    """A silent run that fails: 1603, nothing registered, nothing forged."""
    code = setup_unattended(m, "/S")
    check(code == 1603, "exit code %r, expected 1603" % code)
    expect_attempts_failed(m, case.expect["lines"])
    expect_only_genuine(m, case)
    return "exit code 1603, no uninstall entry"


def forged(name, forge, text, lines, key="demo", serial=1, list_requests=3):
    """A case of the signed installer against a signed tree changed on its
    way: it fails, with nothing forged in the install folder."""
    return Case(name, run_forged, repo=signed_tree(key, serial), prepare=signed_installer(forge), text=text,
                lines=lines, list_requests=list_requests)


group("signed",
      Case("signed-release-installs", run_signed_success, repo=signed_demo_repo, client="demo",
           prepare=signed_installer()),
      Case("installer-without-key-ignores-release", run_unsigned_installer, repo=signed_demo_repo, client="demo"),
      forged("package-one-byte-changed", flip_byte("core.zip"), "下载core.zip失败",
             package_download_failed("core.zip", sha_mismatch("core.zip"))),
      Case("mirror-package-changed", run_forged, repo=signed_tree(), server="scripted",
           prepare=changed_mirror_prepare, cleanup=mirror_cleanup, text="下载core.zip失败",
           lines=[("Normal", r"^\[CSetupDlg::Execute\] %score\.zip failed, trying %score\.zip$" % (URL, URL)),
                  sha_mismatch("core.zip"),
                  ("Error", r"^\[CSetupDlg::Execute\] download core\.zip failed$")]),
      forged("package-forged-keeping-crc32", forge_media_keeping_crc, "下载media.zip失败",
             package_download_failed("media.zip", sha_mismatch("media.zip"))),
      forged("package-longer-than-released", grow("core.zip"), "下载core.zip失败",
             package_download_failed("core.zip", TOO_LARGE)),
      forged("package-list-changed", edit_list("divozira.txt", lambda l: l.replace("core.zip;1;1", "core.zip;1;4")),
             "下载Setupconfig.txt失败", [sha_mismatch("divozira.txt"), RELEASE_REFUSED]),
      forged("crc-list-changed", edit_list("filecrc.txt", lambda l: l[:-1] + str((int(l[-1]) + 1) % 10)),
             "校验失败", [sha_mismatch("filecrc.txt")] + CRC_LIST_FAILED),
      forged("uninstaller-changed", flip_byte("UnInstall.exe"), "下载UnInstall.exe失败",
             package_download_failed("UnInstall.exe", sha_mismatch("UnInstall.exe"), UNINSTALLER_FAILED)),
      Case("uninstaller-withheld-silent", run_signed_silent_failure, repo=signed_tree(),
           prepare=signed_installer(drop("UnInstall.exe")),
           lines=package_download_failed("UnInstall.exe", STATUS_ERROR, UNINSTALLER_FAILED)),
      forged("release-signed-by-another-key", None, "下载Setupconfig.txt失败", [NOT_VERIFIED, RELEASE_REFUSED],
             key="other", list_requests=0),
      forged("signature-missing", drop("release.sig"), "下载Setupconfig.txt失败",
             [STATUS_ERROR, ("Error", r"^\[CSetupDlg::CheckRelease\] download release\.sig failed$"), RELEASE_REFUSED],
             list_requests=0),
      forged("html-page-for-release", html_page("release.txt"), "下载Setupconfig.txt失败",
             [NOT_VERIFIED, RELEASE_REFUSED], list_requests=0),
      Case("unsigned-server", run_forged, repo=lambda m: repolib.standard_repo(m.client_exe),
           prepare=signed_installer(), text="下载Setupconfig.txt失败", list_requests=0,
           lines=[STATUS_ERROR, ("Error", r"^\[CSetupDlg::CheckRelease\] download release\.txt failed$"),
                  RELEASE_REFUSED]),
      Case("older-release-than-installed", run_rollback, repo=signed_tree(), prepare=signed_installer(),
           lines=[ROLLBACK_REFUSED, RELEASE_REFUSED]),
      Case("release-serial-of-wrong-type", run_serial_wrong_type, repo=signed_tree(), prepare=signed_installer(),
           lines=[("Error", r"^\[CSetupDlg::CheckRelease\] ReleaseSerial in %s is not a REG_DWORD \(type 1\): "
                            r"refused$" % re.escape(UNINSTALL_KEY)), RELEASE_REFUSED]),
      Case("older-release-after-uninstall", run_rollback_after_uninstall, repo=real_uninstaller_repo,
           prepare=signed_installer(), lines=[ROLLBACK_REFUSED, RELEASE_REFUSED]),
      )
