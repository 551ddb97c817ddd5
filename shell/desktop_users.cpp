#include "shell/desktop_users.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <random>
#include <string_view>

#include "pdb/palm_text.h"
#include "platform/files.h"
#include "platform/path_rules.h"
#include "platform/system.h"
#include "shell/atomic_file.h"
#include "shell/settings_store.h"

namespace {

constexpr const char* kUsersFileHeader =
    "# Cradlecourier desktop users: handheld users whose installed files are copied to a\n"
    "# backup folder. One [User] entry per user:\n"
    "#   Name    the handheld's user name, exactly as the handheld has it (letter case counts)\n"
    "#   Id      a number from 0 to 4294967295, different for every user\n"
    "#   Folder  the user's folder inside this folder; it holds Backup/ and CCourier.log\n"
    "# Entries with a bad or repeated name, id or folder are ignored. Folders stay inside\n"
    "# this folder: no \"..\", no absolute paths, no symbolic links.\n";

// Longest folder text: the library hands out the folder with its "/" in 254 characters.
constexpr size_t kMaxFolderLength = IUserLibrary::kBufferSize - 2;
// Longest folder the store makes from a name.
constexpr size_t kMadeFolderLength = 32;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool HasControl(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

bool SameText(std::string_view a, std::string_view b) {
    return settings::SameName(a, b);
}

// The file's lines, each with its line end (the last one may have none).
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, next - start));
        start = next;
    }
    return lines;
}

std::string WithoutLineEnd(std::string line) {
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

bool IsBlank(const std::string& line) {
    return Trim(WithoutLineEnd(line)).empty();
}

bool ParseId(std::string_view text, uint32_t& id) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > 0xFFFFFFFFull) {
        return false;
    }
    id = static_cast<uint32_t>(value);
    return true;
}

// What the path's own entry is: missing, a link, a folder, or something else.
enum class Node { kMissing, kLink, kFolder, kOther };
Node NodeAt(const std::string& path) {
    switch (platform::StatEntry(path).kind) {
        case platform::EntryKind::kMissing:
            return Node::kMissing;
        case platform::EntryKind::kLink:
            return Node::kLink;
        case platform::EntryKind::kDirectory:
            return Node::kFolder;
        default:
            return Node::kOther;
    }
}

bool MakeFolder(const std::string& path) {
    if (platform::MakeDirectory(path, 0700)) return true;
    return errno == EEXIST && NodeAt(path) == Node::kFolder;
}

}  // namespace

bool CDesktopUserStore::FileStamp::operator==(const FileStamp& o) const {
    return exists == o.exists && volume == o.volume && fileId == o.fileId && size == o.size &&
           modifiedNs == o.modifiedNs;
}

CDesktopUserStore::CDesktopUserStore(std::string root)
    : m_strRoot(platform::WithTrailingSeparator(std::move(root))) {
    // The root and a user's folder must each fit the library's texts whole: a cut path
    // would be another folder.
    m_bRootUsable = platform::IsAbsolutePath(m_strRoot) && m_strRoot.size() <= kBufferSize - 1 &&
                    !HasControl(m_strRoot);
}

std::string CDesktopUserStore::DefaultRoot() {
    // Read each time, so that XDG_DATA_HOME set by a caller counts.
    const char sep = platform::PathSeparator();
    return platform::UserDataDirectory() + sep + "Cradlecourier" + sep + "Users" + sep;
}

std::string CDesktopUserStore::RootFromSettings(const ISettingsStore& settings) {
    std::string root = std::string(Trim(settings.ReadText(settings::kMain, kRootEntry, "")));
    if (root.empty()) return DefaultRoot();
    if (root == "~" || (root.size() > 1 && root[0] == '~' && platform::IsPathSeparator(root[1]))) {
        const std::string home = platform::HomeDirectory();
        if (!home.empty()) root = home + root.substr(1);
    }
    return platform::WithTrailingSeparator(root);
}

bool CDesktopUserStore::IsValidName(const std::string& name) {
    std::string palm;
    return !name.empty() && Trim(name).size() == name.size() && !HasControl(name) &&
           pdb::Utf8ToPalmText(name, palm) && palm.size() <= kMaxNameLength;
}

bool CDesktopUserStore::Load() {
    std::lock_guard<std::mutex> guard(m_lock);
    return ReadLocked();
}

CDesktopUserStore::FileStamp CDesktopUserStore::StampLocked() const {
    FileStamp stamp;
    if (!m_bRootUsable) return stamp;
    const platform::EntryInfo info = platform::Stat(UsersFilePath());
    if (info.kind != platform::EntryKind::kMissing) {
        stamp.exists = true;
        stamp.volume = info.volume;
        stamp.fileId = info.fileId;
        stamp.size = info.size;
        stamp.modifiedNs = info.modifiedNs;
    }
    return stamp;
}

bool CDesktopUserStore::SafeFolderLocked(const std::string& folder, std::string& why) const {
    if (folder.empty()) {
        why = "no folder";
        return false;
    }
    if (folder.size() > kMaxFolderLength || HasControl(folder)) {
        why = "folder name too long or with control characters";
        return false;
    }
    if (platform::IsPathSeparator(folder.front()) || platform::IsAbsolutePath(folder)) {
        why = "absolute folder";
        return false;
    }
    // Every component a plain name, and every one that exists a folder, not a link.
    std::string path = m_strRoot;
    size_t start = 0;
    while (start <= folder.size()) {
        size_t end = start;
        while (end < folder.size() && !platform::IsPathSeparator(folder[end])) ++end;
        const std::string part = folder.substr(start, end - start);
        if (!platform::IsSafePathComponent(part)) {
            why = "folder leaves or repeats a folder (\"\", \".\" or \"..\")";
            return false;
        }
        path += part;
        const Node node = NodeAt(path);
        if (node == Node::kLink) {
            why = "folder is a symbolic link";
            return false;
        }
        if (node == Node::kOther) {
            why = "folder is not a folder";
            return false;
        }
        path += platform::PathSeparator();
        start = end + 1;
    }
    const Node backup = NodeAt(path + "Backup");
    if (backup == Node::kLink || backup == Node::kOther) {
        why = "its Backup is a symbolic link or not a folder";
        return false;
    }
    if (NodeAt(path + "CCourier.log") == Node::kLink) {
        why = "its log is a symbolic link";
        return false;
    }
    return true;
}

bool CDesktopUserStore::ReadLocked() {
    m_entries.clear();
    m_repeats.clear();
    m_problems.clear();
    m_strText.clear();
    m_bReadable = false;
    m_stamp = StampLocked();
    if (!m_bRootUsable) return false;

    // Not blocking on a FIFO put in the file's place, and never reading a huge file.
    const platform::FilePtr file(platform::OpenPlainFile(UsersFilePath()));
    if (!file) return false;
    const int64_t size = platform::FileSize(file.get());
    bool ok = size >= 0 && static_cast<uint64_t>(size) <= kMaxFileSize;
    std::string text;
    if (ok) {
        char buffer[8192];
        for (;;) {
            const size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
            if (n == 0) {
                ok = !std::ferror(file.get());
                break;
            }
            text.append(buffer, n);
            if (text.size() > kMaxFileSize) {
                ok = false;
                break;
            }
        }
    }
    if (!ok) return false;
    m_strText = text;
    m_bReadable = true;

    const std::vector<std::string> lines = SplitLines(text);
    struct Block {
        bool open = false;
        bool bad = false;
        std::string why;
        size_t first = 0, end = 0;
        bool hasName = false, hasId = false, hasFolder = false;
        std::string name, idText, folder;
    } block;

    const auto problem = [&](size_t line, const std::string& why) {
        m_problems.push_back("line " + std::to_string(line + 1) + ": " + why);
    };
    const auto finish = [&]() {
        if (!block.open) return;
        Entry e;
        std::string why = block.why;
        bool good = !block.bad;
        if (good && (!block.hasName || !block.hasId || !block.hasFolder)) {
            good = false;
            why = "entry without Name, Id or Folder";
        }
        if (good && !IsValidName(block.name)) {
            good = false;
            why = "not a handheld user name";
        }
        if (good && !ParseId(block.idText, e.user.id)) {
            good = false;
            why = "Id is not a number from 0 to 4294967295";
        }
        std::string folder = block.folder;
        if (!folder.empty() && platform::IsPathSeparator(folder.back())) folder.pop_back();
        if (good && !SafeFolderLocked(folder, why)) good = false;
        if (good) {
            e.user.name = block.name;
            e.user.folder = folder;
            pdb::Utf8ToPalmText(block.name, e.palmName);
            for (const Entry& other : m_entries) {
                if (other.user.id == e.user.id) why = "Id repeats an earlier entry's";
                if (other.palmName == e.palmName) why = "Name repeats an earlier entry's";
                if (other.user.folder == e.user.folder) why = "Folder repeats an earlier entry's";
            }
            good = why.empty();
            if (!good) {
                e.firstLine = block.first;
                e.endLine = block.end;
                m_repeats.push_back(e);
            }
        }
        if (good && m_entries.size() >= static_cast<size_t>(kMaxUsers)) {
            good = false;
            why = "too many users";
        }
        if (good) {
            e.firstLine = block.first;
            e.endLine = block.end;
            m_entries.push_back(std::move(e));
        } else {
            problem(block.first, why);
        }
        block = Block{};
    };

    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = WithoutLineEnd(lines[i]);
        const std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == '#') continue;
        if (trimmed.front() == '[') {
            finish();
            if (SameText(trimmed, "[User]")) {
                block.open = true;
                block.first = i;
                block.end = i + 1;
            } else {
                problem(i, "unknown section");
            }
            continue;
        }
        if (!block.open) {
            problem(i, "text outside a [User] entry");
            continue;
        }
        block.end = i + 1;
        const size_t eq = trimmed.find('=');
        if (eq == std::string_view::npos) {
            block.bad = true;
            block.why = "line without \"=\"";
            continue;
        }
        const std::string_view key = Trim(trimmed.substr(0, eq));
        const std::string value(Trim(trimmed.substr(eq + 1)));
        const auto take = [&](bool& has, std::string& into) {
            if (has) {
                block.bad = true;
                block.why = std::string(key) + " given twice";
            }
            has = true;
            into = value;
        };
        if (SameText(key, "Name")) {
            take(block.hasName, block.name);
        } else if (SameText(key, "Id")) {
            take(block.hasId, block.idText);
        } else if (SameText(key, "Folder")) {
            take(block.hasFolder, block.folder);
        }
        // Other keys are left for whoever wrote them.
    }
    finish();
    return true;
}

void CDesktopUserStore::ReloadIfChangedLocked() {
    if (!(StampLocked() == m_stamp)) ReadLocked();
}

const CDesktopUserStore::Entry* CDesktopUserStore::FindLocked(uint32_t id) const {
    for (const Entry& e : m_entries) {
        if (e.user.id == id) return &e;
    }
    return nullptr;
}

std::vector<DesktopUser> CDesktopUserStore::Users() {
    std::lock_guard<std::mutex> guard(m_lock);
    ReloadIfChangedLocked();
    std::vector<DesktopUser> users;
    for (const Entry& e : m_entries) users.push_back(e.user);
    return users;
}

std::vector<std::string> CDesktopUserStore::Problems() {
    std::lock_guard<std::mutex> guard(m_lock);
    ReloadIfChangedLocked();
    return m_problems;
}

uint32_t CDesktopUserStore::NewIdLocked() const {
    std::random_device device;
    std::uniform_int_distribution<uint32_t> pick(1, 0xFFFFFFFFu);
    for (;;) {
        const uint32_t id = pick(device);
        if (!FindLocked(id)) return id;
    }
}

std::string CDesktopUserStore::NewFolderLocked(const std::string& name) const {
    std::string base;
    for (char c : name) {
        if (base.size() >= kMadeFolderLength) break;
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_';
        base += plain ? c : '_';
    }
    if (base.find_first_not_of('_') == std::string::npos) base = "User";
    for (int n = 1;; ++n) {
        const std::string folder = n == 1 ? base : base + "_" + std::to_string(n);
        const bool used = std::any_of(m_entries.begin(), m_entries.end(),
                                      [&](const Entry& e) { return e.user.folder == folder; });
        if (used || folder == kUsersFileName) continue;
        // A folder left by a removed user of that name is taken over with its backups.
        const Node node = NodeAt(m_strRoot + folder);
        std::string why;
        if (node == Node::kMissing || (node == Node::kFolder && SafeFolderLocked(folder, why))) {
            return folder;
        }
    }
}

bool CDesktopUserStore::WriteFileLocked(const std::string& text) {
    // Replaced whole: a reader sees the old users or the new ones, never half a file.
    return atomic_file::Write(UsersFilePath(), text, nullptr, true) ==
           atomic_file::Result::kWritten;
}

CDesktopUserStore::AddResult CDesktopUserStore::AddUser(const std::string& name,
                                                        DesktopUser* added) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!IsValidName(name)) return AddResult::kBadName;
    if (!m_bRootUsable) return AddResult::kNotWritten;
    ReloadIfChangedLocked();
    // A users file that exists but cannot be read is not written over.
    if (m_stamp.exists && !m_bReadable) return AddResult::kNotWritten;
    std::string palm;
    pdb::Utf8ToPalmText(name, palm);
    for (const Entry& e : m_entries) {
        if (e.palmName == palm) return AddResult::kNameTaken;
    }
    if (m_entries.size() >= static_cast<size_t>(kMaxUsers)) return AddResult::kNotWritten;

    std::error_code ec;
    std::filesystem::create_directories(platform::ToFsPath(m_strRoot), ec);
    if (!std::filesystem::is_directory(platform::ToFsPath(m_strRoot), ec)) {
        return AddResult::kNotWritten;
    }
    DesktopUser user;
    user.name = name;
    user.id = NewIdLocked();
    user.folder = NewFolderLocked(name);
    std::string text = m_strText.empty() ? std::string(kUsersFileHeader) : m_strText;
    if (text.back() != '\n') text += '\n';
    text += "\n[User]\nName=" + name + "\nId=" + std::to_string(user.id) +
            "\nFolder=" + user.folder + "\n";
    // A file grown past what is read would lose every user at the next reading.
    if (text.size() > kMaxFileSize) return AddResult::kNotWritten;
    const std::string folderPath = m_strRoot + user.folder;
    if (!MakeFolder(folderPath) || !MakeFolder(folderPath + platform::PathSeparator() + "Backup")) {
        return AddResult::kNotWritten;
    }
    if (!WriteFileLocked(text)) return AddResult::kNotWritten;
    ReadLocked();
    if (!FindLocked(user.id)) return AddResult::kNotWritten;
    if (added) *added = user;
    return AddResult::kAdded;
}

bool CDesktopUserStore::RemoveUser(uint32_t id) {
    std::lock_guard<std::mutex> guard(m_lock);
    ReloadIfChangedLocked();
    const Entry* entry = FindLocked(id);
    if (!entry) return false;
    std::vector<std::string> lines = SplitLines(m_strText);
    std::vector<std::pair<size_t, size_t>> ranges{{entry->firstLine, entry->endLine}};
    for (const Entry& repeat : m_repeats) {
        if (repeat.user.id == entry->user.id || repeat.palmName == entry->palmName ||
            repeat.user.folder == entry->user.folder) {
            ranges.emplace_back(repeat.firstLine, repeat.endLine);
        }
    }
    // From the last lines to the first, so that earlier line numbers stay.
    std::sort(ranges.rbegin(), ranges.rend());
    for (const auto& [firstLine, endLine] : ranges) {
        size_t first = firstLine;
        const size_t end = std::min(endLine, lines.size());
        // The blank line that separated the entry from the one before goes with it.
        if (first > 0 && IsBlank(lines[first - 1])) --first;
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first),
                    lines.begin() + static_cast<std::ptrdiff_t>(end));
    }
    std::string text;
    for (const std::string& line : lines) text += line;
    if (!WriteFileLocked(text)) return false;
    ReadLocked();
    return true;
}

int CDesktopUserStore::UmGetUserCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    ReloadIfChangedLocked();
    return static_cast<int>(m_entries.size());
}

int CDesktopUserStore::UmGetUserID(int index, uint32_t& userId) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (index < 0 || static_cast<size_t>(index) >= m_entries.size()) return -1;
    userId = m_entries[static_cast<size_t>(index)].user.id;
    return 0;
}

int CDesktopUserStore::UmGetUserName(uint32_t userId, std::string& name) {
    std::lock_guard<std::mutex> guard(m_lock);
    const Entry* e = FindLocked(userId);
    if (!e) return -1;
    name = e->palmName.substr(0, kBufferSize - 1);
    return 0;
}

int CDesktopUserStore::UmGetRootDirectory(std::string& dir) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_bRootUsable) return -1;
    dir = m_strRoot;
    return 0;
}

int CDesktopUserStore::UmGetUserDirectory(uint32_t userId, std::string& dir) {
    std::lock_guard<std::mutex> guard(m_lock);
    const Entry* e = FindLocked(userId);
    if (!e) return -1;
    dir = e->user.folder + platform::PathSeparator();
    return 0;
}

std::unique_ptr<CDesktopUserStore> LoadDesktopUserStore(const ISettingsStore& settings) {
    auto store = std::make_unique<CDesktopUserStore>(CDesktopUserStore::RootFromSettings(settings));
    if (!store->Load()) return nullptr;
    return store;
}

CUserLibraryHandle::~CUserLibraryHandle() {
    if (m_bInstalled) g_pUserLibrary = m_pSaved;
}

bool CUserLibraryHandle::Load(const ISettingsStore& settings) {
    if (!m_bInstalled) {
        m_pSaved = g_pUserLibrary;
        m_bInstalled = true;
    }
    g_pUserLibrary = nullptr;
    m_pVendor.reset();
    m_pStore = std::make_unique<CDesktopUserStore>(CDesktopUserStore::RootFromSettings(settings));
    m_bPresent = false;
    return LoadAgain();
}

bool CUserLibraryHandle::Load(const ISettingsStore& settings,
                              std::unique_ptr<IUserLibrary> vendor) {
    if (!vendor) return Load(settings);
    if (!m_bInstalled) {
        m_pSaved = g_pUserLibrary;
        m_bInstalled = true;
    }
    g_pUserLibrary = nullptr;
    m_pStore.reset();
    m_pVendor = std::move(vendor);
    m_bPresent = true;
    g_pUserLibrary = m_pVendor.get();
    return true;
}

IUserLibrary* CUserLibraryHandle::Library() const {
    if (m_pVendor) return m_pVendor.get();
    return m_bPresent ? m_pStore.get() : nullptr;
}

bool CUserLibraryHandle::LoadAgain() {
    if (!m_pStore) return false;
    if (!m_bPresent && m_pStore->Load()) {
        m_bPresent = true;
        g_pUserLibrary = m_pStore.get();
    }
    return m_bPresent;
}
