// The desktop user store: the handheld users whose installed files get backup copies.
// Linux has no vendor desktop software that keeps such users, so we keep our own, and the
// user library's five operations read it.
//
// The root folder (setting "main"/"UsersRoot", default $XDG_DATA_HOME/Cradlecourier/Users/)
// holds the users file "users.txt" and one folder per user, which holds "Backup/" and the
// installation log. The users file is UTF-8 text a person can read and edit:
//
//   # comments start with "#"
//   [User]
//   Name=Jane Doe        the handheld's user name, exactly (letter case counts)
//   Id=2718281828        0 ... 4294967295, different for every user
//   Folder=Jane_Doe      the user's folder inside the root
//
// Blanks around keys and values are dropped. An entry is skipped when a key is missing or
// repeated, its name is not a handheld user name (empty, over 127 characters in the
// handheld's character set, control characters, characters the handheld lacks), its id
// is not such a number, its folder is unsafe (absolute, "." or "..", a component that is
// a symbolic link or not a folder, a "Backup" or log that is a symbolic link), or its
// name, id or folder repeats an earlier entry's. So nothing here leads outside the root.
// A changed users file is read again when the user count is asked for.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/user_library.h"

class ISettingsStore;

struct DesktopUser {
    std::string name;  // UTF-8, as the users file has it
    uint32_t id = 0;
    std::string folder;  // relative to the root, no trailing "/"
};

class CDesktopUserStore final : public IUserLibrary {
  public:
    static constexpr const char* kUsersFileName = "users.txt";
    static constexpr const char* kRootEntry = "UsersRoot";  // in section "main"
    // The user name of the last handheld served, offered for a new user ("main").
    static constexpr const char* kLastUserEntry = "LastHandheldUser";
    // The handheld keeps user names of up to 127 characters.
    static constexpr size_t kMaxNameLength = 127;
    // A larger users file is not read: nobody has that many users.
    static constexpr size_t kMaxFileSize = 1 << 20;
    static constexpr int kMaxUsers = 0x7FFF;

    // A store under root ("/" is added when missing). Nothing is read yet.
    explicit CDesktopUserStore(std::string root);

    // The root the settings name: "main"/"UsersRoot" (a leading "~/" is the home folder),
    // else the default. "/"-terminated.
    static std::string RootFromSettings(const ISettingsStore& settings);
    static std::string DefaultRoot();

    // Reads the users file. False when it is missing or cannot be read, or the root is
    // unusable (relative, or too long for the library's texts): the library is then
    // missing.
    bool Load();

    const std::string& Root() const { return m_strRoot; }
    std::string UsersFilePath() const { return m_strRoot + kUsersFileName; }
    // The entries in file order, and why other entries were skipped ("line N: ...").
    std::vector<DesktopUser> Users();
    std::vector<std::string> Problems();

    enum class AddResult { kAdded, kBadName, kNameTaken, kNotWritten };
    // Adds an entry with a fresh id and its folder with "Backup" inside (an existing
    // folder of that name is taken over), creating the root and the users file when
    // needed. Entries and comments already in the file stay as they are.
    AddResult AddUser(const std::string& name, DesktopUser* added = nullptr);
    // Removes the user's entry from the users file, with the skipped entries that repeat
    // its name, id or folder; the folder and its backups stay.
    bool RemoveUser(uint32_t id);

    // Whether a name (UTF-8) can be a handheld user name.
    static bool IsValidName(const std::string& name);

    // The user library.
    int UmGetUserCount() override;
    int UmGetUserID(int index, uint32_t& userId) override;
    int UmGetUserName(uint32_t userId, std::string& name) override;
    int UmGetRootDirectory(std::string& dir) override;
    int UmGetUserDirectory(uint32_t userId, std::string& dir) override;

  private:
    struct Entry {
        DesktopUser user;
        std::string palmName;  // the name in the handheld's character set
        size_t firstLine = 0;  // the entry's lines in the file, [firstLine, endLine)
        size_t endLine = 0;
    };
    struct FileStamp {
        bool exists = false;
        uint64_t volume = 0;
        uint64_t fileId = 0;
        uint64_t size = 0;
        int64_t modifiedNs = 0;
        bool operator==(const FileStamp& o) const;
    };

    bool ReadLocked();
    void ReloadIfChangedLocked();
    FileStamp StampLocked() const;
    const Entry* FindLocked(uint32_t id) const;
    bool SafeFolderLocked(const std::string& folder, std::string& why) const;
    std::string NewFolderLocked(const std::string& name) const;
    uint32_t NewIdLocked() const;
    bool WriteFileLocked(const std::string& text);

    std::mutex m_lock;
    std::string m_strRoot;
    bool m_bRootUsable = false;
    std::vector<Entry> m_entries;
    // Entries skipped only for repeating an earlier entry's name, id or folder: removing
    // that entry would bring them to life in its place or in another's.
    std::vector<Entry> m_repeats;
    std::vector<std::string> m_problems;
    bool m_bReadable = false;  // the users file was read
    std::string m_strText;     // the file as read, kept so that edits keep what they do not touch
    FileStamp m_stamp;
};

// The store for the window and the console: loaded from the root the settings name, or
// null when it is missing or unreadable.
std::unique_ptr<CDesktopUserStore> LoadDesktopUserStore(const ISettingsStore& settings);

// The user library as a window or a run holds it: the store at the root the settings name,
// installed as g_pUserLibrary while it is present, and g_pUserLibrary as it was again when
// the handle goes. The store lives as long as the handle, so a worker never sees it go.
class CUserLibraryHandle {
  public:
    CUserLibraryHandle() = default;
    ~CUserLibraryHandle();
    CUserLibraryHandle(const CUserLibraryHandle&) = delete;
    CUserLibraryHandle& operator=(const CUserLibraryHandle&) = delete;

    // Opens the store, once; without one, g_pUserLibrary is null (no lookups). True when
    // the store is present.
    bool Load(const ISettingsStore& settings);
    // The vendor's desktop users when there are (OpenVendorUserLibrary), which then serve
    // in place of the store; else as Load above.
    bool Load(const ISettingsStore& settings, std::unique_ptr<IUserLibrary> vendor);
    // A store that was missing may have been made since (a first user added); true when
    // it is present now.
    bool LoadAgain();
    bool Present() const { return m_bPresent; }
    // The store, present or not (null before Load, and while the vendor's users serve).
    CDesktopUserStore* Store() const { return m_pStore.get(); }
    // The users that serve: the vendor's, else the store when present; null otherwise.
    IUserLibrary* Library() const;

  private:
    std::unique_ptr<IUserLibrary> m_pVendor;
    std::unique_ptr<CDesktopUserStore> m_pStore;
    bool m_bPresent = false;
    bool m_bInstalled = false;
    IUserLibrary* m_pSaved = nullptr;
};
