#!/bin/bash
# Long fuzzing campaigns, outside CI (CI runs each fuzzer briefly, from a fixed
# seed, through CTest).  Each target runs as one low-priority process
# (nice 19, one libFuzzer job) until it has made the given number of
# executions or the time is up.
#
#   scripts/fuzz-campaign.sh [--runs N] [--seconds S] [--seed N] [target...]
#   scripts/fuzz-campaign.sh --status
#
# Targets: des_fuzz_decrypt, fuzz_jet_reader, update_host_download_fuzz (all
# by default).  The fuzzers come from the host build (build/host/bin, made by
# build_host in scripts/common.sh); each run uses a copy, so rebuilding meanwhile
# is safe.  Work folders: build/fuzz-campaign/<target>/ with the growing corpus
# (seeded from the committed seeds and regressions), crash files and log.
# A crash input belongs in the target's regression folder, with its fix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/host/bin
base=$root/build/fuzz-campaign

declare -A corpus=(
  [des_fuzz_decrypt]="des/tests/fuzz_regressions des/tests/fuzz_corpus"
  [fuzz_jet_reader]="platform/jet/fuzz/regressions platform/jet/fuzz/seeds"
  [update_host_download_fuzz]="update/tests/fuzz/regressions update/tests/fuzz/seeds"
)
declare -A max_len=([des_fuzz_decrypt]=4096 [fuzz_jet_reader]=65536 [update_host_download_fuzz]=4096)

status() {
  for t in "${!corpus[@]}"; do
    local log=$base/$t/fuzz-0.log
    [[ -f $log ]] || continue
    local last fin crashes
    last=$(grep -aoE '^#[0-9]+' "$log" | tail -1 || true)
    fin=$(grep -a 'Done [0-9]* runs' "$log" | tail -1 || true)
    crashes=$(ls "$base/$t" | grep -cE '^(crash|leak|timeout|oom)-' || true)
    printf '%-28s executions %-12s crash files: %s %s\n' "$t" "${last#\#}" "$crashes" "$fin"
  done
}

runs=10000000 seconds=0 seed=1
targets=()
while (($#)); do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --status) status; exit 0 ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
((${#targets[@]})) || targets=(des_fuzz_decrypt fuzz_jet_reader update_host_download_fuzz)

pids=()
for t in "${targets[@]}"; do
  [[ -n ${corpus[$t]:-} ]] || { echo "unknown target: $t" >&2; exit 2; }
  [[ -x $bin/$t ]] || { echo "$bin/$t is missing: run build_host first" >&2; exit 2; }
  work=$base/$t
  mkdir -p "$work/corpus"
  cp -f "$bin/$t" "$work/$t"
  dirs=()
  for d in ${corpus[$t]}; do dirs+=("$root/$d"); done
  limit=()
  ((seconds > 0)) && limit=(-max_total_time="$seconds")
  # -jobs=1 runs one worker process that logs to fuzz-0.log in the work folder.
  (cd "$work" && exec nice -n 19 "./$t" -jobs=1 -workers=1 -runs="$runs" -seed="$seed" "${limit[@]}" \
      -max_len="${max_len[$t]}" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/" "$work/corpus" "${dirs[@]}" >"$work/driver.log" 2>&1) &
  pids+=($!)
  echo "$t: pid $!, log $work/fuzz-0.log"
done
status_rc=0
for p in "${pids[@]}"; do wait "$p" || status_rc=1; done
status
exit $status_rc
