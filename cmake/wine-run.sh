#!/bin/sh
# Runs a Windows program of the build under Wine, in the build's private prefix.
# scripts/test.sh exports the prefix, display and a persistent wineserver; run by
# hand (ctest in a cross build folder) it falls back to sensible defaults.
here=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$here/build/cross/wineprefix}"
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
exec wine "$@"
