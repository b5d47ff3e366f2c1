# Writes the bytes of a compiled Java class as a C++ array: cmake -DCLASS=… -DHEADER=… -DNAME=… -P
file(READ "${CLASS}" bytes HEX)
string(REGEX REPLACE "(..)" "0x\\1," bytes "${bytes}")
file(WRITE "${HEADER}" "// Generated from ${CLASS}; do not edit.\n#pragma once\n\n"
    "inline constexpr unsigned char ${NAME}[] = {${bytes}};\n")
