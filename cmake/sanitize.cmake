# STUB_SANITIZE=ON: the host configuration built with AddressSanitizer and
# UndefinedBehaviorSanitizer (gcc or clang). Every finding ends the program,
# so a test that touches a fault fails instead of printing and going on.
option(STUB_SANITIZE "Build the host configuration with address and undefined-behaviour sanitizers" OFF)

if(STUB_SANITIZE)
  set(STUB_SANITIZE_FLAGS "-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer")
  # The flags are set for the whole directory tree so that the core, the
  # generators, the server and the tests all carry them.
  string(APPEND CMAKE_C_FLAGS " ${STUB_SANITIZE_FLAGS}")
  string(APPEND CMAKE_CXX_FLAGS " ${STUB_SANITIZE_FLAGS}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " ${STUB_SANITIZE_FLAGS}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${STUB_SANITIZE_FLAGS}")
endif()
