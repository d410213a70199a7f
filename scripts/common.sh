# Shared by run.sh and test.sh: build folders, the three builds, and the
# private Wine session (prefix, X display, persistent wineserver).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
host=$root/build/host      # native, portable code only, sanitizers
win64=$root/build/win64    # 64-bit Windows: what the tests run
win32=$root/build/win32    # 32-bit Windows: the deliverables (and their tests where 32-bit runs)
jobs=$(nproc)

# Wine now and then cannot start a process when the kernel lays out the new
# process's memory at random: a page that Wine maps at a fixed address is
# taken ("failed to map the shared user data", CreateProcess error 1359;
# measured: 5 starts in 19,800 failed with it, none in 21,600 without).
# run.sh and test.sh run themselves again with it off; $@: their arguments.
without_address_randomisation() {
  if (( 0x$(< /proc/self/personality) & 0x40000 )) || ! setarch "$(uname -m)" -R true 2>/dev/null; then
    return 0
  fi
  exec setarch "$(uname -m)" -R "$0" "$@"
}

configure_windows() {  # $1 folder, $2 toolchain, extra cmake args...
  local dir=$1 toolchain=$2
  shift 2
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" "$@" >/dev/null
}

build_host() {
  CC=gcc CXX=g++ cmake -S "$root" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$host" -j "$jobs" "$@"
}

build_win64() {
  configure_windows "$win64" toolchain-x86_64-mingw.cmake
  cmake --build "$win64" -j "$jobs" "$@"
}

# Tests on here too: every test and benchmark compiles for both pointer sizes,
# and where the kernel runs 32-bit code they run from this build as well.
# Pass --target <name>... to build only those.
build_win32() {
  configure_windows "$win32" toolchain-i686-mingw.cmake -DBUILD_TESTING=ON
  cmake --build "$win32" -j "$jobs" "$@"
}

# True when this kernel runs 32-bit programs natively, whether or not 32-bit
# Wine is installed: a 93-byte i386 program that only exits with code 0 is run.
kernel_runs_32bit() {
  [[ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]] || return 1  # only emulated
  local probe rc=0
  mkdir -p "$root/build"
  probe=$(mktemp "$root/build/.i386-probe.XXXXXX")
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'\
'\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00'\
'\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || rc=1
  rm -f "$probe"
  return $rc
}

# True when the 32-bit deliverables can run here: the kernel runs 32-bit
# programs and 32-bit Wine is installed.
can_run_win32() {
  [[ -x /usr/lib/wine/wine ]] || return 1
  kernel_runs_32bit || return 1
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Where the 32-bit suite cannot run: sets win32_note, the summary's words.
# Fails under CI when the kernel would run it and only 32-bit Wine is
# missing, since the deliverables would then go untested.
win32_not_run() {
  if kernel_runs_32bit; then
    win32_note="the 32-bit suite was NOT run: this kernel runs 32-bit programs, but 32-bit Wine is not installed (setup said why); the tests ran from the 64-bit build"
    [[ ${CI:-} != true ]]
  else
    win32_note="32-bit build compiled; this kernel does not run 32-bit programs: its tests ran from the 64-bit build"
  fi
}

# Makes the prefix.  A 64-bit prefix also tries to set up its 32-bit half;
# where 32-bit code runs only through qemu that takes minutes, so the prefix is
# made where no qemu registration is visible (a private binfmt_misc mount).
create_prefix() {
  local loader=$1
  local boot="timeout 900 $loader wineboot -i >/dev/null 2>&1; wineserver -w"
  if [[ $loader == */wine64 ]] && unshare --user --map-root-user --mount true 2>/dev/null; then
    unshare --user --map-root-user --mount bash -c \
      "mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; $boot" || true
  else
    bash -c "$boot" || true
  fi
  # Chinese menus and captions: the system's UI fonts have no CJK glyphs.
  local face="WenQuanYi Micro Hei"
  for f in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI" "SimSun" "宋体"; do
    "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /d "$face" /f >/dev/null 2>&1 || true
  done
  wineserver -w
}

# Y: the display's window manager frames Wine's windows (a user's desktop).
# N: no window manager (Xvfb): unmanaged windows close at once instead of Wine
# waiting two seconds for a manager that never answers, box after box.
set_window_management() {
  local loader
  loader=$(wine_loader)
  "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$1" /f </dev/null >/dev/null 2>&1 || true
}

# Wine's loader for the prefix in use: 32-bit for the 32-bit build's prefix.
wine_loader() {
  if [[ $WINEPREFIX == "$win32"* ]]; then echo /usr/lib/wine/wine; else echo /usr/lib/wine/wine64; fi
}

# A private X server (Xvfb) on a free display, exported as DISPLAY; its
# process is xvfb_pid.
start_private_display() {
  # Sessions of other worktrees start at the same moment and may pick the
  # same free number: the display is ours only when the lock names our
  # server.  On a shared display the other session's windows take the focus
  # (keys pressed by a test go astray), and its end breaks our connection.
  local n lock
  for n in $(seq 90 140); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
      [[ -e /tmp/.X11-unix/X$n ]] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    lock=$(tr -d ' \n' </tmp/.X$n-lock 2>/dev/null || true)
    if [[ $lock == "$xvfb_pid" ]] && kill -0 "$xvfb_pid" 2>/dev/null; then
      export DISPLAY=":$n"
      break
    fi
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  [[ -n $xvfb_pid ]] || { echo "wine: no free X display" >&2; return 1; }
}

xvfb_pid=""
keeper_pid=""
keeper_fifo=""
start_wine_session() {
  # $1: the prefix; $2: "own-display" keeps the user's DISPLAY when there is one.
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [[ ${2:-} != own-display || -z ${DISPLAY:-} ]]; then
    start_private_display || return 1
  fi
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "wine: creating the private prefix $WINEPREFIX"
    local loader
    loader=$(wine_loader)
    create_prefix "$loader"
  fi
  wineserver -p 2>/dev/null || true  # one may already serve this prefix
  # Wine's own service processes start with the first program and inherit its
  # output; start them now on /dev/null, or CTest would wait on their pipes.
  local loader
  loader=$(wine_loader)
  "$loader" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  # Wine's desktop process (explorer.exe /desktop, started just now on
  # /dev/null) ends a second after its last client; the next program with a
  # window starts it again on that program's output, and CTest then waits for
  # the pipe until the whole suite is done (minutes).  A client that stays for
  # the session, on /dev/null, keeps the first desktop process alive.
  keeper_fifo=$(mktemp -u "${TMPDIR:-/tmp}/morvix-desktop.XXXXXX")
  mkfifo "$keeper_fifo"
  sleep 86400 >"$keeper_fifo" &
  keeper_pid=$!
  "$loader" cmd.exe <"$keeper_fifo" >/dev/null 2>&1 &
  trap stop_wine_session EXIT
}

stop_wine_session() {
  wineserver -k 2>/dev/null || true
  if [[ -n $keeper_pid ]]; then
    kill "$keeper_pid" 2>/dev/null || true
    wait "$keeper_pid" 2>/dev/null || true
    keeper_pid=""
  fi
  [[ -n $keeper_fifo ]] && rm -f "$keeper_fifo"
  keeper_fifo=""
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
}
