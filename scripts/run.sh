#!/bin/bash
# Builds Morvix and runs it under Wine: on your display, or on a private Xvfb
# display when there is none.  Arguments are passed to Morvix ("/h").
# The 32-bit program runs where the kernel executes 32-bit code; elsewhere the
# 64-bit build of the same sources runs.  Returns when Morvix exits, with its
# exit code.
set -euo pipefail
. "$(dirname "$0")/common.sh"
without_address_randomisation "$@"
"$root/scripts/setup.sh"
if can_run_win32; then
  build=$win32
  build_win32 --target Morvix knowledge_files
else
  build=$win64
  if kernel_runs_32bit; then
    echo "run: 32-bit Wine is not installed: running the 64-bit build"
  else
    echo "run: this kernel does not run 32-bit programs: running the 64-bit build"
  fi
  build_win64 --target Morvix knowledge_files
fi
start_wine_session "$build/wineprefix" own-display
if [[ -n $xvfb_pid ]]; then
  set_window_management N
  echo "run: no display here: Morvix runs on the private X display $DISPLAY (Xvfb, 1280x1024)"
  echo "run:   screenshot: DISPLAY=$DISPLAY import -window root shot.png"
  echo "run:   or attach any X client or viewer to DISPLAY=$DISPLAY; Wine prefix: $WINEPREFIX"
  echo "run: this script keeps running until Morvix exits"
else
  set_window_management Y
fi
"$root/cmake/wine-run.sh" "$build/bin/Morvix.exe" "$@"
