#!/bin/sh
# Makes a fresh Debian 12 machine ready to build and test the installer.
# Run as root; quick when everything is already there.
#   bootstrap.sh [bench]
# "bench" adds what only the benchmarks need (tools/bench-install.sh calls
# it so); the build, the tests and CI never ask for it.
set -eu

# libgnutls30:i386: Wine's bcrypt verifies the installer's release signature
# through GnuTLS, which 32-bit Wine only recommends. libclang-rt-14-dev: the
# libFuzzer and sanitizer runtimes of the fuzz targets, which clang-14
# brings only as a recommendation.
PACKAGES="cmake ninja-build make dpkg-dev curl python3 ca-certificates
gcc g++ clang-14 libclang-rt-14-dev
g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
mingw-w64-i686-dev libz-mingw-w64-dev googletest zlib1g-dev
wine wine32:i386 xvfb xdotool x11-utils fonts-wqy-zenhei
nginx-light squid apache2-utils imagemagick unzip zip fonts-dejavu-core
osslsigncode libssl-dev openssl libgnutls30:i386"
# nsis: makensis builds the peer installer the install benchmark times.
if [ "${1:-}" = bench ]; then
    PACKAGES="$PACKAGES nsis"
fi

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need_update=1
fi

# Source entries in the same deb822 form and keyring as the binary ones;
# a one-line deb-src entry would conflict with them.
SRC=/etc/apt/sources.list.d/debian-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    keyring=$(sed -n 's/^Signed-By: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
    [ -n "$keyring" ] || keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    cat > "$SRC" <<SRCEOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: $keyring
SRCEOF
    need_update=1
fi

if [ -n "$missing" ] || [ "$need_update" = 1 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
fi
if [ -n "$missing" ]; then
    # shellcheck disable=SC2086
    apt-get install -y -q --no-install-recommends $missing
fi

# Services are started by the tests on 127.0.0.1 themselves; keep the
# distribution's own instances from holding ports.
for svc in nginx squid; do
    if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet "$svc" 2>/dev/null; then
        systemctl stop "$svc" || true
    fi
done
exit 0
