#!/bin/bash
# A real nginx on 127.0.0.1 serving a folder, the package server of the
# tests and of the demo.
#   http-server.sh start STATE_DIR ROOT_DIR PORT
#   http-server.sh stop STATE_DIR
set -u
. "$(dirname "$0")/pidfile.sh"
cmd=${1:?start or stop}
state=${2:?state directory}
mkdir -p "$state"
state=$(cd "$state" && pwd)

start() {
    local root port
    root=$(cd "${1:?root directory}" && pwd)
    port=${2:?port}
    stop_server
    mkdir -p "$state/tmp"
    cat > "$state/nginx.conf" <<CONF
worker_processes 1;
pid $state/nginx.pid;
error_log $state/error.log warn;
$( [ "$(id -u)" = 0 ] && echo "user root;" )
events { worker_connections 256; }
http {
    access_log $state/access.log;
    client_body_temp_path $state/tmp/body;
    proxy_temp_path $state/tmp/proxy;
    fastcgi_temp_path $state/tmp/fastcgi;
    uwsgi_temp_path $state/tmp/uwsgi;
    scgi_temp_path $state/tmp/scgi;
    types { text/plain txt; application/zip zip; application/octet-stream exe; }
    default_type application/octet-stream;
    sendfile on;
    server {
        listen 127.0.0.1:$port;
        root $root;
    }
}
CONF
    nginx -c "$state/nginx.conf" -p "$state" -e "$state/error.log" || { cat "$state/error.log" >&2; exit 1; }
    for _ in $(seq 50); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" && break
        sleep 0.1
    done
    echo "nginx serving $root on 127.0.0.1:$port"
}

stop_server() {
    stop_pidfile "$state/nginx.pid"
}

case "$cmd" in
    start) shift 2; start "$@" ;;
    stop) stop_server ;;
    *) echo "usage: $0 start STATE ROOT PORT | stop STATE" >&2; exit 2 ;;
esac
