#include "picture_test_util.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

namespace pictest {
namespace {

void Le16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void Le32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

std::vector<uint8_t> BuildBmp(const BmpLayout& s) {
    std::vector<uint8_t> info;
    if (s.headerSize == 12) {
        Le32(info, 12);
        Le16(info, uint32_t(s.width));
        Le16(info, uint32_t(s.height));
        Le16(info, 1);
        Le16(info, uint32_t(s.bits));
        for (const RgbQuad& q : s.palette) {
            info.push_back(q.blue);
            info.push_back(q.green);
            info.push_back(q.red);
        }
    } else {
        Le32(info, s.headerSize);
        Le32(info, uint32_t(s.width));
        Le32(info, uint32_t(s.height));
        Le16(info, 1);
        Le16(info, uint32_t(s.bits));
        Le32(info, s.compression);
        Le32(info,
             s.sizeImageOverride >= 0 ? uint32_t(s.sizeImageOverride) : uint32_t(s.data.size()));
        Le32(info, 2835);
        Le32(info, 2835);
        Le32(info, s.clrUsed);
        Le32(info, 0);
        if (s.headerSize > 40) {
            std::vector<uint8_t> rest(s.headerSize - 40, 0);
            for (size_t i = 0; i < s.masks.size() && i < 4; ++i) {
                for (int b = 0; b < 4; ++b)
                    rest[4 * i + size_t(b)] = uint8_t(s.masks[i] >> (8 * b));
            }
            info.insert(info.end(), rest.begin(), rest.end());
        } else {
            for (uint32_t m : s.masks) Le32(info, m);
        }
        for (const RgbQuad& q : s.palette) {
            info.push_back(q.blue);
            info.push_back(q.green);
            info.push_back(q.red);
            info.push_back(0);
        }
    }
    const uint32_t offBits =
        s.offBitsOverride >= 0 ? uint32_t(s.offBitsOverride) : uint32_t(14 + info.size());
    std::vector<uint8_t> out = {'B', 'M'};
    Le32(out, uint32_t(14 + info.size() + s.data.size()));
    Le32(out, 0);
    Le32(out, offBits);
    out.insert(out.end(), info.begin(), info.end());
    out.insert(out.end(), s.data.begin(), s.data.end());
    return out;
}

std::vector<uint8_t> PackRows(int width, int height, int bits,
                              const std::function<uint32_t(int, int)>& value, bool topDown) {
    const size_t stride = ((size_t(width) * size_t(bits) + 31) / 32) * 4;
    std::vector<uint8_t> out(stride * size_t(height), 0);
    for (int r = 0; r < height; ++r) {
        const int y = topDown ? r : height - 1 - r;
        uint8_t* row = out.data() + size_t(r) * stride;
        for (int x = 0; x < width; ++x) {
            const uint32_t v = value(x, y);
            switch (bits) {
                case 1:
                    if (v & 1) row[x / 8] |= uint8_t(0x80 >> (x % 8));
                    break;
                case 4:
                    row[x / 2] |= uint8_t((v & 15) << (x % 2 ? 0 : 4));
                    break;
                case 8:
                    row[x] = uint8_t(v);
                    break;
                default:
                    for (int b = 0; b < bits / 8; ++b) {
                        row[size_t(x) * size_t(bits / 8) + size_t(b)] = uint8_t(v >> (8 * b));
                    }
            }
        }
    }
    return out;
}

std::vector<uint8_t> Bmp24(int width, int height, const std::function<RgbColor(int, int)>& color) {
    BmpLayout s;
    s.width = width;
    s.height = height;
    s.bits = 24;
    s.data = PackRows(width, height, 24, [&](int x, int y) {
        const RgbColor c = color(x, y);
        return uint32_t(c.blue) | (uint32_t(c.green) << 8) | (uint32_t(c.red) << 16);
    });
    return BuildBmp(s);
}

std::vector<uint8_t> EncodeJpeg(int width, int height, int components, int quality,
                                const std::function<RgbColor(int, int)>& color, bool progressive) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    // No chroma subsampling: the tests compare colours near edges.
    for (int c = 0; c < cinfo.num_components; ++c) {
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
    }
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(width) * size_t(components));
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            const RgbColor c = color(x, y);
            if (components == 1) {
                row[size_t(x)] = c.red;
            } else {
                row[3 * size_t(x)] = c.red;
                row[3 * size_t(x) + 1] = c.green;
                row[3 * size_t(x) + 2] = c.blue;
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "cc_picture_XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) std::abort();
    m_path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::string MakeViewer(const TempDir& dir, const std::string& name) {
    const std::string path = dir.File(name);
    pdb::DbInfo info;
    info.name = "Starter";
    info.attributes = pdb::kAttrResDb | pdb::kAttrBackup;
    info.version = 1;
    info.createDate = 1000000000;
    info.modifyDate = 1000000100;
    info.backupDate = 0;
    info.modnum = 3;
    info.type = pdb::MakeFourCC("appl");
    info.creator = pdb::MakeFourCC("CcVw");
    auto db = pdb::CPalmDbFile::Create(path, info);
    EXPECT_TRUE(db != nullptr);
    if (!db) return path;
    const std::vector<uint8_t> code0 = {0, 0, 0, 0x28, 0, 0, 0, 0};
    const std::vector<uint8_t> code1 = {0x4E, 0x56, 0, 0, 0x4E, 0x5E, 0x4E, 0x75};
    const std::string ain = "Starter";
    const std::string ver = "2.00";
    db->AppendResource(code0.data(), code0.size(), pdb::MakeFourCC("code"), 0);
    db->AppendResource(code1.data(), code1.size(), pdb::MakeFourCC("code"), 1);
    db->AppendResource(reinterpret_cast<const uint8_t*>(ain.c_str()), ain.size() + 1,
                       pdb::MakeFourCC("tAIN"), 1000);
    db->AppendResource(reinterpret_cast<const uint8_t*>(ver.c_str()), ver.size() + 1,
                       pdb::MakeFourCC("tver"), 1000);
    EXPECT_EQ(db->Close(), pdb::kOk);
    return path;
}

std::vector<pdb::Resource> ReadResources(const std::string& path, pdb::DbInfo* info) {
    std::vector<pdb::Resource> out;
    auto db = pdb::CPalmDbFile::Open(path);
    if (!db) return out;
    if (info) *info = db->Info();
    for (int i = 0; i < db->EntryCount(); ++i) {
        pdb::Resource r;
        if (db->ReadResource(i, r) != pdb::kOk) break;
        out.push_back(std::move(r));
    }
    return out;
}

bool RleDecode(const std::vector<uint8_t>& in, size_t plain, std::vector<uint8_t>& out) {
    out.clear();
    size_t i = 0;
    while (i < in.size()) {
        const uint8_t control = in[i++];
        if (control & 0x80) {
            const size_t n = size_t(control & 0x7F) + 1;
            if (i + n > in.size()) return false;
            out.insert(out.end(), in.begin() + long(i), in.begin() + long(i + n));
            i += n;
        } else {
            if (control == 0 || i >= in.size()) return false;  // runs are 2 to 128 bytes
            out.insert(out.end(), size_t(control) + 1, in[i++]);
        }
        if (out.size() > plain) return false;
    }
    return out.size() == plain;
}

bool DecodePictureDb(const std::string& path, DecodedPicture& pic) {
    const auto resources = ReadResources(path);
    size_t headAt = resources.size();
    for (size_t i = 0; i < resources.size(); ++i) {
        if (resources[i].type == pdb::MakeFourCC("HEAD")) {
            headAt = i;
            break;
        }
    }
    if (headAt == resources.size()) {
        ADD_FAILURE() << "no HEAD in " << path;
        return false;
    }
    const auto& head = resources[headAt].data;
    if (head.size() < 36 || resources[headAt].id != 0) {
        ADD_FAILURE() << "HEAD too short or not id 0";
        return false;
    }
    pic.headBytes = head.size();
    pic.headerSize = (head[0] << 8) | head[1];
    pic.compression = (head[2] << 8) | head[3];
    pic.colors = int(Be32(&head[4]));
    pic.tileSize = int(Be32(&head[8]));
    pic.tilesAcross = int(Be32(&head[12]));
    pic.tilesTotal = int(Be32(&head[16]));
    pic.rowBytes = int(Be32(&head[20]));
    pic.pixelsPerByte = int(Be32(&head[24]));
    pic.paddedWidth = int(Be32(&head[28]));
    pic.height = int(Be32(&head[32]));
    const int p = pic.pixelsPerByte;
    if (pic.headerSize != 36 || (p != 1 && p != 2 && p != 4 && p != 8) ||
        pic.rowBytes * p != pic.tileSize || pic.paddedWidth % p != 0 ||
        (pic.paddedWidth / p) % 2 != 0) {
        ADD_FAILURE() << "inconsistent HEAD";
        return false;
    }
    if (pic.colors == 256) {
        if (head.size() != 36 + 1024) {
            ADD_FAILURE() << "256-colour HEAD of " << head.size() << " bytes";
            return false;
        }
        for (int i = 0; i < 256; ++i) {
            const uint8_t* e = &head[36 + 4 * size_t(i)];
            EXPECT_EQ(e[0], i) << "colour table index";
            pic.table.push_back({e[1], e[2], e[3]});
        }
    } else if (head.size() != 36) {
        ADD_FAILURE() << "grey HEAD of " << head.size() << " bytes";
        return false;
    }
    const int T = pic.tileSize;
    const int bands = (pic.height + T - 1) / T;
    if (pic.tilesAcross != (pic.paddedWidth + T - 1) / T ||
        pic.tilesTotal != pic.tilesAcross * bands) {
        ADD_FAILURE() << "tile counts";
        return false;
    }
    if (resources.size() != headAt + 1 + size_t(pic.tilesTotal)) {
        ADD_FAILURE() << "expected " << pic.tilesTotal << " tiles after HEAD, found "
                      << resources.size() - headAt - 1;
        return false;
    }
    pic.values.assign(size_t(pic.paddedWidth) * size_t(pic.height), 0);
    const int bitsPer = 8 / p;
    for (int k = 0; k < pic.tilesTotal; ++k) {
        const auto& r = resources[headAt + 1 + size_t(k)];
        if (r.type != pdb::MakeFourCC("BITM") || r.id != k) {
            ADD_FAILURE() << "tile " << k << " type/id";
            return false;
        }
        const int x0 = (k % pic.tilesAcross) * T, y0 = (k / pic.tilesAcross) * T;
        const int cols = std::min(T, pic.paddedWidth - x0), rows = std::min(T, pic.height - y0);
        const size_t rowBytes = size_t(cols / p);
        const size_t plain = rowBytes * size_t(rows);
        std::vector<uint8_t> bytes;
        const bool encoded = r.data.size() != plain;
        if (encoded) {
            if (!pic.compression || r.data.size() > plain) {
                ADD_FAILURE() << "tile " << k << " of " << r.data.size() << " bytes, plain "
                              << plain;
                return false;
            }
            if (!RleDecode(r.data, plain, bytes)) {
                ADD_FAILURE() << "tile " << k << " does not decode";
                return false;
            }
        } else {
            bytes = r.data;
        }
        pic.tileBytes.push_back(int(r.data.size()));
        pic.tilePlainBytes.push_back(int(plain));
        pic.tileEncoded.push_back(encoded);
        for (int row = 0; row < rows; ++row) {
            for (int col = 0; col < cols; ++col) {
                const uint8_t byte = bytes[size_t(row) * rowBytes + size_t(col / p)];
                const int shift = 8 - bitsPer * (col % p + 1);
                const uint8_t v = uint8_t((byte >> shift) & ((1 << bitsPer) - 1));
                pic.values[size_t(y0 + row) * size_t(pic.paddedWidth) + size_t(x0 + col)] = v;
            }
        }
    }
    return true;
}

int CompareWithDib(const DecodedPicture& pic, CDib& dib) {
    const auto size = dib.GetSize();
    int bad = 0;
    if (pic.height != size.height || pic.paddedWidth < size.width) return -1;
    for (int y = 0; y < pic.height; ++y) {
        for (int x = 0; x < pic.paddedWidth; ++x) {
            const uint8_t v = pic.Value(x, y);
            if (x >= size.width) {
                bad += v != (pic.colors == 256 ? 255 : 0);
                continue;
            }
            const RgbColor c = dib.GetPixel(x, y);
            switch (pic.colors) {
                case 256:
                    bad += !(pic.table[v] == c);
                    break;
                case 16:
                    bad += v != 15 - (c.blue >> 4);
                    break;
                case 4:
                    bad += v != 3 - (c.blue >> 6);
                    break;
                case 2:
                    bad += v != (c.blue < 128 ? 1 : 0);
                    break;
                default:
                    return -1;
            }
        }
    }
    return bad;
}

}  // namespace pictest
