#!/bin/bash
# scripts/setup.sh against stand-ins for the package tools on PATH: a mirror
# caught mid-sync (one index out of step with its release file, as Debian's
# security suite served it), 32-bit twins found only in the release's own
# suite or nowhere, a rest that would take 32-bit Wine away again, and a
# plainly broken install.  Then the 32-bit verdict of scripts/common.sh.
# Prints each failed check; exits non-zero on any.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
failures=0
check() {  # $1 what, then a command that must succeed
  local what=$1
  shift
  if ! "$@"; then
    echo "FAILED: $scenario: $what"
    failures=$((failures + 1))
  fi
}

mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/bash
echo "apt-get $*" >>"$FAKE_DIR/calls"
case $1 in
update)
  n=$(( $(cat "$FAKE_DIR/updates" 2>/dev/null || echo 0) + 1 ))
  echo "$n" >"$FAKE_DIR/updates"
  if (( n <= FAKE_UPDATE_FAILS )); then
    sync="Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    dropped="Some index files failed to download. They have been ignored, or old ones used instead."
    case $FAKE_UPDATE_SAYS in
      E) echo "E: $sync [IP: 203.0.113.80 80]" >&2; echo "E: $dropped" >&2 ;;
      W|WE) echo "W: $sync" >&2
         [[ $FAKE_UPDATE_SAYS == WE ]] && echo "E: $dropped" >&2
         echo "N: See apt-secure(8) manpage for repository creation and user configuration details." >&2 ;;
    esac
    exit 100
  fi ;;
install)
  held="E: Unable to correct problems, you have held broken packages."
  timeout="E: Failed to fetch http://deb.debian.org/debian/pool/main/w/wine/wine32_8.0~repack-4_i386.deb  Connection timed out [IP: 203.0.113.80 80]"
  n=$(( $(cat "$FAKE_DIR/installs" 2>/dev/null || echo 0) + 1 ))
  echo "$n" >"$FAKE_DIR/installs"
  case $FAKE_INSTALL in
    twins) [[ " $* " == *" wine32:i386 "* && " $* " != *" -t $FAKE_CODENAME "* ]] && { echo "$held" >&2; exit 100; } ;;
    no32) [[ " $* " == *" wine32:i386 "* ]] && { echo "$held" >&2; exit 100; } ;;
    once) (( n == 1 )) && { echo "$timeout" >&2; exit 100; } ;;
    slow32) [[ " $* " == *" wine32:i386 "* ]] && { echo "$timeout" >&2; exit 100; } ;;
    broken) echo "E: Unable to locate package cmake" >&2; exit 100 ;;
    removes32)  # twins, and the rest's 64-bit libraries leave the 32-bit half behind
      [[ " $* " == *" wine32:i386 "* && " $* " != *" -t $FAKE_CODENAME "* ]] && { echo "$held" >&2; exit 100; }
      if [[ " $* " == *" nginx "* ]] && grep -qx wine32:i386 "$FAKE_DIR/installed" 2>/dev/null; then
        [[ " $* " == *" --no-remove "* ]] && { echo "E: Packages need to be removed but remove is disabled." >&2; exit 100; }
        sed -i '/^wine32:i386$/d' "$FAKE_DIR/installed"
      fi ;;
  esac
  printf '%s\n' "${@:2}" | grep -v '^-' >>"$FAKE_DIR/installed" ;;
esac
exit 0
STUB
# Installed: what the stand-in apt-get installed (at first nothing).
printf '#!/bin/bash\n[[ -e $FAKE_DIR/installed ]] && grep -qxF -- "${!#}" "$FAKE_DIR/installed" && printf "ii "\n' >"$work/bin/dpkg-query"
printf '#!/bin/bash\n[[ $1 == --print-foreign-architectures ]] && echo i386\nexit 0\n' >"$work/bin/dpkg"
printf '#!/bin/bash\necho "sleep $*" >>"$FAKE_DIR/calls"\n' >"$work/bin/sleep"
printf '#!/bin/bash\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin"/*

run_setup() {  # $1 update failures, $2 install behaviour
  FAKE_DIR=$work/$scenario
  mkdir -p "$FAKE_DIR"
  out=$(PATH="$work/bin:$PATH" FAKE_DIR=$FAKE_DIR FAKE_UPDATE_FAILS=$1 FAKE_INSTALL=$2 FAKE_UPDATE_SAYS=${says:-E} FAKE_CODENAME=$codename \
        MORVIX_SETUP_POLICY_RC=$FAKE_DIR/policy-rc.d "$here/setup.sh" 2>&1)
  rc=$?
  calls=$(cat "$FAKE_DIR/calls")
}
fails() { ! "$@"; }
count() { grep -c -- "$1" <<<"$calls" || true; }
said() { grep -q -- "$1" <<<"$out"; }
lines_saying() { grep -c -- "$1" <<<"$out" || true; }

scenario="an index that comes on the third update"
run_setup 2 ok
check "ends well" test "$rc" -eq 0
check "three updates, some seconds apart" test "$(count '^apt-get update')" -eq 3 -a "$(count '^sleep [1-9]')" -eq 2
check "one install" test "$(count '^apt-get install')" -eq 1
check "no warning" fails said warning
check "the policy file is gone again" test ! -e "$FAKE_DIR/policy-rc.d"

scenario="an index that keeps failing; the twins are in the release's suite"
run_setup 99 twins
check "ends well" test "$rc" -eq 0
check "a bounded number of updates" test "$(count '^apt-get update')" -eq 3
check "one warning line naming the index" test "$(lines_saying 'warning: .*binary-i386/Packages.xz.*Mirror sync in progress')" -eq 1
check "installed from the release's own suite" test "$(count "^apt-get install .*-t $codename .*wine32:i386")" -eq 1
check "says it is done" said '^setup: done'
check "nothing else from the release's suite" test "$(grep -- "-t $codename" <<<"$calls" | grep -c 'nginx\|openssl\|cmake')" -eq 0
last_install() { tail -1 <<<"$calls"; }
check "the rest after it, from the normal indexes" test "$(last_install | grep nginx | grep -vc -- ' -t ')" -eq 1
check "and without removals" grep -q -- '--no-remove .*nginx' <<<"$(last_install)"

# The reason taken: the first E: line, even after a W: line; else the first
# W: line, not the notice after it; else the exit code.
while read -r -u 3 says reason; do
  scenario="an update that fails saying $says"
  run_setup 99 twins
  check "one warning line, with that reason" test "$(lines_saying "^setup: warning: .* updates ($reason")" -eq 1
  check "32-bit Wine from the release's suite" test "$(count "^apt-get install .*-t $codename .*wine32:i386")" -eq 1
done 3<<'SAYS'
WE Some index files failed to download\.
W Failed to fetch .*Mirror sync in progress?)
nothing apt-get exited with 100 and said nothing)
SAYS
says=E

scenario="a fetch that times out once"
run_setup 0 once
check "tried again some seconds later" test "$(count '^sleep [1-9]')" -eq 1
check "32-bit Wine installed" grep -q wine32 <<<"$(last_install)"
check "says it is done" said '^setup: done'

scenario="32-bit Wine that keeps timing out"
run_setup 0 slow32
tries=$(count 'install.*wine32')
check "given up after a few tries, seconds apart, in one line with apt's reason" \
  test "$tries" -eq 6 -a "$(count '^sleep [1-9]')" -eq 4 -a \
  "$(lines_saying '^setup: 32-bit Wine could not be installed (apt: Failed to fetch .*wine32.*timed out')" -eq 1

scenario="an index that keeps failing; no 32-bit twins anywhere"
run_setup 99 no32
check "ends well" test "$rc" -eq 0
check "one line says why 32-bit Wine is missing" \
  test "$(lines_saying '^setup: 32-bit Wine could not be installed (apt: Unable to correct problems.*binary-i386.*the tests run from the 64-bit build')" -eq 1
check "everything else installed" grep -q '^apt-get install .*wine64' <<<"$(last_install)"
check "without 32-bit Wine" fails grep -q wine32 <<<"$(last_install)"

scenario="an index that keeps failing; the rest would take 32-bit Wine away"
run_setup 99 removes32
check "ends well" test "$rc" -eq 0
check "the rest tried without removals first" test "$(count '^apt-get install .*--no-remove .*nginx')" -eq 3
check "then installed all the same" test "$(last_install | grep nginx | grep -vc -- --no-remove)" -eq 1
check "says plainly that 32-bit Wine is gone, and apt's reason" \
  test "$(lines_saying '^setup: 32-bit Wine .* gone .*remove is disabled.*the tests run from the 64-bit build')" -eq 1
check "not done" fails said '^setup: done'

scenario="indexes that come, 32-bit Wine that does not"
run_setup 0 no32
check "ends well" test "$rc" -eq 0
check "no second suite tried" test "$(count "^apt-get install .*-t ")" -eq 0
check "says why" said '^setup: 32-bit Wine could not be installed (apt: Unable to correct problems'

scenario="an install that fails for everything"
run_setup 0 broken
check "fails" test "$rc" -ne 0
check "says why" said '^setup: FAILED: .*Unable to locate package cmake'

# The summary's verdict on a 32-bit suite that cannot run.
. "$here/common.sh"
scenario="32-bit Wine missing where the kernel runs 32-bit programs"
verdict() { (CI=$1 && win32_not_run && echo "$win32_note"); }
kernel_runs_32bit() { return 0; }
check "a failure under CI" fails verdict true
check "a note elsewhere, saying the suite was not run" grep -q "32-bit suite was NOT run" <<<"$(verdict "")"
scenario="a kernel that runs no 32-bit programs"
kernel_runs_32bit() { return 1; }
check "no failure under CI" eval 'verdict true >/dev/null'
. "$here/common.sh"
scenario="this machine"
if [[ -x /usr/lib/wine/wine ]]; then
  wine_runs=yes kernel=yes
  /usr/lib/wine/wine --version >/dev/null 2>&1 || wine_runs=no
  kernel_runs_32bit || kernel=no
  check "the probe agrees with 32-bit Wine" test "$wine_runs" = "$kernel"
fi

[[ $failures -eq 0 ]] && echo "setup and verdict: all checks passed"
exit $((failures > 0))
