# Windows configuration: the stub and the Windows programs, cross-compiled.
# The generators come from the host build (STUB_HOST_BIN).
if(NOT STUB_HOST_BIN)
  message(FATAL_ERROR "STUB_HOST_BIN must name the host build's bin folder (scripts/build sets it)")
endif()
enable_language(RC)

# The sample installer: what the fallback URL delivers unless the publisher
# names another file, and the installer of the tests and the demo.
set(STUB_SAMPLE_NISI_TITLE "Korvel" CACHE STRING "Sample installer: name part of its window title")
set(STUB_SAMPLE_NISI_VER "3.1.1" CACHE STRING "Sample installer: version part of its window title")
foreach(variant sample-installer sample-installer-error)
  add_executable(${variant} WIN32 tools/sample_installer.cpp)
  target_compile_options(${variant} PRIVATE -municode)
  target_compile_definitions(${variant} PRIVATE
    SAMPLE_TITLE=L"${STUB_SAMPLE_NISI_TITLE}" SAMPLE_VERSION=L"${STUB_SAMPLE_NISI_VER}")
  target_link_options(${variant} PRIVATE -municode -mwindows -static -static-libgcc -static-libstdc++ -s)
endforeach()
target_compile_definitions(sample-installer-error PRIVATE SAMPLE_ERROR)

if(NOT STUB_FALLBACK_FILE)
  stub_generate_settings(${STUB_HOST_BIN}/gen-settings "" $<TARGET_FILE:sample-installer> sample-installer)
else()
  stub_generate_settings(${STUB_HOST_BIN}/gen-settings "" "${STUB_FALLBACK_FILE}" "")
endif()

add_library(builtins STATIC src/app/builtins.cpp)
target_include_directories(builtins PUBLIC ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(builtins PUBLIC core)
add_dependencies(builtins build_settings)

# Everything Windows-side links statically: no runtime DLLs beside the system's.
set(STUB_STATIC_LINK -static -static-libgcc -static-libstdc++)

# ---- the stub ------------------------------------------------------------------
set(STUB_ICON ${CMAKE_BINARY_DIR}/generated/stub.ico)
add_custom_command(OUTPUT ${STUB_ICON}
  COMMAND ${STUB_HOST_BIN}/gen-icon ${STUB_ICON}
  COMMENT "Drawing the program icon" VERBATIM)
set(STUB_MANIFEST ${CMAKE_SOURCE_DIR}/res/stub.manifest)
configure_file(res/stub.rc.in ${CMAKE_BINARY_DIR}/generated/stub.rc @ONLY)
set_source_files_properties(${CMAKE_BINARY_DIR}/generated/stub.rc PROPERTIES
  OBJECT_DEPENDS "${STUB_ICON};${STUB_MANIFEST}")

# The Windows shell: thin wrappers over the platform, shared by the stub and
# the Windows tests.
set(STUB_SMALL_CODE -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -ffunction-sections -fdata-sections
  -fno-asynchronous-unwind-tables)
target_compile_options(core PRIVATE ${STUB_SMALL_CODE})
add_library(shell STATIC
  src/app/state_win.cpp
  src/app/instance_win.cpp
  src/net/http_win.cpp
  src/net/charset_win.cpp
  src/net/fetch_win.cpp
  src/net/report_win.cpp
  src/profile/profile_win.cpp
  src/profile/pcid_win.cpp
  src/download/engine_win.cpp
  src/download/platform_win.cpp
  src/download/face_win.cpp
  src/download/window_win.cpp
  src/decor/report_win.cpp
  src/decor/subclass_win.cpp
  src/decor/shadow_win.cpp
  src/decor/shadow_face_win.cpp
)
target_link_libraries(shell PUBLIC builtins wininet urlmon ole32 oleaut32 wbemuuid uuid shell32 gdi32 advapi32)
target_compile_options(shell PRIVATE ${STUB_SMALL_CODE})

add_executable(stub WIN32
  src/app/main_win.cpp
  src/app/rt_win.cpp
  ${CMAKE_BINARY_DIR}/generated/stub.rc
)
target_link_libraries(stub PRIVATE shell)
target_compile_options(stub PRIVATE -municode ${STUB_SMALL_CODE})
target_link_options(stub PRIVATE -municode -mwindows ${STUB_STATIC_LINK}
  -Wl,--gc-sections -s)

# ---- host tool for Windows (and the digest benchmark under Wine) ---------------
add_library(stubtool-lib STATIC tools/stubtool/stubtool.cpp)
target_include_directories(stubtool-lib PUBLIC tools)
target_link_libraries(stubtool-lib PUBLIC core)
add_executable(stubtool tools/stubtool/main.cpp)
target_compile_options(stubtool PRIVATE -municode)
target_link_libraries(stubtool PRIVATE stubtool-lib)
target_link_options(stubtool PRIVATE -municode ${STUB_STATIC_LINK})

# ---- Windows tests, run under Wine by ctest (see scripts/wine-run) -------------
include(GoogleTest)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_executable(win-tests ${STUB_UNIT_TESTS} ${STUB_WIN_TESTS} tests/win/win_main.cpp)
target_compile_definitions(win-tests PRIVATE STUB_SETTINGS_PLAIN_TITLES)
target_link_libraries(win-tests PRIVATE shell stubtool-lib gtest)
target_include_directories(win-tests PRIVATE tests/unit)
target_link_options(win-tests PRIVATE ${STUB_STATIC_LINK})
gtest_add_tests(TARGET win-tests)

# ---- helpers for the end-to-end runs -------------------------------------------
add_executable(e2e-helper tests/e2e/e2e_helper.cpp)
target_compile_options(e2e-helper PRIVATE -municode)
target_link_options(e2e-helper PRIVATE -municode ${STUB_STATIC_LINK})

# ---- benchmark program: the download engine and a reference window ------------
add_executable(engine-bench tools/bench/engine_bench.cpp)
target_compile_options(engine-bench PRIVATE -municode)
target_link_libraries(engine-bench PRIVATE shell)
target_link_options(engine-bench PRIVATE -municode -mwindows ${STUB_STATIC_LINK})
