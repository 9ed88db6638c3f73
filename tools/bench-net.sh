#!/bin/bash
# Download benchmark: HttpDownload under Wine beside curl, both fetching the
# same 5 MiB and 100 MiB files from nginx on 127.0.0.1 in the same run.
# Prints figures only; nothing is asserted.
#   tools/bench-net.sh [ROUNDS_5MIB [ROUNDS_100MIB]]
# NET_BENCH_PORT (default 18184) is the port of the benchmark's nginx.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
rounds_small=${1:-10}
rounds_large=${2:-5}
port=${NET_BENCH_PORT:-18184}
state="$build/bench"
wine_state="$build/wine-session"
harness="$root/tests/harness"

[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja >/dev/null
ninja -C "$build" -j2 net_bench >/dev/null
exe=$(find "$build" -name net_bench.exe | head -n1)

mkdir -p "$state/www/EX3"
[ -f "$state/www/EX3/body-5m.bin" ] || head -c $((5 * 1048576)) /dev/urandom > "$state/www/EX3/body-5m.bin"
[ -f "$state/www/EX3/body-100m.bin" ] || head -c $((100 * 1048576)) /dev/urandom > "$state/www/EX3/body-100m.bin"

# Leave a Wine session that was already running (a test run) as it was.
own_session=1
if [ -f "$wine_state/xvfb.pid" ] && kill -0 "$(cat "$wine_state/xvfb.pid")" 2>/dev/null; then
    own_session=0
fi
"$harness/wine-session.sh" start "$wine_state" >/dev/null
"$harness/http-server.sh" start "$state/nginx" "$state/www" "$port" >/dev/null
cleanup() {
    "$harness/http-server.sh" stop "$state/nginx"
    [ "$own_session" = 1 ] && "$harness/wine-session.sh" stop "$wine_state" >/dev/null
    return 0
}
trap cleanup EXIT

# Runs a command and prints its children's peak resident size in MiB last.
peak_rss() {
    python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=True)
print("%.1f" % (resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024))' "$@"
}

url_small="http://127.0.0.1:$port/EX3/body-5m.bin"
url_large="http://127.0.0.1:$port/EX3/body-100m.bin"

echo "HttpDownload under $(wine --version), 5120-byte reads into a 10 MiB buffer that grows by half again when a body passes it"
peak_rss "$harness/wine-run.sh" "$wine_state" "$exe" "$rounds_small" "$url_small" "$rounds_large" "$url_large" |
    sed '$s/^/Unix side: peak resident MiB of the Wine process tree, Wine included: /'

echo "curl $(curl --version | head -n1 | cut -d' ' -f2), body to /dev/null"
for run in "$rounds_small $url_small 5" "$rounds_large $url_large 100"; do
    set -- $run
    rates=()
    for _ in $(seq "$1"); do
        rates+=("$(curl -s -o /dev/null -w '%{speed_download}' "$2")")
    done
    median=$(printf '%s\n' "${rates[@]}" | sort -g | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)] / 1048576}')
    peak=$(peak_rss curl -s -o /dev/null "$2")
    printf 'curl         %8.1f MiB  median %8.1f MiB/s (%d)  peak resident %s MiB\n' "$3" "$median" "$1" "$peak"
done
