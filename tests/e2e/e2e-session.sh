#!/bin/bash
# The end-to-end suite's own Wine session (prefix, wineserver, Xvfb) and the
# servers its cases start, below one state folder.
#   e2e-session.sh start STATE
#   e2e-session.sh stop STATE
set -u
cmd=${1:?start or stop}
state=${2:?state directory}
harness=$(cd "$(dirname "$0")/../harness" && pwd)
mkdir -p "$state"
case "$cmd" in
start)
    exec "$harness/wine-session.sh" start "$state/wine"
    ;;
stop)
    "$harness/http-server.sh" stop "$state/nginx" >/dev/null 2>&1
    "$(dirname "$0")/../engine/package-server.sh" stop "$state/scripted" >/dev/null 2>&1
    "$harness/proxy-server.sh" stop "$state/squid" >/dev/null 2>&1
    exec "$harness/wine-session.sh" stop "$state/wine"
    ;;
*) echo "usage: $0 start|stop STATE" >&2; exit 2 ;;
esac
