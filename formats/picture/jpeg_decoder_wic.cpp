// JPEG decoding through the Windows Imaging Component (Windows).
#include <windows.h>

#include <objbase.h>
#include <wincodec.h>

#include <new>
#include <vector>

#include "formats/picture/jpeg_decoder.h"
#include "formats/picture/picture_internal.h"

namespace {

// The file is decoded from memory; a JPEG this large holds no picture the limits allow.
constexpr int64_t kMaxJpegFileSize = int64_t(256) << 20;

// Holds one reference to a COM object.
template <typename T>
class CComRef {
  public:
    CComRef() = default;
    ~CComRef() {
        if (m_p) m_p->Release();
    }
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;
    T** Put() { return &m_p; }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }

  private:
    T* m_p = nullptr;
};

// COM for this thread while a picture is decoded; a thread that has it already keeps it.
class CComUse {
  public:
    CComUse() : m_result(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~CComUse() {
        if (SUCCEEDED(m_result)) ::CoUninitialize();
    }
    CComUse(const CComUse&) = delete;
    CComUse& operator=(const CComUse&) = delete;
    bool Usable() const { return SUCCEEDED(m_result) || m_result == RPC_E_CHANGED_MODE; }

  private:
    HRESULT m_result;
};

// Bytes per pixel of the frame formats taken as they are; 0 for others.
UINT PlainPixelSize(const WICPixelFormatGUID& format) {
    if (format == GUID_WICPixelFormat8bppGray) return 1;
    if (format == GUID_WICPixelFormat24bppBGR || format == GUID_WICPixelFormat24bppRGB) return 3;
    return 0;
}

// One row of the frame's own pixels as blue-green-red.
void StoreRow(const std::vector<BYTE>& row, const WICPixelFormatGUID& format, UINT width,
              BYTE* out) {
    for (UINT x = 0; x < width; ++x, out += 3) {
        if (format == GUID_WICPixelFormat8bppGray) {
            out[0] = out[1] = out[2] = row[x];
        } else if (format == GUID_WICPixelFormat24bppRGB) {
            out[0] = row[3 * x + 2];
            out[1] = row[3 * x + 1];
            out[2] = row[3 * x];
        } else {
            out[0] = row[3 * x];
            out[1] = row[3 * x + 1];
            out[2] = row[3 * x + 2];
        }
    }
}

}  // namespace

bool DecodeJpeg(std::FILE* f, int64_t fileSize, std::vector<uint8_t>* pixels, unsigned* pWidth,
                unsigned* pHeight) {
    if (fileSize <= 0 || fileSize > kMaxJpegFileSize) return false;
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(static_cast<size_t>(fileSize));
    } catch (const std::bad_alloc&) {
        return false;
    }
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    // JPEG only (the component decodes other formats too): the start-of-image marker.
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;

    const CComUse com;
    if (!com.Usable()) return false;
    CComRef<IWICImagingFactory> factory;
    CComRef<IWICStream> stream;
    CComRef<IWICBitmapDecoder> decoder;
    CComRef<IWICBitmapFrameDecode> frame;
    CComRef<IWICFormatConverter> converter;
    GUID container{};
    WICPixelFormatGUID format{};
    UINT width = 0, height = 0;
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(factory.Put()))) ||
        FAILED(factory->CreateStream(stream.Put())) ||
        FAILED(stream->InitializeFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()))) ||
        FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr,
                                                WICDecodeMetadataCacheOnDemand, decoder.Put())) ||
        FAILED(decoder->GetContainerFormat(&container)) || container != GUID_ContainerFormatJpeg ||
        FAILED(decoder->GetFrame(0, frame.Put())) || FAILED(frame->GetSize(&width, &height)) ||
        FAILED(frame->GetPixelFormat(&format)) || !PicturePixelsAllowed(width, height, fileSize)) {
        return false;
    }
    // Grey and colour rows are taken from the frame itself (not every component converts grey);
    // CMYK goes through the component's converter.
    const UINT plainSize = PlainPixelSize(format);
    if (plainSize == 0 && (format != GUID_WICPixelFormat32bppCMYK ||
                           FAILED(factory->CreateFormatConverter(converter.Put())) ||
                           FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR,
                                                        WICBitmapDitherTypeNone, nullptr, 0.0,
                                                        WICBitmapPaletteTypeCustom)))) {
        return false;
    }
    const size_t stride = DibRowStride(int(width), 24);
    try {
        pixels->assign(stride * height, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::vector<BYTE> plainRow(size_t(width) * plainSize);
    // Stored bottom row first.
    for (UINT row = 0; row < height; ++row) {
        const WICRect line = {0, INT(row), INT(width), 1};
        BYTE* out = pixels->data() + size_t(height - 1 - row) * stride;
        const HRESULT copied = plainSize != 0
                                   ? frame->CopyPixels(&line, UINT(plainRow.size()),
                                                       UINT(plainRow.size()), plainRow.data())
                                   : converter->CopyPixels(&line, UINT(stride), UINT(stride), out);
        if (FAILED(copied)) {
            pixels->clear();
            return false;
        }
        if (plainSize != 0) StoreRow(plainRow, format, width, out);
    }
    *pWidth = width;
    *pHeight = height;
    return true;
}
