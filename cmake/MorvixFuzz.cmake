# libFuzzer programs of the host build, and their deterministic CI runs.
#
# morvix_add_fuzzer(<name> SOURCES <files...> [DEPENDS <headers...>]
#                   CORPUS <folders...> [RUNS <n>] [SEED <n>] [MAX_LEN <n>] [TIMEOUT <s>])
#
# Builds bin/<name> with -fsanitize=fuzzer,address,undefined: with the build's
# own compiler when it knows libFuzzer, otherwise with clang++ when installed
# (GCC has no libFuzzer).  Registers the CTest test <name>, which
#  - starts from an emptied scratch folder, so earlier runs change nothing;
#  - replays every input of the CORPUS folders (the committed seeds and the
#    regression folder that keeps every crash input ever found);
#  - then mutates for exactly RUNS executions from the fixed SEED.
# Same sources, same corpus, same result: CI never meets a finding that the
# developer's run did not.  Long campaigns run outside CI
# (scripts/fuzz-campaign.sh).
if(NOT MORVIX_HOST OR NOT BUILD_TESTING)
  function(morvix_add_fuzzer)
  endfunction()
  return()
endif()

include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS -fsanitize=fuzzer)
set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=fuzzer)
check_cxx_source_compiles([[
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }
]] MORVIX_CXX_HAS_LIBFUZZER)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)

if(NOT MORVIX_CXX_HAS_LIBFUZZER)
  find_program(MORVIX_CLANGXX NAMES clang++ clang++-14)
  if(MORVIX_CLANGXX AND NOT DEFINED MORVIX_CLANGXX_HAS_LIBFUZZER)
    set(probe ${CMAKE_BINARY_DIR}/fuzz_probe.cpp)
    file(WRITE ${probe} "#include <cstddef>\n#include <cstdint>\n"
                        "extern \"C\" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }\n")
    execute_process(COMMAND ${MORVIX_CLANGXX} -fsanitize=fuzzer,address,undefined ${probe}
                            -o ${CMAKE_BINARY_DIR}/fuzz_probe
                    RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
    if(probe_result EQUAL 0)
      set(MORVIX_CLANGXX_HAS_LIBFUZZER ON CACHE INTERNAL "clang++ links libFuzzer")
    else()
      set(MORVIX_CLANGXX_HAS_LIBFUZZER OFF CACHE INTERNAL "clang++ links libFuzzer")
    endif()
  endif()
endif()

set(MORVIX_FUZZ_RUNNER ${CMAKE_CURRENT_LIST_DIR}/RunFuzzer.cmake)

function(morvix_add_fuzzer name)
  cmake_parse_arguments(F "" "RUNS;SEED;MAX_LEN;TIMEOUT" "SOURCES;DEPENDS;CORPUS" ${ARGN})
  if(NOT F_RUNS)
    set(F_RUNS 20000)
  endif()
  if(NOT F_SEED)
    set(F_SEED 1)
  endif()
  if(NOT F_MAX_LEN)
    set(F_MAX_LEN 4096)
  endif()
  if(NOT F_TIMEOUT)
    set(F_TIMEOUT 180)
  endif()
  set(exe ${CMAKE_BINARY_DIR}/bin/${name})
  if(MORVIX_CXX_HAS_LIBFUZZER)
    add_executable(${name} ${F_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  elseif(MORVIX_CLANGXX AND MORVIX_CLANGXX_HAS_LIBFUZZER)
    add_custom_command(OUTPUT ${exe}
      COMMAND ${MORVIX_CLANGXX} -std=c++20 -O1 -g -fno-omit-frame-pointer
              -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
              -I${PROJECT_SOURCE_DIR} ${F_SOURCES} -o ${exe}
      DEPENDS ${F_SOURCES} ${F_DEPENDS}
      COMMENT "Building the fuzzer ${name} with clang++"
      VERBATIM)
    add_custom_target(${name} ALL DEPENDS ${exe})
  else()
    message(STATUS "${name}: no compiler with libFuzzer, not built")
    return()
  endif()
  string(REPLACE ";" "|" corpus "${F_CORPUS}")
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -DFUZZER=${exe} -DSCRATCH=${CMAKE_CURRENT_BINARY_DIR}/${name}_scratch
                   -DCORPUS=${corpus} -DRUNS=${F_RUNS} -DSEED=${F_SEED} -DMAX_LEN=${F_MAX_LEN}
                   -P ${MORVIX_FUZZ_RUNNER})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${F_TIMEOUT} LABELS fuzz)
endfunction()
