#!/bin/bash
# The end-to-end suite's own Wine session (prefix, wineserver, Xvfb), a
# small tmpfs as drive S: for the full-disk cases, and the servers its cases
# start, below one state folder.
#   e2e-session.sh start STATE
#   e2e-session.sh stop STATE
set -u
cmd=${1:?start or stop}
state=${2:?state directory}
harness=$(cd "$(dirname "$0")/../harness" && pwd)
mkdir -p "$state"
state=$(cd "$state" && pwd)
disk=$state/small-disk
# Room for a few hundred KiB of packages and the log, not for the cases'
# big package or the zip bomb.
disk_size=3m

start() {
    mkdir -p "$disk"
    rm -f "$state/small-disk.err"
    if ! mountpoint -q "$disk" && ! mount -t tmpfs -o size=$disk_size,mode=0755 tmpfs "$disk" 2>"$state/small-disk.err"; then
        echo "no small drive S: (the full-disk cases will skip): $(cat "$state/small-disk.err")"
    fi
    "$harness/wine-session.sh" start "$state/wine" || exit 1
    # Wine lists the drives it found when the session started: a new drive
    # needs one restart.
    local link="$state/wine/prefix/dosdevices/s:"
    if [ "$(readlink "$link")" != "$disk" ]; then
        ln -sfn "$disk" "$link"
        WINEPREFIX="$state/wine/prefix" wineserver -k >/dev/null 2>&1 </dev/null
        "$harness/wine-session.sh" start "$state/wine" || exit 1
    fi
}

stop() {
    "$harness/http-server.sh" stop "$state/nginx" >/dev/null 2>&1
    "$(dirname "$0")/../engine/package-server.sh" stop "$state/scripted" >/dev/null 2>&1
    "$harness/proxy-server.sh" stop "$state/squid" >/dev/null 2>&1
    "$harness/wine-session.sh" stop "$state/wine"
    mountpoint -q "$disk" && umount "$disk"
    return 0
}

case "$cmd" in
    start) start ;;
    stop) stop ;;
    *) echo "usage: $0 start|stop STATE" >&2; exit 2 ;;
esac
