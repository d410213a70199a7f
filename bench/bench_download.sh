#!/bin/bash
# A 200 MB download from nginx on loopback: curl against bench_download, in
# the same run, on the same file.  Prints MB/s of each and the ratio.
#   bench_download.sh host               (the engine built natively, -O2)
#   bench_download.sh <bench_download.exe> wine
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
exe=$1
shift
if [[ $exe == host ]]; then
    # The engine on POSIX sockets, optimised (the host build carries sanitizers).
    exe=${MX_BENCH_WORK:-/tmp/mx-bench-download}/bench_download_host
    mkdir -p "$(dirname "$exe")"
    g++ -std=c++20 -O2 -DNDEBUG -I"$here" "$here/bench/bench_download.cpp" "$here/update/DownloadCore.cpp" \
        "$here/update/DownloadEngine.cpp" "$here/update/tests/host/PosixDownloadPlatform.cpp" -o "$exe"
fi
work=${MX_BENCH_WORK:-/tmp/mx-bench-download}
export MX_BENCH_SIZE=${MX_BENCH_SIZE:-209715200}
MX_BENCH_EXE=$exe MX_BENCH_RUNNER="$*" "$here/update/tests/run_with_peers.sh" "$work" bash -c '
    set -euo pipefail
    url=http://127.0.0.1:$MX_NGINX_PORT/bench.bin
    out=$MX_TEMP/bench.out
    for round in 1 2 3; do
        c=$(curl -s -o "$out" -w "%{size_download} %{time_total}" "$url")
        curl_mbs=$(awk -v s="${c% *}" -v t="${c#* }" "BEGIN { printf \"%.1f\", s / t / 1e6 }")
        rm -f "$out"
        target=$out
        [[ -n $MX_BENCH_RUNNER ]] && target="Z:${out//\//\\}"
        b=$($MX_BENCH_RUNNER "$MX_BENCH_EXE" "$url" "$target" 262144)
        ours=$(awk "{ print \$5 }" <<<"$b")
        cmp -s "$out" "$MX_PEER_ROOT/bench.bin" || { echo "downloaded file differs"; exit 1; }
        rm -f "$out"
        echo "round $round: curl $curl_mbs MB/s, bench_download $ours MB/s, ratio $(awk -v a="$ours" -v b="$curl_mbs" "BEGIN { printf \"%.2f\", a / b }")"
    done
'
