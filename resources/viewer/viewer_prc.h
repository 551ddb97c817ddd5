// The picture viewer application that the program carries and writes out as
// VIEWER.PRC for every picture it converts.
#pragma once

#include <cstdint>
#include <vector>

namespace resources {

// The whole VIEWER.PRC file, byte for byte.
const std::vector<uint8_t>& ViewerPrcBytes();

}  // namespace resources
