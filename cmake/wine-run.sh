#!/bin/bash
# Runs a Windows program of the build under Wine, in the build's private prefix.
# scripts/test.sh exports the prefix, display and a persistent wineserver; run by
# hand (ctest in a build folder) it falls back to the prefix of the program's
# own build folder.
#
# 64-bit programs run under Wine's 64-bit loader, 32-bit programs under the
# 32-bit loader where the kernel executes i386 code.  Where it can't (the
# loader answers "Exec format error"), they only run through qemu-user, about
# fifty times slower: test with the x86_64 build.
#
# Exits with the program's code.  A non-zero one is also said on stderr, with
# the Windows status it may be and Wine's own message, if it printed one: a
# program that dies while Wine starts it prints nothing else.  TERM, INT and
# HUP are passed on to the program.
here=$(cd "$(dirname "$0")/.." && pwd)
case "$1" in
  "$here"/build/win32/*) : "${WINEPREFIX:=$here/build/win32/wineprefix}" ;;
  *) : "${WINEPREFIX:=$here/build/win64/wineprefix}" ;;
esac
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
if [ -x /usr/lib/wine/wine64 ] && "$here/cmake/pe-machine.sh" "$1" | grep -q x86_64; then
  loader=/usr/lib/wine/wine64
elif [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  loader=/usr/lib/wine/wine
else
  echo "wine-run: $1 is a 32-bit program and this kernel does not run i386 code; it runs only under qemu (very slow). Tests run from the x86_64 build (cmake/toolchain-x86_64-mingw.cmake)." >&2
  loader=wine
fi

# The program's stderr passes through tee, which keeps a copy for the report
# in a file deleted at once (nothing is left behind when CTest kills us), and
# ignores a terminal's Ctrl-C so that the program's last words still pass.
said=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
exec 4>"$said" 6<"$said"
rm -f "$said"
exec 5> >(exec tee -i /dev/fd/4 >&2)
tee_pid=$!
exec 4>&-
child=""
signal=""
forward() {
  signal=$1
  [ -z "$child" ] || kill -"$1" "$child" 2>/dev/null
}
trap 'forward TERM' TERM
trap 'forward INT' INT
trap 'forward HUP' HUP
# <&0: without it a background program gets /dev/null as its stdin.
"$loader" "$@" <&0 2>&5 5>&- 6>&- &
child=$!
exec 5>&-
[ -z "$signal" ] || kill -"$signal" "$child" 2>/dev/null
wait "$child"
rc=$?
# A signal ends the wait at once; the program ends after it.
while [ -n "$signal" ] && kill -0 "$child" 2>/dev/null; do wait "$child"; rc=$?; done
# Until tee has copied all; a process the program started may hold the pipe.
for _ in $(seq 100); do kill -0 "$tee_pid" 2>/dev/null || break; sleep 0.02; done

program=$(basename "$1")
if [ -n "$signal" ]; then  # even when it then exits with 0, as Wine's Ctrl-C does
  echo "wine-run: $program was sent SIG$signal (its exit code: $rc)" >&2
  exit $((128 + $(kill -l "$signal")))
fi
[ "$rc" -ne 0 ] || exit 0
# The shell keeps the low byte of a Windows exit code: 0xC0000135 reads 53.
case $rc in
  5) status="0xC0000005, an access violation" ;;
  23) status="0xC0000017, no memory" ;;
  29) status="0xC000001D, an illegal instruction" ;;
  53) status="0xC0000135, a DLL not found" ;;
  57) status="0xC0000139, an entry point not found" ;;
  58) status="0xC000013A, ended by Ctrl-C" ;;
  66) status="0xC0000142, a DLL that failed to initialise" ;;
  123) status="0xC000007B, an image of the wrong kind" ;;
  148) status="0xC0000094, an integer division by zero" ;;
  253) status="0xC00000FD, a stack overflow" ;;
  *) status="" ;;
esac
line="wine-run: $program exited with code $rc ($(printf '0x%02X' "$rc"))"
[ -z "$status" ] || line="$line; as a Windows status cut to its low byte: $status"
if [ "$rc" -gt 128 ] && [ "$rc" -le 192 ]; then
  line="$line; or SIG$(kill -l $((rc - 128))) ended it"
fi
said=$(grep -m3 -E '^(wine: |([0-9a-f]+:)?err:)' <&6 | tr -d '\r' | paste -sd '|' | sed 's/|/ | /g')
[ -z "$said" ] || line="$line; Wine said: $said"
echo "$line" >&2
exit "$rc"
