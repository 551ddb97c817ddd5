// The CCA packer: writes archives that the reader takes whole, and appends an archive to a
// program file as a self-extracting trailer.
//
// Everything is checked when it is added, so Write only fails on file errors: groups are
// "All", "Color" or "NonC"; file names stay inside the destination directory; at most 512
// members; options whose text would be read back differently are refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ccapack {

struct PackOptions {
    std::string strTitle;     // at most 29 characters
    std::string strPassword;  // at most 29 characters
    bool bNeedColor = false;
    bool bNeedEzCpu = false;
    std::string strOsVersion;    // "major.minor" (major 1-255, minor 0-15); empty for none
    bool bForceOptions = false;  // an OPTIONS member even when nothing above is set

    bool IsEmpty() const {
        return strTitle.empty() && strPassword.empty() && !bNeedColor && !bNeedEzCpu &&
               strOsVersion.empty();
    }
};

// False with a reason when the options can't be written so that the reader reads them back.
bool ValidateOptions(const PackOptions& options, std::string& strError);
// The OPTIONS member's text for valid options.
std::string OptionsText(const PackOptions& options);

class CCcaPacker {
  public:
    // Fails (with a reason) on invalid options; nothing is changed then.
    bool SetOptions(const PackOptions& options, std::string& strError);

    // A member from a file on disk or from bytes. An empty strFileName takes the source's base
    // name. wMethod: 0 stored, 1 zlib chunks, 255 skipped.
    bool AddFile(const std::string& strGroup, const std::string& strSourcePath,
                 const std::string& strFileName, uint16_t wMethod, std::string& strError);
    bool AddData(const std::string& strGroup, const std::string& strFileName,
                 const std::vector<unsigned char>& data, uint16_t wMethod, std::string& strError);

    // The README and LICENSE members (no group), stored with method 1.
    bool SetReadme(const std::string& strSourcePath, std::string& strError);
    bool SetLicense(const std::string& strSourcePath, std::string& strError);

    size_t GetMemberCount() const;

    // Writes the archive: OPTIONS, README and LICENSE first, then the files in the order they
    // were added. A failed write leaves no file behind.
    bool Write(const std::string& strPath, std::string& strError) const;

    struct Member {
        std::string strGroup;  // empty: no group
        std::string strFileName;
        std::string strSourcePath;  // read at Write when not empty
        std::vector<unsigned char> data;
        uint16_t wMethod = 1;
    };

  private:
    bool CheckNewMember(const std::string& strGroup, const std::string& strFileName,
                        uint16_t wMethod, std::string& strError) const;
    bool SetTextMember(Member& member, const std::string& strSourcePath, const char* szName,
                       std::string& strError);

    PackOptions m_options;
    bool m_bHasReadme = false;
    bool m_bHasLicense = false;
    Member m_readme;
    Member m_license;
    std::vector<Member> m_members;
};

// Writes strOutputPath as the program file followed by the archive and the 8-byte trailer
// (u32 offset of the archive, "ZQvt"). The archive must open as a CCA archive.
bool AppendSfxArchive(const std::string& strProgramPath, const std::string& strArchivePath,
                      const std::string& strOutputPath, std::string& strError);

}  // namespace ccapack
