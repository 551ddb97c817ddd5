/* Picture viewer, the part that does not depend on the handheld: reading the picture
 * header, decoding tiles and moving pixels into a screen line.
 *
 * The same C file is built for the handheld (68000, no C library) and for the desktop
 * tests, so it uses only fixed-width types and no library calls.
 *
 * Picture layout (all integers big-endian):
 *   HEAD  header size 36, compression flag, colours (2/4/16/256), tile size T, tiles
 *         across, tiles in total, bytes in a full tile row, pixels per byte, padded
 *         width, height; for 256 colours a 1,024-byte colour table (index, r, g, b).
 *   BITM  one resource per tile, band by band from the top, left to right, ids from 0.
 *         A tile of c columns and r rows holds r rows of c / pixels-per-byte bytes, top
 *         row first, pixels from the most significant bits. A tile is run-length encoded
 *         exactly when its size is smaller than its plain size. */
#ifndef CC_VIEWER_CORE_H
#define CC_VIEWER_CORE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    kVwHeadSize = 36,
    kVwColorTableSize = 1024,
    /* Coordinates on the handheld are signed 16-bit. */
    kVwMaxDimension = 32767,
    /* The system's bitmap: a 16-byte header, for 8-bit pictures the colour table (entry
     * count, then 256 entries of index, r, g, b), then the bits. */
    kVwBitmapHeaderSize = 16,
    kVwBitmapColorTableSize = 2 + kVwColorTableSize
};

/* Results of the core functions. */
enum {
    kVwOk = 0,
    kVwErrShort = 1,     /* fewer bytes than the layout needs */
    kVwErrHeader = 2,    /* a header field has a value the layout does not allow */
    kVwErrGeometry = 3,  /* tile counts or sizes do not match width and height */
    kVwErrTileIndex = 4, /* no such tile */
    kVwErrTileSize = 5,  /* tile larger than its plain size, or shorter without compression */
    kVwErrRle = 6        /* run-length data ends early, overruns, or leaves bytes over */
};

typedef struct VwPicture {
    uint16_t compressed;
    uint16_t colors;       /* 2, 4, 16 or 256 */
    uint16_t bitsPerPixel; /* 1, 2, 4 or 8 */
    uint16_t pixelsPerByte;
    uint16_t tileSize;     /* T */
    uint16_t tileRowBytes; /* bytes in a full tile row: T / pixels per byte */
    uint16_t tilesAcross;
    uint16_t tilesDown;
    uint16_t tileCount;
    uint16_t width; /* padded width in pixels */
    uint16_t height;
    const uint8_t* colorTable; /* 256 entries of index, r, g, b; null below 256 colours */
} VwPicture;

typedef struct VwTile {
    uint16_t x, y; /* first column and row in the picture */
    uint16_t columns, rows;
    uint16_t rowBytes;  /* columns / pixels per byte; always even */
    uint32_t plainSize; /* rows * rowBytes */
} VwTile;

/* Checks every field of a HEAD resource against the layout and fills *pic. */
uint16_t VwParseHead(const uint8_t* data, uint32_t size, VwPicture* pic);

/* Geometry of tile `index` (0 .. tileCount - 1). */
uint16_t VwTileGeometry(const VwPicture* pic, uint16_t index, VwTile* tile);

/* The largest plain tile of the picture: the size of the buffer a tile decodes into. */
uint32_t VwMaxTileBytes(const VwPicture* pic);

/* Decodes one stored tile (plain or run-length encoded) into exactly tile->plainSize
 * bytes at dst. Never reads past src + srcSize nor writes past dst + plainSize. */
uint16_t VwDecodeTile(const VwPicture* pic, const VwTile* tile, const uint8_t* src,
                      uint32_t srcSize, uint8_t* dst);

/* Run-length decoding alone: exactly dstSize bytes must come out of exactly srcSize bytes. */
uint16_t VwRleDecode(const uint8_t* src, uint32_t srcSize, uint8_t* dst, uint32_t dstSize);

/* Copies `count` pixels of `bitsPerPixel` bits from row pixel `srcPixel` to line pixel
 * `dstPixel`, leaving the line's other pixels as they are. Pixels are packed from the
 * most significant bits, as on the handheld's screen. */
void VwCopyPixels(const uint8_t* row, uint16_t srcPixel, uint8_t* line, uint16_t dstPixel,
                  uint16_t count, uint16_t bitsPerPixel);

/* Offset of the bits in a bitmap of the picture's depth: 8-bit bitmaps carry the picture's
 * colour table between header and bits, so that systems that match a bitmap's colours
 * to the screen's palette, rather than copy its indices, find the picture's own colours. */
uint16_t VwBitmapBitsOffset(const VwPicture* pic);

/* Writes the colour table of an 8-bit bitmap at `bitmap` (after its header): the
 * picture's 256 colours, entry i with index i. Nothing for other depths. */
void VwWriteBitmapColorTable(const VwPicture* pic, uint8_t* bitmap);

/* Writes the 16-byte header of a bitmap at the picture's depth: version 1 without a
 * colour table for 1, 2 and 4 bits per pixel; version 2 (the colour version) with the
 * colour-table flag for 8 bits, uncompressed and without transparency. */
void VwWriteBitmapHeader(const VwPicture* pic, uint16_t width, uint16_t height, uint16_t rowBytes,
                         uint8_t* bitmap);

/* The scroll position after moving by `step` (negative: up or left) along an axis of
 * `extent` pixels shown through a window of `view` pixels. */
uint16_t VwScroll(uint16_t pos, int16_t step, uint16_t extent, uint16_t view);

#ifdef __cplusplus
}
#endif

#endif
