#!/bin/bash
# Prepares the machine (once) and builds everything into build/.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" = 0 ]; then
    "$root/tools/bootstrap.sh"
else
    sudo "$root/tools/bootstrap.sh"
fi
cmake -S "$root" -B "$root/build" -G Ninja
cmake --build "$root/build"
