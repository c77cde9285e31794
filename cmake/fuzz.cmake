# STUB_FUZZ=ON (with clang): coverage-guided fuzz targets for the parsers, one
# per input surface, built on libFuzzer with address and undefined-behaviour
# checks. scripts/fuzz configures, builds and runs them.
option(STUB_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

if(STUB_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "STUB_FUZZ needs clang: configure with "
                        "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # All code is instrumented for coverage, so the fuzzer sees branches in the
  # core and the server, not only in the targets themselves.
  set(STUB_FUZZ_FLAGS "-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -O1 -g")
  string(APPEND CMAKE_C_FLAGS " ${STUB_FUZZ_FLAGS}")
  string(APPEND CMAKE_CXX_FLAGS " ${STUB_FUZZ_FLAGS}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " -fsanitize=address,undefined")

  add_custom_target(fuzz)
  # fuzz-NAME from tests/fuzz/NAME_fuzz.cpp, linked with LIBS.
  function(stub_fuzz_target name)
    add_executable(fuzz-${name} tests/fuzz/${name}_fuzz.cpp)
    target_link_options(fuzz-${name} PRIVATE -fsanitize=fuzzer)
    target_include_directories(fuzz-${name} PRIVATE tests/fuzz)
    target_link_libraries(fuzz-${name} PRIVATE ${ARGN})
    add_dependencies(fuzz fuzz-${name})
  endfunction()

else()
  # Without libFuzzer every target still replays its committed seeds through
  # its own properties, in every run of the native suites.
  add_custom_target(fuzz-replay)
  function(stub_fuzz_target name)
    add_executable(fuzz-replay-${name} tests/fuzz/${name}_fuzz.cpp tests/fuzz/replay_main.cpp)
    target_include_directories(fuzz-replay-${name} PRIVATE tests/fuzz)
    target_link_libraries(fuzz-replay-${name} PRIVATE ${ARGN})
    add_dependencies(fuzz-replay fuzz-replay-${name})
    add_test(NAME fuzz-seeds-${name} COMMAND fuzz-replay-${name} ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${name})
    set_tests_properties(fuzz-seeds-${name} PROPERTIES PASS_REGULAR_EXPRESSION "[1-9][0-9]* seeds replayed")
  endfunction()
endif()
stub_fuzz_target(page_text core)
stub_fuzz_target(safe_name core)
stub_fuzz_target(report_url core)
stub_fuzz_target(stubtool_input stubtool-lib)
stub_fuzz_target(server_query report-server-lib)
stub_fuzz_target(spool report-server-lib)
