// JPEG decoding through libjpeg (Linux).
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include "formats/picture/jpeg_decoder.h"
#include "formats/picture/picture_internal.h"

#include <jpeglib.h>

namespace {

// A progressive JPEG with more scans than this is hostile (each scan re-reads the picture).
constexpr int kMaxJpegScans = 1000;

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
    // The text is formatted as the library expects, and dropped: the load just fails.
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void JpegOutputMessage(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
}

void JpegProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxJpegScans) {
        longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
    }
}

uint8_t MulDiv255(unsigned a, unsigned b) {
    return uint8_t((a * b + 127) / 255);
}

// Stores one decoded scanline as blue-green-red.
void StoreJpegRow(const uint8_t* in, uint8_t* out, unsigned width, int components,
                  bool invertedCmyk) {
    switch (components) {
        case 1:
            for (unsigned x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = in[x];
            break;
        case 3:
            for (unsigned x = 0; x < width; ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
            break;
        case 4:
            // Adobe's files store CMYK inverted; others store it as it is.
            for (unsigned x = 0; x < width; ++x, in += 4, out += 3) {
                unsigned c = in[0], m = in[1], y = in[2], k = in[3];
                if (!invertedCmyk) {
                    c = 255 - c;
                    m = 255 - m;
                    y = 255 - y;
                    k = 255 - k;
                }
                out[0] = MulDiv255(y, k);
                out[1] = MulDiv255(m, k);
                out[2] = MulDiv255(c, k);
            }
            break;
    }
}

}  // namespace

// The decoding proper. Only plain data lives in this frame, so the error exit's jump
// back here skips no destructor; the pixel buffer belongs to the caller.
bool DecodeJpeg(std::FILE* f, int64_t fileSize, std::vector<uint8_t>* pixels, unsigned* pWidth,
                unsigned* pHeight) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_progress_mgr progress;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegErrorExit;
    err.mgr.output_message = JpegOutputMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    progress.progress_monitor = JpegProgress;
    cinfo.progress = &progress;
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);

    const int components = cinfo.num_components;
    bool usable = false;
    if (components == 1 || components == 3) {
        usable = true;
    } else if (components == 4 &&
               (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK)) {
        cinfo.out_color_space = JCS_CMYK;
        usable = true;
    }
    if (!usable || !PicturePixelsAllowed(cinfo.image_width, cinfo.image_height, fileSize)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }

    jpeg_start_decompress(&cinfo);
    const unsigned width = cinfo.output_width;
    const unsigned height = cinfo.output_height;
    const int outComponents = cinfo.output_components;
    if ((outComponents != 1 && outComponents != 3 && outComponents != 4) ||
        !PicturePixelsAllowed(width, height, fileSize)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    const size_t stride = DibRowStride(int(width), 24);
    bool allocated = true;
    try {
        pixels->assign(stride * height, 0);
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (!allocated) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    JSAMPARRAY line = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                 JPOOL_IMAGE, width * outComponents, 1);
    const bool invertedCmyk = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < height) {
        const unsigned row = cinfo.output_scanline;
        if (jpeg_read_scanlines(&cinfo, line, 1) != 1) break;
        // Stored bottom row first.
        StoreJpegRow(line[0], pixels->data() + size_t(height - 1 - row) * stride, width,
                     outComponents, invertedCmyk);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    *pWidth = width;
    *pHeight = height;
    return true;
}
