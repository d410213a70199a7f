# libFuzzer on clsDES's deciphering (host build): the fuzzer's bytes are the
# plain header and data, enciphered by the target with a fixed key, so every
# length field reaches the checks behind the cipher.  CI replays the seeds and
# every crash input ever found (fuzz_regressions), then a fixed-seed run.
morvix_add_fuzzer(des_fuzz_decrypt
  SOURCES ${des_sources} ${CMAKE_CURRENT_SOURCE_DIR}/tests/FuzzDecryptByte.cpp
  DEPENDS ${des_headers}
  CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz_regressions ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz_corpus
  RUNS 30000 SEED 13 MAX_LEN 4096)
