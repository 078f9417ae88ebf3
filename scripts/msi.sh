#!/usr/bin/env bash
# The Windows installer, built on Linux: the mingw-release preset installed into a staging prefix,
# its binaries stripped (their debug information kept apart, in qzbios-VERSION-x64-debug.zip, each
# file linked to its binary by --add-gnu-debuglink), its files listed by wixl-heat, and
# OUT/qzbios-VERSION-x64.msi made by wixl from windows/qzbios.wxs.
#   scripts/msi.sh [VERSION [OUT]]  the project's version and build/msi by default (the upgrade
#                                   test makes a later version in a folder of its own)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh --windows >/dev/null
version=${1:-$(bash scripts/version.sh)}
cmake --preset mingw-release >/dev/null
cmake --build --preset mingw-release >/dev/null
out=$(mkdir -p "${2:-build/msi}" && cd "${2:-build/msi}" && pwd)
# What the MSI is made from stays apart, so that OUT holds the MSI and its debug files only.
work=$out.work
stage=$work/stage
debug=$work/debug
rm -rf "$work"
mkdir -p "$debug"
cmake --install build/mingw-release --prefix "$stage" >/dev/null
# DWARF data is most of a binary's size: shipped apart, for whoever debugs a crash.
for binary in "$stage"/bin/*.dll "$stage"/bin/*.exe; do
  name=$(basename "$binary")
  x86_64-w64-mingw32-objcopy --only-keep-debug "$binary" "$debug/$name.debug"
  x86_64-w64-mingw32-objcopy --strip-debug --strip-unneeded --add-gnu-debuglink="$debug/$name.debug" \
    "$binary"
done
rm -f "$out/qzbios-$version-x64-debug.zip"
(cd "$debug" && python3 -m zipfile -c "$out/qzbios-$version-x64-debug.zip" ./*.debug)
(cd "$stage" && find . -type f | sed 's|^\./||' | sort) |
  wixl-heat --prefix "" --directory-ref INSTALLDIR --component-group StagedFiles --var var.SourceDir --win64 \
    >"$work/files.wxs"
# wixl takes sources relative to the folder it runs in.
wixl -a x64 -D Win64=yes -D Version="$version" -D SourceDir="$(realpath --relative-to=. "$stage")" -D LicenseFile=LICENSE \
  -o "$out/qzbios-$version-x64.msi" windows/qzbios.wxs "$work/files.wxs"
# What wixl cannot say: a property given on the command line reaches the per-machine install only
# when it is secure; a rebuild of the same version replaces the installed one (the upgrade takes
# versions up to this one inclusive), rather than standing beside it; and the older version is
# removed before the new files go in (after InstallValidate), so that its task goes first.
msibuild "$out/qzbios-$version-x64.msi" -q "UPDATE Property SET Value = \
'QZBIOS_TEXTFILE_TASK;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE Property = 'SecureCustomProperties'"
code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' windows/qzbios.wxs)
msibuild "$out/qzbios-$version-x64.msi" -q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'"
msibuild "$out/qzbios-$version-x64.msi" -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, \
ActionProperty) VALUES ('{$code}', '$version', 513, 'WIX_UPGRADE_DETECTED')"
msibuild "$out/qzbios-$version-x64.msi" -q \
  "UPDATE InstallExecuteSequence SET Sequence = 1410 WHERE Action = 'RemoveExistingProducts'"
echo "$out/qzbios-$version-x64.msi"
