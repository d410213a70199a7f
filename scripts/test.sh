#!/bin/bash
# Builds everything and runs every test: the host build (sanitizers) natively,
# the cross build under Wine in a private prefix on a private X display.
set -euo pipefail
. "$(dirname "$0")/common.sh"
"$root/scripts/setup.sh"

build_host
build_cross

echo "== host tests (ASan/UBSan)"
(cd "$host" && ctest --output-on-failure -j "$jobs")

echo "== Windows tests under Wine"
start_wine_session
(cd "$cross" && ctest --output-on-failure -j "$jobs")
