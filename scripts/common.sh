# Shared by run.sh and test.sh: build folders, the cross and host builds, and
# the private Wine session (prefix, X display, persistent wineserver).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cross=$root/build/cross
host=$root/build/host
jobs=$(nproc)

build_cross() {
  cmake -S "$root" -B "$cross" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" >/dev/null
  cmake --build "$cross" -j "$jobs" "$@"
}

build_host() {
  CC=gcc CXX=g++ cmake -S "$root" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$host" -j "$jobs" "$@"
}

xvfb_pid=""
start_wine_session() {
  # $1: "own-display" keeps the user's DISPLAY when there is one.
  export WINEPREFIX=$cross/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [[ ${1:-} != own-display || -z ${DISPLAY:-} ]]; then
    local n
    for n in $(seq 90 140); do
      [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
  fi
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "wine: creating the private prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  wineserver -p
  trap stop_wine_session EXIT
}

stop_wine_session() {
  wineserver -k 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
}
