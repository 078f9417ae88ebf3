#!/usr/bin/env bash
# A host of the MSVC ABI over the MinGW-built DLLs: msvc_host.c built by clang for
# x86_64-pc-windows-msvc and linked by lld-link, with no C runtime, against the C library's .lib
# (made by llvm-dlltool in the build) and a kernel32.lib made here; then run under Wine beside the
# C library's DLL alone, which must import nothing but Windows' own DLLs. It must read a record and
# receive the C library's log record.
#   tests/hosts/msvc-host.sh MINGW_BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$build/msvc-host
rm -rf "$work"
mkdir -p "$work"
printf 'LIBRARY kernel32.dll\nEXPORTS\n    ExitProcess\n    GetStdHandle\n    WriteFile\n' >"$work/kernel32.def"
llvm-dlltool -m i386:x86-64 -d "$work/kernel32.def" -l "$work/kernel32.lib"
clang --target=x86_64-pc-windows-msvc -ffreestanding -fno-stack-protector -std=c99 -Wall -Wextra \
  -Werror -I"$here/../../include" -c "$here/msvc_host.c" -o "$work/msvc_host.obj"
lld-link -nologo -nodefaultlib -entry:start -subsystem:console -out:"$work/msvc-host.exe" \
  "$work/msvc_host.obj" "$work/kernel32.lib" "$build/c-interface/qz-shared-qzbios-c.lib"
dll=$build/bin/qz-shared-qzbios-c.dll
imports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' |
  grep -v -i -x -E 'kernel32.dll|msvcrt.dll|ole32.dll|oleaut32.dll|advapi32.dll|user32.dll' || true)
[ -z "$imports" ] || { echo "msvc-host: $dll imports $imports" >&2; exit 1; }
cp "$dll" "$work/"
out=$(cd "$work" && /usr/lib/wine/wine64 msvc-host.exe | tr -d '\r')
echo "$out"
expected="log: 5 qz-shared-qzbios-c.dll qzbios_read: read the BIOS settings (WBEM_E_INVALID_NAMESPACE, the namespace does not exist (0x8004100E))
NetPXEBoot=NA
VMS=0
MeFwVer=
version=X.Y.Z"
got=$(sed -E 's/^version=[0-9]+\.[0-9]+\.[0-9]+$/version=X.Y.Z/' <<<"$out")
[ "$got" = "$expected" ] || { diff <(echo "$expected") <(echo "$got") >&2; exit 1; }
echo "msvc-host: an MSVC-ABI host read the record and the log record through the C interface"
