# GoogleTest, built from the sources of Debian's googletest package by whichever
# build is running (so the cross build gets a MinGW gtest).
set(MORVIX_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
if(BUILD_TESTING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  if(WIN32)
    # gtest's own threading layer is not needed and pulls in pthread quirks.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  endif()
  # gtest must not inherit the sanitizer flags' warnings as errors; it is built plainly.
  add_subdirectory(${MORVIX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# morvix_add_test(<name> SOURCES <files...> [LIBS <libs...>] [GUI] [TIMEOUT <s>])
# One test executable per call, registered with CTest as one test.  In the cross
# build CTest runs it through CMAKE_CROSSCOMPILING_EMULATOR (Wine).
function(morvix_add_test name)
  cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT BUILD_TESTING)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  if(WIN32)
    # Console subsystem for tests, so gtest's output reaches CTest.
    target_link_options(${name} PRIVATE -mconsole)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_GUI)
    set_tests_properties(${name} PROPERTIES LABELS gui)
  endif()
endfunction()

# morvix_add_test_dir(<prefix> <dir> LIBS <libs...> [GUI])
# Every <dir>/test_*.cpp becomes its own test executable <prefix>_<stem>, so
# one unfinished test file never blocks the others of the folder.
function(morvix_add_test_dir prefix dir)
  cmake_parse_arguments(D "GUI" "TIMEOUT" "LIBS;EXTRA_SOURCES" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${dir}/test_*.cpp)
  foreach(f IN LISTS files)
    get_filename_component(stem ${f} NAME_WE)
    set(gui "")
    if(D_GUI)
      set(gui GUI)
    endif()
    set(timeout "")
    if(D_TIMEOUT)
      set(timeout TIMEOUT ${D_TIMEOUT})
    endif()
    morvix_add_test(${prefix}_${stem} SOURCES ${f} ${D_EXTRA_SOURCES} LIBS ${D_LIBS} ${gui} ${timeout})
  endforeach()
endfunction()
