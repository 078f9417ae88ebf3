#!/usr/bin/env bash
# The installed package as a host sees it: builds examples/host, an out-of-tree project, against an
# installed qzbios with find_package, and runs it.
#   consumer-test.sh [linux]  the Debian packages (scripts/deb.sh): the -dev, Python and runtime
#                             packages are unpacked into a throw-away root (not into the
#                             machine, so that the test can run anywhere and leaves nothing behind);
#                             then, as root, every package is installed with apt into a clean
#                             Debian 12 root that mmdebstrap makes (kept as build/debian-12-consumer.tar)
#   consumer-test.sh windows [PREFIX]  the mingw preset (already built), installed into a staging
#                             prefix, or the files installed in PREFIX; the host is cross-built and
#                             run under Wine, with only that prefix's DLLs
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-linux}" in
linux)
  bash scripts/deb.sh >/dev/null
  arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  root=build/consumer/root
  rm -rf build/consumer
  mkdir -p "$root"
  for package in libqz-shared-qzbios1 libqz-shared-qzbios-c1 libqz-shared-wmi-client2 libqzbios-dev \
    python3-qzbios; do
    dpkg-deb -x build/deb/"$package"_*.deb "$root"
  done
  cmake -S examples/host -B build/consumer/host -G Ninja -DCMAKE_PREFIX_PATH="$PWD/$root/usr"
  cmake --build build/consumer/host
  out=$(QZ_WMI_CAPTURE=examples/captures/sample.json LD_LIBRARY_PATH="$PWD/$root/usr/lib/$arch" \
    build/consumer/host/qzbios-host)
  echo "$out"
  grep -q '^VMS=64$' <<<"$out" && grep -q '^MeFwVer=16.1.30.2307$' <<<"$out"
  libs=$(PKG_CONFIG_PATH="$PWD/$root/usr/lib/$arch/pkgconfig" pkg-config --libs qzbios | xargs)
  if [ "$libs" != "-lqz-shared-qzbios" ]; then
    echo "consumer: pkg-config --libs qzbios gives '$libs', not -lqz-shared-qzbios" >&2
    exit 1
  fi
  # A C host needs the C interface's runtime package only, and no plog: plog is made unfindable.
  cmake -S examples/host-c -B build/consumer/host-c -G Ninja -DCMAKE_PREFIX_PATH="$PWD/$root/usr" \
    -DCMAKE_DISABLE_FIND_PACKAGE_plog=ON
  cmake --build build/consumer/host-c
  out=$(QZ_WMI_CAPTURE=examples/captures/sample.json LD_LIBRARY_PATH="$PWD/$root/usr/lib/$arch" \
    build/consumer/host-c/qzbios-host-c)
  grep -q '^source=3 published=31 query=success$' <<<"$out" && grep -q '^VMS=64$' <<<"$out"
  libs=$(PKG_CONFIG_PATH="$PWD/$root/usr/lib/$arch/pkgconfig" pkg-config --libs qzbios-c | xargs)
  [ "$libs" = "-lqz-shared-qzbios-c" ] || { echo "consumer: qzbios-c.pc gives '$libs'" >&2; exit 1; }
  # The hosts of other languages, as docs/c-interface.md shows them, with the C library of its
  # runtime package alone and the bindings the packages install (-dev's C#, python3-qzbios's module).
  alone=build/consumer/runtime-only
  dpkg-deb -x build/deb/libqz-shared-qzbios-c1_*.deb "$alone"
  mkdir build/consumer/bindings
  ln -s "$PWD/$root/usr/lib/python3/dist-packages" build/consumer/bindings/python
  ln -s "$PWD/$root/usr/share/qzbios/csharp" build/consumer/bindings/csharp
  for language in python csharp; do
    QZ_WMI_CAPTURE=examples/captures/sample.json LD_LIBRARY_PATH="$PWD/$alone/usr/lib/$arch" \
      bash tests/hosts/run-host.sh tests/data/hosts/sample.expected.txt "$language" \
      "$PWD/build/consumer/bindings"
  done
  # Every package installed by the README's command into a clean Debian 12 root, which has no plog:
  # a C host builds there with the compiler and pkg-config alone, and Python imports the module.
  base=build/debian-12-consumer.tar
  if [ ! -e $base ]; then
    mmdebstrap --quiet --format=tar --variant=apt --include=gcc,libc6-dev,pkg-config,python3 \
      bookworm $base.part
    mv $base.part $base
  fi
  clean=build/consumer/debian-12
  mkdir -p $clean/qzbios
  tar -xf $base -C $clean
  cp build/deb/*.deb examples/host-c/main.c examples/captures/sample.json $clean/qzbios/
  chroot $clean sh -ec 'cd /qzbios && apt-get install -y -qq ./*.deb >apt.log 2>&1 || {
      cat apt.log >&2; exit 1; }
    cc -o host-c main.c $(pkg-config --cflags --libs qzbios-c)
    QZ_WMI_CAPTURE=sample.json ./host-c | grep -qx "source=3 published=31 query=success"
    QZ_WMI_CAPTURE=sample.json python3 -c "import qzbios; print(qzbios.read()[0][\"VMS\"])" |
      grep -qx 64'
  rm -rf $clean
  echo "consumer: the -dev and runtime packages were found, linked and ran, a C host without plog too,"
  echo "          and the Python and C# hosts with the C library's runtime package alone; in a clean"
  echo "          Debian 12 root, apt installed every package, and a C and a Python host ran"
  ;;
windows)
  # A prefix given (the MSI's installed files) is used as it is; else the build is installed.
  stage=${2:-$PWD/build/consumer-windows/stage}
  rm -rf build/consumer-windows
  [ -n "${2:-}" ] || cmake --install build/mingw --prefix "$stage" >/dev/null
  # The cross build's plog::plog comes from the same file the library's own build uses; the
  # package then takes it as it is instead of looking for plog's package.
  cmake -S examples/host -B build/consumer-windows/host -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_PROJECT_INCLUDE="$PWD/cmake/CrossDependencies.cmake" \
    -Dqzbios_DIR="$stage/lib/cmake/qzbios"
  cmake --build build/consumer-windows/host
  exe=build/consumer-windows/host/qzbios-host.exe
  grep -q 'DLL Name: qz-shared-qzbios.dll' <<<"$(x86_64-w64-mingw32-objdump -p "$exe")"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=${WINEPREFIX:-$PWD/build/mingw/wineprefix}
  # Wine has no BIOS settings provider: every text is empty and NetPXEBoot is "NA".
  out=$(WINEPATH="Z:${stage//\//\\}\\bin" /usr/lib/wine/wine64 "$exe")
  echo "$out"
  grep -q '^NetPXEBoot=NA$' <<<"$out" && grep -q '^VMS=0$' <<<"$out"
  # A C host of the C interface alone, without plog, beside the C library's DLL alone: it says
  # that Wine has no provider.
  cmake -S examples/host-c -B build/consumer-windows/host-c -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -Dqzbios_DIR="$stage/lib/cmake/qzbios"
  cmake --build build/consumer-windows/host-c
  cp "$stage/bin/qz-shared-qzbios-c.dll" build/consumer-windows/host-c/
  out=$(cd build/consumer-windows/host-c && /usr/lib/wine/wine64 qzbios-host-c.exe | tr -d '\r')
  echo "$out"
  grep -q '^source=0 published=0 query=WBEM_E_INVALID_NAMESPACE' <<<"$out"
  echo "consumer: the installed DLLs were found, linked and ran under Wine, a C host without plog too"
  ;;
*)
  echo "usage: consumer-test.sh [linux|windows]" >&2
  exit 2
  ;;
esac
