# Writes the bytes of INPUT as a C++ array NAME (default kRulerBitmap), with its size
# as NAMESize, into OUTPUT.
if(NOT NAME)
  set(NAME kRulerBitmap)
endif()
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from ${INPUT}.\n#include <cstddef>\n#include <cstdint>\n"
  "namespace velmaro::photo {\nextern const std::uint8_t ${NAME}[] = {\n${bytes}};\n"
  "extern const std::size_t ${NAME}Size = ${size};\n}\n")
