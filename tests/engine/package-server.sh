#!/bin/bash
#   package-server.sh start STATE ROOT PORT | stop STATE
set -u
cmd=$1 state=$2
mkdir -p "$state"
here=$(cd "$(dirname "$0")" && pwd)
case "$cmd" in
start)
    root=$3 port=$4
    mkdir -p "$root"
    "$0" stop "$state"
    python3 "$here/package-server.py" "$port" "$root" "$state/server.pid" </dev/null >"$state/server.log" 2>&1 &
    for _ in $(seq 50); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" && exit 0
        sleep 0.1
    done
    echo "package server did not start" >&2
    exit 1
    ;;
stop)
    [ -f "$state/server.pid" ] && kill "$(cat "$state/server.pid")" 2>/dev/null
    rm -f "$state/server.pid"
    exit 0
    ;;
esac
