// Bitmaps and JPEGs from memory, then the steps a conversion takes.
#include "formats/picture/picture.h"
#include "fuzz/fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CDib dib;
    if (dib.LoadMemory(data, size) == 0) return 0;
    dib.ExpandRle();
    if (!dib.To24Bit()) return 0;
    const int colors = dib.CountColors();
    if (colors > 16) dib.Quantize(16);
    const auto picture = dib.GetSize();
    if (picture.width > 0 && picture.height > 0) dib.GetPixelIndex(0, 0);
    return 0;
}
