// The rules of file names and paths, for both systems' styles: POSIX ("/" only, no drive)
// and Windows ("\" and "/", a drive part, device names every folder holds). The program uses
// the style of the system it runs on; tests check both on either.
#pragma once

#include <string>
#include <string_view>

namespace platform {

enum class PathStyle { kPosix, kWindows };

// The style of the system the program runs on.
PathStyle NativePathStyle();
// The separator the style writes ("/" or "\").
char PathSeparator(PathStyle style = NativePathStyle());
bool IsPathSeparator(char c, PathStyle style = NativePathStyle());
// The text with a separator at its end (none is added to an empty text).
std::string WithTrailingSeparator(std::string dir, PathStyle style = NativePathStyle());

// Whether a path is absolute: "/..." for POSIX; "C:\...", "C:/..." or a network path
// "\\server\share\..." for Windows.
bool IsAbsolutePath(std::string_view path, PathStyle style = NativePathStyle());

// The drive part of a path: "C:" for "C:\x", "\\server\share" for a network path; empty
// for a POSIX path and for a Windows path without one.
std::string DrivePart(std::string_view path, PathStyle style = NativePathStyle());
// The start of the last component (after the last separator and the drive part).
size_t FileNameStart(std::string_view path, PathStyle style = NativePathStyle());

// Whether a name (one component, or the last component of a path) is one of the device
// names Windows gives every folder: CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with the
// superscript digits), CONIN$, CONOUT$, with any extension and trailing blanks.
bool IsWindowsDeviceName(std::string_view name);
// Whether a path names a device rather than a file on Windows: a device name in any of its
// components, or the device namespace ("\\.\", "\\?\" other than a drive or UNC path).
bool IsWindowsDevicePath(std::string_view path);

// A file name that stays inside the folder it is put in: not empty, not "." or "..", without
// "/" or "\"; in the Windows style also without a drive (":"), without the characters
// Windows refuses (<>"|?* and control characters), not only dots and blanks, and not a
// device name.
bool IsSafeFileName(std::string_view name, PathStyle style = NativePathStyle());

// One component of a relative folder path that stays below where it starts: not empty, not
// "." or ".."; in the Windows style also a safe file name (see IsSafeFileName).
bool IsSafePathComponent(std::string_view part, PathStyle style = NativePathStyle());

}  // namespace platform
