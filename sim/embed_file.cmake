# Turns a file into a C++ header holding its bytes, at build time:
#   cmake -DINPUT=<file> -DOUTPUT=<header> -DNAME=<identifier> -P embed_file.cmake
# The header defines `inline constexpr unsigned char NAME[]` (the bytes, no terminating zero)
# and `inline constexpr std::size_t NAME_size`.
file(READ "${INPUT}" content HEX)
string(LENGTH "${content}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
# Twenty bytes per line keep the header readable in a diff.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){20})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated at build time from ${INPUT}; do not edit.\n"
"#pragma once\n\n#include <cstddef>\n\n"
"inline constexpr unsigned char ${NAME}[] = {\n    ${bytes}0x00};\n"
"inline constexpr std::size_t ${NAME}_size = ${size};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
