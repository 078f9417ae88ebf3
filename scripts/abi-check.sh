#!/usr/bin/env bash
# The ABI of the two shared libraries against the baselines in abi/ (made by abidw from a build
# with debug information). Fails on any change that a host built against a baseline would notice:
# a type's size or a field's offset, an exported function or variable removed or changed; abidiff's
# report says what. An addition that breaks nothing is reported and passes.
#   scripts/abi-check.sh [BUILD_DIR]            compare BUILD_DIR (build/ci by default)
#   scripts/abi-check.sh --update [BUILD_DIR]   write BUILD_DIR's ABI as the new baselines: for a
#                                               deliberate change (see the README)
set -euo pipefail
cd "$(dirname "$0")/.."

update=0
if [ "${1:-}" = --update ]; then
  update=1
  shift
fi
build=${1:-build/ci}
failed=0
for library in lib/libqz-shared-qzbios.so.1 lib/libqz-shared-qzbios-c.so.1 \
  lib/libqz-shared-wmi-client.so.2; do
  binary=$build/$library
  baseline=abi/$(basename "$library").abi
  [ -f "$binary" ] || { echo "abi-check: $binary is not built" >&2; exit 2; }
  if [ "$update" = 1 ]; then
    abidw --no-corpus-path --no-comp-dir-path --short-locs --out-file "$baseline" "$binary"
    echo "abi-check: wrote $baseline"
    continue
  fi
  # Additions left out: whatever remains is a change a host would notice.
  # Opaque types (abi/opaque.suppr) are the library's own business.
  if report=$(abidiff --suppressions abi/opaque.suppr --no-added-syms "$baseline" "$binary"); then
    added=$(abidiff --suppressions abi/opaque.suppr "$baseline" "$binary" || true)
    echo "abi-check: $(basename "$library"): compatible with $baseline${added:+; additions:}"
    [ -z "$added" ] || echo "$added"
  else
    echo "abi-check: $(basename "$library") breaks the ABI of $baseline:" >&2
    echo "$report" >&2
    failed=1
  fi
done
exit "$failed"
