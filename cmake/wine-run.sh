#!/bin/sh
# Runs a Windows program of the build under Wine, in the build's private prefix.
# scripts/test.sh exports the prefix, display and a persistent wineserver; run by
# hand (ctest in a build folder) it falls back to the prefix of the program's
# own build folder.
#
# 64-bit programs run under Wine's 64-bit loader, 32-bit programs under the
# 32-bit loader where the kernel executes i386 code.  Where it can't (the
# loader answers "Exec format error"), they only run through qemu-user, about
# fifty times slower: test with the x86_64 build.
here=$(cd "$(dirname "$0")/.." && pwd)
case "$1" in
  "$here"/build/win32/*) : "${WINEPREFIX:=$here/build/win32/wineprefix}" ;;
  *) : "${WINEPREFIX:=$here/build/win64/wineprefix}" ;;
esac
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
if [ -x /usr/lib/wine/wine64 ] && "$here/cmake/pe-machine.sh" "$1" | grep -q x86_64; then
  exec /usr/lib/wine/wine64 "$@"
fi
if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  exec /usr/lib/wine/wine "$@"
fi
echo "wine-run: $1 is a 32-bit program and this kernel does not run i386 code; it runs only under qemu (very slow). Tests run from the x86_64 build (cmake/toolchain-x86_64-mingw.cmake)." >&2
exec wine "$@"
