#!/bin/bash
# The installer is run, usually elevated, from a download folder. It must
# not load a DLL planted beside it, neither at start-up nor later.
#   dll-planting.sh STATE_DIR FenmoraSetup.exe planted.dll load-probe.exe OBJDUMP "DELAY-LOADED DLLS"
set -u
state=$(cd "${1:?state directory}" && pwd)
setup=${2:?installer}
planted=${3:?planted dll}
probe=${4:?load probe}
objdump=${5:?objdump}
delayloaded=${6:?delay-loaded DLLs}

fail() {
    echo "FAIL: $*"
    exit 1
}

check_no_planted_loaded() {
    local loaded
    loaded=$(cd "$dir" && ls ./*.loaded 2>/dev/null | sed 's|^\./||; s|\.loaded$||')
    [ -z "$loaded" ] || fail "the installer loaded planted DLLs: $(echo $loaded)"
}

# 1. At start-up the loader resolves the import table before any code of
#    the installer runs. Only DLLs the system always takes from System32
#    (on the KnownDLLs list of every Windows from 7 on) may be there, and
#    ntdll, which the system maps into every process before its loader runs.
known=" advapi32 comdlg32 gdi32 imagehlp imm32 kernel32 msvcrt normaliz nsi ntdll ole32 oleaut32 psapi rpcrt4
 sechost setupapi shell32 shlwapi user32 wldap32 ws2_32 "
imports=$("$objdump" -p "$setup" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
[ -n "$imports" ] || fail "no import table read from $setup"
for dll in $imports; do
    case "$known" in
        *" $dll "*) ;;
        *) fail "$dll.dll is imported at start-up and would be looked for beside the installer" ;;
    esac
done
echo "start-up imports, all known to the system: $(echo $imports)"

# 2. Plant what the installer loads after start-up: its delay-loaded DLLs,
#    and uxtheme.dll, which the window system loads for every window.
#    Wine's own DLLs pull in further DLLs (gdiplus: windowscodecs.dll,
#    propsys.dll) through a path that ignores the process's search
#    restriction; Windows' gdiplus needs neither, so they are not planted.
dir=$(dirname "$setup")/dll-planting
rm -rf "$dir"
mkdir -p "$dir"
names="$delayloaded uxtheme"
for name in $names; do
    cp "$planted" "$dir/$name.dll"
done
cp "$setup" "$dir/"
cp "$probe" "$dir/"

export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
export LANG=C.UTF-8 LC_ALL=C.UTF-8
DISPLAY=$(cat "$state/display")
export DISPLAY
# Native first, so Wine's built-in DLLs do not hide a planted one; no
# debugger on a crash.
export WINEDLLOVERRIDES="$(echo $names | tr ' ' ',')=n,b;winedbg.exe=d;mscoree,mshtml="
# Wine's helper processes inherit the working folder; the plant stays out
# of their search path.
cd "$state" || fail "no folder $state"

# 3. Control: a program without the restriction does pick the planted
#    DLLs up from its folder, so the check below can see a fault.
timeout 60 wine "$dir/$(basename "$probe")" gdiplus.dll comctl32.dll </dev/null >/dev/null 2>&1
[ -f "$dir/gdiplus.dll.loaded" ] && [ -f "$dir/comctl32.dll.loaded" ] ||
    fail "the control program did not load the planted DLLs; this check would prove nothing"
rm -f "$dir"/*.loaded

# 4. The installer: open its window, close it with its close glyph.
exe="$dir/$(basename "$setup")"
timeout 90 wine "$exe" </dev/null >/dev/null 2>&1 &
pid=$!
window=""
for _ in $(seq 150); do
    window=$(xdotool search --onlyvisible --class "$(basename "$setup" | tr 'A-Z' 'a-z')" 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
done
if [ -z "$window" ]; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    check_no_planted_loaded
    fail "the installer's window did not open"
fi
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 515)) $((Y + 16)) click 1
wait "$pid"
rc=$?
# Closed on its ready page: 1602, of which wine passes on the low 8 bits.
[ "$rc" -eq $((1602 & 255)) ] || fail "the installer ended with $rc"

check_no_planted_loaded
echo "no planted DLL was loaded: $names"
