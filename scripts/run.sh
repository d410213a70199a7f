#!/bin/bash
# Builds Morvix and runs it under Wine: on your display, or on a private Xvfb
# display when there is none.  Arguments are passed to Morvix ("/h").
# The 32-bit program runs where the kernel executes 32-bit code; elsewhere the
# 64-bit build of the same sources runs.
set -euo pipefail
. "$(dirname "$0")/common.sh"
"$root/scripts/setup.sh"
if can_run_win32; then
  build_win32 Morvix knowledge_files
  start_wine_session "$win32/wineprefix" own-display
  exec_dir=$win32/bin
else
  build_win64 Morvix knowledge_files
  start_wine_session "$win64/wineprefix" own-display
  exec_dir=$win64/bin
fi
if [[ -n $xvfb_pid ]]; then set_window_management N; else set_window_management Y; fi
"$root/cmake/wine-run.sh" "$exec_dir/Morvix.exe" "$@"
