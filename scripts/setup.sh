#!/bin/bash
# Installs what building, running and testing Morvix need, when it is missing.
# Idempotent: with everything present it only checks and returns.
#
# A mirror caught mid-sync serves an index out of step with its release file;
# apt then drops that index and fails the update.  That is a warning here:
# the update is tried a few times, then the install goes ahead with the
# indexes that came.  Each install is tried a few times too, some seconds
# apart (a fetch that timed out once is no reason to drop anything).
#
# Everything is installed from the indexes that came, in one go.  Should that
# fail with 32-bit Wine missing, the Wine packages go in on their own, and the
# rest after them from the same indexes.  After a failed update the Wine
# packages come from the release's own suite (-t): a dropped 32-bit index
# leaves 64-bit libraries with no 32-bit twin of the same version (both must
# match), and the release lists both.  The 64-bit Wine packages go with it so
# that the libraries they pull in are the release's too; everything else
# keeps its security updates.  Should 32-bit Wine still not install,
# everything else is installed, apt's reason is said in one line, and the
# tests run from the 64-bit build (scripts/test.sh says so in its summary).
# The rest goes in without removals, so that it keeps 32-bit Wine; where it
# can go in no other way, it goes in all the same, and the set-up says that
# 32-bit Wine is gone.
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
wine_packages="wine wine64 $win32_package"  # what must match across the two halves
update_tries=3
install_tries=3
retry_delay=10
policy=${MORVIX_SETUP_POLICY_RC:-/usr/sbin/policy-rc.d}  # its test points it elsewhere

installed() {
  [[ $(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null || true) == ii* ]]
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
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

# apt's reason for a failure ($1 its exit code), for a one-line message: its
# first error, else its first warning, else its last line, else the code.
apt_reason() {
  local line
  line=$(grep -m1 '^E: ' "$errors" || grep -m1 '^W: ' "$errors" || grep -v '^[[:space:]]*$' "$errors" | tail -1 || true)
  line=$(sed 's/^[EW]: //; s/[[:space:]]*$//' <<<"$line")
  echo "${line:-apt-get exited with $1 and said nothing}"
}

update_failed=""
for try in $(seq "$update_tries"); do
  rc=0
  $sudo apt-get update -qq >"$errors" 2>&1 || rc=$?
  if [[ $rc -eq 0 ]]; then
    update_failed=""
    break
  fi
  update_failed=$(apt_reason "$rc")
  if [[ $try -lt $update_tries ]]; then sleep "$retry_delay"; fi
done
if [[ -n $update_failed ]]; then
  echo "setup: warning: package indexes still fail after $update_tries updates ($update_failed); installing from the rest"
fi

# Tried install_tries times; apt's reason for the last failure in install_reason.
install_reason=""
install() {
  local try rc
  for try in $(seq "$install_tries"); do
    rc=0
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>"$errors" || rc=$?
    [[ $rc -eq 0 ]] && return 0
    install_reason=$(apt_reason "$rc")
    if [[ $try -lt $install_tries ]]; then sleep "$retry_delay"; fi
  done
  return 1
}
failed() {
  echo "setup: FAILED: the packages could not be installed (apt: $install_reason)" >&2
  exit 1
}

if install "${missing[@]}"; then
  echo "setup: done"
  exit 0
fi
[[ " ${missing[*]} " == *" $win32_package "* ]] || failed
# The Wine packages before the rest: the rest may bring 64-bit libraries at
# versions the 32-bit half cannot match.
wine=()
rest=()
for p in "${missing[@]}"; do
  if [[ " $wine_packages " == *" $p "* ]]; then wine+=("$p"); else rest+=("$p"); fi
done
release=()
if [[ -n $update_failed ]]; then
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [[ -z $codename ]] || release=(-t "$codename")
fi
wine_reason=""
if ! install "${release[@]}" "${wine[@]}"; then
  wine_reason=$install_reason
  for p in "${wine[@]}"; do [[ $p == "$win32_package" ]] || rest+=("$p"); done
fi
# The rest may bring 64-bit libraries that the 32-bit half cannot match; apt
# would then remove 32-bit Wine to make room, and say so only in its output.
removal_reason=""
if [[ ${#rest[@]} -gt 0 ]] && ! install --no-remove "${rest[@]}"; then
  removal_reason=$install_reason
  install "${rest[@]}" || failed
fi
if [[ -z $wine_reason ]]; then
  if installed "$win32_package"; then
    echo "setup: done"
  else
    echo "setup: 32-bit Wine was installed, but is gone after the rest${removal_reason:+ (apt, without removals: $removal_reason)}; the 32-bit suite will not run, the tests run from the 64-bit build"
  fi
  exit 0
fi
echo "setup: 32-bit Wine could not be installed (apt: $wine_reason${update_failed:+; after the failed index: $update_failed}); the 32-bit suite will not run, the tests run from the 64-bit build"
