#include "formats/cca/cca_archive.h"

#include <sys/types.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "platform/files.h"
#include "platform/path_rules.h"

using namespace cca;

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using OutFilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Splits "group\file" at the first backslash; a name without one has no group.
CCcaMember SplitName(std::string_view name) {
    CCcaMember member;
    const size_t nSep = name.find(kGroupSeparator);
    if (nSep == std::string_view::npos) {
        member.m_strFileName = std::string(name);
    } else {
        member.m_bHasGroup = true;
        member.m_strGroup = std::string(name.substr(0, nSep));
        member.m_strFileName = std::string(name.substr(nSep + 1));
    }
    return member;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb) return false;
    }
    return true;
}

// Leading decimal digits as an unsigned number (wrapping, never undefined); none give 0.
uint32_t LeadingNumber(std::string_view text) {
    uint32_t dwValue = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        dwValue = dwValue * 10u + static_cast<uint32_t>(c - '0');
    }
    return dwValue;
}

// Creates the output for binary writing, replacing any file of that name. The old name is
// removed first and the new file created exclusively, so a symbolic or hard link planted in
// its place is replaced, never written through.
OutFilePtr CreateOutput(const std::string& strPath) {
    platform::RemoveFile(strPath);
    return OutFilePtr(platform::CreateNewFile(strPath));
}

// Puts the file position back where the caller had it, on every path out of a walk.
class PositionKeeper {
  public:
    explicit PositionKeeper(std::FILE* f) : m_pFile(f), m_nPos(::ftello(f)) {}
    ~PositionKeeper() {
        if (m_nPos >= 0) ::fseeko(m_pFile, m_nPos, SEEK_SET);
    }
    PositionKeeper(const PositionKeeper&) = delete;
    PositionKeeper& operator=(const PositionKeeper&) = delete;

  private:
    std::FILE* m_pFile;
    off_t m_nPos;
};

bool MagicMatches(const unsigned char* pHeader) {
    return std::memcmp(pHeader, kMagic.data(), kMagicSize) == 0 && pHeader[kMagicSize] == 0;
}

}  // namespace

bool CCcaArchive::HasArchiveMagic(const std::string& strPath) {
    FilePtr file(platform::OpenFile(strPath, "rb"));
    unsigned char magic[kMagicCompareSize] = {};
    return file && std::fread(magic, 1, sizeof magic, file.get()) == sizeof magic &&
           MagicMatches(magic);
}

CCcaArchive::CCcaArchive() = default;
CCcaArchive::~CCcaArchive() = default;

void CCcaArchive::SetDestDir(const std::string& strDir) {
    m_strDestDir = strDir.substr(0, kMaxDestDir);
}

// A short file leaves the rest of the header zero.
bool CCcaArchive::ReadHeader(unsigned char* pHeader) {
    std::memset(pHeader, 0, kHeaderSize);
    // Drop buffered input, so that the header and the walk that follows are read afresh.
    std::fflush(m_pFile.get());
    if (::fseeko(m_pFile.get(), 0, SEEK_SET) != 0) return false;
    std::fread(pHeader, 1, kHeaderSize, m_pFile.get());
    return MagicMatches(pHeader);
}

bool CCcaArchive::Open(const std::string& strPath) {
    // 1. Close what was open; open for binary reading.
    Close();
    m_pFile.reset(platform::OpenFile(strPath, "rb"));
    if (!m_pFile) {
        m_nError = kErrOpenArchive;
        return false;
    }
    // 2. Header and magic with its NUL.
    if (!ReadHeader(m_header)) {
        m_pFile.reset();
        m_nError = kErrMagic;
        return false;
    }
    // 3. The member list up to the end offset.
    std::FILE* f = m_pFile.get();
    const off_t nEnd = static_cast<off_t>(GetU32(m_header + kEndOffsetPos));
    m_members.clear();
    bool bListing = ::fseeko(f, static_cast<off_t>(kHeaderSize), SEEK_SET) == 0;
    while (bListing) {
        if (::ftello(f) == nEnd) break;
        unsigned char mh[kMemberHeaderSize];
        if (std::fread(mh, 1, sizeof mh, f) != sizeof mh) break;
        if (mh[kMemberFlagsPos] & kFlagsEndMask) {
            m_nError = kErrDamaged;
            break;
        }
        char szName[kListNameBuffer];
        size_t nLen = 0;
        for (;;) {
            const int c = std::fgetc(f);
            if (c == EOF || (nLen == sizeof szName - 1 && c != 0)) {
                // A name cut by the end of the file, or without a NUL in its buffer.
                m_nError = kErrDamaged;
                m_members.clear();
                return false;
            }
            szName[nLen] = static_cast<char>(c);
            if (c == 0) break;
            ++nLen;
        }
        if (m_members.size() < kMaxMembers) {
            m_members.push_back(SplitName(std::string_view(szName, nLen)));
        }
        bListing = ::fseeko(f, static_cast<off_t>(GetU32(mh + kMemberSizePos)), SEEK_CUR) == 0;
    }
    // 4. Back to the start.
    ::fseeko(f, 0, SEEK_SET);
    return true;
}

bool CCcaArchive::HasMember(const std::string& strName) const {
    return std::any_of(m_members.begin(), m_members.end(), [&](const CCcaMember& m) {
        return EqualsIgnoreCase(m.m_strFileName, strName);
    });
}

bool CCcaArchive::Extract(const std::string& strName) {
    return ExtractWalk(strName, nullptr);
}

bool CCcaArchive::ExtractMember(const CCcaMember& member) {
    return ExtractWalk(member.m_strFileName, &member);
}

bool CCcaArchive::ExtractWalk(const std::string& strName, const CCcaMember* pOnly) {
    if (!m_pFile) {
        m_nError = kErrOpenArchive;
        return false;
    }
    std::unique_ptr<unsigned char[]> pIn(new (std::nothrow) unsigned char[kBufferSize]);
    std::unique_ptr<unsigned char[]> pOut(new (std::nothrow) unsigned char[kBufferSize]);
    if (!pIn || !pOut) {
        m_nError = kErrNoBuffers;
        return false;
    }
    m_nError = 0;
    if (!IsSafeFileName(strName)) {
        // It would be written outside the destination directory.
        m_nError = kErrCreateOutput;
        return false;
    }
    std::FILE* f = m_pFile.get();
    PositionKeeper keeper(f);

    unsigned char header[kHeaderSize];
    if (!ReadHeader(header)) {
        m_nError = kErrMagic;
        return false;
    }
    const off_t nEnd = static_cast<off_t>(GetU32(header + kEndOffsetPos));
    if (::fseeko(f, static_cast<off_t>(kHeaderSize), SEEK_SET) != 0) return true;

    for (;;) {
        // 1. End offset, no whole member header, or a flags byte that ends the list.
        if (::ftello(f) == nEnd) break;
        unsigned char mh[kMemberHeaderSize];
        if (std::fread(mh, 1, sizeof mh, f) != sizeof mh) break;
        if (mh[kMemberFlagsPos] & kFlagsEndMask) break;
        const uint16_t wMethod = GetU16(mh + kMemberMethodPos);
        uint32_t dwRemaining = GetU32(mh + kMemberSizePos);
        const uint32_t dwCrcField = GetU32(mh + kMemberCrcPos);

        // 2. The name, into the input buffer.
        size_t nLen = 0;
        for (;;) {
            const int c = std::fgetc(f);
            if (c == EOF || (nLen == kBufferSize - 1 && c != 0)) {
                m_nError = kErrNameRead;
                return false;
            }
            pIn[nLen] = static_cast<unsigned char>(c);
            if (c == 0) break;
            ++nLen;
        }
        const CCcaMember member =
            SplitName(std::string_view(reinterpret_cast<const char*>(pIn.get()), nLen));

        // 3. The wanted member gets an output file.
        bool bWanted = member.m_strFileName == strName;
        if (bWanted && pOnly) {
            bWanted =
                member.m_bHasGroup == pOnly->m_bHasGroup && member.m_strGroup == pOnly->m_strGroup;
        }
        OutFilePtr pOutput;
        if (bWanted) {
            pOutput = CreateOutput(m_strDestDir + member.m_strFileName);
            if (!pOutput) {
                m_nError = kErrCreateOutput;
                return false;
            }
        }
        bool bWriteFailed = false;
        auto write = [&](const unsigned char* p, size_t n) {
            if (pOutput && n > 0 && std::fwrite(p, 1, n, pOutput.get()) != n) bWriteFailed = true;
        };

        // 4. The member data, with a running CRC-32.
        uLong dwCrc = ::crc32(0L, Z_NULL, 0);
        switch (wMethod) {
            case kMethodStored:
                while (dwRemaining > 0) {
                    const size_t nWant = std::min<size_t>(dwRemaining, kBufferSize);
                    const size_t nGot = std::fread(pIn.get(), 1, nWant, f);
                    dwCrc = ::crc32(dwCrc, pIn.get(), static_cast<uInt>(nGot));
                    write(pIn.get(), nGot);
                    dwRemaining -= static_cast<uint32_t>(nGot);
                    // A member cut by the end of the file keeps what was there; its CRC tells.
                    if (nGot < nWant) break;
                }
                break;
            case kMethodZlib:
                while (dwRemaining > 0) {
                    unsigned char len[kChunkLengthSize];
                    if (dwRemaining < kChunkLengthSize ||
                        std::fread(len, 1, sizeof len, f) != sizeof len) {
                        m_nError = kErrDamaged;
                        return false;
                    }
                    const uint32_t dwChunk = GetU32(len);
                    if (dwChunk > kBufferSize || dwChunk > dwRemaining - kChunkLengthSize ||
                        std::fread(pIn.get(), 1, dwChunk, f) != dwChunk) {
                        m_nError = kErrDamaged;
                        return false;
                    }
                    uLongf nInflated = kBufferSize;
                    if (::uncompress(pOut.get(), &nInflated, pIn.get(), dwChunk) != Z_OK) {
                        // What was written so far stays on disk; no error code.
                        return false;
                    }
                    write(pOut.get(), nInflated);
                    dwCrc = ::crc32(dwCrc, pOut.get(), static_cast<uInt>(nInflated));
                    dwRemaining -= dwChunk + static_cast<uint32_t>(kChunkLengthSize);
                }
                break;
            case kMethodSkipped:
                // Passed over in one seek: the same as buffer-sized steps, without the calls.
                if (::fseeko(f, static_cast<off_t>(dwRemaining), SEEK_CUR) == 0) dwRemaining = 0;
                break;
            default:
                // No defined handling: the archive is damaged.
                m_nError = kErrDamaged;
                return false;
        }

        // 5. CRC check: a mismatch is recorded and the written file stays.
        if (static_cast<uint32_t>(dwCrc) != dwCrcField) m_nError = kErrCrc;

        // 6. Close the output; a file that could not be written whole is no extraction.
        if (pOutput) {
            if (std::fclose(pOutput.release()) != 0) bWriteFailed = true;
            if (bWriteFailed) {
                m_nError = kErrCreateOutput;
                return false;
            }
            ++m_nWritten;
        }
    }
    return true;
}

bool CCcaArchive::ReadOptions(const std::string& strDir) {
    // 1. Extract "OPTIONS" into the directory.
    SetDestDir(strDir);
    if (!HasMember(std::string(kOptionsMember))) return false;
    const int nWrittenBefore = m_nWritten;
    if (!Extract(std::string(kOptionsMember))) return false;

    // 2./3. Read it line by line, then delete it. Only a file this call wrote is read or
    // deleted: a member listed as "options" in other case extracts nothing.
    if (m_nWritten != nWrittenBefore) {
        const std::string strPath = m_strDestDir + std::string(kOptionsMember);
        // As bytes: the options read alike on every system, CR LF line ends included.
        if (std::FILE* f = platform::OpenFile(strPath, "rb")) {
            char szLine[kOptionsLineBuffer];
            while (std::fgets(szLine, sizeof szLine, f))
                ApplyOptionsLine(szLine, std::strlen(szLine));
            std::fclose(f);
        }
        platform::RemoveFile(strPath);
    }

    // 4. The title ends at its first line break.
    const size_t nBreak = m_strTitle.find_first_of("\r\n");
    if (nBreak != std::string::npos) m_strTitle.resize(nBreak);
    return true;
}

// Every key is searched anywhere in the line; its value is read at a fixed column from the
// start of the line. A line shorter than the column gives an empty value.
void CCcaArchive::ApplyOptionsLine(const char* szLine, size_t nLength) {
    const std::string_view line(szLine, nLength);
    auto valueAt = [&](size_t nColumn, size_t nMax) -> std::string {
        return nColumn < line.size() ? std::string(line.substr(nColumn, nMax)) : std::string();
    };
    auto charAt = [&](size_t nColumn) { return nColumn < line.size() ? line[nColumn] : '\0'; };

    if (line.find(kKeyTitle) != std::string_view::npos) {
        m_strTitle = valueAt(kTitleColumn, kMaxTitle);
    }
    if (line.find(kKeyPass) != std::string_view::npos) {
        m_strPassword = valueAt(kPassColumn, kMaxPassword);
    }
    if (line.find(kKeyNeedColor) != std::string_view::npos) {
        m_bNeedColor = charAt(kNeedColorColumn) == '1';
    }
    if (line.find(kKeyNeedCpu) != std::string_view::npos) {
        m_bNeedEzCpu = charAt(kNeedCpuColumn) == '1';
    }
    if (line.find(kKeyOsVersion) != std::string_view::npos) {
        m_dwOsVersion = EncodeOsVersion(valueAt(kOsVersionColumn, kOptionsLineBuffer));
    }
}

void CCcaArchive::Close() {
    m_pFile.reset();
    m_members.clear();
    m_members.shrink_to_fit();
}

bool CCcaArchive::IsSelected(const CCcaMember& member, bool bColor) {
    if (!member.m_bHasGroup) return false;
    if (member.m_strGroup == kGroupAll) return true;
    if (member.m_strGroup == kGroupColor) return bColor;
    if (member.m_strGroup == kGroupNonColor) return !bColor;
    return false;
}

std::vector<CCcaMember> CCcaArchive::SelectMembers(bool bColor) const {
    std::vector<CCcaMember> selected;
    for (const CCcaMember& member : m_members) {
        if (IsSelected(member, bColor)) selected.push_back(member);
    }
    return selected;
}

int CCcaArchive::CheckRequirements(bool bColor, bool bEzCpu, uint32_t dwRomVersion,
                                   std::string& strMessage) const {
    int nError = 0;
    if (m_bNeedColor && !bColor) nError = kErrNeedColor;
    if (m_bNeedEzCpu && !bEzCpu) nError = kErrNeedEzCpu;
    if (m_dwOsVersion != 0 && m_dwOsVersion > dwRomVersion) {
        nError = kErrNeedOsVersion;
        strMessage = FormatOsVersion(m_dwOsVersion);
    }
    return nError;
}

uint32_t CCcaArchive::EncodeOsVersion(const std::string& strText) {
    const size_t nDot = strText.find('.');
    if (nDot == std::string::npos) return 0;
    const uint32_t dwMajor = LeadingNumber(strText);
    const uint32_t dwMinor = LeadingNumber(std::string_view(strText).substr(nDot + 1));
    return (dwMajor << 24) | ((dwMinor & 15u) << 20);
}

std::string CCcaArchive::FormatOsVersion(uint32_t dwVersion) {
    return std::to_string(dwVersion >> 24) + "." + std::to_string((dwVersion >> 20) & 15u);
}

bool CCcaArchive::IsSafeFileName(const std::string& strName) {
    return platform::IsSafeFileName(strName);
}
