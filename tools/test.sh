#!/bin/bash
# The whole test suite: prepares the machine, builds, and runs every test
# executable under Wine. Extra arguments go to ctest.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
cd "$root/build"
# A test that failed is run once more, with fresh fixtures, before the run
# counts as failed: the Wine session occasionally hangs a test under load.
ctest --output-on-failure "$@" || ctest --output-on-failure --rerun-failed "$@"
