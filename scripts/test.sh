#!/bin/bash
# Builds everything and runs every test: the portable code natively with
# sanitizers, the Windows code from the 64-bit build under Wine in a private
# prefix on a private X display.  The 32-bit deliverables are built too.
set -euo pipefail
. "$(dirname "$0")/common.sh"
"$root/scripts/setup.sh"

build_host
build_win64
build_win32

echo "== host tests (ASan/UBSan)"
(cd "$host" && ctest --output-on-failure -j "$jobs")

echo "== Windows tests under Wine"
start_wine_session "$win64/wineprefix"
set_window_management N
(cd "$win64" && ctest --output-on-failure -j "$jobs")
