#!/bin/bash
# The whole product on one machine: builds everything, publishes the demo
# client into build/demo/server/EX3 as a release signed with the demo key
# the build made (build/demo-key), serves it with nginx on 127.0.0.1 at the
# port of the installer's built-in base URL and starts the installer built
# with that key under Wine in a fresh prefix (build/demo/wine).
#
# With a DISPLAY the window opens there and the user clicks; once the
# installer has ended the script prints what was installed and waits until
# the client is closed. Without one it runs under Xvfb, clicks install like
# a user, waits until the client's window appears, prints what was
# installed, and saves screenshots of the ready page (at 96 and at 144 DPI),
# the installing page and the started client in build/demo/. It ends with
# status 1, saying what it waited for, when a step does not happen or a
# part of the installation is missing.
#
#   tools/run-demo.sh [--no-build [BUILD_DIR]] [--headless]
#     --no-build  use a build as it is (build/ unless given; the end-to-end
#                 test passes its own)
#     --headless  run under Xvfb even when there is a DISPLAY
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

do_build=1
headless=0
[ -n "${DISPLAY:-}" ] || headless=1
while [ $# -gt 0 ]; do
    case "$1" in
        --no-build)
            do_build=0
            if [ $# -gt 1 ] && [ "${2#--}" = "$2" ]; then
                build=$(cd "$2" && pwd)
                shift
            fi
            ;;
        --headless) headless=1 ;;
        *) echo "usage: $0 [--no-build [BUILD_DIR]] [--headless]" >&2; exit 2 ;;
    esac
    shift
done
demo="$build/demo"

# The click areas and timings of a user, in the window's client area.
install_x=265 install_y=191        # middle of the install button (168,168)-(363,215)
wait_window=60                     # s for the setup window to appear
wait_installing=15                 # s after the click for the installing page
wait_client=300                    # s for the install and the client's window

fail() {
    echo "FAILED: $*" >&2
    show_log >&2
    exit 1
}

[ "$do_build" = 1 ] && "$root/tools/build.sh"

host=$(sed -n 's/^SETUP_SERVER_HOST:STRING=//p' "$build/CMakeCache.txt")
port=${host##*:}
case "$host" in
    127.0.0.1:*) ;;
    *) echo "the built-in base URL's host is $host; the demo serves on 127.0.0.1 only" >&2; exit 2 ;;
esac

echo "== publishing the demo client, signed with the demo key"
# Every demo installs into a fresh prefix, so its serial may start anew;
# a release left by an earlier demo key would not verify with this one.
rm -rf "$demo/server"
"$build/host/fenmora-publish" --client "$demo/client" --description "$root/demo/publish.ini" \
    --uninstaller "$build/uninstall/UnInstall.exe" --out "$demo/server" \
    --sign-key "$build/demo-key/release-private.pem"

echo "== serving $demo/server on http://$host/"
"$root/tests/harness/http-server.sh" start "$demo/nginx" "$demo/server" "$port"
cleanup() {
    "$root/tests/harness/http-server.sh" stop "$demo/nginx" >/dev/null
    "$root/tests/harness/wine-session.sh" stop "$demo/wine" >/dev/null
}
trap cleanup EXIT

echo "== a fresh Wine prefix in $demo/wine"
state="$demo/wine"
"$root/tests/harness/wine-session.sh" stop "$state" >/dev/null
rm -rf "$state" "$demo"/*.png
if [ "$headless" = 1 ]; then
    "$root/tests/harness/wine-session.sh" start "$state" </dev/null
else
    WINE_SESSION_DISPLAY=$DISPLAY "$root/tests/harness/wine-session.sh" start "$state" </dev/null
fi
export WINEPREFIX="$state/prefix" WINEDEBUG=-all
DISPLAY=$(cat "$state/display")
export DISPLAY
drive_c="$WINEPREFIX/drive_c"
setup="$drive_c/Brivex Client"

wine_reg() {
    wine reg "$@" /reg:32 2>/dev/null </dev/null | tr -d '\r'
}

# A folder named by a Shell Folders value, as a Unix path.
shell_folder() {
    local windows
    windows=$(wine_reg query "$1" /v "$2" | sed -n "s/^ *$2 *REG_SZ *//p")
    [ -n "$windows" ] && winepath -u "$windows" 2>/dev/null </dev/null
}

show_log() {
    local log="$drive_c/temp/log.txt"
    if [ -f "$log" ]; then
        echo "-- log file C:\\temp\\log.txt"
        iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r' | sed '1s/^\xEF\xBB\xBF//'
    else
        echo "-- no log file C:\\temp\\log.txt"
    fi
}

# What the installer made, and whether every part of it is there.
report() {
    local missing=""
    echo "== installed files in C:\\Brivex Client"
    if [ -d "$setup" ]; then
        (cd "$setup" && find . -type f -printf '%10s  %P\n' | sort -k2)
        echo "-- settings file config/ZUZ.System.config"
        tr -d '\r' < "$setup/config/ZUZ.System.config" || true
    fi
    for f in iKVLRemote.exe UnInstall.exe favicon.ico config/ZUZ.System.config skin/font.ini skin/readme.txt; do
        [ -f "$setup/$f" ] || missing="$missing\n  file C:\\Brivex Client\\$f"
    done
    grep -q '^Version=016' "$setup/config/ZUZ.System.config" 2>/dev/null ||
        missing="$missing\n  Version=016 in [Client] of the settings file"

    echo "== registry: HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brivex Client"
    local key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Brivex Client'
    local values
    values=$(wine_reg query "$key")
    echo "$values" | sed '/^$/d'
    echo "$values" | grep -q 'DisplayName *REG_SZ *Fenmora' || missing="$missing\n  the uninstall entry \"Brivex Client\""
    echo "$values" | grep -q 'ReleaseSerial *REG_DWORD' || missing="$missing\n  ReleaseSerial in the uninstall entry"

    echo "== shortcuts"
    local desktop programs
    desktop=$(shell_folder 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' Desktop)
    programs=$(shell_folder 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' 'Common Programs')
    for link in "$desktop/Fenmora.lnk" "$programs/Fenmora/Fenmora.lnk" "$programs/Fenmora/卸载Fenmora.lnk"; do
        if [ -f "$link" ]; then
            # The target is the first UTF-16 path to an .exe in the file.
            echo "  ${link#"$drive_c"/} -> $(strings -e l "$link" | grep -m1 -i '\.exe')"
        else
            missing="$missing\n  shortcut ${link#"$drive_c"/}"
        fi
    done
    show_log
    if [ -n "$missing" ]; then
        echo -e "FAILED: missing after the installation:$missing" >&2
        return 1
    fi
}

# The first visible X window of a class, once it shows:
#   wait_for_window CLASS SECONDS WHAT
wait_for_window() {
    local found=""
    for _ in $(seq $(($2 * 5))); do
        found=$(xdotool search --onlyvisible --class "$1" 2>/dev/null | head -n1) || true
        [ -n "$found" ] && break
        sleep 0.2
    done
    [ -n "$found" ] || fail "waited $2 s $3 (X class $1); it did not appear"
    echo "$found"
}

setup_window() {
    wait_for_window FenmoraSetup "$wait_window" "for the setup window"
}

exe="$build/app/signed-demo/FenmoraSetup.exe"

# The ready page as on a laptop at 150 %: the installer once with the
# session at 144 DPI, closed with Escape, before the install.
if [ "$headless" = 1 ]; then
    echo "== the ready page at 144 DPI"
    "$root/tests/harness/wine-session.sh" dpi "$state" 144
    "$root/tests/harness/wine-run.sh" "$state" "$exe" </dev/null >"$demo/installer-144dpi.out" 2>&1 &
    installer=$!
    win=$(setup_window)
    size=$(xdotool getwindowgeometry "$win" | sed -n 's/^ *Geometry: *//p')
    [ "$size" = 795x540 ] || fail "the setup window at 144 DPI is $size, not 795x540"
    sleep 1
    import -window "$win" "$demo/ready-144dpi.png"
    echo "screenshot of the ready page at 144 DPI: $demo/ready-144dpi.png"
    xdotool windowfocus --sync "$win" key Escape
    wait "$installer" || true
    "$root/tests/harness/wine-session.sh" dpi "$state" default
fi

echo "== starting the installer"
"$root/tests/harness/wine-run.sh" "$state" "$exe" </dev/null >"$demo/installer.out" 2>&1 &
installer=$!

if [ "$headless" = 0 ]; then
    echo "The setup window is on $DISPLAY: click the install button."
    wait "$installer" || true
    sleep 2
    report || exit 1
    echo "Close the client window to end the demo."
    while xdotool search --onlyvisible --class ikvlremote >/dev/null 2>&1; do
        sleep 1
    done
    exit 0
fi

win=$(setup_window)
echo "setup window $win"

# The pointer rests on the button before the picture is taken, so that a
# hover look does not count as the page change the click must bring.
xdotool mousemove --window "$win" "$install_x" "$install_y"
sleep 1
import -window "$win" "$demo/ready.png"
echo "screenshot of the ready page: $demo/ready.png"
xdotool click 1

changed=0
for _ in $(seq $((wait_installing * 5))); do
    sleep 0.2
    if ! import -window "$win" "$demo/installing.png" 2>/dev/null; then
        rm -f "$demo/installing.png"
        fail "the setup window closed before its installing page was seen"
    fi
    if [ "$(compare -metric AE "$demo/ready.png" "$demo/installing.png" null: 2>&1 || true)" != 0 ]; then
        changed=1
        break
    fi
done
if [ "$changed" = 0 ]; then
    rm -f "$demo/installing.png"
    fail "waited ${wait_installing} s after the click at ($install_x,$install_y) in the setup window for the installing page; the window did not change"
fi
echo "screenshot of the installing page: $demo/installing.png"

client=$(wait_for_window ikvlremote "$wait_client" "after the click for the window of the started client")
sleep 1
import -window "$client" "$demo/client.png"
title=$(xdotool getwindowname "$client")
echo "screenshot of the started client \"$title\": $demo/client.png"

for _ in $(seq 50); do
    kill -0 "$installer" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$installer" 2>/dev/null && fail "the installer did not end after starting the client"

report || exit 1
case "$title" in
    "Fenmora 016 - C:\\Brivex Client") ;;
    *) fail "the client's window says \"$title\", not \"Fenmora 016 - C:\\Brivex Client\"" ;;
esac
echo "PASS: installed, registered and started"
