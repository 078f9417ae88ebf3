#!/usr/bin/env bash
# What a distribution asks of a release, checked on the Debian packages, in build/package-check:
#   - a source package (dpkg-buildpackage -S), clean for lintian;
#   - reproducible packages: two binary builds from copies of the tree in folders of different names
#     and depths, and a third from the unpacked source package, give bit-identical .debs;
#     diffoscope says what differs when they do not;
#   - autopkgtest over those .debs and the source package, with its null server: on this machine,
#     where it installs the packages (they are removed again afterwards).
# The binary builds skip the test suite (nocheck); scripts/deb.sh builds with it.
set -euo pipefail
cd "$(dirname "$0")/.."

out=$PWD/build/package-check
rm -rf "$out"
copy() {
  mkdir -p "$1"
  git ls-files -z --cached --others --exclude-standard | grep -z -v '^build/' |
    tar --null -cf - -T - | tar -xf - -C "$1"
}
# Runs dpkg-buildpackage with the given options in the folder $1; its log lands beside the folder.
package() {
  local dir=$1
  shift
  if ! (cd "$dir" && dpkg-buildpackage -us -uc "$@" >"$dir.log" 2>&1); then
    tail -n 30 "$dir.log" >&2
    echo "package-check: dpkg-buildpackage $* failed in $dir; the log is $dir.log" >&2
    exit 1
  fi
}

copy "$out/source/qzbios"
package "$out/source/qzbios" -S
lintian --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs \
  "$out"/source/qzbios_*_source.changes
echo "package-check: source package $(basename "$out"/source/qzbios_*.dsc), lintian clean"

export DEB_BUILD_OPTIONS=nocheck
copy "$out/a/qzbios"
package "$out/a/qzbios" -b
copy "$out/b/somewhere/else/qzbios-copy"
package "$out/b/somewhere/else/qzbios-copy" -b
mkdir -p "$out/c"
(cd "$out/c" && dpkg-source -x "$out"/source/qzbios_*.dsc qzbios >/dev/null)
package "$out/c/qzbios" -b
different=0
for deb in "$out"/a/*.deb; do
  name=$(basename "$deb")
  for other in "$out/b/somewhere/else/$name" "$out/c/$name"; do
    if ! cmp -s "$deb" "$other"; then
      echo "package-check: $name differs between $deb and $other:" >&2
      diffoscope --text - "$deb" "$other" | head -n 60 >&2 || true
      different=1
    fi
  done
  echo "package-check: $(sha256sum "$deb" | cut -c1-16)  $name"
done
[ "$different" = 0 ] || exit 1
echo "package-check: three builds in three folders, one from the source package: identical .debs"

debs=()
for deb in "$out"/a/*.deb; do
  case "$deb" in *-dbgsym_*) ;; *) debs+=("$deb") ;; esac
done
# autopkgtest installs the packages on this machine; those that were not installed before are
# removed again afterwards, and nothing else.
ours=(libqzbios-dev python3-qzbios qzbios-dump libqz-shared-qzbios1 libqz-shared-qzbios-c1 libqz-shared-wmi-client2)
installed_before=()
for package in "${ours[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
    installed_before+=("$package")
  fi
done
tested=0
autopkgtest --no-built-binaries "${debs[@]}" "$out"/source/qzbios_*.dsc -- null \
  >"$out/autopkgtest.log" 2>&1 || tested=$?
sed -n '/@@ summary/,$p' "$out/autopkgtest.log" | tail -n +2
remove=()
for package in "${ours[@]}"; do
  [[ " ${installed_before[*]} " == *" $package "* ]] || remove+=("$package")
done
[ "${#remove[@]}" = 0 ] || apt-get purge -y -qq "${remove[@]}" >/dev/null 2>&1 || true
if [ "$tested" != 0 ]; then
  tail -n 40 "$out/autopkgtest.log" >&2
  echo "package-check: autopkgtest failed ($tested); the log is $out/autopkgtest.log" >&2
  exit 1
fi
echo "package-check: autopkgtest passed on the installed packages"
