# One deterministic fuzzer run (see MorvixFuzz.cmake):
#   cmake -DFUZZER=<exe> -DSCRATCH=<folder> -DCORPUS=<dir|dir...> -DRUNS=<n> -DSEED=<n>
#         -DMAX_LEN=<n> -P RunFuzzer.cmake
# New inputs and crash files go to the scratch folder, emptied first.
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH}/found)
string(REPLACE "|" ";" corpus "${CORPUS}")
set(ENV{ASAN_OPTIONS} "detect_leaks=1:abort_on_error=0")
set(ENV{UBSAN_OPTIONS} "print_stacktrace=1:halt_on_error=1")
# The same seed gives the same run only when nothing else varies: comparisons
# that libFuzzer feeds back into its mutations include addresses (so address
# randomisation is switched off for the run where the system allows it), and
# -reload=0 stops it rereading its folder at moments that depend on speed.
set(fixed_addresses "")
find_program(SETARCH setarch)
if(SETARCH)
  execute_process(COMMAND uname -m OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${SETARCH} ${arch} -R true RESULT_VARIABLE setarch_rc OUTPUT_QUIET ERROR_QUIET)
  if(setarch_rc EQUAL 0)
    set(fixed_addresses ${SETARCH} ${arch} -R)
  endif()
endif()
execute_process(
  COMMAND ${fixed_addresses} ${FUZZER} -seed=${SEED} -runs=${RUNS} -reload=0 -max_len=${MAX_LEN} -timeout=30
          -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=${SCRATCH}/ ${SCRATCH}/found ${corpus}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(GLOB crashes ${SCRATCH}/crash-* ${SCRATCH}/leak-* ${SCRATCH}/timeout-* ${SCRATCH}/oom-*)
  message(FATAL_ERROR "fuzzer failed (${rc}); the input is in: ${crashes}\n"
                      "Fix the fault and add the input to the target's regression folder.")
endif()
