// MIDI sound installation: the checks on a Standard MIDI File, the handheld's MIDI sound record
// that wraps it, the search for a sound of the same name, and the install sequence over an
// abstract view of the handheld's sound database, so that it runs against the real link or a
// test double alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace midi {

// ---- results ----------------------------------------------------------------------------

constexpr int kOk = 0;
constexpr int kErrOpen = -1;            // the file could not be opened or read
constexpr int kErrNotMidi = -18;        // no MIDI header
constexpr int kErrNotInstallable = 25;  // MIDI, but too big or not format 0

// ---- the MIDI file as checked -----------------------------------------------------------

inline constexpr char kMidiMagic[] = "MThd";
constexpr size_t kOffHeaderLengthLow = 7;  // low byte of the header length
constexpr uint8_t kHeaderLengthLow = 6;
constexpr size_t kOffFormat = 8;  // 16-bit big-endian
constexpr size_t kMinHeaderBytes = 10;
constexpr size_t kMaxFileSize = 65535;  // a file must be smaller than this
constexpr size_t kReadSize = 65542;     // bytes read from the file at most

// "MThd" at offset 0 and 6 at offset 7, within the first 10 bytes.
bool HasMidiHeader(const uint8_t* data, size_t size);

// The checks in order: kErrNotMidi without a MIDI header; kErrNotInstallable when the file is
// kMaxFileSize bytes or more or not of format 0; else kOk.
int CheckMidiFile(const std::vector<uint8_t>& file);

// Reads up to kReadSize bytes of the file. kOk, or kErrOpen when it cannot be opened or read.
int ReadMidiFile(const std::string& path, std::vector<uint8_t>& file);

// ---- the sound record -------------------------------------------------------------------

inline constexpr char kRecordSignature[] = "PMrc";
constexpr size_t kOffSignature = 0;
constexpr size_t kOffDataOffset = 4;  // 1 byte: name length + 7
constexpr size_t kOffReserved = 5;
constexpr size_t kOffName = 6;         // NUL-terminated
constexpr size_t kRecordOverhead = 7;  // signature, offset, reserved and the name's NUL
constexpr size_t kMaxPathNameLength = 255;
// The handheld keeps a sound's name in 32 bytes with its NUL; a longer name would not fit
// there (nor, past 248 characters, in the one-byte data offset).
constexpr size_t kMaxSoundNameLength = 31;

// The sound's name: the text after the last '/' or '\' of the path, extension included, cut
// to kMaxSoundNameLength characters.
std::string SoundNameFromPath(const std::string& path);

// The record: "PMrc", data offset, 0, the name with its NUL, the whole MIDI file. The name is
// cut to kMaxSoundNameLength characters.
std::vector<uint8_t> BuildSoundRecord(const std::string& name, const std::vector<uint8_t>& file);

// The name of a record: the NUL-terminated text from offset 6 (to the record's end when no NUL
// follows; empty for a record shorter than that).
std::string SoundRecordName(const uint8_t* data, size_t size);

// ---- the handheld's sound database ------------------------------------------------------

inline constexpr char kSystemSoundDb[] = "System MIDI Sounds";
inline constexpr char kSoundDb[] = "MIDI Sounds";
constexpr int kDlpNotFound = -5;             // the handheld's "not found", negated
constexpr uint8_t kRecordAttributes = 0x40;  // dirty
constexpr uint8_t kRecordCategory = 0;
// Largest record data one WriteRecord carries: its argument's length field is 16 bits.
constexpr size_t kMaxWriteRecordData = 65527;

// What the install needs of the handheld. Each call returns 0 (or any value not negative) on
// success and a negative error on failure: the handheld's error negated (-5 "not found"), or the
// link's own failure code. An error of WriteRecord is handed back by InstallMidiSound as it is.
class ISoundDatabase {
  public:
    virtual ~ISoundDatabase() = default;
    // Opens a database by name on card 0 for reading and writing; handle -1 when none is given.
    virtual int OpenDb(const std::string& name, int& handle) = 0;
    virtual int ReadRecordByIndex(int handle, int index, std::vector<uint8_t>& data,
                                  uint32_t& uid) = 0;
    // uid 0 makes the handheld assign a new one; an existing uid replaces that record.
    virtual int WriteRecord(int handle, uint32_t uid, uint8_t attributes, uint8_t category,
                            const std::vector<uint8_t>& data) = 0;
    virtual int CloseDb(int handle) = 0;
    // Largest record the handheld takes in one write; the protocol's limit by default, less
    // when the handheld has told a smaller one.
    virtual size_t MaxRecordSize() const { return kMaxWriteRecordData; }
};

// Looks through the open database by index from 0 until a read fails; the unique id of the
// first record named exactly (case counts) like name, or 0 when there is none.
uint32_t FindSoundRecord(ISoundDatabase& db, int handle, const std::string& name);

// The whole install of one MIDI file:
//   kErrOpen, kErrNotMidi, kErrNotInstallable as the checks give them; also kErrNotInstallable
//   when the record would be larger than db.MaxRecordSize(), before anything is opened;
//   kOk when neither "System MIDI Sounds" nor "MIDI Sounds" opens (neither is ever created);
//   the write's error when the handheld refuses the record; else kOk, the record written with
//   attributes 0x40 and category 0, replacing the record of the same name.
int InstallMidiSound(ISoundDatabase& db, const std::string& path);

}  // namespace midi
