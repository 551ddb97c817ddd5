// Pictures (Windows bitmaps and JPEG files) turned into picture applications for the
// handheld: a copy of the carried viewer application with the picture added to it as a
// "HEAD" resource and "BITM" tiles, fitted to the handheld's colour or grey depth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pdb {
class CPalmDbFile;
}

// Windows bitmap information header (40 bytes in the file, little-endian there).
struct BitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;  // always positive here: rows are kept bottom row first
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;  // bytes held in the pixel buffer
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

inline constexpr uint32_t kBiRgb = 0;
inline constexpr uint32_t kBiRle8 = 1;
inline constexpr uint32_t kBiRle4 = 2;
inline constexpr uint32_t kBiBitfields = 3;
inline constexpr uint32_t kBiAlphaBitfields = 6;

struct RgbQuad {
    uint8_t blue = 0, green = 0, red = 0, reserved = 0;
};

struct RgbColor {
    uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const RgbColor&) const = default;
};

// Limits on what a picture may claim. A picture beyond them is refused at load, before
// anything of its size is allocated: no handheld could hold its database anyway.
inline constexpr int kMaxPictureSide = 32752;                   // padded widths stay below 32768
inline constexpr int64_t kMaxPicturePixels = int64_t(1) << 24;  // 4096 x 4096, a 16 MP photo
// Compressed pictures (RLE bitmaps, JPEG) must also be justified by their data: at most
// this many pixels per stored byte, except that a small picture always passes.
inline constexpr int64_t kMaxPixelsPerCompressedByte = 1024;
inline constexpr int64_t kSmallPicturePixels = int64_t(1) << 20;

// One device-independent bitmap in memory.
class CDib {
  public:
    enum LoadResult : int { kLoadFailed = 0, kLoadBitmap = 1, kLoadJpeg = 2 };

    CDib();
    ~CDib();
    CDib(const CDib&) = delete;
    CDib& operator=(const CDib&) = delete;

    // Tries the file as a Windows bitmap, then as a JPEG. Replaces whatever was loaded.
    int Load(const std::string& path);
    // The same on bytes in memory.
    int LoadMemory(const uint8_t* data, size_t size);

    // RLE4/RLE8 pixels become plain pixels of the same depth; other pictures stay.
    void ExpandRle();
    // 24 bits per pixel, blue-green-red. False (and nothing changed) when nothing is loaded.
    bool To24Bit();
    // Distinct 24-bit colours; 257 when the counting table cannot be had.
    int CountColors();
    // Every pixel becomes its luminance in all three bytes.
    void ToGray();
    // Median cut down to at most n colours.
    void Quantize(int n);
    // Whether every pixel has equal red, green and blue (24 bits; false otherwise).
    bool IsGray() const;

    struct Size {
        int width = 0, height = 0;
    };
    Size GetSize() const { return {m_bih.biWidth, m_bih.biHeight}; }
    // y counts from the top row. Without the distinct-colour table: the pixel's blue byte;
    // with it: the colour's index in the table (0 when absent). 0 outside the picture.
    int GetPixelIndex(int x, int y);
    // Entry i of the distinct-colour table (built on first use); black when unused.
    RgbColor GetColorTableEntry(int i);

    // Inspection.
    bool IsLoaded() const { return m_bih.biBitCount != 0; }
    const BitmapInfoHeader& Header() const { return m_bih; }
    const std::vector<RgbQuad>& ColorTable() const { return m_colors; }
    const std::vector<uint8_t>& Pixels() const { return m_pixels; }
    size_t RowStride() const;
    // The colour of a pixel of a 24-bit picture, y from the top.
    RgbColor GetPixel(int x, int y) const;

  private:
    friend struct CDibLoader;
    void Reset();
    void InvalidateDistinct();
    void BuildDistinct();
    void QuantizeMedianCut(int n);

    BitmapInfoHeader m_bih;
    std::vector<RgbQuad> m_colors;    // colour table (1, 4 and 8 bits)
    uint32_t m_masks[3] = {0, 0, 0};  // red, green, blue masks (16 and 32 bits)
    std::vector<uint8_t> m_pixels;    // rows bottom first, padded to 4 bytes; or RLE data

    bool m_bDistinct = false;              // the distinct-colour table has been built
    std::vector<uint32_t> m_distinct;      // 0xRRGGBB in order of first occurrence
    std::vector<uint32_t> m_distinctHash;  // open addressing: colour + 1, 0 = empty
    std::vector<uint8_t> m_distinctIndex;  // the colour's index, by slot
};

// Run-length encoding of one tile: runs of 2 to 128 equal bytes as (length - 1, byte),
// stretches of 1 to 128 bytes without equal neighbours as ((length - 1) | 0x80, bytes).
// Writes at most `limit` bytes to `out`; returns the encoded size, or -1 when the encoding
// would need more than `limit` bytes.
long RleEncodeTile(const uint8_t* in, size_t size, uint8_t* out, size_t limit);

// The four-character creator of a picture application, from the picture's title.
std::string MakePictureCreator(const std::string& title);

// Whether the database is a picture application: resources with the "HEAD" block and at
// least one "BITM" tile. The viewer reads them from the handheld's memory only.
bool IsPictureApplication(const pdb::CPalmDbFile& file);

// Writes one picture application: the viewer's header and resources with the picture's
// name and creator, the title as "tAIN", then "HEAD" and the "BITM" tiles.
class CPictureDbWriter {
  public:
    static constexpr size_t kTextField = 512;
    static constexpr size_t kBufferSize = 65536;

    CPictureDbWriter();
    ~CPictureDbWriter();
    CPictureDbWriter(const CPictureDbWriter&) = delete;
    CPictureDbWriter& operator=(const CPictureDbWriter&) = delete;

    // Copies the viewer into a new output database. False when the viewer cannot be read
    // or the output cannot be created.
    bool Create(const std::string& outputPath, CDib* pDib, bool bCompress,
                const std::string& viewerPath, const std::string& title);
    // Fits the picture to `colors` and appends HEAD and the tiles: 1 on success, -1 when
    // the buffers cannot be had or no output was created (or appending failed).
    int Write(int colors);
    // Writes the output file and releases both files. False when writing failed.
    bool Close();

    bool HasOutput() const { return m_pOutput != nullptr; }
    const char* Title() const { return m_szTitle; }
    const char* ViewerPath() const { return m_szViewer; }

  private:
    int WriteTiles(int colors);

    CDib* m_pDib = nullptr;
    bool m_bCompress = false;
    char m_szTitle[kTextField] = {};
    char m_szViewer[kTextField] = {};
    std::unique_ptr<pdb::CPalmDbFile> m_pViewer;
    std::unique_ptr<pdb::CPalmDbFile> m_pOutput;
    bool m_bFailed = false;
};

// ---- Converting one picture file (the window's share of a picture request) ----

// The colour count for a handheld's facts. A handheld whose display feature was not read
// (ROM below 3.0) gets 2: those ROMs draw only black and white.
int PictureColorCount(uint32_t dwDisplayFeature, bool bColor, bool bEzCpu, bool bOldCpu);

// The picture's title: its file name without directory ('/' or '\\') and extension.
std::string PictureTitle(const std::string& picturePath);
// The output database path: the temporary directory (ending in a separator), the title
// and ".PDB".
std::string PictureOutputPath(const std::string& tempDir, const std::string& picturePath);

enum PictureResult : int {
    kPictureOk = 0,
    kPictureLoadFailed = 1,     // neither a usable Windows bitmap nor a usable JPEG
    kPictureViewerFailed = 2,   // the viewer cannot be read or the output not created
    kPictureConvertFailed = 3,  // the picture could not be brought to 24 bits
    kPictureWriteFailed = 4,    // buffers, appending or writing the file failed
};

// Loads the picture, creates the database at outputPath from the viewer, fits and writes
// the picture with `colors` (see PictureColorCount) and closes the file. On failure no
// output file is left behind.
int ConvertPictureFile(const std::string& picturePath, const std::string& outputPath,
                       const std::string& viewerPath, const std::string& title, int colors,
                       bool bCompress);
