#include "shell/backup_history.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>

#include "engine/backup_copy.h"
#include "engine/user_library.h"
#include "pdb/palm_db_file.h"
#include "pdb/palm_text.h"
#include "platform/files.h"
#include "platform/path_rules.h"

namespace {

namespace fs = std::filesystem;

// Reads a file in pieces as a C library would read a text file with a line buffer of
// kLogPieceLength + 1: a piece ends after a line feed or at kLogPieceLength characters.
// A CR before an LF counts as part of the line end, as in a text read on the system that
// writes CR LF.
class CPieceReader {
  public:
    explicit CPieceReader(std::FILE* file) : m_pFile(file) {}

    bool Next(std::string& piece) {
        piece.clear();
        while (piece.size() < kLogPieceLength) {
            int c = Get();
            if (c < 0) break;
            if (c == '\r') {
                const int next = Peek();
                if (next == '\n') c = Get();
            }
            piece += static_cast<char>(c);
            if (c == '\n') break;
        }
        return !piece.empty();
    }

  private:
    int Peek() {
        if (m_nPos == m_nLen && !Fill()) return -1;
        return static_cast<unsigned char>(m_buffer[m_nPos]);
    }
    int Get() {
        const int c = Peek();
        if (c >= 0) ++m_nPos;
        return c;
    }
    bool Fill() {
        m_nPos = 0;
        m_nLen = std::fread(m_buffer, 1, sizeof m_buffer, m_pFile);
        return m_nLen > 0;
    }

    std::FILE* m_pFile;
    char m_buffer[65536];
    size_t m_nPos = 0, m_nLen = 0;
};

bool IsPlainFileName(const std::string& name) {
    return name.find('\0') == std::string::npos && platform::IsSafePathComponent(name) &&
           name.find('/') == std::string::npos;
}

}  // namespace

std::vector<HistoryRow> LoadHistoryLog(const std::string& userDir) {
    std::vector<HistoryRow> rows;
    // The log is never read through a link, as it is never written through one, and a FIFO
    // put in its place does not block.
    const platform::FilePtr log(platform::OpenPlainFile(userDir + kLogFileName, true));
    if (!log) return rows;
    auto reader = std::make_unique<CPieceReader>(log.get());
    std::string piece;
    while (reader->Next(piece)) {
        piece.resize(std::min(piece.size(), piece.find('\0')));
        if (!piece.empty() && piece.find_first_not_of(' ') == std::string::npos) break;
        std::vector<std::string> fields;
        size_t start = 0;
        while (start < piece.size() && fields.size() < 3) {
            const size_t end = std::min(piece.find_first_of(",\r\n", start), piece.size());
            if (end > start) fields.push_back(piece.substr(start, end - start));
            start = end + 1;
        }
        if (fields.empty()) continue;
        HistoryRow row;
        row.name = fields[0];
        if (fields.size() > 1) row.version = fields[1];
        if (fields.size() > 2) row.date = fields[2];
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string BackupVersionText(const std::string& path) {
    // Only a plain file of its own is opened: not a link, not a FIFO or a device.
    if (platform::StatEntry(path).kind != platform::EntryKind::kFile) return {};
    auto file = pdb::CPalmDbFile::Open(path);
    if (!file || !file->Info().IsResourceDb()) return {};
    const uint32_t tver = pdb::MakeFourCC("tver");
    for (int i = 0; i < file->EntryCount(); ++i) {
        pdb::Resource res;
        // The type comes with a prefix read of no more than the text can use.
        if (file->ReadResourcePrefix(i, kBackupVersionLength, res) != pdb::kOk) continue;
        if (res.type != tver) continue;
        std::string text(res.data.begin(), res.data.end());
        text.resize(std::min(text.size(), text.find('\0')));
        return pdb::PalmTextToUtf8(text);
    }
    return {};
}

void ScanBackups(const std::string& userDir, std::vector<HistoryRow>& rows, bool allFiles) {
    // The newest row of each name; rows appended below are names of their own.
    std::unordered_map<std::string, size_t> newest;
    for (size_t i = 0; i < rows.size(); ++i) newest[rows[i].name] = i;

    const std::string dir = userDir + kBackupFolder;
    std::error_code ec;
    fs::directory_iterator it(platform::ToFsPath(dir), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        const std::string name = platform::FromFsPath(it->path().filename());
        // Names with a leading dot are the program's own: the handheld's record, a copy
        // being written.
        if (name.empty() || name[0] == '.') continue;
        const auto hit = newest.find(name);
        if (hit != newest.end()) {
            rows[hit->second].exists = true;
        } else if (allFiles) {
            HistoryRow row;
            row.name = name;
            row.version = BackupVersionText(dir + name);
            row.exists = true;
            newest[name] = rows.size();
            rows.push_back(std::move(row));
        }
    }
}

bool DeleteBackup(const std::string& userDir, const std::string& name) {
    if (!IsPlainFileName(name)) return false;
    return platform::RemoveFile(userDir + kBackupFolder + name);
}

std::vector<HistoryUser> HistoryUsers(IUserLibrary* library, const std::string& userDir,
                                      int& selected) {
    selected = -1;
    std::vector<HistoryUser> users;
    if (!library) return users;
    const int count = library->UmGetUserCount();
    for (int index = 0; index < count; ++index) {
        HistoryUser user;
        std::string name;
        if (library->UmGetUserID(index, user.id) != 0) continue;
        if (library->UmGetUserName(user.id, name) != 0 || name.empty()) continue;
        user.name = pdb::PalmTextToUtf8(name.substr(0, IUserLibrary::kBufferSize - 1));
        if (selected < 0 && UserDirectoryOf(*library, user.id) == userDir) {
            selected = static_cast<int>(users.size());
        }
        users.push_back(std::move(user));
    }
    return users;
}
