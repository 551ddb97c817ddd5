// Helpers shared by the picture sources; not part of the folder's interface.
#pragma once

#include <cstddef>
#include <cstdint>

// Whether a picture of these sides may be decoded. compressedBytes < 0: the pixels are
// stored plainly (their presence in the file is checked separately); otherwise the number
// of bytes the compressed pixels take, which must justify the picture's size.
bool PicturePixelsAllowed(int64_t width, int64_t height, int64_t compressedBytes);

// Bytes in one pixel row, padded to a multiple of 4.
size_t DibRowStride(int width, unsigned bits);
