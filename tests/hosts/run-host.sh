#!/usr/bin/env bash
# Runs a host of the C interface and compares the fields it prints with the expected ones.
#   run-host.sh EXPECTED COMMAND...
set -euo pipefail
expected=$1
shift
diff -u "$expected" <("$@")
