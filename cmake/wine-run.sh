#!/bin/sh
# Runs a Windows program of the build under Wine, in the build's private prefix.
# scripts/test.sh exports the prefix, display and a persistent wineserver; run by
# hand (ctest in a build folder) it falls back to the prefix of the 64-bit build.
#
# 64-bit programs run under Wine's 64-bit loader natively.  32-bit programs need
# a kernel that executes i386 code; where it can't (this kind of machine), they
# only run through qemu-user, about fifty times slower: test with the x86_64 build.
here=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$here/build/win64/wineprefix}"
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
if [ -x /usr/lib/wine/wine64 ] && "$here/cmake/pe-machine.sh" "$1" | grep -q x86_64; then
  exec /usr/lib/wine/wine64 "$@"
fi
echo "wine-run: $1 is a 32-bit program; on a kernel without i386 support it runs only under qemu (very slow). Tests run from the x86_64 build (cmake/toolchain-x86_64-mingw.cmake)." >&2
exec wine "$@"
