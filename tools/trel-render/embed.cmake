# Writes OUTPUT, a C++ source holding the bytes of INPUT as the default scene.
#   cmake -DINPUT=data/bunny.obj -DOUTPUT=defaultscene.cpp -P embed.cmake
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# Sixteen bytes to a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp
"// Generated from ${INPUT} by embed.cmake; do not edit.
#include \"defaultscene.h\"

namespace render {
namespace {
const unsigned char bytes[${size}] = {
    ${bytes}
};
} // namespace

std::span<const unsigned char> defaultscene() { return bytes; }
} // namespace render
")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
