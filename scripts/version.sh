#!/usr/bin/env bash
# Prints qzbios's version, as the public headers give it (include/qzbios/version.h).
set -euo pipefail
awk '/^#define QZBIOS_VERSION_(MAJOR|MINOR|PATCH) / { v = v (v == "" ? "" : ".") $3 } END { print v }' \
  "$(dirname "$0")/../include/qzbios/version.h"
