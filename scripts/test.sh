#!/bin/bash
# Builds everything and runs every test: the portable code natively with
# sanitizers, the Windows code under Wine in a private prefix on a private X
# display: from the 64-bit build always, and from the 32-bit build (the
# deliverables) where the kernel runs 32-bit programs.  Both Windows builds
# compile every test and benchmark.  Exits non-zero when any suite fails.
set -euo pipefail
. "$(dirname "$0")/common.sh"
without_address_randomisation "$@"
"$root/scripts/setup.sh"

build_host
build_win64
build_win32

failed=()
echo "== host tests (ASan/UBSan)"
(cd "$host" && ctest --output-on-failure -j "$jobs") || failed+=(host)

windows_tests() {  # $1 build folder, $2 its name
  echo "== Windows tests under Wine: $2 build"
  start_wine_session "$1/wineprefix"
  set_window_management N
  (cd "$1" && ctest --output-on-failure -j "$jobs") || failed+=("$2")
  stop_wine_session
}
windows_tests "$win64" 64-bit
win32_note=""
if can_run_win32; then
  windows_tests "$win32" 32-bit
else
  win32_not_run || failed+=("32-bit (not run, under CI)")
  echo "== $win32_note"
fi

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "== FAILED: ${failed[*]}${win32_note:+; $win32_note}"
  exit 1
fi
echo "== all suites passed${win32_note:+; $win32_note}"
