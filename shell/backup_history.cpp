#include "shell/backup_history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <unordered_map>

#include "engine/backup_copy.h"
#include "engine/user_library.h"
#include "pdb/palm_db_file.h"
#include "pdb/palm_text.h"

namespace {

namespace fs = std::filesystem;

// Reads a file in pieces as a C library would read a text file with a line buffer of
// kLogPieceLength + 1: a piece ends after a line feed or at kLogPieceLength characters.
// A CR before an LF counts as part of the line end, as in a text read on the system that
// writes CR LF.
class CPieceReader {
  public:
    explicit CPieceReader(int fd) : m_fd(fd) {}

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
        const ssize_t n = ::read(m_fd, m_buffer, sizeof m_buffer);
        m_nPos = 0;
        m_nLen = n > 0 ? static_cast<size_t>(n) : 0;
        return m_nLen > 0;
    }

    int m_fd;
    char m_buffer[65536];
    size_t m_nPos = 0, m_nLen = 0;
};

// Opens a regular file for reading without blocking on a FIFO put in its place.
int OpenPlainFile(const std::string& path, int extraFlags) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

std::vector<HistoryRow> LoadHistoryLog(const std::string& userDir) {
    std::vector<HistoryRow> rows;
    // The log is never read through a link, as it is never written through one.
    const int fd = OpenPlainFile(userDir + kLogFileName, O_NOFOLLOW);
    if (fd < 0) return rows;
    auto reader = std::make_unique<CPieceReader>(fd);
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
    ::close(fd);
    return rows;
}

std::string BackupVersionText(const std::string& path) {
    // Only a plain file of its own is opened: not a link, not a FIFO or a device.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
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
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        const std::string name = it->path().filename().string();
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
    return ::unlink((userDir + kBackupFolder + name).c_str()) == 0;
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
