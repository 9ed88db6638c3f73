#!/bin/bash
# The whole test suite: prepares the machine, builds, and runs every test
# executable under Wine. Extra arguments go to ctest.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
cd "$root/build"
ctest --output-on-failure "$@"
