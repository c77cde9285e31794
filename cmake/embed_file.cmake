# Turns a file into a C++ source holding its bytes, at build time, with plain
# CMake:  cmake -DINPUT=file -DOUTPUT=file.cpp -DNAME=symbol -P embed_file.cmake
# The source defines stub::server::assets::NAME (the bytes) and NAME_size.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time from ${INPUT}; do not edit.\n"
  "#include <cstddef>\n"
  "namespace stub::server::assets {\n"
  "extern const unsigned char ${NAME}[] = {${bytes}0};\n"
  "extern const size_t ${NAME}_size = ${size};\n"
  "}  // namespace stub::server::assets\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
