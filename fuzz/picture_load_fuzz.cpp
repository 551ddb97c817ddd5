// Bitmaps and JPEGs: loaded from memory through every step a conversion takes, then the
// whole conversion into a picture application (the tile writer) for one colour count and
// compression choice, taken from the input's last byte.
#include <cstdio>

#include "formats/picture/picture.h"
#include "fuzz/fuzz_target.h"
#include "pdb/palm_db_file.h"

namespace {

// A small viewer application for the writer to copy, made once.
const std::string& ViewerPath() {
    static const std::string path = [] {
        const std::string p = fuzz::ScratchDir() + "/VIEWER.PRC";
        pdb::DbInfo info;
        info.name = "Viewer";
        info.attributes = pdb::kAttrResDb;
        info.type = pdb::MakeFourCC("appl");
        info.creator = pdb::MakeFourCC("View");
        if (auto db = pdb::CPalmDbFile::Create(p, info)) {
            db->AppendResource(std::vector<uint8_t>(64, 0x4E).data(), 64, pdb::MakeFourCC("code"),
                               1);
            db->AppendResource(reinterpret_cast<const uint8_t*>("Viewer"), 7,
                               pdb::MakeFourCC("tAIN"), 1000);
            db->Close();
        }
        return p;
    }();
    return path;
}

void Steps(const uint8_t* data, size_t size) {
    CDib dib;
    if (dib.LoadMemory(data, size) == CDib::kLoadFailed) return;
    dib.ExpandRle();
    if (!dib.To24Bit()) return;
    const auto picture = dib.GetSize();
    if (picture.width <= 0 || picture.height <= 0) fuzz::Fail("a loaded picture without pixels");
    const int colors = dib.CountColors();
    dib.GetPixelIndex(picture.width - 1, picture.height - 1);
    dib.GetColorTableEntry(colors - 1);
    if (colors > 16) dib.Quantize(16);
    if (dib.CountColors() > 16) fuzz::Fail("more colours than the median cut allows");
    dib.ToGray();
    if (!dib.IsGray()) fuzz::Fail("grey conversion left colour");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int kColors[] = {2, 4, 16, 256, -1, 0, 3, 300};
    Steps(data, size);

    const uint8_t choice = size ? data[size - 1] : 0;
    const std::string picture = fuzz::WriteInput(data, size, "picture.bmp");
    const std::string output = fuzz::ScratchDir() + "/picture.PDB";
    const int result = ConvertPictureFile(picture, output, ViewerPath(), "picture",
                                          kColors[choice % 8], (choice & 8) != 0);
    std::FILE* written = std::fopen(output.c_str(), "rb");
    if (written) std::fclose(written);
    if ((result == kPictureOk) != (written != nullptr)) {
        fuzz::Fail("a database left behind by a failed conversion, or none after success");
    }
    if (result == kPictureOk) {
        auto db = pdb::CPalmDbFile::Open(output);
        if (!db || db->EntryCount() < 3) fuzz::Fail("the picture application does not read back");
        std::remove(output.c_str());
    }
    return 0;
}
