#!/bin/bash
# Starts or stops the Wine session the tests run in: a prefix of the build's
# own, a persistent wineserver, the CJK font replacements and an Xvfb display.
#   wine-session.sh start STATE_DIR
#   wine-session.sh stop STATE_DIR
#   wine-session.sh fonts STATE_DIR present|absent
#   wine-session.sh dpi STATE_DIR DPI|default
# WINE_SESSION_DISPLAY=:0 uses that display instead of starting Xvfb.
set -u
cmd=${1:?start or stop}
state=${2:?state directory}
mkdir -p "$state"
state=$(cd "$state" && pwd)

export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8

# Whether the session's Xvfb still serves its display: the server's lock
# file names its process (a dead server's number may have been reused).
own_display() {
    local n pid
    n=$(sed 's/^://' "$state/display" 2>/dev/null) && pid=$(cat "$state/xvfb.pid" 2>/dev/null) || return 1
    [ -n "$pid" ] && [ "$(tr -d ' \n' < "/tmp/.X$n-lock" 2>/dev/null)" = "$pid" ] && [ -e "/tmp/.X11-unix/X$n" ]
}

# Starts Xvfb on the first free display from :90. Another session may pick
# the same number at the same moment: the display is this session's only
# once the lock file names this server; else the next number is tried.
start_xvfb() {
    local n pid
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        pid=$!
        echo "$pid" > "$state/xvfb.pid"
        echo ":$n" > "$state/display"
        for _ in $(seq 50); do
            own_display && return 0
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$pid" 2>/dev/null
    done
    return 1
}

start() {
    if [ -n "${WINE_SESSION_DISPLAY:-}" ]; then
        # Use the caller's own display instead of a virtual one.
        echo "$WINE_SESSION_DISPLAY" > "$state/display"
    elif ! own_display; then
        start_xvfb || { echo "no free X display" >&2; exit 1; }
    fi
    export DISPLAY
    DISPLAY=$(cat "$state/display")

    # A run that was killed (a test past its time-out) can leave its Windows
    # processes in a persistent server; start from a clean one.
    wineserver -k >/dev/null 2>&1 </dev/null
    # Wine's helper processes inherit whatever output they start with; keep
    # them away from the caller's pipes. A server Wine starts itself has
    # the descriptor limit its client raised to the hard one; so has this.
    (ulimit -Sn "$(ulimit -Hn)" 2>/dev/null; exec wineserver -p >/dev/null 2>&1 </dev/null)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1 </dev/null
        # The first boot of a prefix ends by starting the service manager
        # a second time, while the first one's drivers still run: the new
        # one waits out a start time-out per driver, about fifteen seconds
        # in all, holding its database. The first COM call of a program
        # then cannot start the RPC service and gives up after about ten
        # seconds (the installer's start of the client through the
        # desktop shell). A session ended and booted afresh starts them
        # at once.
        wineserver -k >/dev/null 2>&1 </dev/null
        (ulimit -Sn "$(ulimit -Hn)" 2>/dev/null; exec wineserver -p >/dev/null 2>&1 </dev/null)
    fi
    wineboot >/dev/null 2>&1 </dev/null
    # R: is a drive of the tests' own, for machines without a C: drive in
    # the list and for installs that must not touch C:.
    mkdir -p "$state/drive_r"
    ln -sfn "$state/drive_r" "$WINEPREFIX/dosdevices/r:"
    set_fonts present
    # Wine's menu builder would copy every shortcut a test or the demo saves
    # into the host's menus and desktop, and, running later, write the real
    # folders back into the Shell Folders key a test has pointed elsewhere.
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d '' /f \
        >/dev/null 2>&1 </dev/null
    # A crashing program prints its backtrace and ends; the crash dialog
    # would wait for a click nobody gives until the test times out.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1 </dev/null
    echo "wine session ready: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY"
}

# The two Chinese faces the installer asks for are not on Linux; a font
# replacement makes both the GDI and the GDI+ lookups find them.
set_fonts() {
    local reg="$state/fonts.reg"
    if [ "$1" = present ]; then
        printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"宋体"="WenQuanYi Zen Hei"\r\n"微软雅黑"="WenQuanYi Zen Hei"\r\n"SimSun"="WenQuanYi Zen Hei"\r\n"Microsoft YaHei"="WenQuanYi Zen Hei"\r\n' |
            iconv -f UTF-8 -t UTF-16 > "$reg"
    else
        printf 'Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n' |
            iconv -f UTF-8 -t UTF-16 > "$reg"
    fi
    wine regedit /S "$reg" >/dev/null 2>&1 </dev/null
}

# The DPI programs started from now on see (LogPixels); "default" is 96.
set_dpi() {
    local key='HKCU\Control Panel\Desktop'
    if [ "$1" = default ]; then
        wine reg delete "$key" /v LogPixels /f
    else
        wine reg add "$key" /v LogPixels /t REG_DWORD /d "$1" /f
    fi >/dev/null 2>&1 </dev/null
}

stop() {
    wineserver -k >/dev/null 2>&1 </dev/null
    if [ -f "$state/xvfb.pid" ]; then
        # Only while the number is still an Xvfb's: a process ID is reused.
        local pid
        pid=$(cat "$state/xvfb.pid")
        [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ] && kill "$pid" 2>/dev/null
        rm -f "$state/xvfb.pid"
    fi
    echo "wine session stopped"
}

case "$cmd" in
    start) start ;;
    stop) stop ;;
    fonts) DISPLAY=$(cat "$state/display"); export DISPLAY; set_fonts "${3:?present or absent}" ;;
    dpi) set_dpi "${3:?a DPI or default}" ;;
    *) echo "usage: $0 start|stop|fonts|dpi STATE_DIR [present|absent|DPI|default]" >&2; exit 2 ;;
esac
