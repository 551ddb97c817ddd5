# cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -P embed_file.cmake
# Writes the bytes of INPUT as the body of ViewerPrcBytes().
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" length)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from VIEWER.PRC by embed_file.cmake; do not edit.
#include \"resources/viewer/viewer_prc.h\"

namespace resources {

const std::vector<uint8_t>& ViewerPrcBytes() {
    static const std::vector<uint8_t> kBytes = {
    ${bytes}
    };
    return kBytes;
}

}  // namespace resources
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
