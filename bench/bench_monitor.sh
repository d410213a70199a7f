#!/bin/bash
# Morvix's CPU time while it shows idle helper processes, beside Wine's own
# taskmgr.exe measured the same way in the same run, with the share of the
# prefix's wineserver in each window.  Needs a display (DISPLAY) and a 64-bit
# build with its prefix.
#   bench_monitor.sh <build-dir> [processes=200] [seconds=60] [Morvix's page=1]
set -euo pipefail
build=$(cd "$1" && pwd)
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
/usr/lib/wine/wineserver -p 2>/dev/null || true
# The prefix's server runs in /tmp/.wine-<uid>/server-<device>-<inode> of the prefix.
dir=$(printf "server-%x-%x" $(stat -c '%d %i' "$WINEPREFIX"))
server=0
for p in $(pgrep wineserver); do
    [[ $(readlink "/proc/$p/cwd" 2>/dev/null) == */$dir ]] && server=$p
done
"$wine" "$build/bin/bench_monitor.exe" "${2:-200}" "${3:-60}" "$server" "${4:-1}"
