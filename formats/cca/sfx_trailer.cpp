#include "formats/cca/sfx_trailer.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "formats/cca/cca_format.h"
#include "platform/files.h"

namespace cca {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool ReadTrailer(std::FILE* f, uint64_t& nOffset, uint64_t& nSize) {
    if (::fseeko(f, 0, SEEK_END) != 0) return false;
    const off_t nFileSize = ::ftello(f);
    if (nFileSize < static_cast<off_t>(kTrailerSize)) return false;
    const uint64_t nTrailerPos = static_cast<uint64_t>(nFileSize) - kTrailerSize;
    unsigned char trailer[kTrailerSize];
    if (::fseeko(f, static_cast<off_t>(nTrailerPos), SEEK_SET) != 0 ||
        std::fread(trailer, 1, sizeof trailer, f) != sizeof trailer) {
        return false;
    }
    if (std::memcmp(trailer + 4, kTrailerMarker.data(), kTrailerMarker.size()) != 0) return false;
    const uint64_t nStart = GetU32(trailer);
    // An offset past the trailer points at nothing the file carries.
    if (nStart > nTrailerPos) return false;
    nOffset = nStart;
    nSize = nTrailerPos - nStart;
    return true;
}

}  // namespace

bool FindSfxArchive(const std::string& strProgramPath, uint64_t& nOffset, uint64_t& nSize) {
    FilePtr pIn(platform::OpenFile(strProgramPath, "rb"));
    return pIn && ReadTrailer(pIn.get(), nOffset, nSize);
}

bool ExtractSfxArchive(const std::string& strProgramPath, const std::string& strArchivePath) {
    std::unique_ptr<unsigned char[]> pBuffer(new (std::nothrow) unsigned char[kBufferSize]);
    FilePtr pIn(platform::OpenFile(strProgramPath, "rb"));
    if (!pBuffer || !pIn) return false;
    uint64_t nOffset = 0;
    uint64_t nRemaining = 0;
    if (!ReadTrailer(pIn.get(), nOffset, nRemaining)) return false;
    if (::fseeko(pIn.get(), static_cast<off_t>(nOffset), SEEK_SET) != 0) return false;

    // The copy usually goes to a shared temporary directory: a link planted in its place is
    // not followed.
    FilePtr pOut(platform::CreateOrTruncate(strArchivePath));
    if (!pOut) return false;
    bool bOk = true;
    while (bOk && nRemaining > 0) {
        const size_t nWant = static_cast<size_t>(std::min<uint64_t>(nRemaining, kBufferSize));
        bOk = std::fread(pBuffer.get(), 1, nWant, pIn.get()) == nWant &&
              std::fwrite(pBuffer.get(), 1, nWant, pOut.get()) == nWant;
        nRemaining -= nWant;
    }
    if (std::fclose(pOut.release()) != 0) bOk = false;
    if (!bOk) platform::RemoveFile(strArchivePath);
    return bOk;
}

}  // namespace cca
