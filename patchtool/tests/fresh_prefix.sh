#!/bin/bash
# Runs a command in a Wine prefix made for it alone, with its own wineserver,
# and deletes the prefix afterwards: the patch tool's tests write into the
# prefix's system folder and change its services.
#   fresh_prefix.sh <parent folder> <command...>
# The command sees WINEPREFIX and MORVIX_PATCH_FRESH_PREFIX=1.
set -u
parent=$1
shift
# On a display of its own: windows of another Wine server on the suite's
# display would take the focus from the suite's windows (a key a test presses
# then goes astray).
. "$(dirname "$0")/../../scripts/common.sh"
start_private_display || exit 1
mkdir -p "$parent"
work=$(mktemp -d "$parent/patchtool-prefix.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export MORVIX_PATCH_FRESH_PREFIX=1
cleanup() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$work"
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

# wineboot of a 64-bit prefix also sets up its 32-bit half; where 32-bit code
# runs only through qemu that takes minutes, so it is made without the qemu
# registration in sight (a private binfmt_misc mount).
boot="timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1; wineserver -w"
if unshare --user --map-root-user --mount true 2>/dev/null; then
  unshare --user --map-root-user --mount bash -c \
    "mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; $boot"
else
  bash -c "$boot"
fi
[[ -f $WINEPREFIX/system.reg ]] || { echo "fresh_prefix: wineboot made no prefix" >&2; exit 1; }
wineserver -p 2>/dev/null
reg() { /usr/lib/wine/wine64 reg add "$@" /f </dev/null >/dev/null 2>&1; }
for f in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "宋体"; do
  reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /d "WenQuanYi Micro Hei"
done
reg 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
"$@" </dev/null
