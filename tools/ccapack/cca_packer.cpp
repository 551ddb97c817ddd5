#include "tools/ccapack/cca_packer.h"

#include <sys/types.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>

#include "formats/cca/cca_archive.h"
#include "formats/cca/cca_format.h"
#include "platform/path_rules.h"
#include "tools/ccapack/pe_image.h"

using namespace cca;

namespace ccapack {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr uint64_t kMaxU32 = std::numeric_limits<uint32_t>::max();

bool IsDecimal(const std::string& s) {
    return !s.empty() && s.size() <= 3 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A text value that the key search would also find another key in is read back wrongly.
bool HoldsKey(const std::string& strText) {
    for (std::string_view key : {kKeyTitle, kKeyPass, kKeyNeedColor, kKeyNeedCpu, kKeyOsVersion}) {
        if (strText.find(key) != std::string::npos) return true;
    }
    return false;
}

bool CheckTextOption(const std::string& strText, size_t nMax, const char* szWhat,
                     std::string& strError) {
    if (strText.size() > nMax) {
        strError = std::string(szWhat) + " is longer than " + std::to_string(nMax) + " characters";
        return false;
    }
    for (char c : strText) {
        if (c == '\r' || c == '\n' || c == '\0') {
            strError = std::string(szWhat) + " holds a line break or NUL";
            return false;
        }
    }
    if (HoldsKey(strText)) {
        strError = std::string(szWhat) + " holds an option key";
        return false;
    }
    return true;
}

std::string BaseName(const std::string& strPath) {
    return strPath.substr(platform::FileNameStart(strPath));
}

bool EqualsIgnoreCase(const std::string& a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// Writes members one after the other; sizes and CRCs are patched in behind each member.
class CArchiveWriter {
  public:
    explicit CArchiveWriter(std::FILE* f)
        : m_pOut(f),
          m_pIn(new unsigned char[kBufferSize]),
          m_nZipCapacity(compressBound(kBufferSize)),
          m_pZip(new unsigned char[m_nZipCapacity]) {}

    bool WriteHeader() {
        unsigned char header[kHeaderSize] = {};
        std::memcpy(header, kMagic.data(), kMagicSize);
        return Put(header, sizeof header);
    }

    bool PatchEndOffset() {
        const off_t nEnd = ::ftello(m_pOut);
        if (nEnd < 0 || static_cast<uint64_t>(nEnd) > kMaxU32) return Fail("archive too large");
        unsigned char end[4];
        PutU32(end, static_cast<uint32_t>(nEnd));
        return ::fseeko(m_pOut, static_cast<off_t>(kEndOffsetPos), SEEK_SET) == 0 &&
               Put(end, sizeof end) && ::fseeko(m_pOut, nEnd, SEEK_SET) == 0;
    }

    bool WriteMember(const CCcaPacker::Member& member) {
        const off_t nHeaderPos = ::ftello(m_pOut);
        const std::string strName = member.strGroup.empty()
                                        ? member.strFileName
                                        : member.strGroup + kGroupSeparator + member.strFileName;
        unsigned char mh[kMemberHeaderSize] = {};
        if (nHeaderPos < 0 || !Put(mh, sizeof mh) || !Put(strName.c_str(), strName.size() + 1)) {
            return false;
        }
        const off_t nDataPos = ::ftello(m_pOut);

        // The content comes from a file or from memory, in pieces of at most one buffer.
        FilePtr pSource;
        size_t nDataOffset = 0;
        if (!member.strSourcePath.empty()) {
            pSource.reset(std::fopen(member.strSourcePath.c_str(), "rb"));
            if (!pSource) return Fail("cannot read " + member.strSourcePath);
        }
        auto readPiece = [&](unsigned char* p) -> size_t {
            if (pSource) return std::fread(p, 1, kBufferSize, pSource.get());
            const size_t n = std::min(kBufferSize, member.data.size() - nDataOffset);
            if (n > 0) std::memcpy(p, member.data.data() + nDataOffset, n);
            nDataOffset += n;
            return n;
        };

        uLong dwCrc = crc32(0L, Z_NULL, 0);
        for (;;) {
            const size_t nPiece = readPiece(m_pIn.get());
            if (nPiece == 0) break;
            if (member.wMethod == kMethodZlib) {
                if (!PutChunks(m_pIn.get(), nPiece)) return false;
            } else if (!Put(m_pIn.get(), nPiece)) {
                return false;
            }
            dwCrc = crc32(dwCrc, m_pIn.get(), static_cast<uInt>(nPiece));
            if (static_cast<uint64_t>(::ftello(m_pOut)) > kMaxU32) {
                return Fail("archive too large");
            }
        }
        if (pSource && std::ferror(pSource.get())) {
            return Fail("cannot read " + member.strSourcePath);
        }
        const off_t nEnd = ::ftello(m_pOut);
        const uint64_t nStored = static_cast<uint64_t>(nEnd - nDataPos);
        if (nStored > kMaxU32) return Fail("member too large: " + member.strFileName);

        // Skipped members produce no content, so their CRC is that of no data.
        mh[kMemberFlagsPos] = 0;
        PutU16(mh + kMemberMethodPos, member.wMethod);
        PutU32(mh + kMemberSizePos, static_cast<uint32_t>(nStored));
        PutU32(mh + kMemberCrcPos,
               member.wMethod == kMethodSkipped ? 0u : static_cast<uint32_t>(dwCrc));
        return ::fseeko(m_pOut, nHeaderPos, SEEK_SET) == 0 && Put(mh, sizeof mh) &&
               ::fseeko(m_pOut, nEnd, SEEK_SET) == 0;
    }

    const std::string& Error() const { return m_strError; }

  private:
    bool Put(const void* p, size_t n) {
        if (n > 0 && std::fwrite(p, 1, n, m_pOut) != n) return Fail("write error");
        return true;
    }
    bool Fail(const std::string& strWhat) {
        if (m_strError.empty()) m_strError = strWhat;
        return false;
    }

    // One zlib stream per chunk, its compressed length at most one buffer; content that
    // doesn't shrink enough is split until it does.
    bool PutChunks(const unsigned char* p, size_t n) {
        uLongf nZip = m_nZipCapacity;
        if (compress2(m_pZip.get(), &nZip, p, static_cast<uLong>(n), Z_BEST_COMPRESSION) != Z_OK) {
            return Fail("compression failed");
        }
        if (nZip > kBufferSize) {
            const size_t nHalf = n / 2;
            return PutChunks(p, nHalf) && PutChunks(p + nHalf, n - nHalf);
        }
        unsigned char len[kChunkLengthSize];
        PutU32(len, static_cast<uint32_t>(nZip));
        return Put(len, sizeof len) && Put(m_pZip.get(), nZip);
    }

    std::FILE* m_pOut;
    std::unique_ptr<unsigned char[]> m_pIn;
    uLong m_nZipCapacity;
    std::unique_ptr<unsigned char[]> m_pZip;
    std::string m_strError;
};

}  // namespace

bool ValidateOptions(const PackOptions& options, std::string& strError) {
    if (!CheckTextOption(options.strTitle, kMaxTitle, "title", strError)) return false;
    if (!CheckTextOption(options.strPassword, kMaxPassword, "password", strError)) return false;
    if (!options.strOsVersion.empty()) {
        const std::string& v = options.strOsVersion;
        const size_t nDot = v.find('.');
        const std::string strMajor = v.substr(0, nDot);
        const std::string strMinor = nDot == std::string::npos ? "" : v.substr(nDot + 1);
        if (!IsDecimal(strMajor) || !IsDecimal(strMinor) || std::stoi(strMajor) < 1 ||
            std::stoi(strMajor) > 255 || std::stoi(strMinor) > 15) {
            strError = "OS version must be major.minor with major 1-255 and minor 0-15";
            return false;
        }
    }
    return true;
}

std::string OptionsText(const PackOptions& options) {
    std::string strText;
    // Values are read from fixed columns: the title and the password from the 7th character
    // (for "Pass=" that skips the character right after the "=", which the password is only
    // tested for being non-empty for), the flags right after their "=".
    if (!options.strTitle.empty()) strText += std::string(kKeyTitle) + options.strTitle + "\n";
    if (!options.strPassword.empty()) {
        strText += std::string(kKeyPass) + options.strPassword + "\n";
    }
    if (options.bNeedColor) strText += std::string(kKeyNeedColor) + "1\n";
    if (options.bNeedEzCpu) strText += std::string(kKeyNeedCpu) + "1\n";
    if (!options.strOsVersion.empty()) {
        strText += std::string(kKeyOsVersion) + options.strOsVersion + "\n";
    }
    return strText;
}

bool CCcaPacker::SetOptions(const PackOptions& options, std::string& strError) {
    if (!ValidateOptions(options, strError)) return false;
    m_options = options;
    return true;
}

size_t CCcaPacker::GetMemberCount() const {
    return m_members.size() + (m_options.IsEmpty() && !m_options.bForceOptions ? 0 : 1) +
           (m_bHasReadme ? 1 : 0) + (m_bHasLicense ? 1 : 0);
}

bool CCcaPacker::CheckNewMember(const std::string& strGroup, const std::string& strFileName,
                                uint16_t wMethod, std::string& strError) const {
    if (strGroup != kGroupAll && strGroup != kGroupColor && strGroup != kGroupNonColor) {
        strError = "group must be All, Color or NonC: " + strGroup;
        return false;
    }
    if (!CCcaArchive::IsSafeFileName(strFileName)) {
        strError = "file name would leave the destination directory: " + strFileName;
        return false;
    }
    if (strGroup.size() + 1 + strFileName.size() + 1 > kListNameBuffer) {
        strError = "member name longer than " + std::to_string(kListNameBuffer - 1) +
                   " characters: " + strFileName;
        return false;
    }
    if (wMethod != kMethodStored && wMethod != kMethodZlib && wMethod != kMethodSkipped) {
        strError = "storage method must be 0, 1 or 255";
        return false;
    }
    // The reader finds these by file name alone (ignoring case), whatever their group.
    for (std::string_view reserved : {kOptionsMember, kReadmeMember, kLicenseMember}) {
        if (EqualsIgnoreCase(strFileName, reserved)) {
            strError = "file name reserved for the archive's own members: " + strFileName;
            return false;
        }
    }
    // Same-named members are all written to one path; only a Color and a NonC variant never
    // meet on one handheld.
    for (const Member& other : m_members) {
        if (other.strFileName != strFileName) continue;
        const bool bVariants = (other.strGroup == kGroupColor && strGroup == kGroupNonColor) ||
                               (other.strGroup == kGroupNonColor && strGroup == kGroupColor);
        if (!bVariants) {
            strError = "file name already in the archive for the same handhelds: " + strFileName;
            return false;
        }
    }
    if (GetMemberCount() + 1 > kMaxMembers) {
        strError = "more than " + std::to_string(kMaxMembers) + " members";
        return false;
    }
    return true;
}

bool CCcaPacker::AddFile(const std::string& strGroup, const std::string& strSourcePath,
                         const std::string& strFileName, uint16_t wMethod, std::string& strError) {
    const std::string strName = strFileName.empty() ? BaseName(strSourcePath) : strFileName;
    if (!CheckNewMember(strGroup, strName, wMethod, strError)) return false;
    FilePtr pProbe(std::fopen(strSourcePath.c_str(), "rb"));
    if (!pProbe) {
        strError = "cannot read " + strSourcePath;
        return false;
    }
    Member member;
    member.strGroup = strGroup;
    member.strFileName = strName;
    member.strSourcePath = strSourcePath;
    member.wMethod = wMethod;
    m_members.push_back(std::move(member));
    return true;
}

bool CCcaPacker::AddData(const std::string& strGroup, const std::string& strFileName,
                         const std::vector<unsigned char>& data, uint16_t wMethod,
                         std::string& strError) {
    if (!CheckNewMember(strGroup, strFileName, wMethod, strError)) return false;
    Member member;
    member.strGroup = strGroup;
    member.strFileName = strFileName;
    member.data = data;
    member.wMethod = wMethod;
    m_members.push_back(std::move(member));
    return true;
}

bool CCcaPacker::SetTextMember(Member& member, const std::string& strSourcePath, const char* szName,
                               std::string& strError) {
    FilePtr pProbe(std::fopen(strSourcePath.c_str(), "rb"));
    if (!pProbe) {
        strError = "cannot read " + strSourcePath;
        return false;
    }
    member = Member{};
    member.strFileName = szName;
    member.strSourcePath = strSourcePath;
    member.wMethod = kMethodZlib;
    return true;
}

bool CCcaPacker::SetReadme(const std::string& strSourcePath, std::string& strError) {
    if (!m_bHasReadme && GetMemberCount() + 1 > kMaxMembers) {
        strError = "more than " + std::to_string(kMaxMembers) + " members";
        return false;
    }
    if (!SetTextMember(m_readme, strSourcePath, "README", strError)) return false;
    m_bHasReadme = true;
    return true;
}

bool CCcaPacker::SetLicense(const std::string& strSourcePath, std::string& strError) {
    if (!m_bHasLicense && GetMemberCount() + 1 > kMaxMembers) {
        strError = "more than " + std::to_string(kMaxMembers) + " members";
        return false;
    }
    if (!SetTextMember(m_license, strSourcePath, "LICENSE", strError)) return false;
    m_bHasLicense = true;
    return true;
}

bool CCcaPacker::Write(const std::string& strPath, std::string& strError) const {
    // Writing over one of the sources would destroy it before it is read.
    for (const Member* pMember : {&m_readme, &m_license}) {
        std::error_code ec;
        if (!pMember->strSourcePath.empty() &&
            std::filesystem::equivalent(pMember->strSourcePath, strPath, ec)) {
            strError = "the archive would overwrite its own source: " + strPath;
            return false;
        }
    }
    for (const Member& member : m_members) {
        std::error_code ec;
        if (!member.strSourcePath.empty() &&
            std::filesystem::equivalent(member.strSourcePath, strPath, ec)) {
            strError = "the archive would overwrite its own source: " + strPath;
            return false;
        }
    }
    FilePtr pOut(std::fopen(strPath.c_str(), "wb"));
    if (!pOut) {
        strError = "cannot create " + strPath;
        return false;
    }
    CArchiveWriter writer(pOut.get());
    bool bOk = writer.WriteHeader();
    if (bOk && !(m_options.IsEmpty() && !m_options.bForceOptions)) {
        Member options;
        options.strFileName = std::string(kOptionsMember);
        const std::string strText = OptionsText(m_options);
        options.data.assign(strText.begin(), strText.end());
        options.wMethod = kMethodStored;
        bOk = writer.WriteMember(options);
    }
    if (bOk && m_bHasReadme) bOk = writer.WriteMember(m_readme);
    if (bOk && m_bHasLicense) bOk = writer.WriteMember(m_license);
    for (const Member& member : m_members) {
        if (bOk) bOk = writer.WriteMember(member);
    }
    if (bOk) bOk = writer.PatchEndOffset();
    if (std::fclose(pOut.release()) != 0 && bOk) bOk = false;
    if (!bOk) {
        strError = writer.Error().empty() ? "write error: " + strPath : writer.Error();
        std::remove(strPath.c_str());
    }
    return bOk;
}

namespace {

bool EndsWithExe(const std::string& strPath) {
    if (strPath.size() < 4) return false;
    std::string strEnd = strPath.substr(strPath.size() - 4);
    std::transform(strEnd.begin(), strEnd.end(), strEnd.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return strEnd == ".exe";
}

// A program the output can start: a Windows program is checked whole, since what its loader
// and scanners read must stay as it was; anything else (an ELF program) is taken as it is.
bool CheckProgram(std::FILE* pProgram, const std::string& strProgramPath,
                  const std::string& strOutputPath, PeLayout& pe, bool& bPe,
                  std::string& strError) {
    if (::fseeko(pProgram, 0, SEEK_END) != 0) {
        strError = "cannot read " + strProgramPath;
        return false;
    }
    const off_t nSize = ::ftello(pProgram);
    unsigned char trailer[kTrailerSize];
    if (nSize >= static_cast<off_t>(kTrailerSize) &&
        ::fseeko(pProgram, nSize - static_cast<off_t>(kTrailerSize), SEEK_SET) == 0 &&
        std::fread(trailer, 1, sizeof trailer, pProgram) == sizeof trailer &&
        std::memcmp(trailer + 4, kTrailerMarker.data(), kTrailerMarker.size()) == 0) {
        strError = strProgramPath + " already carries an archive";
        return false;
    }
    bPe = LooksLikePe(pProgram) || EndsWithExe(strOutputPath);
    if (bPe) {
        std::string strWhy;
        if (!ReadPeLayout(pProgram, static_cast<uint64_t>(nSize), pe, strWhy)) {
            strError = strProgramPath + ": " + strWhy;
            return false;
        }
        // Signing tools put the certificate table last and hash everything before it: an
        // archive behind it breaks the signature, and one signed after would lose the trailer.
        if (pe.dwCertificateSize != 0) {
            strError = strProgramPath +
                       " is signed: an archive appended to it would break its signature; use the "
                       "unsigned program";
            return false;
        }
    }
    std::rewind(pProgram);
    return true;
}

// Windows keeps a program's checksum over the whole file; one that had a checksum gets the
// checksum of what it has become.
bool UpdatePeChecksum(const std::string& strPath, uint64_t nChecksumOffset) {
    FilePtr pFile(std::fopen(strPath.c_str(), "r+b"));
    uint32_t dwChecksum = 0;
    if (!pFile || !ComputePeChecksum(pFile.get(), nChecksumOffset, dwChecksum)) return false;
    unsigned char field[4];
    PutU32(field, dwChecksum);
    return ::fseeko(pFile.get(), static_cast<off_t>(nChecksumOffset), SEEK_SET) == 0 &&
           std::fwrite(field, 1, sizeof field, pFile.get()) == sizeof field &&
           std::fclose(pFile.release()) == 0;
}

}  // namespace

bool AppendSfxArchive(const std::string& strProgramPath, const std::string& strArchivePath,
                      const std::string& strOutputPath, std::string& strError) {
    {
        CCcaArchive archive;
        if (!archive.Open(strArchivePath)) {
            strError = "not a CCA archive: " + strArchivePath;
            return false;
        }
    }
    FilePtr pProgram(std::fopen(strProgramPath.c_str(), "rb"));
    FilePtr pArchive(std::fopen(strArchivePath.c_str(), "rb"));
    if (!pProgram || !pArchive) {
        strError = "cannot read " + std::string(pProgram ? strArchivePath : strProgramPath);
        return false;
    }
    PeLayout pe;
    bool bPe = false;
    if (!CheckProgram(pProgram.get(), strProgramPath, strOutputPath, pe, bPe, strError)) {
        return false;
    }
    FilePtr pOut(std::fopen(strOutputPath.c_str(), "wb"));
    if (!pOut) {
        strError = "cannot create " + strOutputPath;
        return false;
    }
    std::unique_ptr<unsigned char[]> pBuffer(new unsigned char[kBufferSize]);
    auto copy = [&](std::FILE* pIn) {
        size_t n = 0;
        while ((n = std::fread(pBuffer.get(), 1, kBufferSize, pIn)) > 0) {
            if (std::fwrite(pBuffer.get(), 1, n, pOut.get()) != n) return false;
        }
        return !std::ferror(pIn);
    };
    // A Windows program's own data stays as it was; the archive and the trailer follow it as
    // the file's overlay, which the loader never maps.
    bool bOk = copy(pProgram.get());
    const off_t nOffset = ::ftello(pOut.get());
    if (bOk && (nOffset < 0 || static_cast<uint64_t>(nOffset) > kMaxU32)) {
        strError = "program file too large for the trailer";
        bOk = false;
    }
    bOk = bOk && copy(pArchive.get());
    unsigned char trailer[kTrailerSize];
    PutU32(trailer, static_cast<uint32_t>(nOffset));
    std::memcpy(trailer + 4, kTrailerMarker.data(), kTrailerMarker.size());
    bOk = bOk && std::fwrite(trailer, 1, sizeof trailer, pOut.get()) == sizeof trailer;
    if (std::fclose(pOut.release()) != 0) bOk = false;
    if (bOk && bPe && pe.dwChecksum != 0) bOk = UpdatePeChecksum(strOutputPath, pe.nChecksumOffset);
    if (!bOk) {
        if (strError.empty()) strError = "write error: " + strOutputPath;
        std::remove(strOutputPath.c_str());
    }
    return bOk;
}

}  // namespace ccapack
