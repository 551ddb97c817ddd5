// CPictureDbWriter: the picture application database, its HEAD block and BITM tiles.
#include <algorithm>
#include <cstring>
#include <new>

#include "formats/picture/picture.h"
#include "pdb/palm_db_file.h"

namespace {

constexpr uint32_t kTypeName = pdb::MakeFourCC("tAIN");
constexpr uint32_t kTypeHead = pdb::MakeFourCC("HEAD");
constexpr uint32_t kTypeTile = pdb::MakeFourCC("BITM");
constexpr uint16_t kHeadId = 0;

// HEAD layout, big-endian.
constexpr size_t kHeadOffHeaderSize = 0;
constexpr size_t kHeadOffCompression = 2;
constexpr size_t kHeadOffColors = 4;
constexpr size_t kHeadOffTileSize = 8;
constexpr size_t kHeadOffTilesAcross = 12;
constexpr size_t kHeadOffTilesTotal = 16;
constexpr size_t kHeadOffRowBytes = 20;
constexpr size_t kHeadOffPixelsPerByte = 24;
constexpr size_t kHeadOffPaddedWidth = 28;
constexpr size_t kHeadOffHeight = 32;
constexpr size_t kHeadSize = 36;
constexpr size_t kHeadColorEntries = 256;
constexpr size_t kHeadColorEntrySize = 4;  // index, red, green, blue

constexpr int kRunMax = 128;
constexpr uint8_t kLiteralFlag = 0x80;

// Tile size and packing by colour count.
struct Packing {
    int colors;
    int tileSize;
    int pixelsPerByte;
};
constexpr Packing kPackings[] = {
    {2, 704, 8},
    {4, 504, 4},
    {16, 356, 2},
    {256, 252, 1},
};

void Put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// The colour counts the viewer shows. Anything else (the -1 of a handheld whose display
// was never asked) would give tiles of nothing but zeros; it gets the nearest count the
// handheld can surely show, from two upwards.
int SupportedColorCount(int colors) {
    if (colors <= 2) return 2;
    if (colors <= 4) return 4;
    if (colors <= 16) return 16;
    return 256;
}

const Packing& PackingFor(int colors) {
    for (const Packing& p : kPackings) {
        if (p.colors == colors) return p;
    }
    return kPackings[std::size(kPackings) - 1];
}

// Width rounded up to whole bytes, then to an even number of bytes per row.
int PaddedWidth(int width, int pixelsPerByte) {
    int padded = (width + pixelsPerByte - 1) / pixelsPerByte * pixelsPerByte;
    if ((padded / pixelsPerByte) & 1) padded += pixelsPerByte;
    return padded;
}

// The value of a pixel with grey level g in the grey forms: 0 is white.
unsigned GreyValue(int colors, unsigned g) {
    switch (colors) {
        case 2:
            return g < 128 ? 1 : 0;
        case 4:
            return 3 - (g >> 6);
        default:
            return 15 - (g >> 4);
    }
}

void CopyField(char (&field)[CPictureDbWriter::kTextField], const std::string& text) {
    const size_t n = std::min(text.size(), sizeof field - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

}  // namespace

long RleEncodeTile(const uint8_t* in, size_t size, uint8_t* out, size_t limit) {
    size_t i = 0, o = 0;
    while (i < size) {
        if (i + 1 < size && in[i] == in[i + 1]) {
            size_t run = 2;
            while (i + run < size && run < size_t(kRunMax) && in[i + run] == in[i]) ++run;
            if (o + 2 > limit) return -1;
            out[o++] = uint8_t(run - 1);
            out[o++] = in[i];
            i += run;
        } else {
            // Up to the first byte that equals its successor, the end, or 128 bytes.
            size_t j = i;
            while (j < size && j - i < size_t(kRunMax) && !(j + 1 < size && in[j] == in[j + 1])) {
                ++j;
            }
            const size_t len = j - i;
            if (o + 1 + len > limit) return -1;
            out[o++] = uint8_t((len - 1) | kLiteralFlag);
            std::memcpy(out + o, in + i, len);
            o += len;
            i = j;
        }
    }
    return long(o);
}

std::string MakePictureCreator(const std::string& title) {
    // CRC-16, polynomial 0x1021, initial value 0, no reflection, no final XOR.
    uint16_t crc = 0;
    for (unsigned char ch : title) {
        crc = uint16_t(crc ^ (ch << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
        }
    }
    auto map = [](unsigned v) -> char {
        if (v < 26) return char('A' + v);
        if (v < 54) return char('a' + (v - 26));
        return char('0' + (v - 54));
    };
    std::string creator = "P";
    creator += map((crc >> 11) & 31);
    creator += map((crc >> 6) & 31);
    creator += map(crc & 63);
    return creator;
}

bool IsPictureApplication(const pdb::CPalmDbFile& file) {
    if (!file.Info().IsResourceDb()) return false;
    bool head = false;
    bool tile = false;
    for (int i = 0; i < file.EntryCount() && !(head && tile); ++i) {
        pdb::Resource res;
        if (file.ReadResourcePrefix(i, 0, res) != pdb::kOk) return false;
        head = head || (res.type == kTypeHead && res.id == kHeadId);
        tile = tile || res.type == kTypeTile;
    }
    return head && tile;
}

CPictureDbWriter::CPictureDbWriter() = default;

CPictureDbWriter::~CPictureDbWriter() {
    Close();
}

bool CPictureDbWriter::Create(const std::string& outputPath, CDib* pDib, bool bCompress,
                              const std::string& viewerPath, const std::string& title) {
    Close();
    m_pDib = pDib;
    m_bCompress = bCompress;
    m_bFailed = false;
    CopyField(m_szTitle, title);
    CopyField(m_szViewer, viewerPath);
    try {
        m_pViewer = pdb::CPalmDbFile::Open(m_szViewer);
        if (!m_pViewer) return false;

        pdb::DbInfo info = m_pViewer->Info();
        info.name = std::string(m_szTitle).substr(0, pdb::kMaxNameLength);
        info.creator = pdb::FourCCFromText(MakePictureCreator(m_szTitle));
        m_pOutput = pdb::CPalmDbFile::Create(outputPath, info);
        if (!m_pOutput) return false;

        const int count = m_pViewer->EntryCount();
        pdb::Resource res;
        for (int i = 0; i < count; ++i) {
            if (m_pViewer->ReadResource(i, res) != pdb::kOk) {
                m_bFailed = true;
                return false;
            }
            if (res.type == kTypeName) {
                const size_t len = std::strlen(m_szTitle);
                res.data.assign(m_szTitle, m_szTitle + len + 1);  // with its NUL
            }
            if (m_pOutput->AppendResource(res) != pdb::kOk) {
                m_bFailed = true;
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        m_bFailed = true;
        return false;
    }
    return true;
}

int CPictureDbWriter::Write(int colors) {
    try {
        return WriteTiles(colors);
    } catch (const std::bad_alloc&) {
        m_bFailed = true;
        return -1;
    }
}

int CPictureDbWriter::WriteTiles(int colors) {
    if (!m_pOutput || !m_pDib || !m_pDib->IsLoaded() || m_bFailed) return -1;
    std::vector<uint8_t> tile, packed;
    try {
        tile.resize(kBufferSize);
        packed.resize(kBufferSize);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    CDib& dib = *m_pDib;
    if (!dib.To24Bit()) return -1;

    // Fitting the colours to the handheld.
    int n = SupportedColorCount(colors);
    int c = dib.CountColors();
    // The grey forms store grey levels (read from the blue byte): a picture that still has
    // colour is turned grey before one of them is chosen, and a colour handheld keeps a
    // colour picture in colour however few colours it has.
    const bool colour = !dib.IsGray();
    if (colour && n < 256 && c <= n) {
        dib.ToGray();
        c = dib.CountColors();
    }
    if (c > 256 && n == 256) {
        dib.Quantize(256);
    } else if (c > n) {
        if (n < 256) {
            dib.ToGray();
            if (dib.CountColors() > n) dib.Quantize(n);
        }
    } else if (c < n && !(colour && n == 256)) {
        n = c <= 2 ? 2 : c <= 4 ? 4 : c <= 16 ? 16 : 256;
    }

    const Packing& pk = PackingFor(n);
    const int p = pk.pixelsPerByte;
    const int tileSize = pk.tileSize;
    const auto size = dib.GetSize();
    const int paddedWidth = PaddedWidth(size.width, p);
    const int across = (paddedWidth + tileSize - 1) / tileSize;
    const int bands = (size.height + tileSize - 1) / tileSize;
    const int64_t tiles = int64_t(across) * bands;
    if (tiles + m_pOutput->EntryCount() + 1 > int64_t(pdb::kMaxEntries)) return -1;

    // HEAD.
    std::vector<uint8_t> head(kHeadSize + (n == 256 ? kHeadColorEntries * kHeadColorEntrySize : 0));
    Put16(&head[kHeadOffHeaderSize], kHeadSize);
    Put16(&head[kHeadOffCompression], m_bCompress ? 1 : 0);
    Put32(&head[kHeadOffColors], uint32_t(n));
    Put32(&head[kHeadOffTileSize], uint32_t(tileSize));
    Put32(&head[kHeadOffTilesAcross], uint32_t(across));
    Put32(&head[kHeadOffTilesTotal], uint32_t(tiles));
    Put32(&head[kHeadOffRowBytes], uint32_t(tileSize / p));
    Put32(&head[kHeadOffPixelsPerByte], uint32_t(p));
    Put32(&head[kHeadOffPaddedWidth], uint32_t(paddedWidth));
    Put32(&head[kHeadOffHeight], uint32_t(size.height));
    if (n == 256) {
        for (size_t i = 0; i < kHeadColorEntries; ++i) {
            const RgbColor e = dib.GetColorTableEntry(int(i));
            uint8_t* q = &head[kHeadSize + i * kHeadColorEntrySize];
            q[0] = uint8_t(i);
            q[1] = e.red;
            q[2] = e.green;
            q[3] = e.blue;
        }
    }
    if (m_pOutput->AppendResource(head.data(), head.size(), kTypeHead, kHeadId) != pdb::kOk) {
        m_bFailed = true;
        return -1;
    }

    // Tiles, band by band from the top, left to right.
    const unsigned bitsPerPixel = unsigned(8 / p);
    const unsigned padValue = n == 256 ? 255 : 0;  // white in the grey forms
    uint16_t id = 0;
    for (int band = 0; band < bands; ++band) {
        const int y0 = band * tileSize;
        const int rows = std::min(tileSize, size.height - y0);
        for (int t = 0; t < across; ++t) {
            const int x0 = t * tileSize;
            const int cols = std::min(tileSize, paddedWidth - x0);
            const size_t rowBytes = size_t(cols / p);
            const size_t plain = rowBytes * size_t(rows);
            std::fill(tile.begin(), tile.begin() + long(plain), 0);
            for (int r = 0; r < rows; ++r) {
                const int y = y0 + r;
                uint8_t* row = tile.data() + size_t(r) * rowBytes;
                for (int col = 0; col < cols; ++col) {
                    const int x = x0 + col;
                    unsigned value;
                    if (x >= size.width) {
                        value = padValue;
                    } else if (n == 256) {
                        value = unsigned(dib.GetPixelIndex(x, y));
                    } else {
                        value = GreyValue(n, dib.GetPixel(x, y).blue);
                    }
                    const unsigned shift = 8 - bitsPerPixel * unsigned(col % p + 1);
                    row[col / p] = uint8_t(row[col / p] | (value << shift));
                }
            }
            const uint8_t* data = tile.data();
            size_t length = plain;
            if (m_bCompress) {
                // Only a strictly shorter encoding is kept: a tile of its plain size is then
                // always plain, and the viewer tells the two forms apart by the size alone.
                const long encoded = RleEncodeTile(tile.data(), plain, packed.data(), plain - 1);
                if (encoded >= 0) {
                    data = packed.data();
                    length = size_t(encoded);
                }
            }
            if (m_pOutput->AppendResource(data, length, kTypeTile, id++) != pdb::kOk) {
                m_bFailed = true;
                return -1;
            }
        }
    }
    return 1;
}

bool CPictureDbWriter::Close() {
    bool ok = true;
    if (m_pOutput) {
        ok = m_pOutput->Close() == pdb::kOk && !m_bFailed;
        m_pOutput.reset();
    }
    if (m_pViewer) {
        m_pViewer->Close();
        m_pViewer.reset();
    }
    return ok;
}
