#!/bin/bash
# Builds Morvix and runs it under Wine: on your display, or on a private Xvfb
# display when there is none.  Arguments are passed to Morvix ("/h").
set -euo pipefail
. "$(dirname "$0")/common.sh"
"$root/scripts/setup.sh"
build_cross Morvix knowledge_files
start_wine_session own-display
wine "$cross/bin/Morvix.exe" "$@"
