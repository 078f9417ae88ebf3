#!/usr/bin/env bash
# The Debian packages, built as Debian builds them (dpkg-buildpackage with debian/), into build/deb:
# libqz-shared-qzbios1, libqz-shared-qzbios-c1, libqz-shared-wmi-client2, libqzbios-dev,
# python3-qzbios and qzbios-dump. The build runs in a copy of the tree's files (build/deb/qzbios),
# so that it leaves nothing behind in the tree; then lintian checks the result, and any error or
# warning fails.
set -euo pipefail
cd "$(dirname "$0")/.."

rm -rf build/deb
mkdir -p build/deb/qzbios
git ls-files -z --cached --others --exclude-standard | grep -z -v '^build/' |
  tar --null -cf - -T - | tar -xf - -C build/deb/qzbios
if ! (cd build/deb/qzbios && dpkg-buildpackage -us -uc -b >../build.log 2>&1); then
  tail -n 30 build/deb/build.log >&2
  echo "deb.sh: dpkg-buildpackage failed; the whole log is build/deb/build.log" >&2
  exit 1
fi
lintian --fail-on error,warning build/deb/qzbios_*.changes
ls build/deb/*.deb | grep -v dbgsym
