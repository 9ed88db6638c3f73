#!/usr/bin/env python3
"""End-to-end acceptance suite of the installer: the real exe under Wine on
Xvfb, clicked with xdotool, installing from nginx or the scripted package
server on 127.0.0.1, its effects checked from outside.

  e2e.py --build BUILD --state STATE --port PORT GROUP...

Cases share one Wine prefix (made by wine-session.sh start STATE/wine) and
are separated by a reset of the known install state: a fresh prefix per
case would cost 5-10 s each and find nothing more, as the installer writes
only to the places the reset clears (install folder, temp folder, the
uninstall key and the product's key with the release serial, the
shortcuts) and the canaries check the rest of C: after every case."""
import argparse
import os
import shutil
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import Failure, Session, check, diff_digests  # noqa: E402
from machine import Machine, Servers  # noqa: E402
import cases  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--state", required=True)
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--proxy-port", type=int, default=0, help="squid's port (default: the package port + 1)")
    ap.add_argument("--only", default="", help="run only cases whose name contains this")
    ap.add_argument("groups", nargs="+")
    a = ap.parse_args()

    build = os.path.abspath(a.build)
    state = os.path.abspath(a.state)
    ensure_session(state)
    session = Session(os.path.join(state, "wine"), os.path.join(build, "tests", "e2e", "e2e_probe.exe"),
                      os.path.join(state, "screens"))
    servers = Servers(state, a.port)
    m = Machine(session, servers, os.path.join(build, "app", "FenmoraSetup.exe"), state)
    m.proxy_port = a.proxy_port or a.port + 1
    m.client_exe = os.path.join(build, "tests", "wait_helper.exe")
    m.publish_tool = os.path.join(build, "host", "fenmora-publish")
    m.demo_client_dir = os.path.join(build, "demo", "client")
    m.demo_description = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "demo", "publish.ini")
    m.uninstaller_exe = os.path.join(build, "uninstall", "UnInstall.exe")
    # The installer built with the demo key, that key, and one it does not know.
    m.signed_exe = os.path.join(build, "app", "signed-demo", "FenmoraSetup.exe")
    # The installer built with a mirror on the package port + 10.
    m.mirror_exe = os.path.join(build, "app", "mirror-demo", "FenmoraSetup.exe")
    m.signed_mirror_exe = os.path.join(build, "app", "signed-mirror-demo", "FenmoraSetup.exe")
    m.release_key = os.path.join(build, "demo-key", "release-private.pem")
    m.other_key = os.path.join(state, "other-key", "release-private.pem")
    if not os.path.exists(m.other_key):
        shutil.rmtree(os.path.dirname(m.other_key), ignore_errors=True)
        check(subprocess.run([m.publish_tool, "--new-key", os.path.dirname(m.other_key)], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL).returncode == 0, "no second release key")
    m.prepare_session()

    results = []
    try:
        for group in a.groups:
            table = cases.GROUPS[group]
            print("== %s: %d cases" % (group, len(table)), flush=True)
            for case in table:
                if a.only and a.only not in case.name:
                    continue
                results.append(run_case(m, case))
    finally:
        m.end_programs()
        servers.stop()

    failed = [r for r in results if r[1] == "FAIL"]
    skipped = [r for r in results if r[1] == "SKIP"]
    print("== %d cases: %d passed, %d failed, %d skipped" %
          (len(results), len(results) - len(failed) - len(skipped), len(failed), len(skipped)))
    for name, verdict, note in failed + skipped:
        print("  %s %s: %s" % (verdict, name, note.splitlines()[0] if note else ""))
    return 1 if failed else 0


def ensure_session(state):
    """Starts the suite's session unless its display is up (CTest's fixture
    starts it; a run by hand may not have)."""
    pid_file = os.path.join(state, "wine", "xvfb.pid")
    try:
        os.kill(int(open(pid_file).read()), 0)
        return
    except (OSError, ValueError):
        pass
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "e2e-session.sh")
    check(subprocess.run([script, "start", state], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL).returncode
          == 0, "the Wine session did not start")


def run_case(m, case):
    t0 = time.monotonic()
    verdict, note = "PASS", ""
    try:
        m.reset(fonts=case.fonts)
        case.prepare(m)
        before = m.snapshot()
        result = case.run(m)
        m.end_programs()
        changes = diff_digests(before, m.snapshot())
        check(not changes, "outside the install and temp folders:\n  " + "\n  ".join(changes))
        if isinstance(result, str):
            note = result
    except cases.Skip as e:
        verdict, note = "SKIP", str(e)
    except Failure as e:
        verdict, note = "FAIL", str(e)
    except Exception:
        verdict, note = "FAIL", traceback.format_exc()
    finally:
        try:
            case.cleanup(m)
        except Exception:
            pass
    if verdict == "FAIL":
        m.s.screenshot(case.name + "-failed")
        log = "\n".join("  %r" % r for r in m.log()[-40:])
        note += "\n  log:\n" + log
    print("%s %s (%.1f s)%s" % (verdict, case.name, time.monotonic() - t0,
                                ("\n  " + note.replace("\n", "\n  ")) if note else ""), flush=True)
    return case.name, verdict, note


if __name__ == "__main__":
    sys.exit(main())
