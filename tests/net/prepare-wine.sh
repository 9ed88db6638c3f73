#!/bin/bash
# Settings of the test session for net_tests.exe. There is no window
# manager under Xvfb: Wine draws the captions itself (so that the prompt's
# close box is there to click), and the windows are unmanaged (so that
# closing one does not wait for a window manager that never answers).
#   prepare-wine.sh WINE_STATE_DIR
set -eu
run="$(cd "$(dirname "$0")/../harness" && pwd)/wine-run.sh"
key='HKCU\Software\Wine\AppDefaults\net_tests.exe\X11 Driver'
"$run" "${1:?wine state directory}" reg add "$key" /v Decorated /d N /f >/dev/null 2>&1 </dev/null
"$run" "$1" reg add "$key" /v Managed /d N /f >/dev/null 2>&1 </dev/null
echo "net_tests.exe: captions drawn by Wine, windows unmanaged"
