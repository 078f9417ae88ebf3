#!/usr/bin/env bash
# Builds the release preset, packages it with cpack, unpacks the Debian package into a throw-away
# root (not into the machine, so that the test can run anywhere and leaves nothing behind), and
# builds and runs the out-of-tree host in examples/host against it with find_package.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release
cmake --build --preset release
(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/qzbios_*_amd64.deb)
root=build/consumer/root
rm -rf build/consumer
mkdir -p "$root"
dpkg-deb -x "$deb" "$root"
cmake -S examples/host -B build/consumer/host -G Ninja -DCMAKE_PREFIX_PATH="$PWD/$root/usr"
cmake --build build/consumer/host
out=$(QZ_WMI_CAPTURE=examples/captures/sample.json LD_LIBRARY_PATH="$PWD/$root/usr/lib" \
  build/consumer/host/qzbios-host)
echo "$out"
grep -q '^VMS=64$' <<<"$out" && grep -q '^MeFwVer=16.1.30.2307$' <<<"$out"
PKG_CONFIG_PATH="$PWD/$root/usr/lib/pkgconfig" pkg-config --exists --print-errors qzbios
echo "consumer: $(basename "$deb") found, linked and ran"
