// Start-up step 9: each archive among the files gives its title, is dropped when it carries
// a password, shows its read-me, and is dropped when its licence is declined.
#include <cstdio>

#include "app/installer_app.h"
#include "formats/cca/cca_archive.h"
#include "resources/strings/string_table.h"

namespace {

// ".CCA" anywhere in the upper-cased path, so b.prc in a folder a.cca is tried too.
bool LooksLikeArchive(const std::string& strPath) {
    std::string upper = strPath;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper.find(".CCA") != std::string::npos;
}

}  // namespace

void CInstallerApp::PreprocessArchives() {
    const std::string& strDir = m_services.strTempDir;
    for (size_t i = 0; i < m_files.size();) {
        if (!LooksLikeArchive(m_files[i])) {
            ++i;
            continue;
        }
        CCcaArchive archive;
        // One that does not open stays; the install run meets it again.
        if (!archive.Open(m_files[i])) {
            ++i;
            continue;
        }
        archive.SetDestDir(strDir);
        // ReadOptions deletes the extracted OPTIONS file itself.
        if (archive.ReadOptions(strDir)) {
            m_options.strTitle = archive.GetTitle();  // also when empty
            if (!archive.GetPassword().empty()) {
                archive.Close();
                m_files.erase(m_files.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
        }
        if (archive.HasMember("README")) {
            ShowArchiveText(archive, "README", resources::kIdsReadmeCaption, false);
        }
        if (archive.HasMember("LICENSE") &&
            !ShowArchiveText(archive, "LICENSE", resources::kIdsLicenceCaption, true)) {
            archive.Close();
            m_files.erase(m_files.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        archive.Close();
        ++i;
    }
}

bool CInstallerApp::ShowArchiveText(CCcaArchive& archive, const char* szMember, int nCaptionId,
                                    bool bLicence) {
    const std::string strPath = m_services.strTempDir + szMember;
    // A text left from another archive must not stand in for this one's when the member
    // can't be written (a member "license" matches HasMember but not Extract).
    std::remove(strPath.c_str());
    archive.Extract(szMember);
    const std::string strCaption =
        std::string(resources::LoadString(nCaptionId)) + " - " + m_options.strTitle;
    const int nResult = m_services.showReadme(strPath, strCaption, bLicence);
    std::remove(strPath.c_str());
    return nResult == 1;
}
