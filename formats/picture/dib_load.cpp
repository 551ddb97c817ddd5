// Loading a CDib: Windows bitmaps first, then JPEG through the system's decoder
// (jpeg_decoder.h).
//
// Every size a file states is checked against the file's real size and the picture
// limits before anything of that size is allocated.
#include <cstdio>
#include <cstring>
#include <new>

#include "formats/picture/jpeg_decoder.h"
#include "formats/picture/picture.h"
#include "formats/picture/picture_internal.h"
#include "platform/files.h"

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kOffBfOffBits = 10;
constexpr size_t kCoreHeaderSize = 12;     // OS/2 1.x: 16-bit sides, 3-byte palette entries
constexpr size_t kMinInfoHeaderSize = 16;  // OS/2 2.x headers may stop after the bit count
constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kOs2InfoHeaderSize = 64;
constexpr size_t kMasksInHeaderSize = 52;  // V2 and later carry the masks inside
constexpr size_t kAlphaMaskInHeaderSize = 56;
constexpr size_t kOffMasks = 40;
// OS/2 2.x compression codes that mean something else in Windows headers.
constexpr uint32_t kOs2Huffman1D = 3;
constexpr uint32_t kOs2Rle24 = 4;

uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool ReadExact(std::FILE* f, uint8_t* buf, size_t n) {
    return n == 0 || std::fread(buf, 1, n, f) == n;
}

bool IsSupportedDepth(unsigned bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

bool PicturePixelsAllowed(int64_t width, int64_t height, int64_t compressedBytes) {
    if (width <= 0 || height <= 0) return false;
    if (width > kMaxPictureSide || height > kMaxPictureSide) return false;
    const int64_t pixels = width * height;
    if (pixels > kMaxPicturePixels) return false;
    if (compressedBytes >= 0 && pixels > kSmallPicturePixels &&
        pixels > compressedBytes * kMaxPixelsPerCompressedByte) {
        return false;
    }
    return true;
}

size_t DibRowStride(int width, unsigned bits) {
    return ((size_t(width) * bits + 31) / 32) * 4;
}

struct CDibLoader {
    static bool LoadBitmap(CDib& dib, std::FILE* f, int64_t fileSize);
    static bool LoadJpeg(CDib& dib, std::FILE* f, int64_t fileSize);
};

// ---- Windows bitmap ----

bool CDibLoader::LoadBitmap(CDib& dib, std::FILE* f, int64_t fileSize) {
    uint8_t fh[kFileHeaderSize];
    if (!ReadExact(f, fh, sizeof fh) || fh[0] != 'B' || fh[1] != 'M') return false;
    const uint32_t offBits = Le32(fh + kOffBfOffBits);
    if (offBits < kFileHeaderSize + kCoreHeaderSize || int64_t(offBits) > fileSize) return false;

    // Header and colour table: everything up to the pixel rows.
    std::vector<uint8_t> info(offBits - kFileHeaderSize);
    if (!ReadExact(f, info.data(), info.size())) return false;
    const uint32_t headerSize = Le32(info.data());
    if (headerSize < kCoreHeaderSize || headerSize > info.size()) return false;
    if (headerSize > kCoreHeaderSize && headerSize < kMinInfoHeaderSize) return false;

    BitmapInfoHeader bih;
    int64_t height = 0;
    size_t paletteEntrySize = 4;
    bool os2 = false;
    const uint8_t* h = info.data();
    if (headerSize == kCoreHeaderSize) {
        bih.biWidth = Le16(h + 4);
        height = Le16(h + 6);
        bih.biPlanes = Le16(h + 8);
        bih.biBitCount = Le16(h + 10);
        paletteEntrySize = 3;
    } else {
        os2 = headerSize < kInfoHeaderSize || headerSize == kOs2InfoHeaderSize;
        bih.biWidth = int32_t(Le32(h + 4));
        height = int32_t(Le32(h + 8));
        bih.biPlanes = Le16(h + 12);
        bih.biBitCount = Le16(h + 14);
        if (headerSize >= 20) bih.biCompression = Le32(h + 16);
        if (headerSize >= 24) bih.biSizeImage = Le32(h + 20);
        if (headerSize >= 28) bih.biXPelsPerMeter = int32_t(Le32(h + 24));
        if (headerSize >= 32) bih.biYPelsPerMeter = int32_t(Le32(h + 28));
        if (headerSize >= 36) bih.biClrUsed = Le32(h + 32);
        if (headerSize >= 40) bih.biClrImportant = Le32(h + 36);
    }
    if (os2 && (bih.biCompression == kOs2Huffman1D || bih.biCompression == kOs2Rle24)) {
        return false;
    }

    const unsigned bits = bih.biBitCount;
    const uint32_t comp = bih.biCompression;
    if (!IsSupportedDepth(bits)) return false;
    const bool rle = comp == kBiRle8 || comp == kBiRle4;
    const bool fields = comp == kBiBitfields || comp == kBiAlphaBitfields;
    if (comp == kBiRle8 && bits != 8) return false;
    if (comp == kBiRle4 && bits != 4) return false;
    if (fields && bits != 16 && bits != 32) return false;
    if (comp != kBiRgb && !rle && !fields) return false;  // embedded JPEG/PNG and the like

    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (topDown && rle) return false;  // Windows does not define bottom-less RLE either
    if (!PicturePixelsAllowed(bih.biWidth, height, -1)) return false;
    bih.biHeight = int32_t(height);

    // Masks: inside newer headers, else right after a 40-byte header.
    size_t paletteStart = headerSize;
    uint32_t masks[3] = {0, 0, 0};
    if (fields) {
        const size_t count = comp == kBiAlphaBitfields ? 4 : 3;
        const uint8_t* m = nullptr;
        if (headerSize >= (count == 4 ? kAlphaMaskInHeaderSize : kMasksInHeaderSize)) {
            m = h + kOffMasks;
        } else {
            if (paletteStart + count * 4 > info.size()) return false;
            m = h + paletteStart;
            paletteStart += count * 4;
        }
        for (int i = 0; i < 3; ++i) masks[i] = Le32(m + 4 * i);
    } else if (bits == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else if (bits == 32) {
        masks[0] = 0x00FF0000;
        masks[1] = 0x0000FF00;
        masks[2] = 0x000000FF;
    }

    // Colour table: as many entries as stated (at most what the depth can index); entries
    // the file does not hold stay black.
    std::vector<RgbQuad> colors;
    if (bits <= 8) {
        size_t count = size_t(1) << bits;
        if (bih.biClrUsed != 0 && bih.biClrUsed < count) count = bih.biClrUsed;
        colors.resize(count);
        const size_t available =
            paletteStart < info.size() ? (info.size() - paletteStart) / paletteEntrySize : 0;
        for (size_t i = 0; i < count && i < available; ++i) {
            const uint8_t* e = h + paletteStart + i * paletteEntrySize;
            colors[i].blue = e[0];
            colors[i].green = e[1];
            colors[i].red = e[2];
        }
        bih.biClrUsed = uint32_t(count);
    } else {
        bih.biClrUsed = 0;
    }

    // Pixel rows follow the information block directly.
    const int64_t remaining = fileSize - int64_t(offBits);
    std::vector<uint8_t> pixels;
    const size_t stride = DibRowStride(bih.biWidth, bits);
    if (rle) {
        int64_t size = remaining;
        if (bih.biSizeImage != 0 && int64_t(bih.biSizeImage) < size) size = bih.biSizeImage;
        if (size <= 0) return false;
        if (!PicturePixelsAllowed(bih.biWidth, height, size)) return false;
        pixels.resize(size_t(size));
    } else {
        const int64_t need = int64_t(stride) * height;
        if (need > remaining) return false;
        pixels.resize(size_t(need));
    }
    if (!ReadExact(f, pixels.data(), pixels.size())) return false;

    if (topDown) {
        std::vector<uint8_t> row(stride);
        for (int64_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
            uint8_t* a = pixels.data() + size_t(top) * stride;
            uint8_t* b = pixels.data() + size_t(bottom) * stride;
            std::memcpy(row.data(), a, stride);
            std::memcpy(a, b, stride);
            std::memcpy(b, row.data(), stride);
        }
    }

    bih.biSize = kInfoHeaderSize;
    if (comp == kBiAlphaBitfields) bih.biCompression = kBiBitfields;
    bih.biSizeImage = uint32_t(pixels.size());
    dib.m_bih = bih;
    dib.m_colors = std::move(colors);
    std::memcpy(dib.m_masks, masks, sizeof masks);
    dib.m_pixels = std::move(pixels);
    return true;
}

bool CDibLoader::LoadJpeg(CDib& dib, std::FILE* f, int64_t fileSize) {
    std::vector<uint8_t> pixels;
    unsigned width = 0, height = 0;
    if (!DecodeJpeg(f, fileSize, &pixels, &width, &height)) return false;
    BitmapInfoHeader bih;
    bih.biWidth = int32_t(width);
    bih.biHeight = int32_t(height);
    bih.biBitCount = 24;
    bih.biCompression = kBiRgb;
    bih.biSizeImage = uint32_t(pixels.size());
    dib.m_bih = bih;
    dib.m_colors.clear();
    dib.m_pixels = std::move(pixels);
    return true;
}

// ---- Entry points ----

namespace {

int LoadStream(CDib& dib, std::FILE* f, int64_t fileSize) {
    try {
        if (CDibLoader::LoadBitmap(dib, f, fileSize)) return CDib::kLoadBitmap;
        if (std::fseek(f, 0, SEEK_SET) != 0) return CDib::kLoadFailed;
        if (CDibLoader::LoadJpeg(dib, f, fileSize)) return CDib::kLoadJpeg;
    } catch (const std::bad_alloc&) {
    }
    return CDib::kLoadFailed;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

int CDib::Load(const std::string& path) {
    Reset();
    // Only a plain file: a FIFO or a device could feed the decoder without end.
    FilePtr f(platform::OpenPlainFile(path));
    if (!f) return kLoadFailed;
    const int64_t size = platform::FileSize(f.get());
    if (size < 0) return kLoadFailed;
    const int result = LoadStream(*this, f.get(), size);
    if (result == kLoadFailed) Reset();
    return result;
}

int CDib::LoadMemory(const uint8_t* data, size_t size) {
    Reset();
    if (data == nullptr || size == 0) return kLoadFailed;
    FilePtr f(platform::OpenMemory(data, size));
    if (!f) return kLoadFailed;
    const int result = LoadStream(*this, f.get(), int64_t(size));
    if (result == kLoadFailed) Reset();
    return result;
}
