#!/bin/bash
# Signed programs. A throwaway code-signing CA and certificate are made
# here; a build of the shipped programs is configured with them as its
# build settings, and the publishing tool signs UnInstall.exe with them.
# Every signature must verify against the CA, and fail once one byte of
# the program is changed.
#   codesign.sh SOURCE_DIR STATE_DIR MINIZIP_SOURCE_DIR PUBLISH_TOOL
# The signed build in STATE_DIR/build is kept between runs: a new
# certificate re-links and re-signs without compiling again.
set -u
src=$(cd "${1:?source directory}" && pwd)
mkdir -p "${2:?state directory}"
state=$(cd "$2" && pwd)
minizip=${3:?minizip source}
tool=${4:?publishing tool}

fail() {
    echo "FAIL: $*"
    exit 1
}

keys="$state/keys"
build="$state/build"
rm -rf "$keys" "$state/published" "$state"/*.exe
mkdir -p "$keys" "$state/published"

# The CA, a certificate for code signing only, and its PKCS#12 file with a
# random password.
make_keys() (
    cd "$keys" || exit 1
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Fenmora Test CA" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" &&
        openssl req -newkey rsa:2048 -nodes -keyout sign.key -out sign.csr -subj "/CN=Fenmora Test Code Signing" &&
        printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
            >sign.ext &&
        openssl x509 -req -in sign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile sign.ext \
            -out sign.pem &&
        head -c 24 /dev/urandom | base64 >password &&
        echo wrong >wrong-password &&
        openssl pkcs12 -export -in sign.pem -inkey sign.key -passout file:password -out sign.p12
)
make_keys >"$state/keys.log" 2>&1 || fail "openssl could not make the test certificates: $(cat "$state/keys.log")"

# FILE WHAT: one SHA-256 signature that verifies against the test CA, and
# none once a byte in the middle of the program is changed.
check_signed() {
    local file=$1 what=$2 report offset byte changed="$state/changed.exe"
    report=$(osslsigncode verify -CAfile "$keys/ca.pem" -in "$file" 2>&1) ||
        fail "$what does not verify against the test CA:"$'\n'"$report"
    grep -Eq '^Message digest algorithm *: SHA256' <<<"$report" || fail "$what is not signed with SHA-256"
    grep -q '^Number of verified signatures: 1$' <<<"$report" || fail "$what does not carry one signature"
    cp "$file" "$changed"
    offset=$(($(stat -c %s "$file") / 2))
    byte=$(od -An -tu1 -j "$offset" -N1 "$file" | tr -d ' ')
    printf '%b' "\\$(printf %03o $((byte ^ 0xff)))" | dd of="$changed" bs=1 seek="$offset" conv=notrunc status=none
    cmp -s "$file" "$changed" && fail "the byte at $offset of $what was not changed"
    osslsigncode verify -CAfile "$keys/ca.pem" -in "$changed" >/dev/null 2>&1 &&
        fail "$what still verifies with the byte at $offset changed"
    echo "ok: $what is signed (SHA-256) and its changed copy fails"
}

# FILE ORIGINAL: FILE is ORIGINAL with a signature added, nothing else.
check_same_program() {
    rm -f "$state/unsigned-again.exe"
    osslsigncode remove-signature -in "$1" -out "$state/unsigned-again.exe" >/dev/null 2>&1 ||
        fail "no signature could be removed from $1"
    cmp -s "$state/unsigned-again.exe" "$2" || fail "$1 without its signature differs from $2"
}

echo "== the signed build in $build"
cmake -S "$src" -B "$build" -G Ninja -DSETUP_BUILD_TESTS=OFF -DMINIZIP_SOURCE_DIR="$minizip" \
    -DSETUP_SIGN_PKCS12="$keys/sign.p12" -DSETUP_SIGN_PASSWORD_FILE="$keys/password" >"$state/configure.log" 2>&1 ||
    fail "configuring the signed build failed: $(tail -n 20 "$state/configure.log")"
cmake --build "$build" --target setup uninstaller demo_client_folder >"$state/build.log" 2>&1 ||
    fail "the signed build failed: $(tail -n 40 "$state/build.log")"
check_signed "$build/app/FenmoraSetup.exe" FenmoraSetup.exe
check_signed "$build/uninstall/UnInstall.exe" UnInstall.exe
check_signed "$build/demo/client/iKVLRemote.exe" iKVLRemote.exe

echo "== the publishing tool"
unsigned="$state/UnInstall-unsigned.exe"
osslsigncode remove-signature -in "$build/uninstall/UnInstall.exe" -out "$unsigned" >/dev/null 2>&1 ||
    fail "no signature could be removed from the built UnInstall.exe"
# UNINSTALLER SERVER_ROOT PASSWORD_FILE
publish() {
    "$tool" --client "$build/demo/client" --description "$src/demo/publish.ini" --uninstaller "$1" --out "$2" \
        --codesign-pkcs12 "$keys/sign.p12" --codesign-password-file "$3" >"$state/publish.log" 2>&1
}
publish "$unsigned" "$state/published/unsigned" "$keys/password" ||
    fail "publishing an unsigned UnInstall.exe failed: $(cat "$state/publish.log")"
check_signed "$state/published/unsigned/EX3/UnInstall.exe" "UnInstall.exe published from an unsigned one"
check_same_program "$state/published/unsigned/EX3/UnInstall.exe" "$unsigned"

publish "$build/uninstall/UnInstall.exe" "$state/published/signed" "$keys/password" ||
    fail "publishing a signed UnInstall.exe failed: $(cat "$state/publish.log")"
check_signed "$state/published/signed/EX3/UnInstall.exe" "UnInstall.exe published from a signed one"
check_same_program "$state/published/signed/EX3/UnInstall.exe" "$unsigned"

# A signing failure publishes nothing and leaves the tree as it was.
cp "$state/published/unsigned/EX3/UnInstall.exe" "$state/before.exe"
publish "$unsigned" "$state/published/unsigned" "$keys/wrong-password"
rc=$?
[ "$rc" -eq 2 ] || fail "publishing with a wrong password ended with $rc, not 2: $(cat "$state/publish.log")"
cmp -s "$state/before.exe" "$state/published/unsigned/EX3/UnInstall.exe" ||
    fail "publishing with a wrong password changed the published UnInstall.exe"
left=$(find "$state/published/unsigned" -mindepth 1 -maxdepth 1 ! -name EX3)
[ -z "$left" ] || fail "publishing with a wrong password left $left"
echo "ok: a wrong password publishes nothing"
