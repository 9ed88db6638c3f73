#!/bin/bash
# Builds the installer, serves the demo package repository with nginx on
# 127.0.0.1 and starts the installer under Wine. With a display the user
# clicks; without one it runs under Xvfb and saves a screenshot.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"

build="$root/build"
demo="$build/demo"
port=$(sed -n 's/^SETUP_SERVER_HOST:STRING=.*:\([0-9]*\)$/\1/p' "$build/CMakeCache.txt")
mkdir -p "$demo/server/EX3"

"$root/tests/harness/http-server.sh" start "$demo/nginx" "$demo/server" "$port"
cleanup() {
    "$root/tests/harness/http-server.sh" stop "$demo/nginx" >/dev/null
    "$root/tests/harness/wine-session.sh" stop "$demo/wine" >/dev/null
}
trap cleanup EXIT

exe="$build/app/FenmoraSetup.exe"
if [ -n "${DISPLAY:-}" ]; then
    WINE_SESSION_DISPLAY=$DISPLAY "$root/tests/harness/wine-session.sh" start "$demo/wine"
    "$root/tests/harness/wine-run.sh" "$demo/wine" "$exe"
else
    "$root/tests/harness/wine-session.sh" start "$demo/wine"
    DISPLAY=$(cat "$demo/wine/display")
    export DISPLAY
    "$root/tests/harness/wine-run.sh" "$demo/wine" "$exe" &
    pid=$!
    for _ in $(seq 100); do
        xdotool search --onlyvisible --class FenmoraSetup.exe >/dev/null 2>&1 && break
        sleep 0.2
    done
    sleep 1
    import -window root "$demo/ready.png"
    echo "screenshot of the ready page: $demo/ready.png"
    kill "$pid" 2>/dev/null || true
fi

log="$demo/wine/prefix/drive_c/temp/log.txt"
if [ -f "$log" ]; then
    echo "log file C:\\temp\\log.txt:"
    iconv -f UTF-16LE -t UTF-8 "$log"
fi
