#!/bin/bash
# A real squid on 127.0.0.1 that demands basic proxy authentication, the
# proxy of the tests. It forwards to servers on 127.0.0.1 too.
#   proxy-server.sh start STATE_DIR PORT USER:PASSWORD [USER:PASSWORD...]
#   proxy-server.sh stop STATE_DIR
set -u
. "$(dirname "$0")/pidfile.sh"
cmd=${1:?start or stop}
state=${2:?state directory}
mkdir -p "$state"
state=$(cd "$state" && pwd)

start() {
    local port=${1:?port} pair
    shift
    [ $# -gt 0 ] || { echo "no USER:PASSWORD given" >&2; exit 2; }
    stop_server
    rm -rf "$state/logs"
    mkdir -p "$state/logs"
    : > "$state/htpasswd"
    for pair in "$@"; do
        htpasswd -b "$state/htpasswd" "${pair%%:*}" "${pair#*:}" >/dev/null 2>&1 || { echo "htpasswd failed" >&2; exit 1; }
    done
    local runas=""
    if [ "$(id -u)" = 0 ]; then
        # Squid will not stay root; its workers must still reach the state.
        runas="cache_effective_user proxy"
        chown -R proxy: "$state/logs"
        chmod o+r "$state/htpasswd"
    fi
    cat > "$state/squid.conf" <<CONF
http_port 127.0.0.1:$port
$runas
visible_hostname localhost
pid_filename $state/logs/squid.pid
cache_log $state/logs/cache.log
access_log $state/logs/access.log
cache deny all
cache_mem 8 MB
coredump_dir $state/logs
pinger_enable off
icp_port 0
htcp_port 0
dns_v4_first on
shutdown_lifetime 0 seconds
auth_param basic program /usr/lib/squid/basic_ncsa_auth $state/htpasswd
auth_param basic children 2
auth_param basic realm tests
acl authenticated proxy_auth REQUIRED
acl Safe_ports port 1-65535
http_access deny !Safe_ports
http_access allow authenticated
http_access deny all
CONF
    squid -f "$state/squid.conf" -N >/dev/null 2>&1 </dev/null &
    echo $! > "$state/squid.pid"
    for _ in $(seq 100); do
        if curl -s -o /dev/null -x "http://127.0.0.1:$port" "http://127.0.0.1:$port/" 2>/dev/null; then
            echo "squid on 127.0.0.1:$port"
            return 0
        fi
        kill -0 "$(cat "$state/squid.pid")" 2>/dev/null || break
        sleep 0.1
    done
    echo "squid did not start" >&2
    cat "$state/logs/cache.log" >&2 2>/dev/null
    exit 1
}

stop_server() {
    stop_pidfile "$state/squid.pid"
}

case "$cmd" in
    start) shift 2; start "$@" ;;
    stop) stop_server ;;
    *) echo "usage: $0 start STATE PORT USER:PASSWORD... | stop STATE" >&2; exit 2 ;;
esac
