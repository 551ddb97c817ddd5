// A small, independent encoder of the picture layout (HEAD and BITM resources) for the
// viewer's tests, written from the layout's tables rather than from the viewer's code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace viewer_test {

struct TestPicture {
    uint16_t colors = 2;
    uint16_t width = 0;  // padded width
    uint16_t height = 0;
    std::vector<uint8_t> pixels;        // width * height values, top row first
    std::array<uint8_t, 1024> table{};  // 256 colours: index, r, g, b
    uint8_t At(int x, int y) const { return pixels[std::size_t(y) * width + std::size_t(x)]; }
};

struct Packing {
    uint16_t tileSize;
    uint16_t pixelsPerByte;
};
Packing PackingFor(uint16_t colors);

// Padded width for a picture `width` pixels wide: whole bytes, an even number of them.
uint16_t PaddedWidth(uint16_t width, uint16_t colors);

// A picture with long runs in some bands and busy pixels in others, every pixel value
// depending on its position so that misplaced pixels show.
TestPicture MakePattern(uint16_t colors, uint16_t width, uint16_t height);

std::vector<uint8_t> EncodeHead(const TestPicture& pic, bool compressed);

// One resource per tile, band by band, left to right. With `compressed`, a tile is
// stored run-length encoded when that is shorter than the plain tile.
std::vector<std::vector<uint8_t>> EncodeTiles(const TestPicture& pic, bool compressed);

// The plain bytes of tile `index`.
std::vector<uint8_t> PlainTile(const TestPicture& pic, int index);

// Run-length encoding; empty when the result would be longer than the input.
std::vector<uint8_t> RleEncode(const std::vector<uint8_t>& plain);

}  // namespace viewer_test
