#!/bin/bash
# Builds the download parsers' fuzzer with clang's libFuzzer and runs it for a
# short while.  Exit 77 (skipped) when clang cannot build fuzzers here.
#   run_fuzz.sh <source root> <work folder> <seconds>
set -euo pipefail
src=$1 work=$2 secs=${3:-20}
mkdir -p "$work/corpus"
cxx=$(command -v clang++ || true)
[[ -n $cxx ]] || { echo "no clang++: skipped"; exit 77; }
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long){return 0;}' |
     "$cxx" -x c++ -fsanitize=fuzzer - -o "$work/probe" 2>/dev/null; then
    echo "clang++ lacks -fsanitize=fuzzer: skipped"
    exit 77
fi
"$cxx" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$src" "$src/update/tests/fuzz/fuzz_download_core.cpp" "$src/update/DownloadCore.cpp" \
    -o "$work/fuzz_download_core"
# Seeds: a reply header, a redirect target, SOCKS replies.
printf 'HTTP/1.1 206 Partial\r\nContent-Length: 12\r\nLocation: /x\r\nContent-Range: bytes 1-2/3\r\n\r\nbody' >"$work/corpus/reply"
printf 'h\0t\0t\0p\0:\0/\0/\0h\0:\x008\x000\0/\0' >"$work/corpus/url"
printf '\x05\x00\x00\x03\x04abcd\x00\x50' >"$work/corpus/socks5"
"$work/fuzz_download_core" -max_total_time="$secs" -max_len=4096 "$work/corpus" 2>&1 | tail -5
