// Files on Windows: UTF-8 names become wide-character names at each call, and the device
// names every folder holds are refused before anything is opened.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "platform/files.h"
#include "platform/path_rules.h"
#include "platform/wide_text.h"

namespace platform {
namespace {

constexpr size_t kCopyBufferSize = 256 * 1024;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// FILETIME counts 100 ns from 1601.
constexpr int64_t kFileTimeTo1970 = 116444736000000000LL;

int ErrnoOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_DIRECTORY:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
            return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        default:
            return EIO;
    }
}

void FailWith(DWORD code) {
    errno = ErrnoOf(code);
}

// A device must never be opened by a file's name: opening one may already act on it.
bool IsDevice(const std::string& path) {
    if (!IsWindowsDevicePath(path)) return false;
    errno = EINVAL;
    return true;
}

HANDLE OpenHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                  DWORD flags) {
    if (path.empty()) {
        errno = ENOENT;
        return INVALID_HANDLE_VALUE;
    }
    if (IsDevice(path)) return INVALID_HANDLE_VALUE;
    const HANDLE h =
        ::CreateFileW(Widen(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) FailWith(::GetLastError());
    return h;
}

bool IsLinkTag(DWORD tag) {
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

// Whether an entry opened with FILE_FLAG_OPEN_REPARSE_POINT is a link.
bool HandleIsLink(HANDLE h) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return ::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(tag.ReparseTag);
}

EntryInfo InfoOf(HANDLE h, bool noFollow) {
    EntryInfo info;
    BY_HANDLE_FILE_INFORMATION data{};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &data)) {
        info.kind = EntryKind::kOther;
        return info;
    }
    if (noFollow && HandleIsLink(h)) {
        info.kind = EntryKind::kLink;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        info.kind = EntryKind::kDirectory;
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
        info.kind = EntryKind::kOther;
    } else {
        info.kind = EntryKind::kFile;
    }
    info.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.volume = data.dwVolumeSerialNumber;
    info.fileId = (uint64_t(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
    const int64_t written = int64_t((uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                    data.ftLastWriteTime.dwLowDateTime);
    info.modifiedNs = (written - kFileTimeTo1970) * 100;
    info.ownerWritable = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
    return info;
}

EntryInfo StatWith(const std::string& path, bool noFollow) {
    if (path.empty()) {
        errno = ENOENT;
        return {};
    }
    if (IsWindowsDevicePath(path)) {
        EntryInfo info;
        info.kind = EntryKind::kOther;
        return info;
    }
    // Asking for the attributes only: no sharing rule stands in the way.
    const HANDLE h = ::CreateFileW(
        Widen(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        // A file someone holds in a way that refuses even this: its attributes tell enough.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND &&
            ::GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) {
            EntryInfo info;
            info.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kDirectory
                                                                           : EntryKind::kFile;
            info.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            return info;
        }
        FailWith(code);
        return {};
    }
    const EntryInfo info = InfoOf(h, noFollow);
    ::CloseHandle(h);
    return info;
}

std::FILE* StreamOf(HANDLE h, int flags, const char* mode) {
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    if (!(flags & _O_TEXT)) flags |= _O_BINARY;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
    if (fd < 0) {
        ::CloseHandle(h);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* f = ::_fdopen(fd, mode);
    if (!f) {
        const int err = errno;
        ::_close(fd);
        errno = err;
    }
    return f;
}

HANDLE HandleOf(std::FILE* f) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f)));
}

// Opens for writing without following a link: the entry itself is opened, and refused when
// it is one.
HANDLE OpenEntryForWriting(const std::string& path, DWORD access, DWORD disposition) {
    const HANDLE h = OpenHandle(path, access, FILE_SHARE_READ, disposition,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (h == INVALID_HANDLE_VALUE) return h;
    if (HandleIsLink(h) || ::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        errno = ELOOP;
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

std::atomic<unsigned> g_nUnique{0};

// Six characters that differ between calls and between processes.
std::string UniqueSuffix() {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    uint64_t value = (uint64_t(::GetCurrentProcessId()) << 32) ^ ::GetTickCount64() ^
                     (uint64_t(g_nUnique.fetch_add(1)) * 2654435761u);
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        suffix += kDigits[value % 36];
        value /= 36;
    }
    return suffix;
}

}  // namespace

EntryInfo Stat(const std::string& path) {
    return StatWith(path, false);
}

EntryInfo StatEntry(const std::string& path) {
    return StatWith(path, true);
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    // Opened as POSIX systems open: others may delete or rename the file meanwhile.
    const std::string m = mode ? mode : "";
    const bool plus = m.find('+') != std::string::npos;
    DWORD access = 0, disposition = 0;
    int flags = 0;
    switch (m.empty() ? 'r' : m[0]) {
        case 'r':
            access = GENERIC_READ | (plus ? GENERIC_WRITE : 0);
            disposition = OPEN_EXISTING;
            flags = plus ? _O_RDWR : _O_RDONLY;
            break;
        case 'w':
            access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
            disposition = CREATE_ALWAYS;
            flags = plus ? _O_RDWR : _O_WRONLY;
            break;
        case 'a':
            access = FILE_APPEND_DATA | SYNCHRONIZE | (plus ? GENERIC_READ : 0);
            disposition = OPEN_ALWAYS;
            flags = _O_APPEND | (plus ? _O_RDWR : _O_WRONLY);
            break;
        default:
            errno = EINVAL;
            return nullptr;
    }
    const HANDLE h = OpenHandle(path, access, kShareAll, disposition, FILE_ATTRIBUTE_NORMAL);
    // Text mode unless "b" says otherwise, as the C library's fopen reads its modes.
    if (m.find('b') == std::string::npos) flags |= _O_TEXT;
    return StreamOf(h, flags, mode);
}

std::FILE* OpenPlainFile(const std::string& path, bool noFollow) {
    const HANDLE h =
        OpenHandle(path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                   FILE_ATTRIBUTE_NORMAL | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0));
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    if (InfoOf(h, noFollow).kind != EntryKind::kFile) {
        ::CloseHandle(h);
        errno = EINVAL;
        return nullptr;
    }
    return StreamOf(h, _O_RDONLY, "rb");
}

std::FILE* CreateNewFile(const std::string& path) {
    // CREATE_NEW fails on any entry of that name, a link included.
    const HANDLE h = OpenHandle(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    return StreamOf(h, _O_WRONLY, "wb");
}

std::FILE* CreateOrTruncate(const std::string& path) {
    const HANDLE h = OpenEntryForWriting(path, GENERIC_WRITE, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    if (!::SetEndOfFile(h)) {
        FailWith(::GetLastError());
        ::CloseHandle(h);
        return nullptr;
    }
    return StreamOf(h, _O_WRONLY, "wb");
}

std::FILE* OpenForAppend(const std::string& path) {
    // Append access only: every write lands at the end, also with other writers.
    const HANDLE h = OpenEntryForWriting(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
    return StreamOf(h, _O_WRONLY | _O_APPEND, "ab");
}

std::string CreateUniqueFile(const std::string& prefix) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = prefix + UniqueSuffix();
        const HANDLE h = OpenHandle(path, GENERIC_WRITE, 0, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
        if (h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
            return path;
        }
        if (errno != EEXIST) break;
    }
    return {};
}

std::FILE* OpenTempSpool() {
    // The C library's tmpfile() writes to the root of the drive, which a user may not.
    wchar_t dir[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, dir);
    if (n == 0 || n > MAX_PATH) {
        errno = ENOENT;
        return nullptr;
    }
    const std::string prefix = Narrow(dir) + "cc-spool-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const HANDLE h =
            OpenHandle(prefix + UniqueSuffix(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
        if (h != INVALID_HANDLE_VALUE) return StreamOf(h, _O_RDWR, "w+b");
        if (errno != EEXIST) break;
    }
    return nullptr;
}

std::FILE* OpenMemory(const void* data, size_t size) {
    std::FILE* f = OpenTempSpool();
    if (!f) return nullptr;
    if ((size > 0 && std::fwrite(data, 1, size, f) != size) || std::fflush(f) != 0 ||
        !SeekTo(f, 0)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}

bool SeekTo(std::FILE* f, uint64_t offset) {
    return ::_fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
}

int64_t TellPosition(std::FILE* f) {
    return ::_ftelli64(f);
}

int64_t FileSize(std::FILE* f) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(HandleOf(f), &size)) return -1;
    return size.QuadPart;
}

bool WriteAt(std::FILE* f, const void* data, size_t size, uint64_t offset) {
    const HANDLE h = HandleOf(f);
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        OVERLAPPED at{};
        const uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD written = 0;
        if (!::WriteFile(h, bytes + done, chunk, &written, &at) || written == 0) return false;
        done += written;
    }
    return true;
}

bool CopyBytes(std::FILE* fromFile, uint64_t size, std::FILE* toFile) {
    if (std::fflush(toFile) != 0) return false;
    const HANDLE from = HandleOf(fromFile);
    const HANDLE to = HandleOf(toFile);
    std::vector<uint8_t> buf(kCopyBufferSize);
    uint64_t offset = 0;
    while (offset < size) {
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(buf.size(), size - offset));
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!::ReadFile(from, buf.data(), want, &got, &at) || got == 0) return false;
        for (DWORD done = 0; done < got;) {
            DWORD put = 0;
            if (!::WriteFile(to, buf.data() + done, got - done, &put, nullptr) || put == 0) {
                return false;
            }
            done += put;
        }
        offset += got;
    }
    return true;
}

bool SyncFile(std::FILE* f) {
    return std::fflush(f) == 0 && ::FlushFileBuffers(HandleOf(f));
}

bool RemoveFile(const std::string& path) {
    if (path.empty() || IsDevice(path)) return false;
    if (::DeleteFileW(Widen(path).c_str())) return true;
    FailWith(::GetLastError());
    return false;
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (IsDevice(from) || IsDevice(to)) return false;
    if (::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return true;
    }
    FailWith(::GetLastError());
    return false;
}

bool MakeDirectory(const std::string& path, unsigned) {
    if (path.empty() || IsDevice(path)) return false;
    if (::CreateDirectoryW(Widen(path).c_str(), nullptr)) return true;
    FailWith(::GetLastError());
    return false;
}

}  // namespace platform
