#!/usr/bin/env bash
# The main job: installs what is missing, builds the release preset and prints the attributes of
# the sample capture as a host reads them. Extra arguments go to qzbios-dump (e.g. --format json).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release
./build/release/tools/qzbios-dump --capture examples/captures/sample.json "$@"
