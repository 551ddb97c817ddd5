// CDib: pixel operations on a loaded bitmap.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "formats/picture/picture.h"
#include "formats/picture/picture_internal.h"

namespace {

constexpr size_t kDistinctMax = 256;
constexpr size_t kDistinctHashSize = 1024;  // power of two, four times the entries

// BT.709 luminance weights.
constexpr double kGrayRed = 0.212671;
constexpr double kGrayGreen = 0.715160;
constexpr double kGrayBlue = 0.072169;

constexpr int kHistogramCells = 32768;

uint32_t PackColor(const uint8_t* bgr) {
    return (uint32_t(bgr[2]) << 16) | (uint32_t(bgr[1]) << 8) | bgr[0];
}

size_t DistinctSlot(uint32_t color) {
    return (color * 2654435761u) >> 22 & (kDistinctHashSize - 1);
}

// One channel of a 16- or 32-bit pixel under its mask, scaled to 0..255 with rounding.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint64_t max = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (mask == 0) return;
        while (((mask >> shift) & 1) == 0) ++shift;
        max = mask >> shift;
    }
    uint8_t Get(uint32_t pixel) const {
        if (max == 0) return 0;
        const uint64_t v = (pixel & mask) >> shift;
        return uint8_t((v * 255 + max / 2) / max);
    }
};

}  // namespace

CDib::CDib() = default;
CDib::~CDib() = default;

void CDib::Reset() {
    m_bih = BitmapInfoHeader();
    m_colors.clear();
    m_masks[0] = m_masks[1] = m_masks[2] = 0;
    m_pixels.clear();
    m_pixels.shrink_to_fit();
    InvalidateDistinct();
}

void CDib::InvalidateDistinct() {
    m_bDistinct = false;
    m_distinct.clear();
    m_distinctHash.clear();
    m_distinctIndex.clear();
}

size_t CDib::RowStride() const {
    return DibRowStride(m_bih.biWidth, m_bih.biBitCount);
}

// ---- RLE ----

void CDib::ExpandRle() {
    const uint32_t comp = m_bih.biCompression;
    if (comp != kBiRle8 && comp != kBiRle4) return;
    const bool rle8 = comp == kBiRle8;
    const int width = m_bih.biWidth;
    const int height = m_bih.biHeight;
    const size_t stride = RowStride();
    std::vector<uint8_t> out;
    try {
        out.assign(stride * size_t(height), 0);
    } catch (const std::bad_alloc&) {
        return;  // stays compressed; To24Bit then refuses it
    }
    const uint8_t* d = m_pixels.data();
    const size_t n = m_pixels.size();

    // Pixels outside the picture are dropped; pixels never drawn keep index 0.
    auto put = [&](int x, int y, unsigned value) {
        if (x >= width) return;
        uint8_t* row = out.data() + size_t(y) * stride;
        if (rle8) {
            row[x] = uint8_t(value);
        } else if (x & 1) {
            row[x >> 1] = uint8_t((row[x >> 1] & 0xF0) | (value & 0x0F));
        } else {
            row[x >> 1] = uint8_t((row[x >> 1] & 0x0F) | (value << 4));
        }
    };

    int x = 0, y = 0;  // y counts from the bottom row, as the data does
    size_t i = 0;
    while (i + 1 < n && y < height) {
        const unsigned count = d[i], value = d[i + 1];
        i += 2;
        if (count > 0) {  // a run
            for (unsigned k = 0; k < count && x < width; ++k, ++x) {
                put(x, y, rle8 ? value : (k & 1 ? value & 0x0F : value >> 4));
            }
        } else if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            break;
        } else if (value == 2) {  // delta
            if (i + 1 >= n) break;
            x = std::min(width, x + d[i]);
            y += d[i + 1];
            i += 2;
        } else {  // absolute stretch, padded to a 16-bit boundary
            const size_t bytes = rle8 ? value : (value + 1) / 2;
            for (unsigned k = 0; k < value && x < width; ++k, ++x) {
                const size_t at = i + (rle8 ? k : k / 2);
                if (at >= n) break;
                put(x, y, rle8 ? d[at] : (k & 1 ? d[at] & 0x0F : d[at] >> 4));
            }
            i += bytes + (bytes & 1);
        }
    }
    m_pixels = std::move(out);
    m_bih.biCompression = kBiRgb;
    m_bih.biSizeImage = uint32_t(m_pixels.size());
}

// ---- 24 bits ----

bool CDib::To24Bit() {
    if (!IsLoaded()) return false;
    ExpandRle();
    if (m_bih.biCompression == kBiRle8 || m_bih.biCompression == kBiRle4) return false;
    const unsigned bits = m_bih.biBitCount;
    if (bits == 24) return true;
    const int width = m_bih.biWidth;
    const int height = m_bih.biHeight;
    const size_t inStride = RowStride();
    const size_t outStride = DibRowStride(width, 24);
    std::vector<uint8_t> out;
    try {
        out.assign(outStride * size_t(height), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const Channel red(m_masks[0]), green(m_masks[1]), blue(m_masks[2]);
    auto lookup = [&](unsigned index, uint8_t* o) {
        if (index < m_colors.size()) {
            o[0] = m_colors[index].blue;
            o[1] = m_colors[index].green;
            o[2] = m_colors[index].red;
        }  // an index past the table stays black
    };
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = m_pixels.data() + size_t(y) * inStride;
        uint8_t* o = out.data() + size_t(y) * outStride;
        for (int x = 0; x < width; ++x, o += 3) {
            switch (bits) {
                case 1:
                    // Set bits are white whatever the table says.
                    if (in[x >> 3] & (0x80 >> (x & 7))) o[0] = o[1] = o[2] = 255;
                    break;
                case 4:
                    lookup(x & 1 ? in[x >> 1] & 0x0F : in[x >> 1] >> 4, o);
                    break;
                case 8:
                    lookup(in[x], o);
                    break;
                case 16: {
                    const uint32_t p = uint32_t(in[2 * x] | (in[2 * x + 1] << 8));
                    o[0] = blue.Get(p);
                    o[1] = green.Get(p);
                    o[2] = red.Get(p);
                    break;
                }
                case 32: {
                    const uint8_t* q = in + 4 * size_t(x);
                    const uint32_t p = uint32_t(q[0]) | (uint32_t(q[1]) << 8) |
                                       (uint32_t(q[2]) << 16) | (uint32_t(q[3]) << 24);
                    o[0] = blue.Get(p);
                    o[1] = green.Get(p);
                    o[2] = red.Get(p);
                    break;
                }
                default:
                    return false;
            }
        }
    }
    m_pixels = std::move(out);
    m_colors.clear();
    m_masks[0] = m_masks[1] = m_masks[2] = 0;
    m_bih.biBitCount = 24;
    m_bih.biCompression = kBiRgb;
    m_bih.biClrUsed = 0;
    m_bih.biClrImportant = 0;
    m_bih.biSizeImage = uint32_t(m_pixels.size());
    InvalidateDistinct();
    return true;
}

RgbColor CDib::GetPixel(int x, int y) const {
    const int width = m_bih.biWidth, height = m_bih.biHeight;
    if (m_bih.biBitCount != 24 || x < 0 || y < 0 || x >= width || y >= height) return {};
    const uint8_t* p = m_pixels.data() + size_t(height - 1 - y) * RowStride() + 3 * size_t(x);
    return {p[2], p[1], p[0]};
}

// ---- Colours ----

int CDib::CountColors() {
    if (!To24Bit()) return 0;
    std::vector<uint64_t> seen;  // one bit per 24-bit colour
    try {
        seen.assign((size_t(1) << 24) / 64, 0);
    } catch (const std::bad_alloc&) {
        return 257;
    }
    const int width = m_bih.biWidth, height = m_bih.biHeight;
    const size_t stride = RowStride();
    int count = 0;
    for (int y = 0; y < height; ++y) {
        const uint8_t* p = m_pixels.data() + size_t(y) * stride;
        for (int x = 0; x < width; ++x, p += 3) {
            const uint32_t c = PackColor(p);
            uint64_t& word = seen[c >> 6];
            const uint64_t bit = uint64_t(1) << (c & 63);
            if (!(word & bit)) {
                word |= bit;
                ++count;
            }
        }
    }
    return count;
}

void CDib::ToGray() {
    if (!To24Bit()) return;
    // The products are taken once per value and summed in the same order as the formula,
    // so the truncated result is exactly that of computing it per pixel.
    std::array<double, 256> r{}, g{}, b{};
    for (int v = 0; v < 256; ++v) {
        r[v] = kGrayRed * v;
        g[v] = kGrayGreen * v;
        b[v] = kGrayBlue * v;
    }
    const int width = m_bih.biWidth, height = m_bih.biHeight;
    const size_t stride = RowStride();
    for (int y = 0; y < height; ++y) {
        uint8_t* p = m_pixels.data() + size_t(y) * stride;
        for (int x = 0; x < width; ++x, p += 3) {
            const double level = r[p[2]] + g[p[1]] + b[p[0]];
            p[0] = p[1] = p[2] = uint8_t(int(level));
        }
    }
    InvalidateDistinct();
}

namespace {

struct Box {
    int first = 0, last = 0;  // positions in the cell list, inclusive
    uint64_t count = 0;
    int level = 0;
    int min[3] = {0, 0, 0}, max[3] = {0, 0, 0};  // red, green, blue, 5-bit
};

int CellComponent(int cell, int component) {
    return (cell >> (5 * component)) & 31;  // red bits 0-4, green 5-9, blue 10-14
}

void BoxBounds(Box& box, const std::vector<uint16_t>& cells) {
    for (int c = 0; c < 3; ++c) {
        box.min[c] = 31;
        box.max[c] = 0;
    }
    for (int i = box.first; i <= box.last; ++i) {
        for (int c = 0; c < 3; ++c) {
            const int v = CellComponent(cells[i], c);
            box.min[c] = std::min(box.min[c], v);
            box.max[c] = std::max(box.max[c], v);
        }
    }
}

// The sort key along an axis: that component on top, then the other two.
int SortKey(int cell, int axis) {
    const int r = CellComponent(cell, 0), g = CellComponent(cell, 1), b = CellComponent(cell, 2);
    switch (axis) {
        case 0:
            return (r << 10) | (b << 5) | g;
        case 1:
            return (g << 10) | (b << 5) | r;
        default:
            return cell;  // blue, green, red
    }
}

}  // namespace

void CDib::Quantize(int n) {
    try {
        QuantizeMedianCut(n);
    } catch (const std::bad_alloc&) {
        // The picture keeps its colours; the caller's fitting goes on with them.
    }
}

void CDib::QuantizeMedianCut(int n) {
    if (!To24Bit()) return;
    const int width = m_bih.biWidth, height = m_bih.biHeight;
    const size_t stride = RowStride();
    auto cellOf = [](const uint8_t* p) {
        return (p[2] >> 3) | ((p[1] >> 3) << 5) | ((p[0] >> 3) << 10);
    };

    // 1. Histogram.
    std::vector<uint32_t> histogram(kHistogramCells, 0);
    for (int y = 0; y < height; ++y) {
        const uint8_t* p = m_pixels.data() + size_t(y) * stride;
        for (int x = 0; x < width; ++x, p += 3) ++histogram[cellOf(p)];
    }

    // 2. Non-empty cells in ascending order; box 0 holds them all.
    std::vector<uint16_t> cells;
    uint64_t total = 0;
    for (int c = 0; c < kHistogramCells; ++c) {
        if (histogram[c] != 0) {
            cells.push_back(uint16_t(c));
            total += histogram[c];
        }
    }
    if (cells.empty()) return;
    std::vector<Box> boxes(1);
    boxes[0].first = 0;
    boxes[0].last = int(cells.size()) - 1;
    boxes[0].count = total;
    BoxBounds(boxes[0], cells);

    // 3. Split the lowest-level box that has more than one cell until there are n boxes.
    while (int(boxes.size()) < n) {
        int pick = -1;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].last > boxes[i].first &&
                (pick < 0 || boxes[i].level < boxes[size_t(pick)].level)) {
                pick = int(i);
            }
        }
        if (pick < 0) break;
        Box& box = boxes[size_t(pick)];
        const int rangeR = box.max[0] - box.min[0];
        const int rangeG = box.max[1] - box.min[1];
        const int rangeB = box.max[2] - box.min[2];
        const int axis = (rangeB >= rangeG && rangeB >= rangeR) ? 2 : (rangeG >= rangeR ? 1 : 0);
        std::sort(cells.begin() + box.first, cells.begin() + box.last + 1,
                  [axis](uint16_t a, uint16_t b) { return SortKey(a, axis) < SortKey(b, axis); });
        const uint64_t half = box.count / 2;
        uint64_t sum = 0;
        int k = box.first;
        for (;;) {
            sum += histogram[cells[size_t(k)]];
            if (sum >= half || k == box.last - 1) break;
            ++k;
        }
        Box rest;
        rest.first = k + 1;
        rest.last = box.last;
        rest.count = box.count - sum;
        rest.level = box.level + 1;
        box.last = k;
        box.count = sum;
        box.level += 1;
        BoxBounds(box, cells);
        BoxBounds(rest, cells);
        boxes.push_back(rest);  // may move `box`; it is not used after this
    }

    // 4. Each box's colour: the weighted mean of its cells, truncated.
    std::vector<uint16_t> boxOfCell(kHistogramCells, 0);
    std::vector<std::array<uint8_t, 3>> boxColor(boxes.size());  // blue, green, red
    for (size_t b = 0; b < boxes.size(); ++b) {
        uint64_t sum[3] = {0, 0, 0};
        for (int i = boxes[b].first; i <= boxes[b].last; ++i) {
            const int cell = cells[size_t(i)];
            boxOfCell[size_t(cell)] = uint16_t(b);
            for (int c = 0; c < 3; ++c) {
                sum[c] += uint64_t(histogram[size_t(cell)]) * uint64_t(CellComponent(cell, c) << 3);
            }
        }
        int mean[3];
        for (int c = 0; c < 3; ++c) mean[c] = int(sum[c] / boxes[b].count);
        if (mean[0] == 248 && mean[1] == 248 && mean[2] == 248) mean[0] = mean[1] = mean[2] = 255;
        boxColor[b] = {uint8_t(mean[2]), uint8_t(mean[1]), uint8_t(mean[0])};
    }

    // 5. Every pixel takes its box's colour.
    for (int y = 0; y < height; ++y) {
        uint8_t* p = m_pixels.data() + size_t(y) * stride;
        for (int x = 0; x < width; ++x, p += 3) {
            const auto& c = boxColor[boxOfCell[size_t(cellOf(p))]];
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
        }
    }
    InvalidateDistinct();
}

bool CDib::IsGray() const {
    if (m_bih.biBitCount != 24) return false;
    const int width = m_bih.biWidth, height = m_bih.biHeight;
    const size_t stride = RowStride();
    for (int y = 0; y < height; ++y) {
        const uint8_t* p = m_pixels.data() + size_t(y) * stride;
        for (int x = 0; x < width; ++x, p += 3) {
            if (p[0] != p[1] || p[1] != p[2]) return false;
        }
    }
    return true;
}

// ---- Distinct-colour table ----

void CDib::BuildDistinct() {
    m_bDistinct = true;
    m_distinct.clear();
    m_distinctHash.assign(kDistinctHashSize, 0);
    m_distinctIndex.assign(kDistinctHashSize, 0);
    if (m_bih.biBitCount != 24) return;
    const int width = m_bih.biWidth, height = m_bih.biHeight;
    const size_t stride = RowStride();
    // Memory order: bottom row first, left to right.
    for (int y = 0; y < height && m_distinct.size() < kDistinctMax; ++y) {
        const uint8_t* p = m_pixels.data() + size_t(y) * stride;
        for (int x = 0; x < width; ++x, p += 3) {
            const uint32_t c = PackColor(p);
            size_t slot = DistinctSlot(c);
            while (m_distinctHash[slot] != 0 && m_distinctHash[slot] != c + 1) {
                slot = (slot + 1) & (kDistinctHashSize - 1);
            }
            if (m_distinctHash[slot] != 0) continue;
            m_distinctHash[slot] = c + 1;
            m_distinctIndex[slot] = uint8_t(m_distinct.size());
            m_distinct.push_back(c);
            if (m_distinct.size() == kDistinctMax) break;
        }
    }
}

RgbColor CDib::GetColorTableEntry(int i) {
    if (!m_bDistinct) {
        try {
            BuildDistinct();
        } catch (const std::bad_alloc&) {
            InvalidateDistinct();
            return {};
        }
    }
    if (i < 0 || size_t(i) >= m_distinct.size()) return {};
    const uint32_t c = m_distinct[size_t(i)];
    return {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
}

int CDib::GetPixelIndex(int x, int y) {
    const int width = m_bih.biWidth, height = m_bih.biHeight;
    if (m_bih.biBitCount != 24 || x < 0 || y < 0 || x >= width || y >= height) return 0;
    const uint8_t* p = m_pixels.data() + size_t(height - 1 - y) * RowStride() + 3 * size_t(x);
    if (!m_bDistinct) return p[0];
    const uint32_t c = PackColor(p);
    for (size_t slot = DistinctSlot(c);; slot = (slot + 1) & (kDistinctHashSize - 1)) {
        const uint32_t v = m_distinctHash[slot];
        if (v == 0) return 0;
        if (v == c + 1) return m_distinctIndex[slot];
    }
}
