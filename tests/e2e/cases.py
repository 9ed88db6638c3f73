"""The case tables of the end-to-end suite, grouped as the runner takes them."""
import configparser
import os
import re

import repo as repolib
from harness import START_MENU, UNINSTALL_KEY, Failure, check, poll
from machine import CLOSE_POINT, INSTALL_POINT, dialog_message, expect_in_order

GROUPS = {}


class Skip(Exception):
    pass


class Case:
    def __init__(self, name, run, fonts="present", server="nginx", repo=None, prepare=None, cleanup=None):
        self.name = name
        self._run = run
        self.fonts = fonts
        self.server = server
        self.make_repo = repo or (lambda m: repolib.standard_repo(m.client_exe))
        self._prepare = prepare
        self._cleanup = cleanup
        self.repo = None

    def prepare(self, m):
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


def expected_requests(repo, groups):
    names = ["divozira.txt"] + [p.name for p in repo.packages if p.group in groups]
    return names + ["UnInstall.exe", "filecrc.txt"]


def expect_success(m, case, inst, groups, launch=True):
    """Everything a successful install leaves, read from outside."""
    repo = case.repo
    check(inst.wait_end(60), "the installer did not end after the install")
    started = poll(m.client_started, 15, 0.2)
    check(started, "the client did not start")
    check(started[0] == m.setup_folder, "the client started in %r, not in the install folder" % started[0])

    got = m.servers.requests()
    want = expected_requests(repo, groups)
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

    expect_settings(m)
    expect_registration(m)
    expect_shortcuts(m)

    records = m.log()
    check(not [r for r in records if r.level == "Error"], "error lines in the log of a success: %r" %
          [r for r in records if r.level == "Error"])
    url = r"http://127\.0\.0\.1:%d/EX3/" % m.servers.port
    esc = re.escape
    want_lines = [("Normal", r"^\[CSetupDlg::GetDestPath\] setuppath=%s UnInstallPath=" % esc(m.setup_folder)),
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

    # The client starts about a second after the registration, which is the
    # last step before the launch timer.
    registered = found[-1].when
    if registered is not None:
        import datetime
        delay = (datetime.datetime.fromtimestamp(started[1]) - registered).total_seconds()
        check(0.9 <= delay <= 4.0, "the client started %.2f s after the registration, not about 1 s" % delay)
        return "client started %.2f s after the registration" % delay
    return "log time not readable; launch delay not measured"


def expect_settings(m):
    path = m.installed("config/ZUZ.System.config")
    text = open(path, "rb").read().decode("latin-1")
    check(len(re.findall(r"(?mi)^Version=", text)) == 1, "Version is not set exactly once: %r" % text)
    ini = configparser.ConfigParser(strict=False)
    ini.optionxform = str
    ini.read_string(text)
    check(ini.get("Client", "Version", fallback=None) == "016", "settings Version is not 016: %r" % text)
    check(ini.get("Client", "Server", fallback=None) == "main", "the settings lost Client/Server: %r" % text)
    check(ini.get("Window", "Width", fallback=None) == "800", "the settings lost Window/Width: %r" % text)


def expect_registration(m):
    values = m.s.reg_query(UNINSTALL_KEY)
    check(values is not None, "no uninstall key")
    f = m.setup_folder
    want = {"DisplayIcon": f + r"\iKVLRemote.exe", "AppExePath": "iKVLRemote.exe", "DisplayName": "Fenmora",
            "Publisher": "Fenmora", "DisplayVersion": "2.0", "InstallLocation": f + "\\",
            "UninstallString": '"%s\\UnInstall.exe" "%s"' % (f, f)}
    check(values == want, "uninstall key holds %r, expected %r" % (values, want))


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


def run_reinstall(m, case):
    first = install(m)
    expect_success(m, case, first, machine_groups(case.fonts))
    m.end_programs()

    # The user's files: one inside the install folder, one beside it.
    inside = m.installed("saves/slot1.dat")
    os.makedirs(os.path.dirname(inside))
    open(inside, "wb").write(b"user's save")
    beside = m.s.unix(r"C:\Brivex Client notes.txt")
    open(beside, "wb").write(b"user's notes beside the install folder")
    old_only = m.installed("data/readme.txt")
    check(os.path.exists(old_only), "the first install left no data/readme.txt")

    # The second version drops a file and changes the client's data.
    case.repo = repolib.standard_repo(m.client_exe)
    core = case.repo.packages[0]
    del core.files["data/readme.txt"]
    core.files["data/changes.txt"] = b"version 2\r\n"
    case.repo.packages[0] = repolib.Package(core.name, core.group, core.files)
    case.repo.write(m.servers.www)
    m.servers.use(m.servers.kind)

    second = install(m)
    expect_success(m, case, second, machine_groups(case.fonts))
    check(not os.path.exists(inside), "the user's file inside the install folder survived the re-install")
    check(not os.path.exists(old_only), "a file of the earlier version survived the re-install")
    check(open(beside, "rb").read() == b"user's notes beside the install folder",
          "the user's file beside the install folder changed")
    os.unlink(beside)
    return "user's file inside removed, beside kept"


group("success",
      Case("success-font-present", run_success, fonts="present"),
      Case("success-font-absent", run_success, fonts="absent"),
      Case("reinstall-over-earlier", run_reinstall, fonts="present"))
