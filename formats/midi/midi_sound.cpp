#include "formats/midi/midi_sound.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/files.h"

namespace midi {
namespace {

constexpr int kMaxRecordIndex = 0xFFFF;  // a database holds fewer records than this

struct CloseFile {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Closes the sound database on every path.
class COpenDb {
  public:
    COpenDb(ISoundDatabase& db, int handle) : m_db(db), m_nHandle(handle) {}
    ~COpenDb() { m_db.CloseDb(m_nHandle); }
    COpenDb(const COpenDb&) = delete;
    COpenDb& operator=(const COpenDb&) = delete;

  private:
    ISoundDatabase& m_db;
    int m_nHandle;
};

// "System MIDI Sounds", or "MIDI Sounds" when the first is not there. -1 when neither opens.
int OpenSoundDb(ISoundDatabase& db) {
    int handle = -1;
    const int rc = db.OpenDb(kSystemSoundDb, handle);
    if (rc >= 0 && handle >= 0) return handle;
    const bool noHandle = rc >= 0;
    if (rc != kDlpNotFound && !noHandle) return -1;
    handle = -1;
    if (db.OpenDb(kSoundDb, handle) >= 0 && handle >= 0) return handle;
    return -1;
}

}  // namespace

bool HasMidiHeader(const uint8_t* data, size_t size) {
    if (!data || size < kMinHeaderBytes) return false;
    return std::memcmp(data, kMidiMagic, 4) == 0 && data[kOffHeaderLengthLow] == kHeaderLengthLow;
}

int CheckMidiFile(const std::vector<uint8_t>& file) {
    if (!HasMidiHeader(file.data(), file.size())) return kErrNotMidi;
    if (file.size() >= kMaxFileSize) return kErrNotInstallable;
    if (file[kOffFormat] != 0 || file[kOffFormat + 1] != 0) return kErrNotInstallable;
    return kOk;
}

int ReadMidiFile(const std::string& path, std::vector<uint8_t>& file) {
    file.clear();
    if (path.empty()) return kErrOpen;
    std::unique_ptr<std::FILE, CloseFile> f(platform::OpenFile(path, "rb"));
    if (!f) return kErrOpen;
    file.resize(kReadSize);
    const size_t got = std::fread(file.data(), 1, file.size(), f.get());
    // A directory opens but cannot be read.
    if (got < file.size() && std::ferror(f.get())) {
        file.clear();
        return kErrOpen;
    }
    file.resize(got);
    return kOk;
}

std::string SoundNameFromPath(const std::string& path) {
    const size_t sep = path.find_last_of("/\\");
    std::string name = sep == std::string::npos ? path : path.substr(sep + 1);
    if (name.size() > kMaxSoundNameLength) name.resize(kMaxSoundNameLength);
    return name;
}

std::vector<uint8_t> BuildSoundRecord(const std::string& name, const std::vector<uint8_t>& file) {
    // A name with a NUL in it ends there, as the handheld reads it.
    size_t n = std::min(name.size(), kMaxSoundNameLength);
    n = strnlen(name.c_str(), n);
    std::vector<uint8_t> record(kRecordOverhead + n + file.size(), 0);
    std::memcpy(&record[kOffSignature], kRecordSignature, 4);
    record[kOffDataOffset] = uint8_t(kRecordOverhead + n);
    record[kOffReserved] = 0;
    std::memcpy(&record[kOffName], name.data(), n);
    // record[kOffName + n] stays 0: the name's NUL.
    if (!file.empty()) std::memcpy(&record[kRecordOverhead + n], file.data(), file.size());
    return record;
}

std::string SoundRecordName(const uint8_t* data, size_t size) {
    if (!data || size <= kOffName) return {};
    const char* name = reinterpret_cast<const char*>(data + kOffName);
    return std::string(name, strnlen(name, size - kOffName));
}

uint32_t FindSoundRecord(ISoundDatabase& db, int handle, const std::string& name) {
    std::vector<uint8_t> data;
    for (int index = 0; index < kMaxRecordIndex; ++index) {
        uint32_t uid = 0;
        if (db.ReadRecordByIndex(handle, index, data, uid) < 0) break;
        if (SoundRecordName(data.data(), data.size()) == name) return uid;
    }
    return 0;
}

int InstallMidiSound(ISoundDatabase& db, const std::string& path) {
    std::vector<uint8_t> file;
    int rc = ReadMidiFile(path, file);
    if (rc != kOk) return rc;
    rc = CheckMidiFile(file);
    if (rc != kOk) return rc;

    const std::vector<uint8_t> record = BuildSoundRecord(SoundNameFromPath(path), file);
    // A record the write would refuse is reported as too big rather than dropped unnoticed.
    if (record.size() > db.MaxRecordSize()) return kErrNotInstallable;

    const int handle = OpenSoundDb(db);
    if (handle < 0) return kOk;
    COpenDb open(db, handle);

    const std::string name = SoundRecordName(record.data(), record.size());
    const uint32_t uid = FindSoundRecord(db, handle, name);
    const int written = db.WriteRecord(handle, uid, kRecordAttributes, kRecordCategory, record);
    return written < 0 ? written : kOk;
}

}  // namespace midi
