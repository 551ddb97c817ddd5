// Reader of CCA archives: listing, install options, member extraction, and the checks of an
// archive's requirements against the connected handheld.
//
// Calling order: SetDestDir, Open, ReadOptions, HasMember / Extract as needed, Close.
// Results are bools; GetError() records the cause of the last failure (cca::kErr...).
// Extraction passes member data through two fixed 65,536-byte buffers, so memory does not
// grow with the archive; the member table holds at most 512 names.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "formats/cca/cca_format.h"

// One slot of the member table: a member's name split at its first backslash.
struct CCcaMember {
    bool m_bHasGroup = false;
    std::string m_strGroup;     // text before the first backslash; empty without a group
    std::string m_strFileName;  // text after it (or the whole name), the extracted file's name
};

class CCcaArchive {
  public:
    CCcaArchive();
    ~CCcaArchive();
    CCcaArchive(const CCcaArchive&) = delete;
    CCcaArchive& operator=(const CCcaArchive&) = delete;

    // Destination of extracted files. The path of a file is this text followed directly by the
    // member's file name, so it ends with a separator. At most 512 characters are kept.
    void SetDestDir(const std::string& strDir);
    const std::string& GetDestDir() const { return m_strDestDir; }

    // Opens the archive, checks its magic and lists its members (first 512) into the table.
    // 102 when the file can't be opened, 104 on a wrong magic (both false); 107 when the member
    // list is damaged: a flags byte with low bits set ends the listing (still true), a name that
    // can't be read empties the table (false).
    bool Open(const std::string& strPath);

    // True when a listed member's file name equals strName, ignoring case.
    bool HasMember(const std::string& strName) const;

    // Extracts "OPTIONS" into strDir (which becomes the destination directory), reads the key
    // table, deletes the extracted file. False when there is no such member or it can't be
    // extracted; the options then keep their defaults.
    bool ReadOptions(const std::string& strDir);

    // Walks every member of the archive, inflating and checking each, and writes every member
    // whose file name equals strName (exact case) into the destination directory. Several
    // members of that name (in different groups) are written one after the other to the same
    // path, each replacing what was there (a link in its place is replaced, not written through).
    // A file name that would leave the destination (see IsSafeFileName) is refused: 105.
    // False also on a chunk that does not inflate (no code), on damaged member data or an
    // unknown storage method (107), and when an output can't be created or written (105).
    bool Extract(const std::string& strName);

    // Like Extract, but writes only the member with this group and file name, so the Color and
    // NonC variants of one file don't overwrite each other.
    bool ExtractMember(const CCcaMember& member);

    // Closes the file and empties the member table. Options and the last error stay.
    void Close();
    bool IsOpen() const { return m_pFile != nullptr; }

    int GetError() const { return m_nError; }
    const std::string& GetTitle() const { return m_strTitle; }
    const std::string& GetPassword() const { return m_strPassword; }
    bool GetNeedColor() const { return m_bNeedColor; }
    bool GetNeedEzCpu() const { return m_bNeedEzCpu; }
    uint32_t GetOsVersion() const { return m_dwOsVersion; }

    // The member table in archive order (at most 512 slots).
    size_t GetMemberCount() const { return m_members.size(); }
    const CCcaMember& GetMember(size_t nIndex) const { return m_members[nIndex]; }
    const std::vector<CCcaMember>& GetMembers() const { return m_members; }

    // Members that suit a handheld, in slot order: group "All" always, "Color" only with a
    // colour display, "NonC" only without; no group or any other group never (exact case).
    static bool IsSelected(const CCcaMember& member, bool bColor);
    std::vector<CCcaMember> SelectMembers(bool bColor) const;

    // Requirement checks after a successful ReadOptions, in order: colour display (51),
    // DragonballEZ processor (52), OS version (53); a later failure replaces an earlier one.
    // Returns 0 when all pass (the caller leaves its run error alone), else the last failing
    // code. strMessage should hold the archive's path on entry; for 53 it is replaced by the
    // required version as "%d.%d", otherwise left unchanged.
    int CheckRequirements(bool bColor, bool bEzCpu, uint32_t dwRomVersion,
                          std::string& strMessage) const;

    // "major.minor" -> major << 24 | (minor & 15) << 20; leading decimal digits of each number
    // (none give 0); no dot gives 0 (no requirement).
    static uint32_t EncodeOsVersion(const std::string& strText);
    // The encoded version as "%d.%d" (major = bits 31-24, minor = bits 23-20).
    static std::string FormatOsVersion(uint32_t dwVersion);

    // Whether the file begins with the archive magic and its NUL.
    static bool HasArchiveMagic(const std::string& strPath);

    // A file name that stays inside the destination: not empty, not "." or "..", and without
    // "/" or "\" (so neither absolute nor with parent or sub-directory parts); on Windows also
    // without a drive (":"), without characters Windows refuses, and not a device name such
    // as "CON" or "COM1".
    static bool IsSafeFileName(const std::string& strName);

  private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

    bool ReadHeader(unsigned char* pHeader);
    bool ExtractWalk(const std::string& strName, const CCcaMember* pOnly);
    void ApplyOptionsLine(const char* szLine, size_t nLength);

    FilePtr m_pFile;
    std::string m_strDestDir;
    unsigned char m_header[cca::kHeaderSize] = {};
    std::vector<CCcaMember> m_members;
    int m_nError = 0;
    int m_nWritten = 0;  // files written by extraction, so ReadOptions knows its own

    std::string m_strTitle;
    std::string m_strPassword;
    bool m_bNeedColor = false;
    bool m_bNeedEzCpu = false;
    uint32_t m_dwOsVersion = 0;
};
