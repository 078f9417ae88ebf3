#!/usr/bin/env bash
# A host of the library run setuid root by user nobody ignores QZ_WMI_CAPTURE and
# QZ_FIRMWARE_ATTRIBUTES_DIR, which its caller would steer it with; run by nobody without setuid, it
# reads the capture they name. Needs root (exit 77 without).
#   privileged-host.sh HOST LIBRARY CAPTURE
set -euo pipefail
[ "$(id -u)" = 0 ] || exit 77
base=$(mktemp -d)
trap 'rm -rf "$base"' EXIT
chmod 755 "$base"
cp "$1" "$base/host" && cp "$2" "$base/library.so" && cp "$3" "$base/capture.json"
chmod 644 "$base/capture.json"
tree=$(mktemp -d "$base/tree.XXXXXX") && chmod 755 "$tree"
run() {
  QZ_WMI_CAPTURE="$base/capture.json" QZ_FIRMWARE_ATTRIBUTES_DIR="$tree" \
    setpriv --reuid=nobody --regid=nogroup --clear-groups "$base/host" "$base/library.so"
}
steered=$(run)
[ "$steered" = "source=3 status=0x00000000 published=31" ] ||
  { echo "privileged-host: as nobody: $steered" >&2; exit 1; }
chmod 4755 "$base/host"
privileged=$(run)
case $privileged in
"source=3 "* | "source=2 "*) echo "privileged-host: setuid, it read what nobody named: $privileged" >&2; exit 1 ;;
"source="*) echo "privileged-host: setuid, the variables were ignored: $privileged" ;;
*) echo "privileged-host: setuid: $privileged" >&2; exit 1 ;;
esac
