# Windows configuration: the stub and the Windows programs, cross-compiled.
# The generators come from the host build (STUB_HOST_BIN).
if(NOT STUB_HOST_BIN)
  message(FATAL_ERROR "STUB_HOST_BIN must name the host build's bin folder (scripts/build sets it)")
endif()
enable_language(RC)

# Code that goes into the stub: no exception machinery, no thread-safe static
# guards (one thread owns all statics), sections the linker can drop, and
# link-time optimisation (whole-program inlining, dead code and identical
# function folding across files).
set(STUB_SMALL_CODE -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -ffunction-sections -fdata-sections
  -fno-asynchronous-unwind-tables -flto -ffat-lto-objects)
# 32-bit Windows promises 4-byte stack alignment only, so code that assumes
# 16 realigns in every callback; the stub never needs more than 4. -Oz
# (smaller than -Os, a little slower) everywhere but the digest, which keeps
# -O3 (below).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  list(APPEND STUB_SMALL_CODE -mpreferred-stack-boundary=2 -Oz)
endif()
# The objects carry both the compiler's intermediate code and ordinary machine
# code. The stub's programs (STUB_WHOLE_PROGRAM set) compile the intermediate
# code at link time as one whole program; every other program links the
# machine code (-fno-lto): on this target the linker cannot merge inline
# functions of intermediate code with the same functions in ordinary objects
# (tests, gtest, the host tool) and stops with "multiple definition".
# One partition: GCC 12 for this target stops with an internal error
# (binds_to_current_def_p, alias pass) when it splits a program into several
# partitions, and a program of this size gains nothing from splitting.
set(STUB_LTO_LINK
  $<IF:$<BOOL:$<TARGET_PROPERTY:STUB_WHOLE_PROGRAM>>,-flto,-fno-lto>
  $<$<BOOL:$<TARGET_PROPERTY:STUB_WHOLE_PROGRAM>>:-flto-partition=one>
  $<$<BOOL:$<TARGET_PROPERTY:STUB_WHOLE_PROGRAM>>:-Oz>)
# Archives of such objects need the compiler's plugin for their symbol index.
set(CMAKE_AR ${CMAKE_CXX_COMPILER_AR})
set(CMAKE_RANLIB ${CMAKE_CXX_COMPILER_RANLIB})

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

# A throwaway test publisher (scripts/lib/publisher.py), made once per build
# folder when it is first configured and shared by both targets: a root, the
# publisher's code-signing certificate, another one under the same root and
# one with the publisher's name under a root nobody trusts. The sample
# installer signed by each (and once changed after signing) is what the
# signature tests and the demo check.
get_filename_component(STUB_TEST_PUBLISHER "${STUB_HOST_BIN}/../../test-publisher" ABSOLUTE)
execute_process(COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/lib/publisher.py make ${STUB_TEST_PUBLISHER}
  RESULT_VARIABLE publisher_failed ERROR_VARIABLE publisher_error)
if(publisher_failed)
  message(FATAL_ERROR "cannot make the test publisher in ${STUB_TEST_PUBLISHER}: ${publisher_error}")
endif()
file(STRINGS ${STUB_TEST_PUBLISHER}/publisher.sha256 STUB_TEST_PUBLISHER_SHA256 LIMIT_COUNT 1)
set(sign_pe python3 ${CMAKE_SOURCE_DIR}/cmake/sign_pe.py)
set(signed_samples "")
foreach(row "signed|publisher|root" "other|other|root" "impostor|impostor|impostor-root")
  string(REPLACE "|" ";" row "${row}")  # file suffix, certificate, its root
  list(GET row 0 suffix)
  list(GET row 1 cert)
  list(GET row 2 root)
  set(out ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/sample-installer-${suffix}.exe)
  add_custom_command(OUTPUT ${out}
    COMMAND ${sign_pe} $<TARGET_FILE:sample-installer> --out ${out} --cert ${STUB_TEST_PUBLISHER}/${cert}.pem
            --key ${STUB_TEST_PUBLISHER}/${cert}.key --ca ${STUB_TEST_PUBLISHER}/${root}.pem
    DEPENDS sample-installer ${CMAKE_SOURCE_DIR}/cmake/sign_pe.py VERBATIM)
  list(APPEND signed_samples ${out})
endforeach()
set(signed_sample ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/sample-installer-signed.exe)
set(tampered_sample ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/sample-installer-tampered.exe)
add_custom_command(OUTPUT ${tampered_sample}  # one byte of its code changed after signing
  COMMAND python3 -c "import sys; d = bytearray(open(sys.argv[1], 'rb').read()); d[0x400] ^= 1; open(sys.argv[2], 'wb').write(d)"
          ${signed_sample} ${tampered_sample}
  DEPENDS ${signed_sample} VERBATIM)
add_custom_target(signed-samples ALL DEPENDS ${signed_samples} ${tampered_sample})

if(NOT STUB_FALLBACK_FILE)
  set(fallback $<TARGET_FILE:sample-installer>)
  set(fallback_target sample-installer)
else()
  set(fallback ${STUB_FALLBACK_FILE})
  set(fallback_target "")
endif()
stub_builtins(builtins "${STUB_SERVER_URL}" "${STUB_DOWNLOAD_SCHEME}" "${STUB_DOWNLOAD_HOST}"
  ${STUB_HOST_BIN}/gen-settings "" ${fallback} "${fallback_target}")


# Everything Windows-side links statically: no runtime DLLs beside the system's.
set(STUB_STATIC_LINK -static -static-libgcc -static-libstdc++)

# ---- the stub ------------------------------------------------------------------
# The target's own pieces. The 32-bit product is laid out by cmake/stub.ld
# (binutils' i386 script with fewer sections); its size goal is at most
# 100 KB (102,400 bytes, see scripts/bench-start) and the build fails past
# 110 KB. The x86-64 build uses the linker's own layout, and its code is
# larger (8-byte pointers, longer instructions, unwind tables that x64 needs),
# so it has a limit of its own. The manifest names the target's architecture:
# Windows refuses a program whose manifest (or its common-controls
# dependency) names another one, and Wine ignores such a manifest.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(STUB_SIZE_LIMIT 122880)
  set(STUB_MANIFEST_ARCH amd64)
  set(STUB_PE_MACHINE amd64)
  set(STUB_LAYOUT "")
else()
  set(STUB_SIZE_LIMIT 112640)
  set(STUB_MANIFEST_ARCH x86)
  set(STUB_PE_MACHINE i386)
  set(STUB_LAYOUT -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/stub.ld)
endif()
set(STUB_ICON ${CMAKE_BINARY_DIR}/generated/stub.ico)
add_custom_command(OUTPUT ${STUB_ICON}
  COMMAND ${STUB_HOST_BIN}/gen-icon ${STUB_ICON}
  DEPENDS ${STUB_HOST_BIN}/gen-icon
  COMMENT "Drawing the program icon" VERBATIM)
# The manifest goes in without its comments and the blanks between elements.
set(STUB_MANIFEST ${CMAKE_BINARY_DIR}/generated/stub.manifest)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/stub.manifest)
file(READ ${CMAKE_SOURCE_DIR}/res/stub.manifest manifest)
string(REGEX REPLACE "<!--[^>]*-->" "" manifest "${manifest}")
string(REGEX REPLACE ">[ \t\r\n]+<" "><" manifest "${manifest}")
string(REGEX REPLACE "[ \t\r\n]+" " " manifest "${manifest}")
string(STRIP "${manifest}" manifest)
file(CONFIGURE OUTPUT ${STUB_MANIFEST} CONTENT "${manifest}" @ONLY)
configure_file(res/stub.rc.in ${CMAKE_BINARY_DIR}/generated/stub.rc @ONLY)
set_source_files_properties(${CMAKE_BINARY_DIR}/generated/stub.rc PROPERTIES
  OBJECT_DEPENDS "${STUB_ICON};${STUB_MANIFEST}")

# The Windows shell: thin wrappers over the platform, shared by the stub and
# the Windows tests.
target_compile_options(core PRIVATE ${STUB_SMALL_CODE})
target_link_options(core INTERFACE ${STUB_LTO_LINK})
add_library(shell STATIC
  src/base/shell_win.cpp
  src/base/system_dll_win.cpp
  src/app/instance_win.cpp
  src/net/http_win.cpp
  src/base/charset_win.cpp
  src/net/fetch_win.cpp
  src/net/report_win.cpp
  src/profile/profile_win.cpp
  src/profile/pcid_win.cpp
  src/download/engine_win.cpp
  src/download/platform_win.cpp
  src/download/signature_win.cpp
  src/codec/sha256_win.cpp
  src/download/face_win.cpp
  src/download/window_win.cpp
  src/decor/report_win.cpp
  src/decor/subclass_win.cpp
  src/decor/shadow_win.cpp
  src/decor/shadow_face_win.cpp
)
target_link_libraries(shell PUBLIC core ole32 oleaut32 wbemuuid uuid shell32 gdi32 advapi32)
target_compile_options(shell PRIVATE ${STUB_SMALL_CODE})

# The DLLs the stub may import: only those on Windows' known-DLLs list, which
# the loader takes from the system folder whatever lies beside the program.
# Anything else (the HTTP library, or a compiler runtime DLL) fails the
# build: the libraries the stub needs that are not on that list (the HTTP
# and URL download libraries, and the signature check's wintrust.dll and
# crypt32.dll) are loaded by full path from the system folder
# (src/base/system_dll_win.cpp).
set(STUB_SYSTEM_DLLS "kernel32.dll,user32.dll,gdi32.dll,advapi32.dll,shell32.dll,ole32.dll,oleaut32.dll,msvcrt.dll")

# A stub program with the given built-in values. The build signs it with
# CERT and KEY, checked against CA (cmake/sign_pe.py), after the static
# checks: the size limit applies to the unsigned image. Without CERT the
# publisher's STUB_SIGN_* settings apply (none: unsigned).
function(stub_program name builtins_lib)
  cmake_parse_arguments(PARSE_ARGV 2 sign "" "CERT;KEY;CA" "")
  if(NOT sign_CERT)
    set(sign_CERT "${STUB_SIGN_CERT}")
    set(sign_KEY "${STUB_SIGN_KEY}")
    set(sign_CA "${STUB_SIGN_CA}")
    set(sign_TIMESTAMP "${STUB_SIGN_TIMESTAMP_URL}")
  endif()
  add_executable(${name} WIN32
    src/app/main_win.cpp
    src/app/rt_win.cpp
    ${CMAKE_BINARY_DIR}/generated/stub.rc
  )
  target_link_libraries(${name} PRIVATE shell ${builtins_lib})
  target_compile_options(${name} PRIVATE -municode ${STUB_SMALL_CODE})
  target_link_options(${name} PRIVATE -municode -mwindows ${STUB_STATIC_LINK}
    -Wl,--gc-sections -s ${STUB_LAYOUT})
  set_target_properties(${name} PROPERTIES STUB_WHOLE_PROGRAM ON
    LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/stub.ld)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND python3 ${CMAKE_SOURCE_DIR}/cmake/check_pe.py $<TARGET_FILE:${name}>
            --machine ${STUB_PE_MACHINE} --limit ${STUB_SIZE_LIMIT} --imports ${STUB_SYSTEM_DLLS} --remove
    VERBATIM)
  if(sign_CERT)
    set(sign_args --cert ${sign_CERT})
    foreach(part KEY CA TIMESTAMP)
      string(TOLOWER ${part} option)
      if(sign_${part})
        list(APPEND sign_args --${option} ${sign_${part}})
      endif()
    endforeach()
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${sign_pe} $<TARGET_FILE:${name}> ${sign_args} --remove VERBATIM)
  endif()
endfunction()
stub_program(stub builtins)

# A test copy whose server and download host never resolve (.invalid).
stub_builtins(builtins-unresolvable "http://stub-test.invalid/" http "stub-test.invalid"
  ${STUB_HOST_BIN}/gen-settings "" ${fallback} "${fallback_target}")
stub_program(stub-unresolvable builtins-unresolvable)

# A test copy that talks TLS: its server and its fallback download host are
# two TLS servers on loopback, named "localhost" because certificates for an
# IP address are not accepted by every TLS stack.
stub_builtins(builtins-tls "https://localhost:18474/" https "localhost:18475"
  ${STUB_HOST_BIN}/gen-settings "" ${fallback} "${fallback_target}")
stub_program(stub-tls builtins-tls)

# A test copy of another channel, for servers that answer channels differently.
stub_builtins(builtins-beta "${STUB_SERVER_URL}" "${STUB_DOWNLOAD_SCHEME}" "${STUB_DOWNLOAD_HOST}"
  ${STUB_HOST_BIN}/gen-settings "" ${fallback} "${fallback_target}" beta)
stub_program(stub-beta builtins-beta)

# A test copy that pins the test publisher, signed by it: its installers must
# carry the publisher's signature. Its built-in download is the signed sample.
stub_builtins(builtins-pinned "${STUB_SERVER_URL}" "${STUB_DOWNLOAD_SCHEME}" "${STUB_DOWNLOAD_HOST}"
  ${STUB_HOST_BIN}/gen-settings "" ${signed_sample} signed-samples "${STUB_CHANNEL}" "${STUB_TEST_PUBLISHER_SHA256}")
stub_program(stub-pinned builtins-pinned CERT ${STUB_TEST_PUBLISHER}/publisher.pem
  KEY ${STUB_TEST_PUBLISHER}/publisher.key CA ${STUB_TEST_PUBLISHER}/root.pem)

# ---- static checks of the built programs ----------------------------------------
# They read the files and run nothing, so they run on every machine, even one
# where Wine cannot start this target's programs (label "static"). The stub
# passes them all; each refusal row shows that a check can fail, with its own
# reason.
set(check_pe python3 ${CMAKE_SOURCE_DIR}/cmake/check_pe.py)
set(stub_pe_args --machine ${STUB_PE_MACHINE} --limit ${STUB_SIZE_LIMIT} --imports ${STUB_SYSTEM_DLLS})
if(STUB_PE_MACHINE STREQUAL "i386")
  set(other_machine amd64)
else()
  set(other_machine i386)
endif()
# A program linked without ASLR and DEP, for the row that must refuse it.
add_executable(pe-fixed-base WIN32 tools/sample_installer.cpp)
target_compile_options(pe-fixed-base PRIVATE -municode)
target_compile_definitions(pe-fixed-base PRIVATE SAMPLE_TITLE=L"x" SAMPLE_VERSION=L"0")
target_link_options(pe-fixed-base PRIVATE -municode -mwindows ${STUB_STATIC_LINK} -s
  -Wl,--disable-dynamicbase,--disable-nxcompat,--disable-reloc-section)
foreach(row
    "stub|$<TARGET_FILE:stub>|${stub_pe_args}|ASLR and DEP on, imports"
    "refuses-another-machine|$<TARGET_FILE:stub>|--machine;${other_machine}|not a PE32"
    "refuses-a-console-program|$<TARGET_FILE:stubtool>|--machine;${STUB_PE_MACHINE}|not the GUI subsystem"
    "refuses-a-fixed-base|$<TARGET_FILE:pe-fixed-base>|--machine;${STUB_PE_MACHINE}|lacks 0x1[46]0 .ASLR, DEP..*no relocations"
    "refuses-a-foreign-import|$<TARGET_FILE:stub>|--machine;${STUB_PE_MACHINE};--imports;kernel32.dll|imports DLLs outside the allowed list: .*user32.dll"
    "refuses-past-its-limit|$<TARGET_FILE:stub>|--machine;${STUB_PE_MACHINE};--limit;4096|over its limit of 4096 bytes")
  string(REPLACE "|" ";" row "${row}")  # name, file, arguments..., expected output
  list(GET row 0 test_name)
  list(GET row 1 test_file)
  list(POP_BACK row test_expect)
  list(SUBLIST row 2 -1 test_args)
  add_test(NAME pe-${test_name} COMMAND ${check_pe} ${test_file} ${test_args})
  set_tests_properties(pe-${test_name} PROPERTIES LABELS static PASS_REGULAR_EXPRESSION "${test_expect}")
endforeach()
# Signing a program (the pinned test copy shows a PEM chain at every build):
# from a PKCS#12 file, and the refusal of a signature whose chain does not
# reach the given root. Any program will do; this one is built for the
# static checks on every machine.
set(pub ${STUB_TEST_PUBLISHER})
foreach(row
    "from-pkcs12|${pub}/publisher.p12;--key;${pub}/publisher.pass;--ca;${pub}/root.pem|signed .SHA-256. by /CN=Korvel Test Publisher"
    "refuses-an-unknown-root|${pub}/impostor.pem;--key;${pub}/impostor.key;--ca;${pub}/root.pem|does not verify against")
  string(REPLACE "|" ";" row "${row}")  # name, --cert and the other arguments, expected output
  list(GET row 0 test_name)
  list(POP_BACK row test_expect)
  list(SUBLIST row 1 -1 test_args)
  add_test(NAME sign-${test_name} COMMAND ${sign_pe} $<TARGET_FILE:pe-fixed-base>
           --out ${CMAKE_BINARY_DIR}/sign-${test_name}.exe --cert ${test_args})
  set_tests_properties(sign-${test_name} PROPERTIES LABELS static PASS_REGULAR_EXPRESSION "${test_expect}")
endforeach()

# ---- host tool for Windows (and the digest benchmark under Wine) ---------------
add_library(stubtool-lib STATIC tools/stubtool/stubtool.cpp tools/stubtool/sha256_win.cpp)
target_include_directories(stubtool-lib PUBLIC tools)
# SHA-256 through the system's CNG provider.
target_link_libraries(stubtool-lib PUBLIC core bcrypt)
# nlohmann-json is header-only: its Debian headers are copied alone into the
# build, since the rest of /usr/include must not reach the cross compiler.
find_file(STUB_NLOHMANN_JSON nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
get_filename_component(stub_nlohmann_dir "${STUB_NLOHMANN_JSON}" DIRECTORY)
file(COPY "${stub_nlohmann_dir}" DESTINATION "${CMAKE_BINARY_DIR}/json-include")
target_include_directories(stubtool-lib SYSTEM PRIVATE "${CMAKE_BINARY_DIR}/json-include")
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
target_link_libraries(win-tests PRIVATE shell builtins stubtool-lib gtest ws2_32)
target_include_directories(win-tests PRIVATE tests/unit)
target_link_options(win-tests PRIVATE ${STUB_STATIC_LINK})
gtest_add_tests(TARGET win-tests TEST_LIST win_tests)
add_dependencies(win-tests signed-samples)  # the signature tests read them beside the program

# Servers for the network tests, on loopback: the host build's test server
# (report-server-faults) trickling its file, stalling it, and serving TLS
# with a self-signed certificate made for this run and trusted nowhere, and a
# server that redirects (tests/e2e/redirector.py). The cleanup test stops
# them, and `timeout` does if it never runs.
set(win_servers ${CMAKE_BINARY_DIR}/win-test-servers)
add_test(NAME win-servers-start COMMAND sh -c [=[
d=$1 server=$2
[ -f "$d/pids" ] && kill $(cat "$d/pids") 2>/dev/null  # left by a run that was killed
rm -rf "$d" && mkdir -p "$d/files" && : >"$d/reply" || exit 1
head -c 4000 /dev/zero >"$d/files/f.bin"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
  -addext subjectAltName=DNS:localhost -keyout "$d/key.pem" -out "$d/cert.pem" \
  >"$d/openssl.log" 2>&1 || { cat "$d/openssl.log"; exit 1; }
start() {  # NAME PORT OPTIONS...
  name=$1 port=$2; shift 2
  timeout 1200 "$server" --listen "127.0.0.1:$port" --db "$d/$name.db" --reply "$d/reply" \
    --files "$d/files" "$@" </dev/null >"$d/$name.log" 2>&1 &
  echo $! >>"$d/pids"
}
start trickle 18476 --file-rate 5000
start stall 18477 --file-stall 0
start untrusted 18478 --tls-cert "$d/cert.pem" --tls-key "$d/key.pem"
timeout 1200 python3 -c 'import sys, threading; sys.path.insert(0, sys.argv[1]); import redirector
with redirector.redirector(18479): print("redirector: listening", flush=True); threading.Event().wait()' \
  "$3" </dev/null >"$d/redirector.log" 2>&1 &
echo $! >>"$d/pids"
for _ in $(seq 100); do
  [ "$(cat "$d"/*.log | grep -c listening)" = 4 ] && exit 0
  sleep 0.1
done
kill $(cat "$d/pids"); cat "$d"/*.log; exit 1]=] sh ${win_servers} ${STUB_HOST_BIN}/report-server-faults
  ${CMAKE_SOURCE_DIR}/tests/e2e)
add_test(NAME win-servers-stop COMMAND sh -c [=[kill $(cat "$1/pids")]=] sh ${win_servers})
set_tests_properties(win-servers-start PROPERTIES FIXTURES_SETUP win-servers)
set_tests_properties(win-servers-stop PROPERTIES FIXTURES_CLEANUP win-servers)
set(net_tests ${win_tests})
list(FILTER net_tests INCLUDE REGEX "^(HttpGetWin|URLDownFile|RedirectsWin)\\.")
# A minute each: a transfer that is never aborted waits on the stalling server.
set_tests_properties(${net_tests} PROPERTIES FIXTURES_REQUIRED win-servers TIMEOUT 60 ENVIRONMENT
  "STUB_TEST_TRICKLE_URL=http://127.0.0.1:18476/;STUB_TEST_STALL_URL=http://127.0.0.1:18477/;STUB_TEST_UNTRUSTED_URL=https://localhost:18478/;STUB_TEST_REDIRECT_URL=http://127.0.0.1:18479/")

# The signature tests read the signed samples beside the test program, with
# the test publisher's root trusted in the prefix only while they run.
add_test(NAME win-publisher-trust COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/lib/publisher.py
         trust ${CMAKE_BINARY_DIR} win-tests-publisher ${STUB_TEST_PUBLISHER})
add_test(NAME win-publisher-forget COMMAND python3 ${CMAKE_SOURCE_DIR}/scripts/lib/publisher.py
         forget ${CMAKE_BINARY_DIR} win-tests-publisher)
set_tests_properties(win-publisher-trust PROPERTIES FIXTURES_SETUP win-publisher)
set_tests_properties(win-publisher-forget PROPERTIES FIXTURES_CLEANUP win-publisher)
set(signature_tests ${win_tests})
list(FILTER signature_tests INCLUDE REGEX "^WinSignature\\.")
set_tests_properties(${signature_tests} PROPERTIES FIXTURES_REQUIRED win-publisher
  ENVIRONMENT "STUB_TEST_PUBLISHER_SHA256=${STUB_TEST_PUBLISHER_SHA256}")

# ---- helpers for the end-to-end runs -------------------------------------------
add_executable(e2e-helper tests/e2e/e2e_helper.cpp)
target_compile_options(e2e-helper PRIVATE -municode)
target_link_options(e2e-helper PRIVATE -municode ${STUB_STATIC_LINK})
# The single-instance tests hold windows in e2e-helper, the library tests look
# past planted.dll beside the program, the launch tests start copies of the
# sample installer.
add_dependencies(win-tests e2e-helper planted sample-installer)

# A library that ends any process that loads it, planted beside the stub
# under the names of the system libraries it loads from the system folder.
add_library(planted SHARED tests/e2e/planted_dll.cpp)
set_target_properties(planted PROPERTIES PREFIX "")
target_link_options(planted PRIVATE ${STUB_STATIC_LINK} -s)

# ---- benchmark program: the download engine and a reference window ------------
add_executable(engine-bench tools/bench/engine_bench.cpp)
target_compile_options(engine-bench PRIVATE -municode)
target_link_libraries(engine-bench PRIVATE shell urlmon)
target_link_options(engine-bench PRIVATE -municode -mwindows ${STUB_STATIC_LINK})
