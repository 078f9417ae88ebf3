#!/usr/bin/env bash
# Installs every Debian package that building and testing qzbios needs. Safe to run again: packages
# that are already installed are left alone, and nothing is downloaded when nothing is missing.
#
#   scripts/bootstrap.sh            Linux build and tests
#   scripts/bootstrap.sh --windows  also the MinGW-w64 cross compiler, Wine, clang's linker and
#                                   import-library tool for MSVC-ABI hosts, and msitools
set -euo pipefail

want_windows=0
for arg in "$@"; do
  case "$arg" in
    --windows) want_windows=1 ;;
    -h | --help)
      sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "bootstrap.sh: unknown option '$arg' (try --help)" >&2
      exit 2
      ;;
  esac
done

packages=(cmake g++ make ninja-build pkg-config clang clang-tidy clang-format libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev valgrind python3
  dpkg-dev debhelper lintian strace prometheus prometheus-node-exporter curl systemd abigail-tools
  autopkgtest diffoscope mono-mcs mono-runtime mmdebstrap gpg qemu-system-x86 acpica-tools
  e2fsprogs libcap2-bin)
if [ "$want_windows" = 1 ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine64 lld llvm msitools wixl)
fi

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then
  sudo_cmd=(sudo)
fi

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

missing=()
for p in "${packages[@]}"; do
  is_installed "$p" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  # Packages of services (prometheus, its node exporter) must not start them here: a policy that
  # refuses every start stands while they install, unless the machine has one of its own.
  # It is removed on any exit, an interrupted one included.
  policy=/usr/sbin/policy-rc.d
  made_policy=0
  if [ ! -e "$policy" ]; then
    made_policy=1
    trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod 755 "$policy"
  fi
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
  if [ "$made_policy" = 1 ]; then
    "${sudo_cmd[@]}" rm -f "$policy"
    trap - EXIT
  fi
fi

# plog: take the distribution's own package when its suites carry one (Debian 13 and later). Debian 12
# has none, so fetch Debian 13's header-only package through a private apt state that points the
# machine's own mirror at the trixie suite; the machine's apt configuration is not touched.
if ! is_installed libplog-dev; then
  if apt-cache show libplog-dev >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends libplog-dev
  else
    mirror=$(grep -h -E '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{print $2}' | grep -v security | head -n 1 || true)
    if [ -z "$mirror" ]; then
      mirror=$(grep -h -E '^deb ' /etc/apt/sources.list 2>/dev/null | awk '{print $2}' | grep -v security | head -n 1 || true)
    fi
    if [ -z "$mirror" ]; then
      echo "bootstrap: cannot find a Debian mirror in the machine's apt sources" >&2
      exit 1
    fi
    state=$(mktemp -d)
    trap 'rm -rf "$state"' EXIT
    mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/debs"
    cat >"$state/trixie.sources" <<SOURCES
Types: deb
URIs: $mirror
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt_private=(-o "Dir::State::Lists=$state/lists" -o "Dir::Cache=$state/cache"
      -o "Dir::Etc::SourceList=$state/trixie.sources" -o "Dir::Etc::SourceParts=/dev/null"
      -o "APT::Sandbox::User=root")
    echo "bootstrap: fetching libplog-dev from the trixie suite of $mirror"
    apt-get "${apt_private[@]}" update -qq
    (cd "$state/debs" && apt-get "${apt_private[@]}" download libplog-dev)
    "${sudo_cmd[@]}" dpkg -i "$state"/debs/libplog-dev_*.deb
  fi
fi

echo "bootstrap: all packages present"
