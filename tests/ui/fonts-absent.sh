#!/bin/bash
# Runs the font tests of ui_tests with the session's replacements for the
# Chinese faces removed (no "微软雅黑" on the machine), then restores them.
#   fonts-absent.sh STATE_DIR ui_tests.exe
set -u
harness=$(cd "$(dirname "$0")/../harness" && pwd)
state=${1:?state directory}
exe=${2:?ui_tests.exe}
"$harness/wine-session.sh" fonts "$state" absent
trap '"$harness/wine-session.sh" fonts "$state" present' EXIT
UI_TEST_FONTS=absent "$harness/wine-run.sh" "$state" "$exe" --gtest_filter='Fonts.PackageGroupsFollowTheFace' --gtest_color=no
