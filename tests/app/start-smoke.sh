#!/bin/bash
# The installer starts under Wine, settles C:\Brivex Client, writes a fresh
# log file to C:\temp\log.txt, shows its 530x360 window and ends on a click
# at the close glyph.
#   start-smoke.sh STATE_DIR INSTALLER.exe
set -u
state=$(cd "$1" && pwd)
exe=$2
here=$(cd "$(dirname "$0")" && pwd)
export DISPLAY
DISPLAY=$(cat "$state/display")
log="$state/prefix/drive_c/temp/log.txt"

fail() { echo "FAIL: $*"; kill "$pid" 2>/dev/null; exit 1; }

mkdir -p "$state/prefix/drive_c/temp"
printf 'o\0l\0d\0\r\0\n\0' > "$log"

"$here/../harness/wine-run.sh" "$state" "$exe" </dev/null >/dev/null 2>&1 &
pid=$!

win=""
for _ in $(seq 100); do
    win=$(xdotool search --onlyvisible --class FenmoraSetup 2>/dev/null | head -n1)
    [ -n "$win" ] && break
    sleep 0.2
done
[ -n "$win" ] || fail "no window appeared"

eval "$(xdotool getwindowgeometry --shell "$win")"
echo "window $win at $X,$Y size ${WIDTH}x$HEIGHT"
[ "$WIDTH" = 530 ] && [ "$HEIGHT" = 360 ] || fail "window is ${WIDTH}x$HEIGHT, not 530x360"

text=$(iconv -f UTF-16LE -t UTF-8 "$log")
echo "log: $text"
case "$text" in
    old*) fail "the old log file was not replaced" ;;
esac
echo "$text" | grep -q '^\[Normal\]\[.*\]\[CSetupDlg::GetDestPath\] setuppath=C:\\Brivex Client UnInstallPath=C:\\UnInstall Brivex Client' ||
    fail "no GetDestPath line in C:\\temp\\log.txt"

xdotool mousemove --window "$win" 515 12 click 1
for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$pid" 2>/dev/null && fail "the window did not end on a click at the close glyph"
wait "$pid"
echo "PASS"
