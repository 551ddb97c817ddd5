// JPEG decoding, one implementation per system: libjpeg on Linux (jpeg_decoder_libjpeg.cpp),
// the Windows Imaging Component on Windows (jpeg_decoder_wic.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// Decodes the JPEG file f (fileSize bytes, read from its current position) into 24-bit
// blue-green-red rows, bottom row first, each padded to DibRowStride(width, 24). Grey,
// colour and CMYK pictures are taken (Adobe's inverted CMYK as such); the sides are checked
// with PicturePixelsAllowed before the pixels are allocated. False for anything else or a
// damaged file; libjpeg also refuses a progressive file with more than 1,000 scans.
bool DecodeJpeg(std::FILE* f, int64_t fileSize, std::vector<uint8_t>* pixels, unsigned* pWidth,
                unsigned* pHeight);
