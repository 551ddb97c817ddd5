// Converting one picture file into a picture application database.
#include <cstdio>
#include <new>

#include "formats/picture/picture.h"
#include "platform/files.h"

int PictureColorCount(uint32_t dwDisplayFeature, bool bColor, bool bEzCpu, bool bOldCpu) {
    // Without the display feature the handheld runs a ROM below 3.0, whose screen the
    // system drives in black and white only.
    if (dwDisplayFeature == 0) return 2;
    if (bColor) return 256;
    if (bEzCpu) return 16;
    if (bOldCpu) return 4;
    return 2;
}

std::string PictureTitle(const std::string& picturePath) {
    const size_t slash = picturePath.find_last_of("/\\");
    std::string name = slash == std::string::npos ? picturePath : picturePath.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}

std::string PictureOutputPath(const std::string& tempDir, const std::string& picturePath) {
    return tempDir + PictureTitle(picturePath) + ".PDB";
}

namespace {

int Convert(const std::string& picturePath, const std::string& outputPath,
            const std::string& viewerPath, const std::string& title, int colors, bool bCompress) {
    CDib dib;
    if (dib.Load(picturePath) == CDib::kLoadFailed) return kPictureLoadFailed;

    int result = kPictureOk;
    bool created = false;  // the output file exists (and anything there before is gone)
    {
        CPictureDbWriter writer;
        const bool ok = writer.Create(outputPath, &dib, bCompress, viewerPath, title);
        created = writer.HasOutput();
        if (!ok) {
            result = kPictureViewerFailed;
        } else {
            dib.ExpandRle();
            if (!dib.To24Bit()) {
                result = kPictureConvertFailed;
            } else if (writer.Write(colors) != 1) {
                result = kPictureWriteFailed;
            }
        }
        if (!writer.Close() && result == kPictureOk) result = kPictureWriteFailed;
    }
    // A half-written database must not be installed in the picture's place.
    if (result != kPictureOk && created) platform::RemoveFile(outputPath);
    return result;
}

}  // namespace

int ConvertPictureFile(const std::string& picturePath, const std::string& outputPath,
                       const std::string& viewerPath, const std::string& title, int colors,
                       bool bCompress) {
    try {
        return Convert(picturePath, outputPath, viewerPath, title, colors, bCompress);
    } catch (const std::bad_alloc&) {
        platform::RemoveFile(outputPath);
        return kPictureWriteFailed;
    }
}
