# The publisher's build-time settings. They become the stub's built-in values
# through a header that gen-settings writes (digest and coded titles computed
# there, never typed by hand).
set(STUB_SERVER_URL "http://report.example.com/" CACHE STRING
    "Base URL of the report server: http://HOST/ or https://HOST/")
set(STUB_DOWNLOAD_SCHEME "http" CACHE STRING
    "Scheme of the fallback installer URL: http or https")
set_property(CACHE STUB_DOWNLOAD_SCHEME PROPERTY STRINGS http https)
if(NOT STUB_DOWNLOAD_SCHEME MATCHES "^(http|https)$")
  message(FATAL_ERROR "STUB_DOWNLOAD_SCHEME must be http or https (got '${STUB_DOWNLOAD_SCHEME}')")
endif()
if(STUB_SERVER_URL MATCHES "^https://" AND NOT STUB_DOWNLOAD_SCHEME STREQUAL "https")
  message(FATAL_ERROR "STUB_DOWNLOAD_SCHEME must be https when STUB_SERVER_URL is https:// "
    "(got '${STUB_DOWNLOAD_SCHEME}' with '${STUB_SERVER_URL}'): the built-in download would leave TLS")
endif()
set(STUB_DOWNLOAD_HOST "dl.example.com" CACHE STRING
    "Host (and optional :port) of the fallback installer URL")
set(STUB_FALLBACK_FILE "" CACHE FILEPATH
    "The file the fallback URL delivers; its MD5 is built in (default: the sample installer)")
set(STUB_TITLE_1 "Korvel安装助手" CACHE STRING
    "Window title for executables named with vh2vh6 (exactly 10 UTF-16 units)")
set(STUB_TITLE_2 "Korvel" CACHE STRING
    "Window title for every other executable name (exactly 6 UTF-16 units)")
set(STUB_CHANNEL "wlpq" CACHE STRING
    "Channel name the stub sends with every request (release rules can choose by it)")
set(STUB_STALL_SECONDS "60" CACHE STRING
    "Seconds without any download progress after which a transfer is aborted")
if(NOT STUB_STALL_SECONDS MATCHES "^[0-9]+$" OR STUB_STALL_SECONDS LESS 1 OR STUB_STALL_SECONDS GREATER 86400)
  message(FATAL_ERROR "STUB_STALL_SECONDS must be 1 to 86400 seconds, not '${STUB_STALL_SECONDS}'")
endif()
set(STUB_INSTALLER_SIGNERS "" CACHE STRING
    "SHA-256 fingerprints of the certificates allowed to sign the installer (empty: no signature check)")
# Signing the stub itself (Windows configuration; see cmake/sign_pe.py).
set(STUB_SIGN_CERT "" CACHE FILEPATH
    "PEM certificate chain (or a .p12/.pfx file) the stub is signed with; empty: unsigned")
set(STUB_SIGN_KEY "" CACHE FILEPATH
    "PEM private key of STUB_SIGN_CERT (for a .p12/.pfx: a file holding its password, or empty)")
set(STUB_SIGN_CA "" CACHE FILEPATH
    "PEM root certificates the signed stub must verify against (default: the system's CA bundle)")
set(STUB_SIGN_TIMESTAMP_URL "" CACHE STRING "Time-stamping server for the stub's signature (optional)")

# Generates NAME/build_settings.h with the program GEN (a path; GEN_DEPENDS is
# a target or nothing) and the library NAME that holds the built-in values
# for the given server URL and fallback download scheme and host, and the
# channel and the pinned installer signers given as optional last arguments
# (default STUB_CHANNEL and STUB_INSTALLER_SIGNERS).
function(stub_builtins name server scheme host gen gen_depends fallback fallback_depends)
  set(channel ${STUB_CHANNEL})
  set(signers "${STUB_INSTALLER_SIGNERS}")
  if(ARGC GREATER 8)
    set(channel ${ARGV8})
  endif()
  if(ARGC GREATER 9)
    set(signers "${ARGV9}")
  endif()
  string(REPLACE ";" "," signers "${signers}")  # a CMake list is one argument too
  set(dir ${CMAKE_BINARY_DIR}/generated/${name})
  set(out ${dir}/build_settings.h)
  file(MAKE_DIRECTORY ${dir})
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${gen} ${out} "${server}" "${host}" "${fallback}"
            "${STUB_TITLE_1}" "${STUB_TITLE_2}" "${STUB_STALL_SECONDS}" "${scheme}" "${channel}" "${signers}"
    DEPENDS ${gen_depends} ${fallback} ${fallback_depends}
    COMMENT "Generating the built-in settings of ${name}"
    VERBATIM)
  add_custom_target(${name}-settings DEPENDS ${out})
  add_library(${name} STATIC ${CMAKE_SOURCE_DIR}/src/app/builtins.cpp)
  target_include_directories(${name} PUBLIC ${dir})
  target_link_libraries(${name} PUBLIC core)
  target_compile_options(${name} PRIVATE ${STUB_SMALL_CODE})
  add_dependencies(${name} ${name}-settings)
endfunction()
