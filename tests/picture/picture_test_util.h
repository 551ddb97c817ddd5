// Builders and independent readers for the picture tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "formats/picture/picture.h"
#include "pdb/palm_db_file.h"

namespace pictest {

// ---- Windows bitmaps, built byte by byte ----

struct BmpLayout {
    int width = 0;
    int height = 0;  // negative: rows stored top row first
    int bits = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;  // 12 (OS/2 1.x), 40, 108, 124
    std::vector<RgbQuad> palette;
    std::vector<uint32_t> masks;  // written after a 40-byte header, or inside a V4/V5 one
    uint32_t clrUsed = 0;
    std::vector<uint8_t> data;  // the pixel bytes exactly as stored
    int64_t sizeImageOverride = -1;
    int64_t offBitsOverride = -1;
};
std::vector<uint8_t> BuildBmp(const BmpLayout& layout);

// Plain pixel rows in file order (bottom row first unless topDown), each padded to 4
// bytes; value(x, y) gives the raw pixel (index or packed value), y counted from the top.
std::vector<uint8_t> PackRows(int width, int height, int bits,
                              const std::function<uint32_t(int x, int y)>& value,
                              bool topDown = false);

// A 24-bit bitmap from a colour function (y from the top).
std::vector<uint8_t> Bmp24(int width, int height,
                           const std::function<RgbColor(int x, int y)>& color);

// ---- JPEG, through libjpeg's compressor ----
// components 1 (grey: the red value is used) or 3.
std::vector<uint8_t> EncodeJpeg(int width, int height, int components, int quality,
                                const std::function<RgbColor(int x, int y)>& color,
                                bool progressive = false);

// ---- Files ----
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

// A small viewer application: a resource database with code, a "tAIN" name and a version.
std::string MakeViewer(const TempDir& dir, const std::string& name = "VIEWER.PRC");

// ---- Reading a written picture database back ----

struct DecodedPicture {
    // HEAD fields
    int headerSize = 0, compression = 0, colors = 0, tileSize = 0, tilesAcross = 0, tilesTotal = 0,
        rowBytes = 0, pixelsPerByte = 0, paddedWidth = 0, height = 0;
    size_t headBytes = 0;
    std::vector<RgbColor> table;  // 256 entries for 256 colours
    std::vector<int> tileBytes;   // stored size of each tile
    std::vector<int> tilePlainBytes;
    std::vector<bool> tileEncoded;
    // Pixel values over the padded width, top row first.
    std::vector<uint8_t> values;
    uint8_t Value(int x, int y) const {
        return values[size_t(y) * size_t(paddedWidth) + size_t(x)];
    }
};

// Decodes HEAD and every BITM of a database from the layout alone. A tile whose size is
// not its plain size is run-length decoded and must decode to exactly its plain size.
// Fails the calling test (via ADD_FAILURE) on any inconsistency and returns false.
bool DecodePictureDb(const std::string& path, DecodedPicture& out);

// The run-length decoding of one tile; false when the data does not decode to `plain`.
bool RleDecode(const std::vector<uint8_t>& in, size_t plain, std::vector<uint8_t>& out);

// Every resource of a database in order.
std::vector<pdb::Resource> ReadResources(const std::string& path, pdb::DbInfo* info = nullptr);

// Checks the decoded tiles against the (fitted) bitmap: colours through the table for 256
// colours, grey values from the blue byte otherwise, white padding. Returns mismatches.
int CompareWithDib(const DecodedPicture& pic, CDib& dib);

}  // namespace pictest
