# One deterministic fuzzer run (see MorvixFuzz.cmake):
#   cmake -DFUZZER=<exe> -DSCRATCH=<folder> -DCORPUS=<dir|dir...> -DRUNS=<n> -DSEED=<n>
#         -DMAX_LEN=<n> -P RunFuzzer.cmake
# New inputs and crash files go to the scratch folder, emptied first.
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH}/found)
string(REPLACE "|" ";" corpus "${CORPUS}")
set(ENV{ASAN_OPTIONS} "detect_leaks=1:abort_on_error=0")
set(ENV{UBSAN_OPTIONS} "print_stacktrace=1:halt_on_error=1")
execute_process(
  COMMAND ${FUZZER} -seed=${SEED} -runs=${RUNS} -max_len=${MAX_LEN} -timeout=30 -rss_limit_mb=2048
          -print_final_stats=1 -artifact_prefix=${SCRATCH}/ ${SCRATCH}/found ${corpus}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(GLOB crashes ${SCRATCH}/crash-* ${SCRATCH}/leak-* ${SCRATCH}/timeout-* ${SCRATCH}/oom-*)
  message(FATAL_ERROR "fuzzer failed (${rc}); the input is in: ${crashes}\n"
                      "Fix the fault and add the input to the target's regression folder.")
endif()
