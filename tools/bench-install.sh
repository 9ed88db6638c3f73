#!/bin/bash
# Install benchmark: the installer beside the bare steps of its work and
# beside a peer installer (NSIS 3, the same client's files embedded), under
# the same Wine, on a reference client served by nginx on 127.0.0.1.
# Prints figures only; nothing is judged.
#   tools/bench-install.sh [RUNS [BUILD_DIR]]
# BENCH_INSTALLER=PATH times another build of FenmoraSetup.exe (another
# commit's) in place of BUILD_DIR's, for figures before and after a change.
# BENCH_LARGE=1 adds one silent install of a client of one 1.25 GiB
# package (about 5 GiB of disk in BUILD_DIR, some minutes); with RUNS 0
# only that.
# The client (2,003 files, eight packages) comes from a seeded generator
# (tests/bench/install-bench.py), is published with fenmora-publish and
# served on the port of SETUP_SERVER_HOST. The session of its own
# (BUILD_DIR/bench-install: Wine prefix, wineserver, Xvfb) is stopped again.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
build=$(cd "${2:-$root/build}" && pwd)
state="$build/bench-install"
harness="$root/tests/harness"
driver="$root/tests/bench/install-bench.py"
seed=2003

host=$(sed -n 's/^SETUP_SERVER_HOST:[A-Z]*=//p' "$build/CMakeCache.txt")
port=${host##*:}
[ "${host%%:*}" = 127.0.0.1 ] && [ "$port" != "$host" ] ||
    { echo "SETUP_SERVER_HOST must be 127.0.0.1:PORT, not '$host'" >&2; exit 1; }
# makensis, from the bootstrap's benchmark packages.
if ! command -v makensis >/dev/null; then
    if [ "$(id -u)" = 0 ]; then "$root/tools/bootstrap.sh" bench; else sudo "$root/tools/bootstrap.sh" bench; fi
fi
ninja -C "$build" setup uninstaller host_tools bare_steps minimal_window demo_client >/dev/null

mkdir -p "$state"
stamp="$seed $(md5sum < "$driver" | cut -d' ' -f1)"
if [ "$(cat "$state/client.stamp" 2>/dev/null)" != "$stamp" ]; then
    python3 "$driver" client "$seed" "$build/demo/iKVLRemote.exe" "$state"
    echo "$stamp" > "$state/client.stamp"
fi
"$build/host/fenmora-publish" --client "$state/client" --description "$state/publish.ini" \
    --uninstaller "$build/uninstall/UnInstall.exe" --out "$state/www" >/dev/null
raw=$(du -sb --apparent-size "$state/client" | cut -f1)
packed=$(cat "$state"/www/EX3/*.zip | wc -c)
awk -v files="$(find "$state/client" -type f | wc -l)" -v raw="$raw" -v packed="$packed" \
    -v n="$(ls "$state"/www/EX3/*.zip | wc -l)" \
    'BEGIN { printf "reference client: %d files, %.1f MB raw, %.1f MB in %d deflated packages\n", files, raw / 1e6, packed / 1e6, n }'

# The peer: the same files embedded with zlib, into the /D= folder, silent
# with /S.
cat > "$state/peer.nsi" <<NSI
Unicode true
SetCompressor zlib
Name "Brivex Client"
OutFile "$state/peer-setup.exe"
InstallDir "\$PROGRAMFILES\\Brivex Client"
RequestExecutionLevel admin
Section
    SetOutPath "\$INSTDIR"
    File /r "$state/client/*"
SectionEnd
NSI
makensis -V1 "$state/peer.nsi"
echo "peer installer: NSIS $(makensis -VERSION), zlib, $(($(stat -c %s "$state/peer-setup.exe") / 1000000)) MB"

if [ "${BENCH_LARGE:-0}" = 1 ]; then
    large="$state/large"
    mkdir -p "$large"
    if [ "$(cat "$large/client.stamp" 2>/dev/null)" != "$stamp" ]; then
        python3 "$driver" large-client "$seed" "$build/demo/iKVLRemote.exe" "$large"
        "$build/host/fenmora-publish" --client "$large/client" --description "$large/publish.ini" \
            --uninstaller "$build/uninstall/UnInstall.exe" --out "$large/www" >/dev/null
        echo "$stamp" > "$large/client.stamp"
    fi
fi

# nginx as the tests run it, with each request's end and duration logged.
. "$harness/pidfile.sh"
mkdir -p "$state/nginx/tmp"
cat > "$state/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $state/nginx/nginx.pid;
error_log $state/nginx/error.log warn;
$( [ "$(id -u)" = 0 ] && echo "user root;" )
events { worker_connections 64; }
http {
    log_format timed '\$msec \$request_time \$status \$uri \$body_bytes_sent';
    access_log $state/nginx/access.log timed;
    client_body_temp_path $state/nginx/tmp/body;
    proxy_temp_path $state/nginx/tmp/proxy;
    fastcgi_temp_path $state/nginx/tmp/fastcgi;
    uwsgi_temp_path $state/nginx/tmp/uwsgi;
    scgi_temp_path $state/nginx/tmp/scgi;
    types { text/plain txt; application/zip zip; application/octet-stream exe; }
    default_type application/octet-stream;
    sendfile on;
    server {
        listen 127.0.0.1:$port;
        root $state/serve;
    }
}
CONF
stop_pidfile "$state/nginx/nginx.pid"
# The tree served: the reference client's, for the large row the large one's.
ln -sfn www "$state/serve"
nginx -c "$state/nginx/nginx.conf" -p "$state/nginx" -e "$state/nginx/error.log"
cleanup() {
    stop_pidfile "$state/nginx/nginx.pid"
    "$harness/wine-session.sh" stop "$state/wine" >/dev/null
}
trap cleanup EXIT
"$harness/wine-session.sh" start "$state/wine" >/dev/null
echo "$(wine --version), $(nproc) cores; each run: bare download, bare extraction, bare CRC, installer /S, peer /S, minimal window, installer through its window"
echo "installer: ${BENCH_INSTALLER:-$build/app/FenmoraSetup.exe}"

if [ "$runs" -gt 0 ]; then
    python3 "$driver" runs "$runs" "$state" "$build" "$port"
fi
if [ "${BENCH_LARGE:-0}" = 1 ]; then
    echo
    ln -sfn large/www "$state/serve"
    python3 "$driver" large "$state" "$build"
fi
