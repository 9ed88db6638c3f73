#!/bin/bash
# Runs a Windows program in the test session started by wine-session.sh.
#   wine-run.sh STATE_DIR PROGRAM.exe [ARGS...]
set -u
state=$(cd "${1:?state directory}" && pwd) || exit 2
shift
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8
if [ -f "$state/display" ]; then
    DISPLAY=$(cat "$state/display")
    export DISPLAY
fi
exec wine "$@"
