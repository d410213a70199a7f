#!/bin/bash
# Installs what building, running and testing Morvix need, when it is missing.
# Idempotent: with everything present it only checks and returns.
set -euo pipefail

packages=(
  cmake ninja-build g++ git
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  wine wine32:i386 wine64
  xvfb xauth x11-utils fonts-wqy-microhei imagemagick
  googletest mdbtools
  clang libclang-rt-14-dev
  nginx tinyproxy microsocks dante-server
  openssl curl python3 procps
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
  [[ $status == ii* ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
# Server packages must not start their daemons here (no init system, and
# dante's default configuration would make its postinst fail).
policy=/usr/sbin/policy-rc.d
had_policy=0
[[ -e $policy ]] && had_policy=1
if [[ $had_policy -eq 0 ]]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee $policy >/dev/null
  $sudo chmod +x $policy
fi
trap '[[ $had_policy -eq 0 ]] && $sudo rm -f $policy' EXIT
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
