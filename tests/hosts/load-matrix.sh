#!/usr/bin/env bash
# The library loaded by its full path from a folder of its own, with the host in another folder and
# the current folder a third, brings the WMI client beside it: never a copy planted in the current
# folder or on PATH, with or without SetDefaultDllDirectories; without the client beside it, the
# library does not load at all.
#   load-matrix.sh HOST LIBRARY CLIENT WINE...
set -euo pipefail
host=$1 library=$2 client=$3
shift 3
base=$(mktemp -d)
trap 'rm -rf "$base"' EXIT
mkdir "$base/host" "$base/lib" "$base/work" "$base/path"
cp "$host" "$base/host/" && cp "$library" "$client" "$base/lib/"
cp "$client" "$base/work/" && cp "$client" "$base/path/"
win() { echo "Z:${1//\//\\}"; }
run() { (cd "$base/work" && WINEPATH="$(win "$base/path")" "$@" "$(win "$base/host/${host##*/}")" \
  "$(win "$base/lib/${library##*/}")" $mode | tr -d '\r'); }
for mode in plain default-dirs; do
  got=$(run "$@")
  [ "$got" = "$(win "$base/lib/${client##*/}")" ] || { echo "load-matrix: $mode: $got" >&2; exit 1; }
done
rm "$base/lib/${client##*/}"
mode=plain
got=$(run "$@" || true)
[ "${got%%:*}" = "not loaded" ] || { echo "load-matrix: without the client: $got" >&2; exit 1; }
echo "load-matrix: the client beside the library, and no other"
