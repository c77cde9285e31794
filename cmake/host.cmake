# Host configuration: build-time generators, host tool, native tests.
include(cmake/sanitize.cmake)
include(cmake/fuzz.cmake)
add_executable(gen-settings tools/gen_settings.cpp)
target_link_libraries(gen-settings PRIVATE core)
add_executable(gen-icon tools/gen_icon.cpp)

if(NOT STUB_FALLBACK_FILE)
  set(STUB_FALLBACK_FILE ${CMAKE_SOURCE_DIR}/res/fallback-placeholder.txt)
endif()
stub_builtins(builtins "${STUB_SERVER_URL}" "${STUB_DOWNLOAD_SCHEME}" "${STUB_DOWNLOAD_HOST}"
  $<TARGET_FILE:gen-settings> gen-settings "${STUB_FALLBACK_FILE}" "")

# Settings the build refuses: a stall limit whose milliseconds would not fit
# 32 bits, and a TLS server with a download in the clear.
# Rows: name, server URL, stall seconds, download scheme, expected message.
foreach(row
    "stall-0|http://x/|0|http|STUB_STALL_SECONDS must be 1 to 86400"
    "stall-86401|http://x/|86401|http|STUB_STALL_SECONDS must be 1 to 86400"
    "stall-4294968|http://x/|4294968|http|STUB_STALL_SECONDS must be 1 to 86400"
    "stall-5x|http://x/|5x|http|STUB_STALL_SECONDS must be 1 to 86400"
    "http-download-for-https-server|https://x/|60|http|STUB_DOWNLOAD_SCHEME must be https when STUB_SERVER_URL is https://")
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 name)
  list(GET row 1 server)
  list(GET row 2 stall)
  list(GET row 3 scheme)
  list(GET row 4 says)
  add_test(NAME gen-settings-refuses-${name}
    COMMAND gen-settings ${CMAKE_BINARY_DIR}/refused-settings.h ${server} x ${STUB_FALLBACK_FILE}
            "${STUB_TITLE_1}" "${STUB_TITLE_2}" ${stall} ${scheme})
  set_tests_properties(gen-settings-refuses-${name} PROPERTIES PASS_REGULAR_EXPRESSION "${says}")
endforeach()
# So does a pinned signer that is not a SHA-256 fingerprint.
add_test(NAME gen-settings-refuses-a-short-signer
  COMMAND gen-settings ${CMAKE_BINARY_DIR}/signer-test.h http://x/ x ${STUB_FALLBACK_FILE}
          "${STUB_TITLE_1}" "${STUB_TITLE_2}" 60 http wlpq "0000000000000000000000000000000000000000000000000000000000000000,AB:CD")
set_tests_properties(gen-settings-refuses-a-short-signer PROPERTIES
  PASS_REGULAR_EXPRESSION "STUB_INSTALLER_SIGNERS: 'AB:CD' is not a SHA-256")

add_library(stubtool-lib STATIC tools/stubtool/stubtool.cpp tools/stubtool/sha256_posix.cpp)
target_include_directories(stubtool-lib PUBLIC tools)
find_package(nlohmann_json 3 REQUIRED)
# SHA-256 through GnuTLS, the report server's TLS library.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GNUTLS REQUIRED IMPORTED_TARGET gnutls)
target_link_libraries(stubtool-lib PUBLIC core PRIVATE nlohmann_json::nlohmann_json PkgConfig::GNUTLS)
add_executable(stubtool tools/stubtool/main.cpp)
target_link_libraries(stubtool PRIVATE stubtool-lib)

find_package(GTest REQUIRED)
include(GoogleTest)
add_executable(unit-tests ${STUB_UNIT_TESTS})
target_compile_definitions(unit-tests PRIVATE STUB_SETTINGS_PLAIN_TITLES)
target_link_libraries(unit-tests PRIVATE builtins stubtool-lib GTest::gtest GTest::gtest_main)
target_include_directories(unit-tests PRIVATE tests/unit)
gtest_discover_tests(unit-tests DISCOVERY_TIMEOUT 30)

# Installing (and packaging) takes what is built and builds nothing more: the
# server's package needs only report-server, not every program of the build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# The reference report server (its own folder and list file).
if(EXISTS ${CMAKE_SOURCE_DIR}/server/CMakeLists.txt)
  add_subdirectory(server)
endif()
