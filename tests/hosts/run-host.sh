#!/usr/bin/env bash
# Runs the snippet of LANGUAGE (python or csharp) from docs/c-interface.md, as written, or the
# program SOURCE, with the bindings in BINDINGS, and compares what it prints with EXPECTED. The C
# library is what the loader finds (LD_LIBRARY_PATH, say).
#   run-host.sh EXPECTED LANGUAGE BINDINGS [SOURCE]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "${4:-}" ]; then
  cp "$4" "$work/snippet"
else
  awk -v lang="$2" '$0 == "```" lang { on = 1; next } on && /^```/ { exit } on' \
    "$here/../../docs/c-interface.md" >"$work/snippet"
fi
[ -s "$work/snippet" ] || { echo "run-host: no $2 snippet in docs/c-interface.md" >&2; exit 1; }
case $2 in
python) diff -u "$1" <(PYTHONPATH="$3/python" python3 "$work/snippet") ;;
csharp)
  cp "$work/snippet" "$work/Host.cs"
  mcs -nologo -out:"$work/host.exe" "$work/Host.cs" "$3/csharp/Qzbios.cs"
  diff -u "$1" <(mono "$work/host.exe")
  ;;
esac
