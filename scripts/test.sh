#!/usr/bin/env bash
# The whole test suite, as CI runs it: installs what is missing, checks formatting, builds with
# warnings as errors and runs the plain and the sanitizer suites on Linux at once, checks the ABI
# against its baselines and that no binary searches the current folder, then lints, runs valgrind
# and the fuzzers (QZBIOS_FUZZ_SECONDS per target, 60 by default), ThreadSanitizer's suite, the
# suite built by g++ with sanitizers and with Debian's hardening flags, a short run of the
# benchmarks, the packages (built with their tests) and a host built against them, the
# fleet path on a Debian 12 machine under qemu (emulated firmware that the kernel's drivers read, an
# upgrade from the previous release, systemd, node_exporter, Prometheus), the source package,
# reproducibility and autopkgtest,
# then cross-builds the Windows DLL, runs the suite under Wine, builds and runs the host against the
# installed DLL and a host of the MSVC ABI against the C interface, and builds the MSI and installs,
# upgrades and removes it under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh --windows

# clang-tidy with the compile database of build/$1 over the files that follow; any finding fails
# the run, and only the findings are shown.
tidy() {
  local db=$1 lint
  shift
  if ! lint=$(printf '%s\n' "$@" |
    xargs -P "$(nproc)" -n 4 clang-tidy -p "build/$db" --quiet --warnings-as-errors='*' 2>&1); then
    echo "$lint" | grep -v -E "warnings( and [0-9]+ errors?)? generated"
    exit 1
  fi
}

echo "== format, and the layers of the source tree"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
python3 scripts/check-layout.py

# Every ELF file under build/$1 whose search path holds an empty entry, which the loader reads as
# the current folder: fails the run.
no_empty_runpath() {
  local file found=0
  while IFS= read -r file; do
    if readelf -d "$file" 2>/dev/null | grep -E '(RUNPATH|RPATH).*(\[:|::|:\])'; then
      echo "  in $file" && found=1
    fi
  done < <(find "build/$1" -type f \( -name '*.so*' -o -perm -u+x \) -not -path '*/CMakeFiles/*')
  [ "$found" = 0 ] || { echo "test: binaries of build/$1 search the current folder" && exit 1; }
}

echo "== Linux builds: plain, and with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer"
for preset in ci asan; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  no_empty_runpath "$preset"
done

echo "== the plain and the sanitizer suites at once, as two builds on one machine run them"
# Each suite's output goes to a log of its own; a failing one is shown whole.
ctest --preset ci >build/ci/suite.log 2>&1 &
plain=$!
ctest --preset asan >build/asan/suite.log 2>&1 &
sanitized=$!
failed=0
for suite in "ci:$plain" "asan:$sanitized"; do
  if wait "${suite#*:}"; then
    tail -n 3 "build/${suite%%:*}/suite.log"
  else
    cat "build/${suite%%:*}/suite.log"
    failed=1
  fi
done
[ "$failed" = 0 ] || exit 1

echo "== the ABI of the shared libraries against the baselines in abi/"
bash scripts/abi-check.sh build/ci

echo "== clang-tidy"
# Every source of ours that the Linux build compiles; the Windows-only files are checked by the
# MinGW build's warnings.
mapfile -t sources < <(grep -o '"file": "[^"]*"' build/ci/compile_commands.json | cut -d'"' -f4 |
  grep -E "^$PWD/(src|common|sources|wmi-client|reading|c-interface|tools|tests)/" | sort -u)
tidy ci "${sources[@]}"

echo "== valgrind memcheck of the client and unload tests"
# The tests replace operator new to make allocations fail; valgrind must leave theirs in place.
for test in qzbios_client_test qzbios_unload_test; do
  valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
    --suppressions=tests/valgrind.supp \
    --show-leak-kinds=definite --soname-synonyms=somalloc=nouserintercepts \
    "build/ci/tests/$test" --gtest_brief=1
done

# The fuzz targets are built by this preset only.
tidy asan fuzz/*.cpp

echo "== fuzzing, ${QZBIOS_FUZZ_SECONDS:-60} s per target"
bash scripts/fuzz.sh "${QZBIOS_FUZZ_SECONDS:-60}"

echo "== ThreadSanitizer"
cmake --preset tsan
cmake --build --preset tsan
no_empty_runpath tsan
ctest --preset tsan

echo "== g++ with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan-gcc
cmake --build --preset asan-gcc
ctest --preset asan-gcc >build/asan-gcc/suite.log 2>&1 || { cat build/asan-gcc/suite.log && exit 1; }
tail -n 3 build/asan-gcc/suite.log

echo "== Debian's hardening flags, as the package build takes them"
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cmake --preset hardened -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" \
  -DCMAKE_MODULE_LINKER_FLAGS="$(flags LDFLAGS)"
cmake --build --preset hardened
ctest --preset hardened >build/hardened/suite.log 2>&1 || { cat build/hardened/suite.log && exit 1; }
tail -n 3 build/hardened/suite.log
no_empty_runpath hardened

echo "== benchmarks, one short run (build/bench/report.md)"
bash scripts/bench.sh --quick >/dev/null
no_empty_runpath bench
tidy bench bench/*.cpp

echo "== the Debian packages (dpkg-buildpackage, lintian), and a host project built against them"
bash scripts/consumer-test.sh linux

echo "== the fleet path on a Debian 12 machine under qemu: two kernel drivers, the upgrade,"
echo "   systemd, node_exporter and Prometheus"
bash tests/vm/vm_test.sh build/ci/tools/qzbios-dump build/deb examples/captures/sample.json

echo "== a release as a distribution takes it: source package, reproducible .debs, autopkgtest"
bash scripts/package-check.sh

echo "== Windows build (MinGW-w64) and tests under Wine"
cmake --preset mingw
cmake --build --preset mingw
# One Wine prefix for the build tree, created once, and one server kept up for the whole run.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="$PWD/build/mingw/wineprefix"
unset DISPLAY
/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
# The stand-in for WMI (tests/support/WmiStandIn.cpp) as the WMI locator of this prefix: it serves a
# test's rows when the test names them, and hands everything else to Wine's own WMI.
locator='HKLM\Software\Classes\CLSID\{4590F811-1D3A-11D0-891F-00AA004B2E24}\InprocServer32'
standin="Z:${PWD//\//\\}\\build\\mingw\\bin\\qzbios_wmi_standin.dll"
/usr/lib/wine/wine64 reg add "$locator" /ve /d "$standin" /f >/dev/null
/usr/lib/wine/wine64 reg add "$locator" /v ThreadingModel /d Both /f >/dev/null
ctest --preset mingw

echo "== a host of the MSVC ABI (clang, lld-link, no C runtime) over the C interface, under Wine"
bash tests/hosts/msvc-host.sh build/mingw

echo "== the installed Windows package, and the host project cross-built against it, under Wine"
bash scripts/consumer-test.sh windows

echo "== the MSI (wixl): its tables, and an install, an upgrade and an uninstall under Wine"
version=$(bash scripts/version.sh)
later=${version%.*}.$((${version##*.} + 1))
bash scripts/msi.sh "$version" >/dev/null
bash scripts/msi.sh "$later" build/msi-upgrade >/dev/null
bash tests/msi_test.sh "build/msi/qzbios-$version-x64.msi" "build/msi-upgrade/qzbios-$later-x64.msi"

echo "== all tests passed"
