#!/bin/bash
# Builds the fuzz targets natively and runs each over its seeds.
#   fuzz/run.sh [-t SECONDS] [-B BUILD_DIR] [TARGET...]
# Every target for 18 s by default (the ten share three minutes), built in
# build/fuzz. The inputs a run finds are kept in BUILD_DIR/corpus/TARGET for
# the next run; an input that crashes, hangs or trips a sanitizer is saved
# in BUILD_DIR/findings/TARGET and fails the run, after the other targets
# had their turn.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=18
build="$root/build/fuzz"
while getopts t:B: opt; do
    case $opt in
        t) seconds=$OPTARG ;;
        B) build=$OPTARG ;;
        *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(release_format item_name command_line package_list crc_list jpeg
    zip_archive end_records range_request mirror_hosts)

cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" -- "${targets[@]}"

failed=()
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    findings="$build/findings/$target"
    log="$build/$target.log"
    mkdir -p "$corpus" "$findings"
    # New inputs go to the first folder; the committed seeds stay as they are.
    if "$build/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "$root/fuzz/seeds/$target" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz $target: $runs inputs in $seconds s, no finding"
    else
        tail -n 40 "$log"
        echo "fuzz $target: FINDING, input saved in $findings, log $log"
        failed+=("$target")
    fi
done
[ ${#failed[@]} -eq 0 ]
