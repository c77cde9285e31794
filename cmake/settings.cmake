# The publisher's build-time settings. They become the stub's built-in values
# through a header that gen-settings writes (digest and coded titles computed
# there, never typed by hand).
set(STUB_SERVER_URL "http://report.example.com/" CACHE STRING
    "Base URL of the report server: http://HOST/")
set(STUB_DOWNLOAD_HOST "dl.example.com" CACHE STRING
    "Host (and optional :port) of the fallback installer URL")
set(STUB_FALLBACK_FILE "" CACHE FILEPATH
    "The file the fallback URL delivers; its MD5 is built in (default: the sample installer)")
set(STUB_TITLE_1 "Korvel安装助手" CACHE STRING
    "Window title for executables named with vh2vh6 (exactly 10 UTF-16 units)")
set(STUB_TITLE_2 "Korvel" CACHE STRING
    "Window title for every other executable name (exactly 6 UTF-16 units)")
set(STUB_STALL_SECONDS "60" CACHE STRING
    "Seconds without any download progress after which a transfer is aborted")

# Generates build_settings.h into ${CMAKE_BINARY_DIR}/generated with the
# program GEN (a path) that depends on GEN_DEPENDS (a target or nothing).
function(stub_generate_settings gen gen_depends fallback fallback_depends)
  set(out ${CMAKE_BINARY_DIR}/generated/build_settings.h)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${gen} ${out} "${STUB_SERVER_URL}" "${STUB_DOWNLOAD_HOST}" "${fallback}"
            "${STUB_TITLE_1}" "${STUB_TITLE_2}" "${STUB_STALL_SECONDS}"
    DEPENDS ${gen_depends} ${fallback} ${fallback_depends}
    COMMENT "Generating the built-in settings"
    VERBATIM)
  add_custom_target(build_settings DEPENDS ${out})
endfunction()
