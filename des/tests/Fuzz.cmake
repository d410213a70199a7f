# libFuzzer on clsDES::DecryptByte, run briefly as a test from the committed
# corpus.  The build's own compiler is used when it knows -fsanitize=fuzzer;
# otherwise clang++, when installed, builds the fuzzer by itself.
if(NOT BUILD_TESTING)
  return()
endif()

set(des_fuzz_sources ${des_sources} ${CMAKE_CURRENT_SOURCE_DIR}/tests/FuzzDecryptByte.cpp)
set(des_fuzzer "")

include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS -fsanitize=fuzzer)
check_cxx_source_compiles([[
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }
]] MORVIX_CXX_HAS_LIBFUZZER)
unset(CMAKE_REQUIRED_FLAGS)

if(MORVIX_CXX_HAS_LIBFUZZER)
  add_executable(des_fuzz_decrypt ${des_fuzz_sources})
  target_include_directories(des_fuzz_decrypt PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(des_fuzz_decrypt PRIVATE -fsanitize=fuzzer)
  target_link_options(des_fuzz_decrypt PRIVATE -fsanitize=fuzzer)
  set(des_fuzzer $<TARGET_FILE:des_fuzz_decrypt>)
else()
  find_program(MORVIX_CLANGXX NAMES clang++ clang++-14)
  if(MORVIX_CLANGXX AND NOT DEFINED MORVIX_CLANGXX_HAS_LIBFUZZER)
    set(probe ${CMAKE_CURRENT_BINARY_DIR}/fuzz_probe.cpp)
    file(WRITE ${probe} "#include <cstddef>\n#include <cstdint>\n"
                        "extern \"C\" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }\n")
    execute_process(COMMAND ${MORVIX_CLANGXX} -fsanitize=fuzzer,address,undefined ${probe}
                            -o ${CMAKE_CURRENT_BINARY_DIR}/fuzz_probe
                    RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
    if(probe_result EQUAL 0)
      set(MORVIX_CLANGXX_HAS_LIBFUZZER ON CACHE INTERNAL "clang++ links libFuzzer")
    else()
      set(MORVIX_CLANGXX_HAS_LIBFUZZER OFF CACHE INTERNAL "clang++ links libFuzzer")
    endif()
  endif()
  if(MORVIX_CLANGXX AND MORVIX_CLANGXX_HAS_LIBFUZZER)
    set(des_fuzzer ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/des_fuzz_decrypt)
    add_custom_command(OUTPUT ${des_fuzzer}
      COMMAND ${MORVIX_CLANGXX} -std=c++20 -O1 -g -fno-omit-frame-pointer
              -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
              -I${PROJECT_SOURCE_DIR} ${des_fuzz_sources} -o ${des_fuzzer}
      DEPENDS ${des_fuzz_sources} ${des_headers}
      COMMENT "Building the DES fuzzer with clang++"
      VERBATIM)
    add_custom_target(des_fuzz_decrypt ALL DEPENDS ${des_fuzzer})
  endif()
endif()

if(des_fuzzer)
  # libFuzzer adds what it finds to the first folder: a scratch copy in the build.
  set(des_fuzz_work ${CMAKE_CURRENT_BINARY_DIR}/fuzz_corpus)
  file(MAKE_DIRECTORY ${des_fuzz_work})
  add_test(NAME des_fuzz_decrypt
           COMMAND ${des_fuzzer} -max_total_time=10 -timeout=10 -rss_limit_mb=2048
                   -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/
                   ${des_fuzz_work} ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz_corpus)
  set_tests_properties(des_fuzz_decrypt PROPERTIES TIMEOUT 90)
else()
  message(STATUS "DES fuzzer: no compiler with libFuzzer, not built")
endif()
