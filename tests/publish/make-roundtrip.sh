#!/bin/bash
# The round trip's input and output: the demo client's folder with the
# extra files roundtrip.ini names, published with the tool into
# STATE/www/EX3 for nginx to serve.
#   make-roundtrip.sh STATE TOOL DEMO_CLIENT_DIR UNINSTALLER DESCRIPTION
set -eu
state=$1 tool=$2 demo=$3 uninstaller=$4 description=$5
client="$state/client"
rm -rf "$client"
mkdir -p "$client/data" "$client/文档" "$state/www"
cp -r "$demo/." "$client/"
# Larger than the zip layer's 16 KiB transfer buffer, half of it
# incompressible; with an odd second, which only the "UT" record carries
# (a DOS stamp has even seconds).
{ head -c 1048576 /dev/urandom; yes Fenmora | head -c 1048576; } > "$client/data/big.bin"
touch -d "2021-06-15 13:28:31 UTC" "$client/data/big.bin"
: > "$client/empty.txt"
printf '旧的说明\r\n' > "$client/文档/说明.txt"
printf '新的说明\r\n' > "$client/文档/说明-新.txt"
"$tool" --client "$client" --description "$description" --uninstaller "$uninstaller" --out "$state/www"
