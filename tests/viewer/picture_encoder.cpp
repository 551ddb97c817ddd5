#include "tests/viewer/picture_encoder.h"

#include <algorithm>
#include <stdexcept>

namespace viewer_test {
namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v >> 16);
    Put16(out, v & 0xFFFF);
}

int CeilDiv(int a, int b) {
    return (a + b - 1) / b;
}

}  // namespace

Packing PackingFor(uint16_t colors) {
    switch (colors) {
        case 2:
            return {704, 8};
        case 4:
            return {504, 4};
        case 16:
            return {356, 2};
        case 256:
            return {252, 1};
        default:
            throw std::invalid_argument("colours");
    }
}

uint16_t PaddedWidth(uint16_t width, uint16_t colors) {
    const int p = PackingFor(colors).pixelsPerByte;
    int w = CeilDiv(width, p) * p;
    if ((w / p) % 2 != 0) w += p;
    return uint16_t(w);
}

TestPicture MakePattern(uint16_t colors, uint16_t width, uint16_t height) {
    TestPicture pic;
    pic.colors = colors;
    pic.width = PaddedWidth(width, colors);
    pic.height = height;
    pic.pixels.resize(size_t(pic.width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < pic.width; ++x) {
            uint32_t v;
            if (x >= width) {
                v = colors == 256 ? 255 : 0;  // padding is white (or the last index)
            } else if ((y / 16) % 3 == 0) {
                v = uint32_t(x / 24 + y / 16);  // long runs
            } else {
                v = uint32_t(x * 7 + y * 13 + ((x ^ y) & 5));  // busy
            }
            pic.pixels[size_t(y) * pic.width + size_t(x)] = uint8_t(v % colors);
        }
    }
    for (int i = 0; i < 256; ++i) {
        pic.table[size_t(4 * i)] = uint8_t(i);
        pic.table[size_t(4 * i + 1)] = uint8_t(255 - i);
        pic.table[size_t(4 * i + 2)] = uint8_t(i * 7);
        pic.table[size_t(4 * i + 3)] = uint8_t(i * 13);
    }
    return pic;
}

std::vector<uint8_t> EncodeHead(const TestPicture& pic, bool compressed) {
    const Packing k = PackingFor(pic.colors);
    const int across = CeilDiv(pic.width, k.tileSize);
    const int down = CeilDiv(pic.height, k.tileSize);
    std::vector<uint8_t> out;
    Put16(out, 36);
    Put16(out, compressed ? 1 : 0);
    Put32(out, pic.colors);
    Put32(out, k.tileSize);
    Put32(out, uint32_t(across));
    Put32(out, uint32_t(across * down));
    Put32(out, k.tileSize / k.pixelsPerByte);
    Put32(out, k.pixelsPerByte);
    Put32(out, pic.width);
    Put32(out, pic.height);
    if (pic.colors == 256) out.insert(out.end(), pic.table.begin(), pic.table.end());
    return out;
}

std::vector<uint8_t> PlainTile(const TestPicture& pic, int index) {
    const Packing k = PackingFor(pic.colors);
    const int across = CeilDiv(pic.width, k.tileSize);
    const int x0 = (index % across) * k.tileSize;
    const int y0 = (index / across) * k.tileSize;
    const int columns = std::min<int>(k.tileSize, pic.width - x0);
    const int rows = std::min<int>(k.tileSize, pic.height - y0);
    const int bits = 8 / k.pixelsPerByte;
    std::vector<uint8_t> out(size_t(rows) * size_t(columns / k.pixelsPerByte), 0);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const size_t byte =
                size_t(r) * size_t(columns / k.pixelsPerByte) + size_t(c / k.pixelsPerByte);
            const int shift = 8 - bits * (c % k.pixelsPerByte + 1);
            out[byte] = uint8_t(out[byte] | (pic.At(x0 + c, y0 + r) << shift));
        }
    }
    return out;
}

std::vector<uint8_t> RleEncode(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < in.size()) {
        if (i + 1 < in.size() && in[i] == in[i + 1]) {
            size_t n = 2;
            while (n < 128 && i + n < in.size() && in[i + n] == in[i]) ++n;
            out.push_back(uint8_t(n - 1));
            out.push_back(in[i]);
            i += n;
        } else {
            size_t n = 1;
            while (n < 128 && i + n < in.size() &&
                   !(i + n + 1 < in.size() && in[i + n] == in[i + n + 1])) {
                ++n;
            }
            out.push_back(uint8_t((n - 1) | 0x80));
            out.insert(out.end(), in.begin() + long(i), in.begin() + long(i + n));
            i += n;
        }
        if (out.size() > in.size()) return {};
    }
    return out;
}

std::vector<std::vector<uint8_t>> EncodeTiles(const TestPicture& pic, bool compressed) {
    const Packing k = PackingFor(pic.colors);
    const int count = CeilDiv(pic.width, k.tileSize) * CeilDiv(pic.height, k.tileSize);
    std::vector<std::vector<uint8_t>> tiles;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> plain = PlainTile(pic, i);
        if (compressed) {
            std::vector<uint8_t> rle = RleEncode(plain);
            if (!rle.empty() && rle.size() < plain.size()) plain = std::move(rle);
        }
        tiles.push_back(std::move(plain));
    }
    return tiles;
}

}  // namespace viewer_test
