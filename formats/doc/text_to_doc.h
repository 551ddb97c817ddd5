// Text to DOC e-book conversion: a plain text file becomes an uncompressed DOC database
// (type "TEXt", creator "REAd") written beside it.
//
// The text is streamed through one 4,096-byte read buffer and one 4,096-byte record buffer, and
// the database writer spools record data to a temporary file, so memory stays flat whatever
// the size of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace doc {

inline constexpr size_t kOutPathSize = 512;      // output path buffer, NUL included
inline constexpr size_t kRecordSize = 4096;      // bytes of text per record
inline constexpr size_t kLineBufferSize = 4096;  // bytes read from the text at a time
inline constexpr int kLastCounter = 198;         // name counters run 000 .. 198

inline constexpr char kTypeText[] = "TEXt";
inline constexpr char kCreatorReader[] = "REAd";

// Record 0, integers big-endian.
inline constexpr size_t kHeaderRecordSize = 16;
inline constexpr size_t kOffVersion = 0;
inline constexpr size_t kOffReserved = 2;
inline constexpr size_t kOffTextLength = 4;
inline constexpr size_t kOffRecordCount = 8;
inline constexpr size_t kOffRecordSize = 10;
inline constexpr size_t kOffPosition = 12;
inline constexpr uint16_t kVersionUncompressed = 1;

}  // namespace doc

// Converts the text file at pszTextPath into a DOC database beside it. pszOutPath points to a
// buffer of doc::kOutPathSize bytes and receives the database's path on success; on failure
// it is left as it was, and nothing is left behind: a database file that was begun is deleted.
//
// Output name: the text's path with the extension of its last component replaced by "PDB"
// (appended when that component has no dot), or, when a file of that name exists, by the
// first free counter "000" .. "198". No free name, or a path that would not fit the buffer:
// failure. The database's name is the output file's name without its extension, at most 31
// characters. Only a regular file is read.
//
// Every CR byte is left out (so CR LF line ends become LF). A NUL byte ends the rest of its line,
// including the line's LF. A Ctrl-Z (0x1A) is an ordinary byte here and does not end the text.
// A text record that the writer refuses is left out of the text length and record count.
bool ConvertTextFile(const char* pszTextPath, char* pszOutPath);
bool ConvertTextFile(const std::string& strTextPath, std::string& strOutPath);
