#!/bin/bash
# Extraction and CRC figures: UnzipItem under Wine beside native unzip on the
# same archive (50 MiB, 2,000 files), and GetFileCRC over a 100 MiB file.
# Prints figures only; nothing is judged.
#   tools/zip-bench.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work="$build/zip-bench"
state="$build/wine-session"
bench="$build/tests/zip_bench.exe"
[ -f "$bench" ] || ninja -C "$build" tests/zip_bench.exe
command -v unzip >/dev/null || { echo "unzip is missing: run tools/bootstrap.sh" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
python3 - "$work" <<'PY'
import os, random, sys, zipfile
work = sys.argv[1]
rnd = random.Random(4)
# Half noise, half repeated text: about 2:1, as binaries and resources mix.
text = b"".join(b"resource line %d of the client package\n" % i for i in range(700))
with zipfile.ZipFile(os.path.join(work, "bench.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(2000):
        size = 22000 + rnd.randrange(4000)
        data = rnd.randbytes(size) + text[: size]
        z.writestr("d%02d/f%04d.bin" % (i % 40, i), data)
with open(os.path.join(work, "crc.bin"), "wb") as f:
    for _ in range(100):
        f.write(rnd.randbytes(1 << 20))
PY
printf 'archive: %s bytes, %s entries\n' "$(stat -c %s "$work/bench.zip")" \
    "$(unzip -Z1 "$work/bench.zip" | wc -l)"

"$root/tests/harness/wine-session.sh" start "$state" </dev/null >/dev/null 2>&1
winpath() { echo "Z:${1//\//\\}"; }

for run in 1 2 3; do
    rm -rf "$work/out-wine" "$work/out-native"
    echo "run $run"
    start=$(date +%s%N)
    "$root/tests/harness/wine-run.sh" "$state" "$bench" extract "$(winpath "$work/bench.zip")" \
        "$(winpath "$work/out-wine")" </dev/null
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "zip_bench under Wine, start-up included: %.3f s\n", ns / 1e9 }'
    start=$(date +%s%N)
    unzip -q -o "$work/bench.zip" -d "$work/out-native" </dev/null
    end=$(date +%s%N)
    awk -v ns=$((end - start)) -v mib="$(du -sbm "$work/out-native" | cut -f1)" \
        'BEGIN { printf "native unzip: %.3f s (%d MiB on disk)\n", ns / 1e9, mib }'
done
diff -r "$work/out-wine" "$work/out-native" >/dev/null && echo "outputs identical" || echo "OUTPUTS DIFFER"

"$root/tests/harness/wine-run.sh" "$state" "$bench" crc "$(winpath "$work")" crc.bin </dev/null
python3 -c 'import sys, zlib; print("zlib crc32 for comparison: %d" % zlib.crc32(open(sys.argv[1], "rb").read()))' \
    "$work/crc.bin"
rm -rf "$work"
