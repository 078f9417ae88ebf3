#!/usr/bin/env bash
# qzbios-dump (JSON and the Prometheus format) beside fwupd's reader of the same firmware-attributes
# tree, whole processes, measured side by side with hyperfine. Installs fwupd and hyperfine from
# Debian when they are missing (the tests do not need them), builds the release preset, and
# generates a tree of 110 attributes of every type under build/bench/fwupd-tree.
#   scripts/bench-fwupd.sh [runs]    (50 by default)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-50}
missing=()
for tool in fwupdtool hyperfine; do
  command -v "$tool" >/dev/null || missing+=("${tool/fwupdtool/fwupd}")
done
if [ "${#missing[@]}" -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

tree=$PWD/build/bench/fwupd-tree
rm -rf "$tree"
attributes=$tree/bench-bios/attributes
for i in $(seq 1 110); do
  dir=$attributes/Setting$i
  mkdir -p "$dir"
  echo "Setting $i" >"$dir/display_name"
  case $((i % 4)) in
  0) echo enumeration >"$dir/type"; echo "Disabled;Enabled;Auto" >"$dir/possible_values"
     echo Enabled >"$dir/current_value"; echo Disabled >"$dir/default_value" ;;
  1) echo integer >"$dir/type"; echo $((i * 8)) >"$dir/current_value"
     echo 0 >"$dir/min_value"; echo 4096 >"$dir/max_value"; echo 8 >"$dir/scalar_increment" ;;
  2) echo string >"$dir/type"; echo "Asset $i" >"$dir/current_value"
     echo 0 >"$dir/min_length"; echo 64 >"$dir/max_length" ;;
  3) echo ordered-list >"$dir/type"; echo "Disk;USB;Network" >"$dir/current_value"
     echo "Disk;USB;Network;SD" >"$dir/elements" ;;
  esac
done
mkdir -p "$tree/bench-bios/authentication/Admin"
echo 0 >"$tree/bench-bios/authentication/Admin/is_enabled"

export FWUPD_SYSFSFWATTRIBDIR=$tree QZ_FIRMWARE_ATTRIBUTES_DIR=$tree
hyperfine --warmup 3 --runs "$runs" -N --export-markdown build/bench/fwupd.md \
  'build/release/tools/qzbios-dump --format json' 'build/release/tools/qzbios-dump --format prometheus' \
  'fwupdtool get-bios-settings --json'
