# Fails the build when a program is larger than its limit, and removes the
# program so that the next build links it again rather than keeping it.
#
#   cmake -DFILE=PATH -DLIMIT=BYTES -P check_size.cmake
file(SIZE "${FILE}" size)
get_filename_component(name "${FILE}" NAME)
if(size GREATER LIMIT)
  file(REMOVE "${FILE}")
  message(FATAL_ERROR "${name} is ${size} bytes, over its limit of ${LIMIT} bytes")
endif()
message(STATUS "${name}: ${size} bytes (limit ${LIMIT})")
