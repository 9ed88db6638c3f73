#!/bin/bash
# The servers of the network tests, all on 127.0.0.1: nginx serving made-up
# files below /EX3/, squid with basic proxy authentication, and the scripted
# fault server.
#   net-servers.sh start STATE_DIR NGINX_PORT PROXY_PORT FAULT_PORT USER:PASSWORD...
#   net-servers.sh stop STATE_DIR
set -u
cmd=${1:?start or stop}
state=${2:?state directory}
here=$(cd "$(dirname "$0")" && pwd)
harness=$(cd "$here/../harness" && pwd)
mkdir -p "$state"
state=$(cd "$state" && pwd)

start() {
    local nginx_port=${1:?} proxy_port=${2:?} fault_port=${3:?}
    shift 3
    stop
    mkdir -p "$state/www/EX3" "$state/scratch"
    chmod 777 "$state/scratch"
    printf 'hello from nginx\n' > "$state/www/EX3/hello.txt"
    head -c 777777 /dev/urandom > "$state/www/EX3/random-777k.bin"
    head -c $((12 * 1048576 + 12345)) /dev/urandom > "$state/www/EX3/random-12m.bin"

    "$harness/http-server.sh" start "$state/nginx" "$state/www" "$nginx_port" || exit 1
    "$harness/proxy-server.sh" start "$state/squid" "$proxy_port" "$@" || exit 1
    python3 "$here/fault-server.py" "$fault_port" "$state/fault.pid" </dev/null >"$state/fault.log" 2>&1 &
    for _ in $(seq 50); do
        curl -s -o /dev/null "http://127.0.0.1:$fault_port/status/404" && break
        sleep 0.1
    done
    curl -s -o /dev/null "http://127.0.0.1:$fault_port/status/404" || { echo "fault server did not start" >&2; exit 1; }
    echo "fault server on 127.0.0.1:$fault_port"
}

stop() {
    "$harness/http-server.sh" stop "$state/nginx"
    "$harness/proxy-server.sh" stop "$state/squid"
    if [ -f "$state/fault.pid" ]; then
        kill "$(cat "$state/fault.pid")" 2>/dev/null
        rm -f "$state/fault.pid"
    fi
    return 0
}

case "$cmd" in
    start) shift 2; start "$@" ;;
    stop) stop ;;
    *) echo "usage: $0 start STATE NGINX_PORT PROXY_PORT FAULT_PORT USER:PASSWORD... | stop STATE" >&2; exit 2 ;;
esac
