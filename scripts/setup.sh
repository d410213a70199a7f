#!/bin/bash
# Installs what building, running and testing Morvix need, when it is missing.
# Idempotent: with everything present it only checks and returns.
#
# A mirror caught mid-sync serves an index out of step with its release file;
# apt then drops that index and fails the update.  That is a warning here:
# the update is tried a few times, then the install goes ahead with the
# indexes that came.  A dropped index can leave 64-bit libraries with no
# 32-bit twin of the same version (both must match for 32-bit Wine); the
# release's own suite lists both, so the install is tried once more from it.
# Should 32-bit Wine still not install, everything else is installed, the
# reason is said in one line, and the tests run from the 64-bit build
# (scripts/test.sh says so in its summary).
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
win32_package=wine32:i386
update_tries=3
retry_delay=10
policy=${MORVIX_SETUP_POLICY_RC:-/usr/sbin/policy-rc.d}  # its test points it elsewhere

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
had_policy=0
[[ -e $policy ]] && had_policy=1
if [[ $had_policy -eq 0 ]]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod +x "$policy"
fi
errors=$(mktemp)
trap '[[ $had_policy -eq 0 ]] && $sudo rm -f "$policy"; rm -f "$errors"' EXIT

# The first line apt gave as its reason, for a one-line message.
apt_reason() { grep -m1 '^E: ' "$errors" | sed 's/^E: //; s/[[:space:]]*$//' || true; }

update_failed=""
for try in $(seq "$update_tries"); do
  if $sudo apt-get update -qq 2>"$errors"; then
    update_failed=""
    break
  fi
  update_failed=$(apt_reason)
  if [[ $try -lt $update_tries ]]; then sleep "$retry_delay"; fi
done
if [[ -n $update_failed ]]; then
  echo "setup: warning: package indexes still fail after $update_tries updates ($update_failed); installing from the rest"
fi

install() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>"$errors"
}
# From the indexes that came; then, after a failed update, from the release's
# own suite.  A failure leaves apt's reason for the first try in install_reason.
install_reason=""
install_either() {
  install "$@" && return 0
  install_reason=$(apt_reason)
  if [[ -n $update_failed ]]; then
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [[ -n $codename ]] && install -t "$codename" "$@" && return 0
  fi
  return 1
}

if install_either "${missing[@]}"; then
  echo "setup: done"
  exit 0
fi
reason=$install_reason
rest=()
for p in "${missing[@]}"; do [[ $p == "$win32_package" ]] || rest+=("$p"); done
if [[ ${#rest[@]} -lt ${#missing[@]} ]] && { [[ ${#rest[@]} -eq 0 ]] || install_either "${rest[@]}"; }; then
  echo "setup: 32-bit Wine could not be installed (apt: ${reason:-no reason given}${update_failed:+; after the failed index: $update_failed}); the 32-bit suite will not run, the tests run from the 64-bit build"
  exit 0
fi
echo "setup: FAILED: the packages could not be installed (apt: $install_reason)" >&2
exit 1
