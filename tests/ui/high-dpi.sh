#!/bin/bash
# Runs the high-DPI window tests of ui_tests with the session at 144 DPI,
# then puts the session's DPI back.
#   high-dpi.sh STATE_DIR ui_tests.exe
set -u
harness=$(cd "$(dirname "$0")/../harness" && pwd)
state=${1:?state directory}
exe=${2:?ui_tests.exe}
"$harness/wine-session.sh" dpi "$state" 144
trap '"$harness/wine-session.sh" dpi "$state" default' EXIT
"$harness/wine-run.sh" "$state" "$exe" --gtest_filter='HighDpi.*' --gtest_color=no
