/* Picture viewer core: header, tiles, pixels. See viewer_core.h. */
#include "viewer_core.h"

/* Header field offsets. */
enum {
    kOffHeaderSize = 0,
    kOffCompression = 2,
    kOffColors = 4,
    kOffTileSize = 8,
    kOffTilesAcross = 12,
    kOffTileCount = 16,
    kOffTileRowBytes = 20,
    kOffPixelsPerByte = 24,
    kOffWidth = 28,
    kOffHeight = 32
};

/* Tile size and packing for each colour count. */
typedef struct Packing {
    uint16_t colors, tileSize, pixelsPerByte, bitsPerPixel;
} Packing;

static const Packing kPackings[4] = {
    {2, 704, 8, 1},
    {4, 504, 4, 2},
    {16, 356, 2, 4},
    {256, 252, 1, 8},
};

static uint16_t Get16(const uint8_t* p) {
    return (uint16_t)(((uint16_t)p[0] << 8) | p[1]);
}

static uint32_t Get32(const uint8_t* p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

/* A 32-bit field that must fit 1 .. limit. */
static uint16_t Small(const uint8_t* data, uint16_t offset, uint16_t limit, uint16_t* out) {
    uint32_t v = Get32(data + offset);
    if (v == 0 || v > limit) {
        return 0;
    }
    *out = (uint16_t)v;
    return 1;
}

static uint16_t CeilDiv(uint16_t a, uint16_t b) {
    return (uint16_t)((a / b) + ((a % b) != 0 ? 1 : 0));
}

static uint32_t Mul16(uint16_t a, uint16_t b) {
    return (uint32_t)a * (uint32_t)b;
}

uint16_t VwParseHead(const uint8_t* data, uint32_t size, VwPicture* pic) {
    const Packing* packing = 0;
    uint16_t colors = 0, tileSize = 0, across = 0, count = 0, rowBytes = 0, ppb = 0;
    uint16_t width = 0, height = 0, i;

    if (data == 0 || size < kVwHeadSize) {
        return kVwErrShort;
    }
    if (Get16(data + kOffHeaderSize) != kVwHeadSize || Get16(data + kOffCompression) > 1) {
        return kVwErrHeader;
    }
    if (!Small(data, kOffColors, 256, &colors) || !Small(data, kOffTileSize, 1024, &tileSize) ||
        !Small(data, kOffTileRowBytes, 1024, &rowBytes) ||
        !Small(data, kOffPixelsPerByte, 8, &ppb)) {
        return kVwErrHeader;
    }
    for (i = 0; i < 4; ++i) {
        if (kPackings[i].colors == colors) {
            packing = &kPackings[i];
        }
    }
    if (packing == 0 || packing->tileSize != tileSize || packing->pixelsPerByte != ppb ||
        rowBytes != tileSize / ppb) {
        return kVwErrHeader;
    }
    if (colors == 256 && size < (uint32_t)kVwHeadSize + kVwColorTableSize) {
        return kVwErrShort;
    }
    if (!Small(data, kOffWidth, kVwMaxDimension, &width) ||
        !Small(data, kOffHeight, kVwMaxDimension, &height)) {
        return kVwErrGeometry;
    }
    /* Every tile row holds whole, and an even number of, bytes. */
    if (width % ppb != 0 || ((width / ppb) & 1) != 0) {
        return kVwErrGeometry;
    }
    if (!Small(data, kOffTilesAcross, 0xFFFF, &across) ||
        !Small(data, kOffTileCount, 0xFFFF, &count)) {
        return kVwErrGeometry;
    }
    if (across != CeilDiv(width, tileSize) ||
        (uint32_t)count != Mul16(across, CeilDiv(height, tileSize))) {
        return kVwErrGeometry;
    }

    pic->compressed = Get16(data + kOffCompression);
    pic->colors = colors;
    pic->bitsPerPixel = packing->bitsPerPixel;
    pic->pixelsPerByte = ppb;
    pic->tileSize = tileSize;
    pic->tileRowBytes = rowBytes;
    pic->tilesAcross = across;
    pic->tilesDown = CeilDiv(height, tileSize);
    pic->tileCount = count;
    pic->width = width;
    pic->height = height;
    pic->colorTable = colors == 256 ? data + kVwHeadSize : 0;
    return kVwOk;
}

uint16_t VwTileGeometry(const VwPicture* pic, uint16_t index, VwTile* tile) {
    uint16_t band, column;
    if (index >= pic->tileCount) {
        return kVwErrTileIndex;
    }
    band = index / pic->tilesAcross;
    column = index % pic->tilesAcross;
    tile->x = (uint16_t)(column * pic->tileSize);
    tile->y = (uint16_t)(band * pic->tileSize);
    tile->columns =
        pic->width - tile->x < pic->tileSize ? (uint16_t)(pic->width - tile->x) : pic->tileSize;
    tile->rows =
        pic->height - tile->y < pic->tileSize ? (uint16_t)(pic->height - tile->y) : pic->tileSize;
    tile->rowBytes = tile->columns / pic->pixelsPerByte;
    tile->plainSize = Mul16(tile->rows, tile->rowBytes);
    return kVwOk;
}

uint32_t VwMaxTileBytes(const VwPicture* pic) {
    uint16_t columns = pic->width < pic->tileSize ? pic->width : pic->tileSize;
    uint16_t rows = pic->height < pic->tileSize ? pic->height : pic->tileSize;
    return Mul16(rows, columns / pic->pixelsPerByte);
}

uint16_t VwRleDecode(const uint8_t* src, uint32_t srcSize, uint8_t* dst, uint32_t dstSize) {
    uint32_t in = 0, out = 0;
    while (in < srcSize) {
        uint8_t control = src[in++];
        uint16_t length = (uint16_t)((control & 0x7F) + 1);
        if (dstSize - out < length) {
            return kVwErrRle;
        }
        if (control & 0x80) {
            /* A stretch of literal bytes. */
            if (srcSize - in < length) {
                return kVwErrRle;
            }
            while (length-- > 0) {
                dst[out++] = src[in++];
            }
        } else {
            uint8_t value;
            if (in >= srcSize) {
                return kVwErrRle;
            }
            value = src[in++];
            while (length-- > 0) {
                dst[out++] = value;
            }
        }
    }
    return out == dstSize ? kVwOk : kVwErrRle;
}

uint16_t VwDecodeTile(const VwPicture* pic, const VwTile* tile, const uint8_t* src,
                      uint32_t srcSize, uint8_t* dst) {
    uint32_t i;
    if (srcSize == tile->plainSize) {
        for (i = 0; i < srcSize; ++i) {
            dst[i] = src[i];
        }
        return kVwOk;
    }
    if (srcSize > tile->plainSize || !pic->compressed) {
        return kVwErrTileSize;
    }
    return VwRleDecode(src, srcSize, dst, tile->plainSize);
}

void VwCopyPixels(const uint8_t* row, uint16_t srcPixel, uint8_t* line, uint16_t dstPixel,
                  uint16_t count, uint16_t bitsPerPixel) {
    uint16_t perByte = (uint16_t)(8 / bitsPerPixel);
    uint8_t mask = (uint8_t)((1u << bitsPerPixel) - 1u);

    /* Whole bytes when both ends sit on the same place in a byte: the usual case,
     * since scroll steps and tile edges fall on byte boundaries. */
    if (srcPixel % perByte == 0 && dstPixel % perByte == 0) {
        const uint8_t* s = row + srcPixel / perByte;
        uint8_t* d = line + dstPixel / perByte;
        while (count >= perByte) {
            *d++ = *s++;
            count = (uint16_t)(count - perByte);
            srcPixel = (uint16_t)(srcPixel + perByte);
            dstPixel = (uint16_t)(dstPixel + perByte);
        }
    }
    while (count-- > 0) {
        uint16_t sShift = (uint16_t)(8 - bitsPerPixel * (srcPixel % perByte + 1));
        uint16_t dShift = (uint16_t)(8 - bitsPerPixel * (dstPixel % perByte + 1));
        uint8_t value = (uint8_t)((row[srcPixel / perByte] >> sShift) & mask);
        uint8_t* d = line + dstPixel / perByte;
        *d = (uint8_t)((*d & ~(mask << dShift)) | (value << dShift));
        ++srcPixel;
        ++dstPixel;
    }
}

/* Bitmap header fields and flags. */
enum {
    kBmpFlagHasColorTable = 0x4000,
    kBmpVersionOne = 1,
    kBmpVersionTwo = 2,
    kBmpCompressionNone = 0xFF
};

static void Put16(uint8_t* p, uint16_t v) {
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}

uint16_t VwBitmapBitsOffset(const VwPicture* pic) {
    return pic->colorTable != 0 ? kVwBitmapHeaderSize + kVwBitmapColorTableSize
                                : kVwBitmapHeaderSize;
}

void VwWriteBitmapColorTable(const VwPicture* pic, uint8_t* bitmap) {
    uint8_t* out = bitmap + kVwBitmapHeaderSize;
    uint16_t i;
    if (pic->colorTable == 0) {
        return;
    }
    Put16(out, 256);
    out += 2;
    for (i = 0; i < 256; ++i) {
        out[4 * i] = (uint8_t)i;
        out[4 * i + 1] = pic->colorTable[4 * i + 1];
        out[4 * i + 2] = pic->colorTable[4 * i + 2];
        out[4 * i + 3] = pic->colorTable[4 * i + 3];
    }
}

void VwWriteBitmapHeader(const VwPicture* pic, uint16_t width, uint16_t height, uint16_t rowBytes,
                         uint8_t* bitmap) {
    const uint16_t table = pic->colorTable != 0;
    Put16(bitmap, width);
    Put16(bitmap + 2, height);
    Put16(bitmap + 4, rowBytes);
    Put16(bitmap + 6, table ? kBmpFlagHasColorTable : 0);
    bitmap[8] = (uint8_t)pic->bitsPerPixel;
    bitmap[9] = table ? kBmpVersionTwo : kBmpVersionOne;
    Put16(bitmap + 10, 0); /* no bitmap of another depth follows */
    bitmap[12] = 0;        /* transparent index, unused */
    bitmap[13] = table ? kBmpCompressionNone : 0;
    Put16(bitmap + 14, 0);
}

uint16_t VwScroll(uint16_t pos, int16_t step, uint16_t extent, uint16_t view) {
    uint16_t last = extent > view ? (uint16_t)(extent - view) : 0;
    if (step < 0) {
        uint16_t back = (uint16_t)(-step);
        return pos > back ? (uint16_t)(pos - back) : 0;
    }
    if ((uint32_t)pos + (uint16_t)step >= last) {
        return last;
    }
    return (uint16_t)(pos + step);
}
